// Preference reads, writes and the reset on the real store, each beside an in-memory map
// look-up of the same path as its baseline; the check of a hive before the first write, beside
// opening it.
#include <velmora/registry.h>

#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>

namespace {

// A scratch store for the whole run, so the real user's hives are never touched.
struct ScratchStore {
  ScratchStore() {
    char pattern[] = "/tmp/vlx-bench-XXXXXX";
    dir = mkdtemp(pattern);
    setenv("VELMORA_REGISTRY_DIR", dir.c_str(), 1);
    int one = 1, two = 2;
    regSetUserValue("General", "User Value", intType, "", &one, nullptr);
    regSetLocMachineValue("General", "Machine Value", intType, "", &two, nullptr);
    // The default user's hive is reached through HKEY_USERS\.DEFAULT.
    HKEY key;
    RegCreateKeyA(HKEY_USERS, ".DEFAULT\\Software\\Velmora\\General", &key);
    DWORD three = 3;
    RegSetValueExA(key, "Default Value", 0, REG_DWORD, reinterpret_cast<const BYTE *>(&three), 4);
    RegCloseKey(key);
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

void BM_SetUserValue(benchmark::State &state) {
  store();
  int value = 0;
  for (auto _ : state) {
    ++value;
    benchmark::DoNotOptimize(regSetUserValue("General", "Written", intType, "", &value, nullptr));
  }
}

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
BENCHMARK(BM_Baseline_MapWrite);
BENCHMARK(BM_SetUserValue);
BENCHMARK(BM_Baseline_FirstReadAfterOpen)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_QuickCheckBeforeFirstWrite)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Baseline_ResetMapCopy);
BENCHMARK(BM_ResetUserPrefInfo)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
