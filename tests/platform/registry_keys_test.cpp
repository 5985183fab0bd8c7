// Registry keys and values: paths, names, enumeration order, sizes, deletion, access, limits.
#include "support/temp_env.h"

#include <velmora/win32.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

namespace {

using RegistryTest = vlx::test::TempEnvTest;

// Closes a key at the end of a scope.
struct Key {
  HKEY h = nullptr;
  ~Key() {
    if (h)
      RegCloseKey(h);
  }
  HKEY *out() { return &h; }
};

LONG createKey(HKEY base, const char *path, HKEY *out, DWORD *disposition = nullptr,
               REGSAM sam = KEY_ALL_ACCESS) {
  return RegCreateKeyExA(base, path, 0, nullptr, 0, sam, nullptr, out, disposition);
}

LONG setString(HKEY key, const char *name, const std::string &value) {
  return RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE *>(value.c_str()),
                        static_cast<DWORD>(value.size() + 1));
}

std::string getString(HKEY key, const char *name, LONG *error = nullptr) {
  char buf[512] = {};
  DWORD size = sizeof buf;
  DWORD type = 0;
  LONG rc = RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE *>(buf), &size);
  if (error)
    *error = rc;
  return rc == ERROR_SUCCESS ? std::string(buf) : std::string("<error>");
}

std::vector<std::string> subkeyNames(HKEY key) {
  std::vector<std::string> names;
  char name[256];
  for (DWORD i = 0;; ++i) {
    DWORD len = sizeof name;
    LONG rc = RegEnumKeyExA(key, i, name, &len, nullptr, nullptr, nullptr, nullptr);
    if (rc != ERROR_SUCCESS) {
      EXPECT_EQ(rc, ERROR_NO_MORE_ITEMS);
      break;
    }
    EXPECT_EQ(len, std::strlen(name));
    names.emplace_back(name, len);
  }
  return names;
}

std::vector<std::string> valueNames(HKEY key) {
  std::vector<std::string> names;
  char name[256];
  for (DWORD i = 0;; ++i) {
    DWORD len = sizeof name;
    LONG rc = RegEnumValueA(key, i, name, &len, nullptr, nullptr, nullptr, nullptr);
    if (rc != ERROR_SUCCESS) {
      EXPECT_EQ(rc, ERROR_NO_MORE_ITEMS);
      break;
    }
    names.emplace_back(name, len);
  }
  return names;
}

TEST_F(RegistryTest, CreateOpenAndReadBack) {
  Key k;
  DWORD disposition = 0;
  ASSERT_EQ(createKey(HKEY_CURRENT_USER, "Software\\Velmora\\Draw", k.out(), &disposition),
            ERROR_SUCCESS);
  EXPECT_EQ(disposition, static_cast<DWORD>(REG_CREATED_NEW_KEY));
  ASSERT_EQ(setString(k.h, "Units", "mm"), ERROR_SUCCESS);

  Key again;
  ASSERT_EQ(createKey(HKEY_CURRENT_USER, "software\\VELMORA\\draw", again.out(), &disposition),
            ERROR_SUCCESS);
  EXPECT_EQ(disposition, static_cast<DWORD>(REG_OPENED_EXISTING_KEY));

  // The library's own read sequence: one component at a time from the root.
  Key sw, vel, draw;
  ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software", 0, KEY_READ, sw.out()), ERROR_SUCCESS);
  ASSERT_EQ(RegOpenKeyExA(sw.h, "Velmora", 0, KEY_READ, vel.out()), ERROR_SUCCESS);
  ASSERT_EQ(RegOpenKeyExA(vel.h, "Draw", 0, KEY_READ, draw.out()), ERROR_SUCCESS);
  EXPECT_EQ(getString(draw.h, "units"), "mm");

  Key missing;
  EXPECT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Nope", 0, KEY_READ, missing.out()),
            ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(missing.h, nullptr);
}

TEST_F(RegistryTest, PathForms) {
  Key base;
  ASSERT_EQ(createKey(HKEY_CURRENT_USER, "Software\\P", base.out()), ERROR_SUCCESS);
  struct Case {
    const char *path;
    LONG open;
  } cases[] = {
      {"\\Software", ERROR_BAD_PATHNAME},       {"Software\\\\P", ERROR_BAD_PATHNAME},
      {"Software\\P\\", ERROR_SUCCESS},         {"SOFTWARE\\p", ERROR_SUCCESS},
      {"Software\\P\\Q", ERROR_FILE_NOT_FOUND},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.path);
    Key k;
    EXPECT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, c.path, 0, KEY_READ, k.out()), c.open);
  }
  Key leading;
  EXPECT_EQ(createKey(HKEY_CURRENT_USER, "\\Software\\X", leading.out()), ERROR_BAD_PATHNAME);

  // An empty or missing subkey opens the same key as a new handle of its own.
  for (const char *same : {"", static_cast<const char *>(nullptr)}) {
    Key k;
    ASSERT_EQ(RegOpenKeyExA(base.h, same, 0, KEY_ALL_ACCESS, k.out()), ERROR_SUCCESS);
    EXPECT_NE(k.h, base.h);
    ASSERT_EQ(setString(k.h, "via", "copy"), ERROR_SUCCESS);
    EXPECT_EQ(getString(base.h, "via"), "copy");
  }
}

TEST_F(RegistryTest, NamesKeepTheirCaseAndMatchWithout) {
  Key k;
  ASSERT_EQ(createKey(HKEY_CURRENT_USER, "Software\\MixedCase", k.out()), ERROR_SUCCESS);
  ASSERT_EQ(setString(k.h, "ValueName", "1"), ERROR_SUCCESS);
  ASSERT_EQ(setString(k.h, "VALUENAME", "2"), ERROR_SUCCESS); // same value, replaced
  EXPECT_EQ(valueNames(k.h), std::vector<std::string>{"ValueName"});
  EXPECT_EQ(getString(k.h, "valuename"), "2");

  Key sw;
  ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "SOFTWARE", 0, KEY_READ, sw.out()), ERROR_SUCCESS);
  EXPECT_EQ(subkeyNames(sw.h), std::vector<std::string>{"MixedCase"});
}

TEST_F(RegistryTest, SubkeysEnumerateInUpperCaseByteOrder) {
  Key parent;
  ASSERT_EQ(createKey(HKEY_CURRENT_USER, "Software\\Order", parent.out()), ERROR_SUCCESS);
  for (const char *name : {"Key_B", "Key[1]", "keyb", "KeyA"}) {
    Key k;
    ASSERT_EQ(createKey(parent.h, name, k.out()), ERROR_SUCCESS);
  }
  EXPECT_EQ(subkeyNames(parent.h), (std::vector<std::string>{"KeyA", "keyb", "Key[1]", "Key_B"}));
  // Walking backwards from the count works as well as forwards.
  DWORD count = 0;
  ASSERT_EQ(RegQueryInfoKeyA(parent.h, nullptr, nullptr, nullptr, &count, nullptr, nullptr, nullptr,
                             nullptr, nullptr, nullptr, nullptr),
            ERROR_SUCCESS);
  ASSERT_EQ(count, 4u);
  char name[32];
  DWORD len = sizeof name;
  ASSERT_EQ(RegEnumKeyExA(parent.h, 2, name, &len, nullptr, nullptr, nullptr, nullptr),
            ERROR_SUCCESS);
  EXPECT_STREQ(name, "Key[1]");
  ASSERT_EQ(RegEnumKeyA(parent.h, 0, name, sizeof name), ERROR_SUCCESS);
  EXPECT_STREQ(name, "KeyA");
}

TEST_F(RegistryTest, ValuesEnumerateInCreationOrder) {
  Key k;
  ASSERT_EQ(createKey(HKEY_CURRENT_USER, "Software\\Values", k.out()), ERROR_SUCCESS);
  for (const char *name : {"zeta", "Alpha", "mid"})
    ASSERT_EQ(setString(k.h, name, "x"), ERROR_SUCCESS);
  ASSERT_EQ(setString(k.h, "ZETA", "replaced"), ERROR_SUCCESS); // keeps its place
  EXPECT_EQ(valueNames(k.h), (std::vector<std::string>{"zeta", "Alpha", "mid"}));
  ASSERT_EQ(RegDeleteValueA(k.h, "alpha"), ERROR_SUCCESS);
  ASSERT_EQ(setString(k.h, "Alpha", "back"), ERROR_SUCCESS); // moves to the end
  EXPECT_EQ(valueNames(k.h), (std::vector<std::string>{"zeta", "mid", "Alpha"}));
  EXPECT_EQ(RegDeleteValueA(k.h, "alpha2"), ERROR_FILE_NOT_FOUND);
}

} // namespace
