// Which VARTYPEs a VARIANT may carry here, and the conversion's internal entry points.
#pragma once

#include <velmora/win32.h>

#include <cstdint>
#include <string>

namespace vlx::ole {

// The types this personality stores, alone, by reference or as an array; records are not.
bool isKnownVariantType(VARTYPE vt);

// The size of an array element of type `vt`; 0 for a type no SAFEARRAY holds.
ULONG safeArrayElementSize(VARTYPE vt);

// A number read from text the way VarParseNumFromStr reads it with NUMPRS_STD: decimal digits
// with an exponent, or an &H/&O integer.
struct ParsedNumber {
  bool negative = false;
  bool isInteger = false; // &H or &O: `integer` holds the value, already sign-extended
  int64_t integer = 0;
  std::string digits;   // significant decimal digits, no leading zeros; empty for zero
  int exponent = 0;     // value = digits * 10^exponent
  bool inexact = false; // non-zero digits were dropped beyond the kept ones
};

// The separators and currency symbol of a locale's number text.
struct NumberSymbols {
  char16_t decimal = u'.';
  char16_t group = u',';
  std::u16string currency = u"$";
};
NumberSymbols numberSymbols(LCID lcid);

// False when the text is not a number (DISP_E_TYPEMISMATCH); an &H/&O value that does not fit
// 64 bits sets `overflow`.
bool parseNumber(const char16_t *text, size_t length, const NumberSymbols &symbols,
                 ParsedNumber &out, bool &overflow);

// Days since 30 December 1899 and the fraction of the day, from US-style date and time text.
bool parseDate(const char16_t *text, size_t length, double &date);
// "m/d/yyyy h:mm:ss AM": the date alone at midnight, the time alone on day 0; VAR_DATEVALUEONLY
// or VAR_TIMEVALUEONLY keep one part.
std::u16string formatDate(double date, ULONG varFlags);

// A date's parts, each second rounded to the nearest; false outside 1 January 100 to
// 31 December 9999.
bool splitDate(double date, SYSTEMTIME &parts, USHORT &dayOfYear);
// Parts past their range carry into the next larger part, as VarDateFromUdate does.
double joinDate(int year, int month, int day, int hour, int minute, int second, int millisecond);

// How a conversion was asked for: VariantChangeType's flags, the Var* functions' own, and
// whether signed and unsigned types of one size keep their bits (VariantChangeType) or their
// value (the Var* functions).
struct Conversion {
  LCID lcid = 0;
  USHORT flags = 0;
  ULONG varFlags = 0;
  bool sameSizeBits = false;
};
// The conversion of VariantChangeTypeEx and of every Var<To>From<From>.
HRESULT changeType(VARIANT &out, const VARIANT &source, const Conversion &how, VARTYPE vt);

} // namespace vlx::ole
