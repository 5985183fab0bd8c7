// A value on its way between VARIANT types, and the wide integers that decimal arithmetic needs.
#pragma once

#include "platform/posix/ole/variant_types.h"

#include <cstdint>
#include <string>

namespace vlx::ole {

__extension__ typedef unsigned __int128 Uint128;

// 256 bits, enough for a 96-bit mantissa times 10^28 or times another 96-bit mantissa.
struct Wide {
  uint32_t limb[8] = {};

  static Wide of(Uint128 value);
  bool isZero() const;
  bool fits96() const { return limb[3] == 0 && fits128(); }
  bool fits128() const { return (limb[4] | limb[5] | limb[6] | limb[7]) == 0; }
  Uint128 low128() const;
  // False when the result does not fit.
  bool multiply(uint32_t factor);
  bool add(const Wide &other);
  // Requires *this >= other.
  void subtract(const Wide &other);
  uint32_t divide(uint32_t divisor); // returns the remainder
  int compare(const Wide &other) const;
  static Wide product(const Wide &a, const Wide &b);
  // Quotient and remainder; divisor not zero.
  static void divide(const Wide &a, const Wide &b, Wide &quotient, Wide &remainder);
};

// An exact value is (-1)^negative * mantissa / 10^scale; a real one is `d`.
struct Number {
  bool real = false;
  double d = 0;
  bool negative = false;
  Uint128 mantissa = 0;
  int scale = 0;
  bool single = false; // a real that came from single precision

  static Number integer(int64_t value);
  static Number ofUnsigned(uint64_t value);
  static Number ofReal(double value);
  bool isZero() const { return real ? d == 0 : mantissa == 0; }
};

// Scale within 28 and a sign byte of 0 or DECIMAL_NEG.
bool validDecimal(const DECIMAL &value);
Number fromDecimal(const DECIMAL &value);

// A wide mantissa at `scale` brought into a DECIMAL: digits beyond 96 bits or scale 28 are
// rounded off half to even (`sticky` says non-zero digits were already dropped).
HRESULT packDecimal(Wide mantissa, int scale, bool negative, bool sticky, DECIMAL &out);

// S_OK, DISP_E_TYPEMISMATCH for a type that is not a number, E_INVALIDARG for a bad decimal.
HRESULT readNumber(const VARIANT &v, Number &out);
// Stores into `out` as `vt` (a number type or VT_BOOL); DISP_E_OVERFLOW when it does not fit.
HRESULT storeNumber(const Number &n, VARTYPE vt, VARIANT &out);
double toDouble(const Number &n);
// Digits and exponent of text, to a number (decimal digits kept exactly).
HRESULT numberFromText(const ParsedNumber &parsed, VARTYPE vt, Number &out);
// The text of a number, with the locale's decimal separator.
BSTR numberText(const Number &n, VARTYPE from, LCID lcid);

} // namespace vlx::ole
