// Windows hive files made at run time: the smallest valid regf file, grown with hivex's own calls.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vlx::test {

// An empty hive: the base block and one bin holding the root key, its security cell and free space.
std::string emptyHiveFile();

struct HiveValue {
  std::string name; // "" is the default value
  uint32_t type;
  std::string data; // bytes as the hive holds them (text in UTF-16LE)
};

struct HiveKey {
  std::string path; // below the root, components separated by '\'
  std::vector<HiveValue> values;
};

// Writes a hive holding `keys` (each made with its parents, values in the order given) to `path`.
// Empty on success, else what failed.
std::string writeHiveFile(const std::string &path, const std::vector<HiveKey> &keys);

// The bytes of UTF-16 text as a hive holds them (little-endian).
std::string utf16le(std::u16string_view text);

} // namespace vlx::test
