// One hive's SQLite connection: opening and closing it, write transactions and batches.
// The other parts of the connection live beside it: hive_location (where the file is),
// hive_schema (its layout), hive_cache (read views and answers kept in memory), hive_statements
// (the queries), hive_damage (files that cannot be used).
#include "platform/posix/registry/hive_db.h"

#include "platform/posix/registry/sqlite_errors.h"

#include <sqlite3.h>

namespace vlx {

HiveDb::~HiveDb() { close(); }

void HiveDb::close() {
  if (db_) {
    finalizeAll();
    sqlite3_close_v2(db_);
  }
  readOnlyHeader_.close(); // after the connection: see ReadOnlyHeader
  db_ = nullptr;
  skeleton_ = false;
  readOnly_ = false;
  unusable_ = ERROR_SUCCESS;
  behindSkeleton_ = FileId{};
  checked_ = false;
  damageSeen_ = false;
  asciiFolding_ = false;
  oldSchema_ = false;
  opened_ = FileId{};
  unsaved_ = false;
  leftoverLog_ = false;
  commitHeader_ = nullptr;
  snapshot_ = false;
  batchDepth_ = 0;
  batchError_ = ERROR_SUCCESS;
  forgetKeys();
  ++generation_;
  pokeChangeWatcher(); // it may sleep on the header just unmapped
}

void HiveDb::abandonAfterFork() {
  // The parent's locks are not ours; closing through SQLite releases only this process's
  // (none) and leaves the parent's WAL alone, as it holds its shared lock on the file.
  close();
}

// Looks at the location afresh: a missing file reads as the skeleton, and so does one that
// cannot be used.
LONG HiveDb::openFromDisk() {
  Probe probe = probeFile(path());
  if (missing(probe.id))
    return openSkeleton();
  LONG error =
      probe.error != ERROR_SUCCESS ? becomeUnusable(probe.error, probe.why) : openFile(false);
  return unusable_ != ERROR_SUCCESS && db_ ? ERROR_SUCCESS : error;
}

LONG HiveDb::ensureOpen() {
  if (db_ && !skeleton_) {
    if (!damageSeen_)
      return ERROR_SUCCESS;
    becomeUnusable(ERROR_BADDB, sqlite3_errstr(SQLITE_CORRUPT));
    return db_ ? ERROR_SUCCESS : ERROR_NOT_ENOUGH_MEMORY;
  }
  if (db_ && skeleton_) {
    // Stands in until the location changes: a missing file is created, an unusable one
    // replaced, or an empty one filled (whose creation may land in its log only).
    if (snapshot_)
      return ERROR_SUCCESS;
    FileId now = fileId(path());
    if (unusable_ != ERROR_SUCCESS ? now == behindSkeleton_ : missing(now))
      return ERROR_SUCCESS;
    close();
  }
  return openFromDisk();
}

LONG HiveDb::beginWrite() {
  if (batchDepth_ > 0)
    return refused(batchError_);
  endSnapshot();
  LONG error = ensureOpen();
  if (error == ERROR_SUCCESS && unusable_ != ERROR_SUCCESS)
    error = unusable_;
  else if (error == ERROR_SUCCESS && skeleton_)
    error = createFile();
  if (error == ERROR_SUCCESS && readOnly_)
    error = ERROR_ACCESS_DENIED;
  if (error == ERROR_SUCCESS && !checked_)
    error = checkBeforeWriting();
  if (error != ERROR_SUCCESS)
    return refused(error);
  int rc = exec(kBeginImmediate);
  if (rc != SQLITE_OK)
    return refused(fail(rc));
  // The file may be of an older version: as opened, or put in place since by a restore.
  if (error = followOtherCommits(); error == ERROR_SUCCESS && oldSchema_) {
    exec(kRollback);
    if ((error = moveToCurrentSchema()) == ERROR_SUCCESS &&
        (rc = exec(kBeginImmediate)) != SQLITE_OK)
      error = fail(rc);
  }
  if (error != ERROR_SUCCESS)
    return refused(error);
  forgetKeys();
  idKey_ = 0; // another process may have added values since
  ++generation_;
  return ERROR_SUCCESS;
}

LONG HiveDb::finishWrite(LONG result) {
  ++generation_;
  if (batchDepth_ > 0)
    return refused(result);
  if (!db_ || sqlite3_get_autocommit(db_))
    return refused(result); // fail() already undid it
  if (result == ERROR_SUCCESS) {
    int rc = exec(kCommit);
    if (rc == SQLITE_OK) {
      noteCommit();
      return ERROR_SUCCESS;
    }
    return refused(fail(rc));
  }
  exec(kRollback);
  return refused(result);
}

LONG HiveDb::beginBatch() {
  if (batchDepth_ > 0) {
    ++batchDepth_; // nested: joins the outer batch
    return ERROR_SUCCESS;
  }
  LONG error = beginWrite();
  if (error != ERROR_SUCCESS)
    return error;
  batchDepth_ = 1;
  batchError_ = ERROR_SUCCESS;
  touched_.clear();
  return ERROR_SUCCESS;
}

LONG HiveDb::endBatch(bool commit) {
  if (batchDepth_ == 0)
    return ERROR_INVALID_FUNCTION;
  if (--batchDepth_ > 0)
    return commit ? batchError_ : ERROR_SUCCESS;
  LONG undone = batchError_;
  batchError_ = ERROR_SUCCESS;
  std::unordered_set<KeyId> touched;
  touched.swap(touched_);
  ++generation_;
  if (!db_ || sqlite3_get_autocommit(db_))
    return commit ? (undone != ERROR_SUCCESS ? undone : ERROR_REGISTRY_IO_FAILED) : ERROR_SUCCESS;
  if (!commit || undone != ERROR_SUCCESS) {
    exec(kRollback);
    return commit ? refused(undone) : ERROR_SUCCESS;
  }
  for (KeyId key : touched)
    if (LONG error = touch(key); error != ERROR_SUCCESS)
      return error;
  int rc = exec(kCommit);
  if (rc != SQLITE_OK)
    return refused(fail(rc));
  noteCommit();
  return ERROR_SUCCESS;
}

LONG HiveDb::flush() {
  if (batchDepth_ > 0)
    return ERROR_SUCCESS; // the batch's commit is what will need flushing
  LONG error = ensureOpen();
  if (error != ERROR_SUCCESS)
    return error;
  if (skeleton_ || readOnly_)
    return ERROR_SUCCESS; // nothing of ours to make durable
  endSnapshot();
  // Copy what readers allow into the database file, then sync both files: with
  // synchronous=NORMAL, commits reach the WAL without an fsync.
  int rc = sqlite3_wal_checkpoint_v2(db_, "main", SQLITE_CHECKPOINT_PASSIVE, nullptr, nullptr);
  if (rc != SQLITE_OK && rc != SQLITE_BUSY)
    return fail(rc);
  for (int op : {SQLITE_FCNTL_JOURNAL_POINTER, SQLITE_FCNTL_FILE_POINTER}) {
    sqlite3_file *file = nullptr;
    if (sqlite3_file_control(db_, "main", op, &file) != SQLITE_OK || !file || !file->pMethods)
      continue;
    rc = file->pMethods->xSync(file, SQLITE_SYNC_FULL);
    if (rc != SQLITE_OK)
      return errorFromSqlite(rc);
  }
  return ERROR_SUCCESS;
}

} // namespace vlx
