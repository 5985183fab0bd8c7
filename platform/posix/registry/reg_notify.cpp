// RegNotifyChangeKeyValue: one watcher per process looks at the watched keys again when the
// hives' change signal moves. A commit of this process signals before its call returns; another
// process's commit writes the log, whose file event wakes the watcher thread, and moves the
// wal-index header, which it then follows.
#include "platform/posix/registry/key_names.h"
#include "platform/posix/registry/reg_shared.h"
#include "platform/posix/registry/store.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <poll.h>
#include <set>
#include <sys/inotify.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace vlx {
namespace {

// How often the watcher reads the hives' headers after a file event, and for how long; how often
// it looks at every watched key when a hive has no header to read (not created yet), and at the
// handles (a closed one signals).
constexpr auto kSignalInterval = std::chrono::milliseconds(1);
constexpr auto kCloseFollow = std::chrono::milliseconds(20);
constexpr auto kFullLookInterval = std::chrono::milliseconds(50);
constexpr auto kHandleLookInterval = std::chrono::milliseconds(250);

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
      std::thread([this] { run(); }).detach();
    }
    wake_.notify_one();
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

private:
  [[noreturn]] void run() {
    using Clock = std::chrono::steady_clock;
    // File events in the hives' directories wake the thread: a commit writes the log. The
    // header moves just after the write, so it is then read every millisecond for a while.
    int events = inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
    std::set<std::string> watched;
    auto lastFull = Clock::now();
    Clock::time_point closely;
    std::vector<uint64_t> seen;
    bool unknown = false;
    for (;;) {
      {
        std::unique_lock<std::mutex> lock(mutex_);
        wake_.wait(lock, [this] { return !list_.empty(); });
      }
      auto now = Clock::now();
      if (events < 0 || now < closely) {
        std::this_thread::sleep_for(kSignalInterval);
      } else {
        pollfd p{events, POLLIN, 0};
        auto wait = unknown ? kFullLookInterval : kHandleLookInterval;
        if (::poll(&p, 1, static_cast<int>(wait.count())) > 0) {
          char drain[4096];
          while (::read(events, drain, sizeof drain) > 0) {
          }
          closely = Clock::now() + kCloseFollow;
        }
      }
      Store &s = Store::get();
      std::lock_guard<std::recursive_mutex> lock(s.mutex);
      std::vector<uint64_t> signal;
      unknown = false;
      for (HiveDb *h : s.all) {
        unknown |= !h->changeSignal(&signal);
        std::string dir = h->path().substr(0, h->path().rfind('/') + 1);
        if (events >= 0 && !watched.count(dir) &&
            inotify_add_watch(events, dir.c_str(),
                              IN_MODIFY | IN_CREATE | IN_DELETE | IN_MOVED_TO | IN_MOVED_FROM) >= 0)
          watched.insert(dir);
      }
      now = Clock::now();
      const bool periodic = now - lastFull >= (unknown ? kFullLookInterval : kHandleLookInterval);
      if (signal != seen || (periodic && unknown)) {
        seen = std::move(signal);
        lastFull = now;
        look();
      } else if (periodic) {
        lastFull = now;
        lookAtHandles();
      }
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
};

std::atomic<uint64_t> lookedAtCommits{0};

} // namespace

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
  REGSAM access = 0;
  LONG error = keyAccess(hKey, &access);
  if (error != ERROR_SUCCESS)
    return error;
  if (!(access & KEY_NOTIFY))
    return ERROR_ACCESS_DENIED;
  HANDLE event = fAsynchronous ? hEvent : CreateEventA(nullptr, TRUE, FALSE, nullptr);
  if (!event)
    return ERROR_NOT_ENOUGH_MEMORY;
  auto r = std::make_shared<Registration>();
  r->watch = Watch{hKey, bWatchSubtree != FALSE, dwNotifyFilter};
  r->event = event;
  {
    // Commits of this process so far are behind the registration: none signals it.
    std::lock_guard<std::recursive_mutex> lock(Store::get().mutex);
    signalWatchersOfCommits();
    if ((error = stateOf(hKey, r->watch, &r->before)) != ERROR_SUCCESS) {
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
