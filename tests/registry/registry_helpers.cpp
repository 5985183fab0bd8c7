// Raw registry access for the preference tests.
#include "registry_helpers.h"

#include <gtest/gtest.h>

namespace vlx::test {

RawValue rawValue(HKEY root, const std::string &path, const std::string &name) {
  RawValue value;
  HKEY key;
  if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
    return value;
  DWORD size = 0;
  if (RegQueryValueExA(key, name.c_str(), nullptr, &value.type, nullptr, &size) ==
      ERROR_SUCCESS) {
    value.data.resize(size);
    value.found = RegQueryValueExA(key, name.c_str(), nullptr, &value.type,
                                   reinterpret_cast<BYTE *>(value.data.data()),
                                   &size) == ERROR_SUCCESS;
  }
  RegCloseKey(key);
  return value;
}

void plantValue(HKEY root, const std::string &path, const std::string &name, DWORD type,
                const std::string &data) {
  HKEY key;
  ASSERT_EQ(RegCreateKeyExA(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                            nullptr),
            ERROR_SUCCESS);
  ASSERT_EQ(RegSetValueExA(key, name.c_str(), 0, type,
                           reinterpret_cast<const BYTE *>(data.data()),
                           static_cast<DWORD>(data.size())),
            ERROR_SUCCESS);
  RegCloseKey(key);
}

bool keyExists(HKEY root, const std::string &path) {
  HKEY key;
  if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
    return false;
  RegCloseKey(key);
  return true;
}

} // namespace vlx::test
