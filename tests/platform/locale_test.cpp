// The user's default language from the POSIX locale variables.
#include "support/temp_env.h"

#include <velmora/win32.h>

#include <gtest/gtest.h>

#include <string>

using namespace vlx::test;

namespace {

struct LocaleCase {
  const char *lcAll, *lcMessages, *lang; // null: unset
  LANGID expected;
  const char *decidedBy;
};

TEST(UserLanguage, FirstSetLocaleVariableMapsThroughIcu) {
  const LocaleCase cases[] = {
      {nullptr, nullptr, nullptr, 0x0409, ""},
      {nullptr, nullptr, "de_DE.UTF-8", 0x0407, "LANG"},
      {nullptr, nullptr, "de_CH", 0x0807, "LANG"},
      {nullptr, nullptr, "zh_TW.Big5", 0x0404, "LANG"},
      {nullptr, nullptr, "zh_CN", 0x0804, "LANG"},
      {nullptr, nullptr, "zh_HK", 0x0C04, "LANG"},
      {nullptr, nullptr, "ja_JP.eucJP", 0x0411, "LANG"},
      {nullptr, nullptr, "pt_BR", 0x0416, "LANG"},
      {nullptr, nullptr, "fr_FR.ISO-8859-15@euro", 0x040C, "LANG"},
      {nullptr, nullptr, "C", 0x0409, "LANG"},
      {nullptr, nullptr, "C.UTF-8", 0x0409, "LANG"},
      {nullptr, nullptr, "POSIX", 0x0409, "LANG"},
      {nullptr, nullptr, "xx_YY", 0x0409, "LANG"},
      {"ja_JP", "fr_FR", "de_DE", 0x0411, "LC_ALL"},
      {"", "fr_FR", "de_DE", 0x040C, "LC_MESSAGES"},
      {nullptr, "", "it_IT", 0x0410, "LANG"},
      {"C", nullptr, "de_DE", 0x0409, "LC_ALL"},
  };
  for (const LocaleCase &c : cases) {
    SCOPED_TRACE(std::string(c.lcAll ? c.lcAll : "-") + " " + (c.lcMessages ? c.lcMessages : "-") +
                 " " + (c.lang ? c.lang : "-"));
    ScopedEnv all("LC_ALL", c.lcAll), messages("LC_MESSAGES", c.lcMessages), lang("LANG", c.lang);
    EXPECT_EQ(GetUserDefaultLangID(), c.expected);
    EXPECT_EQ(vlx::userLocale().variable, c.decidedBy);
  }
}

} // namespace
