// What the declarations of the vlx commands share.
#include "vlx/core/flags.h"

namespace vlx::cli {

std::optional<std::string> ifGiven(const CLI::Option *option, const std::string &value) {
  return option->count() > 0 ? std::optional<std::string>(value) : std::nullopt;
}

CLI::Option *addJsonFlag(CLI::App *cmd, bool &json) {
  return cmd->add_flag("--json", json, "Print one JSON document instead (for scripts)");
}

CLI::Option *addChangesJsonFlag(CLI::App *cmd, bool &json) {
  return cmd->add_flag("--json", json,
                       "Print the changes made (or with --dry-run those that would be) as one "
                       "JSON document instead: {\"changed\": true|false, \"changes\": [...]}, "
                       "each change as pref watch --json prints it");
}

CLI::Option *addDryRunFlag(CLI::App *cmd, bool &dryRun) {
  return cmd->add_flag(
      "--dry-run,-n", dryRun,
      "List what would be added, changed and removed, one value a line, and change nothing");
}

CLI::Option *addRecursiveFlag(CLI::App *cmd, bool &recursive, const std::string &keys) {
  return cmd->add_flag("--recursive,-r,-s", recursive,
                       "Every key below " + keys + " too (-s as reg.exe's /s)");
}

Hive HiveFlags::hive() const {
  return machine ? Hive::Machine : defaultUser ? Hive::DefaultUser : Hive::User;
}

CLI::Option *addMachineFlag(CLI::App *cmd, bool &machine) {
  return cmd->add_flag("--machine,-m", machine, "The machine's hive instead of the user's");
}

CLI::App *addCommandGroup(CLI::App &parent, const std::string &name, const std::string &help) {
  CLI::App *group = parent.add_subcommand(name, help);
  group->require_subcommand(1);
  return group;
}

void addHiveFlags(CLI::App *cmd, HiveFlags &flags) {
  auto *machine = addMachineFlag(cmd, flags.machine);
  cmd->add_flag("--default-user", flags.defaultUser,
                "The default user's hive (HKEY_USERS\\.DEFAULT) instead of the user's")
      ->excludes(machine);
}

} // namespace vlx::cli
