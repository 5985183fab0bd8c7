// RegNotifyChangeKeyValue: one watcher thread per process looks at the watched keys again when
// the hives' change signal moves. A commit of this process signals before its call returns.
// Another process's commit moves the hive's wal-index header, and the committer then wakes every
// process that sleeps on the header's counter (a futex of the shared mapping). Between changes the
// watcher sleeps in the kernel and never polls: file events (hive_events.h) wake it for a hive file
// made or replaced and for a log written by a process that does not wake it; closing a handle or a
// connection wakes it through a word of its own. A hive may ask to be polled instead (signalPoll).
#include "platform/posix/background_thread.h"
#include "platform/posix/registry/hive_events.h"
#include "platform/posix/registry/key_names.h"
#include "platform/posix/registry/reg_shared.h"
#include "platform/posix/registry/store.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <condition_variable>
#include <ctime>
#include <linux/futex.h>
#include <memory>
#include <mutex>
#include <new>
#include <sys/syscall.h>
#include <unistd.h>
#include <vector>

namespace vlx {
namespace {

// After a file event, the header moves once the writer has finished its commit: it is read every
// 2 ms for a while. Without file events, a hive that has no header yet (no file) is looked at
// this often.
constexpr auto kSignalInterval = std::chrono::milliseconds(2);
constexpr auto kCloseFollow = std::chrono::milliseconds(20);
constexpr auto kFullLookInterval = std::chrono::milliseconds(50);

// Sleeps until one of the words no longer holds its value, or it is woken, or `until` passes (none:
// no limit). Shared words are those of a file mapping other processes wake. The list is filled
// under the store's lock and keeps its storage: the sleep itself allocates nothing, so a fork of
// another thread never finds this one inside the allocator.
#ifndef SYS_futex_waitv
#define SYS_futex_waitv 449
#endif
class WaitWords {
public:
  void clear() { waiters_.clear(); }
  void add(const volatile uint32_t *word, uint32_t value, bool shared) {
    constexpr uint32_t kSize32 = 0x02, kPrivate = 128;
    waiters_.push_back(
        Waiter{value, reinterpret_cast<uintptr_t>(word), kSize32 | (shared ? 0 : kPrivate), 0});
  }

  void sleep(const timespec *until) const {
    if (::syscall(SYS_futex_waitv, waiters_.data(), waiters_.size(), 0, until, CLOCK_MONOTONIC) ==
            0 ||
        errno != ENOSYS)
      return;
    // A kernel before 5.16: the watcher's own word, with a bound for the others.
    timespec now{}, left{0, 50 * 1000 * 1000};
    if (until && clock_gettime(CLOCK_MONOTONIC, &now) == 0) {
      int64_t ns = (until->tv_sec - now.tv_sec) * 1000000000LL + (until->tv_nsec - now.tv_nsec);
      ns = std::max<int64_t>(0, std::min<int64_t>(ns, 50 * 1000 * 1000));
      left = {static_cast<time_t>(ns / 1000000000), static_cast<long>(ns % 1000000000)};
    }
    const Waiter &first = waiters_.front();
    ::syscall(SYS_futex, reinterpret_cast<uint32_t *>(static_cast<uintptr_t>(first.uaddr)),
              FUTEX_WAIT_PRIVATE, static_cast<uint32_t>(first.val), &left, nullptr, 0);
  }

private:
  struct Waiter {
    uint64_t val, uaddr;
    uint32_t flags, reserved;
  };
  std::vector<Waiter> waiters_;
};

struct Watch {
  HKEY key;
  bool subtree;
  DWORD filter;
};

// What the watch looks at, as one string: subkey names, values, and the same below when asked.
LONG stateOf(HKEY key, const Watch &w, std::string *out) {
  LONG error = ERROR_SUCCESS;
  if (w.filter & REG_NOTIFY_CHANGE_LAST_SET) {
    std::string name, data;
    DWORD type = 0;
    for (DWORD i = 0; (error = readValueAt(key, i, &name, &type, &data)) == ERROR_SUCCESS; ++i) {
      out->append(name).append(1, '\0').append(std::to_string(type)).append(1, '\0');
      out->append(std::to_string(data.size())).append(1, '\0').append(data);
    }
    if (error != ERROR_NO_MORE_ITEMS)
      return error;
  }
  out->append("\n");
  char child[kMaxKeyNameChars * 4 + 1];
  for (DWORD i = 0;; ++i) {
    DWORD length = sizeof child;
    error = RegEnumKeyExA(key, i, child, &length, nullptr, nullptr, nullptr, nullptr);
    if (error == ERROR_NO_MORE_ITEMS)
      return ERROR_SUCCESS;
    if (error != ERROR_SUCCESS)
      return error;
    if (w.filter & REG_NOTIFY_CHANGE_NAME)
      out->append(child, length).append(1, '\0');
    if (w.subtree) {
      SubKey sub(key, child, KEY_READ);
      // A subkey deleted between listing and opening is a change the next look sees.
      if (sub.status() == ERROR_SUCCESS && (error = stateOf(sub.get(), w, out)) != ERROR_SUCCESS)
        return error;
    }
  }
}

struct Registration {
  Watch watch;
  HANDLE event;
  std::string before;
  std::atomic<bool> done{false};
  void signal() {
    if (!done.exchange(true))
      SetEvent(event); // the event may have been closed meanwhile: nothing to tell then
  }
};

// Registrations a thread made without REG_NOTIFY_THREAD_AGNOSTIC: its exit signals them.
struct ThreadRegistrations {
  std::vector<std::weak_ptr<Registration>> list;
  ~ThreadRegistrations() {
    for (auto &weak : list)
      if (auto r = weak.lock())
        r->signal();
  }
};
thread_local ThreadRegistrations threadRegistrations;

class Watcher {
public:
  static Watcher &get() {
    static auto *watcher = new Watcher; // never destroyed: its thread outlives exit
    return *watcher;
  }

  // The store's mutex held, so that no change lands between the look and the registration.
  void add(const std::shared_ptr<Registration> &r) {
    std::lock_guard<std::mutex> lock(mutex_);
    list_.push_back(r);
    pid_t self = ::getpid();
    if (threadProcess_ != self) {
      threadProcess_ = self;
      running_ = true;
      // Started under the store's lock, which a fork takes: a fork never finds them starting.
      // A forked child makes its own: the parent's inotify instance is not the child's to read.
      files_ = new HiveFileEvents; // never destroyed: its thread reads it until exit
      haveFiles_ = files_->start([this](bool replaced) {
        (replaced ? fileEvent_ : logWritten_) = true;
        poke();
      });
      startBackgroundThread([this] { run(); });
    }
    wake_.notify_one();
    poke();
  }

  // Brings the watcher thread back to look again.
  void poke() {
    if (!running_.load(std::memory_order_relaxed))
      return;
    pokes_.fetch_add(1);
    ::syscall(SYS_futex, reinterpret_cast<uint32_t *>(&pokes_), FUTEX_WAKE_PRIVATE, INT_MAX,
              nullptr, nullptr, 0);
  }

  // Looks at every watched key again and signals those that changed (the store's mutex held).
  void look() {
    std::vector<std::shared_ptr<Registration>> now;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      auto gone = [](const std::shared_ptr<Registration> &r) { return r->done.load(); };
      list_.erase(std::remove_if(list_.begin(), list_.end(), gone), list_.end());
      now = list_;
    }
    // One snapshot per hive: a read transaction for each call would take a lock that every
    // process on the hive contends for.
    OneSnapshot group;
    for (const auto &r : now) {
      std::string state;
      if (stateOf(r->watch.key, r->watch, &state) != ERROR_SUCCESS || state != r->before)
        r->signal();
    }
  }

  bool empty() {
    std::lock_guard<std::mutex> lock(mutex_);
    return list_.empty();
  }

  void holdForFork() { mutex_.lock(); }
  void releaseAfterFork(bool child) {
    if (!child) {
      mutex_.unlock();
      return;
    }
    // The child has no watcher thread: the next watch starts one, which waits on a new condition.
    new (&mutex_) std::mutex();
    new (&wake_) std::condition_variable();
  }

private:
  [[noreturn]] void run() {
    using Clock = std::chrono::steady_clock;
    std::vector<uint64_t> seen;
    std::vector<std::string> watchedPaths;
    WaitWords words;
    Clock::time_point followUntil;
    for (;;) {
      {
        std::unique_lock<std::mutex> lock(mutex_);
        wake_.wait(lock, [this] { return !list_.empty(); });
      }
      const bool event = fileEvent_.exchange(false), written = logWritten_.exchange(false);
      auto now = Clock::now();
      if (event)
        followUntil = now + kCloseFollow;
      Clock::duration wait = Clock::duration::max();
      {
        Store &s = Store::get();
        auto lock = s.enter();
        // Each word is read before what it guards: a change after the read wakes the sleep below.
        words.clear();
        words.add(reinterpret_cast<volatile uint32_t *>(&pokes_), pokes_.load(), false);
        if (event)
          careForHivesNow(); // a hive file replaced or removed is let go of
        std::vector<uint64_t> signal;
        std::vector<std::string> paths;
        bool unknown = false;
        for (HiveDb *h : s.all) {
          h->pollOtherProcesses(); // a network hive: another host's commit moves its signal
          if (const volatile uint32_t *word = h->commitWord())
            words.add(word, *word, true);
          unknown |= !h->changeSignal(&signal);
          // A hive in use may be replaced; one without a header yet waits for its file. The
          // location of one not in use may be out of date.
          if (h->inUse())
            paths.push_back(h->path());
          if (h->signalPoll.count() > 0)
            wait = std::min(wait, h->signalPoll);
        }
        if (unknown && !haveFiles_)
          wait = std::min<Clock::duration>(wait, kFullLookInterval);
        // Folders are found again when hives change or a file event may have made one.
        if (event || paths != watchedPaths) {
          files_->watch(paths);
          watchedPaths = std::move(paths);
        }
        if (signal != seen || (unknown && (event || written || !haveFiles_))) {
          seen = std::move(signal);
          look();
        }
        lookAtHandles();
      }
      if (now < followUntil)
        wait = std::min<Clock::duration>(wait, kSignalInterval);
      if (wait == Clock::duration::max()) {
        words.sleep(nullptr);
        continue;
      }
      timespec until{};
      clock_gettime(CLOCK_MONOTONIC, &until);
      const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(wait).count() +
                      static_cast<int64_t>(until.tv_nsec);
      until.tv_sec += static_cast<time_t>(ns / 1000000000);
      until.tv_nsec = static_cast<long>(ns % 1000000000);
      words.sleep(&until);
    }
  }

  // A closed handle signals its registrations, as on Windows; that needs no look at the keys.
  void lookAtHandles() {
    std::lock_guard<std::mutex> lock(mutex_);
    Store &s = Store::get(); // its mutex held
    for (const auto &r : list_)
      if (!r->done && !isPredefinedKey(r->watch.key) && !s.find(r->watch.key))
        r->signal();
  }

  std::mutex mutex_;
  std::condition_variable wake_;
  std::vector<std::shared_ptr<Registration>> list_;
  pid_t threadProcess_ = 0;
  HiveFileEvents *files_ = nullptr;
  bool haveFiles_ = false;
  std::atomic<bool> running_{false};
  std::atomic<uint32_t> pokes_{0};      // the thread's own futex word
  std::atomic<bool> fileEvent_{false};  // a hive file made, removed or renamed
  std::atomic<bool> logWritten_{false}; // a hive file or log written, settled since
};
static_assert(sizeof(std::atomic<uint32_t>) == sizeof(uint32_t), "a futex word");

std::atomic<uint64_t> lookedAtCommits{0};

} // namespace

void pokeChangeWatcher() { Watcher::get().poke(); }
void holdChangeWatcherForFork() { Watcher::get().holdForFork(); }
void releaseChangeWatcherAfterFork(bool child) { Watcher::get().releaseAfterFork(child); }

void signalWatchersOfCommits() {
  uint64_t now = localCommitCount();
  if (lookedAtCommits.load(std::memory_order_relaxed) == now)
    return;
  lookedAtCommits.store(now, std::memory_order_relaxed);
  Watcher &w = Watcher::get();
  if (!w.empty())
    w.look();
}

} // namespace vlx

using namespace vlx;

extern "C" {

VLX_WIN32_API LSTATUS WINAPI RegNotifyChangeKeyValue(HKEY hKey, BOOL bWatchSubtree,
                                                     DWORD dwNotifyFilter, HANDLE hEvent,
                                                     BOOL fAsynchronous) {
  const DWORD known = REG_NOTIFY_CHANGE_NAME | REG_NOTIFY_CHANGE_ATTRIBUTES |
                      REG_NOTIFY_CHANGE_LAST_SET | REG_NOTIFY_CHANGE_SECURITY;
  if ((dwNotifyFilter & ~(known | REG_NOTIFY_THREAD_AGNOSTIC)) || (fAsynchronous && !hEvent))
    return ERROR_INVALID_PARAMETER;
  LONG error = keyAllows(hKey, KEY_NOTIFY);
  if (error != ERROR_SUCCESS)
    return error;
  HANDLE event = fAsynchronous ? hEvent : CreateEventA(nullptr, TRUE, FALSE, nullptr);
  if (!event)
    return ERROR_NOT_ENOUGH_MEMORY;
  auto r = std::make_shared<Registration>();
  r->watch = Watch{hKey, bWatchSubtree != FALSE, dwNotifyFilter};
  r->event = event;
  {
    // Commits of this process so far are behind the registration: none signals it.
    auto lock = Store::get().enter();
    signalWatchersOfCommits();
    {
      OneSnapshot group;
      error = stateOf(hKey, r->watch, &r->before);
    }
    if (error != ERROR_SUCCESS) {
      if (!fAsynchronous)
        CloseHandle(event);
      return error;
    }
    ResetEvent(event); // registering resets the event, as on Windows
    Watcher::get().add(r);
  }
  if (fAsynchronous) {
    if (!(dwNotifyFilter & REG_NOTIFY_THREAD_AGNOSTIC))
      threadRegistrations.list.push_back(r);
    return ERROR_SUCCESS;
  }
  WaitForSingleObject(event, INFINITE);
  CloseHandle(event);
  return ERROR_SUCCESS;
}

} // extern "C"
