// Command-line parsing of vlx (CLI11) and the dispatch to its commands.
#include "cli.h"

#include "addins_commands.h"
#include "commands.h"
#include "errors.h"
#include "escape.h"
#include "generate.h"
#include "output.h"
#include "reg_store.h"

#include <CLI/CLI.hpp>

#include <string>

namespace vlx::cli {
namespace {

// CLI11 reports an unknown command word as a missing subcommand; name the word instead.
std::string usageError(CLI::App &app, const CLI::ParseError &e) {
  CLI::App *current = &app;
  std::string path = "vlx";
  for (auto parsed = current->get_subcommands(); !parsed.empty();
       parsed = current->get_subcommands()) {
    current = parsed.front();
    path += " " + current->get_name();
  }
  auto rest = current->remaining();
  if (current->get_require_subcommand_min() > 0 && !rest.empty())
    return "unknown command '" + rest.front() + "' for '" + path + "'";
  return oneLine(e.what());
}

// Once for each hive the command found damaged or unreadable, before any failure line.
void noticeUnusableHives(std::ostream &err) {
  for (const HiveCheck &hive : unusableHives())
    err << "vlx: warning: the " << hiveName(hive.hive) << " hive " << printable(hive.path)
        << " is damaged (" << printable(oneLine(hive.what))
        << "); it reads as empty and refuses writes\n";
}

const char *const kTypeHelp = "Value type: int, double or string";

int runCommand(int argc, const char *const *argv, std::ostream &out, std::ostream &err) {
  registerToolStrings();
  CLI::App app{"Inspect and set Velmora preferences and the registry store, and run the library's "
               "path, listing, scratch-directory and backup calls.",
               "vlx"};
  app.require_subcommand(1);
  app.footer("Every failure prints one line on standard error and exits non-zero "
             "(1: failed or not set, 2: bad usage).\n");

  std::string section, name, value, type, key, file;

  auto *pref = app.add_subcommand("pref", "Preferences below Software\\Velmora");
  pref->require_subcommand(1);

  auto *get = pref->add_subcommand(
      "get", "Print a preference, taken from the user, else the machine, else the default user. "
             "Without --type a REG_DWORD value prints as int, a text stored as a double in its "
             "shortest form (0.1), and any other text as stored. Exit 1 when not set.");
  get->add_option("SECTION", section, "Section, e.g. General")->required();
  get->add_option("NAME", name, "Value name")->required();
  auto *getType = get->add_option("--type,-t", type, kTypeHelp)
                      ->check(CLI::IsMember({"int", "double", "string"}));

  auto *set = pref->add_subcommand(
      "set", "Write a preference for the current user (or the machine with --machine). int: "
             "32-bit decimal; double: a decimal number, stored as text; string: as given.");
  set->add_option("SECTION", section, "Section, e.g. General")->required();
  set->add_option("NAME", name, "Value name")->required();
  set->add_option("VALUE", value, "The value")->required();
  set->add_option("--type,-t", type, kTypeHelp + std::string(" (default string)"))
      ->check(CLI::IsMember({"int", "double", "string"}));
  bool machine = false;
  set->add_flag("--machine,-m", machine, "Write the machine-wide default instead");

  auto *del = pref->add_subcommand(
      "delete", "Delete the user's value NAME in SECTION, or without NAME the user's whole "
                "section (which must have no subkeys).");
  del->add_option("SECTION", section, "Section, e.g. General")->required();
  auto *delName = del->add_option("NAME", name, "Value name");

  auto *reset = pref->add_subcommand(
      "reset", "Rebuild the user's sections from the machine's (REG_DWORD and REG_SZ values).");

  auto *regCmd = app.add_subcommand("reg", "The registry store as .reg text");
  regCmd->require_subcommand(1);

  auto *exp = regCmd->add_subcommand(
      "export", "Write REGEDIT4 text of KEY and everything below it. Without KEY: "
                "Software\\Velmora of the machine, the default user and the user, where present.");
  auto *expKey = exp->add_option(
      "KEY", key, "Full key path, e.g. HKEY_CURRENT_USER\\Software\\Velmora (or HKCU\\...)");
  auto *expFile = exp->add_option("-o,--output", file, "Write to FILE (atomically) instead");
  bool unicode = false;
  exp->add_flag("--unicode", unicode,
                "Write what regedit writes: version 5.00, UTF-16LE with a byte-order mark, CRLF");

  auto *imp = regCmd->add_subcommand(
      "import", "Apply a .reg file (REGEDIT4 or version 5.00; UTF-8, UTF-16LE or Windows-1252). "
                "The whole file is checked "
                "first; each hive's changes land together or not at all.");
  imp->add_option("FILE", file, "The .reg file")->required();

  auto *impHive = regCmd->add_subcommand(
      "import-hive",
      "Import the product key of a Windows registry hive file (a user's NTUSER.DAT, or a "
      "SOFTWARE hive) with everything below it into the user's Software\\Velmora (the machine's "
      "with --machine), keeping value types, data and order. Keys already there are merged: a "
      "value of the same name is replaced, others are kept. Checked whole first, as reg import "
      "does; lands all at once or not at all.");
  impHive->add_option("FILE", file, "The hive file")->required();
  auto *hiveKey = impHive->add_option(
      "--key,-k", key,
      "Import this key of the file instead, e.g. Software\\Velmora\\Startup; it lands at the "
      "same path (below Software for a SOFTWARE hive)");
  impHive->add_flag("--machine,-m", machine, "Import into the machine's hive instead");

  auto *check =
      regCmd->add_subcommand("check", "Check every hive file; exit 1 when any is damaged.");

  auto *demoCmd = app.add_subcommand(
      "demo", "Show the preference fall-back, override, deletion, reset and export on a scratch "
              "store in a new directory (left in place for inspection).");
  auto *demoDir =
      demoCmd->add_option("DIR", file, "Directory for the scratch store (new or empty)");

  auto *dateCmd = app.add_subcommand(
      "datecode", "Print the short (yyddd) and full (yyyyddd) build date code of the loaded "
                  "library.");
  auto *widen = dateCmd->add_subcommand("widen", "Widen a short code yyddd to yyyyddd.");
  widen->add_option("CODE", value, "The short code")->required();
  auto *stamp = dateCmd->add_subcommand(
      "stamp", "Rewrite the date code in a built library file in place (atomically).");
  stamp->add_option("LIBRARY", file, "The library file")->required();
  stamp->add_option("CODE", value, "1 to 45 decimal digits, e.g. 26339")->required();

  auto *pathCmd = app.add_subcommand(
      "path", "Split PATH as the library does and print its drive, directory, name and "
              "extension: only '\\' separates, the first ':' ends the drive, the last '.' begins "
              "the extension. The text is taken exactly as given ('/' is an ordinary character).");
  pathCmd->add_option("PATH", file, "The path text, e.g. C:\\work\\gear.txt")->required();

  auto *lsCmd = app.add_subcommand(
      "ls", "List the entries of DIR whose names match '*.EXT' by the Windows wildcard rules "
            "(letter case ignored, subdirectories included, in directory order). EXT may hold "
            "wildcards; an empty EXT lists the names without an extension ('.' and '..' "
            "among them, as on Windows).");
  lsCmd->add_option("DIR", file, "The directory ('/' or '\\' separate)")->required();
  lsCmd->add_option("EXT", value, "The extension without its dot, e.g. txt")->required();
  bool nullEnded = false;
  lsCmd->add_flag("-0,--null", nullEnded,
                  "Print each name raw, ended by a zero byte, for scripts (by default a name "
                  "that holds blanks, quotes or control characters is shown quoted as a shell "
                  "word, as ls does on a terminal)");

  auto *tempCmd = app.add_subcommand(
      "temp", "Print the scratch directory <temp>/vlx<pid>/ (else <tmp>; the variable names in "
              "any letter case; neither set: $XDG_RUNTIME_DIR, else $TMPDIR, else /tmp), "
              "creating it when missing, or with FILE the path of that file in "
              "it (no file is created). The directory is per process: <pid> is this vlx "
              "process's id, so each run prints a new one, left in place. Exit 1 when the "
              "directory cannot be made or is not private to you.");
  auto *tempFile = tempCmd->add_option("FILE", value, "A bare file name, e.g. gear.tmp");

  auto *backupCmd = app.add_subcommand(
      "backup", "The one backup copy of a file, kept beside it as 'Backup of NAME'");
  backupCmd->require_subcommand(1);
  auto *makeCmd = backupCmd->add_subcommand(
      "make", "Copy FILE to 'Backup of NAME' in its directory, replacing the earlier backup, and "
              "print the backup's path. The preference \"Backup Copies\" in section General "
              "switches it: unset or 1 copies; 0 (backups off) and other counts make no copy and "
              "exit 1. FILE needs an extension, spelled as on disk.");
  makeCmd->add_option("FILE", file, "The file ('/' or '\\' separate)")->required();
  auto *resolveCmd = backupCmd->add_subcommand(
      "resolve", "Print the path of FILE's backup when there is one, else FILE itself.");
  resolveCmd->add_option("FILE", file, "The file ('/' or '\\' separate)")->required();

  auto runAddinCommand = addAddinCommands(app);
  auto *variantCmd = app.add_subcommand("variant", "OLE Automation values");
  variantCmd->require_subcommand(1);
  auto *convertCmd = variantCmd->add_subcommand(
      "convert", "Convert VALUE of type --from to type --to as VariantChangeTypeEx does and print "
                 "the result (bstr as text, bool as -1 or 0), or fail with the error's name, "
                 "e.g. DISP_E_OVERFLOW. VALUE is read strictly: integers in decimal (error also "
                 "0x...), numbers as C text, bool as true/false/-1/0, empty and null as ''.");
  std::string fromType, toType;
  unsigned long lcid = 0;
  convertCmd->add_option("VALUE", value, "The value as text")->required();
  convertCmd->add_option("--from", fromType, "Source type")
      ->required()
      ->check(CLI::IsMember(variantTypeNames()));
  convertCmd->add_option("--to", toType, "Target type")
      ->required()
      ->check(CLI::IsMember(variantTypeNames()));
  convertCmd->add_option("--lcid", lcid, "Locale identifier, e.g. 0x0407 (default 0)");

  // sheet: a workbook through the spreadsheet wrappers and the registered server.
  auto *sheetCmd = app.add_subcommand(
      "sheet", "A workbook through the spreadsheet wrappers and the server registered for "
               "Excel.Application (LibreOffice Calc on Linux). RANGE: B3 or Sheet2!B3.");
  sheetCmd->require_subcommand(1);
  std::string range;
  auto *sheetGetCmd = sheetCmd->add_subcommand("get", "Print the value of RANGE in FILE.");
  sheetGetCmd->add_option("FILE", file, "The workbook")->required();
  sheetGetCmd->add_option("RANGE", range, "The cell")->required();
  auto *sheetSetCmd =
      sheetCmd->add_subcommand("set", "Set RANGE in FILE to VALUE, as typed, and save FILE.");
  sheetSetCmd->add_option("FILE", file, "The workbook")->required();
  sheetSetCmd->add_option("RANGE", range, "The cell")->required();
  sheetSetCmd->add_option("VALUE", value, "The value")->required();
  auto *sheetNamesCmd =
      sheetCmd->add_subcommand("names", "Print FILE's defined names and what they refer to.");
  sheetNamesCmd->add_option("FILE", file, "The workbook")->required();
  auto *sheetSheetsCmd = sheetCmd->add_subcommand("sheets", "Print FILE's sheet names.");
  sheetSheetsCmd->add_option("FILE", file, "The workbook")->required();
  std::string server = installedCalcServer();
  auto *sheetRegCmd = sheetCmd->add_subcommand(
      "register", "Register the server library for all users (the machine hive), as regsvr32.");
  sheetRegCmd->add_option("SERVER", server, "The server library")->required(server.empty());
  bool unregister = false;
  sheetRegCmd->add_flag("--unregister,-u", unregister, "Remove the registration instead");

  if (std::optional<int> status = runGenerator(app, argc, argv, out))
    return *status;
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError &e) {
    if (e.get_exit_code() == 0)
      return app.exit(e, out, err); // --help
    err << "vlx: " << printable(usageError(app, e)) << " (see --help)" << std::endl;
    return 2;
  }

  auto given = [](const CLI::Option *opt) { return opt->count() > 0; };
  try {
    runAddinCommand(out);
    if (*get) {
      std::optional<PrefType> t;
      if (given(getType))
        t = prefTypeNamed(type);
      prefGet(out, err, section, name, t);
    } else if (*set) {
      prefSet(section, name, value, prefTypeNamed(type).value_or(PrefType::String), machine);
    } else if (*del) {
      prefDelete(section, given(delName) ? std::optional<std::string>(name) : std::nullopt);
    } else if (*reset) {
      prefReset();
    } else if (*exp) {
      regExport(out, given(expKey) ? std::optional<std::string>(key) : std::nullopt,
                given(expFile) ? std::optional<std::string>(file) : std::nullopt, unicode);
    } else if (*imp) {
      regImport(out, file);
    } else if (*impHive) {
      regImportHive(out, err, file, given(hiveKey) ? std::optional<std::string>(key) : std::nullopt,
                    machine);
    } else if (*check) {
      regCheck(out);
    } else if (*pathCmd) {
      pathShow(out, file);
    } else if (*lsCmd) {
      listFiles(out, file, value, nullEnded);
    } else if (*tempCmd) {
      tempShow(out, given(tempFile) ? std::optional<std::string>(value) : std::nullopt);
    } else if (*makeCmd) {
      backupMake(out, file);
    } else if (*resolveCmd) {
      backupResolve(out, file);
    } else if (*widen) {
      dateCodeWiden(out, value);
    } else if (*stamp) {
      dateCodeStamp(out, err, file, value);
    } else if (*dateCmd) {
      dateCodeShow(out);
    } else if (*convertCmd) {
      variantConvert(out, value, fromType, toType, lcid);
    } else if (*sheetGetCmd) {
      sheetGet(out, file, range);
    } else if (*sheetSetCmd) {
      sheetSet(file, range, value);
    } else if (*sheetNamesCmd) {
      sheetNames(out, file);
    } else if (*sheetSheetsCmd) {
      sheetSheets(out, file);
    } else if (*sheetRegCmd) {
      sheetRegister(out, server, unregister);
    } else if (*demoCmd) {
      demo(out, given(demoDir) ? std::optional<std::string>(file) : std::nullopt);
    }
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
