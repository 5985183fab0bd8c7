// regFromCLSIDKey for a class that is not registered, walking 10,000 classes, beside the same
// number of RegOpenKeyExA + RegCloseKey calls on those classes as its baseline.
#include <velmora/addins.h>
#include <velmora/hive.h>

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace {

constexpr int kClasses = 10000;

std::string classKeyName(int i) {
  char text[40];
  std::snprintf(text, sizeof text, "{%08X-0000-4000-8000-000000000000}", i);
  return text;
}

// A scratch store with kClasses classes in the machine's classes, written in one transaction.
struct ScratchStore {
  ScratchStore() {
    char pattern[] = "/tmp/vlx-bench-XXXXXX";
    dir = mkdtemp(pattern);
    setenv("VELMORA_REGISTRY_DIR", dir.c_str(), 1);
    vlx::inHiveTransaction(vlx::Hive::Machine, [] {
      for (int i = 0; i < kClasses; ++i) {
        std::string path = "Software\\Classes\\CLSID\\" + classKeyName(i);
        LONG error = RegSetValueA(HKEY_LOCAL_MACHINE, path.c_str(), REG_SZ, "class", 0);
        if (error != ERROR_SUCCESS)
          return error;
      }
      return static_cast<LONG>(ERROR_SUCCESS);
    });
    for (int i = 0; i < kClasses; ++i)
      names.push_back(classKeyName(i));
  }
  ~ScratchStore() { std::filesystem::remove_all(dir); }
  std::string dir;
  std::vector<std::string> names;
};

ScratchStore &store() {
  static ScratchStore instance;
  return instance;
}

void BM_FromClsidKey_Unregistered(benchmark::State &state) {
  store();
  const GUID missing = {0xFFFFFFFF, 0, 0, {0, 0, 0, 0, 0, 0, 0, 0}};
  CString value;
  for (auto _ : state) {
    int found = regFromCLSIDKey(missing, nullptr, value);
    benchmark::DoNotOptimize(found);
  }
  state.SetItemsProcessed(state.iterations() * kClasses);
}

// The floor: opening and closing each class's key once, from one open CLSID key.
void BM_OpenCloseEveryClass(benchmark::State &state) {
  const ScratchStore &s = store();
  HKEY classes;
  RegOpenKeyExA(HKEY_CLASSES_ROOT, "CLSID", 0, KEY_READ, &classes);
  for (auto _ : state) {
    for (const std::string &name : s.names) {
      HKEY key;
      if (RegOpenKeyExA(classes, name.c_str(), 0, KEY_READ, &key) == ERROR_SUCCESS)
        RegCloseKey(key);
    }
  }
  RegCloseKey(classes);
  state.SetItemsProcessed(state.iterations() * kClasses);
}

} // namespace

BENCHMARK(BM_FromClsidKey_Unregistered)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OpenCloseEveryClass)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
