// Change watchers at scale: N processes that each register a change notification on one key and
// wait for it, beside N processes that only wait on a pipe. Counted: the processor time all of
// them take while nothing changes, as a share of one core (core_percent), and, after one commit
// by another process, the time until the last of them has been told (last_told_ms) and how many
// were told within 100 ms (told_in_100ms).
#include "bench_support.h"

#include <velmora/registry.h>
#include <velmora/win32.h>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <csignal>
#include <ctime>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr double kWindowSeconds = 2;

double monotonicSeconds() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

// Processor time of process `pid` so far, all its threads, in seconds.
double cpuOf(pid_t pid) {
  clockid_t clock;
  timespec used{};
  if (clock_getcpuclockid(pid, &clock) != 0 || clock_gettime(clock, &used) != 0)
    return 0;
  return static_cast<double>(used.tv_sec) + static_cast<double>(used.tv_nsec) / 1e9;
}

// A child that is ready once it wrote a byte on `ready`; a watcher then sends the time it was
// told on `told`. Both wait on `hold` until the end.
pid_t startChild(bool watch, int ready, int told, int hold) {
  pid_t pid = fork();
  if (pid != 0)
    return pid;
  if (!watch) {
    char c = 1;
    (void)!write(ready, &c, 1);
    (void)!read(hold, &c, 1);
    _exit(0);
  }
  HKEY key = nullptr;
  HANDLE event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  if (RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Velmora\\Watched", 0, KEY_READ, &key) != 0 ||
      RegNotifyChangeKeyValue(key, TRUE, REG_NOTIFY_CHANGE_LAST_SET, event, TRUE) != 0)
    _exit(1);
  char c = 1;
  (void)!write(ready, &c, 1);
  WaitForSingleObject(event, INFINITE);
  const double at = monotonicSeconds();
  (void)!write(told, &at, sizeof at);
  // Goes on waiting, as a watcher does: an exit here would take processor time from the others.
  (void)!read(hold, &c, 1);
  _exit(0);
}

void watchers(benchmark::State &state, bool watch) {
  const int count = static_cast<int>(state.range(0));
  int value = 0;
  regSetUserValue("Watched", "v", intType, "", &value, nullptr); // the hive and key exist
  for (auto _ : state) {
    int ready[2], told[2], hold[2];
    if (pipe(ready) != 0 || pipe(told) != 0 || pipe(hold) != 0) {
      state.SkipWithError("no pipe");
      break;
    }
    std::vector<pid_t> children;
    for (int i = 0; i < count; ++i)
      children.push_back(startChild(watch, ready[1], told[1], hold[0]));
    char c;
    for (int i = 0; i < count; ++i)
      (void)!read(ready[0], &c, 1);
    usleep(3500 * 1000); // past each child's start and its background care's last round
    double before = 0, after = 0;
    for (pid_t pid : children)
      before += cpuOf(pid);
    usleep(static_cast<useconds_t>(kWindowSeconds * 1e6));
    for (pid_t pid : children)
      after += cpuOf(pid);
    state.counters["core_percent"] = 100 * (after - before) / kWindowSeconds;
    if (watch) {
      // Another process commits; every watcher reports when it was told.
      pid_t writer = fork();
      if (writer == 0) {
        int changed = 1;
        _exit(regSetUserValue("Watched", "v", intType, "", &changed, nullptr) ? 0 : 1);
      }
      const double sent = monotonicSeconds();
      double last = 0;
      int inTime = 0;
      for (int i = 0; i < count; ++i) {
        double at = 0;
        if (read(told[0], &at, sizeof at) != sizeof at)
          break;
        last = std::max(last, at - sent);
        inTime += at - sent <= 0.1;
      }
      waitpid(writer, nullptr, 0);
      double spent = 0;
      for (pid_t pid : children)
        spent += cpuOf(pid);
      state.counters["told_cpu_us_each"] = 1e6 * (spent - after) / count;
      state.counters["last_told_ms"] = 1000 * last;
      state.counters["told_in_100ms"] = inTime;
    }
    close(hold[1]);
    for (pid_t pid : children) {
      kill(pid, SIGKILL);
      waitpid(pid, nullptr, 0);
    }
    for (int fd : {ready[0], ready[1], told[0], told[1], hold[0]})
      close(fd);
  }
}

void BM_Baseline_IdleProcesses(benchmark::State &state) { watchers(state, false); }
BENCHMARK(BM_Baseline_IdleProcesses)->Arg(100)->Arg(1000)->Iterations(1)->UseRealTime();

void BM_IdleWatcherProcesses(benchmark::State &state) { watchers(state, true); }
BENCHMARK(BM_IdleWatcherProcesses)->Arg(100)->Arg(1000)->Iterations(1)->UseRealTime();

// The store in the scratch directory.
struct Scratch : vlx::bench::ScratchDir {
  Scratch() { setenv("VELMORA_REGISTRY_DIR", dir.c_str(), 1); }
};
Scratch *current = nullptr;

} // namespace

int main(int argc, char **argv) { return vlx::bench::runWithScratch(argc, argv, current); }
