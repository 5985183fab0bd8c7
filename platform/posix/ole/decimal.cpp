// VarDec*: DECIMAL arithmetic and comparison, exact to 96 bits and 28 decimal places; what does
// not fit rounds half to even.
#include "platform/posix/ole/number.h"

#include <cmath>

namespace {

using vlx::ole::Uint128;
using vlx::ole::Wide;

struct Operand {
  Wide mantissa;
  int scale;
  bool negative;
};

bool read(const DECIMAL *value, Operand &out) {
  if (value == nullptr || !vlx::ole::validDecimal(*value))
    return false;
  out.mantissa = Wide::of((Uint128(value->Hi32) << 64) | value->Lo64);
  out.scale = value->scale;
  out.negative = value->sign != 0;
  return true;
}

// Both at the larger scale; 96 bits times 10^28 fit the 256.
void align(Operand &a, Operand &b) {
  for (; a.scale < b.scale; ++a.scale)
    a.mantissa.multiply(10);
  for (; b.scale < a.scale; ++b.scale)
    b.mantissa.multiply(10);
}

HRESULT sum(Operand a, Operand b, DECIMAL *result) {
  align(a, b);
  Wide total = a.mantissa;
  bool negative = a.negative;
  if (a.negative == b.negative) {
    total.add(b.mantissa);
  } else if (total.compare(b.mantissa) >= 0) {
    total.subtract(b.mantissa);
  } else {
    total = b.mantissa;
    total.subtract(a.mantissa);
    negative = b.negative;
  }
  return vlx::ole::packDecimal(total, a.scale, negative, false, *result);
}

int compare(Operand a, Operand b) {
  bool aZero = a.mantissa.isZero(), bZero = b.mantissa.isZero();
  if (aZero && bZero)
    return 0;
  if (a.negative != b.negative || aZero || bZero) {
    int aSign = aZero ? 0 : a.negative ? -1 : 1, bSign = bZero ? 0 : b.negative ? -1 : 1;
    return aSign < bSign ? -1 : 1;
  }
  align(a, b);
  int order = a.mantissa.compare(b.mantissa);
  return a.negative ? -order : order;
}

// Keeps `decimals` places: half to even, toward zero or toward minus infinity.
enum class Cut { Even, TowardZero, Down };

HRESULT cut(const DECIMAL *in, int decimals, Cut how, DECIMAL *result) {
  Operand a;
  if (!read(in, a) || result == nullptr || decimals < 0)
    return E_INVALIDARG;
  bool sticky = false; // non-zero digits below the latest one dropped
  int last = 0;
  for (; a.scale > decimals; --a.scale) {
    sticky = sticky || last != 0;
    last = int(a.mantissa.divide(10));
  }
  bool up = false;
  if (how == Cut::Even)
    up = last > 5 || (last == 5 && (sticky || (a.mantissa.limb[0] & 1)));
  else if (how == Cut::Down)
    up = a.negative && (last != 0 || sticky);
  if (up)
    a.mantissa.add(Wide::of(1));
  return vlx::ole::packDecimal(a.mantissa, a.scale, a.negative, false, *result);
}

} // namespace

extern "C" {

HRESULT WINAPI VarDecAdd(const DECIMAL *pdecLeft, const DECIMAL *pdecRight, LPDECIMAL pdecResult) {
  Operand a, b;
  if (!read(pdecLeft, a) || !read(pdecRight, b) || pdecResult == nullptr)
    return E_INVALIDARG;
  return sum(a, b, pdecResult);
}

HRESULT WINAPI VarDecSub(const DECIMAL *pdecLeft, const DECIMAL *pdecRight, LPDECIMAL pdecResult) {
  Operand a, b;
  if (!read(pdecLeft, a) || !read(pdecRight, b) || pdecResult == nullptr)
    return E_INVALIDARG;
  b.negative = !b.negative;
  return sum(a, b, pdecResult);
}

HRESULT WINAPI VarDecMul(const DECIMAL *pdecLeft, const DECIMAL *pdecRight, LPDECIMAL pdecResult) {
  Operand a, b;
  if (!read(pdecLeft, a) || !read(pdecRight, b) || pdecResult == nullptr)
    return E_INVALIDARG;
  return vlx::ole::packDecimal(Wide::product(a.mantissa, b.mantissa), a.scale + b.scale,
                               a.negative != b.negative, false, *pdecResult);
}

HRESULT WINAPI VarDecDiv(const DECIMAL *pdecLeft, const DECIMAL *pdecRight, LPDECIMAL pdecResult) {
  Operand a, b;
  if (!read(pdecLeft, a) || !read(pdecRight, b) || pdecResult == nullptr)
    return E_INVALIDARG;
  if (b.mantissa.isZero())
    return DISP_E_DIVBYZERO;
  // The dividend widened by as many digits as fit, so that the quotient has all 29 it can keep.
  int scale = a.scale - b.scale;
  while (a.mantissa.limb[7] < 0x01000000 && scale < 60) {
    a.mantissa.multiply(10);
    ++scale;
  }
  Wide quotient, remainder;
  Wide::divide(a.mantissa, b.mantissa, quotient, remainder);
  // An exact quotient loses the trailing zeros that the widening added.
  for (Wide shorter = quotient; remainder.isZero() && scale > 0 && shorter.divide(10) == 0;
       shorter = quotient) {
    quotient = shorter;
    --scale;
  }
  for (; scale < 0; ++scale)
    if (!quotient.multiply(10))
      return DISP_E_OVERFLOW;
  return vlx::ole::packDecimal(quotient, scale, a.negative != b.negative, !remainder.isZero(),
                               *pdecResult);
}

HRESULT WINAPI VarDecAbs(const DECIMAL *pdecIn, LPDECIMAL pdecResult) {
  if (pdecIn == nullptr || pdecResult == nullptr)
    return E_INVALIDARG;
  *pdecResult = *pdecIn;
  pdecResult->sign &= BYTE(~DECIMAL_NEG);
  return S_OK;
}

HRESULT WINAPI VarDecNeg(const DECIMAL *pdecIn, LPDECIMAL pdecResult) {
  if (pdecIn == nullptr || pdecResult == nullptr)
    return E_INVALIDARG;
  *pdecResult = *pdecIn;
  pdecResult->sign ^= DECIMAL_NEG;
  return S_OK;
}

HRESULT WINAPI VarDecFix(const DECIMAL *pdecIn, LPDECIMAL pdecResult) {
  return cut(pdecIn, 0, Cut::TowardZero, pdecResult);
}

HRESULT WINAPI VarDecInt(const DECIMAL *pdecIn, LPDECIMAL pdecResult) {
  return cut(pdecIn, 0, Cut::Down, pdecResult);
}

HRESULT WINAPI VarDecRound(const DECIMAL *pdecIn, int cDecimals, LPDECIMAL pdecResult) {
  return cut(pdecIn, cDecimals, Cut::Even, pdecResult);
}

HRESULT WINAPI VarDecCmp(const DECIMAL *pdecLeft, const DECIMAL *pdecRight) {
  Operand a, b;
  if (!read(pdecLeft, a) || !read(pdecRight, b))
    return E_INVALIDARG;
  return VARCMP_LT + compare(a, b) + 1;
}

HRESULT WINAPI VarDecCmpR8(const DECIMAL *pdecLeft, double dblRight) {
  DECIMAL right;
  HRESULT hr = VarDecFromR8(dblRight, &right);
  return FAILED(hr) ? hr : VarDecCmp(pdecLeft, &right);
}

} // extern "C"
