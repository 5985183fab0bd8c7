// Helpers shared by the registry tests: scoped keys, typed values, enumeration, file bytes.
#pragma once

#include <velmora/win32.h>

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace regtest {

// Closes a key at the end of a scope.
struct Key {
  HKEY h = nullptr;
  Key() = default;
  Key(const Key &) = delete;
  Key &operator=(const Key &) = delete;
  ~Key() {
    if (h)
      RegCloseKey(h);
  }
  HKEY *out() { return &h; }
};

inline LONG createKey(HKEY base, const char *path, HKEY *out, DWORD *disposition = nullptr) {
  return RegCreateKeyExA(base, path, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, out, disposition);
}

inline LONG setString(HKEY key, const char *name, const std::string &value) {
  return RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE *>(value.c_str()),
                        static_cast<DWORD>(value.size() + 1));
}

inline std::string getString(HKEY key, const char *name) {
  char buf[512] = {};
  DWORD size = sizeof buf - 1;
  LONG rc = RegQueryValueExA(key, name, nullptr, nullptr, reinterpret_cast<BYTE *>(buf), &size);
  return rc == ERROR_SUCCESS ? std::string(buf) : "<error " + std::to_string(rc) + ">";
}

inline LONG setDword(HKEY key, const std::string &name, DWORD value) {
  return RegSetValueExA(key, name.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE *>(&value),
                        sizeof value);
}

inline LONG queryDword(HKEY key, const std::string &name, DWORD *value) {
  DWORD size = sizeof *value;
  return RegQueryValueExA(key, name.c_str(), nullptr, nullptr, reinterpret_cast<BYTE *>(value),
                          &size);
}

// The value, or a marker no test writes.
inline DWORD getDword(HKEY key, const std::string &name) {
  DWORD value = 0;
  return queryDword(key, name, &value) == ERROR_SUCCESS ? value : 0xdeadbeef;
}

// Sets `name` in root\path through a handle of its own, as one library operation does.
inline LONG setIn(HKEY root, const char *path, const std::string &name, DWORD value) {
  HKEY k = nullptr;
  LONG rc = createKey(root, path, &k);
  if (rc == ERROR_SUCCESS) {
    rc = setDword(k, name, value);
    RegCloseKey(k);
  }
  return rc;
}

inline std::vector<std::string> subkeyNames(HKEY key) {
  std::vector<std::string> names;
  char name[256];
  for (DWORD i = 0;; ++i) {
    DWORD len = sizeof name;
    LONG rc = RegEnumKeyExA(key, i, name, &len, nullptr, nullptr, nullptr, nullptr);
    if (rc != ERROR_SUCCESS) {
      EXPECT_EQ(rc, ERROR_NO_MORE_ITEMS);
      return names;
    }
    names.emplace_back(name, len);
  }
}

inline std::vector<std::string> valueNames(HKEY key) {
  std::vector<std::string> names;
  char name[256];
  for (DWORD i = 0;; ++i) {
    DWORD len = sizeof name;
    LONG rc = RegEnumValueA(key, i, name, &len, nullptr, nullptr, nullptr, nullptr);
    if (rc != ERROR_SUCCESS) {
      EXPECT_EQ(rc, ERROR_NO_MORE_ITEMS);
      return names;
    }
    names.emplace_back(name, len);
  }
}

inline std::string readFile(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void writeFile(const std::string &path, const std::string &bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

} // namespace regtest
