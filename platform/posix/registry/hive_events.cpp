// File events on the hives' folders through inotify: one instance per watching process, read by a
// thread that blocks in read() and so costs nothing while no event comes. Events of other files
// in the same folders (a hive folder's ancestors are busy ones, such as ~/.config) are dropped.
#include "platform/posix/registry/hive_events.h"
#include "platform/posix/background_thread.h"

#include <cerrno>
#include <poll.h>
#include <string_view>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace vlx {

bool HiveFileEvents::start(std::function<void(bool replaced)> onEvents) {
  fd_ = inotify_init1(IN_CLOEXEC);
  if (fd_ < 0)
    return false;
  startBackgroundThread([this, onEvents = std::move(onEvents)] {
    alignas(inotify_event) char buffer[4096];
    for (;;) {
      const ssize_t n = ::read(fd_, buffer, sizeof buffer);
      if (n <= 0 && errno != EINTR)
        return;
      bool concerned = false, replaced = false;
      scan(buffer, n, &concerned, &replaced);
      if (concerned && !replaced) {
        // Only written: a committer of this library wakes the watchers itself, and a look now
        // would find the commit unfinished. One look once it has settled covers the others,
        // for all the writes of a commit at once; a thousand watchers polling meanwhile would
        // keep the committer from the processor.
        std::this_thread::sleep_for(kLogSettle);
        pollfd more{fd_, POLLIN, 0};
        ssize_t got = 0;
        while (::poll(&more, 1, 0) == 1 && (got = ::read(fd_, buffer, sizeof buffer)) > 0)
          scan(buffer, got, &concerned, &replaced);
      }
      if (concerned)
        onEvents(replaced);
    }
  });
  return true;
}

void HiveFileEvents::scan(const char *buffer, ssize_t n, bool *concerned, bool *replaced) {
  constexpr uint32_t kReplacing = IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO;
  for (ssize_t at = 0; at + static_cast<ssize_t>(sizeof(inotify_event)) <= n;) {
    const auto *event = reinterpret_cast<const inotify_event *>(buffer + at);
    if (event->mask & IN_Q_OVERFLOW)
      *concerned = *replaced = true; // events were lost: any hive may have been replaced
    else if (event->len && concerns(event->wd, event->name)) {
      *concerned = true;
      *replaced |= (event->mask & kReplacing) != 0;
    }
    at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
  }
}

bool HiveFileEvents::concerns(int watch, const char *name) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto names = names_.find(watch);
  if (names == names_.end())
    return false;
  // Compared in place: this thread allocates nothing outside the store's lock.
  const std::string_view entry = name, log = "-wal";
  for (const std::string &wanted : names->second)
    if (entry == wanted ||
        (entry.size() == wanted.size() + log.size() && entry.substr(0, wanted.size()) == wanted &&
         entry.substr(wanted.size()) == log))
      return true;
  return false;
}

void HiveFileEvents::watch(const std::vector<std::string> &hivePaths) {
  if (fd_ < 0)
    return;
  std::lock_guard<std::mutex> lock(mutex_);
  for (const std::string &hive : hivePaths) {
    std::string dir = hive.substr(0, hive.rfind('/')), name = hive.substr(hive.rfind('/') + 1);
    struct stat st;
    while (!dir.empty() && (::stat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))) {
      name = dir.substr(dir.rfind('/') + 1);
      dir = dir.substr(0, dir.rfind('/'));
    }
    if (dir.empty())
      dir = "/";
    auto known = watched_.find(dir);
    if (known == watched_.end()) {
      const int watch = inotify_add_watch(fd_, dir.c_str(),
                                          IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO |
                                              IN_MODIFY | IN_ONLYDIR);
      if (watch < 0)
        continue;
      known = watched_.emplace(dir, watch).first;
    }
    names_[known->second].insert(name);
  }
}

} // namespace vlx
