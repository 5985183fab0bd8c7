// The vlx command tree (CLI11): each family adds its commands, then the parsed one runs.
#include "vlx/core/cli.h"

#include "vlx/core/commands.h"
#include "vlx/core/errors.h"
#include "vlx/core/flags.h"
#include "vlx/core/generate.h"
#include "vlx/core/help.h"
#include "vlx/core/output.h"
#include "vlx/formats/escape.h"
#include "vlx/hive/hive_copy_commands.h"
#include "vlx/library/library_commands.h"
#include "vlx/pref/pref_commands.h"
#include "vlx/reg/reg_commands.h"
#include "vlx/sheet/sheet_commands.h"
#include "vlx/store/reg_store.h"

#include <CLI/CLI.hpp>

#include <string>
#include <vector>

namespace vlx::cli {
namespace {

// Help wrapped to the terminal's width, for every command (subcommands copy the formatter).
class WrappingFormatter : public CLI::Formatter {
public:
  std::string make_help(const CLI::App *app, std::string name,
                        CLI::AppFormatMode mode) const override {
    return wrapText(CLI::Formatter::make_help(app, std::move(name), mode), terminalWidth());
  }
};

std::vector<std::string> commandNames(const CLI::App &app) {
  std::vector<std::string> names;
  for (const CLI::App *sub : app.get_subcommands([](const CLI::App *) { return true; }))
    names.push_back(sub->get_name());
  return names;
}

// "unknown command 'X' for 'vlx reg'; did you mean 'Y'?"
std::string unknownCommand(const CLI::App &parent, const std::string &path,
                           const std::string &word) {
  std::string text = "unknown command '" + word + "' for '" + path + "'";
  const std::string near = nearestWord(word, commandNames(parent));
  return near.empty() ? text : text + "; did you mean '" + near + "'?";
}

// The deepest command the arguments named, and its path ("vlx reg export").
CLI::App *parsedCommand(CLI::App &app, std::string &path) {
  CLI::App *current = &app;
  path = "vlx";
  for (auto parsed = current->get_subcommands(); !parsed.empty();
       parsed = current->get_subcommands()) {
    current = parsed.front();
    path += " " + current->get_name();
  }
  return current;
}

// Whether `arg` ("-o", "--output=x") names an option of the command or a command above it.
bool knownOption(const CLI::App *command, std::string arg) {
  arg = arg.substr(0, arg.find('='));
  for (; command; command = command->get_parent())
    for (const CLI::Option *opt : command->get_options())
      if (opt->check_name(arg))
        return true;
  return false;
}

// Whether the command still lacks a positional argument, which a value taken for an option left.
bool positionalMissing(const CLI::App *command) {
  for (const CLI::Option *opt : command->get_options())
    if (opt->get_positional() && opt->count() == 0)
      return true;
  return false;
}

// CLI11 reports an unknown command word as a missing subcommand; name the word instead. A
// value that starts with a single '-' where a positional is missing gets the whole command that
// passes it; a mistyped "--option" does not.
std::string usageError(CLI::App &app, const CLI::ParseError &e, int argc, const char *const *argv) {
  std::string path;
  CLI::App *current = parsedCommand(app, path);
  auto rest = current->remaining();
  if (current->get_require_subcommand_min() > 0 && !rest.empty())
    return unknownCommand(*current, path, rest.front());
  std::string text = oneLine(e.what());
  // CLI11 lists the arguments it did not expect last first; name them in the order typed.
  if (dynamic_cast<const CLI::ExtrasError *>(&e) != nullptr) {
    auto extras = app.remaining(true);
    if (!extras.empty()) {
      text = extras.size() == 1 ? "unexpected argument:" : "unexpected arguments:";
      for (const std::string &word : extras)
        text += " " + shellWord(word);
    }
  }
  if (!positionalMissing(current))
    return text;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--")
      break;
    // CLI11 takes a negative number as a value itself.
    const bool number = arg.find_first_not_of("-0123456789.eE+") == std::string::npos;
    if (arg.size() < 2 || arg[0] != '-' || arg[1] == '-' || number || knownOption(current, arg))
      continue;
    std::string command = "vlx";
    for (int j = 1; j < argc; ++j)
      command += std::string(j == i ? " --" : "") + " " + shellWord(argv[j]);
    return text + " (a value that starts with '-' goes after '--': " + command + ")";
  }
  return text;
}

// The command `parent` has by the name `word`, or null.
CLI::App *subcommandNamed(CLI::App *parent, const std::string &word) {
  for (CLI::App *candidate : parent->get_subcommands([](const CLI::App *) { return true; }))
    if (candidate->get_name() == word)
      return candidate;
  return nullptr;
}

// reg.exe takes "-ve" (any letter case) as one switch, where CLI11 would read "-v e" and name
// the value "e": for a command that has --ve, it becomes that. Words after "--" stay as they are.
std::vector<const char *> regExeSpellings(CLI::App &app, int argc, const char *const *argv) {
  std::vector<const char *> words(argv, argv + argc);
  CLI::App *command = &app;
  int i = 1;
  for (; i < argc; ++i) {
    CLI::App *sub = subcommandNamed(command, argv[i]);
    if (!sub)
      break;
    command = sub;
  }
  if (command->get_option_no_throw("--ve") != nullptr)
    for (; i < argc && std::string(argv[i]) != "--"; ++i)
      if (CLI::detail::to_lower(argv[i]) == "-ve")
        words[size_t(i)] = "--ve";
  words.push_back(nullptr);
  return words;
}

// Once for each hive the command found damaged or unreadable, before any failure line.
void noticeUnusableHives(std::ostream &err) {
  for (const HiveCheck &hive : unusableHives())
    err << "vlx: warning: the " << hiveName(hive.hive) << " hive " << printable(hive.path)
        << " is damaged (" << printable(oneLine(hive.what))
        << "); it reads as empty and refuses writes\n";
}

int runCommand(int argc, const char *const *argv, std::ostream &out, std::ostream &err) {
  registerToolStrings();
  CLI::App app{"Inspect and set Velmora preferences and the registry store, and run the library's "
               "path, listing, scratch-directory and backup calls.",
               "vlx"};
  app.formatter(std::make_shared<WrappingFormatter>());
  app.require_subcommand(1);
  app.set_version_flag("--version", versionText,
                       "Print the versions of vlx and its library, SQLite, ICU and, where the "
                       "spreadsheet server is built, LibreOffice");
  bool json = false;
  app.footer("Every failure prints one line on standard error and exits non-zero "
             "(1: failed or not set, 2: bad usage).\n");

  // The command families, in the order --help lists them.
  std::vector<RunParsed> families;
  families.push_back(addPrefCommands(app, json));
  CLI::App *reg = addCommandGroup(app, "reg", "The registry store as .reg text");
  families.push_back(addRegCommands(*reg, json));
  families.push_back(addHiveCopyCommands(*reg));
  families.push_back(addKeyCopyCommands(*reg));
  families.push_back(addDemoCommand(app));
  families.push_back(addDateCodeCommands(app));
  families.push_back(addFileCommands(app));
  families.push_back(addAddinCommands(app, json));
  families.push_back(addVariantCommands(app));
  families.push_back(addSheetCommands(app, json));

  auto *helpCmd = app.add_subcommand("help", "Print the help of COMMAND (e.g. vlx help reg "
                                             "import), or of vlx itself.");
  std::vector<std::string> helpWords;
  helpCmd->add_option("COMMAND", helpWords, "The command's words");

  if (std::optional<int> status = runGenerator(app, argc, argv, out))
    return *status;
  const std::vector<const char *> words = regExeSpellings(app, argc, argv);
  try {
    app.parse(argc, words.data());
  } catch (const CLI::ParseError &e) {
    if (e.get_exit_code() == 0)
      return app.exit(e, out, err); // --help, --version
    err << "vlx: " << printable(usageError(app, e, argc, words.data())) << " (see --help)"
        << std::endl;
    return 2;
  }
  if (*helpCmd) {
    CLI::App *shown = &app;
    std::string path = "vlx";
    for (const auto &word : helpWords) {
      CLI::App *sub = subcommandNamed(shown, word);
      if (!sub) {
        err << "vlx: " << printable(unknownCommand(*shown, path, word)) << " (see --help)"
            << std::endl;
        return 2;
      }
      shown = sub;
      path += " " + word;
    }
    // What `--help` prints; `help()` itself would show the parsed `help` command.
    out << shown->get_formatter()->make_help(shown, path, CLI::AppFormatMode::Normal);
    return 0;
  }

  try {
    for (const RunParsed &run : families)
      run(out, err);
  } catch (const Failure &f) {
    out << std::flush;
    noticeUnusableHives(err);
    err << "vlx: " << f.what() << std::endl;
    return f.exitStatus;
  } catch (const std::exception &e) {
    out << std::flush;
    noticeUnusableHives(err);
    err << "vlx: " << printable(oneLine(e.what())) << std::endl;
    return 1;
  }
  out << std::flush;
  noticeUnusableHives(err);
  return 0;
}

} // namespace

int run(int argc, const char *const *argv, std::ostream &out, std::ostream &err) {
  int status = runCommand(argc, argv, out, err);
  // Output that never reached its file is no success: a backup to a full disk must not look done.
  const std::string why = finishOutput(out);
  if (why.empty() || status != 0) // a failure already has its one line
    return status;
  err << "vlx: cannot write standard output: " << why << std::endl;
  return 1;
}

} // namespace vlx::cli
