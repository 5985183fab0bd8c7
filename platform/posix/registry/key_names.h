// Registry names: case folding, lengths in characters, and splitting of key paths.
#pragma once

#include <velmora/win32.h>

#include <string>
#include <string_view>
#include <vector>

namespace vlx {

// Windows limits, in characters.
constexpr size_t kMaxKeyNameChars = 255;
constexpr size_t kMaxValueNameChars = 16383;
constexpr size_t kMaxKeyDepth = 512;

// The comparison form of a name: ASCII letters upper-cased, every other byte kept. Ordering
// these bytewise gives the order in which Windows enumerates subkeys.
std::string foldName(std::string_view name);

// Length in the characters Windows counts: UTF-16 units for valid UTF-8, else bytes.
size_t nameChars(std::string_view name);

bool sameName(std::string_view a, std::string_view b);

// Splits a subkey path on backslashes. A leading backslash or an empty inner component gives
// ERROR_BAD_PATHNAME; one trailing backslash is ignored. NULL and "" give no components.
LONG splitKeyPath(const char *path, std::vector<std::string_view> *parts);

} // namespace vlx
