// Backup copies: the count preference, the host's prefix, spellings that find no file, and
// failures of the copy.
#include "support/files.h"
#include "support/temp_env.h"

#include <velmora/files.h>
#include <velmora/registry.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <fcntl.h>
#include <string>

using namespace vlx::test;
using Names = std::set<std::string>;

namespace {

// C:\work\gear.txt exists; the host's prefix (string 10122) is "Backup of ".
class BackupTest : public TempEnvTest {
protected:
  BackupTest() : drive_("VELMORA_DRIVE_C", dir_.path().c_str()) {
    mkdir(dir_.file("work").c_str(), 0755);
    writeFile(gear_, "version 1");
    setPrefix("Backup of ");
  }
  ~BackupTest() override { vlx::unregisterStringTable(AfxGetResourceHandle()); }

  static void setPrefix(const char *text) {
    const vlx::StringResource strings[] = {{10122, text}};
    vlx::registerStringTable(AfxGetResourceHandle(), strings);
  }
  static void setCount(int count) {
    ASSERT_TRUE(regSetUserValue("General", "Backup Copies", intType, "", &count, nullptr));
  }
  static int backup(const char *path = "C:\\work\\gear.txt") { return su_CreateBackupOfFile(path); }
  static std::string resolve(const char *path = "C:\\work\\gear.txt") {
    char result[MAX_PATH];
    su_ResolveToBackupFile(path, result);
    return result;
  }
  Names work() const { return entries(dir_.file("work")); }

  ScopedEnv drive_;
  const std::string gear_ = dir_.file("work/gear.txt");
  const std::string backup_ = dir_.file("work/Backup of gear.txt");
  SyscallGuard syscalls_;
};

TEST_F(BackupTest, WithoutACountOneBackupIsKeptAndReplaced) {
  EXPECT_EQ(resolve(), "C:\\work\\gear.txt");
  EXPECT_NE(backup(), 0);
  writeFile(gear_, "version 2");
  EXPECT_NE(backup(), 0);
  EXPECT_EQ(readFile(backup_), "version 2");
  EXPECT_EQ(work(), (Names{"gear.txt", "Backup of gear.txt"}));
  EXPECT_EQ(resolve(), "C:\\work\\Backup of gear.txt");
  // The resolver does not ask whether the file itself still exists.
  unlink(gear_.c_str());
  EXPECT_EQ(resolve(), "C:\\work\\Backup of gear.txt");
}

TEST_F(BackupTest, CountsOtherThanOneWriteNothing) {
  writeFile(backup_, "older");
  const struct {
    int count;
    int expected;
  } cases[] = {{0, 1}, {2, 0}, {-1, 0}};
  for (const auto &c : cases) {
    SCOPED_TRACE(c.count);
    setCount(c.count);
    EXPECT_EQ(backup(), c.expected);
    EXPECT_EQ(readFile(backup_), "older");
    EXPECT_EQ(work(), (Names{"gear.txt", "Backup of gear.txt"}));
  }
  setCount(1);
  EXPECT_NE(backup(), 0);
  EXPECT_EQ(readFile(backup_), "version 1");
}

// The file is looked up by listing its directory, before the count is read.
TEST_F(BackupTest, SpellingsThatListNoFileGiveZero) {
  mkdir(dir_.file("rev1.2").c_str(), 0755);
  writeFile(dir_.file("rev1.2/notes"), "x");
  writeFile(dir_.file("work/notes"), "x");
  const char *paths[] = {
      "C:\\work\\missing.txt",
      "C:\\work\\notes",    // no extension: "notes." is never listed
      "C:\\rev1.2\\notes",  // the extension would be "2\notes"
      "C:\\work\\GEAR.TXT", // listed as gear.txt; the comparison is case-sensitive
      "Q:\\work\\gear.txt", // no such drive
  };
  for (int count : {0, 1, 2}) {
    setCount(count);
    for (const char *path : paths) {
      SCOPED_TRACE(std::string(path) + " count " + std::to_string(count));
      EXPECT_EQ(backup(path), 0);
      EXPECT_EQ(resolve(path), path);
    }
  }
  EXPECT_EQ(work(), (Names{"gear.txt", "notes"}));
}

// Without a backslash the listing starts at the root; observed without touching the real one.
TEST_F(BackupTest, APathWithoutABackslashListsTheRoot) {
  static std::string opened;
  vlx::posix::fileSyscalls().openDir = [](const char *path) -> DIR * {
    opened = path;
    errno = ENOENT;
    return nullptr;
  };
  EXPECT_EQ(backup("gear.txt"), 0);
  EXPECT_EQ(opened, "/");
}

TEST_F(BackupTest, AMissingOrEmptyPrefixNeverTouchesTheFile) {
  for (const char *prefix : {static_cast<const char *>(nullptr), "%1"}) {
    SCOPED_TRACE(prefix ? prefix : "no string");
    vlx::unregisterStringTable(AfxGetResourceHandle());
    if (prefix)
      setPrefix(prefix);
    EXPECT_EQ(backup(), 0);
    EXPECT_EQ(readFile(gear_), "version 1");
    EXPECT_EQ(work(), Names{"gear.txt"});
    EXPECT_EQ(resolve(), "C:\\work\\gear.txt");
  }
}

// As on Windows the copy keeps the read-only attribute, so the next backup cannot replace it.
TEST_F(BackupTest, AReadOnlyFile) {
  ASSERT_EQ(chmod(gear_.c_str(), 0444), 0);
  EXPECT_NE(backup(), 0);
  EXPECT_EQ(readFile(backup_), "version 1");
  EXPECT_EQ(backup(), 0);
  EXPECT_EQ(readFile(backup_), "version 1");
  EXPECT_EQ(readFile(gear_), "version 1");
}

// Every call of one kind fails with `error`.
struct Fault {
  static inline int error = 0;
  static ssize_t write(int, const void *, size_t) { return errno = error, -1; }
  static ssize_t copyFileRange(int, int, size_t) { return errno = error, -1; }
  static int unlink(const char *) { return errno = error, -1; }
  // Creating fails; opening what exists goes through.
  static int open(const char *path, int flags, mode_t mode) {
    if (flags & O_CREAT)
      return errno = error, -1;
    return vlx::posix::systemFileSyscalls().open(path, flags, mode);
  }
};

// The old backup is deleted before the copy, so after a full disk only the original is left,
// whole, and no partial backup stands under the backup's name.
TEST_F(BackupTest, DiskFullDuringTheCopy) {
  writeFile(backup_, "older");
  Fault::error = ENOSPC;
  vlx::posix::fileSyscalls().write = Fault::write;
  vlx::posix::fileSyscalls().copyFileRange = Fault::copyFileRange;
  EXPECT_EQ(backup(), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_DISK_FULL));
  EXPECT_EQ(readFile(gear_), "version 1");
  EXPECT_EQ(work(), Names{"gear.txt"});
}

// A directory the user may not change: neither the deletion nor the copy gets through.
TEST_F(BackupTest, PermissionDeniedKeepsTheOriginalAndTheEarlierBackup) {
  writeFile(backup_, "older");
  Fault::error = EACCES;
  vlx::posix::fileSyscalls().unlink = Fault::unlink;
  vlx::posix::fileSyscalls().open = Fault::open;
  EXPECT_EQ(backup(), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_EQ(readFile(gear_), "version 1");
  EXPECT_EQ(readFile(backup_), "older");
  EXPECT_EQ(work(), (Names{"gear.txt", "Backup of gear.txt"}));
}

} // namespace
