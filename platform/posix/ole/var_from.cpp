// Var<To>From<From>: each one VariantChangeType's conversion with the value in a VARIANT, except
// that signed and unsigned types of one size keep the value, not the bits.
#include "platform/posix/ole/variant_types.h"

#include <cstring>

namespace {

using vlx::ole::Conversion;

template <class T> VARIANT holding(VARTYPE vt, T value) {
  VARIANT v;
  VariantInit(&v);
  v.llVal = 0;
  std::memcpy(&v.llVal, &value, sizeof value);
  v.vt = vt;
  return v;
}

VARIANT holding(VARTYPE, const DECIMAL *value) {
  VARIANT v;
  if (value == nullptr) {
    VariantInit(&v);
    v.vt = VT_NULL; // refused below as E_INVALIDARG
    return v;
  }
  v.decVal = *value;
  v.vt = VT_DECIMAL;
  return v;
}

HRESULT change(const VARIANT &source, VARTYPE vt, const Conversion &how, VARIANT &result) {
  if (source.vt == VT_NULL)
    return E_INVALIDARG;
  VariantInit(&result);
  return vlx::ole::changeType(result, source, how, vt);
}

template <class T> HRESULT into(const VARIANT &source, VARTYPE vt, const Conversion &how, T *out) {
  if (out == nullptr)
    return E_INVALIDARG;
  VARIANT result;
  HRESULT hr = change(source, vt, how, result);
  if (SUCCEEDED(hr))
    std::memcpy(out, &result.llVal, sizeof *out);
  return hr;
}

HRESULT into(const VARIANT &source, VARTYPE vt, const Conversion &how, DECIMAL *out) {
  if (out == nullptr)
    return E_INVALIDARG;
  VARIANT result;
  HRESULT hr = change(source, vt, how, result);
  if (SUCCEEDED(hr)) {
    *out = result.decVal;
    out->wReserved = 0;
  }
  return hr;
}

HRESULT into(const VARIANT &source, VARTYPE vt, const Conversion &how, BSTR *out) {
  if (out == nullptr)
    return E_INVALIDARG;
  VARIANT result;
  HRESULT hr = change(source, vt, how, result);
  *out = SUCCEEDED(hr) ? result.bstrVal : nullptr;
  return hr;
}

// Text given as a plain zero-terminated string, not a BSTR: copied into one first.
template <class T>
HRESULT fromText(const OLECHAR *text, LCID lcid, ULONG flags, VARTYPE vt, T *out) {
  if (text == nullptr)
    return DISP_E_TYPEMISMATCH;
  VARIANT source;
  source.vt = VT_BSTR;
  source.bstrVal = SysAllocString(text);
  if (source.bstrVal == nullptr)
    return E_OUTOFMEMORY;
  Conversion how;
  how.lcid = lcid;
  how.varFlags = flags;
  HRESULT hr = into(source, vt, how, out);
  SysFreeString(source.bstrVal);
  return hr;
}

template <class T> HRESULT fromObject(IDispatch *object, LCID lcid, VARTYPE vt, T *out) {
  VARIANT source;
  source.vt = VT_DISPATCH;
  source.pdispVal = object;
  Conversion how;
  how.lcid = lcid;
  return into(source, vt, how, out);
}

Conversion plain() { return Conversion(); }

// Text from a value: the flags are the Var* flags; booleans read True and False.
Conversion textual(LCID lcid, ULONG flags) {
  Conversion how;
  how.lcid = lcid;
  how.flags = VARIANT_ALPHABOOL | (flags & VAR_LOCALBOOL ? VARIANT_LOCALBOOL : 0);
  how.varFlags = flags;
  return how;
}

} // namespace

// The C type and VARTYPE of each name in the functions' names.
#define VLX_T_I1 CHAR
#define VLX_T_UI1 BYTE
#define VLX_T_I2 SHORT
#define VLX_T_UI2 USHORT
#define VLX_T_I4 LONG
#define VLX_T_UI4 ULONG
#define VLX_T_I8 LONG64
#define VLX_T_UI8 ULONG64
#define VLX_T_R4 FLOAT
#define VLX_T_R8 DOUBLE
#define VLX_T_Date DATE
#define VLX_T_Cy CY
#define VLX_T_Bool VARIANT_BOOL
#define VLX_VT_I1 VT_I1
#define VLX_VT_UI1 VT_UI1
#define VLX_VT_I2 VT_I2
#define VLX_VT_UI2 VT_UI2
#define VLX_VT_I4 VT_I4
#define VLX_VT_UI4 VT_UI4
#define VLX_VT_I8 VT_I8
#define VLX_VT_UI8 VT_UI8
#define VLX_VT_R4 VT_R4
#define VLX_VT_R8 VT_R8
#define VLX_VT_Date VT_DATE
#define VLX_VT_Cy VT_CY
#define VLX_VT_Dec VT_DECIMAL
#define VLX_VT_Bool VT_BOOL

// To a number type from a number type.
#define VLX_FROM(To, Src)                                                                          \
  HRESULT WINAPI Var##To##From##Src(VLX_T_##Src in, VLX_T_##To *pOut) {                            \
    return into(holding(VLX_VT_##Src, in), VLX_VT_##To, plain(), pOut);                            \
  }
#define VLX_FROM_DEC(To)                                                                           \
  HRESULT WINAPI Var##To##FromDec(const DECIMAL *pdecIn, VLX_T_##To *pOut) {                       \
    return into(holding(VT_DECIMAL, pdecIn), VLX_VT_##To, plain(), pOut);                          \
  }
#define VLX_DEC_FROM(Src)                                                                          \
  HRESULT WINAPI VarDecFrom##Src(VLX_T_##Src in, DECIMAL *pOut) {                                  \
    return into(holding(VLX_VT_##Src, in), VT_DECIMAL, plain(), pOut);                             \
  }
#define VLX_FROM_TEXT(To, Out)                                                                     \
  HRESULT WINAPI Var##To##FromStr(const OLECHAR *strIn, LCID lcid, ULONG dwFlags, Out *pOut) {     \
    return fromText(strIn, lcid, dwFlags, VLX_VT_##To, pOut);                                      \
  }                                                                                                \
  HRESULT WINAPI Var##To##FromDisp(IDispatch *pdispIn, LCID lcid, Out *pOut) {                     \
    return fromObject(pdispIn, lcid, VLX_VT_##To, pOut);                                           \
  }
#define VLX_BSTR_FROM(Src)                                                                         \
  HRESULT WINAPI VarBstrFrom##Src(VLX_T_##Src in, LCID lcid, ULONG dwFlags, BSTR *pbstrOut) {      \
    return into(holding(VLX_VT_##Src, in), VT_BSTR, textual(lcid, dwFlags), pbstrOut);             \
  }
// clang-format off
// Every type from the number types other than itself.
#define VLX_FROM_NUMBERS_BUT_INTEGERS(To)                                                          \
  VLX_FROM(To, R4) VLX_FROM(To, R8) VLX_FROM(To, Date) VLX_FROM(To, Cy) VLX_FROM(To, Bool)         \
  VLX_FROM_DEC(To)
#define VLX_FROM_INTEGERS(To)                                                                      \
  VLX_FROM(To, I1) VLX_FROM(To, UI1) VLX_FROM(To, I2) VLX_FROM(To, UI2) VLX_FROM(To, I4)           \
  VLX_FROM(To, UI4) VLX_FROM(To, I8) VLX_FROM(To, UI8)

extern "C" {

// Integers from integers.
VLX_FROM(I1, UI1) VLX_FROM(I1, I2) VLX_FROM(I1, UI2) VLX_FROM(I1, I4) VLX_FROM(I1, UI4)
VLX_FROM(I1, I8) VLX_FROM(I1, UI8)
VLX_FROM(UI1, I1) VLX_FROM(UI1, I2) VLX_FROM(UI1, UI2) VLX_FROM(UI1, I4) VLX_FROM(UI1, UI4)
VLX_FROM(UI1, I8) VLX_FROM(UI1, UI8)
VLX_FROM(I2, I1) VLX_FROM(I2, UI1) VLX_FROM(I2, UI2) VLX_FROM(I2, I4) VLX_FROM(I2, UI4)
VLX_FROM(I2, I8) VLX_FROM(I2, UI8)
VLX_FROM(UI2, I1) VLX_FROM(UI2, UI1) VLX_FROM(UI2, I2) VLX_FROM(UI2, I4) VLX_FROM(UI2, UI4)
VLX_FROM(UI2, I8) VLX_FROM(UI2, UI8)
VLX_FROM(I4, I1) VLX_FROM(I4, UI1) VLX_FROM(I4, I2) VLX_FROM(I4, UI2) VLX_FROM(I4, UI4)
VLX_FROM(I4, I8) VLX_FROM(I4, UI8)
VLX_FROM(UI4, I1) VLX_FROM(UI4, UI1) VLX_FROM(UI4, I2) VLX_FROM(UI4, UI2) VLX_FROM(UI4, I4)
VLX_FROM(UI4, I8) VLX_FROM(UI4, UI8)
VLX_FROM(I8, I1) VLX_FROM(I8, UI1) VLX_FROM(I8, I2) VLX_FROM(I8, UI2) VLX_FROM(I8, I4)
VLX_FROM(I8, UI4) VLX_FROM(I8, UI8)
VLX_FROM(UI8, I1) VLX_FROM(UI8, UI1) VLX_FROM(UI8, I2) VLX_FROM(UI8, UI2) VLX_FROM(UI8, I4)
VLX_FROM(UI8, UI4) VLX_FROM(UI8, I8)

// Integers from the other number types.
VLX_FROM_NUMBERS_BUT_INTEGERS(I1) VLX_FROM_NUMBERS_BUT_INTEGERS(UI1)
VLX_FROM_NUMBERS_BUT_INTEGERS(I2) VLX_FROM_NUMBERS_BUT_INTEGERS(UI2)
VLX_FROM_NUMBERS_BUT_INTEGERS(I4) VLX_FROM_NUMBERS_BUT_INTEGERS(UI4)
VLX_FROM_NUMBERS_BUT_INTEGERS(I8) VLX_FROM_NUMBERS_BUT_INTEGERS(UI8)

// The other number types from integers.
VLX_FROM_INTEGERS(R4) VLX_FROM_INTEGERS(R8) VLX_FROM_INTEGERS(Date) VLX_FROM_INTEGERS(Cy)
VLX_FROM_INTEGERS(Bool)
VLX_DEC_FROM(I1) VLX_DEC_FROM(UI1) VLX_DEC_FROM(I2) VLX_DEC_FROM(UI2) VLX_DEC_FROM(I4)
VLX_DEC_FROM(UI4) VLX_DEC_FROM(I8) VLX_DEC_FROM(UI8)

// Among R4, R8, Date, Cy, Bool and Dec.
VLX_FROM(R4, R8) VLX_FROM(R4, Date) VLX_FROM(R4, Cy) VLX_FROM(R4, Bool) VLX_FROM_DEC(R4)
VLX_FROM(R8, R4) VLX_FROM(R8, Date) VLX_FROM(R8, Cy) VLX_FROM(R8, Bool) VLX_FROM_DEC(R8)
VLX_FROM(Date, R4) VLX_FROM(Date, R8) VLX_FROM(Date, Cy) VLX_FROM(Date, Bool) VLX_FROM_DEC(Date)
VLX_FROM(Cy, R4) VLX_FROM(Cy, R8) VLX_FROM(Cy, Date) VLX_FROM(Cy, Bool) VLX_FROM_DEC(Cy)
VLX_FROM(Bool, R4) VLX_FROM(Bool, R8) VLX_FROM(Bool, Date) VLX_FROM(Bool, Cy) VLX_FROM_DEC(Bool)
VLX_DEC_FROM(R4) VLX_DEC_FROM(R8) VLX_DEC_FROM(Date) VLX_DEC_FROM(Cy)

// From text and from objects.
VLX_FROM_TEXT(I1, CHAR) VLX_FROM_TEXT(UI1, BYTE) VLX_FROM_TEXT(I2, SHORT)
VLX_FROM_TEXT(UI2, USHORT) VLX_FROM_TEXT(I4, LONG) VLX_FROM_TEXT(UI4, ULONG)
VLX_FROM_TEXT(I8, LONG64) VLX_FROM_TEXT(UI8, ULONG64) VLX_FROM_TEXT(R4, FLOAT)
VLX_FROM_TEXT(R8, DOUBLE) VLX_FROM_TEXT(Date, DATE) VLX_FROM_TEXT(Cy, CY)
VLX_FROM_TEXT(Bool, VARIANT_BOOL) VLX_FROM_TEXT(Dec, DECIMAL)

// Text.
VLX_BSTR_FROM(I1) VLX_BSTR_FROM(UI1) VLX_BSTR_FROM(I2) VLX_BSTR_FROM(UI2) VLX_BSTR_FROM(I4)
VLX_BSTR_FROM(UI4) VLX_BSTR_FROM(I8) VLX_BSTR_FROM(UI8) VLX_BSTR_FROM(R4) VLX_BSTR_FROM(R8)
VLX_BSTR_FROM(Date) VLX_BSTR_FROM(Cy) VLX_BSTR_FROM(Bool)
// clang-format on

// By name, any true value is True: VarDecFromBool(1) is -1, where other conversions of a
// boolean keep its bits.
HRESULT WINAPI VarDecFromBool(VARIANT_BOOL boolIn, DECIMAL *pdecOut) {
  return into(holding(VT_BOOL, VARIANT_BOOL(boolIn ? VARIANT_TRUE : VARIANT_FALSE)), VT_DECIMAL,
              plain(), pdecOut);
}

HRESULT WINAPI VarBstrFromDec(const DECIMAL *pdecIn, LCID lcid, ULONG dwFlags, BSTR *pbstrOut) {
  return into(holding(VT_DECIMAL, pdecIn), VT_BSTR, textual(lcid, dwFlags), pbstrOut);
}

HRESULT WINAPI VarBstrFromDisp(IDispatch *pdispIn, LCID lcid, ULONG dwFlags, BSTR *pbstrOut) {
  VARIANT source;
  source.vt = VT_DISPATCH;
  source.pdispVal = pdispIn;
  return into(source, VT_BSTR, textual(lcid, dwFlags), pbstrOut);
}

} // extern "C"
