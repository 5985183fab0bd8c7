// `vlx reg query`, `reg add` and `reg delete`: reg.exe's verbs on single keys and values.
#include "vlx/core/commands.h"
#include "vlx/core/errors.h"
#include "vlx/formats/value_text.h"
#include "vlx/store/reg_store.h"
#include "vlx/store/snapshot.h"

#include "platform/posix/name_fold.h"

#include <algorithm>
#include <sstream>

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
  const ImportResult result =
      importOperations({op}, "reg delete", options);
  if (json)
    return printJson(out, changesJson(changes));
  out << (dryRun ? "delete (dry run, nothing changed): " : "delete: ") << result.counts.removed
      << (result.counts.removed == 1 ? " value" : " values") << " and " << result.counts.keysRemoved
      << (result.counts.keysRemoved == 1 ? " key" : " keys") << " removed\n";
}

} // namespace vlx::cli
