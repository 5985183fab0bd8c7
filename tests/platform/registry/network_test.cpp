// Hives on network file systems: detection per file system type through faked statfs and
// mountinfo answers, the mode the store takes, and what network mode does to the file.
#include "platform/posix/registry/network_mode.h"
#include "platform/posix/registry/store.h"
#include "platform/registry/support.h"
#include "support/expect_text.h"

#include <sqlite3.h>

#include <chrono>
#include <fstream>
#include <sys/sysmacros.h>
#include <thread>

namespace {

using namespace regtest;
using vlx::test::ScopedEnv;

// What the faked calls answer: a file system type, and the mount table FUSE types are read from.
unsigned long fakeType = 0;
std::string fakeMounts;
std::string fakeMissing; // statfs of this path fails with ENOENT

class NetworkDetectionTest : public vlx::test::TempEnvTest {
protected:
  NetworkDetectionTest() {
    auto &calls = vlx::networkFsCalls();
    calls.statfs = [](const char *path, struct statfs *out) {
      if (path == fakeMissing)
        return errno = ENOENT, -1;
      *out = {};
      out->f_type = static_cast<decltype(out->f_type)>(fakeType);
      return 0;
    };
    calls.stat = [](const char *, struct stat *out) {
      *out = {};
      out->st_dev = makedev(0, 52);
      return 0;
    };
    calls.mountInfo = [](std::string *out) {
      *out = fakeMounts;
      return !out->empty();
    };
  }
  ~NetworkDetectionTest() override { vlx::networkFsCalls() = vlx::systemNetworkFsCalls(); }
  ScopedEnv detect_{"VELMORA_REGISTRY_NETWORK", nullptr};
};

std::string mountLine(const std::string &majorMinor, const std::string &type) {
  return "36 25 " + majorMinor + " / /home rw,relatime shared:1 - " + type + " src rw\n";
}

TEST_F(NetworkDetectionTest, EachFileSystemType) {
  struct Case {
    unsigned long magic;
    std::string fuseType; // the mount's type when the magic is FUSE's
    std::string expected; // "" for local
  } cases[] = {
      {0x6969, "", "nfs"},
      {0xFF534D42, "", "cifs"},
      {0x517B, "", "smb"},
      {0xFE534D42, "", "smb2"},
      {0x5346414F, "", "afs"},
      {0x6B414653, "", "afs"},
      {0x0BD00BD0, "", "lustre"},
      {0x47504653, "", "gpfs"},
      {0x00C36400, "", "ceph"},
      {0x01021997, "", "9p"},
      {0xEF53, "", ""},     // ext4
      {0x58465342, "", ""}, // xfs
      {0x9123683E, "", ""}, // btrfs
      {0x01021994, "", ""}, // tmpfs
      {0x65735546, "fuse.glusterfs", "fuse.glusterfs"},
      {0x65735546, "fuse.sshfs", "fuse.sshfs"},
      {0x65735546, "fuse.bindfs", "fuse.bindfs"},
      {0x65735546, "fuseblk", ""},
      {0x65735546, "fuse.portal", ""},
      {0x65735546, "", "fuse (type unknown)"}, // no mount table: counted as network
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.expected + " " + c.fuseType);
    fakeType = c.magic;
    fakeMounts =
        mountLine("0:51", "ext4") + (c.fuseType.empty() ? "" : mountLine("0:52", c.fuseType));
    EXPECT_EQ(vlx::networkFileSystem(dir_.path()), c.expected);
    vlx::StoreMode mode = vlx::storeModeFor(dir_.file("user.db"));
    EXPECT_EQ(mode.network, !c.expected.empty()) << mode.why;
  }
}

TEST_F(NetworkDetectionTest, TheVariableForcesEitherWay) {
  struct Case {
    const char *value;
    unsigned long magic;
    bool network;
    const char *why;
  } cases[] = {
      {nullptr, 0x6969, true, "network: the folder is on nfs"},
      {"auto", 0xEF53, false, "local: the folder is on a local file system (0xef53)"},
      {"on", 0xEF53, true, "VELMORA_REGISTRY_NETWORK=on"},
      {"off", 0x6969, false, "VELMORA_REGISTRY_NETWORK=off"},
      {"yes", 0x6969, true, "VELMORA_REGISTRY_NETWORK=yes is not auto, on or off"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.value ? c.value : "(unset)");
    ScopedEnv env("VELMORA_REGISTRY_NETWORK", c.value);
    fakeType = c.magic;
    vlx::StoreMode mode = vlx::storeModeFor(dir_.file("user.db"));
    EXPECT_EQ(mode.network, c.network);
    EXPECT_HAS(mode.why, c.why);
  }
}

// A hive not created yet: its folder may be missing, and the nearest parent decides.
TEST_F(NetworkDetectionTest, AMissingFolderIsJudgedByItsParent) {
  fakeType = 0x6969;
  fakeMissing = dir_.file("not-yet");
  EXPECT_EQ(vlx::networkFileSystem(fakeMissing), "nfs");
  fakeMissing.clear();
}

// The store forced into network mode: a rollback journal, no -wal or -shm beside the file.
class NetworkModeTest : public vlx::test::TempEnvTest {
protected:
  NetworkModeTest() { vlx::detail::closeIdleHives(); }
  ~NetworkModeTest() override { vlx::detail::closeIdleHives(); }
  ScopedEnv network_{"VELMORA_REGISTRY_NETWORK", "on"};
};

bool exists(const std::string &path) { return std::ifstream(path).good(); }

std::string journalMode(const std::string &file) {
  sqlite3 *db = nullptr;
  std::string mode;
  if (sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
    sqlite3_stmt *s = nullptr;
    if (sqlite3_prepare_v2(db, "PRAGMA journal_mode", -1, &s, nullptr) == SQLITE_OK &&
        sqlite3_step(s) == SQLITE_ROW)
      mode = reinterpret_cast<const char *>(sqlite3_column_text(s, 0));
    sqlite3_finalize(s);
  }
  sqlite3_close_v2(db);
  return mode;
}

TEST_F(NetworkModeTest, NoSharedMemoryAndARollbackJournal) {
  ASSERT_EQ(setIn(HKCU, "Software\\Velmora\\General", "X", 1), ERROR_SUCCESS);
  EXPECT_EQ(getIn(HKCU, "Software\\Velmora\\General", "X"), 1u);
  EXPECT_FALSE(exists(dir_.file("user.db-shm")));
  EXPECT_FALSE(exists(dir_.file("user.db-wal")));
  vlx::detail::closeIdleHives();
  EXPECT_EQ(journalMode(dir_.file("user.db")), "delete"); // not WAL in the file
  for (const vlx::HiveCheck &c : vlx::checkHives()) {
    EXPECT_TRUE(c.network);
    EXPECT_TRUE(c.ok) << c.what;
  }
}

// A hive a local host left in WAL mode is taken out of it on the first open here, keeping every
// value, even one still in the log only; while a WAL user has it open, it is not touched.
TEST_F(NetworkModeTest, AHiveLeftInWalModeIsTakenOutOfIt) {
  const std::string file = dir_.file("user.db");
  {
    ScopedEnv local("VELMORA_REGISTRY_NETWORK", "off");
    ASSERT_EQ(setIn(HKCU, "Software\\Velmora\\General", "X", 7), ERROR_SUCCESS);
    vlx::detail::closeIdleHives();
  }
  ASSERT_EQ(journalMode(file), "wal");
  // A local WAL user holds it open: its log still holds a commit.
  sqlite3 *holder = nullptr;
  ASSERT_EQ(sqlite3_open(file.c_str(), &holder), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(holder, "UPDATE keys SET written=written+1 WHERE id=1", nullptr, nullptr,
                         nullptr),
            SQLITE_OK);
  EXPECT_EQ(setIn(HKCU, "Software\\Velmora\\General", "Y", 1), ERROR_BUSY);
  for (const vlx::HiveCheck &c : vlx::checkHives())
    if (c.hive == vlx::Hive::User) {
      EXPECT_HAS(c.modeNote, "still in WAL mode");
    }
  sqlite3_db_config(holder, SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 1, nullptr);
  sqlite3_close(holder); // leaves its log behind, as a killed process does
  vlx::detail::closeIdleHives();
  // The retry waits out its pause.
  std::this_thread::sleep_for(std::chrono::milliseconds(1100));
  ASSERT_EQ(setIn(HKCU, "Software\\Velmora\\General", "Y", 2), ERROR_SUCCESS);
  EXPECT_EQ(getIn(HKCU, "Software\\Velmora\\General", "X"), 7u);
  EXPECT_FALSE(exists(file + "-wal"));
  vlx::detail::closeIdleHives();
  EXPECT_EQ(journalMode(file), "delete");
}

// A restore of a file in WAL mode leaves a network hive out of WAL.
TEST_F(NetworkModeTest, RestoringAWalFileLeavesTheHiveOutOfWal) {
  const std::string copy = dir_.file("copy.db");
  {
    ScopedEnv local("VELMORA_REGISTRY_DIR", dir_.file("elsewhere").c_str());
    ScopedEnv off("VELMORA_REGISTRY_NETWORK", "off");
    ASSERT_EQ(setIn(HKCU, "Software\\Velmora\\General", "X", 9), ERROR_SUCCESS);
    vlx::detail::closeIdleHives();
    ASSERT_EQ(journalMode(dir_.file("elsewhere/user.db")), "wal");
    std::ifstream in(dir_.file("elsewhere/user.db"), std::ios::binary);
    std::ofstream(copy, std::ios::binary) << in.rdbuf();
  }
  ASSERT_EQ(setIn(HKCU, "Software\\Velmora\\General", "X", 1), ERROR_SUCCESS);
  std::string why;
  ASSERT_EQ(vlx::restoreHive(vlx::Hive::User, copy, &why), ERROR_SUCCESS) << why;
  EXPECT_EQ(getIn(HKCU, "Software\\Velmora\\General", "X"), 9u);
  vlx::detail::closeIdleHives();
  EXPECT_EQ(journalMode(dir_.file("user.db")), "delete");
  EXPECT_FALSE(exists(dir_.file("user.db-shm")));
}

} // namespace
