// Registry hives: where they live, the skeleton of a missing hive, HKEY_CLASSES_ROOT and
// HKEY_USERS, batches.
#include "platform/registry_support.h"
#include "support/temp_env.h"

#include <velmora/hive.h>
#include <velmora/win32.h>

#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

using namespace regtest;

namespace fs = std::filesystem;
using HiveTest = vlx::test::TempEnvTest;
constexpr LONG kCancelled = 1223; // ERROR_CANCELLED: any failure the body reports

TEST_F(HiveTest, PathsFollowTheEnvironment) {
  EXPECT_EQ(vlx::hivePath(vlx::Hive::User), dir_.file("user.db"));
  EXPECT_EQ(vlx::hivePath(vlx::Hive::Machine), dir_.file("machine.db"));
  EXPECT_EQ(vlx::hivePath(vlx::Hive::DefaultUser), dir_.file("default-user.db"));
  // Without the override (only the paths are computed here; nothing is opened).
  vlx::test::ScopedEnv noDir("VELMORA_REGISTRY_DIR", nullptr);
  {
    vlx::test::ScopedEnv config("XDG_CONFIG_HOME", dir_.path().c_str());
    EXPECT_EQ(vlx::hivePath(vlx::Hive::User), dir_.file("velmora/registry/user.db"));
  }
  vlx::test::ScopedEnv noConfig("XDG_CONFIG_HOME", nullptr);
  vlx::test::ScopedEnv home("HOME", "/home/someone");
  EXPECT_EQ(vlx::hivePath(vlx::Hive::User), "/home/someone/.config/velmora/registry/user.db");
  EXPECT_EQ(vlx::hivePath(vlx::Hive::Machine), "/etc/velmora/registry/machine.db");
  EXPECT_EQ(vlx::hivePath(vlx::Hive::DefaultUser), "/etc/velmora/registry/default-user.db");
}

TEST_F(HiveTest, MissingHivesReadAsSkeletonWithoutCreatingFiles) {
  struct Case {
    HKEY root;
    const char *path;
    LONG result;
  } cases[] = {
      {HKEY_CURRENT_USER, "Software", ERROR_SUCCESS},
      {HKEY_CURRENT_USER, "Software\\Classes", ERROR_FILE_NOT_FOUND},
      {HKEY_LOCAL_MACHINE, "Software", ERROR_SUCCESS},
      {HKEY_LOCAL_MACHINE, "Software\\Classes", ERROR_SUCCESS},
      {HKEY_USERS, ".DEFAULT\\Software", ERROR_SUCCESS},
      {HKEY_CURRENT_USER, "Software\\Velmora", ERROR_FILE_NOT_FOUND},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.path);
    Key k;
    EXPECT_EQ(RegOpenKeyExA(c.root, c.path, 0, KEY_READ, k.out()), c.result);
  }
  Key hku;
  ASSERT_EQ(RegOpenKeyExA(HKEY_USERS, nullptr, 0, KEY_READ, hku.out()), ERROR_SUCCESS);
  EXPECT_EQ(subkeyNames(hku.h), std::vector<std::string>{".DEFAULT"});
  Key lm;
  ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "", 0, KEY_READ, lm.out()), ERROR_SUCCESS);
  EXPECT_EQ(subkeyNames(lm.h), std::vector<std::string>{"Software"});
  EXPECT_TRUE(fs::is_empty(dir_.path())) << "a read created a file";
  for (const vlx::HiveCheck &c : vlx::checkHives()) {
    EXPECT_FALSE(c.exists);
    EXPECT_TRUE(c.ok);
  }

  // The first write creates only that hive, skeleton included; a handle opened on the
  // skeleton before stays valid.
  Key software;
  ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software", 0, KEY_ALL_ACCESS, software.out()),
            ERROR_SUCCESS);
  Key made;
  ASSERT_EQ(createKey(software.h, "Velmora", made.out()), ERROR_SUCCESS);
  EXPECT_TRUE(fs::exists(dir_.file("user.db")));
  EXPECT_FALSE(fs::exists(dir_.file("machine.db")));
  EXPECT_EQ(subkeyNames(software.h), std::vector<std::string>{"Velmora"});
}

TEST_F(HiveTest, HiveFollowsTheDirectoryOnceItsHandlesAreClosed) {
  Key k;
  ASSERT_EQ(createKey(HKEY_CURRENT_USER, "Software\\Moving", k.out()), ERROR_SUCCESS);
  ASSERT_EQ(setDword(k.h, "where", 1), ERROR_SUCCESS);
  vlx::test::TempDir other;
  {
    vlx::test::ScopedEnv moved("VELMORA_REGISTRY_DIR", other.path().c_str());
    // Still open: the handle keeps the hive it was opened in.
    EXPECT_EQ(getDword(k.h, "where"), 1u);
    RegCloseKey(k.h);
    k.h = nullptr;
    Key there;
    EXPECT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Moving", 0, KEY_READ, there.out()),
              ERROR_FILE_NOT_FOUND);
    ASSERT_EQ(createKey(HKEY_CURRENT_USER, "Software\\Moving", there.out()), ERROR_SUCCESS);
    ASSERT_EQ(setDword(there.h, "where", 2), ERROR_SUCCESS);
    EXPECT_TRUE(fs::exists(other.file("user.db")));
  }
  Key back;
  ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Moving", 0, KEY_READ, back.out()),
            ERROR_SUCCESS);
  EXPECT_EQ(getDword(back.h, "where"), 1u);
}

TEST_F(HiveTest, UsersHoldsOnlyTheDefaultUserHive) {
  Key def;
  ASSERT_EQ(createKey(HKEY_USERS, ".default\\Software\\Velmora", def.out()), ERROR_SUCCESS);
  ASSERT_EQ(setDword(def.h, "v", 7), ERROR_SUCCESS);
  EXPECT_TRUE(fs::exists(dir_.file("default-user.db")));
  EXPECT_FALSE(fs::exists(dir_.file("user.db")));
  Key other;
  EXPECT_EQ(createKey(HKEY_USERS, "S-1-5-21", other.out()), ERROR_ACCESS_DENIED);
  EXPECT_EQ(RegOpenKeyExA(HKEY_USERS, "S-1-5-21", 0, KEY_READ, other.out()), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegDeleteKeyA(HKEY_USERS, ".DEFAULT"), ERROR_ACCESS_DENIED);
  Key user;
  EXPECT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Velmora", 0, KEY_READ, user.out()),
            ERROR_FILE_NOT_FOUND);
}

TEST_F(HiveTest, ClassesRootMergesUserOverMachine) {
  Key m1, m2, u1, u2;
  ASSERT_EQ(createKey(HKEY_LOCAL_MACHINE, "Software\\Classes\\.vlx", m1.out()), ERROR_SUCCESS);
  ASSERT_EQ(setDword(m1.h, "from", 1), ERROR_SUCCESS);
  ASSERT_EQ(createKey(HKEY_LOCAL_MACHINE, "Software\\Classes\\Both", m2.out()), ERROR_SUCCESS);
  ASSERT_EQ(setDword(m2.h, "from", 1), ERROR_SUCCESS);
  ASSERT_EQ(createKey(HKEY_CURRENT_USER, "Software\\Classes\\both", u1.out()), ERROR_SUCCESS);
  ASSERT_EQ(setDword(u1.h, "from", 2), ERROR_SUCCESS);
  ASSERT_EQ(createKey(HKEY_CURRENT_USER, "Software\\Classes\\UserOnly", u2.out()), ERROR_SUCCESS);

  EXPECT_EQ(subkeyNames(HKEY_CLASSES_ROOT), (std::vector<std::string>{".vlx", "both", "UserOnly"}));
  DWORD count = 0;
  ASSERT_EQ(RegQueryInfoKeyA(HKEY_CLASSES_ROOT, nullptr, nullptr, nullptr, &count, nullptr, nullptr,
                             nullptr, nullptr, nullptr, nullptr, nullptr),
            ERROR_SUCCESS);
  EXPECT_EQ(count, 3u);

  struct Case {
    const char *path;
    DWORD from;
  } reads[] = {{".VLX", 1}, {"Both", 2}};
  for (const Case &c : reads) {
    SCOPED_TRACE(c.path);
    Key k;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CLASSES_ROOT, c.path, 0, KEY_READ, k.out()), ERROR_SUCCESS);
    EXPECT_EQ(getDword(k.h, "from"), c.from);
  }

  // Writes land in the user's key where it exists, else in the machine's classes.
  Key both, fresh;
  ASSERT_EQ(RegOpenKeyExA(HKEY_CLASSES_ROOT, "Both", 0, KEY_ALL_ACCESS, both.out()), ERROR_SUCCESS);
  ASSERT_EQ(setDword(both.h, "written", 3), ERROR_SUCCESS);
  EXPECT_EQ(getDword(u1.h, "written"), 3u);
  DWORD disposition = 0;
  ASSERT_EQ(createKey(HKEY_CLASSES_ROOT, "New.Type\\Shell", fresh.out(), &disposition),
            ERROR_SUCCESS);
  EXPECT_EQ(disposition, static_cast<DWORD>(REG_CREATED_NEW_KEY));
  Key inMachine;
  EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\Classes\\New.Type\\Shell", 0, KEY_READ,
                          inMachine.out()),
            ERROR_SUCCESS);
  EXPECT_EQ(subkeyNames(HKEY_CLASSES_ROOT),
            (std::vector<std::string>{".vlx", "both", "New.Type", "UserOnly"}));

  // Deleting removes the user's key first; the machine's then shows through.
  EXPECT_EQ(RegDeleteKeyA(HKEY_CLASSES_ROOT, "Both"), ERROR_SUCCESS);
  Key after;
  ASSERT_EQ(RegOpenKeyExA(HKEY_CLASSES_ROOT, "Both", 0, KEY_READ, after.out()), ERROR_SUCCESS);
  EXPECT_EQ(getDword(after.h, "from"), 1u);
  EXPECT_EQ(RegDeleteKeyA(HKEY_CLASSES_ROOT, ""), ERROR_ACCESS_DENIED);
}

TEST_F(HiveTest, TransactionLandsAllOrNothing) {
  Key k;
  ASSERT_EQ(createKey(HKEY_CURRENT_USER, "Software\\Batch", k.out()), ERROR_SUCCESS);
  ASSERT_EQ(setDword(k.h, "before", 1), ERROR_SUCCESS);

  auto writeTwo = [&](LONG outcome) {
    return vlx::inHiveTransaction(vlx::Hive::User, [&]() -> LONG {
      Key sub;
      LONG rc = createKey(HKEY_CURRENT_USER, "Software\\Batch\\Sub", sub.out());
      if (rc == ERROR_SUCCESS)
        rc = setDword(k.h, "a", 1);
      if (rc == ERROR_SUCCESS)
        rc = setDword(sub.h, "b", 2);
      // Reads inside see the batch's own changes.
      if (rc == ERROR_SUCCESS && getDword(k.h, "a") != 1)
        rc = ERROR_INVALID_DATA;
      return rc == ERROR_SUCCESS ? outcome : rc;
    });
  };
  EXPECT_EQ(writeTwo(kCancelled), kCancelled);
  DWORD v = 0;
  EXPECT_EQ(queryDword(k.h, "a", &v), ERROR_FILE_NOT_FOUND);
  Key sub;
  EXPECT_EQ(RegOpenKeyExA(k.h, "Sub", 0, KEY_READ, sub.out()), ERROR_FILE_NOT_FOUND);

  EXPECT_THROW(vlx::inHiveTransaction(vlx::Hive::User,
                                      [&]() -> LONG {
                                        setDword(k.h, "thrown", 1);
                                        throw std::runtime_error("body failed");
                                      }),
               std::runtime_error);
  EXPECT_EQ(queryDword(k.h, "thrown", &v), ERROR_FILE_NOT_FOUND);

  EXPECT_EQ(writeTwo(ERROR_SUCCESS), ERROR_SUCCESS);
  EXPECT_EQ(getDword(k.h, "a"), 1u);
  ASSERT_EQ(RegOpenKeyExA(k.h, "Sub", 0, KEY_READ, sub.out()), ERROR_SUCCESS);
  EXPECT_EQ(getDword(sub.h, "b"), 2u);
  EXPECT_EQ(getDword(k.h, "before"), 1u);
}

} // namespace
