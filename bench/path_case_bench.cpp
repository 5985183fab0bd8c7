// A name looked up without regard to case, in directories of 10 and 1,000 entries: the exact
// name beside the system calls it makes (the status alone for GetFileAttributesA; a plain open,
// and the status, open and handle status CreateFileA made before names were folded, for
// CreateFileA), and the same file named in another case, which costs one scan of its directory
// (beside a plain listing of it).
#include <velmora/win32.h>

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <map>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// One directory per size, drive C: of the run, removed at exit.
struct BenchDirectories {
  BenchDirectories() {
    char pattern[] = "/tmp/vlx-bench-XXXXXX";
    root = mkdtemp(pattern);
    setenv("VELMORA_DRIVE_C", root.c_str(), 1);
  }
  ~BenchDirectories() { std::filesystem::remove_all(root); }
  // The directory of `entries` files, one of them "config.ini"; made on first use.
  const std::string &of(int entries) {
    std::string &path = made[entries];
    if (path.empty()) {
      path = root + "/d" + std::to_string(entries);
      mkdir(path.c_str(), 0700);
      for (int i = 1; i < entries; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "/entry%04d.txt", i);
        close(open((path + name).c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0600));
      }
      close(open((path + "/config.ini").c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0600));
    }
    return path;
  }
  std::string root;
  std::map<int, std::string> made;
};

BenchDirectories &directories() {
  static BenchDirectories instance;
  return instance;
}

std::string posixName(benchmark::State &state) {
  return directories().of(static_cast<int>(state.range(0))) + "/config.ini";
}

std::string windowsName(benchmark::State &state, const char *name) {
  directories().of(static_cast<int>(state.range(0)));
  return "C:\\d" + std::to_string(state.range(0)) + "\\" + name;
}

void BM_Baseline_Stat(benchmark::State &state) {
  const std::string path = posixName(state);
  struct stat st;
  for (auto _ : state)
    if (stat(path.c_str(), &st) != 0)
      state.SkipWithError("no file");
}
BENCHMARK(BM_Baseline_Stat)->Arg(10)->Arg(1000);

void attributes(benchmark::State &state, const char *name) {
  const std::string path = windowsName(state, name);
  for (auto _ : state)
    if (GetFileAttributesA(path.c_str()) == INVALID_FILE_ATTRIBUTES)
      state.SkipWithError("no file");
}

void BM_GetFileAttributes_Exact(benchmark::State &state) { attributes(state, "config.ini"); }
BENCHMARK(BM_GetFileAttributes_Exact)->Arg(10)->Arg(1000);

void BM_GetFileAttributes_OtherCase(benchmark::State &state) { attributes(state, "Config.INI"); }
BENCHMARK(BM_GetFileAttributes_OtherCase)->Arg(10)->Arg(1000);

void BM_Baseline_OpenClose(benchmark::State &state) {
  const std::string path = posixName(state);
  for (auto _ : state) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
      state.SkipWithError("no file");
    close(fd);
  }
}
BENCHMARK(BM_Baseline_OpenClose)->Arg(10)->Arg(1000);

// The calls CreateFileA and CloseHandle made for an existing file before names were folded.
void BM_Baseline_StatOpenFstatClose(benchmark::State &state) {
  const std::string path = posixName(state);
  struct stat st;
  for (auto _ : state) {
    stat(path.c_str(), &st);
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0 || fstat(fd, &st) != 0)
      state.SkipWithError("no file");
    close(fd);
  }
}
BENCHMARK(BM_Baseline_StatOpenFstatClose)->Arg(10)->Arg(1000);

void openClose(benchmark::State &state, const char *name) {
  const std::string path = windowsName(state, name);
  for (auto _ : state) {
    HANDLE handle = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
      state.SkipWithError("no file");
    CloseHandle(handle);
  }
}

// What a scan of the directory costs at the least: its listing.
void BM_Baseline_ListDirectory(benchmark::State &state) {
  const std::string path = directories().of(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    DIR *dir = opendir(path.c_str());
    int count = 0;
    while (readdir(dir))
      ++count;
    closedir(dir);
    benchmark::DoNotOptimize(count);
  }
}
BENCHMARK(BM_Baseline_ListDirectory)->Arg(10)->Arg(1000);

void BM_CreateFile_Exact(benchmark::State &state) { openClose(state, "config.ini"); }
BENCHMARK(BM_CreateFile_Exact)->Arg(10)->Arg(1000);

void BM_CreateFile_OtherCase(benchmark::State &state) { openClose(state, "CONFIG.ini"); }
BENCHMARK(BM_CreateFile_OtherCase)->Arg(10)->Arg(1000);

} // namespace

BENCHMARK_MAIN();
