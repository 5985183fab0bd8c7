// The prepared statements of a hive connection and the reads and writes made with them.
#include "platform/posix/registry/hive_db.h"

#include "platform/posix/registry/hive_query.h"
#include "platform/posix/registry/hive_schema.h"

#include <sqlite3.h>

#include <ctime>

namespace vlx {
namespace {

// Rows an enumeration step reads ahead (the LIMIT of the value queries).
constexpr size_t kValuesAhead = 8;

const char *const kStmtSql[] = {
    "BEGIN",
    "BEGIN IMMEDIATE",
    "COMMIT",
    "ROLLBACK",
    "SELECT written FROM keys WHERE id=?1",
    "SELECT id FROM keys WHERE parent=?1 AND folded=?2",
    "SELECT name, folded, written FROM keys WHERE parent=?1 ORDER BY folded LIMIT 1 OFFSET ?2",
    "SELECT name, folded, written FROM keys WHERE parent=?1 AND folded>?2 ORDER BY folded LIMIT 1",
    "SELECT name, folded, written FROM keys WHERE parent=?1 ORDER BY folded",
    "SELECT type, data FROM vals WHERE key=?1 AND folded=?2",
    "SELECT id, name, type, data FROM vals WHERE key=?1 ORDER BY id LIMIT 8 OFFSET ?2",
    "SELECT id, name, type, data FROM vals WHERE key=?1 AND id>?2 ORDER BY id LIMIT 8",
    "SELECT count(*), coalesce(max(length(name)), 0) FROM keys WHERE parent=?1",
    ("SELECT count(*), coalesce(max(length(name)), 0), "
     "coalesce(max(CASE WHEN type IN (1, 2, 7) THEN 0 ELSE length(data) END), 0), "
     "coalesce(max(CASE WHEN type IN (1, 2, 7) THEN length(data) ELSE 0 END), 0) "
     "FROM vals WHERE key=?1"),
    "SELECT id, name, type, data FROM vals WHERE key=?1 AND type IN (1, 2, 7) ORDER BY id",
    "INSERT INTO keys(parent, name, folded, written) VALUES(?1, ?2, ?3, ?4)",
    ("INSERT INTO vals(key, id, name, folded, type, data) VALUES(?1, ?6, ?2, ?3, ?4, ?5) "
     "ON CONFLICT(key, folded) DO UPDATE SET type=excluded.type, data=excluded.data"),
    "DELETE FROM vals WHERE key=?1 AND folded=?2",
    "DELETE FROM keys WHERE id=?1",
    "DELETE FROM vals WHERE key=?1",
    "SELECT 1 FROM keys WHERE parent=?1 LIMIT 1",
    "UPDATE keys SET written=?2 WHERE id=?1",
    "SELECT parent FROM keys WHERE id=?1",
    "UPDATE keys SET name=?2, folded=?3 WHERE id=?1",
    "PRAGMA data_version",
    "SELECT coalesce(max(id), 0) FROM vals WHERE key=?1",
};

// FILETIME: 100 ns units since 1601-01-01.
int64_t nowFileTime() {
  timespec ts{};
  clock_gettime(CLOCK_REALTIME, &ts);
  return (static_cast<int64_t>(ts.tv_sec) + 11644473600LL) * 10000000LL + ts.tv_nsec / 100;
}

} // namespace

void HiveDb::finalizeAll() {
  for (sqlite3_stmt *&s : stmts_) {
    sqlite3_finalize(s);
    s = nullptr;
  }
}

sqlite3_stmt *HiveDb::stmt(Stmt which) {
  if (!stmts_[which])
    sqlite3_prepare_v3(db_, kStmtSql[which], -1, SQLITE_PREPARE_PERSISTENT, &stmts_[which],
                       nullptr);
  return stmts_[which];
}

int HiveDb::exec(Stmt which) {
  sqlite3_stmt *s = stmt(which);
  if (!s)
    return sqlite3_errcode(db_);
  int rc = sqlite3_step(s);
  sqlite3_reset(s);
  return rc == SQLITE_DONE || rc == SQLITE_ROW ? SQLITE_OK : rc;
}

LONG HiveDb::keyExists(KeyId id, bool *exists, int64_t *written) {
  if (!written && existing_.count(id)) {
    *exists = true;
    return ERROR_SUCCESS;
  }
  if (LONG error = needSnapshot(); error != ERROR_SUCCESS)
    return error;
  Query q(db_, stmt(kKeyExists), id);
  int rc = q.step();
  if (rc == SQLITE_ROW) {
    *exists = true;
    existing_.insert(id);
    if (written)
      *written = q.integer(0);
    return ERROR_SUCCESS;
  }
  if (rc == SQLITE_DONE) {
    *exists = false;
    return ERROR_SUCCESS;
  }
  return fail(rc);
}

LONG HiveDb::findChild(KeyId parent, std::string_view name, KeyId *child) {
  std::string_view folded = foldedView(name);
  if (auto known = children_.find(NameView(parent, folded)); known != children_.end()) {
    if (known->second == 0)
      return ERROR_FILE_NOT_FOUND; // *child untouched, as after a query that found nothing
    *child = known->second;
    return ERROR_SUCCESS;
  }
  NameKey key(parent, folded); // the view does not outlive another fold
  if (LONG error = needSnapshot(); error != ERROR_SUCCESS)
    return error;
  Query q(db_, stmt(kFindChild), parent, key.second);
  int rc = q.step();
  if (rc == SQLITE_ROW) {
    *child = q.integer(0);
    children_.emplace(std::move(key), *child);
    existing_.insert(*child);
    return ERROR_SUCCESS;
  }
  if (rc != SQLITE_DONE)
    return fail(rc);
  children_.emplace(std::move(key), 0);
  return ERROR_FILE_NOT_FOUND;
}

LONG HiveDb::subkeyAt(KeyId parent, DWORD index, SubkeyRow *row) {
  if (LONG error = needSnapshot(); error != ERROR_SUCCESS)
    return error;
  bool next = subkeyCursorGen_ == generation_ && subkeyCursorKey_ == parent &&
              index == subkeyCursorIndex_ + 1 && index > 0;
  Query q(db_, stmt(next ? kSubkeyAfter : kSubkeyAt), parent);
  if (next)
    q.bind(2, std::string_view(subkeyCursorName_));
  else
    q.bind(2, static_cast<int64_t>(index));
  int rc = q.step();
  if (rc == SQLITE_DONE)
    return ERROR_NO_MORE_ITEMS;
  if (rc != SQLITE_ROW)
    return fail(rc);
  row->name = q.blob(0);
  row->folded = q.blob(1);
  row->written = q.integer(2);
  subkeyCursorKey_ = parent;
  subkeyCursorIndex_ = index;
  subkeyCursorName_ = row->folded;
  subkeyCursorGen_ = generation_;
  return ERROR_SUCCESS;
}

LONG HiveDb::subkeys(KeyId parent, std::vector<SubkeyRow> *rows) {
  if (LONG error = needSnapshot(); error != ERROR_SUCCESS)
    return error;
  rows->clear();
  Query q(db_, stmt(kSubkeys), parent);
  int rc;
  while ((rc = q.step()) == SQLITE_ROW)
    rows->push_back(SubkeyRow{q.blob(0), q.blob(1), q.integer(2)});
  if (rc != SQLITE_DONE)
    return fail(rc);
  if (asciiFolding_)
    refoldSubkeys(rows);
  return ERROR_SUCCESS;
}

LONG HiveDb::findValue(KeyId key, std::string_view name, DWORD *type, std::string *data) {
  if (valueCursorGen_ == generation_ && valueCursorKey_ == key &&
      valueLast_ < valuesAhead_.size() && sameName(name, valuesAhead_[valueLast_].name)) {
    *type = valuesAhead_[valueLast_].type;
    *data = valuesAhead_[valueLast_].data;
    return ERROR_SUCCESS;
  }
  std::string_view view = foldedView(name);
  if (auto known = values_.find(NameView(key, view)); known != values_.end()) {
    *type = known->second.type;
    *data = known->second.data;
    return known->second.found ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND;
  }
  std::string folded(view); // the view does not outlive another fold
  if (LONG error = needSnapshot(); error != ERROR_SUCCESS)
    return error;
  Query q(db_, stmt(kFindValue), key, folded);
  int rc = q.step();
  if (rc != SQLITE_ROW && rc != SQLITE_DONE)
    return fail(rc);
  const bool found = rc == SQLITE_ROW;
  *type = found ? static_cast<DWORD>(q.integer(0)) : REG_NONE;
  *data = found ? q.blob(1) : std::string();
  rememberValue(key, std::move(folded), found, *type, *data);
  return found ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND;
}

LONG HiveDb::valueAt(KeyId key, DWORD index, ValueRow *row) {
  if (LONG error = needSnapshot(); error != ERROR_SUCCESS)
    return error;
  const bool current = valueCursorGen_ == generation_ && valueCursorKey_ == key;
  const size_t fetched = valuesAhead_.size();
  if (!current || index < valueCursorFirst_ || index >= valueCursorFirst_ + fetched) {
    // Fewer rows than asked for: the key has no more after them.
    if (current && index >= valueCursorFirst_ + fetched && fetched < kValuesAhead)
      return ERROR_NO_MORE_ITEMS;
    // Past the rows read ahead: go on after the last of them, else count from the start.
    bool next = current && fetched > 0 && index == valueCursorFirst_ + fetched;
    Query q(db_, stmt(next ? kValueAfter : kValueAt), key,
            next ? valuesAhead_.back().id : static_cast<int64_t>(index));
    std::vector<ValueRow> rows;
    int rc;
    while ((rc = q.step()) == SQLITE_ROW)
      rows.push_back(
          ValueRow{q.integer(0), q.blob(1), static_cast<DWORD>(q.integer(2)), q.blob(3)});
    if (rc != SQLITE_DONE)
      return fail(rc);
    valuesAhead_ = std::move(rows);
    valueCursorFirst_ = index;
    valueCursorKey_ = key;
    valueCursorGen_ = generation_;
    if (valuesAhead_.empty())
      return ERROR_NO_MORE_ITEMS;
  }
  valueLast_ = index - valueCursorFirst_;
  *row = valuesAhead_[valueLast_];
  return ERROR_SUCCESS;
}

LONG HiveDb::counts(KeyId key, KeyCounts *out) {
  if (LONG error = needSnapshot(); error != ERROR_SUCCESS)
    return error;
  {
    Query q(db_, stmt(kSubkeyCounts), key);
    int rc = q.step();
    if (rc != SQLITE_ROW)
      return fail(rc);
    out->subkeys = static_cast<DWORD>(q.integer(0));
    out->maxSubkeyName = static_cast<DWORD>(q.integer(1));
  }
  // Name lengths in bytes: the size an A call's buffer needs, one byte per character.
  Query q(db_, stmt(kValueCounts), key);
  int rc = q.step();
  if (rc != SQLITE_ROW)
    return fail(rc);
  out->values = static_cast<DWORD>(q.integer(0));
  out->maxValueName = static_cast<DWORD>(q.integer(1));
  out->maxValueData = static_cast<DWORD>(q.integer(2));
  out->maxStringData = static_cast<DWORD>(q.integer(3));
  return ERROR_SUCCESS;
}

LONG HiveDb::stringValues(KeyId key, std::vector<ValueRow> *rows) {
  if (LONG error = needSnapshot(); error != ERROR_SUCCESS)
    return error;
  rows->clear();
  Query q(db_, stmt(kStringValues), key);
  int rc;
  while ((rc = q.step()) == SQLITE_ROW)
    rows->push_back(ValueRow{q.integer(0), q.blob(1), static_cast<DWORD>(q.integer(2)), q.blob(3)});
  return rc == SQLITE_DONE ? ERROR_SUCCESS : fail(rc);
}

LONG HiveDb::touch(KeyId key) {
  // A batch stamps each key once, when it commits.
  if (batchDepth_ > 0) {
    touched_.insert(key);
    return ERROR_SUCCESS;
  }
  Query q(db_, stmt(kTouch), key, nowFileTime());
  int rc = q.step();
  return rc == SQLITE_DONE ? ERROR_SUCCESS : fail(rc);
}

LONG HiveDb::createChild(KeyId parent, std::string_view name, KeyId *child) {
  std::string folded = fold(name);
  {
    Query q(db_, stmt(kInsertKey), parent, name, folded, nowFileTime());
    int rc = q.step();
    if (rc != SQLITE_DONE)
      return fail(rc);
  }
  *child = sqlite3_last_insert_rowid(db_);
  children_.insert_or_assign(std::make_pair(parent, std::move(folded)), *child);
  existing_.insert(*child);
  return touch(parent);
}

LONG HiveDb::setValue(KeyId key, std::string_view name, DWORD type, const BYTE *data, DWORD size) {
  std::string folded = fold(name);
  // A key's values are written in runs (an import, a program's settings): its last id is looked
  // up once per run. A value that replaces one keeps the old id and leaves this one unused.
  if (key != idKey_) {
    Query q(db_, stmt(kLastValueId), key);
    int rc = q.step();
    if (rc != SQLITE_ROW)
      return fail(rc);
    idKey_ = key;
    nextValueId_ = q.integer(0) + 1;
  }
  {
    Query q(db_, stmt(kSetValue), key, name, folded, static_cast<int64_t>(type),
            std::string_view(reinterpret_cast<const char *>(data), size), nextValueId_++);
    int rc = q.step();
    if (rc != SQLITE_DONE)
      return fail(rc);
  }
  values_.erase(std::make_pair(key, std::move(folded)));
  return touch(key);
}

LONG HiveDb::deleteValue(KeyId key, std::string_view name) {
  std::string folded = fold(name);
  {
    Query q(db_, stmt(kDeleteValue), key, folded);
    int rc = q.step();
    if (rc != SQLITE_DONE)
      return fail(rc);
  }
  values_.erase(std::make_pair(key, std::move(folded)));
  if (sqlite3_changes(db_) == 0)
    return ERROR_FILE_NOT_FOUND;
  return touch(key);
}

LONG HiveDb::hasSubkeys(KeyId key, bool *any) {
  if (LONG error = needSnapshot(); error != ERROR_SUCCESS)
    return error;
  Query q(db_, stmt(kHasSubkeys), key);
  int rc = q.step();
  if (rc == SQLITE_ROW || rc == SQLITE_DONE) {
    *any = rc == SQLITE_ROW;
    return ERROR_SUCCESS;
  }
  return fail(rc);
}

LONG HiveDb::deleteKey(KeyId key) {
  forgetKeys();
  for (Stmt which : {kDeleteKeyValues, kDeleteKey}) {
    Query q(db_, stmt(which), key);
    int rc = q.step();
    if (rc != SQLITE_DONE)
      return fail(rc);
  }
  return ERROR_SUCCESS;
}

LONG HiveDb::renameKey(KeyId key, std::string_view name) {
  KeyId parent = 0;
  {
    Query q(db_, stmt(kParentOf), key);
    int rc = q.step();
    if (rc != SQLITE_ROW)
      return rc == SQLITE_DONE ? ERROR_KEY_DELETED : fail(rc);
    parent = q.integer(0);
  }
  KeyId existing = 0;
  LONG error = findChild(parent, name, &existing);
  if (error == ERROR_SUCCESS && existing != key)
    return ERROR_ACCESS_DENIED; // a sibling has the name
  if (error != ERROR_SUCCESS && error != ERROR_FILE_NOT_FOUND)
    return error;
  forgetKeys();
  const std::string folded = fold(name); // bound by reference: it must outlive the query
  Query q(db_, stmt(kRenameKey), key, name, folded);
  int rc = q.step();
  if (rc != SQLITE_DONE)
    return fail(rc);
  return touch(parent);
}

} // namespace vlx
