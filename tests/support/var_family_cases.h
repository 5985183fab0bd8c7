// The Var* functions by family: conversions by name, currency and decimal arithmetic, rounding,
// text and dates. Each case calls one function and renders its answer as the variant table does;
// the POSIX test and the Windows check (tests/windows/) run the same list.
#pragma once

#include "support/variant_cases.h"

#include <cstdint>
#include <cstring>
#include <functional>

namespace vlx::test {

struct VarFamilyCase {
  const char *what;
  std::function<std::string()> run;
  const char *expected;
};

// The value is read by reference, after the call that sets it.
template <class T> std::string answer(HRESULT hr, const T &value) {
  return FAILED(hr) ? variantErrorName(hr) : std::to_string(value);
}

inline std::string answerCy(HRESULT hr, const CY &value) {
  return FAILED(hr) ? variantErrorName(hr) : shortestDouble(double(value.int64) / 10000);
}

inline std::string answerDec(HRESULT hr, const DECIMAL &value) {
  return FAILED(hr) ? variantErrorName(hr) : decimalText(value);
}

inline std::string answerBstr(HRESULT hr, const BSTR &text) {
  if (FAILED(hr))
    return variantErrorName(hr);
  VARIANT v;
  v.vt = VT_BSTR;
  v.bstrVal = text;
  std::string rendered = renderVariant(v);
  SysFreeString(text);
  return rendered;
}

inline std::string answerCompare(HRESULT hr) {
  switch (hr) {
  case VARCMP_LT:
    return "LT";
  case VARCMP_EQ:
    return "EQ";
  case VARCMP_GT:
    return "GT";
  default:
    return variantErrorName(hr);
  }
}

inline CY cy(double value) {
  // The largest amounts, written as doubles, round past the 64-bit range: they are its ends.
  const double scaled = value * 10000;
  CY c;
  c.int64 = scaled >= 9223372036854775807.0    ? INT64_MAX
            : scaled <= -9223372036854775808.0 ? INT64_MIN
                                               : std::llround(scaled);
  return c;
}

typedef std::basic_string<OLECHAR> OleText;
inline OleText wide(const char *text) { return OleText(text, text + std::strlen(text)); }

inline std::string udateText(const UDATE &u) {
  char text[80];
  std::snprintf(text, sizeof text, "%u-%02u-%02u %02u:%02u:%02u dow %u doy %u", u.st.wYear,
                u.st.wMonth, u.st.wDay, u.st.wHour, u.st.wMinute, u.st.wSecond, u.st.wDayOfWeek,
                u.wDayOfYear);
  return text;
}

inline std::string fromUdate(WORD year, WORD month, WORD day, WORD hour, ULONG flags) {
  UDATE u = {};
  u.st.wYear = year;
  u.st.wMonth = month;
  u.st.wDay = day;
  u.st.wHour = hour;
  DATE date = 0;
  HRESULT hr = VarDateFromUdate(&u, flags, &date);
  return FAILED(hr) ? variantErrorName(hr) : shortestDouble(date);
}

inline std::string toUdate(DATE date) {
  UDATE u = {};
  HRESULT hr = VarUdateFromDate(date, 0, &u);
  return FAILED(hr) ? variantErrorName(hr) : udateText(u);
}

#define VLX_CASE(expression, expected)                                                             \
  {                                                                                                \
#expression, [] { return expression; }, expected                                               \
  }

// An integer from a conversion by name: its answer, or the error's name.
template <class T, class F, class In> std::string converted(F f, In in) {
  T out = 0;
  return answer(f(in, &out), out);
}
inline std::string ui4FromStr(const char *in) {
  ULONG out = 0;
  OleText text = wide(in);
  return answer(VarUI4FromStr(text.data(), 0x409, 0, &out), out);
}
inline std::string cyFromR8(double in) {
  CY out = {};
  return answerCy(VarCyFromR8(in, &out), out);
}
inline std::string r8FromCy(double in) {
  double out = 0;
  HRESULT hr = VarR8FromCy(cy(in), &out);
  return FAILED(hr) ? variantErrorName(hr) : shortestDouble(out);
}
inline std::string decFromR8(double in) {
  DECIMAL out = {};
  return answerDec(VarDecFromR8(in, &out), out);
}
inline std::string decFromBool(VARIANT_BOOL in) {
  DECIMAL out = {};
  return answerDec(VarDecFromBool(in, &out), out);
}
inline std::string decFromStr(const char *in) {
  DECIMAL out = {};
  OleText text = wide(in);
  return answerDec(VarDecFromStr(text.data(), 0x409, 0, &out), out);
}
inline std::string i2FromDec(const char *in) {
  SHORT out = 0;
  DECIMAL d = decimalOf(in);
  return answer(VarI2FromDec(&d, &out), out);
}
inline std::string dateFromStr(const char *in, ULONG flags) {
  DATE out = 0;
  OleText text = wide(in);
  HRESULT hr = VarDateFromStr(text.data(), 0x409, flags, &out);
  return FAILED(hr) ? variantErrorName(hr) : shortestDouble(out);
}
inline std::string bstrFromDate(DATE in, ULONG flags) {
  BSTR out = nullptr;
  return answerBstr(VarBstrFromDate(in, 0x409, flags, &out), out);
}
inline std::string bstrFromBool(VARIANT_BOOL in) {
  BSTR out = nullptr;
  return answerBstr(VarBstrFromBool(in, 0x409, 0, &out), out);
}
inline std::string bstrFromDec(const char *in) {
  BSTR out = nullptr;
  DECIMAL d = decimalOf(in);
  return answerBstr(VarBstrFromDec(&d, 0x409, 0, &out), out);
}
inline std::string bstrFromCy(double in) {
  BSTR out = nullptr;
  return answerBstr(VarBstrFromCy(cy(in), 0x409, 0, &out), out);
}

// Currency arithmetic.
inline std::string cyAdd(double a, double b) {
  CY out = {};
  return answerCy(VarCyAdd(cy(a), cy(b), &out), out);
}
inline std::string cySub(double a, double b) {
  CY out = {};
  return answerCy(VarCySub(cy(a), cy(b), &out), out);
}
inline std::string cyMul(double a, double b) {
  CY out = {};
  return answerCy(VarCyMul(cy(a), cy(b), &out), out);
}
inline std::string cyMulI4(double a, LONG b) {
  CY out = {};
  return answerCy(VarCyMulI4(cy(a), b, &out), out);
}
inline std::string cyMulI8(double a, LONG64 b) {
  CY out = {};
  return answerCy(VarCyMulI8(cy(a), b, &out), out);
}
template <class F> std::string cyUnary(F f, double a) {
  CY out = {};
  return answerCy(f(cy(a), &out), out);
}
inline std::string cyRound(double a, int decimals) {
  CY out = {};
  return answerCy(VarCyRound(cy(a), decimals, &out), out);
}
inline CY cyMax() {
  CY c;
  c.int64 = INT64_MAX;
  return c;
}
// The largest currency and one ten-thousandth more.
inline std::string cyAddToMax() {
  CY unit, out = {};
  unit.int64 = 1;
  return answerCy(VarCyAdd(cyMax(), unit, &out), out);
}

// Decimal arithmetic.
template <class F> std::string decBinary(F f, const char *a, const char *b) {
  DECIMAL l = decimalOf(a), r = decimalOf(b), out = {};
  return answerDec(f(&l, &r, &out), out);
}
template <class F> std::string decUnary(F f, const char *a) {
  DECIMAL in = decimalOf(a), out = {};
  return answerDec(f(&in, &out), out);
}
inline std::string decRound(const char *a, int decimals) {
  DECIMAL in = decimalOf(a), out = {};
  return answerDec(VarDecRound(&in, decimals, &out), out);
}
inline std::string decCmp(const char *a, const char *b) {
  DECIMAL l = decimalOf(a), r = decimalOf(b);
  return answerCompare(VarDecCmp(&l, &r));
}
inline std::string decCmpR8(const char *a, double b) {
  DECIMAL l = decimalOf(a);
  return answerCompare(VarDecCmpR8(&l, b));
}
inline std::string r8Round(double a, int decimals) {
  double out = 0;
  HRESULT hr = VarR8Round(a, decimals, &out);
  return FAILED(hr) ? variantErrorName(hr) : shortestDouble(out);
}
inline std::string bstrCmp(const char *a, const char *b, ULONG flags) {
  OleText l = wide(a), r = wide(b);
  BSTR left = SysAllocString(l.data());
  BSTR right = SysAllocString(r.data());
  std::string result = answerCompare(VarBstrCmp(left, right, 0x409, flags));
  SysFreeString(left);
  SysFreeString(right);
  return result;
}
inline std::string bstrCat(const char *a, const char *b) {
  OleText l = wide(a), r = wide(b);
  BSTR left = *a ? SysAllocString(l.data()) : nullptr;
  BSTR right = SysAllocString(r.data());
  BSTR out = nullptr;
  std::string result = answerBstr(VarBstrCat(left, right, &out), out);
  SysFreeString(left);
  SysFreeString(right);
  return result;
}

inline std::string cyFromBool(VARIANT_BOOL in) {
  CY out = {};
  return answerCy(VarCyFromBool(in, &out), out);
}
// Exact, where answerCy's double would hide the last digits.
inline std::string cyFromR8Exact(double in) {
  CY out = {};
  HRESULT hr = VarCyFromR8(in, &out);
  return FAILED(hr) ? variantErrorName(hr) : std::to_string(out.int64);
}
inline std::string boolFromStr(const char *in) {
  VARIANT_BOOL out = 1;
  OleText text = wide(in);
  return answer(VarBoolFromStr(text.data(), 0x409, 0, &out), out);
}
// VariantChangeTypeEx from a VARIANT the case builds itself.
inline std::string changed(VARIANT &source, VARTYPE to) {
  VARIANT result;
  VariantInit(&result);
  HRESULT hr = VariantChangeTypeEx(&result, &source, 0x409, 0, to);
  std::string text = FAILED(hr) ? variantErrorName(hr) : renderVariant(result);
  VariantClear(&result);
  return text;
}
// A VARIANT of type vt, completed by fill, through VariantChangeTypeEx.
template <typename Fill> std::string changeFrom(VARTYPE vt, Fill fill, VARTYPE to) {
  VARIANT v;
  VariantInit(&v);
  v.vt = vt;
  fill(v);
  return changed(v, to);
}
inline std::string changeBool(VARIANT_BOOL raw, VARTYPE to) {
  return changeFrom(VT_BOOL, [&](VARIANT &v) { v.boolVal = raw; }, to);
}
inline std::string changeUint(UINT value, VARTYPE to) {
  return changeFrom(VT_UINT, [&](VARIANT &v) { v.uintVal = value; }, to);
}
inline std::string changeNullReference(VARTYPE to) {
  return changeFrom(VT_VARIANT | VT_BYREF, [](VARIANT &v) { v.pvarVal = nullptr; }, to);
}
// Locale 0 compares the bytes, an odd count included.
inline std::string bstrCmpBytes(const char *a, UINT aBytes, const char *b, UINT bBytes) {
  BSTR left = SysAllocStringByteLen(a, aBytes);
  BSTR right = SysAllocStringByteLen(b, bBytes);
  std::string result = answerCompare(VarBstrCmp(left, right, 0, 0));
  SysFreeString(left);
  SysFreeString(right);
  return result;
}
// A shorter text is written into the block it had.
inline std::string reallocShorter() {
  BSTR text = SysAllocStringLen(nullptr, 64);
  BSTR before = text;
  std::memset(text, 0xAB, 64 * sizeof(OLECHAR));
  if (!SysReAllocStringLen(&text, nullptr, 24))
    return "failed";
  std::string result = text == before ? "same block" : "moved";
  result += text[24] == 0 ? ", terminated" : ", not terminated";
  SysFreeString(text);
  return result;
}

inline const std::vector<VarFamilyCase> &varFamilyCases() {
  static const std::vector<VarFamilyCase> cases = {
      // By name, signed and unsigned keep the value: out of range is an overflow.
      VLX_CASE((converted<CHAR>(VarI1FromUI1, 255)), "DISP_E_OVERFLOW"),
      VLX_CASE((converted<CHAR>(VarI1FromUI1, 127)), "127"),
      VLX_CASE((converted<BYTE>(VarUI1FromI1, -1)), "DISP_E_OVERFLOW"),
      VLX_CASE((converted<ULONG64>(VarUI8FromI8, -1)), "DISP_E_OVERFLOW"),
      VLX_CASE((converted<USHORT>(VarUI2FromBool, VARIANT_TRUE)), "65535"),
      VLX_CASE(decFromBool(1), "-1"),
      // Other conversions of a boolean keep its bits, wrapped to size, never an overflow.
      VLX_CASE((converted<CHAR>(VarI1FromBool, -129)), "127"),
      VLX_CASE((converted<BYTE>(VarUI1FromBool, -1)), "255"),
      VLX_CASE((converted<BYTE>(VarUI1FromBool, 256)), "0"),
      VLX_CASE((converted<SHORT>(VarI2FromBool, 5)), "5"),
      VLX_CASE((converted<LONG>(VarI4FromBool, -32768)), "-32768"),
      VLX_CASE((converted<ULONG>(VarUI4FromBool, -2)), "4294967294"),
      VLX_CASE((converted<LONG64>(VarI8FromBool, 7)), "7"),
      VLX_CASE(cyFromBool(3), "3"),
      VLX_CASE(changeBool(1, VT_UI2), "1"),
      VLX_CASE(changeBool(1, VT_UI1), "1"),
      VLX_CASE(changeBool(VARIANT_TRUE, VT_UI4), "4294967295"),
      VLX_CASE(changeBool(2, VT_I4), "2"),
      // UINT is a 32-bit integer: to I4 its bits stay.
      VLX_CASE(changeUint(0xFFFFFFFF, VT_I4), "-1"),
      VLX_CASE(changeNullReference(VT_I4), "DISP_E_TYPEMISMATCH"),
      VLX_CASE(boolFromStr("#FALSE#"), "0"),
      VLX_CASE(boolFromStr("#False#"), "DISP_E_TYPEMISMATCH"),
      VLX_CASE(boolFromStr("false"), "0"),
      VLX_CASE(boolFromStr("TRUE"), "-1"),
      VLX_CASE((converted<LONG>(VarI4FromR8, -2.5)), "-2"),
      VLX_CASE((converted<LONG>(VarI4FromR8, 2147483647.49)), "2147483647"),
      VLX_CASE(ui4FromStr("4294967295"), "4294967295"),
      VLX_CASE(ui4FromStr("-1"), "DISP_E_OVERFLOW"),
      VLX_CASE(cyFromR8(922337203685477.0), "922337203685477"),
      VLX_CASE(cyFromR8(1e15), "DISP_E_OVERFLOW"),
      VLX_CASE(cyFromR8Exact(922337203685476.0), "9223372036854760000"),
      VLX_CASE(cyFromR8Exact(-922337203685476.0), "-9223372036854760000"),
      VLX_CASE(r8FromCy(-1.2345), "-1.2345"),
      VLX_CASE(decFromR8(0.5), "0.5"),
      VLX_CASE(decFromR8(-12345.678), "-12345.678"),
      VLX_CASE(decFromStr("0.00001"), "0.00001"),
      VLX_CASE(decFromStr("x"), "DISP_E_TYPEMISMATCH"),
      VLX_CASE(i2FromDec("32767.5"), "DISP_E_OVERFLOW"),
      VLX_CASE(i2FromDec("-32768.4"), "-32768"),
      VLX_CASE(i2FromDec("bad"), "E_INVALIDARG"),
      VLX_CASE(bstrFromBool(VARIANT_TRUE), "\"True\""),
      VLX_CASE(bstrFromDec("1.500"), "\"1.5\""),
      VLX_CASE(bstrFromDec("0.0000000001"), "\"0.0000000001\""),
      VLX_CASE(bstrFromCy(922337203685477.5807), "\"922337203685477.5807\""),
      VLX_CASE(bstrFromCy(0.0009), "\"0.0009\""),
      // Dates as text, either part alone.
      VLX_CASE(bstrFromDate(3.34, 0), "\"1/2/1900 8:09:36 AM\""),
      VLX_CASE(bstrFromDate(365.25, VAR_DATEVALUEONLY), "\"12/30/1900\""),
      VLX_CASE(bstrFromDate(365.25, VAR_TIMEVALUEONLY), "\"6:00:00 AM\""),
      VLX_CASE(bstrFromDate(2958465.0, 0), "\"12/31/9999\""),
      VLX_CASE(dateFromStr("1/2/1900 6:00 PM", 0), "3.75"),
      VLX_CASE(dateFromStr("1/2/1900 6:00 AM", VAR_DATEVALUEONLY), "3"),
      VLX_CASE(dateFromStr("1/2/1900 6:00 AM", VAR_TIMEVALUEONLY), "0.25"),
      // Currency arithmetic: exact, halves to even, overflow beyond 64 bits.
      VLX_CASE(cyAdd(1.5, 2.25), "3.75"),
      VLX_CASE(cySub(1.5, 2.25), "-0.75"),
      VLX_CASE(cyMul(1.5, 2.25), "3.375"),
      VLX_CASE(cyMul(0.0001, 0.5), "0"),
      VLX_CASE(cyMul(0.0003, 0.5), "2e-04"),
      VLX_CASE(cyMul(1e9, 1e9), "DISP_E_OVERFLOW"),
      VLX_CASE(cyAddToMax(), "DISP_E_OVERFLOW"),
      VLX_CASE(cyMulI4(1.5, -3), "-4.5"),
      VLX_CASE(cyMulI8(1e14, 100), "DISP_E_OVERFLOW"),
      VLX_CASE(cyUnary(VarCyAbs, -1.5), "1.5"),
      VLX_CASE(cyUnary(VarCyNeg, 1.5), "-1.5"),
      VLX_CASE(cyUnary(VarCyFix, -1.5), "-1"),
      VLX_CASE(cyUnary(VarCyInt, -1.5), "-2"),
      VLX_CASE(cyUnary(VarCyInt, 1.5), "1"),
      VLX_CASE(cyRound(1.2345, 3), "1.234"),
      VLX_CASE(cyRound(1.2355, 3), "1.236"),
      VLX_CASE(cyRound(-1.5, 0), "-2"),
      VLX_CASE(cyRound(2.5, 0), "2"),
      VLX_CASE(cyRound(1.5, -1), "E_INVALIDARG"),
      VLX_CASE(answerCompare(VarCyCmp(cy(1), cy(2))), "LT"),
      VLX_CASE(answerCompare(VarCyCmp(cy(-1), cy(-1))), "EQ"),
      VLX_CASE(answerCompare(VarCyCmpR8(cy(1.5), 1.25)), "GT"),
      VLX_CASE(answerCompare(VarCyCmpR8(cyMax(), 1e300)), "DISP_E_OVERFLOW"),
      // Decimal arithmetic: 96 bits and 28 places.
      VLX_CASE(decBinary(VarDecAdd, "1.5", "2.25"), "3.75"),
      VLX_CASE(decBinary(VarDecAdd, "79228162514264337593543950335", "1"), "DISP_E_OVERFLOW"),
      VLX_CASE(decBinary(VarDecAdd, "0.1", "-0.1"), "0.0"),
      VLX_CASE(decBinary(VarDecSub, "1", "0.0000000000000000000000000001"),
               "0.9999999999999999999999999999"),
      VLX_CASE(decBinary(VarDecMul, "1.5", "-2.25"), "-3.375"),
      VLX_CASE(decBinary(VarDecMul, "79228162514264337593543950335", "2"), "DISP_E_OVERFLOW"),
      VLX_CASE(decBinary(VarDecMul, "0.00000000000001", "0.00000000000001"),
               "0.0000000000000000000000000001"),
      VLX_CASE(decBinary(VarDecDiv, "1", "4"), "0.25"),
      VLX_CASE(decBinary(VarDecDiv, "1", "3"), "0.3333333333333333333333333333"),
      VLX_CASE(decBinary(VarDecDiv, "2", "3"), "0.6666666666666666666666666667"),
      VLX_CASE(decBinary(VarDecDiv, "10", "2"), "5"),
      VLX_CASE(decBinary(VarDecDiv, "1", "0"), "DISP_E_DIVBYZERO"),
      VLX_CASE(decBinary(VarDecAdd, "bad", "1"), "E_INVALIDARG"),
      VLX_CASE(decUnary(VarDecAbs, "-1.5"), "1.5"),
      VLX_CASE(decUnary(VarDecNeg, "1.5"), "-1.5"),
      VLX_CASE(decUnary(VarDecFix, "-1.5"), "-1"),
      VLX_CASE(decUnary(VarDecInt, "-1.5"), "-2"),
      VLX_CASE(decUnary(VarDecInt, "1.5"), "1"),
      VLX_CASE(decRound("1.2345", 2), "1.23"),
      VLX_CASE(decRound("1.235", 2), "1.24"),
      VLX_CASE(decRound("1.225", 2), "1.22"),
      VLX_CASE(decRound("1.5", 5), "1.5"),
      VLX_CASE(decRound("1.5", -1), "E_INVALIDARG"),
      VLX_CASE(decCmp("1.0", "1"), "EQ"),
      VLX_CASE(decCmp("-1", "0.5"), "LT"),
      VLX_CASE(decCmp("0", "-0"), "EQ"),
      VLX_CASE(decCmpR8("2.5", 2.25), "GT"),
      // Rounding, text.
      VLX_CASE(r8Round(2.5, 0), "2"),
      VLX_CASE(r8Round(3.5, 0), "4"),
      VLX_CASE(r8Round(-1.25, 1), "-1.2"),
      VLX_CASE(r8Round(1.2345, -1), "E_INVALIDARG"),
      VLX_CASE(bstrCmp("a", "b", 0), "LT"),
      VLX_CASE(bstrCmp("abc", "ABC", NORM_IGNORECASE), "EQ"),
      VLX_CASE(bstrCmp("ab", "a", 0), "GT"),
      VLX_CASE(bstrCmp("", "", 0), "EQ"),
      VLX_CASE(bstrCmpBytes("\1\0\1", 3, "\1\0\2", 3), "LT"),
      VLX_CASE(bstrCmpBytes("\0\0\0", 3, "\0\0", 2), "GT"),
      VLX_CASE(bstrCmpBytes("\0\0", 2, "\0\0", 2), "EQ"),
      VLX_CASE(reallocShorter(), "same block, terminated"),
      VLX_CASE(bstrCat("ab", "cd"), "\"abcd\""),
      VLX_CASE(bstrCat("", "cd"), "\"cd\""),
      // Dates and their parts.
      VLX_CASE(fromUdate(1899, 12, 30, 0, 0), "0"),
      VLX_CASE(fromUdate(1899, 12, 29, 6, 0), "-1.25"),
      VLX_CASE(fromUdate(2000, 13, 1, 0, 0), "36892"),
      VLX_CASE(fromUdate(2000, 3, 0, 0, 0), "36585"),
      VLX_CASE(fromUdate(2000, 2, 29, 36, 0), "36586.5"),
      VLX_CASE(fromUdate(100, 1, 1, 0, 0), "-657434"),
      VLX_CASE(fromUdate(9999, 12, 31, 0, 0), "2958465"),
      VLX_CASE(fromUdate(2000, 13, 1, 0, VAR_VALIDDATE), "E_INVALIDARG"),
      VLX_CASE(toUdate(0), "1899-12-30 00:00:00 dow 6 doy 364"),
      VLX_CASE(toUdate(-1.25), "1899-12-29 06:00:00 dow 5 doy 363"),
      VLX_CASE(toUdate(36585.75), "2000-02-29 18:00:00 dow 2 doy 60"),
      VLX_CASE(toUdate(-657434), "100-01-01 00:00:00 dow 5 doy 1"),
      VLX_CASE(toUdate(2958465.5), "9999-12-31 12:00:00 dow 5 doy 365"),
      VLX_CASE(toUdate(2958466), "E_INVALIDARG"),
  };
  return cases;
}

#undef VLX_CASE

} // namespace vlx::test
