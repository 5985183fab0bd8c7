// The in-memory answers of a hive connection and the read views they belong to.
//
// Read views. Keys, the paths they were found by, and values read are kept in memory and serve
// later calls while no process has committed to the hive since: every commit moves SQLite's
// wal-index header, which all processes share, and checking it costs no lock. A read that memory
// cannot answer starts a snapshot lazily. The store ends a snapshot at the end of every call but an
// open that leaves a handle, when a call starts from a predefined root, before any write, once
// another commit has moved the header and once it is older than about a millisecond; so a look-up
// "open, open, open, query" pays for at most one snapshot, and no process keeps one while it is
// idle. Handles hold key row ids, which are never reused (AUTOINCREMENT), so they outlive views and
// a deleted key is found by its id. Writes run in their own BEGIN IMMEDIATE transaction, or join
// the batch of inHiveTransaction.
#include "platform/posix/registry/hive_db.h"

#include "platform/posix/registry/hive_query.h"

#include <sqlite3.h>

namespace vlx {

void HiveDb::forgetKeys() {
  children_.clear();
  existing_.clear();
  paths_.clear();
  values_.clear();
  valueBytes_ = 0;
  stamp_ = CommitStamp{};
  stampCheckedIn_ = 0;
  freshUntil_ = 0;
}

const std::string &HiveDb::pathKey(KeyId from, std::string_view path) {
  pathKey_.assign(reinterpret_cast<const char *>(&from), sizeof from);
  pathKey_.append(path.data(), path.size());
  return pathKey_;
}

bool HiveDb::knownPath(KeyId from, std::string_view path, KeyId *id, size_t *components) {
  auto known = paths_.find(pathKey(from, path));
  if (known == paths_.end())
    return false;
  *id = known->second.id;
  *components = known->second.components;
  return true;
}

void HiveDb::rememberPath(KeyId from, std::string_view path, KeyId id, size_t components) {
  constexpr size_t kMaxPaths = 1024; // the paths a program reads over and over are few
  if (paths_.size() >= kMaxPaths)
    paths_.clear();
  paths_.insert_or_assign(pathKey(from, path), KnownPath{id, components});
}

void HiveDb::rememberValue(KeyId key, std::string folded, bool found, DWORD type,
                           const std::string &data) {
  // Bounded, and large data is read again each time rather than held.
  constexpr size_t kMaxEntry = 64 * 1024, kMaxTotal = 1024 * 1024;
  if (data.size() > kMaxEntry)
    return;
  if (valueBytes_ + data.size() + folded.size() > kMaxTotal) {
    values_.clear();
    valueBytes_ = 0;
  }
  valueBytes_ += data.size() + folded.size();
  values_.insert_or_assign(std::make_pair(key, std::move(folded)), KnownValue{found, type, data});
}

void HiveDb::endSnapshot() {
  if (!snapshot_)
    return;
  snapshot_ = false;
  if (db_ && !sqlite3_get_autocommit(db_) && exec(kCommit) != SQLITE_OK)
    exec(kRollback);
}

void HiveDb::expireSnapshot(Clock::time_point now, Clock::duration maxAge) {
  if (snapshot_ &&
      (now - snapshotStart_ > maxAge || (commitHeader_ && !stillStamped(commitHeader_, stamp_))))
    endSnapshot();
}

LONG HiveDb::beginRead() {
  if (batchDepth_ > 0)
    return batchError_ != ERROR_SUCCESS ? batchError_ : ERROR_SUCCESS;
  if (snapshot_)
    return ERROR_SUCCESS;
  if (commitHeader_ && (stampCheckedIn_ == callNumber || stillStamped(commitHeader_, stamp_))) {
    stampCheckedIn_ = callNumber;
    return ERROR_SUCCESS; // nothing committed since: memory answers, or a miss starts a snapshot
  }
  if (checkedRecently())
    return ERROR_SUCCESS;
  return startSnapshot();
}

LONG HiveDb::needSnapshot() {
  if (batchDepth_ > 0)
    return batchError_;
  if (snapshot_ || (db_ && !sqlite3_get_autocommit(db_)))
    return ERROR_SUCCESS; // a snapshot or this connection's write transaction
  return startSnapshot();
}

// Only another connection's commit moves the data version (ours move the generation themselves),
// so enumeration cursors and merged lists outlive transactions that saw no change. Such a commit
// may have put a file of any version in place (a restored backup): the layout is read again.
LONG HiveDb::followOtherCommits() {
  Query version(db_, stmt(kDataVersion));
  int rc = version.step();
  if (rc != SQLITE_ROW)
    return fail(rc);
  if (version.integer(0) == dataVersion_)
    return ERROR_SUCCESS;
  dataVersion_ = version.integer(0);
  ++generation_;
  return followSchema();
}

LONG HiveDb::startSnapshot() {
  LONG error = ensureOpen();
  if (error != ERROR_SUCCESS)
    return error;
  // Taken before the snapshot starts: a commit after it moves the header on, so what this
  // snapshot reads is kept only until then.
  CommitStamp before = commitHeader_ ? readCommitStamp(commitHeader_) : CommitStamp{};
  int rc = exec(kBegin);
  if (rc != SQLITE_OK)
    return fail(rc);
  snapshot_ = true;
  snapshotStart_ = Clock::now();
  if (!mode_.network && !(before == stamp_)) {
    forgetKeys();
    stamp_ = before;
  }
  // Reading the version starts the snapshot. Only another connection's commit moves it (ours
  // move the generation themselves), so enumeration cursors and merged lists outlive snapshots
  // that saw no change.
  const auto seen = dataVersion_;
  if ((error = followOtherCommits()) != ERROR_SUCCESS)
    return error;
  if (mode_.network)
    noteNetworkSnapshot(dataVersion_ != seen);
  // The shared header exists once a snapshot has started. A read-only connection may only have
  // a private copy of it, which no other process updates: it maps the file's own.
  if (!commitHeader_ && !skeleton_ && !mode_.network)
    commitHeader_ = readOnly_ ? readOnlyHeader_.map(path() + "-shm") : sharedCommitHeader(db_);
  return ERROR_SUCCESS;
}

} // namespace vlx
