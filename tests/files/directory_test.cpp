// su_DirectoryExists and su_FindFilesWithExt on a real directory, reached as drive C:.
#include "support/files.h"
#include "support/temp_env.h"

#include <velmora/files.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

using namespace vlx::test;

namespace {

// C:\work holds files of several extensions and two subdirectories; C:\flat only a file.
class DirectoryTest : public TempEnvTest {
protected:
  DirectoryTest() : drive_("VELMORA_DRIVE_C", dir_.path().c_str()) {
    for (const char *name : {"work", "work/sub", "work/archive.txt", "flat"})
      mkdir(dir_.file(name).c_str(), 0755);
    for (const char *name : {"gear.txt", "GEAR2.TXT", "notes", "plan.doc"})
      writeFile(dir_.file(std::string("work/") + name), "x");
    writeFile(dir_.file("flat/only.txt"), "x");
  }
  ScopedEnv drive_;
};

TEST_F(DirectoryTest, DirectoryExists) {
  const struct {
    const char *path;
    int expected;
  } cases[] = {
      {"C:\\work", 1},
      {"C:\\work\\", 1},
      {"C:\\work\\gear.txt", 0},
      {"C:\\work\\missing", 0},
      {"C:\\missing\\deep", 0},
      {"Q:\\work", 0},
      {"", 0},
      // Wildcards: the "." entry of the search is a directory, and so is archive.txt.
      {"C:\\flat\\*", 1},
      {"C:\\flat\\*.txt", 0},
      {"C:\\work\\*.txt", 1},
      {"C:\\work\\su?", 1},
      {"C:\\work\\*.doc", 0},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.path);
    EXPECT_EQ(su_DirectoryExists(c.path), c.expected);
  }
}

TEST_F(DirectoryTest, FindFilesWithExt) {
  const struct {
    const char *directory;
    const char *extension;
    std::vector<std::string> added;
  } cases[] = {
      // Any case of the extension matches; directories are listed too.
      {"C:\\work", "txt", {"GEAR2.TXT", "archive.txt", "gear.txt"}},
      {"C:\\work\\", "txt", {"GEAR2.TXT", "archive.txt", "gear.txt"}},
      {"C:\\work", "t?t", {"GEAR2.TXT", "archive.txt", "gear.txt"}},
      // "*." lists the names without an extension, the two dot entries among them.
      {"C:\\work", "", {".", "..", "notes", "sub"}},
      {"C:\\work", "xls", {}},
      {"C:\\missing", "txt", {}},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(std::string(c.directory) + " " + c.extension);
    CStringList names;
    names.AddTail("held before");
    su_FindFilesWithExt(c.directory, c.extension, names);
    std::vector<std::string> found = toVector(names);
    ASSERT_FALSE(found.empty());
    EXPECT_EQ(found.front(), "held before");
    found.erase(found.begin());
    std::sort(found.begin(), found.end());
    EXPECT_EQ(found, c.added);
  }
}

} // namespace
