// A .reg import killed at random moments: afterwards every hive passes its check and holds what
// it held before or the whole import, never part of it.
#include "vlx_fixture.h"

#include <chrono>
#include <filesystem>
#include <random>
#include <signal.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace vlx::cli {
namespace {

namespace fs = std::filesystem;

const char *const kProductKeys[] = {"HKCU\\Software\\Velmora", "HKLM\\Software\\Velmora",
                                    "HKU\\.DEFAULT\\Software\\Velmora"};

class ImportKillTest : public VlxTest {
protected:
  // The store in `dir` as each hive's export.
  std::vector<std::string> hives(const std::string &dir) {
    test::ScopedEnv store("VELMORA_REGISTRY_DIR", dir.c_str());
    std::vector<std::string> out;
    for (const char *key : kProductKeys)
      out.push_back(ok({"reg", "export", key}));
    return out;
  }

  std::string copyStore(const std::string &from, const std::string &name) {
    const std::string to = dir_.file(name);
    fs::copy(from, to, fs::copy_options::recursive);
    return to;
  }

  // Starts `vlx reg import file` on the store in `dir` and kills it after `delay`.
  static void importKilledAfter(const std::string &dir, const std::string &file,
                                std::chrono::microseconds delay) {
    test::ScopedEnv store("VELMORA_REGISTRY_DIR", dir.c_str());
    pid_t pid = fork();
    if (pid == 0) {
      if (!freopen("/dev/null", "w", stdout) || !freopen("/dev/null", "w", stderr))
        _exit(126);
      execl(VLX_BINARY, VLX_BINARY, "reg", "import", file.c_str(), static_cast<char *>(nullptr));
      _exit(127);
    }
    std::this_thread::sleep_for(delay);
    kill(pid, SIGKILL);
    int status = 0;
    waitpid(pid, &status, 0);
  }
};

TEST_F(ImportKillTest, EachHiveIsBeforeOrAfterNeverBetween) {
  const std::string seeded = dir_.file("seeded");
  fs::create_directory(seeded);
  std::string seed = "REGEDIT4\n", import = "REGEDIT4\n";
  for (const char *key : kProductKeys) {
    seed += std::string("[") + key + "\\Old]\n\"gone\"=\"1\"\n[" + key + "\\Kept]\n\"v\"=\"1\"\n";
    import += std::string("[-") + key + "\\Old]\n[" + key + "\\Kept]\n\"v\"=\"2\"\n";
    for (int i = 0; i < 300; ++i)
      import += std::string("[") + key + "\\New\\K" + std::to_string(i) +
                "]\n\"v\"=dword:" + "0000000" + std::to_string(i % 10) + "\n";
  }
  {
    test::ScopedEnv store("VELMORA_REGISTRY_DIR", seeded.c_str());
    ok({"reg", "import", write("seed.reg", seed)});
  }
  const std::string file = write("import.reg", import);
  const std::vector<std::string> before = hives(seeded);

  const std::string imported = copyStore(seeded, "imported");
  const auto start = std::chrono::steady_clock::now();
  {
    test::ScopedEnv store("VELMORA_REGISTRY_DIR", imported.c_str());
    ok({"reg", "import", file});
  }
  const auto took = std::chrono::duration_cast<std::chrono::microseconds>(
      std::chrono::steady_clock::now() - start);
  const std::vector<std::string> after = hives(imported);

  const unsigned seedValue = std::random_device{}();
  SCOPED_TRACE("seed " + std::to_string(seedValue));
  std::mt19937 random(seedValue);
  std::uniform_int_distribution<long> moment(0, took.count());
  int unchanged = 0, whole = 0;
  for (int round = 0; round < 16; ++round) {
    const std::string dir = copyStore(seeded, "round" + std::to_string(round));
    const std::chrono::microseconds delay(moment(random));
    SCOPED_TRACE("killed after " + std::to_string(delay.count()) + " us");
    importKilledAfter(dir, file, delay);
    {
      test::ScopedEnv store("VELMORA_REGISTRY_DIR", dir.c_str());
      ok({"reg", "check"});
    }
    const std::vector<std::string> now = hives(dir);
    for (size_t h = 0; h < now.size(); ++h) {
      SCOPED_TRACE(kProductKeys[h]);
      EXPECT_TRUE(now[h] == before[h] || now[h] == after[h]) << now[h];
      unchanged += now[h] == before[h];
      whole += now[h] == after[h];
    }
  }
  // How the kills fell, for the test's log.
  RecordProperty("hives unchanged", unchanged);
  RecordProperty("hives with the whole import", whole);
}

} // namespace
} // namespace vlx::cli
