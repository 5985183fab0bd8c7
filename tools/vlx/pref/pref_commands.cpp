// `vlx pref` and `vlx demo` on the command line: their options, and the call each makes.
#include "vlx/pref/pref_commands.h"

#include "vlx/core/commands.h"
#include "vlx/core/whole_number.h"

#include <memory>
#include <optional>
#include <string>

namespace vlx::cli {
namespace {

const char *const kTypeHelp = "Value type: int, double or string";
const char *const kSectionHelp = "Section, e.g. General";

} // namespace

RunParsed addPrefCommands(CLI::App &app, bool &json) {
  struct Args {
    std::string section, name, value, type;
    bool showOrigin = false, trace = false, dryRun = false, all = false;
    HiveFlags hives;
    long watchCount = 0;
  };
  auto args = std::make_shared<Args>();

  auto *pref = addCommandGroup(app, "pref", "Preferences below Software\\Velmora");

  auto *get = pref->add_subcommand(
      "get", "Print a preference, taken from the user, else the machine, else the default user. "
             "Without --type a REG_DWORD value prints as int, a text stored as a double in its "
             "shortest form (0.1), and any other text as stored. Exit 1 when not set.");
  get->add_option("SECTION", args->section, kSectionHelp)->required();
  get->add_option("NAME", args->name, "Value name")->required();
  auto *getType =
      get->add_option("--type,-t", args->type, kTypeHelp)->check(CLI::IsMember(prefTypeNames()));
  get->add_flag("--show-origin", args->showOrigin,
                "Print the hive the value comes from first, then a tab and the value");
  addJsonFlag(get, json);
  get->add_flag("--trace,-v", args->trace,
                "First print on standard error every hive tried, in order, the file it lives in, "
                "what it holds and which one answers");

  auto *set = pref->add_subcommand(
      "set", "Write a preference for the current user (or the machine with --machine, the "
             "default user with --default-user). int: 32-bit decimal; double: a decimal number, "
             "stored as text; string: as given.");
  set->add_option("SECTION", args->section, kSectionHelp)->required();
  set->add_option("NAME", args->name, "Value name")->required();
  set->add_option("VALUE", args->value, "The value")->required();
  set->add_option("--type,-t", args->type, kTypeHelp + std::string(" (default string)"))
      ->check(CLI::IsMember(prefTypeNames()));
  addHiveFlags(set, args->hives);
  addDryRunFlag(set, args->dryRun);
  addChangesJsonFlag(set, json);

  auto *del = pref->add_subcommand(
      "delete", "Delete the user's value NAME in SECTION, or without NAME the user's whole "
                "section (which must have no subkeys).");
  del->add_option("SECTION", args->section, kSectionHelp)->required();
  auto *delName = del->add_option("NAME", args->name, "Value name");
  addDryRunFlag(del, args->dryRun);

  auto *reset = pref->add_subcommand(
      "reset", "Rebuild the user's sections from the machine's (REG_DWORD and REG_SZ values), "
               "and say how many sections and values were copied and how many user values "
               "went.");
  addDryRunFlag(reset, args->dryRun);

  auto *list = pref->add_subcommand(
      "list", "Print what the host reads: each value of SECTION (without it, of every section) "
              "from the first of the user, the machine and the default user that holds it, as "
              "SECTION\\NAME = TYPE DATA [HIVE]. Nothing is printed when there are no values.");
  auto *listSection = list->add_option("SECTION", args->section, kSectionHelp);
  list->add_flag("--all,-a", args->all,
                 "Also print the values that a hive earlier in the fall-back "
                 "hides, marked 'hidden by HIVE'");
  addJsonFlag(list, json);

  auto *watch = pref->add_subcommand(
      "watch", "Print each change to the preferences (of SECTION) of every hive as it lands, one "
               "line each, until interrupted. Changes by any process are seen, within about "
               "50 ms.");
  auto *watchSection = watch->add_option("SECTION", args->section, kSectionHelp);
  watch
      ->add_option("--count", args->watchCount,
                   "Stop once this many changes (1 or more) are printed; those of one "
                   "transaction are printed together")
      ->check(CLI::Validator(
          [](std::string &text) -> std::string {
            long n = 0;
            return parseWhole(text, n) && n >= 1
                       ? ""
                       : "expected a whole number of 1 or more, not '" + text + "'";
          },
          "N >= 1"));
  watch->add_flag("--json", json,
                  "Print each change as one JSON object on its own line (JSON Lines): "
                  "{\"change\": \"add\", \"key\": KEY, \"value\": {\"name\", \"type\", "
                  "\"data\"}}; \"change\" is add, change (with \"before\"), remove, add key "
                  "or remove key");

  return [=, &json](std::ostream &out, std::ostream &err) {
    const Args &a = *args;
    if (*get)
      prefGet(out, err, a.section, a.name, getType->count() ? prefTypeNamed(a.type) : std::nullopt,
              a.showOrigin, json, a.trace);
    else if (*set)
      prefSet(out, a.section, a.name, a.value, prefTypeNamed(a.type).value_or(PrefType::String),
              a.hives.hive(), a.dryRun, json);
    else if (*del)
      prefDelete(out, a.section, ifGiven(delName, a.name), a.dryRun);
    else if (*reset)
      prefReset(out, a.dryRun);
    else if (*list)
      prefList(out, ifGiven(listSection, a.section), a.all, json);
    else if (*watch)
      prefWatch(out, ifGiven(watchSection, a.section), a.watchCount, json);
  };
}

RunParsed addDemoCommand(CLI::App &app) {
  auto dir = std::make_shared<std::string>();
  auto *demoCmd = app.add_subcommand(
      "demo", "Show the preference fall-back, override, deletion, reset and export on a scratch "
              "store in a new directory (left in place for inspection).");
  auto *dirArg = demoCmd->add_option("DIR", *dir, "Directory for the scratch store (new or empty)");
  return [=](std::ostream &out, std::ostream &) {
    if (*demoCmd)
      demo(out, ifGiven(dirArg, *dir));
  };
}

} // namespace vlx::cli
