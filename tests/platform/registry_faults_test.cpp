// Registry hives under faults: read-only hives, damaged files, full disks, failing writes.
#include "platform/posix/registry/hive_db.h"
#include "platform/posix/registry/sqlite_errors.h"
#include "platform/registry_support.h"
#include "support/temp_env.h"

#include <velmora/hive.h>
#include <velmora/win32.h>

#include <sqlite3.h>

#include <atomic>
#include <cerrno>
#include <filesystem>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using namespace regtest;

namespace fs = std::filesystem;
using FaultTest = vlx::test::TempEnvTest;

vlx::HiveCheck checkOf(vlx::Hive hive) {
  for (const vlx::HiveCheck &c : vlx::checkHives())
    if (c.hive == hive)
      return c;
  return {};
}

// Faults in the system calls under SQLite's unix VFS, through its replaceable call table.
class SyscallFaults {
public:
  SyscallFaults() : vfs_(sqlite3_vfs_find(nullptr)) {
    for (const char *name : {"write", "pwrite", "pwrite64"})
      original(name) = vfs_->xGetSystemCall(vfs_, name);
    vfs_->xSetSystemCall(vfs_, "write", reinterpret_cast<sqlite3_syscall_ptr>(&failingWrite));
    vfs_->xSetSystemCall(vfs_, "pwrite", reinterpret_cast<sqlite3_syscall_ptr>(&failingPwrite));
    vfs_->xSetSystemCall(vfs_, "pwrite64", reinterpret_cast<sqlite3_syscall_ptr>(&failingPwrite64));
  }
  ~SyscallFaults() {
    writeErrno = 0;
    for (const char *name : {"write", "pwrite", "pwrite64"})
      vfs_->xSetSystemCall(vfs_, name, nullptr);
  }
  SyscallFaults(const SyscallFaults &) = delete;
  SyscallFaults &operator=(const SyscallFaults &) = delete;

  // Every write fails with `error` (0: writes work again).
  static inline std::atomic<int> writeErrno{0};

private:
  static sqlite3_syscall_ptr &original(const char *name) {
    static sqlite3_syscall_ptr calls[3];
    std::string n = name;
    return calls[n == "write" ? 0 : n == "pwrite" ? 1 : 2];
  }
  static bool failWrite() {
    int e = writeErrno.load();
    if (e == 0)
      return false;
    errno = e;
    return true;
  }
  static ssize_t failingWrite(int fd, const void *buf, size_t n) {
    if (failWrite())
      return -1;
    return reinterpret_cast<ssize_t (*)(int, const void *, size_t)>(original("write"))(fd, buf, n);
  }
  static ssize_t failingPwrite(int fd, const void *buf, size_t n, off_t off) {
    if (failWrite())
      return -1;
    return reinterpret_cast<ssize_t (*)(int, const void *, size_t, off_t)>(original("pwrite"))(
        fd, buf, n, off);
  }
  static ssize_t failingPwrite64(int fd, const void *buf, size_t n, off_t off) {
    if (failWrite())
      return -1;
    return reinterpret_cast<ssize_t (*)(int, const void *, size_t, off_t)>(original("pwrite64"))(
        fd, buf, n, off);
  }

  sqlite3_vfs *vfs_;
};

TEST(SqliteErrorMap, TranslatesEveryClassOfFailure) {
  struct Case {
    int sqlite;
    LONG win32;
  } cases[] = {
      {SQLITE_OK, ERROR_SUCCESS},
      {SQLITE_DONE, ERROR_SUCCESS},
      {SQLITE_FULL, ERROR_DISK_FULL},
      {SQLITE_IOERR, ERROR_REGISTRY_IO_FAILED},
      {SQLITE_IOERR_WRITE, ERROR_REGISTRY_IO_FAILED},
      {SQLITE_IOERR_FSYNC, ERROR_REGISTRY_IO_FAILED},
      {SQLITE_IOERR_NOMEM, ERROR_NOT_ENOUGH_MEMORY},
      {SQLITE_NOMEM, ERROR_NOT_ENOUGH_MEMORY},
      {SQLITE_BUSY, ERROR_BUSY},
      {SQLITE_BUSY_SNAPSHOT, ERROR_BUSY},
      {SQLITE_LOCKED, ERROR_BUSY},
      {SQLITE_READONLY, ERROR_ACCESS_DENIED},
      {SQLITE_READONLY_DBMOVED, ERROR_ACCESS_DENIED},
      {SQLITE_CANTOPEN, ERROR_ACCESS_DENIED},
      {SQLITE_PERM, ERROR_ACCESS_DENIED},
      {SQLITE_NOTADB, ERROR_BADDB},
      {SQLITE_CORRUPT, ERROR_REGISTRY_CORRUPT},
      {SQLITE_CORRUPT_INDEX, ERROR_REGISTRY_CORRUPT},
      {SQLITE_TOOBIG, ERROR_INVALID_PARAMETER},
      {SQLITE_ERROR, ERROR_REGISTRY_IO_FAILED},
      {SQLITE_MISUSE, ERROR_REGISTRY_IO_FAILED},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(sqlite3_errstr(c.sqlite));
    EXPECT_EQ(vlx::errorFromSqlite(c.sqlite), c.win32);
  }
}

TEST_F(FaultTest, FullDiskLosesOnlyTheFailedChange) {
  Key k;
  ASSERT_EQ(createKey(HKEY_CURRENT_USER, "Software\\Full", k.out()), ERROR_SUCCESS);
  for (DWORD i = 0; i < 20; ++i)
    ASSERT_EQ(setDword(k.h, ("kept" + std::to_string(i)).c_str(), i), ERROR_SUCCESS);
  {
    SyscallFaults faults;
    SyscallFaults::writeErrno = ENOSPC;
    Key sub;
    EXPECT_EQ(setDword(k.h, "lost", 1), ERROR_DISK_FULL);
    EXPECT_EQ(createKey(k.h, "LostKey", sub.out()), ERROR_DISK_FULL);
    EXPECT_EQ(RegDeleteValueA(k.h, "kept0"), ERROR_DISK_FULL);
    // A batch whose commit cannot be written leaves nothing behind.
    EXPECT_EQ(vlx::inHiveTransaction(vlx::Hive::User,
                                     [&] {
                                       SyscallFaults::writeErrno = 0;
                                       LONG rc = setDword(k.h, "batch1", 1);
                                       if (rc == ERROR_SUCCESS)
                                         rc = setDword(k.h, "batch2", 2);
                                       SyscallFaults::writeErrno = ENOSPC;
                                       return rc;
                                     }),
              ERROR_DISK_FULL);
    SyscallFaults::writeErrno = EACCES;
    EXPECT_EQ(setDword(k.h, "lost", 1), ERROR_REGISTRY_IO_FAILED);
  }
  DWORD v = 0;
  for (const char *name : {"lost", "batch1", "batch2"}) {
    SCOPED_TRACE(name);
    EXPECT_EQ(queryDword(k.h, name, &v), ERROR_FILE_NOT_FOUND);
  }
  Key sub;
  EXPECT_EQ(RegOpenKeyExA(k.h, "LostKey", 0, KEY_READ, sub.out()), ERROR_FILE_NOT_FOUND);
  for (DWORD i = 0; i < 20; ++i) {
    ASSERT_EQ(queryDword(k.h, ("kept" + std::to_string(i)).c_str(), &v), ERROR_SUCCESS);
    EXPECT_EQ(v, i);
  }
  // The hive works again once there is room, and is sound on disk.
  EXPECT_EQ(setDword(k.h, "after", 1), ERROR_SUCCESS);
  RegCloseKey(k.h);
  k.h = nullptr;
  vlx::detail::closeIdleHives();
  vlx::HiveCheck check = checkOf(vlx::Hive::User);
  EXPECT_TRUE(check.ok) << check.what;
}

TEST_F(FaultTest, FlushPutsCommittedChangesIntoTheHiveFile) {
  Key k;
  ASSERT_EQ(createKey(HKEY_CURRENT_USER, "Software\\Flushed", k.out()), ERROR_SUCCESS);
  ASSERT_EQ(setDword(k.h, "v", 42), ERROR_SUCCESS);
  ASSERT_EQ(RegFlushKey(k.h), ERROR_SUCCESS);
  // The database file alone, without its log, already holds the change.
  std::string copy = dir_.file("copy.db");
  writeFile(copy, readFile(dir_.file("user.db")));
  sqlite3 *db = nullptr;
  ASSERT_EQ(sqlite3_open_v2(copy.c_str(), &db, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
  sqlite3_stmt *s = nullptr;
  ASSERT_EQ(sqlite3_prepare_v2(db, "SELECT count(*) FROM vals WHERE name=CAST('v' AS BLOB)", -1, &s,
                               nullptr),
            SQLITE_OK);
  ASSERT_EQ(sqlite3_step(s), SQLITE_ROW);
  EXPECT_EQ(sqlite3_column_int(s, 0), 1);
  sqlite3_finalize(s);
  sqlite3_close(db);
  EXPECT_EQ(RegFlushKey(HKEY_LOCAL_MACHINE), ERROR_SUCCESS); // a hive with no file yet
}

// As a user without write permission: run in a child that gives up root, since root may
// write anything.
TEST_F(FaultTest, HiveOfAnotherOwnerIsReadOnly) {
  {
    Key k;
    ASSERT_EQ(createKey(HKEY_LOCAL_MACHINE, "Software\\Velmora", k.out()), ERROR_SUCCESS);
    ASSERT_EQ(setDword(k.h, "v", 9), ERROR_SUCCESS);
  }
  vlx::detail::closeIdleHives();
  uid_t reader = geteuid() == 0 ? 65534 : geteuid();
  if (geteuid() != 0) {
    fs::permissions(dir_.file("machine.db"), fs::perms::owner_read);
    fs::permissions(dir_.path(), fs::perms::owner_read | fs::perms::owner_exec);
  } else {
    fs::permissions(dir_.path(), fs::perms::owner_all | fs::perms::group_read |
                                     fs::perms::group_exec | fs::perms::others_read |
                                     fs::perms::others_exec);
  }
  pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    if (reader != geteuid() && (setgid(reader) != 0 || setuid(reader) != 0))
      _exit(10);
    HKEY k = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\Velmora", 0, KEY_ALL_ACCESS, &k) != 0)
      _exit(11);
    DWORD v = 0;
    if (queryDword(k, "v", &v) != ERROR_SUCCESS || v != 9)
      _exit(12);
    HKEY sub = nullptr;
    if (setDword(k, "v", 10) != ERROR_ACCESS_DENIED ||
        RegDeleteValueA(k, "v") != ERROR_ACCESS_DENIED ||
        createKey(k, "New", &sub) != ERROR_ACCESS_DENIED ||
        RegDeleteKeyA(HKEY_LOCAL_MACHINE, "Software\\Velmora") != ERROR_ACCESS_DENIED)
      _exit(13);
    // Opening an existing key through create is a read.
    if (createKey(HKEY_LOCAL_MACHINE, "Software\\Velmora", &sub) != ERROR_SUCCESS)
      _exit(16);
    HKEY user = nullptr;
    if (createKey(HKEY_CURRENT_USER, "Software\\Velmora", &user) != ERROR_ACCESS_DENIED)
      _exit(14); // the directory is not the reader's either
    if (queryDword(k, "v", &v) != ERROR_SUCCESS || v != 9)
      _exit(15);
    _exit(0);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

TEST_F(FaultTest, DamagedHiveIsNeverWrittenAndOthersKeepServing) {
  struct Case {
    const char *what;
    std::string bytes;
  } cases[] = {
      {"garbage", std::string(8192, 'x')},
      {"another program's database", ""},
  };
  {
    sqlite3 *db = nullptr;
    std::string other = dir_.file("other.db");
    ASSERT_EQ(sqlite3_open(other.c_str(), &db), SQLITE_OK);
    ASSERT_EQ(
        sqlite3_exec(db, "CREATE TABLE t(x); INSERT INTO t VALUES(1);", nullptr, nullptr, nullptr),
        SQLITE_OK);
    sqlite3_close(db);
    cases[1].bytes = readFile(other);
    fs::remove(other);
  }
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    vlx::detail::closeIdleHives();
    writeFile(dir_.file("user.db"), c.bytes);
    Key k, made, lm;
    EXPECT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software", 0, KEY_READ, k.out()), ERROR_BADDB);
    EXPECT_EQ(createKey(HKEY_CURRENT_USER, "Software\\Velmora", made.out()), ERROR_BADDB);
    DWORD v = 0;
    EXPECT_EQ(queryDword(HKEY_CURRENT_USER, "x", &v), ERROR_BADDB);
    ASSERT_EQ(createKey(HKEY_LOCAL_MACHINE, "Software\\Velmora", lm.out()), ERROR_SUCCESS);
    EXPECT_EQ(setDword(lm.h, "v", 1), ERROR_SUCCESS);
    EXPECT_EQ(readFile(dir_.file("user.db")), c.bytes);
    vlx::HiveCheck check = checkOf(vlx::Hive::User);
    EXPECT_TRUE(check.exists);
    EXPECT_FALSE(check.ok);
    EXPECT_FALSE(check.what.empty());
    EXPECT_TRUE(checkOf(vlx::Hive::Machine).ok);
  }
}

TEST_F(FaultTest, CorruptPagesAreReportedAndNotWrittenOver) {
  {
    Key k;
    ASSERT_EQ(createKey(HKEY_CURRENT_USER, "Software\\Pages", k.out()), ERROR_SUCCESS);
    for (DWORD i = 0; i < 200; ++i)
      ASSERT_EQ(setDword(k.h, ("value" + std::to_string(i)).c_str(), i), ERROR_SUCCESS);
  }
  vlx::detail::closeIdleHives();
  std::string bytes = readFile(dir_.file("user.db"));
  ASSERT_GT(bytes.size(), 8192u);
  for (size_t i = 4096; i < bytes.size(); ++i)
    bytes[i] = static_cast<char>(0xa5);
  writeFile(dir_.file("user.db"), bytes);

  vlx::HiveCheck check = checkOf(vlx::Hive::User);
  EXPECT_FALSE(check.ok);
  Key k, made;
  EXPECT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Pages", 0, KEY_READ, k.out()),
            ERROR_REGISTRY_CORRUPT);
  EXPECT_NE(createKey(HKEY_CURRENT_USER, "Software\\Other", made.out()), ERROR_SUCCESS);
  EXPECT_EQ(readFile(dir_.file("user.db")), bytes);
}

} // namespace
