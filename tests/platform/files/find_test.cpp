// Wildcard matching by the Windows rules, and FindFirstFileA/FindNextFileA/FindClose over a
// temporary directory.
#include "platform/posix/files/wildcard.h"
#include "support/files.h"
#include "support/temp_env.h"
#include "support/wildcard_cases.h"

#include <velmora/win32.h>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <map>
#include <set>
#include <unistd.h>
#include <vector>

using namespace vlx::test;
using vlx::posix::wildcardMatch;

namespace {

TEST(Wildcard, NamesMatchByTheWindowsRulesWithoutRegardToCase) {
  for (const auto &[pattern, matches, misses] : vlx::test::wildcardCases())
    for (bool expected : {true, false})
      for (const char *name : expected ? matches : misses) {
        SCOPED_TRACE(std::string(pattern) + " ~ " + name);
        EXPECT_EQ(wildcardMatch(pattern, name), expected);
      }
}

TEST(Wildcard, BytesThatAreNotUtf8StandForThemselves) {
  // Latin-1 e acute: one character for "?", and no folding against its upper case.
  EXPECT_TRUE(wildcardMatch("?.txt", "\xe9.txt"));
  EXPECT_FALSE(wildcardMatch("\xe9.txt", "\xc9.txt"));
  // A cut-off sequence and an encoded surrogate are bytes, not characters.
  EXPECT_TRUE(wildcardMatch("a??", "a\xc3"));
  EXPECT_FALSE(wildcardMatch("?", "\xed\xa0\x80"));
}

TEST(Wildcard, ManyStarsMatchWithoutBacktracking) {
  // Exponential for a naive backtracker; long enough for the large state buffer.
  std::string stars;
  for (int i = 0; i < 40; ++i)
    stars += "*a";
  EXPECT_TRUE(wildcardMatch(stars, std::string(200, 'a')));
  EXPECT_FALSE(wildcardMatch(stars + "b", std::string(200, 'a')));
}

uint64_t ticks(const FILETIME &time) {
  return (static_cast<uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

class FindFiles : public TempEnvTest {
protected:
  FindFiles() {
    for (const char *name : {"a.txt", "B.TXT", "notes"})
      writeFile(dir_.file(name), "hello");
    mkdir(dir_.file("sub").c_str(), 0755);
  }
  // Names and data of the results, in the order they came.
  std::vector<std::pair<std::string, WIN32_FIND_DATAA>> find(const std::string &pattern) {
    std::vector<std::pair<std::string, WIN32_FIND_DATAA>> found;
    WIN32_FIND_DATAA data;
    HANDLE handle = FindFirstFileA(win(pattern).c_str(), &data);
    if (handle == INVALID_HANDLE_VALUE)
      return found;
    do
      found.emplace_back(data.cFileName, data);
    while (FindNextFileA(handle, &data));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_MORE_FILES));
    EXPECT_TRUE(FindClose(handle));
    return found;
  }
  std::string win(const std::string &name) { return dir_.path() + "\\" + name; }
};

TEST_F(FindFiles, ANameIsOneLookUpOrACaseBlindListing) {
  // The matcher is the wildcard table's, and "*." is tests/files/directory_test's.
  auto names = [&](const char *pattern) {
    std::set<std::string> found;
    for (const auto &entry : find(pattern))
      found.insert(entry.first);
    return found;
  };
  EXPECT_EQ(names("NOTES"), std::set<std::string>{"notes"});
  EXPECT_EQ(names("sub"), std::set<std::string>{"sub"});
}

TEST_F(FindFiles, DotEntriesComeFirstAndAttributesSizesAndTimesAreFilled) {
  // The Unix epoch and one second and 1234567 ns later, in 100 ns steps since 1601.
  const struct timespec times[2] = {{0, 0}, {1, 1234567}};
  ASSERT_EQ(utimensat(AT_FDCWD, dir_.file("a.txt").c_str(), times, 0), 0);
  // Sparse: the size needs both words.
  ASSERT_EQ(truncate(dir_.file("notes").c_str(), (5LL << 32) + 7), 0);
  auto found = find("*");
  ASSERT_EQ(found.size(), 6u);
  EXPECT_EQ(found[0].first + found[1].first, "...");
  std::map<std::string, WIN32_FIND_DATAA> byName(found.begin(), found.end());
  // The attribute rules are GetFileAttributesA's (calls_test); here they only have to arrive.
  EXPECT_EQ(byName.at("..").dwFileAttributes, static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY));
  const WIN32_FIND_DATAA &a = byName.at("a.txt");
  EXPECT_EQ(a.nFileSizeLow, 5u);
  EXPECT_EQ(ticks(a.ftLastAccessTime), 116444736000000000ull);
  EXPECT_EQ(ticks(a.ftLastWriteTime), 116444736000000000ull + 10000000ull + 12345ull);
  EXPECT_EQ(byName.at("notes").nFileSizeHigh, 5u);
  EXPECT_EQ(byName.at("notes").nFileSizeLow, 7u);
}

TEST_F(FindFiles, TrailingDotsAndSpacesOfAPatternGoAsOnWindows) {
  int index = 0;
  for (const auto &[pattern, matches, misses] : searchCases())
    for (bool expected : {true, false})
      for (const char *name : expected ? matches : misses) {
        SCOPED_TRACE(std::string("\"") + pattern + "\" ~ " + name);
        // Each name alone in a folder, beside "." and "..".
        const std::string folder = "search" + std::to_string(index++);
        ASSERT_EQ(mkdir(dir_.file(folder).c_str(), 0755), 0);
        writeFile(dir_.file(folder + "/" + name), "");
        bool found = false;
        for (const auto &entry : find(folder + "\\" + pattern))
          found = found || entry.first == name;
        EXPECT_EQ(found, expected);
      }
}

TEST_F(FindFiles, FailuresTellAMissingDirectoryFromNoMatch) {
  // A pattern matching nothing takes the same road as this missing name; an unknown drive is
  // the path mapping's.
  const std::pair<std::string, DWORD> cases[] = {{win("missing.txt"), ERROR_FILE_NOT_FOUND},
                                                 {win("nope\\*.txt"), ERROR_PATH_NOT_FOUND},
                                                 {win("a.txt\\*"), ERROR_PATH_NOT_FOUND},
                                                 {win("s*\\x"), ERROR_INVALID_NAME}};
  for (const auto &[pattern, error] : cases) {
    SCOPED_TRACE(pattern);
    WIN32_FIND_DATAA data;
    EXPECT_EQ(FindFirstFileA(pattern.c_str(), &data), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), error);
  }
}

TEST_F(FindFiles, TheNamesOnlyListingYieldsWhatTheSearchFinds) {
  const char *patterns[] = {"*", "*.txt", "NOTES", "?", "<<", "missing", "nope\\*", "s*\\x"};
  for (const char *pattern : patterns) {
    SCOPED_TRACE(pattern);
    std::vector<std::string> searched;
    for (const auto &entry : find(pattern))
      searched.push_back(entry.first);
    const DWORD searchError = searched.empty() ? GetLastError() : ERROR_SUCCESS;
    std::vector<std::string> listed;
    const int found = vlx::findNames(
        win(pattern).c_str(),
        [](void *names, const char *name) {
          static_cast<std::vector<std::string> *>(names)->push_back(name);
        },
        &listed);
    EXPECT_EQ(listed, searched);
    EXPECT_EQ(found, searched.empty() ? 0 : 1);
    if (searched.empty()) {
      EXPECT_EQ(GetLastError(), searchError);
    }
  }
}

TEST_F(FindFiles, ADriveRootListsNoDotEntries) {
  ScopedEnv drive("VELMORA_DRIVE_C", dir_.path().c_str());
  auto names = [](const char *pattern) {
    std::set<std::string> found;
    WIN32_FIND_DATAA data;
    HANDLE handle = FindFirstFileA(pattern, &data);
    if (handle == INVALID_HANDLE_VALUE)
      return found;
    do
      found.insert(data.cFileName);
    while (FindNextFileA(handle, &data));
    FindClose(handle);
    return found;
  };
  EXPECT_EQ(names("C:\\*"), (std::set<std::string>{"a.txt", "B.TXT", "notes", "sub"}));
  EXPECT_EQ(names("C:\\sub\\*"), (std::set<std::string>{".", ".."}));
  EXPECT_EQ(names("C:\\sub\\..\\?"), std::set<std::string>{});
}

TEST_F(FindFiles, ADeviceNameIsOneEntryInAnyFolder) {
  for (const char *name : {"nul", "NUL.txt", "sub\\nul"}) {
    SCOPED_TRACE(name);
    auto found = find(name);
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].first, std::string(name).substr(std::string(name).rfind('\\') + 1));
    EXPECT_EQ(found[0].second.dwFileAttributes, static_cast<DWORD>(FILE_ATTRIBUTE_ARCHIVE));
    EXPECT_EQ(found[0].second.nFileSizeLow, 0u);
  }
}

} // namespace
