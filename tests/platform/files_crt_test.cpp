// The C run-time calls: _mkdir, _itoa and the case-blind getenv.
#include "support/temp_env.h"

#include <velmora/win32.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <sys/stat.h>
#include <tuple>

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
  const std::tuple<std::string, int, DWORD> cases[] = {
      {scratch, EEXIST, ERROR_ALREADY_EXISTS},
      {dir_.path() + "\\nope\\deeper", ENOENT, ERROR_PATH_NOT_FOUND},
      {"Q:\\scratch", ENOENT, ERROR_PATH_NOT_FOUND},
  };
  for (const auto &[path, err, error] : cases) {
    SCOPED_TRACE(path);
    errno = 0;
    EXPECT_EQ(_mkdir(path.c_str()), -1);
    EXPECT_EQ(errno, err);
    EXPECT_EQ(GetLastError(), error);
  }
}

TEST(CrtItoa, FormatsInAnyRadixWithASignOnlyInDecimal) {
  const std::tuple<int, int, const char *> cases[] = {
      // value, radix, text; an invalid radix gives the empty text
      {0, 10, "0"},
      {INT_MIN, 10, "-2147483648"},
      {-1, 16, "ffffffff"},
      {5, 2, "101"},
      {35, 36, "z"},
      {5, 1, ""}};
  for (const auto &[value, radix, text] : cases) {
    SCOPED_TRACE(text);
    char buffer[34];
    std::memset(buffer, '#', sizeof buffer);
    errno = 0;
    EXPECT_EQ(_itoa(value, buffer, radix), buffer);
    EXPECT_STREQ(buffer, text);
    EXPECT_EQ(errno, radix == 1 ? EINVAL : 0);
  }
}

TEST(CrtGetenv, NamesMatchWithoutRegardToCaseExactSpellingFirst) {
  ScopedEnv upper("VLX_TEST_CASE", "upper");
  ScopedEnv lower("vlx_test_case", "lower");
  ScopedEnv mixed("Vlx_Test_Temp", "temp");
  const std::pair<const char *, const char *> cases[] = {
      // The exact spelling first, then any other.
      {"VLX_TEST_CASE", "upper"},
      {"vlx_test_case", "lower"},
      {"VLX_TEST_TEMP", "temp"},
      {"VLX_TEST_TEM", nullptr},
      {"", nullptr},
      {"VLX_TEST_CASE=", nullptr}};
  for (const auto &[name, value] : cases) {
    SCOPED_TRACE(name);
    EXPECT_STREQ(vlx::getenv(name), value);
  }
}

} // namespace
