// Registry keys and values: paths, names, enumeration order, sizes, deletion, access, limits.
#include "platform/registry_support.h"
#include "support/temp_env.h"

#include <velmora/win32.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

using namespace regtest;

using RegistryTest = vlx::test::TempEnvTest;

TEST_F(RegistryTest, OpenAndCreatePaths) {
  Key k, again;
  DWORD disposition = 0;
  ASSERT_EQ(createKey(HKEY_CURRENT_USER, "Software\\Velmora\\Draw", k.out(), &disposition),
            ERROR_SUCCESS);
  EXPECT_EQ(disposition, static_cast<DWORD>(REG_CREATED_NEW_KEY));
  ASSERT_EQ(setString(k.h, "Units", "mm"), ERROR_SUCCESS);
  ASSERT_EQ(createKey(HKEY_CURRENT_USER, "software\\VELMORA\\draw", again.out(), &disposition),
            ERROR_SUCCESS);
  EXPECT_EQ(disposition, static_cast<DWORD>(REG_OPENED_EXISTING_KEY));

  // The library's own read sequence: one component at a time from the root.
  Key sw, vel, draw;
  ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software", 0, KEY_READ, sw.out()), ERROR_SUCCESS);
  ASSERT_EQ(RegOpenKeyExA(sw.h, "Velmora", 0, KEY_READ, vel.out()), ERROR_SUCCESS);
  ASSERT_EQ(RegOpenKeyExA(vel.h, "Draw", 0, KEY_READ, draw.out()), ERROR_SUCCESS);
  EXPECT_EQ(getString(draw.h, "units"), "mm");

  struct Case {
    const char *path;
    LONG open;
  } cases[] = {
      {"\\Software", ERROR_BAD_PATHNAME},
      {"Software\\\\Velmora", ERROR_BAD_PATHNAME},
      {"Software\\Velmora\\", ERROR_SUCCESS},
      {"Software\\Nope", ERROR_FILE_NOT_FOUND},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.path);
    Key opened;
    EXPECT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, c.path, 0, KEY_READ, opened.out()), c.open);
    EXPECT_EQ(opened.h == nullptr, c.open != ERROR_SUCCESS);
  }
  Key leading;
  EXPECT_EQ(createKey(HKEY_CURRENT_USER, "\\Software\\X", leading.out()), ERROR_BAD_PATHNAME);

  // An empty or missing subkey opens the same key as a new handle of its own.
  for (const char *same : {"", static_cast<const char *>(nullptr)}) {
    Key copy;
    ASSERT_EQ(RegOpenKeyExA(k.h, same, 0, KEY_ALL_ACCESS, copy.out()), ERROR_SUCCESS);
    EXPECT_NE(copy.h, k.h);
    EXPECT_EQ(getString(copy.h, "Units"), "mm");
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

namespace {

TEST_F(RegistryTest, ShortBuffersReportTheSizeNeeded) {
  Key k;
  ASSERT_EQ(createKey(HKEY_CURRENT_USER, "Software\\Sizes", k.out()), ERROR_SUCCESS);
  ASSERT_EQ(setString(k.h, "Path", "C:\\data"), ERROR_SUCCESS); // 8 bytes with the NUL
  const BYTE raw[3] = {1, 2, 3};
  ASSERT_EQ(RegSetValueExA(k.h, "Raw", 0, REG_BINARY, raw, sizeof raw), ERROR_SUCCESS);
  ASSERT_EQ(RegSetValueExA(k.h, "Unterminated", 0, REG_SZ, reinterpret_cast<const BYTE *>("ab"), 2),
            ERROR_SUCCESS);

  struct Case {
    const char *name;
    DWORD buffer;
    LONG result;
    DWORD size;
    DWORD type;
  } cases[] = {
      {"Path", 8, ERROR_SUCCESS, 8, REG_SZ},
      {"Path", 7, ERROR_MORE_DATA, 8, REG_SZ},
      {"Path", 0, ERROR_MORE_DATA, 8, REG_SZ},
      {"Raw", 3, ERROR_SUCCESS, 3, REG_BINARY},
      {"Raw", 2, ERROR_MORE_DATA, 3, REG_BINARY},
      {"Unterminated", 16, ERROR_SUCCESS, 2, REG_SZ}, // as stored: no NUL added
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(std::string(c.name) + " in " + std::to_string(c.buffer));
    BYTE buf[16] = {};
    DWORD size = c.buffer, type = 0;
    EXPECT_EQ(RegQueryValueExA(k.h, c.name, nullptr, &type, buf, &size), c.result);
    EXPECT_EQ(size, c.size);
    EXPECT_EQ(type, c.type);
  }
  // Size only: no buffer.
  DWORD size = 0;
  EXPECT_EQ(RegQueryValueExA(k.h, "Path", nullptr, nullptr, nullptr, &size), ERROR_SUCCESS);
  EXPECT_EQ(size, 8u);
  BYTE buf[4];
  EXPECT_EQ(RegQueryValueExA(k.h, "Path", nullptr, nullptr, buf, nullptr), ERROR_INVALID_PARAMETER);

  // Enumerated names count without the NUL on success and need room for it.
  Key parent;
  ASSERT_EQ(createKey(k.h, "Child", parent.out()), ERROR_SUCCESS);
  char name[16];
  DWORD len = 5; // "Child" needs 6
  EXPECT_EQ(RegEnumKeyExA(k.h, 0, name, &len, nullptr, nullptr, nullptr, nullptr), ERROR_MORE_DATA);
  len = 6;
  EXPECT_EQ(RegEnumKeyExA(k.h, 0, name, &len, nullptr, nullptr, nullptr, nullptr), ERROR_SUCCESS);
  EXPECT_EQ(len, 5u);
  EXPECT_EQ(RegEnumKeyA(k.h, 0, name, 5), ERROR_MORE_DATA);

  len = 4; // "Path" needs 5
  EXPECT_EQ(RegEnumValueA(k.h, 0, name, &len, nullptr, nullptr, nullptr, nullptr), ERROR_MORE_DATA);
  len = 5;
  BYTE data[4];
  DWORD dataSize = sizeof data;
  EXPECT_EQ(RegEnumValueA(k.h, 0, name, &len, nullptr, nullptr, data, &dataSize), ERROR_MORE_DATA);
  EXPECT_EQ(dataSize, 8u);
  len = 5;
  dataSize = 0;
  EXPECT_EQ(RegEnumValueA(k.h, 0, name, &len, nullptr, nullptr, nullptr, &dataSize), ERROR_SUCCESS);
  EXPECT_EQ(len, 4u);
  EXPECT_EQ(dataSize, 8u);
  EXPECT_EQ(RegEnumValueA(k.h, 3, name, &len, nullptr, nullptr, nullptr, nullptr),
            ERROR_NO_MORE_ITEMS);
}

TEST_F(RegistryTest, QueryInfoCountsAndLongestNames) {
  Key k;
  ASSERT_EQ(createKey(HKEY_CURRENT_USER, "Software\\Info", k.out()), ERROR_SUCCESS);
  for (const char *name : {"a", "Longest"}) {
    Key sub;
    ASSERT_EQ(createKey(k.h, name, sub.out()), ERROR_SUCCESS);
  }
  ASSERT_EQ(setString(k.h, "", "default"), ERROR_SUCCESS);
  ASSERT_EQ(setString(k.h, "LongValueName", "x"), ERROR_SUCCESS);
  DWORD subkeys = 0, maxSub = 0, values = 0, maxName = 0, maxData = 0;
  FILETIME written{};
  ASSERT_EQ(RegQueryInfoKeyA(k.h, nullptr, nullptr, nullptr, &subkeys, &maxSub, nullptr, &values,
                             &maxName, &maxData, nullptr, &written),
            ERROR_SUCCESS);
  EXPECT_EQ(subkeys, 2u);
  EXPECT_EQ(maxSub, 7u);
  EXPECT_EQ(values, 2u);
  EXPECT_EQ(maxName, 13u);
  EXPECT_EQ(maxData, 8u);
}

TEST_F(RegistryTest, DeleteKeyRules) {
  Key k;
  ASSERT_EQ(createKey(HKEY_CURRENT_USER, "Software\\Del\\Inner", k.out()), ERROR_SUCCESS);
  ASSERT_EQ(setString(k.h, "v", "1"), ERROR_SUCCESS);
  EXPECT_EQ(RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\Del"), ERROR_ACCESS_DENIED);
  EXPECT_EQ(RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\Del\\Missing"), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegDeleteKeyA(HKEY_CURRENT_USER, nullptr), ERROR_INVALID_PARAMETER);
  for (const char *skeleton : {"Software", "SOFTWARE\\"}) {
    SCOPED_TRACE(skeleton);
    EXPECT_EQ(RegDeleteKeyA(HKEY_CURRENT_USER, skeleton), ERROR_ACCESS_DENIED);
  }
  EXPECT_EQ(RegDeleteKeyA(HKEY_LOCAL_MACHINE, "Software\\Classes"), ERROR_ACCESS_DENIED);

  // A read-only handle may still delete: deleting opens the subkey itself.
  Key readOnly;
  ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Del", 0, KEY_READ, readOnly.out()),
            ERROR_SUCCESS);
  ASSERT_EQ(RegDeleteKeyA(readOnly.h, "inner"), ERROR_SUCCESS);
  ASSERT_EQ(RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\Del"), ERROR_SUCCESS);
  Key gone;
  EXPECT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Del", 0, KEY_READ, gone.out()),
            ERROR_FILE_NOT_FOUND);
}

TEST_F(RegistryTest, HandleToDeletedKeyAnswersKeyDeleted) {
  Key k, other;
  ASSERT_EQ(createKey(HKEY_CURRENT_USER, "Software\\Doomed", k.out()), ERROR_SUCCESS);
  ASSERT_EQ(setString(k.h, "v", "1"), ERROR_SUCCESS);
  ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Doomed", 0, KEY_ALL_ACCESS, other.out()),
            ERROR_SUCCESS);
  ASSERT_EQ(RegDeleteKeyA(other.h, ""), ERROR_SUCCESS); // "" deletes the key itself

  // Re-creating the path makes a new key; the old handles still see the deleted one.
  Key fresh;
  ASSERT_EQ(createKey(HKEY_CURRENT_USER, "Software\\Doomed", fresh.out()), ERROR_SUCCESS);

  char name[32];
  DWORD len = sizeof name, size = sizeof name, count = 0;
  BYTE data[32];
  HKEY sub = nullptr;
  struct Case {
    const char *what;
    LONG result;
  } cases[] = {
      {"query", RegQueryValueExA(k.h, "v", nullptr, nullptr, data, &size)},
      {"set", setString(k.h, "w", "2")},
      {"delete value", RegDeleteValueA(k.h, "v")},
      {"enum key", RegEnumKeyExA(k.h, 0, name, &len, nullptr, nullptr, nullptr, nullptr)},
      {"enum value", RegEnumValueA(k.h, 0, name, &len, nullptr, nullptr, nullptr, nullptr)},
      {"info", RegQueryInfoKeyA(k.h, nullptr, nullptr, nullptr, &count, nullptr, nullptr, nullptr,
                                nullptr, nullptr, nullptr, nullptr)},
      {"open", RegOpenKeyExA(k.h, "", 0, KEY_READ, &sub)},
      {"create", createKey(k.h, "child", &sub)},
      {"flush", RegFlushKey(k.h)},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(c.result, ERROR_KEY_DELETED);
  }
  EXPECT_EQ(RegCloseKey(k.h), ERROR_SUCCESS);
  k.h = nullptr;
  EXPECT_EQ(RegCloseKey(k.h), ERROR_INVALID_HANDLE);
}

TEST_F(RegistryTest, AccessMaskIsEnforcedPerHandle) {
  ASSERT_EQ(setIn(HKEY_CURRENT_USER, "Software\\Guarded", "v", 1), ERROR_SUCCESS);
  struct Case {
    REGSAM sam;
    bool query, set, create, enumerate;
  } cases[] = {
      {KEY_READ, true, false, false, true},
      {KEY_SET_VALUE, false, true, false, false},
      {KEY_CREATE_SUB_KEY, false, false, true, false},
      {GENERIC_READ, true, false, false, true},
      {MAXIMUM_ALLOWED, true, true, true, true},
  };
  int n = 0;
  for (const Case &c : cases) {
    SCOPED_TRACE("access " + std::to_string(c.sam));
    Key k, sub;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Guarded", 0, c.sam, k.out()),
              ERROR_SUCCESS);
    DWORD v = 0;
    char name[32];
    DWORD len = sizeof name;
    std::string subName = "Sub" + std::to_string(n++);
    EXPECT_EQ(queryDword(k.h, "v", &v) != ERROR_ACCESS_DENIED, c.query);
    EXPECT_EQ(setDword(k.h, "w", 2) != ERROR_ACCESS_DENIED, c.set);
    EXPECT_EQ(createKey(k.h, subName.c_str(), sub.out()) != ERROR_ACCESS_DENIED, c.create);
    EXPECT_EQ(RegEnumKeyExA(k.h, 0, name, &len, nullptr, nullptr, nullptr, nullptr) !=
                  ERROR_ACCESS_DENIED,
              c.enumerate);
    // Opening an existing key through create needs no create right.
    Key existing;
    EXPECT_EQ(createKey(k.h, "", existing.out()), ERROR_SUCCESS);
  }
  // The non-Ex calls open with everything allowed; a made-up handle is refused.
  Key full;
  ASSERT_EQ(RegOpenKeyA(HKEY_CURRENT_USER, "Software\\Guarded", full.out()), ERROR_SUCCESS);
  EXPECT_EQ(setDword(full.h, "x", 1), ERROR_SUCCESS);
  EXPECT_EQ(RegCloseKey(reinterpret_cast<HKEY>(static_cast<uintptr_t>(0x12345678))),
            ERROR_INVALID_HANDLE);
}

TEST_F(RegistryTest, NameLimits) {
  Key k;
  ASSERT_EQ(createKey(HKEY_CURRENT_USER, "Software\\Limits", k.out()), ERROR_SUCCESS);
  std::string key255(255, 'k'), key256(256, 'k');
  std::string value16383(16383, 'v'), value16384(16384, 'v');
  Key a, b, c;
  EXPECT_EQ(createKey(k.h, key255.c_str(), a.out()), ERROR_SUCCESS);
  EXPECT_EQ(createKey(k.h, key256.c_str(), b.out()), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(createKey(k.h, ("x\\" + key256).c_str(), c.out()), ERROR_INVALID_PARAMETER);
  Key x;
  EXPECT_EQ(RegOpenKeyExA(k.h, "x", 0, KEY_READ, x.out()), ERROR_FILE_NOT_FOUND); // nothing made
  EXPECT_EQ(setString(k.h, value16383.c_str(), "ok"), ERROR_SUCCESS);
  EXPECT_EQ(setString(k.h, value16384.c_str(), "no"), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(getString(k.h, value16383.c_str()), "ok");
  // Multi-byte names count in characters, not bytes: 200 two-byte characters fit.
  std::string wide;
  for (int i = 0; i < 200; ++i)
    wide += "\xc3\xa9";
  Key w;
  EXPECT_EQ(createKey(k.h, wide.c_str(), w.out()), ERROR_SUCCESS);
}

TEST_F(RegistryTest, DefaultValueCallsOfTheOldApi) {
  ASSERT_EQ(RegSetValueA(HKEY_CURRENT_USER, "Software\\Old\\Sub", REG_SZ, "hello", 0),
            ERROR_SUCCESS); // makes the key, ignores cbData
  char buf[16];
  LONG size = sizeof buf;
  ASSERT_EQ(RegQueryValueA(HKEY_CURRENT_USER, "Software\\Old\\Sub", buf, &size), ERROR_SUCCESS);
  EXPECT_STREQ(buf, "hello");
  EXPECT_EQ(size, 6);
  size = 3;
  EXPECT_EQ(RegQueryValueA(HKEY_CURRENT_USER, "Software\\Old\\Sub", buf, &size), ERROR_MORE_DATA);
  EXPECT_EQ(size, 6);
  // A key without a default value reads as "".
  size = sizeof buf;
  ASSERT_EQ(RegQueryValueA(HKEY_CURRENT_USER, "Software\\Old", buf, &size), ERROR_SUCCESS);
  EXPECT_STREQ(buf, "");
  EXPECT_EQ(size, 1);
  EXPECT_EQ(RegQueryValueA(HKEY_CURRENT_USER, "Software\\Nope", buf, &size), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegSetValueA(HKEY_CURRENT_USER, "Software\\Old", REG_DWORD, "x", 2),
            ERROR_INVALID_PARAMETER);

  Key k;
  ASSERT_EQ(RegOpenKeyA(HKEY_CURRENT_USER, "Software\\Old\\Sub", k.out()), ERROR_SUCCESS);
  EXPECT_EQ(getString(k.h, nullptr), "hello");
  EXPECT_EQ(getString(k.h, ""), "hello");
}

} // namespace
