// Backup copies: the count preference, the host's prefix, a missing or read-only file, a failed
// copy, and paths longer than Windows allows.
// POSIX only: files are reached through the drive mapping, and faults through the call table.
#ifndef _WIN32
#include "support/files.h"
#include "support/temp_env.h"

#include <velmora/files.h>
#include <velmora/registry.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <fcntl.h>
#include <filesystem>
#include <string>
#include <tuple>
#include <unistd.h>
#include <vector>

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

// Linux paths are not bounded by 260. The resolver writes at most MAX_PATH characters, the
// terminator included; a text that would not fit is the empty text. Drive C: is the current
// directory here, so that a directory whose text is near MAX_PATH can still be reached.
TEST_F(BackupTest, LongPathsNeverOverrunTheBuffer) {
  namespace fs = std::filesystem;
  const fs::path cwd = fs::current_path();
  fs::current_path(dir_.path());
  ScopedEnv drive("VELMORA_DRIVE_C", ".");
  // A directory text of `length` characters below C:, of components the system allows.
  const auto directoryOf = [](size_t length) {
    std::string text = "C:";
    while (text.size() < length)
      text += "\\" + std::string(std::min<size_t>(length - text.size() - 1, 200), 'd');
    return text;
  };
  // With "C:\\" in front: a path of MAX_PATH - 1 characters.
  const std::string longest(MAX_PATH - 4, 'x');
  // what, the directory (made on disk when a backup is planted), the file, a backup beside it,
  // the result
  const std::tuple<const char *, std::string, std::string, bool, std::string> cases[] = {
      {"a backup longer than 260", directoryOf(300), "gear.txt", true, "backup"},
      {"a backup that would not fit", directoryOf(MAX_PATH - 16), "gear.txt", true, ""},
      {"a path that just fits", "C:", longest, false, "C:\\" + longest},
      {"a path one longer", "C:", longest + "x", false, ""},
  };
  for (const auto &[what, directory, name, planted, expected] : cases) {
    SCOPED_TRACE(what);
    const std::string path = directory + "\\" + name;
    std::string onDisk = "." + directory.substr(2);
    std::replace(onDisk.begin(), onDisk.end(), '\\', '/');
    if (planted) {
      fs::create_directories(onDisk);
      // The backup's own path is too long for the system: it is written from inside.
      fs::current_path(onDisk);
      writeFile(name, "version 1");
      writeFile("Backup of " + name, "older");
      fs::current_path(dir_.path());
    }
    // Room for MAX_PATH characters and a guard behind them that must stay as it is.
    std::vector<char> result(MAX_PATH + 64, '#');
    su_ResolveToBackupFile(path.c_str(), result.data());
    EXPECT_EQ(std::string(result.data()),
              expected == "backup" ? directory + "\\Backup of " + name : expected);
    EXPECT_EQ(std::string(result.begin() + MAX_PATH, result.end()), std::string(64, '#'));
    if (planted) {
      // Emptied from inside, as the test directory's own removal could not reach that deep.
      fs::current_path(onDisk);
      fs::remove(name);
      fs::remove("Backup of " + name);
      fs::current_path(dir_.path());
      fs::remove_all("./" + onDisk.substr(2, onDisk.find('/', 2) - 2));
    }
  }
  fs::current_path(cwd);
}

} // namespace

#endif
