// The shared registry tables against the system's own registry calls, in a scratch key of the
// current user that is removed afterwards.
#include "check.h"
#include "support/registry_cases.h"

#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>

namespace vlx::check {

namespace {

LONG setRaw(HKEY key, const char *name, DWORD type, const std::string &bytes) {
  return RegSetValueExA(key, name, 0, type, reinterpret_cast<const BYTE *>(bytes.data()),
                        static_cast<DWORD>(bytes.size()));
}

void checkTerminators(HKEY scratch) {
  for (const test::TerminatorCase &c : test::terminatorCases()) {
    const std::string what =
        "type " + std::to_string(c.type) + " of " + std::to_string(c.given) + " characters";
    EXPECT_EQ(RegSetValueExA(scratch, "v", 0, c.type,
                             reinterpret_cast<const BYTE *>(c.memory.c_str()), c.given),
              ERROR_SUCCESS, what);
    char buf[16];
    DWORD size = sizeof buf;
    EXPECT_EQ(
        RegQueryValueExA(scratch, "v", nullptr, nullptr, reinterpret_cast<BYTE *>(buf), &size),
        ERROR_SUCCESS, what);
    EXPECT(std::string(buf, size) == c.stored, what + ": stored data");

    const std::u16string wide = test::widened(c.memory);
    EXPECT_EQ(RegSetValueExW(scratch, L"w", 0, c.type, reinterpret_cast<const BYTE *>(wide.c_str()),
                             c.given * 2),
              ERROR_SUCCESS, what + " (W)");
    char16_t wbuf[16];
    size = sizeof wbuf;
    EXPECT_EQ(
        RegQueryValueExW(scratch, L"w", nullptr, nullptr, reinterpret_cast<BYTE *>(wbuf), &size),
        ERROR_SUCCESS, what + " (W)");
    EXPECT(std::u16string(wbuf, size / 2) == test::widened(c.stored), what + ": stored (W)");
  }
  // Data the process cannot read (the narrow call's string case faults on older systems).
  const auto *bad = reinterpret_cast<const BYTE *>(uintptr_t{1});
  EXPECT_EQ(RegSetValueExW(scratch, L"v", 0, REG_SZ, bad, 1), ERROR_NOACCESS, "unreadable (W)");
  EXPECT_EQ(RegSetValueExW(scratch, L"v", 0, REG_DWORD, nullptr, 4), ERROR_NOACCESS, "null (W)");
}

void checkEnumValue(HKEY scratch) {
  HKEY k = nullptr;
  EXPECT_EQ(RegCreateKeyExA(scratch, "Enum", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &k, nullptr),
            ERROR_SUCCESS, "create Enum");
  EXPECT_EQ(setRaw(k, "Name", REG_SZ, std::string("value", 6)), ERROR_SUCCESS, "set Name");
  for (const test::EnumValueCase &c : test::enumValueCases()) {
    const std::string what = c.what;
    const test::EnumValueSeen seen = test::enumValue(k, c);
    EXPECT_EQ(seen.result, c.result, what);
    EXPECT_EQ(seen.nameLength, c.nameLength, what + ": name length");
    EXPECT_EQ(seen.type, c.type, what + ": type");
    EXPECT_EQ(seen.dataSize, c.dataSize, what + ": data size");
    if (c.name)
      EXPECT_EQ(seen.name, std::string(c.name), what + ": name");
    EXPECT(seen.data == (c.dataCopied ? std::string("value", 6) : std::string(6, '?')),
           what + ": data");

    EXPECT_EQ(seen.wideResult, c.result, what + " (W)");
    EXPECT_EQ(seen.wideNameLength, c.wideNameLength, what + ": name length (W)");
    EXPECT_EQ(seen.wideDataSize, c.dataSize * 2, what + ": data size (W)");
    if (c.wideName)
      EXPECT(seen.wideName == std::wstring(c.wideName, c.wideName + std::strlen(c.wideName)),
             what + ": name (W)");
    EXPECT(seen.wideData == (c.wideDataCopied ? std::wstring(L"value", 6) : std::wstring(6, L'?')),
           what + ": data (W)");
  }
  RegCloseKey(k);
}

void checkGetValue(HKEY scratch) {
  for (const test::StoredValue &v : test::getValueStore())
    EXPECT_EQ(setRaw(scratch, v.name, v.type, v.bytes), ERROR_SUCCESS, v.name);
  for (const test::GetValueCase &c : test::getValueCases()) {
    const std::string what =
        std::string("RegGetValueA ") + c.name + " with " + std::to_string(c.flags);
    char buf[16];
    std::memset(buf, '?', sizeof buf);
    DWORD type = 99, size = sizeof buf;
    EXPECT_EQ(RegGetValueA(scratch, nullptr, c.name, c.flags, &type, buf, &size), c.result, what);
    EXPECT_EQ(type, c.type, what + ": type");
    EXPECT_EQ(size, c.size, what + ": size");
    std::string stored;
    for (const test::StoredValue &v : test::getValueStore())
      if (std::string(v.name) == c.name)
        stored = v.bytes;
    if (c.copied)
      EXPECT(std::string(buf, c.size) == stored, what + ": data");
    else
      EXPECT(std::string(buf, sizeof buf) == std::string(sizeof buf, '?'), what + ": untouched");
  }
  EXPECT_EQ(setRaw(scratch, "p", REG_EXPAND_SZ, "%VLX_CASE_DIR%\\sub"), ERROR_SUCCESS, "set p");
  for (const test::ExpandSizeCase &c : test::expandSizeCases()) {
    const std::string what = std::string("expandable with ") + c.value + ", flags " +
                             std::to_string(c.flags) + (c.buffer ? "" : ", no buffer");
    SetEnvironmentVariableA("VLX_CASE_DIR", c.value);
    char buf[64];
    DWORD size = sizeof buf;
    EXPECT_EQ(
        RegGetValueA(scratch, nullptr, "p", c.flags, nullptr, c.buffer ? buf : nullptr, &size),
        ERROR_SUCCESS, what);
    if (c.wineDiffers && underWine() && size != c.size)
      std::printf("differs under Wine: %s: size %lu, Windows gives %lu\n", what.c_str(),
                  static_cast<unsigned long>(size), static_cast<unsigned long>(c.size));
    else
      EXPECT_EQ(size, c.size, what + ": size");
  }
  SetEnvironmentVariableA("VLX_CASE_DIR", nullptr);
}

// The single cases of the POSIX tests that Windows defines.
void checkSingles(HKEY scratch) {
  HKEY readOnly = nullptr, child = nullptr;
  EXPECT_EQ(RegOpenKeyExA(scratch, nullptr, 0, KEY_READ, &readOnly), ERROR_SUCCESS, "reopen");
  EXPECT_EQ(
      RegCreateKeyExA(readOnly, "Section", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &child, nullptr),
      ERROR_SUCCESS, "create under a read-only parent");
  RegCloseKey(child);
  RegCloseKey(readOnly);

  DWORD size = 99;
  EXPECT_EQ(RegQueryValueExA(scratch, "missing", nullptr, nullptr, nullptr, &size),
            ERROR_FILE_NOT_FOUND, "missing value");
  EXPECT_EQ(size, 0u, "missing value's size");
  EXPECT_EQ(setRaw(scratch, "s", REG_SZ, "abcd"), ERROR_SUCCESS, "set s");
  BYTE buf[16];
  DWORD both = sizeof buf;
  EXPECT_EQ(RegQueryValueExA(scratch, "s", nullptr, &both, buf, &both), ERROR_SUCCESS,
            "one variable for type and size");

  HKEY out = HKEY_LOCAL_MACHINE;
  EXPECT_EQ(RegOpenKeyA(nullptr, nullptr, &out), ERROR_SUCCESS, "RegOpenKeyA(NULL, NULL)");
  EXPECT(out == nullptr, "RegOpenKeyA(NULL, NULL) result");
  HKEY kept = HKEY_LOCAL_MACHINE;
  EXPECT_EQ(RegOpenKeyA(nullptr, "Software", &kept), ERROR_INVALID_HANDLE, "no key");
  EXPECT_EQ(RegOpenKeyExA(nullptr, "", 0, KEY_READ, &kept), ERROR_INVALID_HANDLE, "no key, Ex");
  EXPECT(kept == HKEY_LOCAL_MACHINE, "no key: the narrow calls leave the result alone");
  EXPECT_EQ(RegOpenKeyExW(nullptr, L"", 0, KEY_READ, &kept), ERROR_INVALID_HANDLE, "no key (W)");
  EXPECT(kept == nullptr, "no key: the W call clears the result");
  HKEY root = nullptr;
  EXPECT_EQ(RegOpenKeyExA(HKEY_CLASSES_ROOT, "", 0, KEY_READ, &root), ERROR_SUCCESS,
            "HKEY_CLASSES_ROOT with an empty path");
  EXPECT(root == HKEY_CLASSES_ROOT, "HKEY_CLASSES_ROOT itself");
  for (const vlx::test::CurrentConfigCase &c : vlx::test::currentConfigCases()) {
    const std::string what = std::string("HKEY_CURRENT_CONFIG\\") + (c.path ? c.path : "(null)");
    const vlx::test::CurrentConfigSeen seen = vlx::test::currentConfig(c);
    EXPECT_EQ(seen.result, c.result, what);
    EXPECT_EQ(seen.info, ERROR_SUCCESS, what + ": information");
  }

  char expanded[64];
  SetEnvironmentVariableA("VLX_CHECK_A", "alpha");
  EXPECT_EQ(ExpandEnvironmentStringsA("x%VLX_CHECK_A%y%VLX_CHECK_UNSET%", expanded, 64), 25u,
            "expanded length");
  EXPECT_EQ(std::string(expanded), std::string("xalphay%VLX_CHECK_UNSET%"), "expanded");
}

} // namespace

void checkRegistry() {
  const std::string path = "Software\\vlxcheck" + std::to_string(GetCurrentProcessId());
  HKEY scratch = nullptr;
  if (!EXPECT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                                 nullptr, &scratch, nullptr),
                 ERROR_SUCCESS, "create the scratch key"))
    return;
  checkTerminators(scratch);
  checkEnumValue(scratch);
  checkGetValue(scratch);
  checkSingles(scratch);
  RegCloseKey(scratch);
  EXPECT_EQ(RegDeleteTreeA(HKEY_CURRENT_USER, path.c_str()), ERROR_SUCCESS,
            "remove the scratch key");
}

} // namespace vlx::check
