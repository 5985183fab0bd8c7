// Resetting the user's sections from the machine's.
#include "registry_helpers.h"
#include "support/temp_env.h"

#include <velmora/hive.h>
#include <velmora/registry.h>

#include <chrono>
#include <csignal>
#include <random>
#include <string>
#include <thread>
#ifndef _WIN32
#include <sys/wait.h>
#include <unistd.h>
#endif

using namespace vlx::test;

namespace {

class Reset : public TempEnvTest {
protected:
  void machine(const std::string &section, const char *name, DWORD type, const std::string &d) {
    plantValue(HKEY_LOCAL_MACHINE, "Software\\Velmora\\" + section, name, type, d);
  }
  void user(const std::string &section, const char *name, DWORD type, const std::string &d) {
    plantValue(HKEY_CURRENT_USER, "Software\\Velmora\\" + section, name, type, d);
  }
  RawValue userValue(const std::string &section, const char *name) {
    return rawValue(HKEY_CURRENT_USER, "Software\\Velmora\\" + section, name);
  }
};

TEST_F(Reset, WithoutMachineProductKeyNothingChanges) {
  user("General", "a", REG_DWORD, dword(1));
  EXPECT_EQ(regResetUserPrefInfo(), 0);
  EXPECT_TRUE(userValue("General", "a").found);
}

TEST_F(Reset, SectionsAreRebuiltFromTheMachine) {
  // Too long for the reader: left out, not written with stale data.
  machine("General", "long", REG_SZ, sz(std::string(258, 'x').c_str()));
  user("General", "long", REG_SZ, sz("old"));
  machine("General", "count", REG_DWORD, dword(4));
  machine("General", "ratio", REG_SZ, sz("0.5"));
  machine("General", "list", REG_MULTI_SZ, std::string("a\0b\0\0", 5));
  machine("Empty", "", REG_BINARY, "");
  user("General", "count", REG_DWORD, dword(9));
  user("General", "userOnly", REG_SZ, sz("x"));
  user("Mine", "kept", REG_SZ, sz("y"));
  // A user section with subkeys cannot go, so it keeps its other values.
  machine("Tools", "a", REG_DWORD, dword(1));
  user("Tools", "a", REG_DWORD, dword(5));
  user("Tools", "b", REG_DWORD, dword(6));
  user("Tools\\Sub", "c", REG_DWORD, dword(7));

  EXPECT_EQ(regResetUserPrefInfo(), 1);
  RawValue count = userValue("General", "count");
  EXPECT_EQ(count.type, static_cast<DWORD>(REG_DWORD));
  EXPECT_EQ(count.data, dword(4));
  RawValue ratio = userValue("General", "ratio");
  EXPECT_EQ(ratio.type, static_cast<DWORD>(REG_SZ));
  EXPECT_EQ(ratio.data, sz("0.5"));
  EXPECT_FALSE(userValue("General", "long").found);
  EXPECT_FALSE(userValue("General", "list").found);
  EXPECT_FALSE(userValue("General", "userOnly").found);
  EXPECT_TRUE(userValue("Mine", "kept").found);
  // A machine section whose only value is of another type still leaves an empty user section.
  EXPECT_TRUE(keyExists(HKEY_CURRENT_USER, "Software\\Velmora\\Empty"));
  EXPECT_EQ(userValue("Tools", "a").data, dword(1));
  EXPECT_TRUE(userValue("Tools", "b").found);
  EXPECT_TRUE(userValue("Tools\\Sub", "c").found);
}

TEST_F(Reset, ProductAndAddinSectionsArePassedOverByTheirExactPrefix) {
  // The first two are passed over; the others differ from them in a prefix or in case.
  const char *sections[] = {"Applications", "VelmoraExtras", "My Applications", "velmoraLower"};
  for (const char *name : sections) {
    machine(name, "m", REG_SZ, sz("machine"));
    user(name, "u", REG_SZ, sz("user"));
  }
  EXPECT_EQ(regResetUserPrefInfo(), 1);
  for (int i = 0; i < 4; ++i) {
    const char *name = sections[i];
    const bool skipped = i < 2;
    SCOPED_TRACE(name);
    EXPECT_EQ(userValue(name, "u").found, skipped);
    EXPECT_EQ(userValue(name, "m").data, skipped ? "" : sz("machine"));
  }
}

TEST_F(Reset, OversizedMachineValueStopsTheReset) {
  // Sections enumerate in upper-cased name order: A, B, C.
  machine("A", "v", REG_DWORD, dword(1));
  machine("B", "big", REG_BINARY, std::string(300, 'x'));
  machine("C", "v", REG_DWORD, dword(3));
  user("C", "v", REG_DWORD, dword(30));
  user("C", "extra", REG_DWORD, dword(31));

  EXPECT_EQ(regResetUserPrefInfo(), 0);
  EXPECT_EQ(userValue("A", "v").data, dword(1));
  EXPECT_TRUE(keyExists(HKEY_CURRENT_USER, "Software\\Velmora\\B"));
  EXPECT_EQ(userValue("C", "v").data, dword(30));
  EXPECT_TRUE(userValue("C", "extra").found);
}

#ifndef _WIN32
// A child killed at random points of a reset leaves the user's sections as they were or fully
// reset, never a mix, and the hive whole. (POSIX only: the store's transaction; a forked child.)
TEST_F(Reset, KilledResetLeavesTheSectionsAsTheyWereOrFullyReset) {
  constexpr int kSections = 40, kValues = 20;
  auto section = [](int s) { return "Section" + std::to_string(s); };
  auto value = [](int v) { return "Value" + std::to_string(v); };
  for (int s = 0; s < kSections; ++s)
    for (int v = 0; v < kValues; ++v)
      machine(section(s), value(v).c_str(), REG_DWORD, dword(s * 100 + v));
  // The user's own values, and one per section that a reset removes.
  auto prepareUser = [&] {
    LONG rc = vlx::inHiveTransaction(vlx::Hive::User, [&]() -> LONG {
      for (int s = 0; s < kSections; ++s) {
        HKEY key;
        std::string path = "Software\\Velmora\\" + section(s);
        LONG e = RegCreateKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                                 nullptr, &key, nullptr);
        if (e != ERROR_SUCCESS)
          return e;
        const std::string mine = dword(-1);
        for (int v = 0; v <= kValues && e == ERROR_SUCCESS; ++v)
          e = RegSetValueExA(key, v < kValues ? value(v).c_str() : "own", 0, REG_DWORD,
                             reinterpret_cast<const BYTE *>(mine.data()), 4);
        RegCloseKey(key);
        if (e != ERROR_SUCCESS)
          return e;
      }
      return ERROR_SUCCESS;
    });
    ASSERT_EQ(rc, ERROR_SUCCESS);
  };
  // "before", "after" or "mixed".
  auto userState = [&] {
    int before = 0, after = 0;
    for (int s = 0; s < kSections; ++s) {
      for (int v = 0; v < kValues; ++v) {
        std::string data = userValue(section(s), value(v).c_str()).data;
        before += data == dword(-1);
        after += data == dword(s * 100 + v);
      }
      bool own = userValue(section(s), "own").found;
      before += own;
      after += !own;
    }
    const int all = kSections * (kValues + 1);
    return before == all ? "before" : after == all ? "after" : "mixed";
  };

  prepareUser();
  auto start = std::chrono::steady_clock::now();
  ASSERT_EQ(regResetUserPrefInfo(), 1);
  auto took = std::chrono::duration_cast<std::chrono::microseconds>(
      std::chrono::steady_clock::now() - start);
  ASSERT_STREQ(userState(), "after");

  std::mt19937 random(12345);
  // Kills spread over the whole reset, with the child's start before it and its exit after.
  std::uniform_int_distribution<long> delay(0, 3 * took.count() + 2000);
  for (int round = 0; round < 30; ++round) {
    prepareUser();
    pid_t child = fork();
    if (child == 0)
      _exit(regResetUserPrefInfo() == 1 ? 0 : 1);
    ASSERT_GT(child, 0);
    std::this_thread::sleep_for(std::chrono::microseconds(delay(random)));
    kill(child, SIGKILL);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    SCOPED_TRACE("round " + std::to_string(round));
    EXPECT_STRNE(userState(), "mixed");
    for (const vlx::HiveCheck &check : vlx::checkHives())
      EXPECT_TRUE(check.ok) << check.path << ": " << check.what;
  }
}
#endif

} // namespace
