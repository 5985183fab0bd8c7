// The C run-time calls: _mkdir and the case-blind getenv. _itoa is reached through the scratch
// directory's name (files/temp_dir_test).
#include "support/temp_env.h"

#include <velmora/win32.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <sys/stat.h>
#include <utility>

using namespace vlx::test;

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
  // That it is a directory files/temp_dir_test checks.
  EXPECT_EQ(st.st_mode & 07777, 0700u);

  errno = 0;
  EXPECT_EQ(_mkdir(scratch.c_str()), -1);
  EXPECT_EQ(errno, EEXIST);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
}

TEST(CrtGetenv, NamesMatchWithoutRegardToCaseExactSpellingFirst) {
  ScopedEnv upper("VLX_TEST_CASE", "upper");
  ScopedEnv lower("vlx_test_case", "lower");
  // Any other spelling is found by files/temp_dir_test, which asks for "temp" set as "TEMP".
  const std::pair<const char *, const char *> cases[] = {
      {"VLX_TEST_CASE", "upper"}, {"vlx_test_case", "lower"}, {"VLX_TEST_CAS", nullptr}};
  for (const auto &[name, value] : cases) {
    SCOPED_TRACE(name);
    EXPECT_STREQ(vlx::getenv(name), value);
  }
}

} // namespace
