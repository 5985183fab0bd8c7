// Value conversions between the host's VARIANTs and LibreOffice's Anys.
#include "variant.h"

#include <com/sun/star/bridge/oleautomation/Currency.hpp>
#include <com/sun/star/bridge/oleautomation/Date.hpp>
#include <com/sun/star/bridge/oleautomation/SCode.hpp>

#include <com/sun/star/uno/Sequence.hxx>

#include <cstdint>
#include <cstring>
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

using Rows = css::uno::Sequence<css::uno::Sequence<Any>>;

// Element types a block may hold: what variantToAny takes, less interfaces and records.
bool blockElement(VARTYPE type) {
  switch (type) {
  case VT_VARIANT:
  case VT_EMPTY:
  case VT_NULL:
  case VT_ERROR:
  case VT_BOOL:
  case VT_UI1:
  case VT_I1:
  case VT_I2:
  case VT_UI2:
  case VT_I4:
  case VT_UI4:
  case VT_INT:
  case VT_UINT:
  case VT_I8:
  case VT_UI8:
  case VT_R4:
  case VT_R8:
  case VT_DATE:
  case VT_CY:
  case VT_BSTR:
    return true;
  default:
    return false;
  }
}

// A one- or two-dimensional array as rows of values; a one-dimensional array is one row.
HRESULT arrayToAny(SAFEARRAY *array, VARTYPE declared, Any &out) {
  if (!array)
    return E_POINTER;
  VARTYPE type = declared;
  if (SafeArrayGetVartype(array, &type) == S_OK && type != declared)
    return DISP_E_TYPEMISMATCH;
  UINT dims = SafeArrayGetDim(array);
  if ((dims != 1 && dims != 2) || !blockElement(type))
    return DISP_E_TYPEMISMATCH;
  LONG low[2] = {0, 0}, high[2] = {0, 0};
  for (UINT d = 0; d < dims; ++d)
    if (FAILED(SafeArrayGetLBound(array, d + 1, &low[d])) ||
        FAILED(SafeArrayGetUBound(array, d + 1, &high[d])))
      return DISP_E_TYPEMISMATCH;
  int64_t rows = dims == 2 ? int64_t(high[0]) - low[0] + 1 : 1;
  int64_t columns = int64_t(high[dims - 1]) - low[dims - 1] + 1;
  if (rows <= 0 || columns <= 0)
    return DISP_E_TYPEMISMATCH;
  if (rows * columns > kMostBlockCells)
    return E_OUTOFMEMORY;
  if (FAILED(SafeArrayLock(array)))
    return E_UNEXPECTED;
  HRESULT hr = S_OK;
  Rows block(static_cast<sal_Int32>(rows));
  for (sal_Int32 row = 0; row < rows && SUCCEEDED(hr); ++row) {
    auto &line = block.getArray()[row];
    line.realloc(static_cast<sal_Int32>(columns));
    for (sal_Int32 column = 0; column < columns && SUCCEEDED(hr); ++column) {
      LONG at[2] = {low[0] + row, low[1] + column};
      if (dims == 1)
        at[0] = low[0] + column;
      void *element = nullptr;
      hr = SafeArrayPtrOfIndex(array, at, &element);
      if (FAILED(hr))
        break;
      VARIANT item;
      if (type == VT_VARIANT) {
        item = *static_cast<const VARIANT *>(element);
      } else {
        VariantInit(&item);
        V_VT(&item) = type;
        // The element's bytes are the value member's: every member starts the union.
        std::memcpy(&item.llVal, element, SafeArrayGetElemsize(array));
      }
      Any &cell = line.getArray()[column];
      hr = variantToAny(item, cell);
      // Blocks hold values, not further blocks.
      if (SUCCEEDED(hr) && cell.getValueTypeClass() == css::uno::TypeClass_SEQUENCE)
        hr = DISP_E_TYPEMISMATCH;
    }
  }
  SafeArrayUnlock(array);
  if (SUCCEEDED(hr))
    out <<= block;
  return hr;
}

// Rows of values as the two-dimensional array the spreadsheet gives, bounds from 1.
HRESULT rowsToVariant(const Rows &block, VARIANT &out) {
  sal_Int32 rows = block.getLength(), columns = rows ? block[0].getLength() : 0;
  if (rows == 0 || columns == 0)
    return DISP_E_BADVARTYPE;
  SAFEARRAYBOUND bounds[2] = {{ULONG(rows), 1}, {ULONG(columns), 1}};
  SAFEARRAY *array = SafeArrayCreate(VT_VARIANT, 2, bounds);
  if (!array)
    return E_OUTOFMEMORY;
  VARIANT *data = nullptr;
  if (FAILED(SafeArrayAccessData(array, reinterpret_cast<void **>(&data)))) {
    SafeArrayDestroy(array);
    return E_UNEXPECTED;
  }
  HRESULT hr = S_OK;
  // The first dimension varies fastest in memory.
  for (sal_Int32 row = 0; row < rows && SUCCEEDED(hr); ++row) {
    if (block[row].getLength() != columns) {
      hr = DISP_E_BADVARTYPE;
      break;
    }
    for (sal_Int32 column = 0; column < columns && SUCCEEDED(hr); ++column) {
      const Any &value = block[row][column];
      if (value.getValueTypeClass() == css::uno::TypeClass_SEQUENCE)
        hr = DISP_E_BADVARTYPE;
      else
        hr = anyToVariant(value, data[size_t(column) * size_t(rows) + size_t(row)]);
    }
  }
  SafeArrayUnaccessData(array);
  if (FAILED(hr)) {
    SafeArrayDestroy(array);
    return hr;
  }
  VariantInit(&out);
  V_VT(&out) = VT_ARRAY | VT_VARIANT;
  V_ARRAY(&out) = array;
  return S_OK;
}

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
  if (type & VT_ARRAY) {
    if (byRef && !value.pparray)
      return E_POINTER;
    return arrayToAny(byRef ? *value.pparray : value.parray, type & VT_TYPEMASK, out);
  }
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
  case css::uno::TypeClass_SEQUENCE:
    if (Rows block; value >>= block)
      return rowsToVariant(block, out);
    return DISP_E_BADVARTYPE;
  default:
    return DISP_E_BADVARTYPE;
  }
  out = result;
  return S_OK;
}

} // namespace vlx::calc
