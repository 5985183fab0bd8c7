// Value conversions between the host's VARIANTs and LibreOffice's Anys.
#include "variant.h"

#include <com/sun/star/bridge/oleautomation/Currency.hpp>
#include <com/sun/star/bridge/oleautomation/Date.hpp>
#include <com/sun/star/bridge/oleautomation/SCode.hpp>

#include <cstdint>
#include <limits>

namespace vlx::calc {

namespace {

using css::uno::Any;
using rtl::OUString;

// Basic's integer types: Integer (16 bits), Long (32 bits), then 64 bits.
Any integer(int64_t value) {
  if (value >= std::numeric_limits<sal_Int16>::min() &&
      value <= std::numeric_limits<sal_Int16>::max())
    return Any(static_cast<sal_Int16>(value));
  if (value >= std::numeric_limits<sal_Int32>::min() &&
      value <= std::numeric_limits<sal_Int32>::max())
    return Any(static_cast<sal_Int32>(value));
  return Any(static_cast<sal_Int64>(value));
}

const double kCurrencyScale = 10000.0;

namespace ole = css::bridge::oleautomation;

} // namespace

bool isCellError(SCODE code) {
  for (int number : {2000, 2007, 2015, 2023, 2029, 2036, 2042})
    if (code == static_cast<SCODE>(kCellErrorBase + static_cast<unsigned>(number)))
      return true;
  return false;
}

Any plainValue(const Any &value) {
  if (ole::Date date; value >>= date)
    return Any(date.Value);
  if (ole::Currency money; value >>= money)
    return Any(static_cast<double>(money.Value) / kCurrencyScale);
  return value;
}

static_assert(sizeof(OLECHAR) == sizeof(sal_Unicode), "both texts are UTF-16");

OUString fromOle(const OLECHAR *text, UINT length) {
  return OUString(reinterpret_cast<const sal_Unicode *>(text), static_cast<sal_Int32>(length));
}

BSTR toBstr(const OUString &text) {
  return SysAllocStringLen(reinterpret_cast<const OLECHAR *>(text.getStr()),
                           static_cast<UINT>(text.getLength()));
}

HRESULT variantToAny(const VARIANT &value, Any &out) {
  VARTYPE type = V_VT(&value);
  bool byRef = (type & VT_BYREF) != 0;
  if (type & VT_ARRAY)
    return DISP_E_BADVARTYPE;
    // Reads a member directly or through the reference.
#define VLX_READ(field, pointer) (byRef ? *value.pointer : value.field)
  if (byRef && !value.byref)
    return E_POINTER;
  switch (type & VT_TYPEMASK) {
  case VT_EMPTY:
  case VT_NULL:
    out.clear();
    return S_OK;
  case VT_ERROR: {
    SCODE code = VLX_READ(scode, pscode);
    // The host's way of leaving out an optional argument.
    if (code == DISP_E_PARAMNOTFOUND)
      out.clear();
    else if (isCellError(code))
      out <<= ole::SCode(code);
    else
      return DISP_E_TYPEMISMATCH;
    return S_OK;
  }
  case VT_VARIANT:
    if (!byRef)
      return DISP_E_BADVARTYPE;
    return variantToAny(*value.pvarVal, out);
  case VT_BOOL:
    out <<= VLX_READ(boolVal, pboolVal) != 0;
    return S_OK;
  case VT_UI1:
    out = integer(VLX_READ(bVal, pbVal));
    return S_OK;
  case VT_I1:
    out = integer(VLX_READ(cVal, pcVal));
    return S_OK;
  case VT_I2:
    out = integer(VLX_READ(iVal, piVal));
    return S_OK;
  case VT_UI2:
    out = integer(VLX_READ(uiVal, puiVal));
    return S_OK;
  case VT_I4:
    out = integer(VLX_READ(lVal, plVal));
    return S_OK;
  case VT_UI4:
    out = integer(VLX_READ(ulVal, pulVal));
    return S_OK;
  case VT_INT:
    out = integer(VLX_READ(intVal, pintVal));
    return S_OK;
  case VT_UINT:
    out = integer(VLX_READ(uintVal, puintVal));
    return S_OK;
  case VT_I8:
    out = integer(VLX_READ(llVal, pllVal));
    return S_OK;
  case VT_UI8: {
    ULONGLONG v = VLX_READ(ullVal, pullVal);
    if (v > static_cast<ULONGLONG>(std::numeric_limits<int64_t>::max()))
      return DISP_E_OVERFLOW;
    out = integer(static_cast<int64_t>(v));
    return S_OK;
  }
  case VT_R4:
    out <<= VLX_READ(fltVal, pfltVal);
    return S_OK;
  case VT_R8:
    out <<= VLX_READ(dblVal, pdblVal);
    return S_OK;
  case VT_DATE:
    out <<= ole::Date(VLX_READ(date, pdate));
    return S_OK;
  case VT_CY:
    out <<= ole::Currency(VLX_READ(cyVal, pcyVal).int64);
    return S_OK;
  case VT_BSTR: {
    BSTR text = VLX_READ(bstrVal, pbstrVal);
    out <<= fromOle(text, SysStringLen(text));
    return S_OK;
  }
  case VT_DISPATCH:
  case VT_UNKNOWN:
    return DISP_E_TYPEMISMATCH;
  default:
    return DISP_E_BADVARTYPE;
  }
#undef VLX_READ
}

HRESULT anyToVariant(const Any &value, VARIANT &out) {
  VARIANT result;
  VariantInit(&result);
  switch (value.getValueTypeClass()) {
  case css::uno::TypeClass_VOID:
    break;
  case css::uno::TypeClass_BOOLEAN:
    V_VT(&result) = VT_BOOL;
    // VARIANT_TRUE, spelled without the header's C cast.
    V_BOOL(&result) = *static_cast<const sal_Bool *>(value.getValue()) ? -1 : 0;
    break;
  case css::uno::TypeClass_BYTE:
  case css::uno::TypeClass_SHORT:
  case css::uno::TypeClass_UNSIGNED_SHORT: {
    sal_Int32 v = 0;
    value >>= v;
    V_VT(&result) = VT_I2;
    V_I2(&result) = static_cast<SHORT>(v);
    if (V_I2(&result) != v) {
      V_VT(&result) = VT_I4;
      V_I4(&result) = v;
    }
    break;
  }
  case css::uno::TypeClass_LONG:
  case css::uno::TypeClass_ENUM:
    V_VT(&result) = VT_I4;
    V_I4(&result) = *static_cast<const sal_Int32 *>(value.getValue());
    break;
  case css::uno::TypeClass_UNSIGNED_LONG:
  case css::uno::TypeClass_HYPER: {
    sal_Int64 v = 0;
    value >>= v;
    V_VT(&result) = VT_I8;
    V_I8(&result) = v;
    if (v >= std::numeric_limits<LONG>::min() && v <= std::numeric_limits<LONG>::max()) {
      V_VT(&result) = VT_I4;
      V_I4(&result) = static_cast<LONG>(v);
    }
    break;
  }
  case css::uno::TypeClass_FLOAT:
    V_VT(&result) = VT_R4;
    V_R4(&result) = *static_cast<const float *>(value.getValue());
    break;
  case css::uno::TypeClass_DOUBLE:
    V_VT(&result) = VT_R8;
    V_R8(&result) = *static_cast<const double *>(value.getValue());
    break;
  case css::uno::TypeClass_CHAR:
  case css::uno::TypeClass_STRING: {
    OUString text;
    if (value.getValueTypeClass() == css::uno::TypeClass_CHAR)
      text = OUString(*static_cast<const sal_Unicode *>(value.getValue()));
    else
      value >>= text;
    BSTR bstr = toBstr(text);
    if (!bstr)
      return E_OUTOFMEMORY;
    V_VT(&result) = VT_BSTR;
    V_BSTR(&result) = bstr;
    break;
  }
  case css::uno::TypeClass_STRUCT:
    if (ole::Date date; value >>= date) {
      V_VT(&result) = VT_DATE;
      V_DATE(&result) = date.Value;
    } else if (ole::Currency money; value >>= money) {
      V_VT(&result) = VT_CY;
      V_CY(&result).int64 = money.Value;
    } else if (ole::SCode code; value >>= code) {
      V_VT(&result) = VT_ERROR;
      V_ERROR(&result) = code.Value;
    } else {
      return DISP_E_BADVARTYPE;
    }
    break;
  case css::uno::TypeClass_INTERFACE:
    return DISP_E_TYPEMISMATCH;
  default:
    return DISP_E_BADVARTYPE;
  }
  out = result;
  return S_OK;
}

} // namespace vlx::calc
