// VarCy*: currency arithmetic on the 64-bit count of ten-thousandths, and VarR8Round; results
// that do not fit are DISP_E_OVERFLOW, halves round to even.
#include "platform/posix/ole/number.h"

#include <cmath>

namespace {

__extension__ typedef __int128 Int128;

HRESULT store(Int128 value, LPCY result) {
  if (result == nullptr)
    return E_INVALIDARG;
  if (value < INT64_MIN || value > INT64_MAX)
    return DISP_E_OVERFLOW;
  result->int64 = int64_t(value);
  return S_OK;
}

// value / unit, half to even.
Int128 divideEven(Int128 value, Int128 unit) {
  Int128 q = value / unit, r = value % unit;
  Int128 twice = 2 * (r < 0 ? -r : r);
  if (twice > unit || (twice == unit && (q & 1)))
    q += value < 0 ? -1 : 1;
  return q;
}

Int128 floorDivide(Int128 value, Int128 unit) {
  Int128 q = value / unit;
  return value % unit < 0 ? q - 1 : q;
}

} // namespace

extern "C" {

HRESULT WINAPI VarCyAdd(CY cyLeft, CY cyRight, LPCY pcyResult) {
  return store(Int128(cyLeft.int64) + cyRight.int64, pcyResult);
}

HRESULT WINAPI VarCySub(CY cyLeft, CY cyRight, LPCY pcyResult) {
  return store(Int128(cyLeft.int64) - cyRight.int64, pcyResult);
}

HRESULT WINAPI VarCyMul(CY cyLeft, CY cyRight, LPCY pcyResult) {
  return store(divideEven(Int128(cyLeft.int64) * cyRight.int64, 10000), pcyResult);
}

HRESULT WINAPI VarCyMulI4(CY cyLeft, LONG lRight, LPCY pcyResult) {
  return store(Int128(cyLeft.int64) * lRight, pcyResult);
}

HRESULT WINAPI VarCyMulI8(CY cyLeft, LONG64 lRight, LPCY pcyResult) {
  return store(Int128(cyLeft.int64) * lRight, pcyResult);
}

HRESULT WINAPI VarCyAbs(CY cyIn, LPCY pcyResult) {
  return store(cyIn.int64 < 0 ? -Int128(cyIn.int64) : Int128(cyIn.int64), pcyResult);
}

HRESULT WINAPI VarCyNeg(CY cyIn, LPCY pcyResult) { return store(-Int128(cyIn.int64), pcyResult); }

HRESULT WINAPI VarCyFix(CY cyIn, LPCY pcyResult) {
  return store(Int128(cyIn.int64) / 10000 * 10000, pcyResult);
}

HRESULT WINAPI VarCyInt(CY cyIn, LPCY pcyResult) {
  return store(floorDivide(cyIn.int64, 10000) * 10000, pcyResult);
}

HRESULT WINAPI VarCyRound(CY cyIn, int cDecimals, LPCY pcyResult) {
  if (cDecimals < 0)
    return E_INVALIDARG;
  if (cDecimals >= 4)
    return store(cyIn.int64, pcyResult);
  Int128 unit = 1;
  for (int k = cDecimals; k < 4; ++k)
    unit *= 10;
  return store(divideEven(cyIn.int64, unit) * unit, pcyResult);
}

HRESULT WINAPI VarCyCmp(CY cyLeft, CY cyRight) {
  return cyLeft.int64 < cyRight.int64   ? VARCMP_LT
         : cyLeft.int64 > cyRight.int64 ? VARCMP_GT
                                        : VARCMP_EQ;
}

HRESULT WINAPI VarCyCmpR8(CY cyLeft, double dblRight) {
  CY right;
  HRESULT hr = VarCyFromR8(dblRight, &right);
  return FAILED(hr) ? hr : VarCyCmp(cyLeft, right);
}

HRESULT WINAPI VarR8Round(double dblIn, int cDecimals, double *pdblResult) {
  if (cDecimals < 0 || pdblResult == nullptr)
    return E_INVALIDARG;
  double scale = std::pow(10.0, cDecimals);
  double scaled = dblIn * scale;
  *pdblResult = std::isfinite(scaled) ? std::nearbyint(scaled) / scale : dblIn;
  return S_OK;
}

} // extern "C"
