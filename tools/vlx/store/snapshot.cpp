// Pictures of a subtree and the changes between two of them.
#include "vlx/store/snapshot.h"

#include "vlx/core/errors.h"
#include "vlx/formats/value_text.h"
#include "vlx/store/reg_store.h"

#include "platform/posix/name_fold.h"

#include <optional>

namespace vlx::cli {
namespace {

void readTree(Snapshot &out, HKEY key, const std::string &path) {
  KeyState &state = out[foldedUnits(path)];
  state.path = path;
  LONG rc = readValues(key, state.values);
  std::vector<std::string> names;
  if (rc == ERROR_SUCCESS)
    rc = subKeyNames(key, names);
  if (rc != ERROR_SUCCESS)
    throw Failure("cannot read " + path + ": " + errorText(rc));
  for (const auto &name : names) {
    Key child;
    rc = openKey(key, name, KEY_READ, child);
    if (rc == ERROR_FILE_NOT_FOUND || rc == ERROR_KEY_DELETED)
      continue;
    if (rc != ERROR_SUCCESS)
      throw Failure("cannot open " + path + "\\" + name + ": " + errorText(rc));
    readTree(out, child.get(), path + "\\" + name);
  }
}

const reg::Value *find(const std::vector<reg::Value> &values, const std::string &name) {
  for (const auto &v : values)
    if (sameFolded(v.name, name))
      return &v;
  return nullptr;
}

std::string shownName(const std::string &name) {
  return name.empty() ? "@" : '"' + printable(name) + '"';
}

std::string shownValue(const reg::Value &v) {
  return typeText(v.type) + " " + dataText(v.type, v.data);
}

} // namespace

Snapshot takeSnapshot(const reg::KeyPath &path) {
  Snapshot out;
  readInOneState(path.root, [&] {
    Key key;
    if (openToRead(path, key))
      readTree(out, key.get(), path.full());
  });
  return out;
}

std::vector<Change> changesBetween(const Snapshot &before, const Snapshot &after) {
  std::vector<Change> changes;
  using Kind = Change::Kind;
  for (const auto &[folded, old] : before) {
    auto now = after.find(folded);
    if (now == after.end()) {
      for (const auto &v : old.values)
        changes.push_back({Kind::Removed, old.path, v, {}});
      changes.push_back({Kind::KeyRemoved, old.path, {}, {}});
      continue;
    }
    for (const auto &v : old.values) {
      const reg::Value *n = find(now->second.values, v.name);
      if (!n)
        changes.push_back({Kind::Removed, old.path, v, {}});
      else if (n->type != v.type || n->data != v.data)
        changes.push_back({Kind::Changed, old.path, v, *n});
    }
    for (const auto &v : now->second.values)
      if (!find(old.values, v.name))
        changes.push_back({Kind::Added, now->second.path, {}, v});
  }
  for (const auto &[folded, added] : after) {
    if (before.count(folded))
      continue;
    changes.push_back({Kind::KeyAdded, added.path, {}, {}});
    for (const auto &v : added.values)
      changes.push_back({Kind::Added, added.path, {}, v});
  }
  return changes;
}

ChangeCounts countChanges(const std::vector<Change> &changes) {
  ChangeCounts counts;
  for (const auto &c : changes)
    switch (c.kind) {
    case Change::Kind::KeyAdded:
      ++counts.keysAdded;
      break;
    case Change::Kind::KeyRemoved:
      ++counts.keysRemoved;
      break;
    case Change::Kind::Added:
      ++counts.added;
      break;
    case Change::Kind::Changed:
      ++counts.changed;
      break;
    case Change::Kind::Removed:
      ++counts.removed;
      break;
    }
  return counts;
}

void printChange(std::ostream &out, const Change &c) {
  const std::string key = printable(c.key);
  switch (c.kind) {
  case Change::Kind::KeyAdded:
    out << "add key " << key << '\n';
    break;
  case Change::Kind::KeyRemoved:
    out << "remove key " << key << '\n';
    break;
  case Change::Kind::Added:
    out << "add " << key << ' ' << shownName(c.after.name) << " = " << shownValue(c.after) << '\n';
    break;
  case Change::Kind::Changed:
    out << "change " << key << ' ' << shownName(c.after.name) << " = " << shownValue(c.before)
        << " -> " << shownValue(c.after) << '\n';
    break;
  case Change::Kind::Removed:
    out << "remove " << key << ' ' << shownName(c.before.name) << " = " << shownValue(c.before)
        << '\n';
    break;
  }
}

nlohmann::json changeJson(const Change &c) {
  static const char *const kNames[] = {"add key", "remove key", "add", "change", "remove"};
  nlohmann::json line = {{"change", kNames[static_cast<int>(c.kind)]}, {"key", c.key}};
  switch (c.kind) {
  case Change::Kind::KeyAdded:
  case Change::Kind::KeyRemoved:
    break;
  case Change::Kind::Added:
    line["value"] = valueJson(c.after);
    break;
  case Change::Kind::Changed:
    line["value"] = valueJson(c.after);
    line["before"] = valueJson(c.before);
    break;
  case Change::Kind::Removed:
    line["value"] = valueJson(c.before);
    break;
  }
  return line;
}

nlohmann::json changesJson(const std::vector<Change> &changes) {
  nlohmann::json list = nlohmann::json::array();
  for (const Change &c : changes)
    list.push_back(changeJson(c));
  return {{"changed", !changes.empty()}, {"changes", list}};
}

Outcome changesMadeBy(Hive hive, const reg::KeyPath &scope, bool dryRun, const std::string &what,
                      const std::function<void()> &body) {
  Outcome outcome;
  std::optional<Failure> failure;
  LONG rc = inHiveTransaction(hive, [&]() -> LONG {
    try {
      // Inside: a commit of another process between this picture and the transaction would
      // be counted as this command's change.
      const Snapshot before = takeSnapshot(scope);
      body();
      outcome.after = takeSnapshot(scope);
      outcome.changes = changesBetween(before, outcome.after);
    } catch (const Failure &f) {
      failure = f;
      return kDryRunEnd;
    }
    return dryRun ? kDryRunEnd : ERROR_SUCCESS;
  });
  if (failure)
    throw *failure;
  if (rc != ERROR_SUCCESS && !(dryRun && rc == kDryRunEnd))
    throw Failure(what + ": " + errorText(rc));
  return outcome;
}

} // namespace vlx::cli
