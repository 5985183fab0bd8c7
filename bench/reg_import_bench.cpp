// `vlx reg import` of a 48 MB .reg file: its speed and the peak memory of the vlx process, beside
// cat reading the same file (the floor any import stands on), in one run.
#include "bench_support.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

// The file and the stores it is imported into live in one scratch directory, removed at exit.
struct Scratch : vlx::bench::ScratchDir {
  Scratch() {
    file = dir + "/big.reg";
    // Keys of values as an admin's export holds them: text, numbers and wrapped hex data.
    std::ofstream out(file, std::ios::binary);
    out << "Windows Registry Editor Version 5.00\n\n";
    std::string hex;
    for (int i = 0; i < 200; ++i)
      hex += (i % 25 == 24 ? "0f,\\\n  " : "0f,");
    hex += "00";
    for (int key = 0; out.tellp() < std::streamoff(48) << 20; ++key) {
      out << "[HKEY_CURRENT_USER\\Software\\Velmora\\Bench\\Group" << key / 100 << "\\Key" << key
          << "]\n";
      for (int v = 0; v < 20; ++v)
        out << "\"Text" << v << "\"=\"value " << key << "." << v
            << " with a path C:\\\\Program Files\\\\Velmora\\\\bin\"\n"
            << "\"Count" << v << "\"=dword:" << std::hex << (key * 20 + v) << std::dec << "\n";
      out << "\"Blob\"=hex:" << hex << "\n\n";
    }
    size = fs::file_size(file);
  }
  std::string file;
  uintmax_t size = 0;
};

Scratch *scratch = nullptr;

// Runs argv with the store in `store` and standard output to /dev/null; false on failure. The
// child's peak resident size goes to `peakKb`, the CPU time it spent to `cpuSeconds`.
bool run(const std::vector<std::string> &argv, const std::string &store, long &peakKb,
         double &cpuSeconds) {
  std::vector<char *> args;
  for (const auto &a : argv)
    args.push_back(const_cast<char *>(a.c_str()));
  args.push_back(nullptr);
  std::vector<std::string> env = {"VELMORA_REGISTRY_DIR=" + store};
  for (char **e = environ; *e; ++e)
    if (std::string(*e).rfind("VELMORA_REGISTRY_DIR=", 0) != 0)
      env.emplace_back(*e);
  std::vector<char *> envp;
  for (auto &e : env)
    envp.push_back(e.data());
  envp.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  rusage usage{};
  const bool ok = vlx::bench::runToEnd(args.data(), envp.data(), &actions, &usage);
  posix_spawn_file_actions_destroy(&actions);
  peakKb = usage.ru_maxrss;
  auto seconds = [](const timeval &t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; };
  cpuSeconds = seconds(usage.ru_utime) + seconds(usage.ru_stime);
  return ok;
}

void measure(benchmark::State &state, const std::vector<std::string> &argv) {
  long peakKb = 0, maxKb = 0;
  double cpu = 0, cpuTotal = 0;
  int round = 0;
  for (auto _ : state) {
    state.PauseTiming();
    const std::string store = scratch->dir + "/store" + std::to_string(round++);
    fs::create_directory(store);
    state.ResumeTiming();
    if (!run(argv, store, peakKb, cpu)) {
      state.SkipWithError((argv[0] + " failed").c_str());
      break;
    }
    maxKb = std::max(maxKb, peakKb);
    cpuTotal += cpu;
    state.PauseTiming();
    fs::remove_all(store);
    state.ResumeTiming();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * scratch->size));
  state.counters["peak_MB"] = static_cast<double>(maxKb) / 1024;
  state.counters["file_MB"] = static_cast<double>(scratch->size) / (1 << 20);
  // The child's own CPU time: on a loaded machine, wall time mostly measures the others.
  if (cpuTotal > 0)
    state.counters["cpu_MB_per_s"] = static_cast<double>(state.iterations()) *
                                     static_cast<double>(scratch->size) / (1 << 20) / cpuTotal;
}

void BM_VlxRegImport(benchmark::State &state) {
  measure(state, {VLX_BINARY, "reg", "import", scratch->file});
}

void BM_CatOfFile(benchmark::State &state) { measure(state, {"cat", scratch->file}); }

BENCHMARK(BM_VlxRegImport)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
BENCHMARK(BM_CatOfFile)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

} // namespace

int main(int argc, char **argv) { return vlx::bench::runWithScratch(argc, argv, scratch); }
