// Registry hives: where they live, the skeleton of a missing hive, HKCR and
// HKU, batches.
#include "platform/registry_support.h"

#include <filesystem>
#include <stdexcept>

namespace {

using namespace regtest;

namespace fs = std::filesystem;
using HiveTest = vlx::test::TempEnvTest;
constexpr LONG kCancelled = 1223; // ERROR_CANCELLED: any failure the body reports

// Without the override that the other tests use; only the paths are computed, nothing is opened.
TEST_F(HiveTest, PathsFollowTheEnvironment) {
  vlx::test::ScopedEnv noDir("VELMORA_REGISTRY_DIR", nullptr), home("HOME", "/home/someone");
  {
    vlx::test::ScopedEnv config("XDG_CONFIG_HOME", dir_.path().c_str());
    EXPECT_EQ(vlx::hivePath(vlx::Hive::User), dir_.file("velmora/registry/user.db"));
  }
  vlx::test::ScopedEnv noConfig("XDG_CONFIG_HOME", nullptr);
  EXPECT_EQ(vlx::hivePath(vlx::Hive::User), "/home/someone/.config/velmora/registry/user.db");
  EXPECT_EQ(vlx::hivePath(vlx::Hive::Machine), "/etc/velmora/registry/machine.db");
  EXPECT_EQ(vlx::hivePath(vlx::Hive::DefaultUser), "/etc/velmora/registry/default-user.db");
}

TEST_F(HiveTest, MissingHivesReadAsSkeletonWithoutCreatingFiles) {
  const std::tuple<HKEY, const char *, LONG> cases[] = {
      {HKCU, "Software", ERROR_SUCCESS},          {HKCU, "Software\\Classes", ERROR_FILE_NOT_FOUND},
      {HKLM, "Software\\Classes", ERROR_SUCCESS}, {HKU, ".DEFAULT\\Software", ERROR_SUCCESS},
      {HKU, "S-1-5-21", ERROR_FILE_NOT_FOUND},    {HKCU, "Software\\Velmora", ERROR_FILE_NOT_FOUND},
  };
  for (auto [root, path, result] : cases) {
    SCOPED_TRACE(path);
    Key k;
    EXPECT_EQ(openKey(root, path, k), result);
  }
  EXPECT_EQ(names(HKU), Names{".DEFAULT"});
  EXPECT_EQ(names(HKLM), Names{"Software"});
  EXPECT_TRUE(fs::is_empty(dir_.path())) << "a read created a file";
  for (const vlx::HiveCheck &c : vlx::checkHives()) {
    EXPECT_FALSE(c.exists);
    EXPECT_TRUE(c.ok);
  }

  // The first write creates only its own hive, skeleton included; a handle opened on the
  // skeleton before stays valid. HKU holds no other user.
  Key software, made, other;
  ASSERT_EQ(openKey(HKU, ".default\\software", software, KEY_ALL_ACCESS), ERROR_SUCCESS);
  ASSERT_EQ(createKey(software, "Velmora", made), ERROR_SUCCESS);
  EXPECT_EQ(names(software), Names{"Velmora"});
  EXPECT_TRUE(fs::exists(dir_.file("default-user.db")));
  EXPECT_FALSE(fs::exists(dir_.file("user.db")));
  EXPECT_FALSE(fs::exists(dir_.file("machine.db")));
  EXPECT_EQ(createKey(HKU, "S-1-5-21", other), ERROR_ACCESS_DENIED);
}

TEST_F(HiveTest, ClassesRootMergesUserOverMachine) {
  ASSERT_EQ(setIn(HKLM, "Software\\Classes\\.vlx", "from", 1), ERROR_SUCCESS);
  ASSERT_EQ(setIn(HKLM, "Software\\Classes\\Both", "from", 1), ERROR_SUCCESS);
  ASSERT_EQ(setIn(HKCU, "Software\\Classes\\both", "from", 2), ERROR_SUCCESS);
  ASSERT_EQ(setIn(HKCU, "Software\\Classes\\UserOnly", "from", 2), ERROR_SUCCESS);
  EXPECT_EQ(names(HKCR), (Names{".vlx", "both", "UserOnly"}));
  DWORD count = 0;
  ASSERT_EQ(RegQueryInfoKeyA(HKCR, nullptr, nullptr, nullptr, &count, nullptr, nullptr, nullptr,
                             nullptr, nullptr, nullptr, nullptr),
            ERROR_SUCCESS);
  EXPECT_EQ(count, 3u);
  EXPECT_EQ(getIn(HKCR, ".VLX", "from"), 1u);
  EXPECT_EQ(getIn(HKCR, "Both", "from"), 2u);

  // Writes land in the user's key where it exists, else in the machine's classes.
  ASSERT_EQ(setIn(HKCR, "Both", "written", 3), ERROR_SUCCESS);
  EXPECT_EQ(getIn(HKCU, "Software\\Classes\\Both", "written"), 3u);
  Key fresh, inMachine;
  DWORD disposition = 0;
  ASSERT_EQ(createKey(HKCR, "New.Type\\Shell", fresh, &disposition), ERROR_SUCCESS);
  EXPECT_EQ(disposition, static_cast<DWORD>(REG_CREATED_NEW_KEY));
  EXPECT_EQ(openKey(HKLM, "Software\\Classes\\New.Type\\Shell", inMachine), ERROR_SUCCESS);
  EXPECT_EQ(names(HKCR), (Names{".vlx", "both", "New.Type", "UserOnly"}));

  // Deleting removes the user's key first; the machine's then shows through.
  EXPECT_EQ(RegDeleteKeyA(HKCR, "Both"), ERROR_SUCCESS);
  EXPECT_EQ(getIn(HKCR, "Both", "from"), 1u);
}

TEST_F(HiveTest, TransactionLandsAllOrNothing) {
  Key k, sub;
  ASSERT_EQ(createKey(HKCU, "Software\\Batch", k), ERROR_SUCCESS);
  ASSERT_EQ(setDword(k, "before", 1), ERROR_SUCCESS);
  auto writeTwo = [&](LONG outcome) {
    return vlx::inHiveTransaction(vlx::Hive::User, [&]() -> LONG {
      Key inner;
      LONG rc = createKey(HKCU, "Software\\Batch\\Sub", inner);
      if (rc == ERROR_SUCCESS)
        rc = setDword(k, "a", 1);
      if (rc == ERROR_SUCCESS)
        rc = setDword(inner, "b", 2);
      // Reads inside see the batch's own changes.
      if (rc == ERROR_SUCCESS && getDword(k, "a") != 1)
        rc = ERROR_INVALID_DATA;
      return rc == ERROR_SUCCESS ? outcome : rc;
    });
  };
  EXPECT_EQ(writeTwo(kCancelled), kCancelled);
  EXPECT_EQ(queryDword(k, "a"), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(openKey(k, "Sub", sub), ERROR_FILE_NOT_FOUND);
  EXPECT_THROW(vlx::inHiveTransaction(vlx::Hive::User,
                                      [&]() -> LONG {
                                        setDword(k, "thrown", 1);
                                        throw std::runtime_error("body failed");
                                      }),
               std::runtime_error);
  EXPECT_EQ(queryDword(k, "thrown"), ERROR_FILE_NOT_FOUND);

  EXPECT_EQ(writeTwo(ERROR_SUCCESS), ERROR_SUCCESS);
  EXPECT_EQ(getDword(k, "a"), 1u);
  EXPECT_EQ(getIn(k, "Sub", "b"), 2u);
  EXPECT_EQ(getDword(k, "before"), 1u);
}

} // namespace
