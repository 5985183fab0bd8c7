// Registry hives under faults: read-only hives, damaged files, full disks, failing writes.
#include "platform/posix/registry/hive_db.h"
#include "platform/posix/registry/sqlite_errors.h"
#include "platform/registry_support.h"
#include "support/files.h"

#include <sqlite3.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <filesystem>

namespace {

using namespace regtest;
using vlx::test::readFile;

namespace fs = std::filesystem;
using FaultTest = vlx::test::TempEnvTest;

// While set, every write under SQLite's unix VFS fails with this errno.
std::atomic<int> writeErrno{0};
sqlite3_syscall_ptr realWrites[3];

template <int I, typename... Offset>
ssize_t failingWrite(int fd, const void *buf, size_t n, Offset... off) {
  if (int e = writeErrno.load()) {
    errno = e;
    return -1;
  }
  using Call = ssize_t (*)(int, const void *, size_t, Offset...);
  return reinterpret_cast<Call>(realWrites[I])(fd, buf, n, off...);
}

// Routes the VFS's write calls through failingWrite for its lifetime.
struct SyscallFaults {
  sqlite3_vfs *vfs = sqlite3_vfs_find(nullptr);
  const char *names[3] = {"write", "pwrite", "pwrite64"};
  SyscallFaults() {
    sqlite3_syscall_ptr fakes[3] = {reinterpret_cast<sqlite3_syscall_ptr>(&failingWrite<0>),
                                    reinterpret_cast<sqlite3_syscall_ptr>(&failingWrite<1, off_t>),
                                    reinterpret_cast<sqlite3_syscall_ptr>(&failingWrite<2, off_t>)};
    for (int i = 0; i < 3; ++i) {
      realWrites[i] = vfs->xGetSystemCall(vfs, names[i]);
      vfs->xSetSystemCall(vfs, names[i], fakes[i]);
    }
  }
  ~SyscallFaults() {
    writeErrno = 0;
    for (const char *name : names)
      vfs->xSetSystemCall(vfs, name, nullptr);
  }
};

// Only the lookup rules: the common codes are reached through real faults below (full disk,
// failing writes, damaged and read-only hives).
TEST(SqliteErrorMap, ExtendedCodesFallBackToTheirPrimary) {
  const std::pair<int, LONG> cases[] = {
      {SQLITE_IOERR_NOMEM, ERROR_NOT_ENOUGH_MEMORY}, // an exact match wins over IOERR
      {SQLITE_BUSY_SNAPSHOT, ERROR_BUSY},
      {SQLITE_ERROR, ERROR_REGISTRY_IO_FAILED}, // anything unlisted
  };
  for (auto [sqlite, win32] : cases) {
    SCOPED_TRACE(sqlite3_errstr(sqlite));
    EXPECT_EQ(vlx::errorFromSqlite(sqlite), win32);
  }
}

TEST_F(FaultTest, FullDiskLosesOnlyTheFailedChange) {
  Key k, lostKey, gone;
  ASSERT_EQ(createKey(HKCU, "Software\\Full", k), ERROR_SUCCESS);
  for (DWORD i = 0; i < 20; ++i)
    ASSERT_EQ(setDword(k, "kept" + std::to_string(i), i), ERROR_SUCCESS);
  {
    SyscallFaults faults;
    writeErrno = ENOSPC;
    EXPECT_EQ(setDword(k, "lost", 1), ERROR_DISK_FULL);
    EXPECT_EQ(createKey(k, "LostKey", lostKey), ERROR_DISK_FULL);
    // A batch whose commit cannot be written leaves nothing behind.
    auto batch = [&] {
      writeErrno = 0;
      LONG rc = setDword(k, "batch", 1);
      writeErrno = ENOSPC;
      return rc;
    };
    EXPECT_EQ(vlx::inHiveTransaction(vlx::Hive::User, batch), ERROR_DISK_FULL);
  }
  EXPECT_EQ(queryDword(k, "lost"), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(queryDword(k, "batch"), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(openKey(k, "LostKey", gone), ERROR_FILE_NOT_FOUND);
  for (DWORD i = 0; i < 20; ++i)
    EXPECT_EQ(getDword(k, "kept" + std::to_string(i)), i);
  // The hive works again once there is room.
  EXPECT_EQ(setDword(k, "after", 1), ERROR_SUCCESS);
}

// As a user without write permission: a child that gives up root, since root may write anything.
TEST_F(FaultTest, HiveOfAnotherOwnerIsReadOnly) {
  ASSERT_EQ(setIn(HKLM, "Software\\Velmora", "v", 9), ERROR_SUCCESS);
  vlx::detail::closeIdleHives();
  // Root hands the files to nobody, who may enter the directory; anyone else loses write rights.
  if (geteuid() != 0)
    fs::permissions(dir_.file("machine.db"), fs::perms::owner_read);
  fs::permissions(dir_.path(), static_cast<fs::perms>(geteuid() == 0 ? 0755 : 0500));
  auto reader = [uid = geteuid() == 0 ? 65534 : geteuid()] {
    if (uid != geteuid() && (setgid(uid) != 0 || setuid(uid) != 0))
      return 10;
    Key k, sub, user, existing;
    if (openKey(HKLM, "Software\\Velmora", k, KEY_ALL_ACCESS) != ERROR_SUCCESS)
      return 11;
    // The user hive's directory is not the reader's either.
    const LONG writes[] = {setDword(k, "v", 10), RegDeleteValueA(k, "v"), createKey(k, "New", sub),
                           RegDeleteKeyA(HKLM, "Software\\Velmora"),
                           createKey(HKCU, "Software\\Velmora", user)};
    for (int i = 0; i < 5; ++i)
      if (writes[i] != ERROR_ACCESS_DENIED)
        return 20 + i;
    // Reads still work, opening an existing key through create among them.
    if (createKey(HKLM, "Software\\Velmora", existing) != ERROR_SUCCESS)
      return 12;
    return getDword(k, "v") == 9 ? 0 : 13;
  };
  EXPECT_EQ(reap(spawn(reader)), 0);
}

TEST_F(FaultTest, DamagedHiveIsNeverWrittenAndOthersKeepServing) {
  struct Case {
    const char *what;
    std::string bytes;
    LONG result;
  } cases[] = {
      {"garbage", std::string(8192, 'x'), ERROR_BADDB},
      {"another program's database", "", ERROR_BADDB},
      {"corrupt pages", "", ERROR_REGISTRY_CORRUPT},
  };
  // A real database of another program, and a hive whose pages after the first are overwritten.
  sqlite3 *db = nullptr;
  ASSERT_EQ(sqlite3_open(vlx::hivePath(vlx::Hive::User).c_str(), &db), SQLITE_OK);
  ASSERT_EQ(
      sqlite3_exec(db, "CREATE TABLE t(x); INSERT INTO t VALUES(1);", nullptr, nullptr, nullptr),
      SQLITE_OK);
  sqlite3_close(db);
  cases[1].bytes = readFile(dir_.file("user.db"));
  fs::remove(dir_.file("user.db"));
  for (DWORD i = 0; i < 200; ++i)
    ASSERT_EQ(setIn(HKCU, "Software\\Pages", "value" + std::to_string(i), i), ERROR_SUCCESS);
  vlx::detail::closeIdleHives();
  cases[2].bytes = readFile(dir_.file("user.db"));
  ASSERT_GT(cases[2].bytes.size(), 8192u);
  std::fill(cases[2].bytes.begin() + 4096, cases[2].bytes.end(), static_cast<char>(0xa5));

  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    vlx::detail::closeIdleHives();
    vlx::test::writeFile(dir_.file("user.db"), c.bytes);
    Key k, made, lm;
    EXPECT_EQ(openKey(HKCU, "Software", k), c.result);
    EXPECT_EQ(createKey(HKCU, "Software\\Velmora", made), c.result);
    EXPECT_EQ(readFile(dir_.file("user.db")), c.bytes);
    ASSERT_EQ(createKey(HKLM, "Software\\Velmora", lm), ERROR_SUCCESS);
    EXPECT_EQ(setDword(lm, "v", 1), ERROR_SUCCESS);
    for (const vlx::HiveCheck &check : vlx::checkHives())
      EXPECT_EQ(check.ok, check.hive != vlx::Hive::User) << check.path;
  }
}

} // namespace
