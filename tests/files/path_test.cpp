// Paths: suFullPath_c's four parts of typical and border paths; host paths to library paths and
// back (drives, rooted and relative paths, failures), and a Linux host making a backup and
// opening a scratch file.
#include "framework/print.h"
#include "support/files.h"
#include "support/temp_env.h"

#include <velmora/files.h>
#include <velmora/registry.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <sys/stat.h>
#include <utility>

using namespace vlx::test;

namespace {

#if !defined(_WIN32)
std::string backslashed(std::string path) {
  std::replace(path.begin(), path.end(), '/', '\\');
  return path;
}

// C: is the test's directory, D: a folder inside it, Z: (the root by default) is unset.
class SystemPathTest : public TempEnvTest {
protected:
  SystemPathTest() { mkdir(dir_.file("deep").c_str(), 0755); }
  ScopedEnv driveC_{"VELMORA_DRIVE_C", (dir_.path() + "/").c_str()};
  ScopedEnv driveD_{"VELMORA_DRIVE_D", dir_.file("deep").c_str()};
  ScopedEnv driveZ_{"VELMORA_DRIVE_Z", nullptr};
};

TEST_F(SystemPathTest, LibraryFormOfHostPaths) {
  const std::string t = dir_.path();
  const std::pair<std::string, std::string> cases[] = {
      {"/home/u/gear.txt", "\\home\\u\\gear.txt"},
      {"/", "\\"},
      {t + "/work/gear.txt", "C:\\work\\gear.txt"},
      {t, "C:\\"},
      {t + "/", "C:\\"},
      // The deepest drive wins; a name that only starts like a drive's directory is no drive.
      {t + "/deep/a.txt", "D:\\a.txt"},
      {t + "/deeper/a.txt", "C:\\deeper\\a.txt"},
      {t + "x/a.txt", backslashed(t + "x/a.txt")},
      {"//srv//x", "\\srv\\x"},
      // A bare name lies in the current directory, not at the root.
      {"gear.txt", ".\\gear.txt"},
      {"sub/gear.txt", "sub\\gear.txt"},
      {"../gear.txt", "..\\gear.txt"},
      {"C:\\work/gear.txt", "C:\\work\\gear.txt"},
      {"", ""},
  };
  for (const auto &[host, library] : cases) {
    SCOPED_TRACE(host);
    EXPECT_STREQ(vlx::toLibraryPath(host.c_str()).GetString(), library.c_str());
  }
  for (std::string host : {std::string("/home/u/gear.txt"), t + "/work/gear.txt", t + "/deep/a.txt",
                           t + "/deeper/a.txt", std::string("/")}) {
    SCOPED_TRACE(host);
    EXPECT_STREQ(vlx::toSystemPath(vlx::toLibraryPath(host.c_str())).GetString(), host.c_str());
  }
  EXPECT_TRUE(vlx::toLibraryPath(nullptr).IsEmpty());
}

TEST_F(SystemPathTest, HostFormFollowsTheFileCalls) {
  const std::string t = dir_.path();
  const std::tuple<const char *, std::string, DWORD> cases[] = {
      {"c:\\work\\..\\..\\gear.txt", t + "/gear.txt", ERROR_SUCCESS},
      {"\\tmp\\gear.txt. ", "/tmp/gear.txt", ERROR_SUCCESS},
      {"\\tmp\\NUL.txt", "/dev/null", ERROR_SUCCESS},
      {".\\gear.txt", "./gear.txt", ERROR_SUCCESS},
      {"Q:\\gear.txt", "", ERROR_PATH_NOT_FOUND},
      {"\\a:b\\gear.txt", "", ERROR_INVALID_NAME},
      {"", "", ERROR_PATH_NOT_FOUND},
  };
  for (const auto &[library, host, error] : cases) {
    SCOPED_TRACE(library);
    SetLastError(ERROR_GEN_FAILURE);
    EXPECT_STREQ(vlx::toSystemPath(library).GetString(), host.c_str());
    EXPECT_EQ(GetLastError(), error);
  }
}

// What a Linux host does with them: back up one of its files, open a scratch file.
TEST_F(SystemPathTest, BackupAndScratchFileOfALinuxHost) {
  const vlx::StringResource strings[] = {{10122, "Backup of "}};
  vlx::registerStringTable(AfxGetResourceHandle(), strings);
  const std::string gear = dir_.file("deeper/gear.txt");
  mkdir(dir_.file("deeper").c_str(), 0755);
  writeFile(gear, "version 1");
  EXPECT_EQ(su_CreateBackupOfFile(vlx::toLibraryPath(gear.c_str())), 1);
  EXPECT_EQ(readFile(dir_.file("deeper/Backup of gear.txt")), "version 1");
  vlx::unregisterStringTable(AfxGetResourceHandle());

  ScopedEnv temp("TEMP", dir_.path().c_str());
  const CString scratch = vlx::toSystemPath(su_CreateTempFilePath("gear.tmp"));
  ASSERT_FALSE(scratch.IsEmpty());
  FILE *file = std::fopen(scratch.GetString(), "w");
  ASSERT_NE(file, nullptr);
  std::fclose(file);
  EXPECT_EQ(scratch.Find(dir_.path().c_str()), 0);
}
#else
TEST(SystemPath, WindowsPathsStandAsTheyAre) {
  EXPECT_STREQ(vlx::toLibraryPath("C:/work/gear.txt").GetString(), "C:\\work\\gear.txt");
  EXPECT_STREQ(vlx::toLibraryPath("gear.txt").GetString(), ".\\gear.txt");
  EXPECT_STREQ(vlx::toSystemPath("C:\\work\\gear.txt").GetString(), "C:\\work\\gear.txt");
}
#endif

TEST(FullPathTest, PartsOfTypicalAndBorderPaths) {
  using Getter = int (suFullPath_c::*)(CString *);
  const Getter getters[] = {&suFullPath_c::getDrive, &suFullPath_c::getDirectory,
                            &suFullPath_c::getName, &suFullPath_c::getExtension};
  const struct {
    const char *path;
    const char *parts[4]; // drive, directory, name, extension
  } cases[] = {
      {"C:\\gear.txt", {"C", "C:", "gear", "txt"}},
      {"C:\\work\\", {"C", "C:\\work", "", ""}},
      {"C:\\work\\archive.tar.gz", {"C", "C:\\work", "archive.tar", "gz"}},
      {"C:\\work\\.profile", {"C", "C:\\work", "", "profile"}},
      // The extension is cut from the whole path, the name only from its last component.
      {"C:\\rev1.2\\readme", {"C", "C:\\rev1.2", "readme", "2\\readme"}},
      {"\\\\server\\share\\a.txt", {"", "\\\\server\\share", "a", "txt"}},
      // Without a backslash all before the dot is the name ("/tmp/x/gear.txt" in the vlx test).
      {"C:gear.txt", {"C", "", "C:gear", "txt"}},
      {"", {"", "", "", ""}},
  };
  for (const auto &c : cases) {
    suFullPath_c path(c.path);
    for (int i = 0; i < 4; ++i) {
      SCOPED_TRACE(std::string(c.path) + " part " + std::to_string(i));
      CString out("stale");
      EXPECT_EQ((path.*getters[i])(&out), *c.parts[i] ? 1 : 0);
      EXPECT_EQ(out, c.parts[i]);
    }
    // The accessors leave the text alone.
    EXPECT_EQ(CString(path), c.path);
  }
}

} // namespace
