// su_DirectoryExists and su_FindFilesWithExt on a real directory, reached as drive C:.
// POSIX only: the directory is reached through the drive mapping.
#ifndef _WIN32
#include "support/files.h"
#include "support/temp_env.h"

#include <velmora/files.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <tuple>
#include <vector>

using namespace vlx::test;

namespace {

// C:\work holds files of several extensions and two subdirectories.
class DirectoryTest : public TempEnvTest {
protected:
  DirectoryTest() : drive_("VELMORA_DRIVE_C", dir_.path().c_str()) {
    for (const char *name : {"work", "work/sub", "work/archive.txt"})
      mkdir(dir_.file(name).c_str(), 0755);
    for (const char *name : {"gear.txt", "GEAR2.TXT", "notes", "plan.doc"})
      writeFile(dir_.file(std::string("work/") + name), "x");
  }
  ScopedEnv drive_;
};

TEST_F(DirectoryTest, DirectoryExists) {
  // With wildcards, any directory among the matches counts.
  const std::pair<const char *, int> cases[] = {{"C:\\work", 1},           {"C:\\work\\", 1},
                                                {"C:\\work\\gear.txt", 0}, {"C:\\work\\missing", 0},
                                                {"C:\\work\\*.txt", 1},    {"C:\\work\\*.doc", 0}};
  for (const auto &[path, expected] : cases) {
    SCOPED_TRACE(path);
    EXPECT_EQ(su_DirectoryExists(path), expected);
  }
}

TEST_F(DirectoryTest, FindFilesWithExtAddsTheMatchesToTheList) {
  const std::tuple<const char *, const char *, std::vector<std::string>> cases[] = {
      // Any case of the extension matches; directories are listed too.
      {"C:\\work\\", "txt", {"GEAR2.TXT", "archive.txt", "gear.txt"}},
      // "*." lists the names without an extension, the two dot entries among them.
      {"C:\\work", "", {".", "..", "notes", "sub"}},
  };
  for (const auto &[directory, extension, added] : cases) {
    SCOPED_TRACE(std::string(directory) + " " + extension);
    CStringList names;
    names.AddTail("held before");
    su_FindFilesWithExt(directory, extension, names);
    std::vector<std::string> found = toVector(names);
    ASSERT_FALSE(found.empty());
    EXPECT_EQ(found.front(), "held before");
    std::sort(found.begin() + 1, found.end());
    EXPECT_EQ(std::vector<std::string>(found.begin() + 1, found.end()), added);
  }
}

} // namespace

#endif
