// The scratch directory: which variable gives the base, the path's form, what gets created.
#include "support/files.h"
#include "support/temp_env.h"

#include <velmora/files.h>

#include <gtest/gtest.h>

#include "framework/print.h"

#include <cctype>
#include <memory>
#include <string>
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
    for (char **entry = environ; *entry != nullptr; ++entry) {
      std::string name(*entry, std::string(*entry).find('='));
      std::string lower;
      for (char ch : name)
        lower += static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
      if (lower == "temp" || lower == "tmp")
        names.push_back(name);
    }
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

TEST_F(TempDirTest, TheDirectoryIsCreatedOncePrivateAndNoFileInIt) {
  ScopedEnv temp("temp", "C:\\TEMP");
  const CString expected = ("C:\\TEMP\\" + pid_ + "\\").c_str();
  EXPECT_EQ(su_CreateTempDirectory(), expected);
  const std::string created = dir_.file("TEMP/" + pid_);
  struct stat st;
  ASSERT_EQ(stat(created.c_str(), &st), 0);
  EXPECT_TRUE(S_ISDIR(st.st_mode));
  EXPECT_EQ(st.st_mode & 0777, 0700u);
  writeFile(created + "/keep", "x");
  EXPECT_EQ(su_CreateTempDirectory(), expected);
  EXPECT_EQ(su_CreateTempFilePath("gear.tmp"), expected + "gear.tmp");
  EXPECT_EQ(entries(created), std::set<std::string>{"keep"});
}

TEST_F(TempDirTest, BaseVariants) {
  const std::string file = dir_.file("d/scratch/" + pid_); // an ordinary file of the name
  const struct {
    const char *name;
    const char *temp; // null: unset
    const char *tmp;
    std::string expected;
    std::string created; // below the test directory; empty: nothing
  } cases[] = {
      {"tmp when temp is unset", nullptr, "D:\\scratch", "D:\\scratch\\" + pid_ + "\\",
       "d/scratch/" + pid_},
      {"temp wins over tmp", "C:\\TEMP", "D:\\scratch", "C:\\TEMP\\" + pid_ + "\\", "TEMP/" + pid_},
      // The separator is always put in, even after one.
      {"final backslash", "C:\\TEMP\\", nullptr, "C:\\TEMP\\\\" + pid_ + "\\", "TEMP/" + pid_},
      {"empty temp counts as unset", "", "D:\\scratch", "D:\\scratch\\" + pid_ + "\\",
       "d/scratch/" + pid_},
      {"neither", nullptr, nullptr, "", ""},
      // Creation fails quietly; the path is given all the same.
      {"missing base", "C:\\nowhere", nullptr, "C:\\nowhere\\" + pid_ + "\\", ""},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    ScopedEnv temp("temp", c.temp);
    ScopedEnv tmp("tmp", c.tmp);
    EXPECT_EQ(su_CreateTempDirectory(), c.expected.c_str());
    EXPECT_EQ(su_CreateTempFilePath("gear.tmp"),
              c.expected.empty() ? "" : (c.expected + "gear.tmp").c_str());
    if (!c.created.empty()) {
      EXPECT_TRUE(isDirectory(dir_.file(c.created)));
      rmdir(dir_.file(c.created).c_str());
    }
  }
  EXPECT_EQ(entries(dir_.path()), (std::set<std::string>{"TEMP", "d"}));

  // Any entry of the name stops the creation.
  writeFile(file, "file");
  ScopedEnv tmp("tmp", "D:\\scratch");
  EXPECT_EQ(su_CreateTempDirectory(), ("D:\\scratch\\" + pid_ + "\\").c_str());
  EXPECT_EQ(readFile(file), "file");
}

} // namespace
