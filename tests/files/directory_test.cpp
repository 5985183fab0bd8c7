// su_DirectoryExists and su_FindFilesWithExt on a real directory, reached as drive C:.
#include "files/files_helpers.h"
#include "support/temp_env.h"

#include <velmora/files.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

using namespace vlx::test;

namespace {

// C:\work holds files of several extensions and two subdirectories.
class DirectoryTest : public TempEnvTest {
protected:
  DirectoryTest() : drive_("VELMORA_DRIVE_C", dir_.path().c_str()) {
    mkdir(dir_.file("work").c_str(), 0755);
    mkdir(dir_.file("work/sub").c_str(), 0755);
    mkdir(dir_.file("work/archive.txt").c_str(), 0755);
    for (const char *name : {"gear.txt", "GEAR2.TXT", "notes", "plan.doc", "a.tx"})
      writeFile(dir_.file(std::string("work/") + name), "x");
    mkdir(dir_.file("flat").c_str(), 0755);
    writeFile(dir_.file("flat/only.txt"), "x");
  }

  static std::vector<std::string> sorted(std::vector<std::string> names) {
    std::sort(names.begin(), names.end());
    return names;
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
      {"C:\\work\\sub", 1},
      {"c:\\WORK\\SUB\\", 0}, // POSIX names keep their case
      {"C:\\work\\gear.txt", 0},
      {"C:\\work\\missing", 0},
      {"C:\\missing\\deeper", 0},
      {"Q:\\work", 0}, // no such drive
      {"", 0},
      // Wildcards: the "." entry of the search is a directory.
      {"C:\\flat\\*", 1},
      {"C:\\flat\\*.txt", 0},
      {"C:\\work\\su?", 1},
      {"C:\\work\\*.txt", 1}, // archive.txt is a directory
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
    std::vector<std::string> expected;
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
    su_FindFilesWithExt(c.directory, c.extension, names);
    EXPECT_EQ(sorted(toVector(names)), c.expected);
  }
}

TEST_F(DirectoryTest, FindFilesWithExtAppendsBehindWhatTheListHeld) {
  CStringList names;
  names.AddTail("first");
  su_FindFilesWithExt("C:\\work", "doc", names);
  EXPECT_EQ(toVector(names), (std::vector<std::string>{"first", "plan.doc"}));
  su_FindFilesWithExt("C:\\work", "none", names);
  EXPECT_EQ(names.GetCount(), 2);
}

TEST_F(DirectoryTest, PosixSpellingsReachTheSameDirectory) {
  const std::string work = dir_.file("work");
  EXPECT_EQ(su_DirectoryExists(work.c_str()), 1);
  EXPECT_EQ(su_DirectoryExists(winPath(work).c_str()), 1);
  CStringList names;
  su_FindFilesWithExt(winPath(work).c_str(), "doc", names);
  EXPECT_EQ(toVector(names), std::vector<std::string>{"plan.doc"});
}

} // namespace
