// What `vlx sheet` prints of a cell, apart from the workbook that holds it.
#pragma once

#include <velmora/win32/oleauto.h>

#include <nlohmann/json.hpp>

#include <string>

namespace vlx::cli {

// A cell's value as text: numbers in their shortest form, texts as they are, nothing as "".
// Throws Failure for a value that has no text.
std::string cellText(const VARIANT &value);
// The same for `--json`: a number stays a JSON number, anything else is its text.
nlohmann::json cellJson(const VARIANT &value);

} // namespace vlx::cli
