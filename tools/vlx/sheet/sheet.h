// What `vlx sheet` prints of a cell, apart from the workbook that holds it.
#pragma once

#include <velmora/win32/oleauto.h>

#include <nlohmann/json.hpp>

#include <string>

namespace vlx::cli {

// A cell's value as text: numbers in their shortest form, texts as they are, nothing as "",
// errors as the spreadsheet shows them. Throws Failure for a value that has no text.
std::string cellText(const VARIANT &value);
// A cell error's text ("#DIV/0!"); a code that is no cell error as "#ERROR 0x800A0001".
std::string cellErrorText(SCODE code);
// The same for `--json`: a number stays a JSON number, anything else is its text.
nlohmann::json cellJson(const VARIANT &value);

// Whether `cells` reads as A1-style cells: "B3", "$B$3", "A1:C3", whole columns "A:C" or rows
// "2:5", several joined by ','. A name the workbook defines is none of these.
bool isCellReference(const std::string &cells);

} // namespace vlx::cli
