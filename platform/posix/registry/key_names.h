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

// The key of the machine's hive that HKEY_CURRENT_CONFIG stands for, as on Windows.
constexpr std::string_view kCurrentConfigPath =
    "SYSTEM\\CurrentControlSet\\Hardware Profiles\\Current";
constexpr size_t kCurrentConfigDepth = 4;

// The comparison form of a name as the store keeps it: the folded UTF-16 units (foldedUnits),
// each as two bytes, high byte first, so that ordering these bytewise gives the order in which
// Windows enumerates subkeys. A byte that is not UTF-8 is the lone trail surrogate U+DC80 + byte,
// which no valid name holds without a lead before it.
std::string foldName(std::string_view name);
// The same into `out`, whose room is reused.
void foldName(std::string_view name, std::string *out);

// The comparison form that hives of schema version 1 hold: ASCII letters upper-cased, every other
// byte kept.
std::string foldNameAsciiOnly(std::string_view name);

// Length in the characters Windows counts: UTF-16 units for valid UTF-8, else bytes.
size_t nameChars(std::string_view name);

// Splits a subkey path on backslashes. A leading backslash or an empty inner component gives
// ERROR_BAD_PATHNAME; one trailing backslash is ignored. NULL and "" give no components.
LONG splitKeyPath(const char *path, std::vector<std::string_view> *parts);

} // namespace vlx
