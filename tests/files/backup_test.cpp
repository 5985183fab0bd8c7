// Backup copies: the count preference, the host's prefix, a missing or read-only file, and a
// failed copy.
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

constexpr const char *kGear = "C:\\work\\gear.txt";
constexpr const char *kMissing = "C:\\work\\missing.txt";

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
  static std::string resolve(const char *path = kGear) {
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

// Only a count of 1 writes a backup; 0 reports success. A missing file gives 0 whatever the
// count, as it is looked up first.
TEST_F(BackupTest, TheCountDecidesAndAMissingFileGivesZero) {
  writeFile(backup_, "older");
  const std::pair<int, int> cases[] = {{0, 1}, {2, 0}, {-1, 0}, {1, 1}};
  for (const auto &[count, expected] : cases) {
    SCOPED_TRACE(count);
    setCount(count);
    EXPECT_EQ(su_CreateBackupOfFile(kMissing), 0);
    EXPECT_EQ(resolve(kMissing), kMissing);
    EXPECT_EQ(readFile(backup_), "older");
    EXPECT_EQ(su_CreateBackupOfFile(kGear), expected);
  }
  EXPECT_EQ(readFile(backup_), "version 1");
  EXPECT_EQ(work(), (Names{"gear.txt", "Backup of gear.txt"}));
}

// Without a prefix the backup would be the file itself. A string that formats to nothing ("%1")
// takes the same empty-prefix branch, after the framework's own formatting test.
TEST_F(BackupTest, AMissingPrefixNeverTouchesTheFile) {
  vlx::unregisterStringTable(AfxGetResourceHandle());
  EXPECT_EQ(su_CreateBackupOfFile(kGear), 0);
  EXPECT_EQ(readFile(gear_), "version 1");
  EXPECT_EQ(work(), Names{"gear.txt"});
  EXPECT_EQ(resolve(), kGear);
}

// As on Windows the copy keeps the read-only attribute, so the next backup cannot replace it.
TEST_F(BackupTest, AReadOnlyFile) {
  ASSERT_EQ(chmod(gear_.c_str(), 0444), 0);
  EXPECT_NE(su_CreateBackupOfFile(kGear), 0); // no count set: one backup
  EXPECT_EQ(resolve(), "C:\\work\\Backup of gear.txt");
  EXPECT_EQ(su_CreateBackupOfFile(kGear), 0);
  EXPECT_EQ(readFile(backup_), "version 1");
  EXPECT_EQ(readFile(gear_), "version 1");
}

// A directory the user may not change: the earlier backup cannot be deleted nor a copy created.
int failUnlink(const char *) { return errno = EACCES, -1; }
int failCreate(const char *path, int flags, mode_t mode) {
  if (flags & O_CREAT)
    return errno = EACCES, -1;
  return vlx::posix::systemFileSyscalls().open(path, flags, mode);
}

TEST_F(BackupTest, PermissionDeniedKeepsTheOriginalAndTheEarlierBackup) {
  writeFile(backup_, "older");
  vlx::posix::fileSyscalls().unlink = failUnlink;
  vlx::posix::fileSyscalls().open = failCreate;
  EXPECT_EQ(su_CreateBackupOfFile(kGear), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_EQ(readFile(gear_), "version 1");
  EXPECT_EQ(readFile(backup_), "older");
  EXPECT_EQ(work(), (Names{"gear.txt", "Backup of gear.txt"}));
}

} // namespace
