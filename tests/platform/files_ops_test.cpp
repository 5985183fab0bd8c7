// DeleteFileA, GetFileAttributesA and SearchPathA.
#include "support/files.h"
#include "support/temp_env.h"

#include <velmora/win32.h>

#include <gtest/gtest.h>

#include <unistd.h>

using namespace vlx::test;

namespace {

class FileOps : public TempEnvTest {
protected:
  FileOps() {
    writeFile(dir_.file("gear.txt"), "g");
    writeFile(dir_.file("readonly.txt"), "r");
    chmod(dir_.file("readonly.txt").c_str(), 0444);
    mkdir(dir_.file("sub").c_str(), 0755);
    writeFile(dir_.file("sub/part.dat"), "p");
  }
  std::string win(const std::string &name) { return dir_.path() + "\\" + name; }
};

TEST_F(FileOps, DeleteRemovesFilesAndRefusesReadOnlyFilesAndDirectories) {
  ASSERT_TRUE(DeleteFileA(win("gear.txt").c_str()));
  EXPECT_FALSE(exists(dir_.file("gear.txt")));

  // A link goes, its read-only target stays.
  ASSERT_EQ(symlink("readonly.txt", dir_.file("link").c_str()), 0);
  ASSERT_TRUE(DeleteFileA(win("link").c_str()));
  EXPECT_FALSE(exists(dir_.file("link")));

  struct Case {
    std::string path;
    DWORD error;
  } cases[] = {
      {win("readonly.txt"), ERROR_ACCESS_DENIED}, {win("sub"), ERROR_ACCESS_DENIED},
      {win("gear.txt"), ERROR_FILE_NOT_FOUND},    {win("nope\\gear.txt"), ERROR_PATH_NOT_FOUND},
      {win("*.txt"), ERROR_INVALID_NAME},         {"", ERROR_PATH_NOT_FOUND},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.path);
    EXPECT_FALSE(DeleteFileA(c.path.c_str()));
    EXPECT_EQ(GetLastError(), c.error);
  }
  EXPECT_TRUE(exists(dir_.file("readonly.txt")));
  EXPECT_TRUE(exists(dir_.file("sub/part.dat")));
}

TEST_F(FileOps, AttributesOfFilesDirectoriesAndMissingPaths) {
  struct Case {
    std::string path;
    DWORD attributes;
    DWORD error;
  } cases[] = {
      {win("gear.txt"), FILE_ATTRIBUTE_NORMAL, 0},
      {win("readonly.txt"), FILE_ATTRIBUTE_READONLY, 0},
      {win("sub"), FILE_ATTRIBUTE_DIRECTORY, 0},
      {win("sub\\"), FILE_ATTRIBUTE_DIRECTORY, 0},
      {dir_.file("sub/part.dat"), FILE_ATTRIBUTE_NORMAL, 0},
      {win("missing"), INVALID_FILE_ATTRIBUTES, ERROR_FILE_NOT_FOUND},
      {win("nope\\missing"), INVALID_FILE_ATTRIBUTES, ERROR_PATH_NOT_FOUND},
      {win("gear.txt\\x"), INVALID_FILE_ATTRIBUTES, ERROR_PATH_NOT_FOUND},
      {win("g?ar.txt"), INVALID_FILE_ATTRIBUTES, ERROR_INVALID_NAME},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.path);
    SetLastError(0);
    EXPECT_EQ(GetFileAttributesA(c.path.c_str()), c.attributes);
    EXPECT_EQ(GetLastError(), c.error);
  }
}

TEST_F(FileOps, SearchPathLooksInEachListedDirectory) {
  ScopedEnv drive("VELMORA_DRIVE_C", dir_.path().c_str());
  const std::string full = dir_.file("sub/part.dat");
  struct Case {
    std::string path;
    const char *name;
    const char *extension;
    std::string found;
  } cases[] = {
      {dir_.path(), "gear.txt", nullptr, dir_.path() + "/gear.txt"},
      {"C:\\", "gear.txt", nullptr, "C:\\gear.txt"},
      {"C:\\nope;C:\\sub", "part.dat", nullptr, "C:\\sub\\part.dat"},
      // Directories count as well.
      {"C:", "sub", nullptr, "C:\\sub"},
      // The extension goes only on a name without one.
      {dir_.path(), "gear", ".txt", dir_.path() + "/gear.txt"},
      {dir_.path(), "gear.txt", ".dat", dir_.path() + "/gear.txt"},
      // A full name does not use the list.
      {"C:\\nope", full.c_str(), nullptr, full},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.path + " : " + c.name);
    char buffer[MAX_PATH];
    char *part = nullptr;
    DWORD length = SearchPathA(c.path.c_str(), c.name, c.extension, MAX_PATH, buffer, &part);
    EXPECT_EQ(length, c.found.size());
    EXPECT_EQ(std::string(buffer), c.found);
    ASSERT_NE(part, nullptr);
    EXPECT_EQ(std::string(part), c.found.substr(c.found.find_last_of("\\/") + 1));
  }
}

TEST_F(FileOps, SearchPathReportsMissingNamesAndShortBuffers) {
  char buffer[MAX_PATH];
  EXPECT_EQ(SearchPathA(dir_.path().c_str(), "missing", nullptr, MAX_PATH, buffer, nullptr), 0u);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  // Found in the other directory only, not below the current one.
  EXPECT_EQ(SearchPathA(dir_.file("sub").c_str(), "gear.txt", nullptr, MAX_PATH, buffer, nullptr),
            0u);

  std::string expected = dir_.path() + "/gear.txt";
  char small[4];
  EXPECT_EQ(SearchPathA(dir_.path().c_str(), "gear.txt", nullptr, sizeof small, small, nullptr),
            expected.size() + 1);
  // Relative list entries give full paths.
  ASSERT_EQ(chdir(dir_.path().c_str()), 0);
  EXPECT_EQ(SearchPathA("sub", "part.dat", nullptr, MAX_PATH, buffer, nullptr),
            dir_.file("sub/part.dat").size());
  EXPECT_EQ(std::string(buffer), dir_.file("sub/part.dat"));
  ASSERT_EQ(chdir("/"), 0);
}

} // namespace
