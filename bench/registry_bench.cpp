// Preference reads, writes and the reset on the real store, each beside an in-memory map
// look-up of the same path as its baseline.
#include <velmora/registry.h>

#include <benchmark/benchmark.h>

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
                              CString(("Value" + std::to_string(v)).c_str()), intType, "",
                              &value, nullptr);
      }
    filled = true;
  }
  for (auto _ : state)
    benchmark::DoNotOptimize(regResetUserPrefInfo());
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
BENCHMARK(BM_Baseline_ResetMapCopy);
BENCHMARK(BM_ResetUserPrefInfo)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
