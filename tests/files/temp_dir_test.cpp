// The scratch directory: which variable gives the base, the path's form, what gets created, and
// what is refused because another user could reach it.
// POSIX only: the variables, modes and owners checked are the POSIX personality's.
#ifndef _WIN32
#include "support/files.h"
#include "support/temp_env.h"

#include <velmora/files.h>

#include <gtest/gtest.h>

#include "framework/print.h"

#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <strings.h>
#include <sys/stat.h>
#include <tuple>
#include <unistd.h>
#include <vector>

extern char **environ;

using namespace vlx::test;

namespace {

// Every spelling of temp and tmp is removed for the test (the look-up ignores case), and so are
// the session's variables that stand in for them; drives C: and D: are directories of the test.
class TempDirTest : public TempEnvTest {
protected:
  TempDirTest()
      : driveC_("VELMORA_DRIVE_C", dir_.path().c_str()),
        driveD_("VELMORA_DRIVE_D", dir_.file("d").c_str()), runtime_("XDG_RUNTIME_DIR", nullptr),
        tmpDir_("TMPDIR", nullptr) {
    std::vector<std::string> names;
    for (char **entry = environ; *entry != nullptr; ++entry)
      if (strncasecmp(*entry, "temp=", 5) == 0 || strncasecmp(*entry, "tmp=", 4) == 0)
        names.emplace_back(*entry, std::strchr(*entry, '=') - *entry);
    for (const std::string &name : names)
      cleared_.push_back(std::make_unique<ScopedEnv>(name, nullptr));
    for (const char *name : {"TEMP", "d", "d/scratch"})
      mkdir(dir_.file(name).c_str(), 0755);
  }
  ScopedEnv driveC_;
  ScopedEnv driveD_;
  ScopedEnv runtime_;
  ScopedEnv tmpDir_;
  std::vector<std::unique_ptr<ScopedEnv>> cleared_;
  const std::string pid_ = "vlx" + std::to_string(getpid());
};

TEST_F(TempDirTest, TheBaseComesFromTempThenTmp) {
  const std::string d = "D:\\scratch\\" + pid_ + "\\", c = "C:\\TEMP\\" + pid_ + "\\";
  // what, temp, tmp (null: unset), the path, what gets created below the test directory
  const std::tuple<const char *, const char *, const char *, std::string, std::string> cases[] = {
      {"tmp when temp is unset", nullptr, "D:\\scratch", d, "d/scratch/" + pid_},
      {"temp wins over tmp", "C:\\TEMP", "D:\\scratch", c, "TEMP/" + pid_},
      // The separator is always put in, even after one.
      {"final backslash", "C:\\TEMP\\", nullptr, "C:\\TEMP\\\\" + pid_ + "\\", "TEMP/" + pid_},
      {"empty temp counts as unset", "", "D:\\scratch", d, "d/scratch/" + pid_},
      // No directory was made, so none is verified private: the library says there is none.
      {"missing base", "C:\\nowhere", nullptr, "", ""},
  };
  for (const auto &[what, tempValue, tmpValue, expected, created] : cases) {
    SCOPED_TRACE(what);
    // Other spellings than the library asks for: the look-up ignores case.
    ScopedEnv temp("TEMP", tempValue);
    ScopedEnv tmp("Tmp", tmpValue);
    EXPECT_EQ(su_CreateTempDirectory(), expected.c_str());
    EXPECT_EQ(su_CreateTempFilePath("gear.tmp"),
              expected.empty() ? "" : (expected + "gear.tmp").c_str());
    if (!created.empty()) {
      EXPECT_TRUE(isDirectory(dir_.file(created)));
      rmdir(dir_.file(created).c_str());
    }
  }
  EXPECT_EQ(entries(dir_.path()), (std::set<std::string>{"TEMP", "d"}));
}

// A Linux shell sets neither temp nor tmp: the session's runtime directory, else TMPDIR, else
// /tmp serves, through the library's look-up alone.
TEST_F(TempDirTest, WithNeitherTheSessionsTemporaryDirectoryServes) {
  const std::string run = dir_.file("run"), tmpDir = dir_.file("d");
  mkdir(run.c_str(), 0700);
  // what, XDG_RUNTIME_DIR, TMPDIR, temp and tmp (both empty or unset), the base
  const std::tuple<const char *, const char *, const char *, const char *, std::string> cases[] = {
      {"the runtime directory", run.c_str(), tmpDir.c_str(), nullptr, run},
      {"TMPDIR without one", nullptr, tmpDir.c_str(), nullptr, tmpDir},
      {"empty temp and tmp count as unset", run.c_str(), nullptr, "", run},
  };
  for (const auto &[what, runtime, tmpDirValue, empty, base] : cases) {
    SCOPED_TRACE(what);
    ScopedEnv runtimeValue("XDG_RUNTIME_DIR", runtime), tmpDirSet("TMPDIR", tmpDirValue);
    ScopedEnv temp("Temp", empty), tmp("TMP", empty);
    EXPECT_EQ(su_CreateTempDirectory(), (base + "\\" + pid_ + "\\").c_str());
    EXPECT_TRUE(isDirectory(base + "/" + pid_));
    rmdir((base + "/" + pid_).c_str());
  }
  EXPECT_STREQ(vlx::getenv("temp"), "/tmp");
  // Only the library's look-up answers; tmp stays unset, and so does the process's TEMP.
  EXPECT_EQ(vlx::getenv("tmp"), nullptr);
  EXPECT_EQ(std::getenv("TEMP"), nullptr);
}

// With a shared base another user can plant the name before the process runs. Only a real
// directory of this user's, closed to everyone else, in a base where no one else may rename
// it, is handed out; anything else gives what no base gives.
TEST_F(TempDirTest, AnythingAnotherUserCouldReachIsRefused) {
  const std::string elsewhere = dir_.file("elsewhere");
  mkdir(elsewhere.c_str(), 0700);
  const mode_t oldMask = umask(0);
  // what, how the base is prepared (the planted entry named `entry`), whether it is handed out
  const std::tuple<const char *, std::function<void(const std::string &, const std::string &)>,
                   bool>
      cases[] = {
          {"a link to a directory",
           [&](auto &, auto &entry) { EXPECT_EQ(symlink(elsewhere.c_str(), entry.c_str()), 0); },
           false},
          {"a dangling link",
           [&](auto &base, auto &entry) {
             EXPECT_EQ(symlink((base + "/made").c_str(), entry.c_str()), 0);
           },
           false},
          {"a directory open to everyone", [](auto &, auto &entry) { mkdir(entry.c_str(), 0777); },
           false},
          {"a directory the group may read",
           [](auto &, auto &entry) { mkdir(entry.c_str(), 0750); }, false},
          {"another user's directory",
           [](auto &, auto &entry) {
             mkdir(entry.c_str(), 0700);
             EXPECT_EQ(chown(entry.c_str(), 65534, 65534), 0);
           },
           false},
          {"a file", [](auto &, auto &entry) { writeFile(entry, ""); }, false},
          // Anyone may rename entries there, the directory made just now included.
          {"a base open to everyone", [](auto &base, auto &) { chmod(base.c_str(), 0777); }, false},
          // The sticky bit keeps entries to their owners, as in /tmp.
          {"a shared sticky base", [](auto &base, auto &) { chmod(base.c_str(), 01777); }, true},
          {"a directory of the user's from an earlier process of that number",
           [](auto &, auto &entry) { mkdir(entry.c_str(), 0700); }, true},
      };
  int row = 0;
  for (const auto &[what, plant, handedOut] : cases) {
    SCOPED_TRACE(what);
    // Only root can give a directory to another user (CI runs as root).
    if (std::string(what) == "another user's directory" && geteuid() != 0)
      continue;
    const std::string base = dir_.file("base" + std::to_string(row++));
    const std::string entry = base + "/" + pid_;
    mkdir(base.c_str(), 0755);
    plant(base, entry);
    ScopedEnv temp("TEMP", base.c_str());
    const std::string expected = handedOut ? base + "\\" + pid_ + "\\" : "";
    EXPECT_EQ(su_CreateTempDirectory(), expected.c_str());
    // Nothing is made through a link.
    EXPECT_EQ(entries(elsewhere), std::set<std::string>{});
    EXPECT_FALSE(exists(base + "/made"));
  }
  umask(oldMask);
}

} // namespace

#endif
