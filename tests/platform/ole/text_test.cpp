// Class identifier text, the ProgID look-up, the CRT's 16-bit text calls and the user's language
// from the POSIX locale variables.
#include "support/temp_env.h"

#include <velmora/win32.h>

#include <gtest/gtest.h>

#include <climits>
#include <string>

using namespace vlx::test;

namespace {

const GUID kSample = {0x0123ABCD, 0x4567, 0x89EF, {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF}};

TEST(OleGuid, TextIsBracedUpperCaseAndOnlyTheStrictFormReadsBack) {
  LPOLESTR text = nullptr;
  ASSERT_EQ(StringFromCLSID(kSample, &text), S_OK);
  EXPECT_EQ(std::u16string(text), u"{0123ABCD-4567-89EF-0123-456789ABCDEF}");
  CoTaskMemFree(text);
  OLECHAR buffer[39];
  EXPECT_EQ(StringFromGUID2(kSample, buffer, 38), 0);

  const std::pair<const char16_t *, HRESULT> cases[] = {
      {u"{0123abcd-4567-89ef-0123-456789abcdef}", S_OK},
      {u"0123ABCD-4567-89EF-0123-456789ABCDEF", CO_E_CLASSSTRING},
      {u"{0123ABCD-4567-89EF-0123-456789ABCDEF}x", CO_E_CLASSSTRING},
      {u"{0123ABCD-4567-89EF-0123-456789ABCDEG}", CO_E_CLASSSTRING},
      {u"{0123ABCD-4567-89EF0-123-456789ABCDEF}", CO_E_CLASSSTRING},
      {u"{0123ABCD-4567-89EF-0123-456789ABCDE", CO_E_CLASSSTRING},
  };
  for (const auto &[input, result] : cases) {
    SCOPED_TRACE(std::u16string(input).size());
    GUID g{};
    EXPECT_EQ(CLSIDFromString(input, &g), result);
    EXPECT_EQ(g == kSample, result == S_OK);
  }
}

class OleProgId : public TempEnvTest {};

TEST_F(OleProgId, ResolvesThroughTheClassesRootDefaultValue) {
  // The user's classes are part of HKEY_CLASSES_ROOT; the name is found in any case.
  ASSERT_EQ(RegSetValueA(HKEY_CURRENT_USER, "Software\\Classes\\Vlx.Sample\\CLSID", REG_SZ,
                         "{0123abcd-4567-89ef-0123-456789abcdef}", 0),
            ERROR_SUCCESS);
  ASSERT_EQ(RegSetValueA(HKEY_CURRENT_USER, "Software\\Classes\\Vlx.Broken\\CLSID", REG_SZ,
                         "Vlx.Sample", 0),
            ERROR_SUCCESS);
  GUID g{};
  EXPECT_EQ(CLSIDFromProgID(u"vlx.SAMPLE", &g), S_OK);
  EXPECT_TRUE(g == kSample);
  EXPECT_EQ(CLSIDFromProgID(u"Vlx.Missing", &g), CO_E_CLASSSTRING);
  EXPECT_EQ(CLSIDFromProgID(u"Vlx.Broken", &g), CO_E_CLASSSTRING);
}

TEST(CrtText, ConversionsNeverSplitACharacter) {
  // "aü€😀": 1, 2, 3 and 4 UTF-8 bytes; 1, 1, 1 and 2 UTF-16 units.
  const char16_t wide[] = u"a\u00FC\u20AC\U0001F600";
  const std::string utf8 = "a\xC3\xBC\xE2\x82\xAC\xF0\x9F\x98\x80";
  EXPECT_EQ(vlx::wcstombs(nullptr, wide, 0), utf8.size());
  const std::pair<size_t, size_t> narrowCounts[] = {{256, 10}, {10, 10}, {9, 6}, {2, 1}};
  for (const auto &[count, written] : narrowCounts) {
    SCOPED_TRACE(count);
    char buffer[16];
    std::memset(buffer, '#', sizeof buffer);
    ASSERT_EQ(vlx::wcstombs(buffer, wide, count), written);
    EXPECT_EQ(std::string(buffer, written), utf8.substr(0, written));
    // The zero only where it fits.
    EXPECT_EQ(buffer[written], written < count ? '\0' : '#');
  }
  const char16_t lone[] = {u'a', 0xD800, 0};
  char narrow[8];
  EXPECT_EQ(vlx::wcstombs(narrow, lone, sizeof narrow), static_cast<size_t>(-1));

  char16_t units[8];
  ASSERT_EQ(vlx::mbstowcs(units, utf8.c_str(), 8), 5u);
  EXPECT_EQ(std::u16string(units), wide);
  // Four units leave no room for the pair's second half: the pair stays out whole.
  EXPECT_EQ(vlx::mbstowcs(units, utf8.c_str(), 4), 3u);
  EXPECT_EQ(vlx::mbstowcs(units, "\xC3(", 8), static_cast<size_t>(-1));
}

TEST(CrtText, MbsicmpFoldsAsciiLettersToLowerCaseOnly) {
  const auto cmp = [](const char *a, const char *b) {
    int r = _mbsicmp(reinterpret_cast<const unsigned char *>(a),
                     reinterpret_cast<const unsigned char *>(b));
    return (r > 0) - (r < 0);
  };
  EXPECT_EQ(cmp("{0123abcd}", "{0123ABCD}"), 0);
  EXPECT_EQ(cmp("[", "a"), -1); // '[' sorts after 'A' but before 'a'
  EXPECT_EQ(cmp("\xC3\xBC", "\xC3\x9C"), 1);
  EXPECT_EQ(_mbsicmp(nullptr, reinterpret_cast<const unsigned char *>("a")), INT_MAX);
}

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
