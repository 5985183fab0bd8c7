// The scratch directory: which variable gives the base, the path's form, what gets created.
#include "support/files.h"
#include "support/temp_env.h"

#include <velmora/files.h>

#include <gtest/gtest.h>

#include "framework/print.h"

#include <cstring>
#include <memory>
#include <string>
#include <strings.h>
#include <tuple>
#include <unistd.h>
#include <vector>

extern char **environ;

using namespace vlx::test;

namespace {

// Every spelling of temp and tmp is removed for the test (the look-up ignores case); drives C:
// and D: are directories of the test.
class TempDirTest : public TempEnvTest {
protected:
  TempDirTest()
      : driveC_("VELMORA_DRIVE_C", dir_.path().c_str()),
        driveD_("VELMORA_DRIVE_D", dir_.file("d").c_str()) {
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
      {"neither", nullptr, nullptr, "", ""},
      // Creation fails quietly; the path is given all the same.
      {"missing base", "C:\\nowhere", nullptr, "C:\\nowhere\\" + pid_ + "\\", ""},
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

} // namespace
