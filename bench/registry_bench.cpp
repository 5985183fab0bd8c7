// Preference reads, writes and the reset on the real store, each beside an in-memory map
// look-up of the same path as its baseline; the check of a hive before the first write, beside
// opening it; the move of a hive in the former name format, beside a first write; another
// process's change reaching this one's notification, beside a pipe between the two.
#include <velmora/hive.h>
#include <velmora/registry.h>

#include "support/rowid_values.h"

#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <map>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

// A scratch store for the whole run, so the real user's hives are never touched.
struct ScratchStore {
  ScratchStore() {
    char pattern[] = "/tmp/vlx-bench-XXXXXX";
    dir = mkdtemp(pattern);
    setenv("VELMORA_REGISTRY_DIR", dir.c_str(), 1);
    // Filled by a child process, so that this one opens the hives only afterwards.
    pid_t child = fork();
    if (child == 0) {
      int one = 1, two = 2;
      regSetUserValue("General", "User Value", intType, "", &one, nullptr);
      regSetLocMachineValue("General", "Machine Value", intType, "", &two, nullptr);
      // The default user's hive is reached through HKEY_USERS\.DEFAULT.
      HKEY key;
      RegCreateKeyA(HKEY_USERS, ".DEFAULT\\Software\\Velmora\\General", &key);
      DWORD three = 3;
      RegSetValueExA(key, "Default Value", 0, REG_DWORD, reinterpret_cast<const BYTE *>(&three), 4);
      RegCloseKey(key);
      std::exit(0);
    }
    waitpid(child, nullptr, 0);
    // The machine's and the default user's hives as every user but an administrator has them.
    // Root writes whatever the modes say: run as another user to measure this.
    if (std::getenv("VLX_BENCH_READ_ONLY_SYSTEM_HIVES"))
      for (const char *hive : {"/machine.db", "/default-user.db"})
        for (const char *suffix : {"", "-wal", "-shm"})
          chmod((dir + hive + suffix).c_str(), 0444);
  }
  ~ScratchStore() { std::filesystem::remove_all(dir); }
  std::string dir;
};

ScratchStore &store() {
  static ScratchStore instance;
  return instance;
}

std::string upper(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
  return text;
}

// The baseline: the same path looked up in a map keyed by case-folded full paths.
std::map<std::string, int> &memoryStore() {
  static std::map<std::string, int> values = [] {
    std::map<std::string, int> m;
    for (int i = 0; i < 2000; ++i)
      m[upper("HKCU\\Software\\Velmora\\Section" + std::to_string(i / 20) + "\\Value" +
              std::to_string(i % 20))] = i;
    m[upper("HKCU\\Software\\Velmora\\General\\User Value")] = 1;
    return m;
  }();
  return values;
}

void readPreference(benchmark::State &state, const char *name) {
  store();
  CString text;
  int value = 0;
  for (auto _ : state) {
    int found = regGetUserValue("General", name, intType, text, &value, nullptr);
    benchmark::DoNotOptimize(found);
  }
  if (value == 0)
    state.SkipWithError("the preference was not found");
}

void BM_GetUserValue_UserHit(benchmark::State &state) { readPreference(state, "User Value"); }
void BM_GetUserValue_MachineFallback(benchmark::State &state) {
  readPreference(state, "Machine Value");
}
void BM_GetUserValue_DefaultUserFallback(benchmark::State &state) {
  readPreference(state, "Default Value");
}

// Processor time of the whole process while it sleeps, as a share of one core: with `watches`
// change notifications registered on keys nobody changes, beside none.
void idleShare(benchmark::State &state, int watches) {
  store();
  std::vector<HKEY> keys(static_cast<size_t>(watches));
  std::vector<HANDLE> events;
  for (HKEY &key : keys) {
    RegCreateKeyA(HKEY_CURRENT_USER, "Software\\Velmora\\Watched", &key);
    events.push_back(CreateEventA(nullptr, FALSE, FALSE, nullptr));
    RegNotifyChangeKeyValue(key, TRUE, REG_NOTIFY_CHANGE_LAST_SET, events.back(), TRUE);
  }
  auto cpu = [] {
    rusage use{};
    getrusage(RUSAGE_SELF, &use);
    return use.ru_utime.tv_sec + use.ru_stime.tv_sec +
           (use.ru_utime.tv_usec + use.ru_stime.tv_usec) / 1e6;
  };
  usleep(300 * 1000); // the watcher's first look at the keys is not idle time
  double spent = 0, slept = 0;
  for (auto _ : state) {
    double before = cpu();
    usleep(200 * 1000);
    spent += cpu() - before;
    slept += 0.2;
  }
  state.counters["core_percent"] = 100 * spent / slept;
  for (HKEY key : keys)
    RegCloseKey(key);
  for (HANDLE event : events)
    CloseHandle(event);
}
void BM_Baseline_IdleProcess(benchmark::State &state) { idleShare(state, 0); }
void BM_Idle1000Notifications(benchmark::State &state) { idleShare(state, 1000); }

void BM_SetUserValue(benchmark::State &state) {
  store();
  int value = 0;
  for (auto _ : state) {
    ++value;
    benchmark::DoNotOptimize(regSetUserValue("General", "Written", intType, "", &value, nullptr));
  }
}

double monotonicSeconds() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

// From another process's commit to this process's notification: the child sends the time its
// write returned through a pipe. The baseline is that pipe's wake-up alone.
void crossProcess(benchmark::State &state, bool notify) {
  store();
  HKEY key = nullptr;
  RegCreateKeyA(HKEY_CURRENT_USER, "Software\\Velmora\\Notified", &key);
  HANDLE event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  DWORD round = 0;
  for (auto _ : state) {
    if (notify)
      RegNotifyChangeKeyValue(key, FALSE, REG_NOTIFY_CHANGE_LAST_SET, event, TRUE);
    int fds[2];
    if (pipe(fds) != 0) {
      state.SkipWithError("no pipe");
      break;
    }
    ++round;
    pid_t child = fork();
    if (child == 0) {
      if (notify)
        regSetUserValue("Notified", "v", intType, "", reinterpret_cast<int *>(&round), nullptr);
      double sent = monotonicSeconds();
      _exit(write(fds[1], &sent, sizeof sent) == sizeof sent ? 0 : 1);
    }
    double sent = 0, seen = 0;
    if (notify && WaitForSingleObject(event, 5000) != WAIT_OBJECT_0) {
      state.SkipWithError("no notification within 5 s");
      break;
    }
    if (notify)
      seen = monotonicSeconds();
    if (read(fds[0], &sent, sizeof sent) != sizeof sent) {
      state.SkipWithError("the child sent no time");
      break;
    }
    if (!notify)
      seen = monotonicSeconds();
    state.SetIterationTime(std::max(0.0, seen - sent));
    waitpid(child, nullptr, 0);
    close(fds[0]);
    close(fds[1]);
  }
  CloseHandle(event);
  RegCloseKey(key);
}

void BM_Baseline_PipeAcrossProcesses(benchmark::State &state) { crossProcess(state, false); }
void BM_NotifyAcrossProcesses(benchmark::State &state) { crossProcess(state, true); }

void BM_Baseline_MapLookup(benchmark::State &state) {
  auto &values = memoryStore();
  const std::string path = "HKCU\\Software\\Velmora\\General\\User Value";
  for (auto _ : state) {
    auto it = values.find(upper(path));
    benchmark::DoNotOptimize(it);
  }
}

void BM_Baseline_MapWrite(benchmark::State &state) {
  auto &values = memoryStore();
  const std::string path = "HKCU\\Software\\Velmora\\General\\Written";
  int value = 0;
  for (auto _ : state)
    values[upper(path)] = ++value;
}

// 100 machine sections of 20 values each, copied into the user's hive by every reset.
void BM_ResetUserPrefInfo(benchmark::State &state) {
  store();
  static bool filled = false;
  if (!filled) {
    for (int s = 0; s < 100; ++s)
      for (int v = 0; v < 20; ++v) {
        int value = s * 20 + v;
        regSetLocMachineValue(CString(("Section" + std::to_string(s)).c_str()),
                              CString(("Value" + std::to_string(v)).c_str()), intType, "", &value,
                              nullptr);
      }
    filled = true;
  }
  for (auto _ : state)
    benchmark::DoNotOptimize(regResetUserPrefInfo());
}

// Two user hives of 100 sections of 20 values, used in turn: every switch makes the store open
// the other file afresh, as a new process would.
struct AlternatingHives {
  AlternatingHives() {
    for (std::string &dir : dirs) {
      dir = store().dir + "/" + std::to_string(&dir - dirs);
      std::filesystem::create_directory(dir);
      setenv("VELMORA_REGISTRY_DIR", dir.c_str(), 1);
      for (int i = 0; i < 2000; ++i) {
        int value = i;
        regSetUserValue(CString(("Section" + std::to_string(i / 20)).c_str()),
                        CString(("Value" + std::to_string(i % 20)).c_str()), intType, "", &value,
                        nullptr);
      }
    }
    setenv("VELMORA_REGISTRY_DIR", store().dir.c_str(), 1);
  }
  void next() { setenv("VELMORA_REGISTRY_DIR", dirs[++turn % 2].c_str(), 1); }
  ~AlternatingHives() { setenv("VELMORA_REGISTRY_DIR", store().dir.c_str(), 1); }
  std::string dirs[2];
  unsigned turn = 0;
};

// The check a process runs on a hive file before its first write to it, on a connection of its
// own; its baseline is what opening the hive and a first read cost anyway.
void BM_QuickCheckBeforeFirstWrite(benchmark::State &state) {
  AlternatingHives hives;
  sqlite3 *db = nullptr;
  sqlite3_open_v2((hives.dirs[0] + "/user.db").c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
  for (auto _ : state) {
    sqlite3_stmt *check = nullptr;
    sqlite3_prepare_v2(db, "PRAGMA quick_check(1)", -1, &check, nullptr);
    if (sqlite3_step(check) != SQLITE_ROW ||
        std::string(reinterpret_cast<const char *>(sqlite3_column_text(check, 0))) != "ok")
      state.SkipWithError("the hive did not pass the check");
    sqlite3_finalize(check);
  }
  sqlite3_close(db);
}

void BM_Baseline_FirstReadAfterOpen(benchmark::State &state) {
  AlternatingHives hives;
  CString text;
  int value = 0;
  for (auto _ : state) {
    hives.next();
    benchmark::DoNotOptimize(regGetUserValue("Section1", "Value1", intType, text, &value, nullptr));
  }
  if (value != 21)
    state.SkipWithError("the preference was not found");
}

// A user hive of 3,000 keys of one value each, and a copy of it as the store wrote hives when
// names folded ASCII letters only, where each key has a twin that differs in the case of its "é".
struct HivesToMove {
  HivesToMove() {
    const std::string base = store().dir + "/move";
    std::filesystem::create_directories(base + "/current");
    setenv("VELMORA_REGISTRY_DIR", (base + "/current").c_str(), 1);
    vlx::inHiveTransaction(vlx::Hive::User, [] {
      for (int i = 0; i < 3000; ++i) {
        int value = i;
        regSetUserValue(CString(("K\xc3\xa9y" + std::to_string(i)).c_str()), "v", intType, "",
                        &value, nullptr);
      }
      return ERROR_SUCCESS;
    });
    setenv("VELMORA_REGISTRY_DIR", store().dir.c_str(), 1);
    // Copies of the file and its log, each made whole by a connection of its own.
    current = base + "/current.db";
    old = base + "/old.db";
    for (const std::string &copy : {current, old})
      for (const char *part : {"", "-wal"})
        std::filesystem::copy_file(base + "/current/user.db" + part, copy + part);
    sqlite3 *db = nullptr;
    sqlite3_open_v2(current.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr);
    sqlite3_close(db);
    sqlite3_open_v2(old.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr);
    // Values kept by a rowid, and SQLite's upper() folding ASCII letters only, as in version 1.
    const std::string sql =
        std::string("BEGIN;") + vlx::test::kRowidValuesSql +
        "UPDATE keys SET folded=CAST(upper(CAST(name AS TEXT)) AS BLOB);"
        "UPDATE vals SET folded=CAST(upper(CAST(name AS TEXT)) AS BLOB);"
        "INSERT INTO keys(parent, name, folded, written) SELECT parent,"
        " CAST(replace(CAST(name AS TEXT), '\xc3\xa9', '\xc3\x89') AS BLOB),"
        " CAST(upper(replace(CAST(name AS TEXT), '\xc3\xa9', '\xc3\x89')) AS BLOB), written + 1"
        " FROM keys WHERE CAST(name AS TEXT) GLOB 'K\xc3\xa9y*';"
        "INSERT INTO vals(key, name, folded, type, data) SELECT id, CAST('v' AS BLOB),"
        " CAST('V' AS BLOB), 4, x'01000000' FROM keys WHERE CAST(name AS TEXT) GLOB 'K\xc3\x89Y*';"
        "PRAGMA user_version=1; COMMIT;";
    if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr) != SQLITE_OK) {
      std::fprintf(stderr, "%s\n", sqlite3_errmsg(db));
      std::abort();
    }
    sqlite3_close(db);
  }
  std::string current, old;
};

// The first write to a hive in the former format moves it, merging the 3,000 twins; its
// baseline is the same write to a hive of the current format, as a new process makes it.
void firstWrite(benchmark::State &state, bool moving) {
  static HivesToMove hives;
  // A new location each time, so that the store opens the file afresh.
  const std::string base = store().dir + "/first";
  unsigned turn = 0;
  int value = 7;
  for (auto _ : state) {
    state.PauseTiming();
    const std::string dir = base + std::to_string(turn++ % 2);
    std::filesystem::remove_all(dir);
    std::filesystem::create_directory(dir);
    std::filesystem::copy_file(moving ? hives.old : hives.current, dir + "/user.db");
    setenv("VELMORA_REGISTRY_DIR", dir.c_str(), 1);
    state.ResumeTiming();
    if (!regSetUserValue("General", "Written", intType, "", &value, nullptr))
      state.SkipWithError("the write failed");
  }
  setenv("VELMORA_REGISTRY_DIR", store().dir.c_str(), 1);
}

void BM_Baseline_FirstWriteToHive(benchmark::State &state) { firstWrite(state, false); }
void BM_FirstWriteMovingOldHive(benchmark::State &state) { firstWrite(state, true); }

void BM_Baseline_ResetMapCopy(benchmark::State &state) {
  auto &machine = memoryStore();
  for (auto _ : state) {
    std::map<std::string, int> user;
    for (const auto &entry : machine)
      user[entry.first] = entry.second;
    benchmark::DoNotOptimize(user);
  }
}

BENCHMARK(BM_Baseline_MapLookup);
BENCHMARK(BM_GetUserValue_UserHit);
BENCHMARK(BM_GetUserValue_MachineFallback);
BENCHMARK(BM_GetUserValue_DefaultUserFallback);
BENCHMARK(BM_Baseline_IdleProcess)->Iterations(10)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Idle1000Notifications)->Iterations(10)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Baseline_PipeAcrossProcesses)
    ->Iterations(50)
    ->UseManualTime()
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_NotifyAcrossProcesses)->Iterations(50)->UseManualTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Baseline_MapWrite);
BENCHMARK(BM_SetUserValue);
BENCHMARK(BM_Baseline_FirstReadAfterOpen)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_QuickCheckBeforeFirstWrite)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Baseline_FirstWriteToHive)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FirstWriteMovingOldHive)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Baseline_ResetMapCopy);
BENCHMARK(BM_ResetUserPrefInfo)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
