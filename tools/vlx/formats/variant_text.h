// A VARIANT's value as one line of text: what `vlx variant convert` prints, and what the
// conversion tests compare. Header-only, so that the Windows check program, which links none of
// the tool, reads it too.
#pragma once

#include <velmora/win32.h>

#include <charconv>
#include <cstdint>
#include <cstdio>
#include <string>

namespace vlx::cli {

// The shortest text that reads back as the same double ("0.1", "1e+300").
inline std::string shortestDouble(double value) {
  char text[40];
  return std::string(text, std::to_chars(text, text + sizeof text, value).ptr);
}

// Every digit the DECIMAL holds, trailing zeros too, so that its scale shows.
inline std::string decimalText(const DECIMAL &d) {
  uint32_t limb[3] = {d.Lo32, d.Mid32, d.Hi32};
  std::string digits;
  do {
    uint64_t rest = 0;
    for (int k = 2; k >= 0; --k) {
      uint64_t v = (rest << 32) | limb[k];
      limb[k] = uint32_t(v / 10);
      rest = v % 10;
    }
    digits.insert(digits.begin(), char('0' + int(rest)));
  } while (limb[0] != 0 || limb[1] != 0 || limb[2] != 0);
  if (digits.size() <= d.scale)
    digits.insert(0, size_t(d.scale) + 1 - digits.size(), '0');
  if (d.scale != 0)
    digits.insert(digits.size() - d.scale, ".");
  return (d.sign ? "-" : "") + digits;
}

// The whole BSTR as UTF-8, zeros inside it too.
inline std::string utf8Text(BSTR text) {
  int units = int(SysStringLen(text));
  if (units == 0)
    return std::string();
  int bytes = WideCharToMultiByte(CP_UTF8, 0, text, units, nullptr, 0, nullptr, nullptr);
  std::string narrow(size_t(bytes), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text, units, narrow.data(), bytes, nullptr, nullptr);
  return narrow;
}

// Numbers as C++ writes them, Booleans as -1 and 0, errors in hex, interfaces by whether there is
// one. `quoteText`: text in double quotes, so that the text "-1" and the number -1 differ.
inline std::string variantText(const VARIANT &v, bool quoteText = false) {
  switch (v.vt) {
  case VT_EMPTY:
    return "(empty)";
  case VT_NULL:
    return "(null)";
  case VT_I1:
    return std::to_string(int(v.cVal));
  case VT_I2:
    return std::to_string(v.iVal);
  case VT_I4:
    return std::to_string(v.lVal);
  case VT_I8:
    return std::to_string(v.llVal);
  case VT_UI1:
    return std::to_string(v.bVal);
  case VT_UI2:
    return std::to_string(v.uiVal);
  case VT_UI4:
    return std::to_string(v.ulVal);
  case VT_UI8:
    return std::to_string(v.ullVal);
  case VT_R4: {
    char text[40];
    return std::string(text, std::to_chars(text, text + sizeof text, v.fltVal).ptr);
  }
  case VT_R8:
  case VT_DATE:
    return shortestDouble(v.dblVal);
  case VT_CY:
    return shortestDouble(double(v.cyVal.int64) / 10000);
  case VT_DECIMAL:
    return decimalText(v.decVal);
  case VT_BOOL:
    return std::to_string(v.boolVal);
  case VT_ERROR: {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08lX", static_cast<unsigned long>(uint32_t(v.scode)));
    return text;
  }
  case VT_BSTR:
    return quoteText ? "\"" + utf8Text(v.bstrVal) + "\"" : utf8Text(v.bstrVal);
  case VT_DISPATCH:
  case VT_UNKNOWN:
    return v.punkVal != nullptr ? "(object)" : "(nothing)";
  default:
    return "(type " + std::to_string(v.vt) + ")";
  }
}

} // namespace vlx::cli
