// A hive in network mode: a rollback journal under fcntl locks in place of WAL, and answers kept
// in memory for a bounded time. Other hosts' commits move no memory this host can see, and a look
// at the file costs a lock round trip, so memory is checked against the file (SQLite's
// data_version, read under its shared lock, which makes an NFS client revalidate its cache) at
// most every kRecheckMs, never per read; change notification polls at the same pace.
#include "platform/posix/registry/store.h"

#include "platform/posix/registry/hive_schema.h"
#include "platform/posix/registry/sqlite_errors.h"

#include <sqlite3.h>

#include <algorithm>
#include <chrono>
#include <random>
#include <thread>

namespace vlx {
namespace {

// Another process's commit is read here at most this long after it landed.
constexpr int64_t kRecheckMs = 250;
// A file in WAL mode is tried this many times per open, and again after kWalRetryMs.
constexpr int kWalTries = 10;
constexpr int64_t kWalRetryMs = 1000;

// Waits for a lock another process holds, in short random steps: SQLite's own waits grow to
// 100 ms, which leaves a lock that is held for a few ms free most of the time while writers of
// other hosts sleep. Each try costs a lock request to the server, so the steps grow to 20 ms.
int waitForLock(void *, int tries) {
  thread_local int64_t waited = 0;
  thread_local std::minstd_rand random(static_cast<unsigned>(coarseMilliseconds()));
  if (tries == 0)
    waited = 0;
  if (waited >= kBusyTimeoutMs)
    return 0;
  const int longest = std::min(20, 2 + tries / 8);
  const int step = 1 + static_cast<int>(random() % static_cast<unsigned>(longest));
  std::this_thread::sleep_for(std::chrono::milliseconds(step));
  waited += step;
  return 1;
}

} // namespace

bool HiveDb::checkedRecently() const {
  return mode_.network && freshUntil_ != 0 && coarseMilliseconds() < freshUntil_;
}

void HiveDb::noteNetworkSnapshot(bool otherCommit) {
  // Never checked, or a write since (whose reads may have kept what its rollback undid).
  if (otherCommit || freshUntil_ == 0)
    forgetKeys();
  if (otherCommit)
    ++otherCommits_;
  freshUntil_ = coarseMilliseconds() + kRecheckMs;
}

LONG HiveDb::openForNetwork() {
  // Other hosts' commits reach no file event and wake no waiter here: watchers poll.
  signalPoll = std::chrono::milliseconds(kRecheckMs);
  // TRUNCATE keeps the journal file in place: whether a journal is hot is then read from an
  // open file, which an NFS client revalidates on open, not from a name it may cache as absent.
  sqlite3_exec(db_, "PRAGMA journal_mode=TRUNCATE", nullptr, nullptr, nullptr);
  sqlite3_busy_handler(db_, waitForLock, nullptr);
  if (!headerSaysWal(db_))
    return ERROR_SUCCESS;
  if (readOnly_)
    return becomeUnusable(ERROR_ACCESS_DENIED,
                          "is in WAL mode, which is not safe on a network file system, and this "
                          "process may not take it out of it");
  int rc = SQLITE_BUSY;
  sqlite3_busy_timeout(db_, 0); // a WAL user keeps its lock while it has the file open
  if (coarseMilliseconds() >= walRetryAt_)
    for (int attempt = 0; attempt < kWalTries && (rc = leaveWal(db_)) == SQLITE_BUSY; ++attempt)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
  sqlite3_busy_handler(db_, waitForLock, nullptr);
  if (rc == SQLITE_OK)
    return ERROR_SUCCESS;
  // Another process has it open in WAL mode (a host that sees the folder as local, or one with
  // VELMORA_REGISTRY_NETWORK=off): using it now could read torn state, so the call fails.
  walRetryAt_ = coarseMilliseconds() + kWalRetryMs;
  close();
  return errorFromSqlite(rc);
}

bool HiveDb::pollOtherProcesses() {
  if (!mode_.network || !db_ || skeleton_ || snapshot_ || batchDepth_ > 0 || checkedRecently())
    return false;
  uint64_t before = otherCommits_;
  if (startSnapshot() == ERROR_SUCCESS)
    endSnapshot();
  return otherCommits_ != before;
}

} // namespace vlx
