// What several benchmarks share: a scratch directory, and starting a program to its end.
#pragma once

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

} // namespace vlx::bench
