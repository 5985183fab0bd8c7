// VariantChangeType and VariantChangeTypeEx: Windows' conversion rules among the scalar types,
// text, interfaces and arrays.
#include "platform/posix/ole/variant_types.h"

#include <cfloat>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>

namespace vlx::ole {

bool isKnownVariantType(VARTYPE vt) {
  VARTYPE base = vt & VT_TYPEMASK;
  if ((vt & ~(VT_TYPEMASK | VT_BYREF | VT_ARRAY)) != 0)
    return false;
  // Pointer-sized integers live in arrays only, never in a VARIANT's own type.
  if (vt & VT_ARRAY)
    return base == VT_RECORD ||
           (safeArrayElementSize(base) != 0 && base != VT_INT_PTR && base != VT_UINT_PTR);
  if (base == VT_VARIANT)
    return (vt & VT_BYREF) != 0;
  return base <= VT_DECIMAL || (base >= VT_I1 && base <= VT_UINT);
}

namespace {

// A source value on its way to the target: an integer, a double, or currency (scaled by 10^4).
struct Number {
  enum Kind { Integer, Real, Currency } kind;
  int64_t i = 0;
  double d = 0;
};

struct Range {
  int64_t min, max;
};

bool integerRange(VARTYPE vt, Range &range) {
  switch (vt) {
  case VT_I1:
    range = {INT8_MIN, INT8_MAX};
    return true;
  case VT_UI1:
    range = {0, UINT8_MAX};
    return true;
  case VT_I2:
    range = {INT16_MIN, INT16_MAX};
    return true;
  case VT_UI2:
    range = {0, UINT16_MAX};
    return true;
  case VT_I4:
  case VT_INT:
    range = {INT32_MIN, INT32_MAX};
    return true;
  case VT_UI4:
  case VT_UINT:
    range = {0, UINT32_MAX};
    return true;
  case VT_I8:
    range = {INT64_MIN, INT64_MAX};
    return true;
  default:
    return false;
  }
}

bool isNumericSource(VARTYPE vt, const VARIANT &v, Number &n) {
  n = {Number::Integer};
  switch (vt) {
  case VT_EMPTY:
    return true;
  case VT_I1:
    n.i = v.cVal;
    return true;
  case VT_UI1:
    n.i = v.bVal;
    return true;
  case VT_I2:
  case VT_BOOL:
    n.i = v.iVal;
    return true;
  case VT_UI2:
    n.i = v.uiVal;
    return true;
  case VT_I4:
  case VT_INT:
    n.i = v.lVal;
    return true;
  case VT_UI4:
  case VT_UINT:
    n.i = v.ulVal;
    return true;
  case VT_I8:
    n.i = v.llVal;
    return true;
  case VT_R4:
    n = {Number::Real, 0, v.fltVal};
    return true;
  case VT_R8:
  case VT_DATE:
    n = {Number::Real, 0, v.dblVal};
    return true;
  case VT_CY:
    n = {Number::Currency, v.cyVal.int64};
    return true;
  default:
    return false;
  }
}

// Half way between two integers goes to the even one.
int64_t roundCurrency(int64_t scaled) {
  int64_t q = scaled / 10000, r = scaled % 10000;
  if (r > 5000 || (r == 5000 && (q & 1)))
    ++q;
  else if (r < -5000 || (r == -5000 && (q & 1)))
    --q;
  return q;
}

HRESULT toInteger(const Number &n, const Range &range, int64_t &out) {
  if (n.kind == Number::Real) {
    double r = std::nearbyint(n.d);
    if (!(r >= double(range.min)) || !(r < double(range.max) + 1.0))
      return DISP_E_OVERFLOW;
    out = int64_t(r);
  } else {
    out = n.kind == Number::Integer ? n.i : roundCurrency(n.i);
  }
  return out < range.min || out > range.max ? DISP_E_OVERFLOW : S_OK;
}

double toDouble(const Number &n) {
  switch (n.kind) {
  case Number::Integer:
    return double(n.i);
  case Number::Currency:
    return double(n.i) / 10000;
  default:
    return n.d;
  }
}

HRESULT toCurrency(const Number &n, int64_t &out) {
  if (n.kind == Number::Currency) {
    out = n.i;
    return S_OK;
  }
  if (n.kind == Number::Integer)
    return __builtin_mul_overflow(n.i, int64_t(10000), &out) ? DISP_E_OVERFLOW : S_OK;
  double r = std::nearbyint(n.d * 10000);
  if (!(r >= -9223372036854775808.0) || !(r < 9223372036854775808.0))
    return DISP_E_OVERFLOW;
  out = int64_t(r);
  return S_OK;
}

bool isZero(const Number &n) { return n.kind == Number::Real ? n.d == 0 : n.i == 0; }

// Decimal digits scaled by 10^scale to an integer, half to even, or overflow.
HRESULT decimalToInteger(const ParsedNumber &p, int scale, int64_t &out) {
  out = 0;
  if (p.digits.empty())
    return S_OK;
  long e = long(p.exponent) + scale;
  long whole = long(p.digits.size()) + e; // digits before the decimal point
  if (whole > 19)
    return DISP_E_OVERFLOW;
  uint64_t value = 0; // 19 digits and a carry fit
  for (long k = 0; k < whole; ++k)
    value = value * 10 + unsigned(k < long(p.digits.size()) ? p.digits[size_t(k)] - '0' : 0);
  if (whole >= 0 && whole < long(p.digits.size())) {
    int first = p.digits[size_t(whole)] - '0';
    bool rest =
        p.inexact || p.digits.find_first_not_of('0', size_t(whole) + 1) != std::string::npos;
    if (first > 5 || (first == 5 && (rest || (value & 1))))
      ++value;
  }
  uint64_t limit = uint64_t(INT64_MAX) + (p.negative ? 1 : 0);
  if (value > limit)
    return DISP_E_OVERFLOW;
  out = p.negative ? int64_t(0 - value) : int64_t(value);
  return S_OK;
}

HRESULT decimalToDouble(const ParsedNumber &p, double &out) {
  if (p.digits.empty()) {
    out = 0;
    return S_OK;
  }
  // A final 1 stands for the dropped digits, so that ties still round the right way.
  std::string text = (p.negative ? "-" : "") + p.digits + (p.inexact ? "1" : "") + "e" +
                     std::to_string(p.exponent - (p.inexact ? 1 : 0));
  auto result = std::from_chars(text.data(), text.data() + text.size(), out);
  if (result.ec == std::errc::result_out_of_range) {
    if (long(p.digits.size()) + p.exponent > 0)
      return DISP_E_OVERFLOW;
    out = 0;
  }
  return std::isinf(out) ? DISP_E_OVERFLOW : S_OK;
}

bool equalsNoCase(const BSTR text, const char16_t *word) {
  UINT length = SysStringLen(text);
  size_t k = 0;
  for (; word[k] != 0; ++k) {
    if (k >= length)
      return false;
    char16_t c = text[k] >= u'a' && text[k] <= u'z' ? char16_t(text[k] - 32) : text[k];
    if (c != word[k])
      return false;
  }
  return k == length;
}

BSTR makeBstr(const std::string &ascii) {
  std::u16string wide(ascii.begin(), ascii.end());
  return SysAllocStringLen(wide.data(), UINT(wide.size()));
}

BSTR numberText(const Number &n, VARTYPE from, LCID lcid) {
  char text[64];
  char *end = text;
  switch (n.kind) {
  case Number::Integer:
    end = std::to_chars(text, text + sizeof text, n.i).ptr;
    break;
  case Number::Real:
    // As "%.15G" (single precision "%.7G") in the C locale, whatever the process's locale.
    end =
        from == VT_R4
            ? std::to_chars(text, text + sizeof text, float(n.d), std::chars_format::general, 7).ptr
            : std::to_chars(text, text + sizeof text, n.d == 0 ? 0.0 : n.d,
                            std::chars_format::general, 15)
                  .ptr;
    break;
  case Number::Currency: {
    int64_t whole = n.i / 10000, part = n.i % 10000;
    int length = std::snprintf(text, sizeof text, "%s%lld.%04lld", n.i < 0 && whole == 0 ? "-" : "",
                               static_cast<long long>(whole),
                               static_cast<long long>(part < 0 ? -part : part));
    end = text + length;
    while (end[-1] == '0')
      --end;
    if (end[-1] == '.')
      --end;
    break;
  }
  }
  std::u16string wide(text, end);
  NumberSymbols symbols = numberSymbols(lcid);
  for (char16_t &c : wide) {
    if (c == u'e')
      c = u'E';
    else if (c == u'.')
      c = symbols.decimal;
  }
  return SysAllocStringLen(wide.data(), UINT(wide.size()));
}

// Writes a number into `out` as type `vt`.
HRESULT storeNumber(const Number &n, VARTYPE vt, VARIANT &out) {
  Range range;
  if (integerRange(vt, range)) {
    int64_t value;
    HRESULT hr = toInteger(n, range, value);
    if (FAILED(hr))
      return hr;
    out.llVal = 0;
    switch (vt) {
    case VT_I1:
      out.cVal = CHAR(value);
      break;
    case VT_UI1:
      out.bVal = BYTE(value);
      break;
    case VT_I2:
      out.iVal = SHORT(value);
      break;
    case VT_UI2:
      out.uiVal = USHORT(value);
      break;
    case VT_I8:
      out.llVal = value;
      break;
    default:
      out.lVal = LONG(uint32_t(value));
      break;
    }
    out.vt = vt;
    return S_OK;
  }
  switch (vt) {
  case VT_R4: {
    double d = toDouble(n);
    if (std::isnan(d) == false && std::fabs(d) > FLT_MAX)
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
    out.boolVal = isZero(n) ? VARIANT_FALSE : VARIANT_TRUE;
    break;
  default:
    return DISP_E_TYPEMISMATCH;
  }
  out.vt = vt;
  return S_OK;
}

HRESULT fromText(BSTR text, VARTYPE vt, LCID lcid, VARIANT &out) {
  const char16_t *s = text != nullptr ? text : u"";
  size_t length = SysStringLen(text);
  if (vt == VT_BOOL) {
    bool yes = equalsNoCase(text, u"TRUE") || equalsNoCase(text, u"#TRUE#");
    if (yes || equalsNoCase(text, u"FALSE") || equalsNoCase(text, u"#FALSE#")) {
      out.vt = VT_BOOL;
      out.boolVal = yes ? VARIANT_TRUE : VARIANT_FALSE;
      return S_OK;
    }
  }
  if (vt == VT_DATE) {
    if (!parseDate(s, length, out.date))
      return DISP_E_TYPEMISMATCH;
    out.vt = VT_DATE;
    return S_OK;
  }
  Range range;
  if (!integerRange(vt, range) && vt != VT_R4 && vt != VT_R8 && vt != VT_CY && vt != VT_BOOL)
    return DISP_E_TYPEMISMATCH;
  ParsedNumber parsed;
  bool overflow;
  if (!parseNumber(s, length, numberSymbols(lcid), parsed, overflow))
    return DISP_E_TYPEMISMATCH;
  if (overflow)
    return DISP_E_OVERFLOW;
  if (parsed.isInteger)
    return storeNumber(Number{Number::Integer, parsed.integer}, vt, out);
  Number n{Number::Real};
  HRESULT hr;
  if (vt == VT_R4 || vt == VT_R8) {
    hr = decimalToDouble(parsed, n.d);
  } else if (vt == VT_CY) {
    n.kind = Number::Currency;
    hr = decimalToInteger(parsed, 4, n.i);
  } else if (vt == VT_BOOL) {
    n = {Number::Integer, parsed.digits.empty() ? 0 : 1};
    hr = S_OK;
  } else {
    n.kind = Number::Integer;
    hr = decimalToInteger(parsed, 0, n.i);
  }
  return FAILED(hr) ? hr : storeNumber(n, vt, out);
}

HRESULT toText(const VARIANT &v, LCID lcid, USHORT flags, VARIANT &out) {
  BSTR text = nullptr;
  Number n;
  if (v.vt == VT_BOOL && (flags & (VARIANT_ALPHABOOL | VARIANT_LOCALBOOL)))
    text = makeBstr(v.boolVal ? "True" : "False");
  else if (v.vt == VT_EMPTY)
    text = makeBstr("");
  else if (v.vt == VT_DATE && (v.date < -657434.0 || v.date >= 2958466.0 || std::isnan(v.date)))
    return DISP_E_OVERFLOW;
  else if (v.vt == VT_DATE) {
    std::u16string date = formatDate(v.date);
    text = SysAllocStringLen(date.data(), UINT(date.size()));
  } else if (isNumericSource(v.vt, v, n))
    text = numberText(n, v.vt, lcid);
  else
    return DISP_E_TYPEMISMATCH;
  if (text == nullptr)
    return E_OUTOFMEMORY;
  out.vt = VT_BSTR;
  out.bstrVal = text;
  return S_OK;
}

HRESULT toInterface(const VARIANT &v, VARTYPE vt, VARIANT &out) {
  if (v.vt != VT_DISPATCH && v.vt != VT_UNKNOWN)
    return DISP_E_TYPEMISMATCH;
  out.vt = vt;
  out.punkVal = nullptr;
  if (v.punkVal == nullptr)
    return S_OK;
  HRESULT hr = v.punkVal->QueryInterface(vt == VT_DISPATCH ? IID_IDispatch : IID_IUnknown,
                                         reinterpret_cast<void **>(&out.punkVal));
  if (FAILED(hr))
    out.vt = VT_EMPTY;
  return hr;
}

// An object stands for the value of its DISPID_VALUE property.
HRESULT objectValue(const VARIANT &v, LCID lcid, VARIANT &value) {
  if (v.punkVal == nullptr)
    return DISP_E_BADVARTYPE;
  IDispatch *dispatch = nullptr;
  if (v.vt == VT_DISPATCH) {
    dispatch = v.pdispVal;
    dispatch->AddRef();
  } else if (FAILED(
                 v.punkVal->QueryInterface(IID_IDispatch, reinterpret_cast<void **>(&dispatch)))) {
    return DISP_E_TYPEMISMATCH;
  }
  DISPPARAMS none = {nullptr, nullptr, 0, 0};
  VariantInit(&value);
  HRESULT hr = dispatch->Invoke(DISPID_VALUE, IID_NULL, lcid, DISPATCH_PROPERTYGET, &none, &value,
                                nullptr, nullptr);
  dispatch->Release();
  if (FAILED(hr)) {
    VariantClear(&value);
    return DISP_E_TYPEMISMATCH;
  }
  return S_OK;
}

// The value a by-reference VARIANT points to, without copying what it owns.
bool dereference(const VARIANT &source, VARIANT &value) {
  VariantInit(&value);
  VARTYPE base = source.vt & VT_TYPEMASK;
  if (source.vt & VT_ARRAY) {
    if (source.pparray == nullptr)
      return false;
    value.vt = VARTYPE(source.vt & ~VT_BYREF);
    value.parray = *source.pparray;
    return true;
  }
  if (base == VT_VARIANT) {
    if (source.pvarVal == nullptr || (source.pvarVal->vt & VT_BYREF))
      return false;
    value = *source.pvarVal;
    return true;
  }
  if (source.byref == nullptr)
    return false;
  static const size_t sizes[] = {
      0, 0, 2, 4, 4, 8, 8, 8, sizeof(BSTR), sizeof(void *), 4, 2, 0, sizeof(void *), 0, 0,
      1, 1, 2, 4, 8, 8, 4, 4};
  if (base >= sizeof sizes / sizeof sizes[0] || sizes[base] == 0)
    return false;
  value.vt = base;
  std::memcpy(&value.llVal, source.byref, sizes[base]);
  return true;
}

// Arrays convert only to their own type, and between bytes and text: a one-dimensional byte
// array's bytes are the text's bytes.
HRESULT convertArray(VARIANT &out, const VARIANT &v, VARTYPE vt) {
  if (v.vt == (VT_ARRAY | VT_UI1) && vt == VT_BSTR) {
    if (v.parray == nullptr || v.parray->cDims != 1)
      return E_INVALIDARG;
    ULONG count = v.parray->rgsabound[0].cElements;
    if (count > 0xFFFFFFF0u)
      return E_OUTOFMEMORY;
    out.bstrVal = SysAllocStringByteLen(static_cast<LPCSTR>(v.parray->pvData), UINT(count));
    if (out.bstrVal == nullptr)
      return E_OUTOFMEMORY;
    out.vt = VT_BSTR;
    return S_OK;
  }
  if (v.vt == VT_BSTR && vt == (VT_ARRAY | VT_UI1)) {
    SAFEARRAYBOUND bound = {SysStringByteLen(v.bstrVal), 0};
    UINT bytes = bound.cElements;
    SAFEARRAY *array = SafeArrayCreate(VT_UI1, 1, &bound);
    if (array == nullptr)
      return E_OUTOFMEMORY;
    if (bytes != 0)
      std::memcpy(array->pvData, v.bstrVal, bytes);
    out.vt = vt;
    out.parray = array;
    return S_OK;
  }
  return DISP_E_TYPEMISMATCH;
}

HRESULT convert(VARIANT &out, const VARIANT &source, LCID lcid, USHORT flags, VARTYPE vt) {
  VARIANT v = source;
  if (source.vt & VT_BYREF) {
    if (!dereference(source, v))
      return DISP_E_BADVARTYPE;
  }
  if (v.vt == vt)
    return VariantCopy(&out, &v);
  if ((v.vt | vt) & VT_ARRAY)
    return convertArray(out, v, vt);
  if (vt == VT_EMPTY || vt == VT_NULL) {
    if (v.vt == VT_NULL)
      return DISP_E_TYPEMISMATCH;
    out.vt = vt;
    return S_OK;
  }
  if (v.vt == VT_NULL || v.vt == VT_ERROR || vt == VT_ERROR)
    return DISP_E_TYPEMISMATCH;
  if (vt == VT_DISPATCH || vt == VT_UNKNOWN)
    return toInterface(v, vt, out);
  if (v.vt == VT_DISPATCH || v.vt == VT_UNKNOWN) {
    if (flags & VARIANT_NOVALUEPROP)
      return DISP_E_TYPEMISMATCH;
    VARIANT value;
    HRESULT hr = objectValue(v, lcid, value);
    if (FAILED(hr))
      return hr;
    hr = convert(out, value, lcid, USHORT(flags | VARIANT_NOVALUEPROP), vt);
    VariantClear(&value);
    return hr;
  }
  if (vt == VT_BSTR)
    return toText(v, lcid, flags, out);
  if (v.vt == VT_BSTR)
    return fromText(v.bstrVal, vt, lcid, out);
  Number n;
  if (!isNumericSource(v.vt, v, n))
    return DISP_E_TYPEMISMATCH;
  // True is all bits set, also in an unsigned type.
  Range range;
  if (v.vt == VT_BOOL && integerRange(vt, range) && range.min == 0)
    n.i &= range.max;
  return storeNumber(n, vt, out);
}

} // namespace
} // namespace vlx::ole

extern "C" {

HRESULT WINAPI VariantChangeTypeEx(VARIANTARG *pvargDest, const VARIANTARG *pvarSrc, LCID lcid,
                                   USHORT wFlags, VARTYPE vt) {
  if (pvargDest == nullptr || pvarSrc == nullptr)
    return E_INVALIDARG;
  if (!vlx::ole::isKnownVariantType(pvarSrc->vt))
    return DISP_E_BADVARTYPE;
  if (!vlx::ole::isKnownVariantType(vt))
    return (vt & VT_TYPEMASK) <= VT_UINT ? DISP_E_TYPEMISMATCH : DISP_E_BADVARTYPE;
  if ((vt & VT_BYREF) || vt == VT_DECIMAL || vt == VT_UI8)
    return DISP_E_TYPEMISMATCH;
  // Built aside: the destination may be the source.
  VARIANT result;
  VariantInit(&result);
  HRESULT hr = vlx::ole::convert(result, *pvarSrc, lcid, wFlags, vt);
  if (FAILED(hr))
    return hr;
  hr = VariantClear(pvargDest);
  if (FAILED(hr)) {
    VariantClear(&result);
    return hr;
  }
  *pvargDest = result;
  return S_OK;
}

HRESULT WINAPI VariantChangeType(VARIANTARG *pvargDest, const VARIANTARG *pvarSrc, USHORT wFlags,
                                 VARTYPE vt) {
  return VariantChangeTypeEx(pvargDest, pvarSrc, 0, wFlags, vt);
}

} // extern "C"
