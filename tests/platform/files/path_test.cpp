// Windows paths to POSIX paths: separators, rooted paths, drive letters and `..` at a root.
#include "platform/posix/files/path_map.h"
#include "support/temp_env.h"

#include <velmora/win32.h>

#include <gtest/gtest.h>

#include <fstream>
#include <sys/stat.h>
#include <tuple>
#include <unistd.h>
#include <utility>

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
      // A colon elsewhere is no drive. (In a folder's name it is no name at all: the CreateFile
      // table's row, as are the devices and the long-path prefix's refusals.)
      {"ab:c", ERROR_SUCCESS, "ab:c"},
      // The last component loses trailing dots and spaces; a pattern that ends in a dot keeps
      // one.
      {"gear.txt..", ERROR_SUCCESS, "gear.txt"},
      {"C:\\sub\\...", ERROR_SUCCESS, t + "/sub"},
      {"C:\\*. ", ERROR_SUCCESS, t + "/*"},
      {"C:\\* .", ERROR_SUCCESS, t + "/*."},
      {"C:\\?..", ERROR_SUCCESS, t + "/?."},
      {"C:\\*", ERROR_SUCCESS, t + "/*"},
      // Devices in any folder and with any extension, but only as the whole name.
      {"C:\\nul .txt", ERROR_SUCCESS, "/dev/null"},
      {"C:\\nula", ERROR_SUCCESS, t + "/nula"},
      {"C:\\com0", ERROR_SUCCESS, t + "/com0"},
      {"C:\\nul\\x", ERROR_SUCCESS, t + "/nul/x"},
      // After the long-path prefix the text stands as it is, and only `\` separates.
      {"\\\\?\\C:\\nul", ERROR_SUCCESS, t + "/nul"},
      {"\\\\?\\C:\\*.txt", ERROR_SUCCESS, t + "/*.txt"},
      {"\\\\?\\c:", ERROR_SUCCESS, t},
      {"\\\\?\\C:\\a\\\\b", ERROR_INVALID_NAME, ""},
      {"\\\\?\\Q:\\x", ERROR_PATH_NOT_FOUND, ""},
      {"\\\\?\\relative", ERROR_PATH_NOT_FOUND, ""},
      // `.` and `..` resolve in the text, and `..` stops at the drive's root or at `/`.
      {"C:\\..\\..\\etc", ERROR_SUCCESS, t + "/etc"},
      {"c:\\sub\\..\\..\\a.txt", ERROR_SUCCESS, t + "/a.txt"},
      {"C:..\\x", ERROR_SUCCESS, t + "/x"},
      {"C:\\sub\\.\\deep\\..\\", ERROR_SUCCESS, t + "/sub/"},
      {"C:\\sub\\..", ERROR_SUCCESS, t},
      {"z:\\..\\etc", ERROR_SUCCESS, "/etc"},
      {"\\..\\..\\etc", ERROR_SUCCESS, "/etc"},
      // Relative to the current directory, which `..` may leave on Windows too.
      {"rel\\..\\..\\x", ERROR_SUCCESS, "rel/../../x"},
  };
  for (const auto &[windows, error, expected] : cases) {
    SCOPED_TRACE(windows);
    std::string posix = "stale";
    EXPECT_EQ(mapPath(windows, posix), error);
    EXPECT_EQ(posix, expected);
  }
}

// Whatever links lie below the drive, `..` does not climb out of it.
TEST_F(PathMapping, DotDotDoesNotLeaveTheDriveThroughALink) {
  mkdir(dir_.file("drive").c_str(), 0755);
  mkdir(dir_.file("outside").c_str(), 0755);
  mkdir(dir_.file("outside/deep").c_str(), 0755);
  ASSERT_EQ(symlink(dir_.file("outside/deep").c_str(), dir_.file("drive/link").c_str()), 0);
  std::ofstream(dir_.file("outside/secret.txt")) << "x";
  std::ofstream(dir_.file("drive/inside.txt")) << "x";
  ScopedEnv drive("VELMORA_DRIVE_X", dir_.file("drive").c_str());
  const std::pair<const char *, bool> cases[] = {
      {"X:\\..\\outside\\secret.txt", false},
      {"X:\\link\\..\\secret.txt", false},
      {"X:\\link\\..\\inside.txt", true},
  };
  for (const auto &[path, found] : cases) {
    SCOPED_TRACE(path);
    EXPECT_EQ(GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES, found);
  }
}

} // namespace
