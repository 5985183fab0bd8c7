// Damage handling: failed statements, files that cannot be used, integrity checks, and why a
// write was refused.
#include "platform/posix/registry/hive_db.h"

#include "platform/posix/registry/hive_schema.h"
#include "platform/posix/registry/name_migration.h"
#include "platform/posix/registry/sqlite_errors.h"

#include <sqlite3.h>

#include <algorithm>

namespace vlx {
namespace {

// Why the latest write on this thread was refused, for takeRegistryWriteError().
thread_local LONG lastWriteError = ERROR_SUCCESS;

} // namespace

std::vector<HiveCheck> &unusableHiveNotes() {
  static auto *notes = new std::vector<HiveCheck>; // never destroyed: calls may come during exit
  return *notes;
}

LONG takeRegistryWriteError() {
  LONG error = lastWriteError;
  lastWriteError = ERROR_SUCCESS;
  return error;
}

LONG HiveDb::refused(LONG error) {
  if (error != ERROR_SUCCESS)
    lastWriteError = error;
  return error;
}

// A failed statement: drop the read snapshot, note a batch SQLite already undid, and remember
// a damaged file: a batch on it is undone, and the next operation reads the skeleton instead.
LONG HiveDb::fail(int rc) {
  const bool damage = isDamageResult(rc);
  LONG error = damage ? ERROR_BADDB : errorFromSqlite(rc);
  if (damage && db_) {
    damageSeen_ = true;
    // Closing must not checkpoint the log into a damaged file.
    sqlite3_db_config(db_, SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 1, nullptr);
  }
  if (db_) {
    if (batchDepth_ > 0) {
      if (sqlite3_get_autocommit(db_) || damage)
        batchError_ = error;
    } else if (!sqlite3_get_autocommit(db_)) {
      exec(kRollback);
    }
  }
  snapshot_ = false;
  forgetKeys();
  ++generation_;
  return error;
}

// Puts the skeleton in place of a file that cannot be used, without touching the file.
LONG HiveDb::becomeUnusable(LONG error, const std::string &why) {
  if (db_)
    sqlite3_db_config(db_, SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 1, nullptr);
  close();
  LONG opened = openSkeleton();
  if (opened != ERROR_SUCCESS)
    return opened;
  unusable_ = error;
  std::vector<HiveCheck> &notes = unusableHiveNotes();
  if (std::none_of(notes.begin(), notes.end(),
                   [&](const HiveCheck &c) { return c.hive == hive_ && c.path == path(); }))
    notes.push_back(HiveCheck{hive_, path(), true, false, why, false, {}, false, {}, {}});
  return error;
}

// Damage that SQLite notices only on reaching the damaged pages: looked for before this
// connection's first write, so that nothing is written on top of it.
LONG HiveDb::checkBeforeWriting() {
  sqlite3_stmt *s = nullptr;
  int rc = sqlite3_prepare_v2(db_, "PRAGMA quick_check(1)", -1, &s, nullptr);
  std::string line;
  if (rc == SQLITE_OK && (rc = sqlite3_step(s)) == SQLITE_ROW) {
    const unsigned char *text = sqlite3_column_text(s, 0);
    line = text ? reinterpret_cast<const char *>(text) : "";
    rc = SQLITE_OK;
  }
  sqlite3_finalize(s);
  if (rc == SQLITE_OK && line == "ok") {
    checked_ = true;
    return ERROR_SUCCESS;
  }
  if (rc != SQLITE_OK && !isDamageResult(rc))
    return errorFromSqlite(rc); // busy or out of memory: the next write checks again
  return becomeUnusable(ERROR_BADDB, rc == SQLITE_OK ? line : sqlite3_errmsg(db_));
}

HiveCheck HiveDb::check() {
  HiveCheck result{hive_, resolveHivePath(hive_), false, true, {}, false, {}, false, {}, {}};
  StoreMode mode = storeModeFor(result.path);
  result.network = mode.network;
  result.mode = mode.why;
  Probe probe = probeFile(result.path);
  result.exists = !missing(probe.id);
  if (!result.exists)
    return result;
  if (probe.error != ERROR_SUCCESS) {
    result.ok = false;
    result.what = probe.why;
    return result;
  }
  // A writer killed mid-commit leaves a journal that the next reader that may write rolls back;
  // the store's own connection is one, so the check reads the hive as every process will.
  if (mode.network && batchDepth_ == 0 && !snapshot_ && startSnapshot() == ERROR_SUCCESS)
    endSnapshot();
  sqlite3 *db = nullptr;
  sqlite3_vfs *vfs = mode.network ? networkVfs() : nullptr;
  int rc = sqlite3_open_v2(result.path.c_str(), &db, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX,
                           vfs ? vfs->zName : nullptr);
  int version = 0, entries = 0, tables = 0;
  if (rc == SQLITE_OK && mode.network && headerSaysWal(db)) {
    // Reading it here would need the WAL's shared memory; checking waits for it to leave WAL.
    result.modeNote = "the file is still in WAL mode: the next process here that may write it "
                      "takes it out, once no process (on any host) has it open in WAL mode";
    sqlite3_close_v2(db);
    return result;
  }
  if (rc == SQLITE_OK) {
    sqlite3_db_config(db, SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 1, nullptr);
    sqlite3_busy_timeout(db, kBusyTimeoutMs);
    int appId = 0;
    rc = queryInts(db, kShapeQuery, {&appId, &version, &entries, &tables});
    if (rc == SQLITE_OK && entries > 0 && (appId != kApplicationId || tables != 2)) {
      result.ok = false;
      result.what = "not a registry hive";
    }
  }
  if (rc == SQLITE_OK && result.ok) {
    sqlite3_stmt *s = nullptr;
    rc = sqlite3_prepare_v2(db, "PRAGMA integrity_check(1)", -1, &s, nullptr);
    if (rc == SQLITE_OK) {
      rc = sqlite3_step(s);
      if (rc == SQLITE_ROW) {
        const unsigned char *text = sqlite3_column_text(s, 0);
        std::string line = text ? reinterpret_cast<const char *>(text) : "";
        if (line != "ok") {
          result.ok = false;
          result.what = line;
        }
        rc = SQLITE_OK;
      }
    }
    sqlite3_finalize(s);
  }
  if (rc == SQLITE_OK && result.ok && entries > 0 && version == kAsciiFoldingVersion) {
    result.oldNames = true;
    rc = plannedMerges(db, &result.merges);
  } else if (rc == SQLITE_OK && result.ok && entries > 0) {
    rc = recordedMerges(db, &result.merges);
  }
  if (rc != SQLITE_OK && db && sqlite3_extended_errcode(db) == SQLITE_READONLY_ROLLBACK) {
    result.modeNote = "a write was cut short: the next process that may write the hive undoes it";
  } else if (rc != SQLITE_OK) {
    result.ok = false;
    result.what = db ? sqlite3_errmsg(db) : sqlite3_errstr(rc);
  }
  sqlite3_close_v2(db);
  return result;
}

} // namespace vlx
