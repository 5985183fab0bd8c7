// What the declarations of the vlx commands share: the flags several take, each declared in one
// place with its one help text, and what a family of commands hands back to the tree.
#pragma once

#include <velmora/hive.h>

#include <CLI/CLI.hpp>

#include <functional>
#include <optional>
#include <ostream>
#include <string>

namespace vlx::cli {

// What each family's add...Commands returns: runs the family's command that was parsed, if one
// was, and does nothing otherwise. Commands throw Failure.
using RunParsed = std::function<void(std::ostream &out, std::ostream &err)>;

// A command that only groups others ("vlx reg"): one of them must be named.
CLI::App *addCommandGroup(CLI::App &parent, const std::string &name, const std::string &help);

// `value` when `option` was given on the command line, else none.
std::optional<std::string> ifGiven(const CLI::Option *option, const std::string &value);

// --json: one JSON document instead of text.
CLI::Option *addJsonFlag(CLI::App *cmd, bool &json);
// --json of a command that changes the store: the changes, as one document.
CLI::Option *addChangesJsonFlag(CLI::App *cmd, bool &json);
// --dry-run,-n: list the changes, make none.
CLI::Option *addDryRunFlag(CLI::App *cmd, bool &dryRun);
// --recursive,-r (and reg.exe's -s): every key below `keys` (the command's key words, "KEY") too.
CLI::Option *addRecursiveFlag(CLI::App *cmd, bool &recursive, const std::string &keys);

// --machine,-m and --default-user: the hive a command works on instead of the user's.
struct HiveFlags {
  bool machine = false;
  bool defaultUser = false;
  Hive hive() const;
};
CLI::Option *addMachineFlag(CLI::App *cmd, bool &machine);
void addHiveFlags(CLI::App *cmd, HiveFlags &flags);

} // namespace vlx::cli
