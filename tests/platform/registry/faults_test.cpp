// Registry hives under faults: read-only hives, damaged files, full disks, failing writes.
#include "platform/posix/registry/hive_db.h"
#include "platform/posix/registry/sqlite_errors.h"
#include "platform/registry/support.h"
#include "support/files.h"

#include <sqlite3.h>

#include <velmora/registry.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <filesystem>
#include <sys/stat.h>

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
// The machine's hive may be read, the user's not even that.
TEST_F(FaultTest, HiveOfAnotherOwnerIsReadOnly) {
  ASSERT_EQ(setIn(HKLM, "Software\\Velmora", "v", 9), ERROR_SUCCESS);
  ASSERT_EQ(setIn(HKLM, "Software\\Velmora\\General", "u", 5), ERROR_SUCCESS);
  ASSERT_EQ(setIn(HKCU, "Software\\Velmora\\General", "u", 1), ERROR_SUCCESS);
  vlx::detail::closeIdleHives();
  // Root hands the files to nobody, who may enter the directory; anyone else loses write rights.
  if (geteuid() != 0)
    fs::permissions(dir_.file("machine.db"), fs::perms::owner_read);
  fs::permissions(dir_.file("user.db"), geteuid() == 0
                                            ? fs::perms::owner_read | fs::perms::owner_write
                                            : fs::perms::none);
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
    // The unreadable user hive reads as empty: the machine's value comes through.
    int value = 0;
    CString unused;
    if (regGetUserValue("General", "u", intType, unused, &value, nullptr) != 1 || value != 5 ||
        vlx::unusableHives().size() != 1)
      return 15;
    // A library call that only returns 0 leaves the refusal's own code.
    int one = 1;
    if (regSetLocMachineValue("General", "v", intType, "", &one, nullptr) != 0 ||
        vlx::takeRegistryWriteError() != ERROR_ACCESS_DENIED)
      return 14;
    return getDword(k, "v") == 9 ? 0 : 13;
  };
  EXPECT_EQ(reap(spawn(reader)), 0);
}

// What a hive file looks like on disk, to show that nothing touched it.
std::string onDisk(const std::string &path) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0)
    return "missing";
  if (S_ISREG(st.st_mode))
    return readFile(path);
  return S_ISDIR(st.st_mode) ? "directory" : "special";
}

// A hive file that cannot be used reads as an empty hive, so the fall-back goes on to the next
// hive; every write to it is refused and the file stays as it was, until it is replaced.
TEST_F(FaultTest, UnusableHiveReadsEmptyRefusesWritesAndIsNeverTouched) {
  // Pages of a real hive: one overwritten after the first page, one cut short.
  for (DWORD i = 0; i < 200; ++i)
    ASSERT_EQ(setIn(HKCU, "Software\\Pages", "value" + std::to_string(i), i), ERROR_SUCCESS);
  vlx::detail::closeIdleHives();
  const std::string hive = readFile(dir_.file("user.db"));
  ASSERT_GT(hive.size(), 8192u);
  std::string overwritten = hive;
  std::fill(overwritten.begin() + 4096, overwritten.end(), static_cast<char>(0xa5));
  const std::string shortened = hive.substr(0, hive.size() - 1000);
  // A real database of another program.
  sqlite3 *db = nullptr;
  ASSERT_EQ(sqlite3_open(dir_.file("other.db").c_str(), &db), SQLITE_OK);
  ASSERT_EQ(
      sqlite3_exec(db, "CREATE TABLE t(x); INSERT INTO t VALUES(1);", nullptr, nullptr, nullptr),
      SQLITE_OK);
  sqlite3_close(db);
  const std::string foreign = readFile(dir_.file("other.db"));

  // The machine's and the default user's values, which the fall-back reaches.
  ASSERT_EQ(setIn(HKLM, "Software\\Velmora\\General", "m", 2), ERROR_SUCCESS);
  ASSERT_EQ(setIn(HKU, ".DEFAULT\\Software\\Velmora\\General", "d", 3), ERROR_SUCCESS);

  enum class Kind { Bytes, Directory, Fifo };
  struct Case {
    const char *what;
    const char *file;
    Kind kind;
    std::string bytes;
  } cases[] = {
      {"garbage", "user.db", Kind::Bytes, std::string(8192, 'x')},
      {"another program's database", "user.db", Kind::Bytes, foreign},
      {"overwritten pages", "user.db", Kind::Bytes, overwritten},
      {"shortened by 1000 bytes", "user.db", Kind::Bytes, shortened},
      {"a directory", "user.db", Kind::Directory, ""},
      {"a FIFO", "user.db", Kind::Fifo, ""},
      {"machine hive of garbage", "machine.db", Kind::Bytes, std::string(8192, 'x')},
      {"default-user hive that is a FIFO", "default-user.db", Kind::Fifo, ""},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    vlx::detail::closeIdleHives();
    const std::string path = dir_.file(c.file);
    fs::rename(path, dir_.file("saved.db"));
    if (c.kind == Kind::Bytes)
      vlx::test::writeFile(path, c.bytes);
    else if (c.kind == Kind::Directory)
      fs::create_directory(path);
    else
      ASSERT_EQ(mkfifo(path.c_str(), 0600), 0);
    const std::string before = onDisk(path);
    const bool user = c.file == std::string("user.db");
    const bool machine = c.file == std::string("machine.db");
    const HKEY root = user ? HKCU : machine ? HKLM : HKU;
    const char *product = machine || user ? "Software\\Velmora" : ".DEFAULT\\Software\\Velmora";

    // Every write is refused: the first one checks the file before writing.
    Key k;
    LONG refused = createKey(root, (std::string(product) + "\\New").c_str(), k);
    EXPECT_EQ(refused, ERROR_BADDB);
    EXPECT_EQ(setIn(root, product, "v", 1), refused);
    EXPECT_EQ(RegDeleteKeyA(root, product), ERROR_FILE_NOT_FOUND);
    // It reads as its skeleton, and the fall-back goes past it.
    Key software;
    EXPECT_EQ(openKey(root, user || machine ? "Software" : ".DEFAULT\\Software", software),
              ERROR_SUCCESS);
    EXPECT_EQ(names(software), (machine ? Names{"Classes"} : Names{}));
    int value = 0;
    CString unused;
    EXPECT_EQ(regGetUserValue("General", "m", intType, unused, &value, nullptr), machine ? 0 : 1);
    EXPECT_EQ(regGetUserValue("General", "d", intType, unused, &value, nullptr), user || machine);
    EXPECT_EQ(value, user || machine ? 3 : 2);
    EXPECT_EQ(setIn(machine ? HKCU : HKLM, "Software\\Velmora\\Other", "w", 1), ERROR_SUCCESS);
    EXPECT_EQ(onDisk(path), before);
    std::vector<vlx::HiveCheck> noted = vlx::unusableHives();
    EXPECT_TRUE(std::any_of(noted.begin(), noted.end(), [&](const vlx::HiveCheck &n) {
      return n.path == path && !n.what.empty();
    }));
    for (const vlx::HiveCheck &check : vlx::checkHives())
      EXPECT_EQ(check.ok, check.path != path) << check.path << ": " << check.what;

    // Once the file is put right, the same process uses it again.
    fs::remove_all(path);
    fs::rename(dir_.file("saved.db"), path);
    EXPECT_EQ(setIn(root, product, "v", 1), ERROR_SUCCESS);
  }
}

} // namespace
