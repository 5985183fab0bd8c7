// The schema of a hive file: creating it, opening a file and reading its shape, the skeleton
// that stands in for a missing file, and the rule by which the file folds names.
#include "platform/posix/registry/hive_db.h"

#include "platform/posix/name_fold.h"
#include "platform/posix/registry/hive_schema.h"
#include "platform/posix/registry/key_names.h"
#include "platform/posix/registry/name_migration.h"
#include "platform/posix/registry/sqlite_errors.h"

#include <sqlite3.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <sys/stat.h>
#include <thread>

namespace vlx {

// The values table, as a new file makes it and as the move of an older file makes it again: each
// key's values kept in their order, found by name through the index.
#define VLX_VALUES_TABLE(name)                                                                     \
  "CREATE TABLE " name "(key INTEGER NOT NULL, id INTEGER NOT NULL, name BLOB NOT NULL,"           \
  " folded BLOB NOT NULL, type INTEGER NOT NULL, data BLOB NOT NULL,"                              \
  " PRIMARY KEY(key, id)) WITHOUT ROWID;\n"
#define VLX_VALUES_INDEX "CREATE UNIQUE INDEX vals_by_name ON vals(key, folded);\n"

const char *const kSchema = R"sql(
CREATE TABLE keys(
  id INTEGER PRIMARY KEY AUTOINCREMENT,
  parent INTEGER NOT NULL,
  name BLOB NOT NULL,
  folded BLOB NOT NULL,
  written INTEGER NOT NULL DEFAULT 0);
CREATE UNIQUE INDEX keys_by_name ON keys(parent, folded);
)sql" VLX_VALUES_TABLE("vals") VLX_VALUES_INDEX R"sql(
INSERT INTO keys(id, parent, name, folded) VALUES(1, 0, x'', x'');
INSERT INTO keys(id, parent, name, folded)
  VALUES(2, 1, CAST('Software' AS BLOB), x'0053004F004600540057004100520045');
)sql";

// Software\Classes, and the key HKEY_CURRENT_CONFIG stands for.
const char *const kMachineSkeleton = R"sql(
INSERT INTO keys(id, parent, name, folded) VALUES
  (3, 2, CAST('Classes' AS BLOB), x'0043004C00410053005300450053'),
  (4, 1, CAST('SYSTEM' AS BLOB), x'00530059005300540045004D'),
  (5, 4, CAST('CurrentControlSet' AS BLOB),
   x'00430055005200520045004E00540043004F004E00540052004F004C005300450054'),
  (6, 5, CAST('Hardware Profiles' AS BLOB),
   x'00480041005200440057004100520045002000500052004F00460049004C00450053'),
  (7, 6, CAST('Current' AS BLOB), x'00430055005200520045004E0054');
)sql";

const char *const kShapeQuery =
    "SELECT (SELECT application_id FROM pragma_application_id),"
    " (SELECT user_version FROM pragma_user_version),"
    " (SELECT count(*) FROM sqlite_master),"
    " (SELECT count(*) FROM sqlite_master WHERE name IN ('keys','vals'))";

// Ids stay as they were: unique in the whole file, so in each key too, and in the key's order.
// The by-name index goes with the old table and is made again.
const char *const kMigrateValues = VLX_VALUES_TABLE("vals_by_key") R"sql(
INSERT INTO vals_by_key(key, id, name, folded, type, data)
  SELECT key, id, name, folded, type, data FROM vals ORDER BY key, id;
DROP TABLE vals;
ALTER TABLE vals_by_key RENAME TO vals;
)sql" VLX_VALUES_INDEX "DELETE FROM sqlite_sequence WHERE name='vals';\n";

int migrateValuesTable(sqlite3 *db) {
  return sqlite3_exec(db, kMigrateValues, nullptr, nullptr, nullptr);
}

int queryInts(sqlite3 *db, const char *sql, std::initializer_list<int *> values) {
  sqlite3_stmt *s = nullptr;
  int rc = sqlite3_prepare_v2(db, sql, -1, &s, nullptr);
  if (rc != SQLITE_OK)
    return rc;
  rc = sqlite3_step(s);
  int col = 0;
  for (int *v : values)
    *v = rc == SQLITE_ROW ? sqlite3_column_int(s, col++) : 0;
  if (rc == SQLITE_ROW || rc == SQLITE_DONE)
    rc = SQLITE_OK;
  sqlite3_finalize(s);
  return rc;
}

void refoldSubkeys(std::vector<SubkeyRow> *rows) {
  for (SubkeyRow &row : *rows)
    row.folded = foldName(row.name);
  std::sort(rows->begin(), rows->end(),
            [](const SubkeyRow &a, const SubkeyRow &b) { return a.folded < b.folded; });
}

std::string HiveDb::fold(std::string_view name) const {
  return asciiFolding_ ? foldNameAsciiOnly(name) : foldName(name);
}

std::string_view HiveDb::foldedView(std::string_view name) {
  if (asciiFolding_)
    folded_ = foldNameAsciiOnly(name);
  else
    foldName(name, &folded_);
  return folded_;
}

bool HiveDb::sameName(std::string_view a, std::string_view b) const {
  return asciiFolding_ ? foldNameAsciiOnly(a) == foldNameAsciiOnly(b) : sameFolded(a, b);
}

// In a transaction of its own, so that it stands whatever becomes of the write that asked for it;
// either every step lands or none. Another process may have moved the file meanwhile.
LONG HiveDb::moveToCurrentSchema() {
  int rc = exec(kBeginImmediate);
  int version = 0;
  if (rc == SQLITE_OK)
    rc = queryInts(db_, "PRAGMA user_version", {&version});
  if (rc == SQLITE_OK && version == kAsciiFoldingVersion)
    rc = migrateNames(db_, kRowidValuesVersion);
  // Statements prepared for the old table are prepared again by SQLite when they next run.
  if (rc == SQLITE_OK && version < kSchemaVersion)
    rc = migrateValuesTable(db_);
  if (rc == SQLITE_OK && version < kSchemaVersion)
    rc = sqlite3_exec(db_, ("PRAGMA user_version=" + std::to_string(kSchemaVersion)).c_str(),
                      nullptr, nullptr, nullptr);
  if (rc == SQLITE_OK)
    rc = exec(kCommit);
  if (rc != SQLITE_OK)
    return fail(rc); // rolled back: the file is as it was
  asciiFolding_ = false;
  oldSchema_ = false;
  forgetKeys();
  ++generation_;
  return ERROR_SUCCESS;
}

LONG HiveDb::followSchema() {
  int version = 0;
  int rc = queryInts(db_, "PRAGMA user_version", {&version});
  if (rc != SQLITE_OK)
    return fail(rc);
  asciiFolding_ = version == kAsciiFoldingVersion;
  oldSchema_ = version != 0 && version < kSchemaVersion; // 0: the skeleton, or no schema yet
  return ERROR_SUCCESS;
}

LONG HiveDb::openSkeleton() {
  if (sqlite3_open_v2(":memory:", &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr) !=
      SQLITE_OK) {
    close();
    return ERROR_NOT_ENOUGH_MEMORY;
  }
  int rc = sqlite3_exec(db_, kSchema, nullptr, nullptr, nullptr);
  if (rc == SQLITE_OK && hive_ == Hive::Machine)
    rc = sqlite3_exec(db_, kMachineSkeleton, nullptr, nullptr, nullptr);
  if (rc != SQLITE_OK) {
    close();
    return errorFromSqlite(rc);
  }
  skeleton_ = true;
  behindSkeleton_ = fileId(path());
  return ERROR_SUCCESS;
}

// Opens an existing file. A file that is empty (or holds an unfinished creation) reads as the
// skeleton; one that is not a hive is unusable and is never written.
LONG HiveDb::openFile(bool create) {
  int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX | (create ? SQLITE_OPEN_CREATE : 0);
  mode_ = storeModeFor(path());
  signalPoll = {}; // a network hive's open sets its pace
  sqlite3_vfs *vfs = mode_.network ? networkVfs() : nullptr;
  int rc = sqlite3_open_v2(path().c_str(), &db_, flags, vfs ? vfs->zName : nullptr);
  if (rc != SQLITE_OK) {
    // SQLite falls back to read-only by itself; this is the case where even that failed.
    std::string why = sqlite3_errmsg(db_);
    close();
    LONG error = errorFromSqlite(rc);
    if (create || error == ERROR_NOT_ENOUGH_MEMORY || error == ERROR_BUSY)
      return error;
    return becomeUnusable(error, why);
  }
  readOnly_ = sqlite3_db_readonly(db_, "main") == 1;
  sqlite3_busy_timeout(db_, kBusyTimeoutMs);
  sqlite3_extended_result_codes(db_, 1);
  if (mode_.network)
    if (LONG error = openForNetwork(); error != ERROR_SUCCESS || !db_)
      return error;

  int appId = 0, version = 0, entries = 0, tables = 0;
  rc = queryInts(db_, kShapeQuery, {&appId, &version, &entries, &tables});
  if (rc != SQLITE_OK) {
    LONG error = errorFromSqlite(rc);
    // Busy or out of memory passes; a file that cannot be read is unusable.
    if (isDamageResult(rc) || error == ERROR_ACCESS_DENIED || error == ERROR_REGISTRY_IO_FAILED)
      return becomeUnusable(isDamageResult(rc) ? ERROR_BADDB : error, sqlite3_errmsg(db_));
    close();
    return error;
  }
  // No schema objects at all: a creation that has not committed yet, or never will.
  bool empty = entries == 0;
  if (!empty && (appId != kApplicationId || tables != 2))
    return becomeUnusable(ERROR_BADDB, "not a registry hive");
  asciiFolding_ = !empty && version == kAsciiFoldingVersion;
  oldSchema_ = !empty && version < kSchemaVersion;
  if (!readOnly_ && !mode_.network) {
    // Keep the -wal and -shm files after the last close: readers that may not create them
    // (a read-only directory) can still open the hive.
    int persist = 1;
    sqlite3_file_control(db_, "main", SQLITE_FCNTL_PERSIST_WAL, &persist);
    sqlite3_exec(db_, "PRAGMA synchronous=NORMAL; PRAGMA journal_size_limit=4194304", nullptr,
                 nullptr, nullptr);
    // In place of SQLite's automatic checkpoint, which leaves a large log at its size.
    sqlite3_wal_hook(db_, &HiveDb::onCommit, this);
    // A log left behind (a process killed after writing) goes into the file soon.
    struct stat log {};
    if (::stat((path() + "-wal").c_str(), &log) == 0 && log.st_size > 0) {
      unsaved_ = leftoverLog_ = true;
      lastCommit_ = Clock::now();
    }
  }
  opened_ = fileId(path());
  startHiveUpkeep();
  if (empty) {
    if (create)
      return ERROR_SUCCESS;
    // Nothing in it yet: read the skeleton until the first write creates the schema.
    close();
    return openSkeleton();
  }
  return ERROR_SUCCESS;
}

LONG HiveDb::createFile() {
  // Processes creating the hive at the same time can meet SQLite's deadlock guard while the
  // file changes to WAL (SQLITE_BUSY with no wait); by the next try the other one is done.
  for (int attempt = 0;; ++attempt) {
    LONG error = createFileOnce();
    if (error != ERROR_BUSY || attempt == 200)
      return error;
    std::this_thread::sleep_for(std::chrono::milliseconds(1 + attempt % 5));
  }
}

LONG HiveDb::createFileOnce() {
  close();
  std::string dir = path().substr(0, path().rfind('/'));
  mode_t mode = hive_ == Hive::User && !std::getenv("VELMORA_REGISTRY_DIR") ? 0700 : 0755;
  if (!makeDirectories(dir, mode))
    return errno == ENOSPC ? ERROR_DISK_FULL : ERROR_ACCESS_DENIED;
  LONG error = openFile(true);
  if (error != ERROR_SUCCESS)
    return error;
  if (readOnly_) {
    close();
    return ERROR_ACCESS_DENIED;
  }
  int tables = 0;
  int rc = queryInts(db_, "SELECT count(*) FROM sqlite_master WHERE name='keys'", {&tables});
  if (rc == SQLITE_OK && tables == 1)
    return ERROR_SUCCESS;
  // Set WAL before the first table exists; a racing creator does the same, and the check
  // inside the write transaction makes sure only one of us creates the schema.
  if (rc == SQLITE_OK)
    rc = sqlite3_exec(db_,
                      mode_.network ? "PRAGMA journal_mode=TRUNCATE" : "PRAGMA journal_mode=WAL",
                      nullptr, nullptr, nullptr);
  if (rc == SQLITE_OK)
    rc = sqlite3_exec(db_, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
  if (rc == SQLITE_OK)
    rc = queryInts(db_, "SELECT count(*) FROM sqlite_master WHERE name='keys'", {&tables});
  if (rc == SQLITE_OK && tables == 0) {
    std::string sql = kSchema;
    if (hive_ == Hive::Machine)
      sql += kMachineSkeleton;
    sql += "PRAGMA application_id=" + std::to_string(kApplicationId) +
           "; PRAGMA user_version=" + std::to_string(kSchemaVersion) + ";";
    rc = sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, nullptr);
  }
  if (rc == SQLITE_OK)
    rc = sqlite3_exec(db_, "COMMIT", nullptr, nullptr, nullptr);
  if (rc != SQLITE_OK) {
    if (!sqlite3_get_autocommit(db_))
      sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
    close();
    return errorFromSqlite(rc);
  }
  return ERROR_SUCCESS;
}

} // namespace vlx
