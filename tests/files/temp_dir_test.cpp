// The scratch directory: which variable gives the base, the path's form, what gets created.
#include "files/files_helpers.h"
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

// Every spelling of temp and tmp is removed from the environment for the test (the look-up
// ignores case); drives C: and D: are directories of the test.
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
    mkdir(dir_.file("TEMP").c_str(), 0755);
    mkdir(dir_.file("d").c_str(), 0755);
    mkdir(dir_.file("d/scratch").c_str(), 0755);
  }

  std::string pidName() const { return "vlx" + std::to_string(getpid()); }

  ScopedEnv driveC_;
  ScopedEnv driveD_;
  std::vector<std::unique_ptr<ScopedEnv>> cleared_;
};

TEST_F(TempDirTest, TempGivesTheBaseAndTheDirectoryIsCreatedOnce) {
  ScopedEnv temp("temp", "C:\\TEMP");
  const CString expected = ("C:\\TEMP\\" + pidName() + "\\").c_str();
  EXPECT_EQ(su_CreateTempDirectory(), expected);
  const std::string created = dir_.file("TEMP/" + pidName());
  ASSERT_TRUE(isDirectory(created));
  struct stat st;
  ASSERT_EQ(stat(created.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u); // private to the user

  writeFile(created + "/keep", "x");
  EXPECT_EQ(su_CreateTempDirectory(), expected);
  EXPECT_EQ(entries(created), std::set<std::string>{"keep"});
  EXPECT_EQ(entries(dir_.file("TEMP")), std::set<std::string>{pidName()});
}

TEST_F(TempDirTest, BaseVariants) {
  const struct {
    const char *name;
    const char *temp; // null: unset
    const char *tmp;
    std::string expected;
    std::string created; // below the test directory; empty: nothing
  } cases[] = {
      {"tmp when temp is unset", nullptr, "D:\\scratch", "D:\\scratch\\" + pidName() + "\\",
       "d/scratch/" + pidName()},
      {"temp wins over tmp", "C:\\TEMP", "D:\\scratch", "C:\\TEMP\\" + pidName() + "\\",
       "TEMP/" + pidName()},
      // The separator is always put in, even after one.
      {"final backslash", "C:\\TEMP\\", nullptr, "C:\\TEMP\\\\" + pidName() + "\\",
       "TEMP/" + pidName()},
      {"empty temp counts as unset", "", "D:\\scratch", "D:\\scratch\\" + pidName() + "\\",
       "d/scratch/" + pidName()},
      {"POSIX base", dir_.path().c_str(), nullptr, dir_.path() + "\\" + pidName() + "\\",
       pidName()},
      {"neither", nullptr, nullptr, "", ""},
      // Creation fails quietly; the path is given all the same.
      {"missing base", "C:\\nowhere", nullptr, "C:\\nowhere\\" + pidName() + "\\", ""},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    ScopedEnv temp("temp", c.temp);
    ScopedEnv tmp("tmp", c.tmp);
    EXPECT_EQ(su_CreateTempDirectory(), c.expected.c_str());
    if (!c.created.empty()) {
      EXPECT_TRUE(isDirectory(dir_.file(c.created)));
    }
    EXPECT_EQ(su_CreateTempFilePath("gear.tmp"),
              c.expected.empty() ? "" : (c.expected + "gear.tmp").c_str());
    std::string cleanup = dir_.file(c.created);
    if (!c.created.empty())
      rmdir(cleanup.c_str());
  }
  // Nothing else appeared in the test directory.
  EXPECT_EQ(entries(dir_.path()), (std::set<std::string>{"TEMP", "d"}));
  EXPECT_TRUE(entries(dir_.file("TEMP")).empty());
  EXPECT_TRUE(entries(dir_.file("d/scratch")).empty());
}

TEST_F(TempDirTest, VariableNamesIgnoreCase) {
  ScopedEnv temp("TeMp", "C:\\TEMP");
  EXPECT_EQ(su_CreateTempDirectory(), ("C:\\TEMP\\" + pidName() + "\\").c_str());
}

TEST_F(TempDirTest, AnOrdinaryFileOfTheNameStopsCreation) {
  ScopedEnv temp("temp", "C:\\TEMP");
  writeFile(dir_.file("TEMP/" + pidName()), "file");
  EXPECT_EQ(su_CreateTempDirectory(), ("C:\\TEMP\\" + pidName() + "\\").c_str());
  EXPECT_EQ(readFile(dir_.file("TEMP/" + pidName())), "file");
}

TEST_F(TempDirTest, FilePathCreatesNoFile) {
  ScopedEnv temp("temp", "C:\\TEMP");
  EXPECT_EQ(su_CreateTempFilePath("gear.tmp"), ("C:\\TEMP\\" + pidName() + "\\gear.tmp").c_str());
  EXPECT_TRUE(entries(dir_.file("TEMP/" + pidName())).empty());
}

} // namespace
