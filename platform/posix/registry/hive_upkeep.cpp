// Keeping the data in the hive file itself: the log is checkpointed and emptied after a large
// commit, once the process has been idle after writing, and at exit, so that a copy of the file
// alone holds the hive; and a connection lets go of a file that was replaced under it. The care
// runs a few times a second while there is work, and sleeps in a process that is idle.
#include "platform/posix/background_thread.h"
#include "platform/posix/never_destroyed.h"
#include "platform/posix/registry/store.h"

#include "platform/posix/registry/hive_schema.h"

#include <sqlite3.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <new>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace vlx {
namespace {

using namespace std::chrono_literals;

constexpr auto kUpkeepPeriod = 250ms;
constexpr auto kIdleAfterWrite = 1s;
// A commit that leaves this many pages in the log is checkpointed at once, as SQLite's own
// automatic checkpoint would be, and the log is emptied too.
constexpr int kLargeLog = 1000;

std::atomic<pid_t> upkeepProcess{0};
std::atomic<uint64_t> localCommits{0};

// With nothing to do for this long, the care sleeps until the next call: an idle process (a host
// in the background, a change watcher) then wakes for nothing.
constexpr auto kLinger = 2s;
// Never destroyed: the thread may be waiting on them while the process exits.
NeverDestroyed<std::mutex> sleepMutexStorage;
std::mutex &sleepMutex = sleepMutexStorage.get();
NeverDestroyed<std::condition_variable> sleepEndsStorage;
std::condition_variable &sleepEnds = sleepEndsStorage.get();
std::atomic<bool> asleep{false};

[[noreturn]] void upkeepLoop() {
  auto busySince = HiveDb::Clock::now();
  for (;;) {
    if (HiveDb::Clock::now() - busySince >= kLinger) {
      std::unique_lock<std::mutex> lock(sleepMutex);
      asleep = true;
      sleepEnds.wait(lock, [] { return !asleep.load(); });
      busySince = HiveDb::Clock::now();
    } else {
      std::this_thread::sleep_for(kUpkeepPeriod);
    }
    Store &s = Store::get();
    // A call in progress is not waited for: the next round comes soon.
    std::unique_lock<std::recursive_mutex> lock(s.mutex, std::try_to_lock);
    if (!lock.owns_lock() || s.grouping > 0) {
      busySince = HiveDb::Clock::now();
      continue;
    }
    auto now = HiveDb::Clock::now();
    for (HiveDb *h : s.all) {
      h->upkeep(now, kIdleAfterWrite);
      if (h->needsUpkeep())
        busySince = now;
    }
  }
}

} // namespace

void startHiveUpkeep() {
  pid_t self = ::getpid();
  pid_t was = upkeepProcess.load(std::memory_order_relaxed);
  if (was == self || !upkeepProcess.compare_exchange_strong(was, self))
    return;
  startBackgroundThread([] { upkeepLoop(); });
}

void holdHiveUpkeepForFork() { sleepMutex.lock(); }

void releaseHiveUpkeepAfterFork(bool child) {
  if (!child) {
    sleepMutex.unlock();
    return;
  }
  // The condition may list the parent's sleeping thread, which the child does not have.
  new (&sleepMutex) std::mutex();
  new (&sleepEnds) std::condition_variable();
  asleep = false;
}

void wakeHiveUpkeep() {
  if (!asleep.load(std::memory_order_relaxed))
    return;
  {
    std::lock_guard<std::mutex> lock(sleepMutex);
    asleep = false;
  }
  sleepEnds.notify_one();
  careForHivesNow(); // what it would have found while it slept: a file replaced, say
}

void careForHivesNow() {
  auto now = HiveDb::Clock::now();
  for (HiveDb *h : Store::get().all)
    h->upkeep(now, kIdleAfterWrite);
}

uint64_t localCommitCount() { return localCommits.load(std::memory_order_relaxed); }

void HiveDb::noteCommit() {
  localCommits.fetch_add(1, std::memory_order_relaxed);
  leftoverLog_ = false;
  // Processes waiting for a commit sleep on the header, which a write alone does not map here.
  if (!commitHeader_ && db_ && !skeleton_ && !readOnly_)
    commitHeader_ = sharedCommitHeader(db_);
  if (commitHeader_)
    wakeCommitWaiters(commitHeader_);
  unsaved_ = true;
  lastCommit_ = Clock::now();
}

int HiveDb::onCommit(void *self, sqlite3 *, const char *, int logPages) {
  if (logPages >= kLargeLog)
    static_cast<HiveDb *>(self)->checkpoint();
  return SQLITE_OK;
}

void HiveDb::checkpoint() {
  if (!db_ || skeleton_ || readOnly_ || damageSeen_ || unusable_ != ERROR_SUCCESS ||
      !sqlite3_get_autocommit(db_) || mode_.network)
    return;
  sqlite3_busy_timeout(db_, 0);
  int rc = sqlite3_wal_checkpoint_v2(db_, "main", SQLITE_CHECKPOINT_TRUNCATE, nullptr, nullptr);
  sqlite3_busy_timeout(db_, kBusyTimeoutMs);
  // Held back by another process: try after another idle spell, unless the log is only one this
  // process found (the processes that use the hive empty it; every opener trying again and
  // again would keep a crowd of idle processes busy).
  if (rc == SQLITE_OK || leftoverLog_)
    unsaved_ = leftoverLog_ = false;
  else
    lastCommit_ = Clock::now();
}

void HiveDb::upkeep(Clock::time_point now, Clock::duration idle) {
  if (!db_ || skeleton_ || batchDepth_ > 0)
    return;
  // Replaced (another file moved into place) or removed: what this connection has open is no
  // longer the hive. Its log is drained into the old file first, so that the next opener does
  // not apply it to the new one; SQLite's close skips that for a file that has moved.
  FileId there = fileId(path());
  if ((there.error == 0 && (there.device != opened_.device || there.inode != opened_.inode)) ||
      missing(there) || !readOnlyHeader_.stillAt(path() + "-shm")) {
    endSnapshot();
    checkpoint();
    close();
    return;
  }
  if (snapshot_ && now - snapshotStart_ > idle)
    endSnapshot();
  if (unsaved_ && !snapshot_ && now - lastCommit_ >= idle)
    checkpoint();
}

bool HiveDb::changeSignal(std::vector<uint64_t> *out) const {
  if (!db_) {
    out->push_back(0); // nothing of it in use; a use opens it and moves this
    return true;
  }
  if (mode_.network && !skeleton_) {
    out->push_back(2 + otherCommits_); // moved by pollOtherProcesses()
    return true;
  }
  CommitStamp stamp = commitHeader_ ? readCommitStamp(commitHeader_) : CommitStamp{};
  if (!stamp.valid) {
    out->push_back(1);
    return false;
  }
  out->insert(out->end(), std::begin(stamp.words), std::end(stamp.words));
  return true;
}

void HiveDb::closeForExit() {
  if (batchDepth_ > 0)
    return; // exit inside a batch: it is not committed
  endSnapshot();
  if (unsaved_)
    checkpoint();
  close(); // the last connection to the file also empties the log
}

} // namespace vlx
