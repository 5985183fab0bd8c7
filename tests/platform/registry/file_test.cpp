// The hive file holds the hive: the log is emptied at exit, after an idle spell and after a large
// commit; a replaced file is reopened; backup and restore while other processes use the hive, of
// backups made by older versions too.
#include "platform/posix/registry/hive_schema.h"
#include "platform/registry/support.h"
#include "support/expect_text.h"
#include "support/old_hive.h"

#include <sqlite3.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <thread>

namespace {

using namespace regtest;
namespace fs = std::filesystem;

using HiveFileTest = vlx::test::TempEnvTest;

std::string userHive() { return vlx::hivePath(vlx::Hive::User); }

uintmax_t sizeOf(const std::string &path) {
  std::error_code ec;
  uintmax_t n = fs::file_size(path, ec);
  return ec ? 0 : n;
}

// The DWORD value `name` as the file holds it on its own, ignoring any log beside it, as a
// copy of the file alone would read; 0xdeadbeef when it is not there.
DWORD inFileAlone(const std::string &path, const std::string &name) {
  sqlite3 *db = nullptr;
  DWORD value = 0xdeadbeef;
  std::string uri = "file:" + path + "?immutable=1";
  if (sqlite3_open_v2(uri.c_str(), &db, SQLITE_OPEN_READONLY | SQLITE_OPEN_URI, nullptr) ==
      SQLITE_OK) {
    sqlite3_stmt *s = nullptr;
    if (sqlite3_prepare_v2(db, "SELECT data FROM vals WHERE name=?1", -1, &s, nullptr) ==
        SQLITE_OK) {
      sqlite3_bind_blob(s, 1, name.data(), static_cast<int>(name.size()), SQLITE_STATIC);
      if (sqlite3_step(s) == SQLITE_ROW && sqlite3_column_bytes(s, 0) == sizeof value)
        std::memcpy(&value, sqlite3_column_blob(s, 0), sizeof value);
    }
    sqlite3_finalize(s);
  }
  sqlite3_close_v2(db);
  return value;
}

// Polls `done` for up to three seconds.
bool within3s(const std::function<bool()> &done) {
  auto until = std::chrono::steady_clock::now() + std::chrono::seconds(3);
  while (!done()) {
    if (std::chrono::steady_clock::now() > until)
      return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return true;
}

// Restores `copy` over the user's hive while a host in another process holds it. `host` runs
// there and calls its argument where the restore is to happen, which answers whether the host
// may go on; the host's exit status is returned.
int restoreUnderHost(const std::string &copy,
                     const std::function<int(const std::function<bool()> &)> &host) {
  int go[2], ready[2];
  if (pipe(go) != 0 || pipe(ready) != 0) {
    ADD_FAILURE() << "no pipe";
    return -1;
  }
  const pid_t pid = spawn([&] {
    return host([&] {
      char c = 1;
      return write(ready[1], &c, 1) == 1 && read(go[0], &c, 1) == 1;
    });
  });
  close(ready[1]); // a host that ends early ends the wait
  close(go[0]);
  char c = 0;
  if (read(ready[0], &c, 1) == 1) {
    std::string why;
    EXPECT_EQ(vlx::restoreHive(vlx::Hive::User, copy, &why), ERROR_SUCCESS) << why;
    EXPECT_EQ(write(go[1], &c, 1), 1);
  } else {
    ADD_FAILURE() << "the host never got ready";
  }
  close(go[1]);
  close(ready[0]);
  return reap(pid);
}

TEST_F(HiveFileTest, AProcessThatExitsLeavesEverythingInTheFile) {
  // exit(), not _exit(): the process ends as hosts and the vlx tool do.
  pid_t pid = fork();
  if (pid == 0)
    std::exit(setIn(HKCU, "Software\\Kept", "v", 41) == ERROR_SUCCESS ? 0 : 1);
  ASSERT_EQ(reap(pid), 0);
  EXPECT_EQ(sizeOf(userHive() + "-wal"), 0u);
  EXPECT_EQ(inFileAlone(userHive(), "v"), 41u);
}

TEST_F(HiveFileTest, IdleAfterWritingTheLogGoesIntoTheFile) {
  ASSERT_EQ(setIn(HKCU, "Software\\Kept", "v", 42), ERROR_SUCCESS);
  Key held; // an open handle does not hold it back
  ASSERT_EQ(openKey(HKCU, "Software\\Kept", held), ERROR_SUCCESS);
  EXPECT_TRUE(within3s([] { return inFileAlone(userHive(), "v") == 42; }));
  EXPECT_TRUE(within3s([] { return sizeOf(userHive() + "-wal") == 0; }));
  EXPECT_EQ(getDword(held, "v"), 42u);
}

TEST_F(HiveFileTest, ALargeCommitEmptiesTheLogAtOnce) {
  const std::string big(64 * 1024, 'x');
  ASSERT_EQ(vlx::inHiveTransaction(vlx::Hive::User,
                                   [&] {
                                     Key k;
                                     LONG rc = createKey(HKCU, "Software\\Big", k);
                                     for (int i = 0; rc == ERROR_SUCCESS && i < 100; ++i)
                                       rc = setRaw(k, ("v" + std::to_string(i)).c_str(), REG_BINARY,
                                                   big);
                                     return rc;
                                   }),
            ERROR_SUCCESS);
  EXPECT_EQ(sizeOf(userHive() + "-wal"), 0u);
  EXPECT_GT(sizeOf(userHive()), 100 * big.size());
}

TEST_F(HiveFileTest, AReplacedFileIsReopened) {
  ASSERT_EQ(setIn(HKCU, "Software\\Kept", "v", 777), ERROR_SUCCESS);
  const std::string copy = dir_.file("copy.db");
  ASSERT_EQ(vlx::backupHive(vlx::Hive::User, copy), ERROR_SUCCESS);
  ASSERT_EQ(setIn(HKCU, "Software\\Kept", "v", 5), ERROR_SUCCESS);
  ASSERT_EQ(getIn(HKCU, "Software\\Kept", "v"), 5u);
  ASSERT_EQ(getIn(HKCU, "Software\\Kept", "v"), 5u); // held in memory
  ASSERT_EQ(std::rename(copy.c_str(), userHive().c_str()), 0);
  EXPECT_TRUE(within3s([] { return getIn(HKCU, "Software\\Kept", "v") == 777; }));
  // Another process reads and writes the file now in place, not the log of the one replaced.
  EXPECT_EQ(reap(spawn([] {
              return getIn(HKCU, "Software\\Kept", "v") == 777 &&
                             setIn(HKCU, "Software\\Kept", "w", 1) == ERROR_SUCCESS
                         ? 0
                         : 1;
            })),
            0);
  EXPECT_EQ(getIn(HKCU, "Software\\Kept", "w"), 1u);
}

TEST_F(HiveFileTest, BackupAndRestoreWhileAnotherProcessUsesTheHive) {
  const std::string copy = dir_.file("saved.db");
  EXPECT_EQ(vlx::backupHive(vlx::Hive::User, copy), ERROR_FILE_NOT_FOUND);
  ASSERT_EQ(setIn(HKCU, "Software\\Kept", "v", 1), ERROR_SUCCESS);
  ASSERT_EQ(vlx::backupHive(vlx::Hive::User, copy), ERROR_SUCCESS);
  EXPECT_FALSE(fs::exists(copy + "-wal"));
  EXPECT_EQ(inFileAlone(copy, "v"), 1u);
  ASSERT_EQ(setIn(HKCU, "Software\\Kept", "v", 2), ERROR_SUCCESS);
  ASSERT_EQ(setIn(HKCU, "Software\\Later", "w", 3), ERROR_SUCCESS);

  // A running host holds the value in memory and a handle open across the restore.
  const auto host = [](const std::function<bool()> &restored) {
    Key k;
    if (openKey(HKCU, "Software\\Kept", k) != ERROR_SUCCESS || getDword(k, "v") != 2 ||
        getIn(HKCU, "Software\\Kept", "v") != 2)
      return 10;
    if (!restored())
      return 11;
    return getDword(k, "v") == 1 && getIn(HKCU, "Software\\Kept", "v") == 1 ? 0 : 12;
  };
  EXPECT_EQ(restoreUnderHost(copy, host), 0);
  EXPECT_EQ(getIn(HKCU, "Software\\Kept", "v"), 1u);
  Key later;
  EXPECT_EQ(openKey(HKCU, "Software\\Later", later), ERROR_FILE_NOT_FOUND);

  // What is not a hive is refused, and the hive is left as it is.
  const std::string text = dir_.file("text.db");
  std::FILE *f = std::fopen(text.c_str(), "w");
  std::fputs("not a database at all\n", f);
  std::fclose(f);
  std::string why;
  EXPECT_EQ(vlx::restoreHive(vlx::Hive::User, text, &why), ERROR_BADDB);
  EXPECT_HAS(why, "text.db");
  EXPECT_EQ(vlx::restoreHive(vlx::Hive::User, dir_.file("none.db")), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(getIn(HKCU, "Software\\Kept", "v"), 1u);
}

// A host that keeps the hive open reads and writes a restored backup of an older version, which
// its first write moves to the current one, just as a new process would.
TEST_F(HiveFileTest, ARunningHostFollowsARestoredBackupOfAnOlderVersion) {
  for (int version : {vlx::kAsciiFoldingVersion, vlx::kRowidValuesVersion}) {
    SCOPED_TRACE(version);
    const std::string copy = dir_.file("old" + std::to_string(version) + ".db");
    ASSERT_EQ(setIn(HKCU, "Software\\Kept", "v", 1), ERROR_SUCCESS);
    ASSERT_EQ(vlx::backupHive(vlx::Hive::User, copy), ERROR_SUCCESS);
    { vlx::test::OldHive old(copy, version); }
    ASSERT_EQ(setIn(HKCU, "Software\\Kept", "v", 2), ERROR_SUCCESS);

    const auto host = [](const std::function<bool()> &restored) {
      Key k;
      if (openKey(HKCU, "Software\\Kept", k, KEY_ALL_ACCESS) != ERROR_SUCCESS ||
          getDword(k, "v") != 2)
        return 10;
      if (!restored())
        return 11;
      if (getDword(k, "v") != 1 || getIn(HKCU, "Software\\Kept", "v") != 1)
        return 12;
      if (setIn(HKCU, "Software\\Kept", "w", 7) != ERROR_SUCCESS || setDword(k, "v", 3))
        return 13;
      return getIn(HKCU, "Software\\Kept", "w") == 7 && getDword(k, "v") == 3 ? 0 : 14;
    };
    EXPECT_EQ(restoreUnderHost(copy, host), 0);
    EXPECT_EQ(vlx::test::hiveVersion(userHive()), vlx::kSchemaVersion);
    EXPECT_EQ(getIn(HKCU, "Software\\Kept", "w"), 7u);
    EXPECT_EQ(getIn(HKCU, "Software\\Kept", "v"), 3u);
  }
}

} // namespace
