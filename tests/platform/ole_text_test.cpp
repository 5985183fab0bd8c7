// Class identifier text, the ProgID look-up, task memory and the CRT's 16-bit text calls.
#include "platform/registry_support.h"

#include <velmora/win32.h>

#include <gtest/gtest.h>

#include <climits>
#include <string>

using namespace vlx::test;
using namespace regtest;

namespace {

const GUID kSample = {0x0123ABCD, 0x4567, 0x89EF, {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF}};
const char16_t kSampleText[] = u"{0123ABCD-4567-89EF-0123-456789ABCDEF}";

std::string narrow(const char16_t *s) {
  std::string out;
  for (; *s; ++s)
    out += static_cast<char>(*s);
  return out;
}

TEST(OleGuid, KeepsTheWindowsFieldLayout) {
  // A 32-bit first field on LP64 and no padding: code that writes GUIDs as bytes relies on it.
  static_assert(sizeof(GUID) == 16);
  EXPECT_EQ(offsetof(GUID, Data2), 4u);
  EXPECT_EQ(offsetof(GUID, Data3), 6u);
  EXPECT_EQ(offsetof(GUID, Data4), 8u);
}

TEST(OleGuid, TextIsBracedUpperCaseAndReadsBack) {
  LPOLESTR text = nullptr;
  ASSERT_EQ(StringFromCLSID(kSample, &text), S_OK);
  EXPECT_EQ(std::u16string(text), kSampleText);
  GUID back{};
  EXPECT_EQ(CLSIDFromString(text, &back), S_OK);
  EXPECT_TRUE(back == kSample);
  CoTaskMemFree(text);

  // Lower-case digits read as the same class.
  GUID lower{};
  EXPECT_EQ(CLSIDFromString(u"{0123abcd-4567-89ef-0123-456789abcdef}", &lower), S_OK);
  EXPECT_TRUE(lower == kSample);

  OLECHAR buffer[39];
  EXPECT_EQ(StringFromGUID2(kSample, buffer, 38), 0);
  EXPECT_EQ(StringFromGUID2(kSample, buffer, 39), 39);
  EXPECT_EQ(std::u16string(buffer), kSampleText);
}

TEST(OleGuid, OnlyTheStrictBracedFormParses) {
  const char16_t *const refused[] = {
      u"",
      u"0123ABCD-4567-89EF-0123-456789ABCDEF",    // no braces
      u"{0123ABCD-4567-89EF-0123-456789ABCDEF",   // no closing brace
      u"{0123ABCD-4567-89EF-0123-456789ABCDEF}x", // trailing text
      u"{0123ABCD-4567-89EF-0123-456789ABCDEG}",  // not a digit
      u"{0123ABCD-4567-89EF0-123-456789ABCDEF}",  // dash moved
      u"{0123ABC-D4567-89EF-0123-456789ABCDEF}",
      u"{ 123ABCD-4567-89EF-0123-456789ABCDEF}",
      u"{0123ABCD-4567-89EF-0123-456789ABCDE}",
      u"My.Progid",
  };
  for (const char16_t *text : refused) {
    SCOPED_TRACE(narrow(text));
    GUID g = kSample;
    EXPECT_EQ(CLSIDFromString(text, &g), CO_E_CLASSSTRING);
  }
  GUID null = kSample;
  EXPECT_EQ(CLSIDFromString(nullptr, &null), S_OK);
  EXPECT_TRUE(null == GUID{});
}

class OleProgId : public TempEnvTest {};

TEST_F(OleProgId, ResolvesThroughTheClassesRootDefaultValue) {
  // The user's classes are part of HKEY_CLASSES_ROOT.
  ASSERT_EQ(RegSetValueA(HKCU, "Software\\Classes\\Vlx.Sample\\CLSID", REG_SZ,
                         "{0123abcd-4567-89ef-0123-456789abcdef}", 0),
            ERROR_SUCCESS);
  ASSERT_EQ(RegSetValueA(HKCU, "Software\\Classes\\Vlx.Broken\\CLSID", REG_SZ, "Vlx.Sample", 0),
            ERROR_SUCCESS);
  GUID g{};
  EXPECT_EQ(CLSIDFromProgID(u"vlx.SAMPLE", &g), S_OK);
  EXPECT_TRUE(g == kSample);

  const char16_t *const unresolved[] = {u"Vlx.Missing", u"Vlx.Broken", u""};
  for (const char16_t *progId : unresolved) {
    SCOPED_TRACE(narrow(progId));
    EXPECT_EQ(CLSIDFromProgID(progId, &g), CO_E_CLASSSTRING);
  }
  EXPECT_EQ(CLSIDFromProgID(nullptr, &g), E_INVALIDARG);
}

TEST(OleTaskMemory, ReallocToZeroFreesTheBlock) {
  void *p = CoTaskMemAlloc(0);
  ASSERT_NE(p, nullptr);
  p = CoTaskMemRealloc(p, 64);
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(CoTaskMemRealloc(p, 0), nullptr);
}

TEST(CrtText, WcstombsConvertsUtf16ToUtf8WithoutSplittingCharacters) {
  // "aü€😀": 1, 2, 3 and 4 UTF-8 bytes.
  const char16_t text[] = u"a\u00FC\u20AC\U0001F600";
  const std::string utf8 = "a\xC3\xBC\xE2\x82\xAC\xF0\x9F\x98\x80";
  EXPECT_EQ(vlx::wcstombs(nullptr, text, 0), utf8.size());

  struct Case {
    size_t count;
    size_t written;
    bool terminated;
  };
  const Case cases[] = {
      {256, 10, true}, {10, 10, false}, {9, 6, true}, {6, 6, false}, {2, 1, true}, {0, 0, false},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.count);
    char buffer[16];
    std::memset(buffer, '#', sizeof buffer);
    ASSERT_EQ(vlx::wcstombs(buffer, text, c.count), c.written);
    EXPECT_EQ(std::string(buffer, c.written), utf8.substr(0, c.written));
    EXPECT_EQ(buffer[c.written], c.terminated ? '\0' : '#');
  }

  const char16_t lone[] = {u'a', 0xD800, u'b', 0};
  char buffer[8];
  EXPECT_EQ(vlx::wcstombs(buffer, lone, sizeof buffer), static_cast<size_t>(-1));
}

TEST(CrtText, MbsicmpFoldsAsciiLettersOnly) {
  struct Case {
    const char *a, *b;
    int sign;
  };
  const Case cases[] = {
      {"{0123abcd}", "{0123ABCD}", 0},
      {"abc", "abd", -1},
      {"abc", "ab", 1},
      {"[", "a", -1}, // '[' sorts after 'A' but before 'a': the comparison is in lower case
      {"\xC3\xBC", "\xC3\x9C", 1}, // no folding beyond ASCII
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(std::string(c.a) + " / " + c.b);
    int r = _mbsicmp(reinterpret_cast<const unsigned char *>(c.a),
                     reinterpret_cast<const unsigned char *>(c.b));
    EXPECT_EQ((r > 0) - (r < 0), c.sign);
  }
  EXPECT_EQ(_mbsicmp(nullptr, reinterpret_cast<const unsigned char *>("a")), INT_MAX);
}

} // namespace
