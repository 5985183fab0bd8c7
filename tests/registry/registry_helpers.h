// Raw registry access for the preference tests: what a call really stored, and planting values.
#pragma once

#include <velmora/win32.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace vlx::test {

struct RawValue {
  bool found = false;
  DWORD type = REG_NONE;
  std::string data;
};

// The value `name` of the key `path` (below `root`), read without any of the library's rules.
inline RawValue rawValue(HKEY root, const std::string &path, const std::string &name) {
  RawValue value;
  HKEY key;
  if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
    return value;
  char buffer[4096]; // larger than any value the tests store
  DWORD size = sizeof buffer;
  value.found = RegQueryValueExA(key, name.c_str(), nullptr, &value.type,
                                 reinterpret_cast<BYTE *>(buffer), &size) == ERROR_SUCCESS;
  if (value.found)
    value.data.assign(buffer, size);
  RegCloseKey(key);
  return value;
}

// Sets a value of any type, creating the key path.
inline void plantValue(HKEY root, const std::string &path, const std::string &name, DWORD type,
                       const std::string &data) {
  HKEY key;
  ASSERT_EQ(RegCreateKeyExA(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                            nullptr),
            ERROR_SUCCESS);
  EXPECT_EQ(RegSetValueExA(key, name.c_str(), 0, type, reinterpret_cast<const BYTE *>(data.data()),
                           static_cast<DWORD>(data.size())),
            ERROR_SUCCESS);
  RegCloseKey(key);
}

inline bool keyExists(HKEY root, const std::string &path) {
  HKEY key;
  if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
    return false;
  RegCloseKey(key);
  return true;
}

// REG_SZ data (with its terminator) and REG_DWORD data.
inline std::string sz(const char *text) { return std::string(text, std::strlen(text) + 1); }
inline std::string dword(int value) {
  return std::string(reinterpret_cast<const char *>(&value), sizeof value);
}

} // namespace vlx::test
