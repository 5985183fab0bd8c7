// Many files in one folder: 20,000 made one after another with CreateFileA(CREATE_NEW), which
// must find every other case of each name first, beside open(O_CREAT|O_EXCL) and close of the same
// names; and a name missing in a folder of 100,000 entries (as written, and in another case of an
// entry) beside the exact name found.
#include "bench_support.h"

#include <velmora/win32.h>

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Drive C: of the run.
struct Scratch : vlx::bench::ScratchDir {
  Scratch() { setenv("VELMORA_DRIVE_C", dir.c_str(), 1); }
};
Scratch *scratch = nullptr;
constexpr int kCreated = 20000;
constexpr int kLarge = 100000;

std::string fileName(int i) {
  char name[32];
  std::snprintf(name, sizeof name, "file%06d.dat", i);
  return name;
}

// A fresh folder for each iteration, so every one makes its names into an empty folder.
std::string freshFolder(benchmark::State &state, const char *kind) {
  static int made = 0;
  const std::string name = std::string(kind) + std::to_string(++made);
  if (mkdir((scratch->dir + "/" + name).c_str(), 0700) != 0)
    state.SkipWithError("no folder");
  return name;
}

void BM_Baseline_OpenCreateExclusive(benchmark::State &state) {
  for (auto _ : state) {
    state.PauseTiming();
    const std::string folder = scratch->dir + "/" + freshFolder(state, "posix") + "/";
    state.ResumeTiming();
    for (int i = 0; i < kCreated; ++i) {
      const int fd =
          open((folder + fileName(i)).c_str(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, 0666);
      if (fd < 0)
        state.SkipWithError("not created");
      close(fd);
    }
  }
  state.SetItemsProcessed(state.iterations() * kCreated);
}
BENCHMARK(BM_Baseline_OpenCreateExclusive)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_CreateFileNew(benchmark::State &state) {
  for (auto _ : state) {
    state.PauseTiming();
    const std::string folder = "C:\\" + freshFolder(state, "win") + "\\";
    state.ResumeTiming();
    for (int i = 0; i < kCreated; ++i) {
      HANDLE h = CreateFileA((folder + fileName(i)).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
      if (h == INVALID_HANDLE_VALUE)
        state.SkipWithError("not created");
      CloseHandle(h);
    }
  }
  state.SetItemsProcessed(state.iterations() * kCreated);
}
BENCHMARK(BM_CreateFileNew)->Unit(benchmark::kMillisecond)->Iterations(3);

// The folder of kLarge entries, made once.
const std::string &largeFolder() {
  static const std::string folder = [] {
    const std::string path = scratch->dir + "/large";
    mkdir(path.c_str(), 0700);
    for (int i = 0; i < kLarge; ++i)
      close(open((path + "/" + fileName(i)).c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0600));
    return path;
  }();
  return folder;
}

void attributes(benchmark::State &state, const char *name, bool exists) {
  largeFolder();
  const std::string path = std::string("C:\\large\\") + name;
  for (auto _ : state)
    if ((GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES) != exists)
      state.SkipWithError("wrong answer");
}

void BM_Baseline_ExactNameInLargeFolder(benchmark::State &state) {
  attributes(state, "file050000.dat", true);
}
BENCHMARK(BM_Baseline_ExactNameInLargeFolder);

void BM_OtherCaseInLargeFolder(benchmark::State &state) {
  attributes(state, "FILE050000.DAT", true);
}
BENCHMARK(BM_OtherCaseInLargeFolder);

void BM_MissingNameInLargeFolder(benchmark::State &state) {
  attributes(state, "missing.dat", false);
}
BENCHMARK(BM_MissingNameInLargeFolder);

} // namespace

int main(int argc, char **argv) { return vlx::bench::runWithScratch(argc, argv, scratch); }
