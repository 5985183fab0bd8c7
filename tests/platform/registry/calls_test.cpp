// The 16-bit registry calls and the later ones a ported host uses: RegGetValue and its filters,
// values and trees under a subkey, renaming, expansion of environment strings.
#include "platform/registry/support.h"
#include "support/registry_cases.h"

#include <cstring>

namespace {

using namespace regtest;
using RegistryCallsTest = vlx::test::TempEnvTest;
using vlx::test::ScopedEnv;

std::string getValueBytes(const char *name) {
  for (const vlx::test::StoredValue &v : vlx::test::getValueStore())
    if (std::strcmp(v.name, name) == 0)
      return v.bytes;
  return {};
}

std::u16string wideBytes(const BYTE *data, DWORD size) {
  std::u16string out(size / 2, u'\0');
  std::memcpy(&out[0], data, out.size() * 2);
  return out;
}

TEST_F(RegistryCallsTest, WideCallsKeepTextAcrossTheNarrowStore) {
  Key k, same;
  ASSERT_EQ(RegCreateKeyExW(HKCU, u"Software\\Caf\u00e9\\\U0001F600", 0, nullptr, 0, KEY_ALL_ACCESS,
                            nullptr, &k.h, nullptr),
            ERROR_SUCCESS);
  const std::u16string text = u"\u00e9t\u00e9 \U0001F600";
  const std::u16string unterminated = text + u"!"; // no zero after the count
  ASSERT_EQ(RegSetValueExW(k, u"N\u00e4me", 0, REG_SZ,
                           reinterpret_cast<const BYTE *>(unterminated.c_str()),
                           static_cast<DWORD>(text.size() * 2)),
            ERROR_SUCCESS);
  // The narrow calls see UTF-8 under the same names.
  ASSERT_EQ(openKey(HKCU, "Software\\Caf\xc3\xa9\\\xf0\x9f\x98\x80", same), ERROR_SUCCESS);
  char narrow[32] = {};
  DWORD narrowSize = sizeof narrow;
  ASSERT_EQ(RegQueryValueExA(same, "N\xc3\xa4me", nullptr, nullptr,
                             reinterpret_cast<BYTE *>(narrow), &narrowSize),
            ERROR_SUCCESS);
  EXPECT_STREQ(narrow, "\xc3\xa9t\xc3\xa9 \xf0\x9f\x98\x80");

  for (auto [room, result] :
       {std::pair{64u, ERROR_SUCCESS}, {12u, ERROR_SUCCESS}, {11u, ERROR_MORE_DATA}}) {
    SCOPED_TRACE(room);
    BYTE buf[64];
    std::memset(buf, 0xff, sizeof buf);
    DWORD size = room, type = 0;
    EXPECT_EQ(RegQueryValueExW(k, u"n\u00e4ME", nullptr, &type, buf, &size), result);
    EXPECT_EQ(size, 12u); // stored as given: 6 units, no terminator
    EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
    if (result == ERROR_SUCCESS) {
      EXPECT_EQ(wideBytes(buf, size), text);
      // The zero is added where it fits.
      EXPECT_EQ(wideBytes(buf + size, 2), std::u16string(1, room > size ? u'\0' : u'\xffff'));
    }
  }

  WCHAR name[8];
  DWORD nameLen = 8, type = 0, size = 0;
  ASSERT_EQ(RegEnumValueW(k, 0, name, &nameLen, nullptr, &type, nullptr, &size), ERROR_SUCCESS);
  EXPECT_EQ(std::u16string(name, nameLen), u"N\u00e4me");
  EXPECT_EQ(size, 12u);
  nameLen = 4; // "Näme" needs 5 units
  EXPECT_EQ(RegEnumValueW(k, 0, name, &nameLen, nullptr, &type, nullptr, &size), ERROR_MORE_DATA);
  WCHAR keyName[4];
  DWORD keyLen = 3; // the emoji is two units and the terminator one more
  Key parent;
  ASSERT_EQ(RegOpenKeyExW(HKCU, u"software\\CAF\u00e9", 0, KEY_READ, &parent.h), ERROR_SUCCESS);
  ASSERT_EQ(RegEnumKeyExW(parent, 0, keyName, &keyLen, nullptr, nullptr, nullptr, nullptr),
            ERROR_SUCCESS);
  EXPECT_EQ(std::u16string(keyName, keyLen), u"\U0001F600");
  DWORD values = 0, maxData = 0;
  ASSERT_EQ(RegQueryInfoKeyW(k, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &values,
                             nullptr, &maxData, nullptr, nullptr),
            ERROR_SUCCESS);
  EXPECT_EQ(values, 1u);
  EXPECT_EQ(maxData, 12u);
}

TEST_F(RegistryCallsTest, WideOldCallsAndDeletion) {
  ASSERT_EQ(RegSetValueW(HKCU, u"Software\\Old", REG_SZ, u"d\u00e9faut", 0), ERROR_SUCCESS);
  WCHAR buf[16];
  LONG size = sizeof buf;
  ASSERT_EQ(RegQueryValueW(HKCU, u"Software\\Old", buf, &size), ERROR_SUCCESS);
  EXPECT_EQ(size, 14);
  EXPECT_EQ(std::u16string(buf), u"d\u00e9faut");
  size = 4;
  EXPECT_EQ(RegQueryValueW(HKCU, u"Software\\Old", buf, &size), ERROR_MORE_DATA);
  EXPECT_EQ(size, 14);
  Key k;
  ASSERT_EQ(RegOpenKeyW(HKCU, u"Software\\Old", &k.h), ERROR_SUCCESS);
  ASSERT_EQ(setDword(k, "v", 1), ERROR_SUCCESS);
  EXPECT_EQ(RegDeleteValueW(k, u"V"), ERROR_SUCCESS);
  EXPECT_EQ(RegDeleteValueW(k, u"v"), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegDeleteKeyW(HKCU, u"Software\\old"), ERROR_SUCCESS);
}

TEST_F(RegistryCallsTest, GetValueFiltersTypes) {
  Key k;
  ASSERT_EQ(createKey(HKCU, "Software\\Get", k), ERROR_SUCCESS);
  for (const vlx::test::StoredValue &v : vlx::test::getValueStore())
    ASSERT_EQ(setRaw(k, v.name, v.type, v.bytes), ERROR_SUCCESS);
  for (const vlx::test::GetValueCase &c : vlx::test::getValueCases()) {
    SCOPED_TRACE(std::string(c.name) + " with " + std::to_string(c.flags));
    char buf[16];
    std::memset(buf, '?', sizeof buf);
    DWORD type = 99, size = sizeof buf;
    EXPECT_EQ(RegGetValueA(k, nullptr, c.name, c.flags, &type, buf, &size), c.result);
    EXPECT_EQ(type, c.type);
    EXPECT_EQ(size, c.size);
    if (c.copied)
      EXPECT_EQ(std::string(buf, c.size), getValueBytes(c.name));
    else
      EXPECT_EQ(std::string(buf, sizeof buf), std::string(sizeof buf, '?'));
  }
  DWORD dword = 1;
  DWORD dwordSize = sizeof dword;
  EXPECT_EQ(RegGetValueA(k, nullptr, "dword", RRF_RT_REG_SZ | RRF_ZEROONFAILURE, nullptr, &dword,
                         &dwordSize),
            ERROR_UNSUPPORTED_TYPE);
  EXPECT_EQ(dword, 0u); // the data read, then zeroed
  EXPECT_EQ(dwordSize, 4u);
  // Through a subkey, the size alone, a short buffer zeroed on request.
  DWORD size = 0;
  EXPECT_EQ(RegGetValueA(HKCU, "Software\\Get", "text", RRF_RT_REG_SZ, nullptr, nullptr, &size),
            ERROR_SUCCESS);
  EXPECT_EQ(size, 6u);
  char small[4] = {'x', 'x', 'x', 'x'};
  size = sizeof small;
  EXPECT_EQ(
      RegGetValueA(k, nullptr, "text", RRF_RT_REG_SZ | RRF_ZEROONFAILURE, nullptr, small, &size),
      ERROR_MORE_DATA);
  EXPECT_EQ(size, 6u);
  EXPECT_EQ(std::string(small, 4), std::string(4, '\0'));
  WCHAR wide[8];
  size = sizeof wide;
  EXPECT_EQ(RegGetValueW(k, nullptr, u"text", RRF_RT_REG_SZ, nullptr, wide, &size), ERROR_SUCCESS);
  EXPECT_EQ(size, 12u);
  EXPECT_EQ(std::u16string(wide), u"hello");
}

TEST_F(RegistryCallsTest, GetValueExpandsUnlessAskedNotTo) {
  ScopedEnv place("VLX_TEST_PLACE", "/opt/x");
  Key k;
  ASSERT_EQ(createKey(HKCU, "Software\\Expand", k), ERROR_SUCCESS);
  ASSERT_EQ(setRaw(k, "p", REG_EXPAND_SZ, "%VLX_TEST_PLACE%/bin"), ERROR_SUCCESS);
  char buf[64];
  DWORD type = 0, size = sizeof buf;
  ASSERT_EQ(RegGetValueA(k, nullptr, "p", RRF_RT_REG_SZ, &type, buf, &size), ERROR_SUCCESS);
  EXPECT_STREQ(buf, "/opt/x/bin");
  EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
  EXPECT_EQ(size, 21u); // the stored text's size, longer than the expansion
  size = sizeof buf;
  ASSERT_EQ(RegGetValueA(k, nullptr, "p", RRF_RT_REG_EXPAND_SZ | RRF_NOEXPAND, &type, buf, &size),
            ERROR_SUCCESS);
  EXPECT_STREQ(buf, "%VLX_TEST_PLACE%/bin");
  EXPECT_EQ(type, static_cast<DWORD>(REG_EXPAND_SZ));
}

TEST_F(RegistryCallsTest, GetValueSizesOfExpandableStrings) {
  Key k;
  ASSERT_EQ(createKey(HKCU, "Software\\ExpandSizes", k), ERROR_SUCCESS);
  ASSERT_EQ(setRaw(k, "p", REG_EXPAND_SZ, "%VLX_CASE_DIR%\\sub"), ERROR_SUCCESS);
  for (const vlx::test::ExpandSizeCase &c : vlx::test::expandSizeCases()) {
    SCOPED_TRACE(std::string(c.value) + " with " + std::to_string(c.flags) +
                 (c.buffer ? "" : ", no buffer"));
    ScopedEnv dir("VLX_CASE_DIR", c.value);
    char buf[64];
    DWORD size = sizeof buf;
    EXPECT_EQ(RegGetValueA(k, nullptr, "p", c.flags, nullptr, c.buffer ? buf : nullptr, &size),
              ERROR_SUCCESS);
    EXPECT_EQ(size, c.size);
    // The W call counts the same characters, two bytes each.
    WCHAR wbuf[64];
    size = sizeof wbuf;
    EXPECT_EQ(RegGetValueW(k, nullptr, u"p", c.flags, nullptr, c.buffer ? wbuf : nullptr, &size),
              ERROR_SUCCESS);
    EXPECT_EQ(size, c.size * 2);
  }
}

TEST_F(RegistryCallsTest, ExpandEnvironmentStrings) {
  ScopedEnv a("VLX_TEST_A", "alpha");
  ScopedEnv unset("VLX_TEST_UNSET", nullptr);
  const std::pair<const char *, const char *> cases[] = {
      {"%VLX_TEST_A%", "alpha"},
      {"x%vlx_test_a%y", "xalphay"}, // names ignore case, as the CRT's look-up does
      {"%VLX_TEST_UNSET%", "%VLX_TEST_UNSET%"},
      {"100%", "100%"},
      {"%%", "%%"},
      {"", ""},
  };
  for (auto [in, out] : cases) {
    SCOPED_TRACE(in);
    char buf[64] = {};
    EXPECT_EQ(ExpandEnvironmentStringsA(in, buf, sizeof buf), std::strlen(out) + 1);
    EXPECT_STREQ(buf, out);
  }
  char tiny[3] = {};
  EXPECT_EQ(ExpandEnvironmentStringsA("%VLX_TEST_A%", tiny, sizeof tiny), 6u);
  WCHAR wide[16] = {};
  EXPECT_EQ(ExpandEnvironmentStringsW(u"\u00e9%VLX_TEST_A%", wide, 16), 7u);
  EXPECT_EQ(std::u16string(wide), u"\u00e9alpha");
}

TEST_F(RegistryCallsTest, ValuesUnderASubkey) {
  DWORD v = 5;
  ASSERT_EQ(RegSetKeyValueA(HKCU, "Software\\Made\\Here", "v", REG_DWORD, &v, sizeof v),
            ERROR_SUCCESS); // the subkey is created
  EXPECT_EQ(getIn(HKCU, "Software\\Made\\Here", "v"), 5u);
  const std::u16string text = u"w";
  ASSERT_EQ(RegSetKeyValueW(HKCU, u"Software\\Made", u"s", REG_SZ, text.c_str(), 2), ERROR_SUCCESS);
  char buf[8];
  DWORD size = sizeof buf;
  ASSERT_EQ(RegGetValueA(HKCU, "Software\\Made", "s", RRF_RT_REG_SZ, nullptr, buf, &size),
            ERROR_SUCCESS);
  EXPECT_STREQ(buf, "w");
  EXPECT_EQ(RegDeleteKeyValueA(HKCU, "Software\\Made\\Here", "v"), ERROR_SUCCESS);
  EXPECT_EQ(RegDeleteKeyValueW(HKCU, u"Software\\Made", u"s"), ERROR_SUCCESS);
  EXPECT_EQ(RegDeleteKeyValueA(HKCU, "Software\\Made", "s"), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegDeleteKeyValueA(HKCU, "Software\\Absent", "s"), ERROR_FILE_NOT_FOUND);
}

TEST_F(RegistryCallsTest, TreesAreCopiedAndDeleted) {
  for (const char *path : {"Software\\T\\A\\Deep", "Software\\T\\B", "Software\\T"})
    ASSERT_EQ(setIn(HKCU, path, "v", 1), ERROR_SUCCESS);
  Key target;
  ASSERT_EQ(createKey(HKCU, "Software\\Copy", target), ERROR_SUCCESS);
  ASSERT_EQ(RegCopyTreeA(HKCU, "Software\\T", target), ERROR_SUCCESS);
  EXPECT_EQ(getIn(HKCU, "Software\\Copy\\A\\Deep", "v"), 1u);
  EXPECT_EQ(names(target), (Names{"A", "B"}));
  EXPECT_EQ(names(target, true), Names{"v"});

  // Without a subkey the key stays and loses everything in it.
  ASSERT_EQ(RegDeleteTreeA(target, nullptr), ERROR_SUCCESS);
  EXPECT_EQ(names(target), Names{});
  EXPECT_EQ(names(target, true), Names{});
  ASSERT_EQ(RegDeleteTreeW(HKCU, u"Software\\T"), ERROR_SUCCESS);
  Key gone;
  EXPECT_EQ(openKey(HKCU, "Software\\T", gone), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegDeleteTreeA(HKCU, "Software\\T"), ERROR_FILE_NOT_FOUND);
  // RegDeleteKeyEx ignores the view it is asked for.
  ASSERT_EQ(setIn(HKCU, "Software\\View", "v", 1), ERROR_SUCCESS);
  EXPECT_EQ(RegDeleteKeyExA(HKCU, "Software\\View", KEY_WOW64_32KEY, 0), ERROR_SUCCESS);
}

// Copying reads each value into buffers that grow: names and data on either side of their size.
TEST_F(RegistryCallsTest, LongNamesAndDataAreCopied) {
  Key from, to;
  ASSERT_EQ(createKey(HKCU, "Software\\Long", from), ERROR_SUCCESS);
  const std::pair<size_t, size_t> sizes[] = {{255, 256}, {256, 0}, {257, 5000}, {16383, 255}};
  for (auto [name, data] : sizes)
    ASSERT_EQ(RegSetValueExA(from, std::string(name, 'n').c_str(), 0, REG_BINARY,
                             reinterpret_cast<const BYTE *>(std::string(data, 'd').data()),
                             static_cast<DWORD>(data)),
              ERROR_SUCCESS);
  ASSERT_EQ(createKey(HKCU, "Software\\LongCopy", to), ERROR_SUCCESS);
  ASSERT_EQ(RegCopyTreeA(from, nullptr, to), ERROR_SUCCESS);
  for (auto [name, data] : sizes) {
    std::string got(data + 1, '\0');
    DWORD size = static_cast<DWORD>(got.size());
    ASSERT_EQ(RegQueryValueExA(to, std::string(name, 'n').c_str(), nullptr, nullptr,
                               reinterpret_cast<BYTE *>(&got[0]), &size),
              ERROR_SUCCESS)
        << name;
    EXPECT_EQ(got.substr(0, size), std::string(data, 'd')) << name;
  }
}

TEST_F(RegistryCallsTest, RenameKey) {
  ASSERT_EQ(setIn(HKCU, "Software\\Ren\\Old\\Child", "v", 3), ERROR_SUCCESS);
  ASSERT_EQ(setIn(HKCU, "Software\\Ren\\Taken", "v", 4), ERROR_SUCCESS);
  Key parent;
  ASSERT_EQ(openKey(HKCU, "Software\\Ren", parent, KEY_ALL_ACCESS), ERROR_SUCCESS);
  const std::tuple<const char16_t *, const char16_t *, LONG> cases[] = {
      {u"Old", u"taken", ERROR_ACCESS_DENIED}, {u"Old", u"a\\b", ERROR_INVALID_PARAMETER},
      {u"Old", u"", ERROR_INVALID_PARAMETER},  {u"Missing", u"X", ERROR_FILE_NOT_FOUND},
      {u"Old", u"New", ERROR_SUCCESS},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE("case " + std::to_string(&c - cases));
    EXPECT_EQ(RegRenameKey(parent, std::get<0>(c), std::get<1>(c)), std::get<2>(c));
  }
  EXPECT_EQ(names(parent), (Names{"New", "Taken"}));
  EXPECT_EQ(getIn(HKCU, "Software\\Ren\\New\\Child", "v"), 3u);
  EXPECT_EQ(RegRenameKey(HKCU, nullptr, u"Elsewhere"), ERROR_ACCESS_DENIED);

  // The arguments' order of checking, and the rights of the handle renamed through.
  Key readOnly, writable;
  ASSERT_EQ(openKey(HKCU, "Software\\Ren\\New", readOnly, KEY_READ), ERROR_SUCCESS);
  ASSERT_EQ(openKey(HKCU, "Software\\Ren\\New", writable, KEY_WRITE), ERROR_SUCCESS);
  const std::tuple<HKEY, const char16_t *, const char16_t *, LONG> order[] = {
      {nullptr, nullptr, nullptr, ERROR_INVALID_PARAMETER},
      {nullptr, nullptr, u"X", ERROR_INVALID_HANDLE},
      {nullptr, u"Old", nullptr, ERROR_INVALID_HANDLE},
      {parent, u"Missing", nullptr, ERROR_FILE_NOT_FOUND},
      {writable, nullptr, nullptr, ERROR_INVALID_PARAMETER},
      {readOnly, nullptr, u"Newer", ERROR_ACCESS_DENIED},
      {writable, nullptr, u"Newer", ERROR_SUCCESS},
  };
  for (const auto &c : order) {
    SCOPED_TRACE("order case " + std::to_string(&c - order));
    EXPECT_EQ(RegRenameKey(std::get<0>(c), std::get<1>(c), std::get<2>(c)), std::get<3>(c));
  }
  EXPECT_EQ(names(parent), (Names{"Newer", "Taken"}));
}

TEST_F(RegistryCallsTest, OpenCurrentUserAndIgnoredViews) {
  ASSERT_EQ(setIn(HKCU, "Software\\Mine", "v", 9), ERROR_SUCCESS);
  Key user, viewed;
  ASSERT_EQ(RegOpenCurrentUser(KEY_READ, &user.h), ERROR_SUCCESS);
  EXPECT_EQ(getIn(user, "Software\\Mine", "v"), 9u);
  for (REGSAM view : {REGSAM{KEY_WOW64_32KEY}, REGSAM{KEY_WOW64_64KEY}}) {
    SCOPED_TRACE(view);
    Key k;
    ASSERT_EQ(openKey(HKCU, "Software\\Mine", k, KEY_READ | view), ERROR_SUCCESS);
    EXPECT_EQ(getDword(k, "v"), 9u);
  }
}

} // namespace
