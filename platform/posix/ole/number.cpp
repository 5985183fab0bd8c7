// Numbers between VARIANT types: reading a source, rounding, range checks and storing; the one
// place where every numeric conversion, VariantChangeType's and the Var* functions', happens.
#include "platform/posix/ole/number.h"

#include <cfloat>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace vlx::ole {

namespace {

__extension__ typedef __int128 Int128;

Uint128 pow10(int n) {
  Uint128 p = 1;
  while (n-- > 0)
    p *= 10;
  return p;
}

// mantissa / 10^drop, half to even.
Uint128 roundOff(Uint128 mantissa, int drop) {
  if (drop <= 0)
    return mantissa * pow10(-drop);
  if (drop > 38)
    return 0;
  Uint128 unit = pow10(drop), q = mantissa / unit, r = mantissa % unit;
  if (2 * r > unit || (2 * r == unit && (q & 1)))
    ++q;
  return q;
}

bool integerRange(VARTYPE vt, Int128 &min, Int128 &max) {
  switch (vt) {
  case VT_I1:
    min = INT8_MIN, max = INT8_MAX;
    return true;
  case VT_UI1:
    min = 0, max = UINT8_MAX;
    return true;
  case VT_I2:
    min = INT16_MIN, max = INT16_MAX;
    return true;
  case VT_UI2:
    min = 0, max = UINT16_MAX;
    return true;
  case VT_I4:
  case VT_INT:
    min = INT32_MIN, max = INT32_MAX;
    return true;
  case VT_UI4:
  case VT_UINT:
    min = 0, max = UINT32_MAX;
    return true;
  case VT_I8:
    min = INT64_MIN, max = INT64_MAX;
    return true;
  case VT_UI8:
    min = 0, max = UINT64_MAX;
    return true;
  default:
    return false;
  }
}

HRESULT toInteger(const Number &n, Int128 min, Int128 max, Int128 &out) {
  if (n.real) {
    double r = std::nearbyint(n.d);
    if (!(r >= double(min)) || !(r < double(max) + 1.0))
      return DISP_E_OVERFLOW;
    out = Int128(r);
  } else {
    Uint128 q = roundOff(n.mantissa, n.scale);
    if (q >> 100)
      return DISP_E_OVERFLOW;
    out = n.negative ? -Int128(q) : Int128(q);
  }
  return out < min || out > max ? DISP_E_OVERFLOW : S_OK;
}

HRESULT toCurrency(const Number &n, int64_t &out) {
  if (n.real) {
    // Scaled in extended precision, as Windows scales: a double product loses the last digits
    // of the largest amounts (922337203685476 would come out 448 ten-thousandths off).
    long double r = std::nearbyint(static_cast<long double>(n.d) * 10000);
    if (!(r >= -9223372036854775808.0L) || !(r < 9223372036854775808.0L))
      return DISP_E_OVERFLOW;
    out = int64_t(r);
    return S_OK;
  }
  Uint128 q = roundOff(n.mantissa, n.scale - 4);
  Uint128 limit = Uint128(INT64_MAX) + (n.negative ? 1 : 0);
  if (q > limit)
    return DISP_E_OVERFLOW;
  out = n.negative ? int64_t(0 - uint64_t(q)) : int64_t(q);
  return S_OK;
}

// A double keeps 15 significant digits in a DECIMAL, a float 7.
HRESULT realToDecimal(const Number &n, DECIMAL &out) {
  if (!std::isfinite(n.d))
    return DISP_E_OVERFLOW;
  int precision = n.single ? 7 : 15;
  char text[48];
  char *end =
      std::to_chars(text, text + sizeof text, n.d, std::chars_format::scientific, precision - 1)
          .ptr;
  *end = 0;
  Wide mantissa;
  char *p = text + (text[0] == '-');
  int digits = 0;
  for (; *p != 'e'; ++p) {
    if (*p == '.')
      continue;
    mantissa.multiply(10);
    mantissa.add(Wide::of(Uint128(*p - '0')));
    ++digits;
  }
  int scale = digits - 1 - std::atoi(p + 1);
  for (; scale < 0; ++scale)
    if (!mantissa.multiply(10))
      return DISP_E_OVERFLOW;
  for (Wide shorter = mantissa; scale > 0 && shorter.divide(10) == 0; shorter = mantissa) {
    mantissa = shorter;
    --scale;
  }
  HRESULT hr = packDecimal(mantissa, scale, text[0] == '-', false, out);
  if (SUCCEEDED(hr) && out.Hi32 == 0 && out.Lo64 == 0)
    out.scale = 0; // nothing survived 28 places: a plain zero
  return hr;
}

std::string digitsOf(Uint128 value) {
  std::string text;
  do {
    text.insert(text.begin(), char('0' + int(value % 10)));
    value /= 10;
  } while (value != 0);
  return text;
}

} // namespace

Number Number::integer(int64_t value) {
  Number n;
  n.negative = value < 0;
  n.mantissa = value < 0 ? Uint128(0 - uint64_t(value)) : Uint128(value);
  return n;
}

Number Number::ofUnsigned(uint64_t value) {
  Number n;
  n.mantissa = value;
  return n;
}

Number Number::ofReal(double value) {
  Number n;
  n.real = true;
  n.d = value;
  return n;
}

HRESULT readNumber(const VARIANT &v, Number &out) {
  switch (v.vt) {
  case VT_EMPTY:
    out = Number::integer(0);
    return S_OK;
  case VT_I1:
    out = Number::integer(v.cVal);
    return S_OK;
  case VT_UI1:
    out = Number::integer(v.bVal);
    return S_OK;
  case VT_I2:
  case VT_BOOL:
    out = Number::integer(v.iVal);
    return S_OK;
  case VT_UI2:
    out = Number::integer(v.uiVal);
    return S_OK;
  case VT_I4:
  case VT_INT:
    out = Number::integer(v.lVal);
    return S_OK;
  case VT_UI4:
  case VT_UINT:
    out = Number::integer(v.ulVal);
    return S_OK;
  case VT_I8:
    out = Number::integer(v.llVal);
    return S_OK;
  case VT_UI8:
    out = Number::ofUnsigned(v.ullVal);
    return S_OK;
  case VT_R4:
    out = Number::ofReal(v.fltVal);
    out.single = true;
    return S_OK;
  case VT_R8:
  case VT_DATE:
    out = Number::ofReal(v.dblVal);
    return S_OK;
  case VT_CY:
    out = Number::integer(v.cyVal.int64);
    out.scale = 4;
    return S_OK;
  case VT_DECIMAL:
    if (!validDecimal(v.decVal))
      return E_INVALIDARG;
    out = fromDecimal(v.decVal);
    return S_OK;
  default:
    return DISP_E_TYPEMISMATCH;
  }
}

double toDouble(const Number &n) {
  if (n.real)
    return n.d;
  double sign = n.negative ? -1 : 1;
  if (n.mantissa < (Uint128(1) << 53) && n.scale <= 22) // both exact: one rounding
    return sign * double(n.mantissa) / double(pow10(n.scale));
  std::string text = digitsOf(n.mantissa) + "e-" + std::to_string(n.scale);
  double value = 0;
  std::from_chars(text.data(), text.data() + text.size(), value);
  return sign * value;
}

HRESULT storeNumber(const Number &n, VARTYPE vt, VARIANT &out) {
  Int128 min, max;
  if (integerRange(vt, min, max)) {
    Int128 value;
    HRESULT hr = toInteger(n, min, max, value);
    if (FAILED(hr))
      return hr;
    out.llVal = 0;
    switch (vt) {
    case VT_I1:
    case VT_UI1:
      out.bVal = BYTE(value);
      break;
    case VT_I2:
    case VT_UI2:
      out.uiVal = USHORT(value);
      break;
    case VT_I8:
    case VT_UI8:
      out.ullVal = uint64_t(value);
      break;
    default:
      out.ulVal = uint32_t(value);
      break;
    }
    out.vt = vt;
    return S_OK;
  }
  switch (vt) {
  case VT_R4: {
    double d = toDouble(n);
    if (!std::isnan(d) && std::fabs(d) > FLT_MAX)
      return DISP_E_OVERFLOW;
    out.fltVal = float(d);
    break;
  }
  case VT_R8:
    out.dblVal = toDouble(n);
    break;
  case VT_DATE: {
    double d = toDouble(n);
    if (!(d >= -657434.0) || !(d < 2958466.0))
      return DISP_E_OVERFLOW;
    out.date = d;
    break;
  }
  case VT_CY: {
    HRESULT hr = toCurrency(n, out.cyVal.int64);
    if (FAILED(hr))
      return hr;
    break;
  }
  case VT_BOOL:
    out.boolVal = n.isZero() ? VARIANT_FALSE : VARIANT_TRUE;
    break;
  case VT_DECIMAL: {
    DECIMAL value;
    HRESULT hr = n.real ? realToDecimal(n, value)
                        : packDecimal(Wide::of(n.mantissa), n.scale, n.negative, false, value);
    if (FAILED(hr))
      return hr;
    out.decVal = value;
    break;
  }
  default:
    return DISP_E_TYPEMISMATCH;
  }
  out.vt = vt;
  return S_OK;
}

HRESULT numberFromText(const ParsedNumber &parsed, VARTYPE vt, Number &out) {
  if (parsed.isInteger) {
    out = Number::integer(parsed.integer);
    return S_OK;
  }
  if (vt == VT_R4 || vt == VT_R8 || vt == VT_DATE) {
    out = Number::ofReal(0);
    if (parsed.digits.empty())
      return S_OK;
    // A final 1 stands for the dropped digits, so that ties still round the right way.
    std::string text = (parsed.negative ? "-" : "") + parsed.digits + (parsed.inexact ? "1" : "") +
                       "e" + std::to_string(parsed.exponent - (parsed.inexact ? 1 : 0));
    auto result = std::from_chars(text.data(), text.data() + text.size(), out.d);
    if (result.ec == std::errc::result_out_of_range) {
      if (long(parsed.digits.size()) + parsed.exponent > 0)
        return DISP_E_OVERFLOW;
      out.d = 0;
    }
    return std::isinf(out.d) ? DISP_E_OVERFLOW : S_OK;
  }
  // Exact: through a DECIMAL, whose 96 bits hold every integer and currency value.
  Wide mantissa;
  for (char c : parsed.digits) {
    mantissa.multiply(10);
    mantissa.add(Wide::of(Uint128(c - '0')));
  }
  int scale = -parsed.exponent;
  if (!mantissa.isZero() && scale < -40)
    return DISP_E_OVERFLOW;
  for (; scale < 0; ++scale)
    if (!mantissa.multiply(10))
      return DISP_E_OVERFLOW;
  DECIMAL value;
  HRESULT hr = packDecimal(mantissa, scale, parsed.negative, parsed.inexact, value);
  if (FAILED(hr))
    return hr;
  out = fromDecimal(value);
  return S_OK;
}

BSTR numberText(const Number &n, VARTYPE from, LCID lcid) {
  std::string text;
  if (n.real) {
    // As "%.15G" (single precision "%.7G") in the C locale, whatever the process's locale.
    char buffer[64];
    char *end = from == VT_R4 ? std::to_chars(buffer, buffer + sizeof buffer, float(n.d),
                                              std::chars_format::general, 7)
                                    .ptr
                              : std::to_chars(buffer, buffer + sizeof buffer, n.d == 0 ? 0.0 : n.d,
                                              std::chars_format::general, 15)
                                    .ptr;
    text.assign(buffer, end);
  } else {
    // Exact values show their significant digits only.
    std::string digits = digitsOf(n.mantissa);
    if (int(digits.size()) <= n.scale)
      digits.insert(0, size_t(n.scale) + 1 - digits.size(), '0');
    std::string whole = digits.substr(0, digits.size() - size_t(n.scale));
    std::string fraction = digits.substr(whole.size());
    while (!fraction.empty() && fraction.back() == '0')
      fraction.pop_back();
    text = (n.negative && n.mantissa != 0 ? "-" : "") + whole +
           (fraction.empty() ? "" : "." + fraction);
  }
  std::u16string wide(text.begin(), text.end());
  NumberSymbols symbols = numberSymbols(lcid);
  for (char16_t &c : wide) {
    if (c == u'e')
      c = u'E';
    else if (c == u'.')
      c = symbols.decimal;
  }
  return SysAllocStringLen(wide.data(), UINT(wide.size()));
}

} // namespace vlx::ole
