// What several benchmarks share: a scratch directory, starting a program to its end, and a main
// that makes the scratch before the benchmarks run.
#pragma once

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <spawn.h>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace vlx::bench {

// A fresh directory under /tmp, removed with all it holds when the benchmark ends. A benchmark
// without one cannot run: its making exits the program.
struct ScratchDir {
  ScratchDir() {
    char pattern[] = "/tmp/vlx-bench-XXXXXX";
    if (!mkdtemp(pattern)) {
      std::perror("mkdtemp");
      std::exit(1);
    }
    dir = pattern;
  }
  ~ScratchDir() {
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
  }
  ScratchDir(const ScratchDir &) = delete;
  ScratchDir &operator=(const ScratchDir &) = delete;
  std::string dir;
};

// Starts argv[0], found on PATH, and waits for it; true when it exited with status 0. `usage`,
// when given, receives the child's resource use.
inline bool runToEnd(char *const argv[], char *const envp[] = environ,
                     const posix_spawn_file_actions_t *actions = nullptr, rusage *usage = nullptr) {
  pid_t pid;
  int status = 0;
  rusage ignored{};
  return posix_spawnp(&pid, argv[0], actions, nullptr, argv, envp) == 0 &&
         wait4(pid, &status, 0, usage != nullptr ? usage : &ignored) == pid && WIFEXITED(status) &&
         WEXITSTATUS(status) == 0;
}

// Runs the benchmarks named on the command line with a Scratch made for them; `scratch` points
// to it meanwhile.
template <class Scratch> int runWithScratch(int argc, char **argv, Scratch *&scratch) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv))
    return 1;
  Scratch files;
  scratch = &files;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  scratch = nullptr;
  return 0;
}

} // namespace vlx::bench
