// Names found without regard to case on a file system that tells case apart: which entry of
// several wins, what a look-up costs, and what stays as it was (links, bytes that are not UTF-8).
#include "support/file_call_cases.h"
#include "support/files.h"
#include "support/temp_env.h"

#include <velmora/files.h>
#include <velmora/win32.h>

#include <gtest/gtest.h>

#include <atomic>
#include <climits>
#include <functional>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

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

void countListings() {
  vlx::posix::fileSyscalls().openDirFd = [](int fd) {
    ++listings;
    return vlx::posix::systemFileSyscalls().openDirFd(fd);
  };
}

TEST_F(Caseless, OnlyAMissingComponentCostsAScanOfItsDirectoryOnce) {
  SyscallGuard guard;
  countListings();
  // path, the listings its look-up costs: a folder is listed once, then its index answers
  const std::pair<const char *, int> cases[] = {
      {"C:\\sub\\deep\\file.txt", 0},  {"C:\\sub\\deep\\FILE.TXT", 1},
      {"C:\\SUB\\DEEP\\FILE.TXT", 2},  {"C:\\sub\\DEEP\\none.txt", 0},
      {"C:\\none\\deep\\file.txt", 0},
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

// The index of a folder follows every change, whoever makes it and however soon after another:
// each step's change lands within the same tick of the file system's clock as the last.
TEST_F(Caseless, AFolderIndexFollowsChangesMadeByAnyone) {
  SyscallGuard guard;
  countListings();
  writeFile(dir_.file("Alpha.txt"), "a");
  listings = 0;
  for (int i = 0; i < 100; ++i)
    EXPECT_EQ(GetFileAttributesA(("C:\\Missing" + std::to_string(i)).c_str()),
              INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(listings, 1);
  const std::function<void()> changes[] = {
      [&] { ASSERT_EQ(rename(dir_.file("Alpha.txt").c_str(), dir_.file("Beta.TXT").c_str()), 0); },
      [&] {
        pid_t child = fork();
        if (child == 0)
          writeFile(dir_.file("Gamma.txt"), "g"), _exit(0);
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
      },
      [&] { ASSERT_EQ(unlink(dir_.file("Beta.TXT").c_str()), 0); },
      [&] {
        writeFile(dir_.file("beta.txt"), "lower");
        writeFile(dir_.file("BETA.txt"), "upper");
      },
      [&] {
        ASSERT_EQ(rename(dir_.file("BETA.txt").c_str(), dir_.file("sub/BETA.txt").c_str()), 0);
      },
  };
  // after each change: paths looked up and what they read
  const std::vector<std::pair<const char *, const char *>> expected[] = {
      {{"C:\\ALPHA.TXT", "(missing)"}, {"C:\\beta.txt", "a"}},
      {{"C:\\GAMMA.TXT", "g"}, {"C:\\bEtA.tXt", "a"}},
      {{"C:\\BETA.txt", "(missing)"}, {"C:\\gamma.TXT", "g"}},
      {{"C:\\Beta.Txt", "upper"}},
      {{"C:\\Beta.Txt", "lower"}, {"C:\\SUB\\beta.TXT", "upper"}},
  };
  for (size_t i = 0; i < std::size(changes); ++i) {
    SCOPED_TRACE(i);
    changes[i]();
    for (const auto &[path, content] : expected[i])
      EXPECT_EQ(calls::get(path), content) << path;
  }
  EXPECT_EQ(listings, 2); // the root once, and sub
  EXPECT_EQ(CreateFileA("C:\\GAMMA.TXT", GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr),
            INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_EXISTS));
}

// Threads creating names side by side each find the others' names, once made, in any case.
TEST_F(Caseless, NamesMadeByOtherThreadsExistInEveryCase) {
  constexpr int kThreads = 4, kNames = 200;
  std::atomic<int> made[kThreads] = {}, wrong{0};
  auto name = [](const char *prefix, int t, int i) {
    return std::string("C:\\") + prefix + std::to_string(t) + "_" + std::to_string(i);
  };
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t)
    threads.emplace_back([&, t] {
      for (int i = 0; i < kNames; ++i) {
        HANDLE h =
            CreateFileA(name("f", t, i).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
        wrong += h == INVALID_HANDLE_VALUE;
        CloseHandle(h);
        made[t] = i + 1;
        const int other = (t + 1) % kThreads, j = made[other] - 1;
        if (j < 0)
          continue;
        h = CreateFileA(name("F", other, j).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0,
                        nullptr);
        wrong += h != INVALID_HANDLE_VALUE || GetLastError() != ERROR_FILE_EXISTS;
      }
    });
  for (std::thread &t : threads)
    t.join();
  EXPECT_EQ(wrong.load(), 0);
  EXPECT_EQ(entries(dir_.path()).size(), kThreads * kNames + 1u);
}

} // namespace
