// Windows paths to POSIX paths: separators, rooted paths and drive letters.
#include "platform/posix/files/path_map.h"
#include "support/temp_env.h"

#include <gtest/gtest.h>

using namespace vlx::test;
using vlx::posix::mapPath;
using vlx::posix::parentDirectory;

namespace {

class PathMapping : public TempEnvTest {
protected:
  ScopedEnv driveC_{"VELMORA_DRIVE_C", dir_.path().c_str()};
  ScopedEnv driveZ_{"VELMORA_DRIVE_Z", nullptr};
  ScopedEnv driveQ_{"VELMORA_DRIVE_Q", nullptr};
};

TEST_F(PathMapping, SeparatorsRootsAndDrives) {
  const std::string t = dir_.path();
  struct Case {
    const char *windows;
    DWORD error;
    std::string posix;
  } cases[] = {
      {"\\tmp\\x\\gear.txt", ERROR_SUCCESS, "/tmp/x/gear.txt"},
      {"rel\\sub/file", ERROR_SUCCESS, "rel/sub/file"},
      {"C:\\sub\\a.txt", ERROR_SUCCESS, t + "/sub/a.txt"},
      {"c:\\sub", ERROR_SUCCESS, t + "/sub"},
      {"C:", ERROR_SUCCESS, t},
      {"C:\\", ERROR_SUCCESS, t + "/"},
      {"C:name", ERROR_SUCCESS, t + "/name"},
      {"Z:\\tmp\\x", ERROR_SUCCESS, "/tmp/x"},
      {"z:", ERROR_SUCCESS, "/"},
      {"Z:\\", ERROR_SUCCESS, "/"},
      {"Q:\\x", ERROR_PATH_NOT_FOUND, ""},
      {"", ERROR_PATH_NOT_FOUND, ""},
      // A colon elsewhere is no drive.
      {"ab:c", ERROR_SUCCESS, "ab:c"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.windows);
    std::string posix = "stale";
    EXPECT_EQ(mapPath(c.windows, posix), c.error);
    EXPECT_EQ(posix, c.posix);
  }
  std::string posix;
  EXPECT_EQ(mapPath(nullptr, posix), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

TEST_F(PathMapping, DriveVariablesOverrideZAndMayEndInASlash) {
  ScopedEnv z("VELMORA_DRIVE_Z", (dir_.path() + "/").c_str());
  std::string posix;
  ASSERT_EQ(mapPath("Z:\\a\\b", posix), static_cast<DWORD>(ERROR_SUCCESS));
  EXPECT_EQ(posix, dir_.path() + "/a/b");
  // An empty variable is as good as unset.
  ScopedEnv q("VELMORA_DRIVE_Q", "");
  EXPECT_EQ(mapPath("Q:\\a", posix), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
}

TEST(PathParent, DirectoryPartOfPosixPaths) {
  struct Case {
    const char *path;
    const char *parent;
  } cases[] = {{"/tmp/x/a", "/tmp/x"}, {"/tmp/x/", "/tmp"}, {"/a", "/"}, {"/", "/"}, {"a", "."},
               {"a/b", "a"},           {"a//b", "a"},       {"//a", "/"}};
  for (const auto &c : cases) {
    SCOPED_TRACE(c.path);
    EXPECT_EQ(parentDirectory(c.path), c.parent);
  }
}

} // namespace
