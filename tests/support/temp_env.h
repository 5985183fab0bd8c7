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

// A fresh directory below $TMPDIR (or /tmp), removed with everything in it at the end.
class TempDir {
public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir &) = delete;
  TempDir &operator=(const TempDir &) = delete;
  const std::string &path() const { return path_; }
  std::string file(const std::string &name) const { return path_ + "/" + name; }

private:
  std::string path_;
};

// Fixture: a temporary directory that also holds the registry hives of the test.
class TempEnvTest : public ::testing::Test {
protected:
  TempEnvTest();
  TempDir dir_;
  ScopedEnv registry_;
};

// Runs `argv` (argv[0] a path) and returns its exit status and combined output.
struct RunResult {
  int status;
  std::string output;
};
RunResult runCommand(const std::vector<std::string> &argv);

} // namespace vlx::test
