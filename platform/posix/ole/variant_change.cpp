// VariantChangeType and VariantChangeTypeEx: Windows' conversion rules among the scalar types,
// text, interfaces and arrays.
#include "platform/posix/ole/number.h"

#include <cmath>
#include <cstring>
#include <string>

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

HRESULT fromText(BSTR text, VARTYPE vt, const Conversion &how, VARIANT &out) {
  const char16_t *s = text != nullptr ? text : u"";
  size_t length = SysStringLen(text);
  if (vt == VT_BOOL) {
    // The words in any case; their #-marked forms only as written.
    const std::u16string whole(s, length);
    bool yes = equalsNoCase(text, u"TRUE") || whole == u"#TRUE#";
    if (yes || equalsNoCase(text, u"FALSE") || whole == u"#FALSE#") {
      out.vt = VT_BOOL;
      out.boolVal = yes ? VARIANT_TRUE : VARIANT_FALSE;
      return S_OK;
    }
  }
  if (vt == VT_DATE) {
    double date;
    if (!parseDate(s, length, date))
      return DISP_E_TYPEMISMATCH;
    if (how.varFlags & VAR_DATEVALUEONLY)
      date = std::trunc(date);
    else if (how.varFlags & VAR_TIMEVALUEONLY)
      date = std::fabs(date - std::trunc(date));
    out.vt = VT_DATE;
    out.date = date;
    return S_OK;
  }
  ParsedNumber parsed;
  bool overflow;
  if (!parseNumber(s, length, numberSymbols(how.lcid), parsed, overflow))
    return DISP_E_TYPEMISMATCH;
  if (overflow)
    return DISP_E_OVERFLOW;
  Number n;
  HRESULT hr = numberFromText(parsed, vt, n);
  return FAILED(hr) ? hr : storeNumber(n, vt, out);
}

HRESULT toText(const VARIANT &v, const Conversion &how, VARIANT &out) {
  BSTR text = nullptr;
  Number n;
  if (v.vt == VT_BOOL && (how.flags & (VARIANT_ALPHABOOL | VARIANT_LOCALBOOL)))
    text = makeBstr(v.boolVal ? "True" : "False");
  else if (v.vt == VT_EMPTY)
    text = makeBstr("");
  else if (v.vt == VT_DATE && (v.date < -657434.0 || v.date >= 2958466.0 || std::isnan(v.date)))
    return DISP_E_OVERFLOW;
  else if (v.vt == VT_DATE) {
    std::u16string date = formatDate(v.date, how.varFlags);
    text = SysAllocStringLen(date.data(), UINT(date.size()));
  } else {
    HRESULT hr = readNumber(v, n);
    if (FAILED(hr))
      return hr;
    text = numberText(n, v.vt, how.lcid);
  }
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

// A dispatch object stands for the value of its DISPID_VALUE property.
HRESULT objectValue(const VARIANT &v, LCID lcid, VARIANT &value) {
  if (v.pdispVal == nullptr)
    return DISP_E_BADVARTYPE;
  DISPPARAMS none = {nullptr, nullptr, 0, 0};
  VariantInit(&value);
  HRESULT hr = v.pdispVal->Invoke(DISPID_VALUE, IID_NULL, lcid, DISPATCH_PROPERTYGET, &none, &value,
                                  nullptr, nullptr);
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
  if (base == VT_DECIMAL) {
    value.decVal = *source.pdecVal;
    value.vt = VT_DECIMAL;
    return true;
  }
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

bool isInteger(VARTYPE vt) {
  return vt == VT_I1 || vt == VT_UI1 || vt == VT_I2 || vt == VT_UI2 || vt == VT_I4 ||
         vt == VT_UI4 || vt == VT_INT || vt == VT_UINT || vt == VT_I8 || vt == VT_UI8;
}

// INT and UINT are the 32-bit integers under other names.
VARTYPE plainInteger(VARTYPE vt) {
  return vt == VT_INT ? VARTYPE(VT_I4) : vt == VT_UINT ? VARTYPE(VT_UI4) : vt;
}

// Signed and unsigned types of one size: VariantChangeType keeps the bits.
VARTYPE sameSizeTwin(VARTYPE vt) {
  switch (vt) {
  case VT_I1:
    return VT_UI1;
  case VT_UI1:
    return VT_I1;
  case VT_I2:
    return VT_UI2;
  case VT_UI2:
    return VT_I2;
  case VT_I4:
    return VT_UI4;
  case VT_UI4:
    return VT_I4;
  case VT_I8:
    return VT_UI8;
  case VT_UI8:
    return VT_I8;
  default:
    return VT_EMPTY;
  }
}

} // namespace

HRESULT changeType(VARIANT &out, const VARIANT &source, const Conversion &how, VARTYPE vt) {
  VARIANT v = source;
  if (source.vt & VT_BYREF) {
    // A reference to no VARIANT is a value of the wrong type; other bad references, bad types.
    if (!dereference(source, v))
      return source.vt == (VT_VARIANT | VT_BYREF) && source.pvarVal == nullptr ? DISP_E_TYPEMISMATCH
                                                                               : DISP_E_BADVARTYPE;
  }
  if (v.vt == vt)
    return VariantCopy(&out, &v);
  if ((v.vt | vt) & VT_ARRAY)
    return convertArray(out, v, vt);
  if (vt == VT_EMPTY || vt == VT_NULL) {
    if (v.vt == VT_NULL || v.vt == VT_ERROR)
      return DISP_E_TYPEMISMATCH;
    out.vt = vt;
    return S_OK;
  }
  if (v.vt == VT_NULL || v.vt == VT_ERROR || vt == VT_ERROR || vt == VT_RECORD)
    return DISP_E_TYPEMISMATCH;
  if (vt == VT_DISPATCH || vt == VT_UNKNOWN)
    return toInterface(v, vt, out);
  if (v.vt == VT_UNKNOWN)
    return DISP_E_TYPEMISMATCH;
  if (v.vt == VT_DISPATCH) {
    if (how.flags & VARIANT_NOVALUEPROP)
      return DISP_E_TYPEMISMATCH;
    VARIANT value;
    HRESULT hr = objectValue(v, how.lcid, value);
    if (FAILED(hr))
      return hr;
    Conversion once = how;
    once.flags |= VARIANT_NOVALUEPROP;
    hr = changeType(out, value, once, vt);
    VariantClear(&value);
    return hr;
  }
  if (vt == VT_BSTR)
    return toText(v, how, out);
  if (v.vt == VT_BSTR)
    return fromText(v.bstrVal, vt, how, out);
  if (how.sameSizeBits && sameSizeTwin(plainInteger(v.vt)) == plainInteger(vt)) {
    out.ullVal = v.ullVal;
    out.vt = vt;
    return S_OK;
  }
  Number n;
  HRESULT hr = readNumber(v, n);
  if (FAILED(hr))
    return hr;
  // A boolean's bits go into an integer as they are, widened with its sign or cut to size,
  // never an overflow: True is all bits set, also in an unsigned type.
  if (v.vt == VT_BOOL && isInteger(vt)) {
    out.llVal = v.boolVal;
    out.vt = vt;
    return S_OK;
  }
  return storeNumber(n, vt, out);
}

} // namespace vlx::ole

extern "C" {

HRESULT WINAPI VariantChangeTypeEx(VARIANTARG *pvargDest, const VARIANTARG *pvarSrc, LCID lcid,
                                   USHORT wFlags, VARTYPE vt) {
  if (pvargDest == nullptr || pvarSrc == nullptr)
    return E_INVALIDARG;
  if (!vlx::ole::isKnownVariantType(pvarSrc->vt))
    return DISP_E_BADVARTYPE;
  // Type 15 is reserved: no VARIANT ever has it.
  const VARTYPE base = vt & VT_TYPEMASK;
  if (!vlx::ole::isKnownVariantType(vt))
    return (base <= VT_UINT && base != 15) || vt == VT_RECORD ? DISP_E_TYPEMISMATCH
                                                              : DISP_E_BADVARTYPE;
  if (vt & VT_BYREF)
    return DISP_E_TYPEMISMATCH;
  // Built aside: the destination may be the source.
  VARIANT result;
  VariantInit(&result);
  vlx::ole::Conversion how;
  how.lcid = lcid;
  how.flags = wFlags;
  how.sameSizeBits = true;
  HRESULT hr = vlx::ole::changeType(result, *pvarSrc, how, vt);
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
