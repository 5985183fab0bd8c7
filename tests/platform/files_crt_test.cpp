// The C run-time calls: _mkdir, _itoa and the case-blind getenv.
#include "support/files.h"
#include "support/temp_env.h"

#include <velmora/win32.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

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
  EXPECT_TRUE(S_ISDIR(st.st_mode));
  EXPECT_EQ(st.st_mode & 07777, 0700u);

  ScopedEnv noDrive("VELMORA_DRIVE_Q", nullptr);
  struct Case {
    std::string path;
    int err;
    DWORD error;
  } cases[] = {
      {scratch, EEXIST, ERROR_ALREADY_EXISTS},
      {dir_.path() + "\\nope\\deeper", ENOENT, ERROR_PATH_NOT_FOUND},
      {"Q:\\scratch", ENOENT, ERROR_PATH_NOT_FOUND},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.path);
    errno = 0;
    EXPECT_EQ(_mkdir(c.path.c_str()), -1);
    EXPECT_EQ(errno, c.err);
    EXPECT_EQ(GetLastError(), c.error);
  }
}

TEST(CrtItoa, FormatsInAnyRadixWithASignOnlyInDecimal) {
  struct Case {
    int value;
    int radix;
    const char *text;
  } cases[] = {
      {0, 10, "0"},
      {1234, 10, "1234"},
      {-123, 10, "-123"},
      {INT_MAX, 10, "2147483647"},
      {INT_MIN, 10, "-2147483648"},
      {255, 16, "ff"},
      {-1, 16, "ffffffff"},
      {-2, 8, "37777777776"},
      {5, 2, "101"},
      {-1, 2, "11111111111111111111111111111111"},
      {35, 36, "z"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.text);
    char buffer[34];
    std::memset(buffer, '#', sizeof buffer);
    EXPECT_EQ(_itoa(c.value, buffer, c.radix), buffer);
    EXPECT_STREQ(buffer, c.text);
  }
  char buffer[4] = "abc";
  errno = 0;
  _itoa(5, buffer, 1);
  EXPECT_EQ(errno, EINVAL);
  EXPECT_STREQ(buffer, "");
}

TEST(CrtGetenv, NamesMatchWithoutRegardToCaseExactSpellingFirst) {
  ScopedEnv upper("VLX_TEST_CASE", "upper");
  ScopedEnv lower("vlx_test_case", "lower");
  ScopedEnv mixed("Vlx_Test_Temp", "temp");
  ScopedEnv prefix("VLX_TEST_PREFIX_LONGER", "x");
  struct Case {
    const char *name;
    const char *value;
  } cases[] = {
      {"VLX_TEST_CASE", "upper"},
      {"vlx_test_case", "lower"},
      {"vlx_test_temp", "temp"},
      {"VLX_TEST_TEMP", "temp"},
      {"VLX_TEST_PREFIX", nullptr},
      {"VLX_TEST_NONE", nullptr},
      {"", nullptr},
      {"VLX_TEST_CASE=", nullptr},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    const char *value = vlx::getenv(c.name);
    if (c.value)
      EXPECT_STREQ(value, c.value);
    else
      EXPECT_EQ(value, nullptr);
  }
  // Another spelling finds one of the two.
  const char *either = vlx::getenv("Vlx_Test_Case");
  ASSERT_NE(either, nullptr);
  EXPECT_TRUE(std::strcmp(either, "upper") == 0 || std::strcmp(either, "lower") == 0);
}

} // namespace
