// Listing by extension over one directory of 100,000 entries, 10,000 of them matching:
// su_FindFilesWithExt, which lists names only, beside a plain readdir+fnmatch loop, and
// FindFirstFileA/FindNextFileA, which fill sizes and times, beside the same loop with fstatat.
#include <velmora/files.h>
#include <velmora/win32.h>

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <fnmatch.h>
#include <string>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

constexpr int kEntries = 100000;
constexpr int kMatching = 10000;

// Made once for the run and removed at exit.
struct BenchDirectory {
  BenchDirectory() {
    char pattern[] = "/tmp/vlx-bench-XXXXXX";
    path = mkdtemp(pattern);
    for (int i = 0; i < kEntries; ++i) {
      char name[32];
      std::snprintf(name, sizeof name, "/part%06d.%s", i, i % 10 == 0 ? "txt" : "dat");
      int fd = open((path + name).c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0644);
      if (fd >= 0)
        close(fd);
    }
  }
  ~BenchDirectory() { std::filesystem::remove_all(path); }
  std::string path;
};

const std::string &benchDirectory() {
  static BenchDirectory directory;
  return directory.path;
}

void checkCount(benchmark::State &state, int count) {
  if (count != kMatching)
    state.SkipWithError("wrong number of matches");
}

// The readdir+fnmatch loop; `onMatch` adds the per-match work of each variant and says whether
// the match counts.
template <typename OnMatch> void readdirLoop(benchmark::State &state, OnMatch onMatch) {
  const std::string &path = benchDirectory();
  for (auto _ : state) {
    int count = 0;
    DIR *dir = opendir(path.c_str());
    while (const dirent *entry = readdir(dir))
      if (fnmatch("*.txt", entry->d_name, 0) == 0 && onMatch(dirfd(dir), entry->d_name))
        ++count;
    closedir(dir);
    checkCount(state, count);
  }
  state.SetItemsProcessed(state.iterations() * kEntries);
}

void BM_ReaddirFnmatch(benchmark::State &state) {
  readdirLoop(state, [](int, const char *) { return true; });
}
BENCHMARK(BM_ReaddirFnmatch)->Unit(benchmark::kMillisecond);

// The floor for any listing that makes one system call per match: an empty call.
void BM_ReaddirFnmatchEmptyCall(benchmark::State &state) {
  readdirLoop(state, [](int, const char *) { return syscall(SYS_getppid) > 0; });
}
BENCHMARK(BM_ReaddirFnmatchEmptyCall)->Unit(benchmark::kMillisecond);

// The status call that sizes and times need.
void BM_ReaddirFnmatchStat(benchmark::State &state) {
  readdirLoop(state, [](int dirFd, const char *name) {
    struct stat st;
    return fstatat(dirFd, name, &st, 0) == 0;
  });
}
BENCHMARK(BM_ReaddirFnmatchStat)->Unit(benchmark::kMillisecond);

// Backslashes, as hosts give the library its paths.
std::string windowsPath(std::string path) {
  for (char &c : path)
    if (c == '/')
      c = '\\';
  return path;
}

void BM_FindFirstNextFile(benchmark::State &state) {
  const std::string pattern = windowsPath(benchDirectory() + "/*.txt");
  for (auto _ : state) {
    int count = 0;
    WIN32_FIND_DATAA data;
    HANDLE handle = FindFirstFileA(pattern.c_str(), &data);
    if (handle != INVALID_HANDLE_VALUE) {
      do {
        benchmark::DoNotOptimize(data.nFileSizeLow);
        ++count;
      } while (FindNextFileA(handle, &data));
      FindClose(handle);
    }
    checkCount(state, count);
  }
  state.SetItemsProcessed(state.iterations() * kEntries);
}
BENCHMARK(BM_FindFirstNextFile)->Unit(benchmark::kMillisecond);

void BM_FindFilesWithExt(benchmark::State &state) {
  const CString directory(windowsPath(benchDirectory()).c_str());
  const CString extension("txt");
  for (auto _ : state) {
    CStringList names;
    su_FindFilesWithExt(directory, extension, names);
    checkCount(state, static_cast<int>(names.GetCount()));
  }
  state.SetItemsProcessed(state.iterations() * kEntries);
}
BENCHMARK(BM_FindFilesWithExt)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
