// FindFirstFileA/FindNextFileA/FindClose over a temporary directory.
#include "support/files.h"
#include "support/temp_env.h"

#include <velmora/win32.h>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <map>
#include <unistd.h>
#include <vector>

using namespace vlx::test;

namespace {

uint64_t ticks(const FILETIME &time) {
  return (static_cast<uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

class FindFiles : public TempEnvTest {
protected:
  FindFiles() {
    writeFile(dir_.file("a.txt"), "hello");
    writeFile(dir_.file("B.TXT"), "");
    writeFile(dir_.file("notes"), "n");
    writeFile(dir_.file("archive.tar.gz"), "");
    writeFile(dir_.file("readonly.txt"), "r");
    chmod(dir_.file("readonly.txt").c_str(), 0444);
    mkdir(dir_.file("sub").c_str(), 0755);
  }

  // The search's results by name, in the order they came.
  std::vector<std::pair<std::string, WIN32_FIND_DATAA>> find(const std::string &pattern) {
    std::vector<std::pair<std::string, WIN32_FIND_DATAA>> found;
    WIN32_FIND_DATAA data;
    HANDLE handle = FindFirstFileA(pattern.c_str(), &data);
    if (handle == INVALID_HANDLE_VALUE)
      return found;
    do
      found.emplace_back(data.cFileName, data);
    while (FindNextFileA(handle, &data));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_MORE_FILES));
    EXPECT_TRUE(FindClose(handle));
    return found;
  }

  std::set<std::string> names(const std::string &pattern) {
    std::set<std::string> result;
    for (const auto &entry : find(pattern))
      result.insert(entry.first);
    return result;
  }

  std::string win(const std::string &name) { return dir_.path() + "\\" + name; }
};

TEST_F(FindFiles, PatternsSelectEntriesByTheWindowsRules) {
  using Names = std::set<std::string>;
  struct Case {
    const char *pattern;
    Names names;
  } cases[] = {
      {"*.txt", {"a.txt", "B.TXT", "readonly.txt"}},
      {"*.", {".", "..", "notes", "sub"}},
      {"*", {".", "..", "a.txt", "B.TXT", "notes", "archive.tar.gz", "readonly.txt", "sub"}},
      {"*.*", {".", "..", "a.txt", "B.TXT", "notes", "archive.tar.gz", "readonly.txt", "sub"}},
      {"?.txt", {"a.txt", "B.TXT"}},
      {"*.gz", {"archive.tar.gz"}},
      {"NOTES", {"notes"}},
      {"b.txt", {"B.TXT"}},
      {"sub/../*.gz", {"archive.tar.gz"}},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.pattern);
    EXPECT_EQ(names(win(c.pattern)), c.names);
  }
}

TEST_F(FindFiles, DotEntriesComeFirstAsDirectories) {
  auto found = find(win("*"));
  ASSERT_GE(found.size(), 2u);
  EXPECT_EQ(found[0].first, ".");
  EXPECT_EQ(found[1].first, "..");
  EXPECT_EQ(found[0].second.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY,
            static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY));
  EXPECT_EQ(found[1].second.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY,
            static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY));
}

TEST_F(FindFiles, AttributesSizesAndTimesAreFilled) {
  // The Unix epoch and one second and 1234567 ns later, in 100 ns steps since 1601.
  const struct timespec times[2] = {{0, 0}, {1, 1234567}};
  ASSERT_EQ(utimensat(AT_FDCWD, dir_.file("a.txt").c_str(), times, 0), 0);
  std::map<std::string, WIN32_FIND_DATAA> byName;
  for (const auto &entry : find(win("*")))
    byName[entry.first] = entry.second;

  const WIN32_FIND_DATAA &a = byName.at("a.txt");
  EXPECT_EQ(a.dwFileAttributes, static_cast<DWORD>(FILE_ATTRIBUTE_NORMAL));
  EXPECT_EQ(a.nFileSizeLow, 5u);
  EXPECT_EQ(a.nFileSizeHigh, 0u);
  EXPECT_EQ(ticks(a.ftLastAccessTime), 116444736000000000ull);
  EXPECT_EQ(ticks(a.ftLastWriteTime), 116444736000000000ull + 10000000ull + 12345ull);
  EXPECT_STREQ(a.cAlternateFileName, "");

  EXPECT_EQ(byName.at("readonly.txt").dwFileAttributes,
            static_cast<DWORD>(FILE_ATTRIBUTE_READONLY));
  EXPECT_EQ(byName.at("sub").dwFileAttributes, static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY));
  EXPECT_EQ(byName.at("sub").nFileSizeLow, 0u);
}

TEST_F(FindFiles, LargeFilesSplitTheirSizeIntoTwoWords) {
  int fd = open(dir_.file("big.bin").c_str(), O_CREAT | O_WRONLY, 0644);
  ASSERT_GE(fd, 0);
  // Sparse: no data is written.
  ASSERT_EQ(ftruncate(fd, (5LL << 32) + 7), 0);
  close(fd);
  auto found = find(win("big.bin"));
  ASSERT_EQ(found.size(), 1u);
  EXPECT_EQ(found[0].second.nFileSizeHigh, 5u);
  EXPECT_EQ(found[0].second.nFileSizeLow, 7u);
}

TEST_F(FindFiles, FailuresTellAMissingDirectoryFromNoMatch) {
  struct Case {
    std::string pattern;
    DWORD error;
  } cases[] = {
      {win("*.xyz"), ERROR_FILE_NOT_FOUND},
      {win("missing.txt"), ERROR_FILE_NOT_FOUND},
      {win("nope\\*.txt"), ERROR_PATH_NOT_FOUND},
      {win("a.txt\\*"), ERROR_PATH_NOT_FOUND},
      {win("s*\\x"), ERROR_INVALID_NAME},
      {win(""), ERROR_FILE_NOT_FOUND},
      {"Q:\\*", ERROR_PATH_NOT_FOUND},
  };
  ScopedEnv noDrive("VELMORA_DRIVE_Q", nullptr);
  for (const auto &c : cases) {
    SCOPED_TRACE(c.pattern);
    WIN32_FIND_DATAA data;
    SetLastError(0);
    EXPECT_EQ(FindFirstFileA(c.pattern.c_str(), &data), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), c.error);
  }
}

TEST_F(FindFiles, ALiteralNameFindsOneEntryThenTheEnd) {
  WIN32_FIND_DATAA data;
  HANDLE handle = FindFirstFileA(win("sub").c_str(), &data);
  ASSERT_NE(handle, INVALID_HANDLE_VALUE);
  EXPECT_STREQ(data.cFileName, "sub");
  EXPECT_TRUE(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
  EXPECT_FALSE(FindNextFileA(handle, &data));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_MORE_FILES));
  // The end stays the end.
  EXPECT_FALSE(FindNextFileA(handle, &data));
  EXPECT_TRUE(FindClose(handle));
}

TEST_F(FindFiles, DanglingLinksAreListedAndClosedHandlesRefused) {
  ASSERT_EQ(symlink("nowhere", dir_.file("dangling.txt").c_str()), 0);
  EXPECT_EQ(names(win("*.txt")).count("dangling.txt"), 1u);

  WIN32_FIND_DATAA data;
  HANDLE handle = FindFirstFileA(win("*").c_str(), &data);
  ASSERT_NE(handle, INVALID_HANDLE_VALUE);
  EXPECT_TRUE(FindClose(handle));
  EXPECT_FALSE(FindClose(handle));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  EXPECT_FALSE(FindNextFileA(handle, &data));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  EXPECT_FALSE(FindClose(INVALID_HANDLE_VALUE));
}

} // namespace
