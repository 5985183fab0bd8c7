// Hive files written when names folded ASCII letters only: their move to the current folding, and
// the merges of keys and values that the move makes.
#include "platform/posix/registry/name_migration.h"

#include "platform/posix/registry/hive_db.h"
#include "platform/posix/registry/key_names.h"

#include <sqlite3.h>

#include <algorithm>
#include <deque>
#include <map>
#include <set>
#include <string_view>
#include <unordered_map>

namespace vlx {
namespace {

// One statement of the migration, prepared for its lifetime.
class Statement {
public:
  Statement(sqlite3 *db, const char *sql) : rc_(sqlite3_prepare_v2(db, sql, -1, &s_, nullptr)) {}
  ~Statement() { sqlite3_finalize(s_); }
  Statement(const Statement &) = delete;
  Statement &operator=(const Statement &) = delete;
  void bind(int i, int64_t v) { sqlite3_bind_int64(s_, i, v); }
  void bind(int i, std::string_view v) {
    sqlite3_bind_blob(s_, i, v.empty() ? "" : v.data(), static_cast<int>(v.size()),
                      SQLITE_TRANSIENT);
  }
  void bindNull(int i) { sqlite3_bind_null(s_, i); }
  // The next row (SQLITE_ROW), the end (SQLITE_DONE), or why not.
  int step() { return rc_ != SQLITE_OK ? rc_ : sqlite3_step(s_); }
  // Runs a statement that returns no rows, ready to be bound and run again.
  int run() {
    int rc = step();
    if (rc_ == SQLITE_OK)
      sqlite3_reset(s_);
    return rc == SQLITE_DONE ? SQLITE_OK : rc;
  }
  int64_t integer(int col) const { return sqlite3_column_int64(s_, col); }
  bool null(int col) const { return sqlite3_column_type(s_, col) == SQLITE_NULL; }
  std::string blob(int col) const {
    const void *p = sqlite3_column_blob(s_, col);
    return p ? std::string(static_cast<const char *>(p),
                           static_cast<size_t>(sqlite3_column_bytes(s_, col)))
             : std::string();
  }

private:
  sqlite3_stmt *s_ = nullptr;
  int rc_;
};

// `name` followed by `suffix`, the name cut at a character boundary where the whole would pass
// the value-name limit: a renamed value must stay one that calls can name.
std::string withSuffix(std::string name, const std::string &suffix) {
  while (!name.empty() && nameChars(name + suffix) > kMaxValueNameChars)
    while (!name.empty()) {
      const auto last = static_cast<unsigned char>(name.back());
      name.pop_back();
      if ((last & 0xc0) != 0x80)
        break; // a whole character is gone
    }
  return name + suffix;
}

struct Key {
  int64_t parent;
  std::string name;
  int64_t written;
  std::vector<KeyId> children;
  std::vector<size_t> values; // indexes into Plan::values
  KeyId origin;               // the parent as it was
  bool reached = false;       // by the walk from the root, or from a parent that is missing
  bool missing = false;       // a parent that rows name but that is not there
};

struct Value {
  int64_t id;
  KeyId key;
  std::string name;
  KeyId from;      // the key it was in
  int64_t written; // when that key was written
};

// The hive as the current rule leaves it.
struct Plan {
  std::unordered_map<KeyId, Key> keys;
  std::vector<KeyId> tops; // the root, and the parents that are missing
  std::vector<KeyId> gone; // keys merged into a sibling
  std::vector<Value> values;
  std::vector<NameMerge> merges;
};

// The path of a key as it was, for the record of merges. A loop of parents, or a key deeper than
// any the calls make, ends the walk.
std::string pathOf(const Plan &plan, KeyId id) {
  std::vector<const std::string *> names;
  for (KeyId at = id; at != kRootKey && names.size() <= kMaxKeyDepth;) {
    auto key = plan.keys.find(at);
    if (key == plan.keys.end() || key->second.missing)
      break;
    names.push_back(&key->second.name);
    at = key->second.origin;
  }
  std::string path;
  for (auto name = names.rbegin(); name != names.rend(); ++name)
    path += (name == names.rbegin() ? "" : "\\") + **name;
  return path;
}

// Rows whose parent is not there (nothing reads them) are merged among themselves all the same,
// so that the new names stay unique wherever they are.
int readRows(sqlite3 *db, Plan *plan) {
  Statement keys(db, "SELECT id, parent, name, written FROM keys ORDER BY id");
  int rc;
  while ((rc = keys.step()) == SQLITE_ROW)
    plan->keys[keys.integer(0)] =
        Key{keys.integer(1), keys.blob(2), keys.integer(3), {}, {}, keys.integer(1)};
  if (rc != SQLITE_DONE)
    return rc;
  const auto parentOf = [plan](KeyId parent) -> Key & {
    auto [it, added] = plan->keys.try_emplace(parent, Key{0, {}, 0, {}, {}, 0});
    if (added) {
      it->second.missing = true;
      plan->tops.push_back(parent);
    }
    return it->second;
  };
  if (plan->keys.count(kRootKey))
    plan->tops.push_back(kRootKey);
  std::vector<KeyId> ids;
  for (const auto &entry : plan->keys)
    ids.push_back(entry.first);
  std::sort(ids.begin(), ids.end());
  for (KeyId id : ids)
    if (id != kRootKey)
      parentOf(plan->keys.at(id).parent).children.push_back(id);
  Statement values(db, "SELECT id, key, name FROM vals ORDER BY id");
  while ((rc = values.step()) == SQLITE_ROW) {
    const KeyId key = values.integer(1);
    parentOf(key).values.push_back(plan->values.size());
    plan->values.push_back(
        Value{values.integer(0), key, values.blob(2), key, plan->keys.at(key).written});
  }
  return rc == SQLITE_DONE ? SQLITE_OK : rc;
}

// Merges the key's subkeys that fold alike, then renames its values that fold alike.
void mergeInside(Plan &plan, KeyId id, std::deque<KeyId> &next) {
  Key &key = plan.keys.at(id);
  std::map<std::string, std::vector<KeyId>> byName;
  for (KeyId child : key.children)
    byName[foldName(plan.keys.at(child).name)].push_back(child);
  key.children.clear();
  for (auto &[folded, same] : byName) {
    auto later = [&](KeyId a, KeyId b) {
      return std::make_pair(plan.keys.at(a).written, a) <
             std::make_pair(plan.keys.at(b).written, b);
    };
    const KeyId survivor = *std::max_element(same.begin(), same.end(), later);
    Key &into = plan.keys.at(survivor);
    for (KeyId other : same) {
      if (other == survivor)
        continue;
      Key &from = plan.keys.at(other);
      plan.merges.push_back(NameMerge{pathOf(plan, other), pathOf(plan, survivor), false, {}, {}});
      for (KeyId child : from.children) {
        plan.keys.at(child).parent = survivor;
        into.children.push_back(child);
      }
      for (size_t v : from.values) {
        plan.values[v].key = survivor;
        into.values.push_back(v);
      }
      from.children.clear();
      from.values.clear();
      plan.gone.push_back(other);
    }
    key.children.push_back(survivor);
    into.reached = true;
    next.push_back(survivor);
  }

  std::map<std::string, std::vector<size_t>> valuesByName;
  for (size_t v : key.values)
    valuesByName[foldName(plan.values[v].name)].push_back(v);
  std::set<std::string> taken;
  for (const auto &entry : valuesByName)
    taken.insert(entry.first);
  for (auto &[folded, same] : valuesByName) {
    if (same.size() < 2)
      continue;
    auto rank = [&](size_t v) { return std::make_pair(plan.values[v].written, plan.values[v].id); };
    const size_t kept = *std::max_element(same.begin(), same.end(),
                                          [&](size_t a, size_t b) { return rank(a) < rank(b); });
    for (size_t v : same) {
      if (v == kept)
        continue;
      Value &value = plan.values[v];
      std::string renamed = withSuffix(value.name, " (merged)");
      for (int n = 2; !taken.insert(foldName(renamed)).second; ++n)
        renamed = withSuffix(value.name, " (merged " + std::to_string(n) + ")");
      plan.merges.push_back(
          NameMerge{pathOf(plan, value.from), pathOf(plan, id), true, value.name, renamed});
      value.name = std::move(renamed);
    }
  }
}

// Top down, so that a key has taken all it merges with before its own subkeys are compared.
int makePlan(sqlite3 *db, Plan *plan) {
  int rc = readRows(db, plan);
  if (rc != SQLITE_OK)
    return rc;
  std::deque<KeyId> next(plan->tops.begin(), plan->tops.end());
  for (KeyId top : plan->tops)
    plan->keys.at(top).reached = true;
  while (!next.empty()) {
    KeyId id = next.front();
    next.pop_front();
    mergeInside(*plan, id, next);
  }
  return SQLITE_OK;
}

const char *const kMergesTable = "CREATE TABLE IF NOT EXISTS name_merges("
                                 "id INTEGER PRIMARY KEY, from_key BLOB NOT NULL, "
                                 "into_key BLOB NOT NULL, value_name BLOB, renamed BLOB)";

} // namespace

int migrateNames(sqlite3 *db, int version) {
  Plan plan;
  int rc = makePlan(db, &plan);
  if (rc != SQLITE_OK)
    return rc;
  // Numbers first: they equal no blob, so no row meets another's new name on the way.
  rc = sqlite3_exec(db, "UPDATE keys SET folded=id; UPDATE vals SET folded=id; ", nullptr, nullptr,
                    nullptr);
  Statement dropKey(db, "DELETE FROM keys WHERE id=?1");
  for (size_t i = 0; rc == SQLITE_OK && i < plan.gone.size(); ++i) {
    dropKey.bind(1, plan.gone[i]);
    rc = dropKey.run();
  }
  Statement setKey(db, "UPDATE keys SET parent=?2, folded=?3 WHERE id=?1");
  for (auto it = plan.keys.begin(); rc == SQLITE_OK && it != plan.keys.end(); ++it) {
    // A key in a loop of parents is reached by no walk: it keeps its number, unique.
    if (!it->second.reached || it->second.missing)
      continue;
    setKey.bind(1, it->first);
    setKey.bind(2, it->second.parent);
    setKey.bind(3, foldName(it->second.name));
    rc = setKey.run();
  }
  Statement setValue(db, "UPDATE vals SET key=?2, name=?3, folded=?4 WHERE id=?1");
  for (size_t i = 0; rc == SQLITE_OK && i < plan.values.size(); ++i) {
    const Value &v = plan.values[i];
    if (!plan.keys.at(v.key).reached)
      continue;
    setValue.bind(1, v.id);
    setValue.bind(2, v.key);
    setValue.bind(3, v.name);
    setValue.bind(4, foldName(v.name));
    rc = setValue.run();
  }
  if (rc == SQLITE_OK)
    rc = sqlite3_exec(db, kMergesTable, nullptr, nullptr, nullptr);
  Statement record(
      db,
      "INSERT INTO name_merges(from_key, into_key, value_name, renamed) VALUES(?1, ?2, ?3, ?4)");
  for (size_t i = 0; rc == SQLITE_OK && i < plan.merges.size(); ++i) {
    const NameMerge &m = plan.merges[i];
    record.bind(1, m.from);
    record.bind(2, m.into);
    if (m.value) {
      record.bind(3, m.name);
      record.bind(4, m.renamed);
    } else {
      record.bindNull(3);
      record.bindNull(4);
    }
    rc = record.run();
  }
  if (rc == SQLITE_OK)
    rc = sqlite3_exec(db, ("PRAGMA user_version=" + std::to_string(version)).c_str(), nullptr,
                      nullptr, nullptr);
  return rc;
}

int plannedMerges(sqlite3 *db, std::vector<NameMerge> *merges) {
  Plan plan;
  // One snapshot for the keys and the values.
  int rc = sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr);
  if (rc == SQLITE_OK)
    rc = makePlan(db, &plan);
  sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
  *merges = std::move(plan.merges);
  return rc;
}

int recordedMerges(sqlite3 *db, std::vector<NameMerge> *merges) {
  merges->clear();
  Statement exists(db, "SELECT 1 FROM sqlite_master WHERE name='name_merges'");
  int rc = exists.step();
  if (rc != SQLITE_ROW)
    return rc == SQLITE_DONE ? SQLITE_OK : rc;
  Statement rows(db, "SELECT from_key, into_key, value_name, renamed FROM name_merges ORDER BY id");
  while ((rc = rows.step()) == SQLITE_ROW)
    merges->push_back(
        NameMerge{rows.blob(0), rows.blob(1), !rows.null(2), rows.blob(2), rows.blob(3)});
  return rc == SQLITE_DONE ? SQLITE_OK : rc;
}

} // namespace vlx
