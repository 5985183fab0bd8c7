// The kernel's file events on the hives' folders, for the change watcher: a hive file made,
// replaced or removed, and a log written by a process that does not wake those waiting for its
// commits (another program, or a library from before the wake-ups).
#pragma once

#include <chrono>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <sys/types.h>
#include <vector>

namespace vlx {

class HiveFileEvents {
public:
  // Starts a thread that sleeps until events come and then calls `onEvents` for those that
  // concern a hive: `replaced` when a file was made, removed or renamed; otherwise only written,
  // told once the writes have settled for kLogSettle. False when this process can have no file
  // events (the per-user limit of inotify instances).
  bool start(std::function<void(bool replaced)> onEvents);
  static constexpr std::chrono::milliseconds kLogSettle{20};
  // Watches the folder of each hive file for the file and its log, or the nearest folder above
  // it that exists yet for the making of the next one.
  void watch(const std::vector<std::string> &hivePaths);

private:
  bool concerns(int watch, const char *name);
  void scan(const char *buffer, ssize_t n, bool *concerned, bool *replaced);

  int fd_ = -1;
  std::mutex mutex_;
  std::map<std::string, int> watched_;         // folder -> watch
  std::map<int, std::set<std::string>> names_; // watch -> names it is for
};

} // namespace vlx
