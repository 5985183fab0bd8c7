// Names found without regard to case on a file system that tells case apart: which entry of
// several wins, what a look-up costs, and what stays as it was (links, bytes that are not UTF-8).
#include "support/file_call_cases.h"
#include "support/files.h"
#include "support/temp_env.h"

#include <velmora/files.h>
#include <velmora/win32.h>

#include <gtest/gtest.h>

#include <climits>
#include <sys/stat.h>
#include <unistd.h>

using namespace vlx::test;

namespace {

class Caseless : public TempEnvTest {
protected:
  Caseless() {
    mkdir(dir_.file("sub").c_str(), 0755);
    mkdir(dir_.file("sub/deep").c_str(), 0755);
    writeFile(dir_.file("sub/deep/file.txt"), "deep");
  }
  ScopedEnv driveC_{"VELMORA_DRIVE_C", dir_.path().c_str()};
};

TEST_F(Caseless, OfSeveralNamesOfOneFoldingTheFirstInByteOrderWins) {
  writeFile(dir_.file("Config.ini"), "mixed");
  writeFile(dir_.file("config.Ini"), "lower");
  writeFile(dir_.file("CONFIG.INI"), "upper");
  // The name as written wins; otherwise "CONFIG.INI" < "Config.ini" < "config.Ini".
  EXPECT_EQ(calls::get("C:\\config.Ini"), "lower");
  EXPECT_EQ(calls::get("C:\\config.ini"), "upper");
  mkdir(dir_.file("Data").c_str(), 0755);
  mkdir(dir_.file("DATA").c_str(), 0755);
  writeFile(dir_.file("Data/f"), "mixed");
  writeFile(dir_.file("DATA/f"), "upper");
  EXPECT_EQ(calls::get("C:\\data\\F"), "upper");
  EXPECT_EQ(calls::get("C:\\Data\\F"), "mixed");
  // Creating refers to the same entry: no fourth name.
  EXPECT_FALSE(CreateDirectoryA("C:\\config.INI", nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
  EXPECT_EQ(readFile(vlx::toSystemPath("C:\\config.INI").GetString()), "upper");
}

// Counts the directories listed, through the file call table.
int listings = 0;

TEST_F(Caseless, OnlyAMissingComponentCostsAScanOfItsDirectory) {
  SyscallGuard guard;
  vlx::posix::fileSyscalls().openDirFd = [](int fd) {
    ++listings;
    return vlx::posix::systemFileSyscalls().openDirFd(fd);
  };
  // path, the listings its look-up costs
  const std::pair<const char *, int> cases[] = {
      {"C:\\sub\\deep\\file.txt", 0},  {"C:\\sub\\deep\\FILE.TXT", 1},
      {"C:\\SUB\\DEEP\\FILE.TXT", 3},  {"C:\\sub\\DEEP\\none.txt", 2},
      {"C:\\none\\deep\\file.txt", 1},
  };
  for (const auto &[path, scans] : cases) {
    SCOPED_TRACE(path);
    listings = 0;
    const DWORD attributes = GetFileAttributesA(path);
    EXPECT_EQ(listings, scans);
    EXPECT_EQ(attributes == INVALID_FILE_ATTRIBUTES,
              std::string(path).find("none") != std::string::npos);
  }
  // The error tells a missing folder from a missing file in a folder found in another case.
  EXPECT_EQ(GetFileAttributesA("C:\\SUB\\none.txt"), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(GetFileAttributesA("C:\\none\\none.txt"), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
}

TEST_F(Caseless, LettersFoldAsWindowsFoldsThemAndOtherBytesOnlyMatchThemselves) {
  writeFile(dir_.file("\xc3\x89mile.txt"), "utf8");      // Émile.txt
  writeFile(dir_.file("caf\xe9.txt"), "latin1");         // not UTF-8
  EXPECT_EQ(calls::get("C:\\\xc3\xa9MILE.TXT"), "utf8"); // éMILE.TXT
  EXPECT_EQ(calls::get("C:\\CAF\xe9.TXT"), "latin1");
  EXPECT_EQ(calls::get("C:\\caf\xc9.txt"), "(missing)");
}

TEST_F(Caseless, ReplacingAnotherCaseOfANameKeepsOneEntry) {
  writeFile(dir_.file("a.txt"), "old");
  HANDLE handle = CreateFileA("C:\\A.TXT", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  ASSERT_NE(handle, INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
  DWORD done;
  WriteFile(handle, "new", 3, &done, nullptr);
  CloseHandle(handle);
  writeFile(dir_.file("b.txt"), "moved");
  EXPECT_TRUE(MoveFileExA("C:\\B.txt", "C:\\A.txt", MOVEFILE_REPLACE_EXISTING));
  writeFile(dir_.file("c.txt"), "copied");
  EXPECT_TRUE(CopyFileA("C:\\c.txt", "C:\\Sub\\Deep\\FILE.txt", FALSE));
  EXPECT_EQ(entries(dir_.path()), (std::set<std::string>{"a.txt", "c.txt", "sub"}));
  EXPECT_EQ(readFile(dir_.file("a.txt")), "moved");
  EXPECT_EQ(entries(dir_.file("sub/deep")), std::set<std::string>{"file.txt"});
  EXPECT_EQ(readFile(dir_.file("sub/deep/file.txt")), "copied");
}

TEST_F(Caseless, LinksAreFollowedAsBefore) {
  ASSERT_EQ(symlink("sub", dir_.file("Link").c_str()), 0);
  ASSERT_EQ(symlink("nowhere", dir_.file("gone").c_str()), 0);
  EXPECT_EQ(calls::get("C:\\LINK\\DEEP\\File.txt"), "deep");
  // A link whose target is missing is an entry all the same, in any case.
  EXPECT_NE(GetFileAttributesA("C:\\GONE"), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(calls::get("C:\\GONE"), "(unreadable)");
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

TEST_F(Caseless, RelativeAndHostPathsAreFoundToo) {
  char saved[PATH_MAX];
  ASSERT_NE(getcwd(saved, sizeof saved), nullptr);
  ASSERT_TRUE(SetCurrentDirectoryA("C:\\SUB"));
  EXPECT_EQ(calls::get("Deep\\FILE.txt"), "deep");
  EXPECT_EQ(calls::get("..\\SUB\\deep\\File.TXT"), "deep");
  ASSERT_TRUE(SetCurrentDirectoryA(saved));
  // The host's own path to the file, and a new name in a folder found in another case.
  EXPECT_EQ(std::string(vlx::toSystemPath("C:\\SUB\\Deep\\FILE.TXT").GetString()),
            dir_.file("sub/deep/file.txt"));
  EXPECT_EQ(std::string(vlx::toSystemPath("C:\\SUB\\New.txt").GetString()),
            dir_.file("sub/New.txt"));
}

} // namespace
