// A hive on a network file system beside one on the local disk, in the same run: a preference
// read that memory answers, a write, and the delay from a write on one host to its read on
// another. Hosts are imitated by two bindfs mounts of one folder (locks forwarded, kernel caching
// off), which needs root, /dev/fuse and bindfs; without them those cases say so and skip.
#include "bench_support.h"

#include <velmora/registry.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <sys/mount.h>

namespace {

using Clock = std::chrono::steady_clock;

// Where each case's hive lives and the mode forced there ("" detects it).
struct Place {
  const char *label;
  int dir; // 0 and 1: folders on the local disk; 2: the two mounts of one folder on that disk
  const char *network;
};
constexpr Place kPlaces[] = {
    {"local disk, local mode (WAL)", 0, "off"},
    {"local disk, network mode forced", 1, "on"},
    {"two FUSE mounts, network mode (detected)", 2, ""},
};

struct Scratch {
  vlx::bench::ScratchDir local, shared;
  std::string mounts[2];
  bool mounted = false;
  Scratch() {
    std::string bindfs = "bindfs --multithreaded --enable-lock-forwarding -o "
                         "attr_timeout=0,entry_timeout=0,negative_timeout=0,direct_io ";
    mounted = true;
    for (int m = 0; m < 2; ++m) {
      mounts[m] = local.dir + "/host" + std::to_string(m);
      std::filesystem::create_directory(mounts[m]);
      const std::string command = bindfs + shared.dir + " " + mounts[m] + " 2>/dev/null";
      mounted = mounted && std::system(command.c_str()) == 0;
    }
  }
  ~Scratch() {
    for (const std::string &m : mounts)
      umount2(m.c_str(), MNT_DETACH);
  }
  // The folder a process of `host` (0 or 1) sees for `place`.
  std::string dir(const Place &place, int host) const {
    return place.dir < 2 ? local.dir + "/disk" + std::to_string(place.dir) : mounts[host];
  }
};
Scratch *scratch = nullptr;

// Points this process's store at `place` as seen from `host`.
bool use(benchmark::State &state, const Place &place, int host) {
  state.SetLabel(place.label);
  if (place.dir == 2 && !scratch->mounted) {
    state.SkipWithError("no FUSE mounts here (needs root, /dev/fuse and bindfs)");
    return false;
  }
  setenv("VELMORA_REGISTRY_DIR", scratch->dir(place, host).c_str(), 1);
  setenv("VELMORA_REGISTRY_NETWORK", *place.network ? place.network : "auto", 1);
  int one = 1;
  return regSetUserValue("General", "Read", intType, "", &one, nullptr) == 1;
}

void BM_ReadHit(benchmark::State &state) {
  const Place &place = kPlaces[state.range(0)];
  if (!use(state, place, 0))
    return;
  CString text;
  int value = 0;
  for (auto _ : state)
    benchmark::DoNotOptimize(regGetUserValue("General", "Read", intType, text, &value, nullptr));
  if (value != 1)
    state.SkipWithError("the preference was not read");
}

void BM_Write(benchmark::State &state) {
  const Place &place = kPlaces[state.range(0)];
  if (!use(state, place, 0))
    return;
  int value = 0;
  for (auto _ : state) {
    ++value;
    if (regSetUserValue("General", "Written", intType, "", &value, nullptr) != 1) {
      state.SkipWithError("a write failed");
      break;
    }
  }
}

// From a write's return on host 1 (a child process) to the first read of the new value on
// host 0 (this process, which keeps reading it, so memory answers it between checks).
void BM_VisibleOnAnotherHost(benchmark::State &state) {
  const Place &place = kPlaces[state.range(0)];
  if (!use(state, place, 0))
    return;
  int ask[2], told[2];
  if (pipe(ask) != 0 || pipe(told) != 0)
    return state.SkipWithError("pipe");
  pid_t writer = fork();
  if (writer == 0) {
    setenv("VELMORA_REGISTRY_DIR", scratch->dir(place, 1).c_str(), 1);
    close(ask[1]);
    for (int value; read(ask[0], &value, sizeof value) == sizeof value;) {
      if (regSetUserValue("General", "Seen", intType, "", &value, nullptr) != 1)
        value = -1;
      if (write(told[1], &value, sizeof value) != sizeof value)
        break;
    }
    _exit(0);
  }
  CString text;
  int value = 0, seen = 0;
  for (auto _ : state) {
    ++value;
    regGetUserValue("General", "Seen", intType, text, &seen, nullptr); // held in memory
    if (write(ask[1], &value, sizeof value) != sizeof value ||
        read(told[0], &seen, sizeof seen) != sizeof seen || seen != value) {
      state.SkipWithError("the other host's write failed");
      break;
    }
    auto written = Clock::now();
    while (regGetUserValue("General", "Seen", intType, text, &seen, nullptr) != 1 || seen != value)
      if (Clock::now() - written > std::chrono::seconds(10)) {
        state.SkipWithError("the write was not seen within 10 s");
        break;
      }
    state.SetIterationTime(std::chrono::duration<double>(Clock::now() - written).count());
  }
  close(ask[1]);
  waitpid(writer, nullptr, 0);
  for (int fd : {ask[0], told[0], told[1]})
    close(fd);
}

BENCHMARK(BM_ReadHit)->DenseRange(0, 2);
BENCHMARK(BM_Write)->DenseRange(0, 2)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_VisibleOnAnotherHost)
    ->DenseRange(0, 2)
    ->Iterations(20)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char **argv) { return vlx::bench::runWithScratch(argc, argv, scratch); }
