// The language subdirectory and directory, each case in a fresh host process (the results are
// cached per process) whose executable sits where the case wants it.
#include "support/temp_env.h"

#include <velmora/registry.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

using namespace vlx::test;
namespace fs = std::filesystem;

namespace {

class LangDir : public TempEnvTest {
protected:
  LangDir() : lcAll_("LC_ALL", nullptr), lcMessages_("LC_MESSAGES", nullptr), lang_("LANG", "C") {}

  // Runs the host installed as `exeDir`/host with `args`; its output lines.
  std::string host(const std::string &exeDir, const std::vector<std::string> &args) {
    fs::create_directories(exeDir);
    const std::string exe = exeDir + "/host";
    fs::copy_file(VLX_LANG_HOST, exe, fs::copy_options::overwrite_existing);
    std::vector<std::string> argv{exe};
    argv.insert(argv.end(), args.begin(), args.end());
    RunResult r = runCommand(argv);
    EXPECT_EQ(r.status, 0) << r.output;
    return r.output;
  }
  std::string subdir(const char *locale) {
    ScopedEnv lang("LANG", locale);
    return host(dir_.file("bin"), {"subdir"});
  }

  ScopedEnv lcAll_, lcMessages_, lang_;
};

TEST_F(LangDir, LanguageAndPreferenceChooseTheSubdirectory) {
  enum Pref { None, One, Zero, Two, TextOne };
  struct Case {
    const char *locale;
    Pref pref;
    const char *expected;
  };
  const Case cases[] = {
      {"de_DE.UTF-8", None, "\\lang\\german"}, {"de_CH", None, "\\lang\\german"},
      {"zh_TW", None, "\\lang\\chinese"},      {"zh_CN", None, "\\lang\\english"},
      {"zh_HK", None, "\\lang\\english"},      {"ja_JP", None, "\\lang\\japanese"},
      {"fr_CA", None, "\\lang\\french"},       {"es_MX", None, "\\lang\\spanish"},
      {"it_IT", None, "\\lang\\italian"},      {"en_US", None, "\\lang\\english"},
      {"ko_KR", None, "\\lang\\english"},      {"C", None, "\\lang\\english"},
      {"ja_JP", One, "\\lang\\english"},       {"ja_JP", Zero, "\\lang\\japanese"},
      {"ja_JP", Two, "\\lang\\japanese"},      {"ja_JP", TextOne, "\\lang\\japanese"},
      {"de_DE", One, "\\lang\\english"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(std::string(c.locale) + " pref " + std::to_string(c.pref));
    regDelSoftwareValue("General", "Use English language");
    int value = c.pref == One ? 1 : c.pref == Two ? 2 : 0;
    if (c.pref == TextOne) {
      ASSERT_TRUE(
          regSetUserValue("General", "Use English language", stringType, "1", nullptr, nullptr));
    } else if (c.pref != None) {
      ASSERT_TRUE(regSetUserValue("General", "Use English language", intType, "", &value, nullptr));
    }
    EXPECT_EQ(subdir(c.locale), std::string("subdir [") + c.expected + "]\n");
  }
}

TEST_F(LangDir, SubdirectoryIsDecidedOncePerProcess) {
  ScopedEnv lang("LANG", "ja_JP");
  EXPECT_EQ(host(dir_.file("bin"), {"subdir", "english=1", "subdir"}),
            "subdir [\\lang\\japanese]\nsubdir [\\lang\\japanese]\n");
}

TEST_F(LangDir, EnglishFallbackIsSilentAndKept) {
  ScopedEnv lang("LANG", "de_DE");
  const std::string bin = dir_.file("opt/app/bin");
  fs::create_directories(bin + "/lang/english");
  // The German directory made after the first call is not looked at again.
  EXPECT_EQ(host(bin, {"dir", "mkdir=" + bin + "/lang/german", "dir"}),
            "dir [" + bin + "\\lang\\english]\ndir [" + bin + "\\lang\\english]\n");
}

TEST_F(LangDir, MissingDirectoriesGiveOneMessagePerCallUntilOneExists) {
  ScopedEnv lang("LANG", "de_DE");
  const std::string bin = dir_.file("opt/app/bin");
  const std::string message = "message 0 [The " + bin +
                              "\\lang\\german directory could not be found. \\nYou may need to "
                              "reinstall.]\ndir []\n";
  EXPECT_EQ(
      host(bin, {"dir", "dir", "mkdir=" + bin + "/lang", "mkdir=" + bin + "/lang/german", "dir"}),
      message + message + "dir [" + bin + "\\lang\\german]\n");
}

TEST_F(LangDir, EnglishUserIsToldOfTheEnglishDirectory) {
  const std::string bin = dir_.file("bin");
  EXPECT_EQ(host(bin, {"dir"}), "message 0 [The " + bin +
                                    "\\lang\\english directory could not be found. \\nYou may "
                                    "need to reinstall.]\ndir []\n");
}

TEST_F(LangDir, InstallationDirectoryEndsAtTheLastBackslashElseSlash) {
  // A backslash is a separator of the executable's path before any slash, as on Windows; the
  // directory below it then reaches the file system through the path mapping.
  ScopedEnv lang("LANG", "it_IT");
  const std::string top = dir_.file("top");
  // top/a\lang\italian is top/a/lang/italian on the file system.
  fs::create_directories(top + "/a/lang/italian");
  EXPECT_EQ(host(top + "/a\\b", {"dir"}), "dir [" + top + "/a\\lang\\italian]\n");
}

} // namespace
