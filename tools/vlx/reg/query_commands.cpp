// `vlx reg query`, `reg add` and `reg delete`: reg.exe's verbs on single keys and values.
#include "vlx/reg/reg_commands.h"

#include "vlx/core/commands.h"
#include "vlx/core/errors.h"
#include "vlx/formats/value_text.h"
#include "vlx/store/reg_store.h"
#include "vlx/store/snapshot.h"

#include "platform/posix/name_fold.h"

#include <algorithm>
#include <memory>
#include <sstream>
#include <vector>

namespace vlx::cli {
namespace {

bool contains(const std::string &text, const std::string &part) {
  return foldedUnits(text).find(foldedUnits(part)) != std::u32string::npos;
}

// What a `reg query` shows of each key: all, or only what its filters match.
struct QueryScope {
  const QueryFilter &filter;
  size_t matches = 0;

  bool filtered() const { return filter.name || filter.find || filter.type; }
  bool keyMatches(const std::string &name) const {
    return filter.find && filter.inKeys && contains(name, *filter.find);
  }
  bool valueMatches(const reg::Value &v) const {
    if (filter.type && v.type != *filter.type)
      return false;
    if (filter.name && !(foldedUnits(v.name) == foldedUnits(*filter.name)))
      return false;
    if (!filter.find)
      return true;
    return (filter.inNames && contains(v.name, *filter.find)) ||
           (filter.inData && contains(dataText(v.type, v.data), *filter.find));
  }
};

// One key of `reg query`, and with `recursive` every key below it, in enumeration order.
void queryKey(std::ostream &out, nlohmann::json *json, HKEY key, const std::string &path,
              const std::string &name, bool recursive, QueryScope &scope) {
  std::vector<reg::Value> values;
  std::vector<std::string> names;
  LONG rc = readValues(key, values);
  if (rc == ERROR_SUCCESS)
    rc = subKeyNames(key, names);
  if (rc != ERROR_SUCCESS)
    throw Failure("cannot read " + path + ": " + errorText(rc));
  values.erase(std::remove_if(values.begin(), values.end(),
                              [&](const reg::Value &v) { return !scope.valueMatches(v); }),
               values.end());
  const bool keyMatch = scope.keyMatches(name);
  scope.matches += values.size() + (keyMatch ? 1 : 0);
  if (json) {
    if (!scope.filtered() || keyMatch || !values.empty()) {
      nlohmann::json entry = {
          {"key", path}, {"values", nlohmann::json::array()}, {"subkeys", names}};
      for (const auto &v : values)
        entry["values"].push_back(valueJson(v));
      json->push_back(entry);
    }
  } else if (!scope.filtered() || keyMatch || !values.empty()) {
    out << printable(path) << '\n';
    for (const auto &v : values)
      out << "    " << valueNameText(v.name) << "    " << typeText(v.type) << "    "
          << dataText(v.type, v.data) << '\n';
    if (!scope.filtered()) {
      out << '\n';
      if (!recursive)
        for (const auto &sub : names)
          out << printable(path + "\\" + sub) << '\n';
    }
  }
  if (!recursive)
    return;
  for (const auto &sub : names) {
    Key child;
    rc = openKey(key, sub, KEY_READ, child);
    if (rc == ERROR_FILE_NOT_FOUND || rc == ERROR_KEY_DELETED)
      continue;
    if (rc != ERROR_SUCCESS)
      throw Failure("cannot open " + path + "\\" + sub + ": " + errorText(rc));
    queryKey(out, json, child.get(), path + "\\" + sub, sub, recursive, scope);
  }
}

} // namespace

void regQuery(std::ostream &out, const std::string &keyText, bool recursive, bool json,
              const QueryFilter &filter) {
  const reg::KeyPath path = parsedKey(keyText);
  nlohmann::json document = nlohmann::json::array();
  QueryScope scope{filter};
  // Gathered first, so that the tree is read in one state and no reader of the output keeps
  // the hives' writers waiting.
  std::ostringstream text;
  readInOneState(path.root, [&] {
    Key key;
    LONG rc = openKey(rootHandle(path.root), path.subKey, KEY_READ, key);
    if (rc != ERROR_SUCCESS)
      throw Failure("cannot open " + path.full() + ": " + errorText(rc));
    // The key's own name is no match of a search below it.
    queryKey(text, json ? &document : nullptr, key.get(), path.full(), "", recursive, scope);
  });
  out << text.str();
  if (filter.name && !filter.find && scope.matches == 0)
    throw Failure(path.full() + " has no value " +
                  (filter.name->empty() ? "@" : "'" + *filter.name + "'") +
                  (filter.type ? " of type " + typeText(*filter.type) : ""));
  if (json) {
    if (filter.name && !filter.find && !recursive)
      printJson(out, document.front()["values"].front());
    else
      printJson(out, recursive || scope.filtered() ? document : document.front());
  } else if (filter.find) {
    out << "End of search: " << scope.matches << (scope.matches == 1 ? " match" : " matches")
        << " found.\n";
  }
}

void regAdd(std::ostream &out, const std::string &keyText, const std::optional<std::string> &name,
            const std::optional<std::string> &type, const std::optional<std::string> &data,
            bool dryRun, bool json) {
  using Kind = reg::Operation::Kind;
  reg::Operation op;
  op.key = parsedKey(keyText);
  if (!name && !data && !type) {
    op.kind = Kind::CreateKey;
  } else {
    const auto valueType = typeNamed(type.value_or("REG_SZ"));
    if (!valueType)
      throw Failure("unknown type '" + *type + "' (one of REG_SZ, REG_EXPAND_SZ, REG_MULTI_SZ, " +
                        "REG_DWORD, REG_QWORD, REG_BINARY, REG_NONE)",
                    2);
    op.kind = Kind::SetValue;
    op.value = {name.value_or(""), *valueType, parseData(*valueType, data.value_or(""))};
  }
  std::vector<Change> changes;
  ImportOptions options;
  options.dryRun = dryRun;
  options.done = "changed";
  options.listing = dryRun && !json ? &out : nullptr;
  options.changes = json ? &changes : nullptr;
  importOperations({op}, "reg add", options);
  if (json)
    printJson(out, changesJson(changes));
}

void regDelete(std::ostream &out, const std::string &keyText,
               const std::optional<std::string> &name, bool dryRun, bool json, bool ifExists) {
  using Kind = reg::Operation::Kind;
  reg::Operation op;
  op.key = parsedKey(keyText);
  Key key;
  LONG rc = openKey(rootHandle(op.key.root), op.key.subKey, KEY_QUERY_VALUE, key);
  if (rc == ERROR_SUCCESS && name)
    rc = RegQueryValueExA(key.get(), name->c_str(), nullptr, nullptr, nullptr, nullptr);
  const bool missing = rc == ERROR_FILE_NOT_FOUND;
  if (missing && !ifExists)
    throw Failure(name
                      ? op.key.full() + " has no value " + (name->empty() ? "@" : "'" + *name + "'")
                      : op.key.full() + " does not exist");
  if (rc != ERROR_SUCCESS && !missing)
    throw Failure("cannot open " + op.key.full() + ": " + errorText(rc));
  key.reset();
  op.kind = name ? Kind::DeleteValue : Kind::DeleteKey;
  if (name)
    op.value.name = *name;
  std::vector<Change> changes;
  ImportOptions options;
  options.dryRun = dryRun;
  options.listing = dryRun && !json ? &out : nullptr;
  options.done = "deleted";
  options.changes = json ? &changes : nullptr;
  const ImportResult result = importOperations({op}, "reg delete", options);
  if (json)
    return printJson(out, changesJson(changes));
  out << (dryRun ? "delete (dry run, nothing changed): " : "delete: ") << result.counts.removed
      << (result.counts.removed == 1 ? " value" : " values") << " and " << result.counts.keysRemoved
      << (result.counts.keysRemoved == 1 ? " key" : " keys") << " removed\n";
}

namespace {

// A reg.exe switch typed where NAME stands ("reg add KEY /ve") would otherwise name a value
// "/ve" without a word; such a value is still reached by --value.
std::string notRegExeSwitch(std::string &word) {
  static const char *const switches[] = {"v", "ve", "va", "s",  "se", "f",      "k",
                                         "d", "c",  "e",  "t",  "z",  "reg:32", "reg:64"};
  if (word.size() < 2 || word[0] != '/')
    return {};
  const std::string rest = CLI::detail::to_lower(word.substr(1));
  for (const char *name : switches)
    if (rest == name)
      return "'" + word + "' is a reg.exe switch, not a value name: vlx's options begin with "
             "'-'; a value of that name is given by --value";
  return {};
}

// reg.exe's /v NAME and /ve, as Windows admins type them: the NAME positional by another name.
// Returns the three ways of naming the value.
std::vector<const CLI::Option *> valueNamed(CLI::App *cmd, CLI::Option *positional,
                                            std::string &name) {
  positional->check(CLI::Validator(notRegExeSwitch, ""));
  auto *option = cmd->add_option("--value,-v", name, "NAME as reg.exe's /v takes it")
                     ->type_name("NAME")
                     ->excludes(positional);
  auto *empty = cmd->add_flag_callback(
                       "--ve", [&name] { name.clear(); },
                       "The default value (the empty name), as reg.exe's /ve")
                    ->excludes(positional)
                    ->excludes(option);
  return {positional, option, empty};
}

// The value's name when any of `ways` (valueNamed's) was given, else none.
std::optional<std::string> namedValue(const std::vector<const CLI::Option *> &ways,
                                      const std::string &name) {
  const bool given =
      std::any_of(ways.begin(), ways.end(), [](const CLI::Option *o) { return o->count() > 0; });
  return given ? std::optional<std::string>(name) : std::nullopt;
}

} // namespace

RunParsed addQueryCommands(CLI::App &reg, bool &json) {
  struct Args {
    std::string key, name, type, data, findText;
    bool recursive = false, findKeys = false, findNames = false, findData = false;
    bool dryRun = false, ifExists = false;
  };
  auto args = std::make_shared<Args>();

  auto *query = reg.add_subcommand(
      "query", "Print KEY's values (NAME TYPE DATA) and its subkeys, as reg query does. Text is "
               "shown escaped, REG_MULTI_SZ parts joined by \\0, numbers as 0x... (decimal), "
               "other data as hex bytes.");
  query->add_option("KEY", args->key, "Full key path, e.g. HKCU\\Software\\Velmora")->required();
  const auto queryName =
      valueNamed(query,
                 query->add_option("NAME", args->name,
                                   "Only this value (\"\" for the default value); exit 1 when it "
                                   "is not there"),
                 args->name);
  addRecursiveFlag(query, args->recursive, "KEY");
  addJsonFlag(query, json);
  auto *queryFind = query
                        ->add_option("--find,-f", args->findText,
                                     "Only the keys, value names and data that hold TEXT (any "
                                     "letter case), then the count")
                        ->type_name("TEXT");
  query->add_flag("--keys", args->findKeys, "Search key names only (with --find)")
      ->needs(queryFind);
  query->add_flag("--names", args->findNames, "Search value names only (with --find)")
      ->needs(queryFind);
  query->add_flag("--data", args->findData, "Search value data only (with --find)")
      ->needs(queryFind);
  auto *queryType = query->add_option("--type,-t", args->type,
                                      "Only values of this type, e.g. REG_DWORD (REG_ may be "
                                      "left out)");

  auto *add = reg.add_subcommand(
      "add", "Create KEY, or set its value NAME (without NAME: its default value) of any type. "
             "Checked against the registry's limits as an import is.");
  add->add_option("KEY", args->key, "Full key path, e.g. HKCU\\Software\\Velmora\\General")
      ->required();
  const auto addName =
      valueNamed(add, add->add_option("NAME", args->name, "Value name"), args->name);
  auto *addType = add->add_option("--type,-t", args->type,
                                  "REG_SZ (default), REG_EXPAND_SZ, REG_MULTI_SZ, REG_DWORD, "
                                  "REG_QWORD, REG_BINARY or REG_NONE (REG_ may be left out)");
  auto *addData = add->add_option(
      "--data,-d", args->data,
      "The data: text; REG_MULTI_SZ parts separated by \\0; a number in decimal or 0x hex; "
      "hex bytes for REG_BINARY and REG_NONE (e.g. 01ff or 01,ff)");
  addDryRunFlag(add, args->dryRun);
  addChangesJsonFlag(add, json);

  auto *del = reg.add_subcommand(
      "delete", "Delete KEY with everything below it, or only its value NAME; exit 1 when it "
                "does not exist (unless --if-exists).");
  del->add_option("KEY", args->key, "Full key path")->required();
  const auto delName = valueNamed(
      del, del->add_option("NAME", args->name, "Value name (\"\" for the default value)"),
      args->name);
  addDryRunFlag(del, args->dryRun);
  addChangesJsonFlag(del, json);
  del->add_flag("--if-exists", args->ifExists,
                "A KEY or NAME that does not exist is no failure: nothing changes (exit 0)");

  return [=, &json](std::ostream &out, std::ostream &) {
    const Args &a = *args;
    if (*query) {
      QueryFilter filter;
      filter.name = namedValue(queryName, a.name);
      if (queryFind->count()) {
        filter.find = a.findText;
        if (a.findKeys || a.findNames || a.findData) {
          filter.inKeys = a.findKeys;
          filter.inNames = a.findNames;
          filter.inData = a.findData;
        }
      }
      if (queryType->count()) {
        filter.type = typeNamed(a.type);
        if (!filter.type)
          throw Failure("unknown type '" + a.type + "'", 2);
      }
      regQuery(out, a.key, a.recursive, json, filter);
    } else if (*add) {
      regAdd(out, a.key, namedValue(addName, a.name), ifGiven(addType, a.type),
             ifGiven(addData, a.data), a.dryRun, json);
    } else if (*del) {
      regDelete(out, a.key, namedValue(delName, a.name), a.dryRun, json, a.ifExists);
    }
  };
}

} // namespace vlx::cli
