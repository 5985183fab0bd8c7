// Test fixture: each test gets its own temporary directory and registry directory.
#pragma once

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace vlx::test {

// Sets an environment variable for its lifetime and puts the old value back afterwards.
class ScopedEnv {
public:
  ScopedEnv(const std::string &name, const char *value);
  ~ScopedEnv();
  ScopedEnv(const ScopedEnv &) = delete;
  ScopedEnv &operator=(const ScopedEnv &) = delete;

private:
  std::string name_;
  std::optional<std::string> old_;
};

// A fresh directory below $TMPDIR or /tmp (the user's temporary directory on Windows), removed with
// everything in it at the end.
class TempDir {
public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir &) = delete;
  TempDir &operator=(const TempDir &) = delete;
  const std::string &path() const { return path_; }
  std::string file(const std::string &name) const { return path_ + separator + name; }
#ifdef _WIN32
  static constexpr char separator = '\\';
#else
  static constexpr char separator = '/';
#endif

private:
  std::string path_;
};

// Fresh, empty registry hives for its lifetime. On POSIX they are files in `directory`; on
// Windows this process's current user, machine and users roots are redirected to fresh keys
// (each with the skeleton a new hive reads as), and the classes root to the user's classes.
class ScopedHives {
public:
  explicit ScopedHives(const std::string &directory);
  ~ScopedHives();
  ScopedHives(const ScopedHives &) = delete;
  ScopedHives &operator=(const ScopedHives &) = delete;

private:
#ifdef _WIN32
  std::string base_;
#else
  ScopedEnv env_;
#endif
};

// Whether the system's ProgID look-up (CLSIDFromProgID) sees the classes a test registers. On
// Windows it reads the machine's own classes, which the roots ScopedHives redirects do not reach.
#ifdef _WIN32
constexpr bool kProgIdsFollowHives = false;
#else
constexpr bool kProgIdsFollowHives = true;
#endif

// True when the tests run under Wine rather than on Windows itself.
bool underWine();

// Fixture: a temporary directory and registry hives of the test's own.
class TempEnvTest : public ::testing::Test {
protected:
  TempEnvTest();
  TempDir dir_;
  ScopedHives registry_;
};

// Runs `argv` (argv[0] a path) and returns its exit status and combined output. On Windows the
// arguments are quoted, not escaped (none may hold a quote), and lines end in \n as on POSIX.
struct RunResult {
  int status;
  std::string output;
};
RunResult runCommand(const std::vector<std::string> &argv);

} // namespace vlx::test
