// Windows paths to POSIX paths: separators, rooted paths and drive letters.
#include "platform/posix/files/path_map.h"
#include "support/temp_env.h"

#include <gtest/gtest.h>

#include <tuple>

using namespace vlx::test;
using vlx::posix::mapPath;

namespace {

class PathMapping : public TempEnvTest {
protected:
  // A drive's directory may end in a slash; an empty variable is as good as unset.
  ScopedEnv driveC_{"VELMORA_DRIVE_C", (dir_.path() + "/").c_str()};
  ScopedEnv driveZ_{"VELMORA_DRIVE_Z", nullptr};
  ScopedEnv driveQ_{"VELMORA_DRIVE_Q", ""};
};

TEST_F(PathMapping, SeparatorsRootsAndDrives) {
  const std::string t = dir_.path();
  const std::tuple<const char *, DWORD, std::string> cases[] = {
      {"\\tmp\\x\\gear.txt", ERROR_SUCCESS, "/tmp/x/gear.txt"},
      {"rel\\sub/file", ERROR_SUCCESS, "rel/sub/file"},
      {"c:\\sub\\a.txt", ERROR_SUCCESS, t + "/sub/a.txt"},
      {"C:", ERROR_SUCCESS, t},
      {"C:name", ERROR_SUCCESS, t + "/name"},
      {"z:", ERROR_SUCCESS, "/"},
      {"Q:\\x", ERROR_PATH_NOT_FOUND, ""},
      {"", ERROR_PATH_NOT_FOUND, ""},
      // A colon elsewhere is no drive.
      {"ab:c", ERROR_SUCCESS, "ab:c"},
  };
  for (const auto &[windows, error, expected] : cases) {
    SCOPED_TRACE(windows);
    std::string posix = "stale";
    EXPECT_EQ(mapPath(windows, posix), error);
    EXPECT_EQ(posix, expected);
  }
}

} // namespace
