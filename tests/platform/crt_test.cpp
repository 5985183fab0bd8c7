// The C run-time calls (_mkdir and the case-blind getenv; _itoa is reached through the scratch
// directory's name in tests/files/temp_dir_test) and the errno -> Win32 error table.
#include "platform/posix/errno_map.h"
#include "support/temp_env.h"

#include <velmora/win32.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <tuple>
#include <utility>

using namespace vlx::test;
using vlx::posix::ErrnoSite;

namespace {

class Crt : public TempEnvTest {};

TEST_F(Crt, MkdirCreatesPrivateDirectoriesAndReportsErrno) {
  // Even a permissive umask leaves the directory to its owner.
  mode_t old = umask(0);
  std::string scratch = dir_.path() + "\\vlx1234\\";
  int result = _mkdir(scratch.c_str());
  umask(old);
  ASSERT_EQ(result, 0);
  struct stat st;
  ASSERT_EQ(stat(dir_.file("vlx1234").c_str(), &st), 0);
  // That it is a directory tests/files/temp_dir_test checks.
  EXPECT_EQ(st.st_mode & 07777, 0700u);

  errno = 0;
  EXPECT_EQ(_mkdir(scratch.c_str()), -1);
  EXPECT_EQ(errno, EEXIST);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
}

TEST(CrtGetenv, NamesMatchWithoutRegardToCaseExactSpellingFirst) {
  ScopedEnv upper("VLX_TEST_CASE", "upper");
  ScopedEnv lower("vlx_test_case", "lower");
  // Any other spelling is found by tests/files/temp_dir_test, which asks for "temp" set as "TEMP".
  const std::pair<const char *, const char *> cases[] = {
      {"VLX_TEST_CASE", "upper"}, {"vlx_test_case", "lower"}, {"VLX_TEST_CAS", nullptr}};
  for (const auto &[name, value] : cases) {
    SCOPED_TRACE(name);
    EXPECT_STREQ(vlx::getenv(name), value);
  }
}

TEST(ErrnoMap, TheSiteOfTheCallPicksTheCode) {
  // Only the rows no file call's test reaches: ENOENT by site shows through CopyFileA and
  // FindFirstFileA, EEXIST through _mkdir.
  const std::tuple<int, ErrnoSite, DWORD> cases[] = {
      {EEXIST, ErrnoSite::File, ERROR_FILE_EXISTS},
      {EIO, ErrnoSite::Read, ERROR_READ_FAULT},
      {EIO, ErrnoSite::Write, ERROR_WRITE_FAULT},
      // Anything without a Windows counterpart is a general failure, never success.
      {0, ErrnoSite::File, ERROR_GEN_FAILURE},
  };
  for (const auto &[err, site, code] : cases) {
    SCOPED_TRACE(std::strerror(err));
    EXPECT_EQ(vlx::posix::win32Error(err, site), code);
  }
}

} // namespace
