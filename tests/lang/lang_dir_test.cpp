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

  // Output of the host installed as `exeDir`/host, run with `args`.
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
  static std::string missing(const std::string &path) {
    return "message 0 [The " + path +
           " directory could not be found. \\nYou may need to reinstall.]\ndir []\n";
  }

  ScopedEnv lcAll_, lcMessages_, lang_;
};

TEST_F(LangDir, LanguageAndPreferenceChooseTheSubdirectory) {
  // Preference "Use English language": "" unset, a number stored as int, "text" as the text "1".
  const std::tuple<const char *, const char *, const char *> cases[] = {
      {"de_DE.UTF-8", "", "german"}, {"de_CH", "", "german"},    {"zh_TW", "", "chinese"},
      {"zh_CN", "", "english"},      {"zh_HK", "", "english"},   {"ja_JP", "", "japanese"},
      {"fr_CA", "", "french"},       {"es_MX", "", "spanish"},   {"it_IT", "", "italian"},
      {"en_US", "", "english"},      {"ko_KR", "", "english"},   {"ja_JP", "1", "english"},
      {"ja_JP", "0", "japanese"},    {"ja_JP", "2", "japanese"}, {"ja_JP", "text", "japanese"},
  };
  for (const auto &[locale, pref, language] : cases) {
    SCOPED_TRACE(std::string(locale) + " " + pref);
    regDelSoftwareValue("General", "Use English language");
    int value = std::atoi(pref);
    if (*pref) {
      ASSERT_TRUE(regSetUserValue("General", "Use English language",
                                  value || *pref == '0' ? intType : stringType, "1", &value,
                                  nullptr));
    }
    ScopedEnv lang("LANG", locale);
    EXPECT_EQ(host(dir_.file("bin"), {"subdir"}),
              std::string("subdir [\\lang\\") + language + "]\n");
  }
  // Decided once per process: a later change of the preference is not seen.
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
  const std::string bin = dir_.file("opt/app/bin");
  {
    ScopedEnv lang("LANG", "de_DE");
    EXPECT_EQ(
        host(bin, {"dir", "dir", "mkdir=" + bin + "/lang", "mkdir=" + bin + "/lang/german", "dir"}),
        missing(bin + "\\lang\\german") + missing(bin + "\\lang\\german") + "dir [" + bin +
            "\\lang\\german]\n");
  }
  // An English user: both tries are the same path, which the message names.
  EXPECT_EQ(host(dir_.file("bin"), {"dir"}), missing(dir_.file("bin") + "\\lang\\english"));
}

TEST_F(LangDir, InstallationDirectoryEndsAtTheLastBackslashElseSlash) {
  // A backslash in the executable's path separates before any slash, as on Windows; the
  // directory then reaches the file system through the path mapping.
  ScopedEnv lang("LANG", "it_IT");
  const std::string top = dir_.file("top");
  fs::create_directories(top + "/a/lang/italian");
  EXPECT_EQ(host(top + "/a\\b", {"dir"}), "dir [" + top + "/a\\lang\\italian]\n");
}

} // namespace
