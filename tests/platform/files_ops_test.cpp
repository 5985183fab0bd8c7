// GetFileAttributesA, DeleteFileA and SearchPathA.
#include "support/files.h"
#include "support/temp_env.h"

#include <velmora/win32.h>

#include <gtest/gtest.h>

#include <tuple>
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

TEST_F(FileOps, AttributesAndDeletionOfEachKindOfPath) {
  const DWORD invalid = INVALID_FILE_ATTRIBUTES;
  // name, its attributes, the error of both calls
  const std::tuple<const char *, DWORD, DWORD> cases[] = {
      {"readonly.txt", FILE_ATTRIBUTE_READONLY, ERROR_ACCESS_DENIED},
      {"sub\\", FILE_ATTRIBUTE_DIRECTORY, ERROR_ACCESS_DENIED},
      {"missing", invalid, ERROR_FILE_NOT_FOUND},
      {"nope\\missing", invalid, ERROR_PATH_NOT_FOUND},
      // A file as a directory is FindFirstFileA's row.
      // Last, as it is deleted.
      {"gear.txt", FILE_ATTRIBUTE_NORMAL, ERROR_SUCCESS},
  };
  for (const auto &[name, attributes, error] : cases) {
    SCOPED_TRACE(name);
    SetLastError(0);
    EXPECT_EQ(GetFileAttributesA(win(name).c_str()), attributes);
    EXPECT_EQ(GetLastError(), attributes == invalid ? error : ERROR_SUCCESS);
    EXPECT_EQ(DeleteFileA(win(name).c_str()), error == ERROR_SUCCESS);
    if (error != ERROR_SUCCESS) {
      EXPECT_EQ(GetLastError(), error);
    }
  }
  // A link goes even when its target is read-only.
  ASSERT_EQ(symlink("readonly.txt", dir_.file("link").c_str()), 0);
  EXPECT_TRUE(DeleteFileA(win("link").c_str()));
  EXPECT_EQ(entries(dir_.path()), (std::set<std::string>{"readonly.txt", "sub"}));
}

TEST_F(FileOps, SearchPathLooksInEachListedDirectory) {
  ScopedEnv drive("VELMORA_DRIVE_C", dir_.path().c_str());
  // list, name, extension, what is found (empty: nothing)
  const std::tuple<std::string, const char *, const char *, std::string> cases[] = {
      {"C:\\nope;C:\\sub", "part.dat", nullptr, "C:\\sub\\part.dat"},
      // Directories count as well.
      {"C:", "sub", nullptr, "C:\\sub"},
      // The extension goes only on a name without one.
      {dir_.path(), "gear", ".txt", dir_.path() + "/gear.txt"},
      {dir_.file("sub"), "gear.txt", nullptr, ""},
  };
  for (const auto &[list, name, extension, found] : cases) {
    SCOPED_TRACE(list + " : " + name);
    char buffer[MAX_PATH] = "";
    char *part = nullptr;
    EXPECT_EQ(SearchPathA(list.c_str(), name, extension, MAX_PATH, buffer, &part), found.size());
    EXPECT_EQ(std::string(buffer), found);
    if (!found.empty())
      EXPECT_STREQ(part, found.substr(found.find_last_of("\\/") + 1).c_str());
    else
      EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  }
}

} // namespace
