// Raw registry access for the preference tests: what a call really stored, and planting values.
#pragma once

#include <velmora/win32.h>

#include <string>

namespace vlx::test {

struct RawValue {
  bool found = false;
  DWORD type = REG_NONE;
  std::string data;
};

// The value `name` of the key `path` (below `root`), read without any of the library's rules.
RawValue rawValue(HKEY root, const std::string &path, const std::string &name);
// Sets a value of any type, creating the key path.
void plantValue(HKEY root, const std::string &path, const std::string &name, DWORD type,
                const std::string &data);
bool keyExists(HKEY root, const std::string &path);

} // namespace vlx::test
