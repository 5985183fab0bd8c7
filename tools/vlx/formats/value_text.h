// Registry values as people and scripts read and type them: type names, data shown as text or
// JSON, and data parsed from the command line.
#pragma once

#include "vlx/formats/reg_file.h"

#include <nlohmann/json.hpp>

#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace vlx::cli {

// "REG_SZ", ..., "REG_QWORD"; "REG_TYPE_<n>" for others.
std::string typeText(uint32_t type);
// A type name with or without its REG_ prefix, any letter case ("sz", "REG_DWORD").
std::optional<uint32_t> typeNamed(const std::string &name);
// The names typeNamed reads, for help texts and checks.
std::vector<std::string> typeNames();

// A value's name as listed: "@" for the key's default value, any other escaped.
std::string valueNameText(const std::string &name);

// Data as one line: text as stored (escaped), a multi-string's parts joined by "\0", numbers as
// 0x... with the decimal in brackets, anything else as hex bytes.
std::string dataText(uint32_t type, const std::string &data);
// Data in JSON: a string, an array of strings, a number, or hex bytes as a string.
nlohmann::json dataJson(uint32_t type, const std::string &data);
// {"name": ..., "type": "REG_SZ", "data": ...}
nlohmann::json valueJson(const reg::Value &value);

// A key as typed on the command line ("HKCU\\Software\\Velmora"); throws Failure (status 2)
// saying what is wrong.
reg::KeyPath parsedKey(const std::string &text);

// Data as typed for `reg add`: text; for REG_MULTI_SZ parts separated by "\0"; a number in
// decimal or 0x hex; for REG_BINARY and REG_NONE hex bytes (blanks and commas ignored). Throws
// Failure (status 2) saying what was expected.
std::string parseData(uint32_t type, const std::string &text);

// One JSON document and a line end; text that is no UTF-8 shows U+FFFD where it fails.
void printJson(std::ostream &out, const nlohmann::json &document);
// The same on one line, for output read a line at a time (JSON Lines).
void printJsonLine(std::ostream &out, const nlohmann::json &document);

} // namespace vlx::cli
