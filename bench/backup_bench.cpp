// su_CreateBackupOfFile of a 256 MiB file beside cp of the same file, in one run.
#include <velmora/afx.h>
#include <velmora/files.h>

#include "bench_support.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

constexpr std::size_t kFileSize = std::size_t{256} << 20;

// The document, its backups and the registry live in one scratch directory, removed at exit.
struct Scratch : vlx::bench::ScratchDir {
  Scratch() {
    setenv("VELMORA_REGISTRY_DIR", (dir + "/registry").c_str(), 1);
    std::filesystem::create_directory(dir + "/registry");
    static const vlx::StringResource strings[] = {{10122, "Backup of "}};
    vlx::registerStringTable(AfxGetResourceHandle(), strings);

    // Random content, so no layer can shortcut the copy by compressing or deduplicating.
    document = dir + "/drawing.dwg";
    std::ofstream out(document, std::ios::binary);
    std::mt19937_64 random(42);
    std::vector<std::uint64_t> block((1 << 20) / sizeof(std::uint64_t));
    for (std::size_t written = 0; written < kFileSize; written += block.size() * 8) {
      std::generate(block.begin(), block.end(), random);
      out.write(reinterpret_cast<const char *>(block.data()),
                static_cast<std::streamsize>(block.size() * 8));
    }
    windowsDocument = document;
    std::replace(windowsDocument.begin(), windowsDocument.end(), '/', '\\');
  }
  std::string document;
  std::string windowsDocument;
};

Scratch *scratch = nullptr;

void BM_BackupOfFile(benchmark::State &state) {
  for (auto _ : state) {
    if (!su_CreateBackupOfFile(scratch->windowsDocument.c_str())) {
      state.SkipWithError("su_CreateBackupOfFile failed");
      break;
    }
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kFileSize));
}

// The same copy by the system's cp, started the way a shell would start it: over the previous
// copy (range 0), or after removing it (range 1), as the backup removes the previous backup.
void BM_CpOfFile(benchmark::State &state) {
  const std::string target = scratch->dir + "/cp copy.dwg";
  const bool removeFirst = state.range(0) != 0;
  for (auto _ : state) {
    if (removeFirst)
      unlink(target.c_str());
    const char *argv[] = {"cp", scratch->document.c_str(), target.c_str(), nullptr};
    if (!vlx::bench::runToEnd(const_cast<char *const *>(argv))) {
      state.SkipWithError("cp failed");
      break;
    }
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kFileSize));
}

BENCHMARK(BM_BackupOfFile)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(10)
    ->Repetitions(5)
    ->DisplayAggregatesOnly(true);
BENCHMARK(BM_CpOfFile)
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(10)
    ->Repetitions(5)
    ->DisplayAggregatesOnly(true);

} // namespace

// The two run in random interleaved order by default, so that the write-back of one does not
// weigh only on the other.
int main(int argc, char **argv) {
  std::vector<char *> args(argv, argv + argc);
  std::string interleave = "--benchmark_enable_random_interleaving=true";
  args.insert(args.begin() + 1, interleave.data());
  argc = static_cast<int>(args.size());
  argv = args.data();
  return vlx::bench::runWithScratch(argc, argv, scratch);
}
