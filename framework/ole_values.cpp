// VARIANT values compared and copied: the value semantics COleVariant and COleSafeArray share.
#include "framework/ole_values.h"

#include <cstring>

namespace vlx::detail {

namespace {

bool sameText(BSTR a, BSTR b) {
  UINT bytes = SysStringByteLen(a);
  return bytes == SysStringByteLen(b) && (bytes == 0 || std::memcmp(a, b, bytes) == 0);
}

} // namespace

bool sameArray(SAFEARRAY *a, SAFEARRAY *b) {
  if (a == nullptr || b == nullptr)
    return a == b;
  if (a->cDims != b->cDims || a->cbElements != b->cbElements ||
      std::memcmp(a->rgsabound, b->rgsabound, a->cDims * sizeof(SAFEARRAYBOUND)) != 0)
    return false;
  VARTYPE ta = VT_EMPTY, tb = VT_EMPTY;
  if (SafeArrayGetVartype(a, &ta) != SafeArrayGetVartype(b, &tb) || ta != tb)
    return false;
  size_t count = 1;
  for (USHORT i = 0; i < a->cDims; ++i)
    count *= a->rgsabound[i].cElements;
  if (count == 0)
    return true;
  if (a->pvData == nullptr || b->pvData == nullptr)
    return a->pvData == b->pvData;
  for (size_t i = 0; i < count; ++i) {
    const unsigned char *ea = static_cast<unsigned char *>(a->pvData) + i * a->cbElements;
    const unsigned char *eb = static_cast<unsigned char *>(b->pvData) + i * b->cbElements;
    bool same;
    if (a->fFeatures & FADF_BSTR) {
      BSTR sa, sb;
      std::memcpy(&sa, ea, sizeof sa);
      std::memcpy(&sb, eb, sizeof sb);
      same = sameText(sa, sb);
    } else if (a->fFeatures & FADF_VARIANT) {
      same = sameVariant(*reinterpret_cast<const VARIANT *>(ea),
                         *reinterpret_cast<const VARIANT *>(eb));
    } else {
      same = std::memcmp(ea, eb, a->cbElements) == 0;
    }
    if (!same)
      return false;
  }
  return true;
}

bool sameVariant(const VARIANT &a, const VARIANT &b) {
  if (a.vt != b.vt)
    return false;
  if (a.vt & VT_BYREF)
    return a.byref == b.byref;
  if (a.vt & VT_ARRAY)
    return sameArray(a.parray, b.parray);
  switch (a.vt) {
  case VT_EMPTY:
  case VT_NULL:
    return true;
  case VT_I1:
  case VT_UI1:
    return a.bVal == b.bVal;
  case VT_I2:
  case VT_UI2:
  case VT_BOOL:
    return a.iVal == b.iVal;
  case VT_I4:
  case VT_UI4:
  case VT_INT:
  case VT_UINT:
  case VT_ERROR:
    return a.lVal == b.lVal;
  case VT_R4:
    return a.fltVal == b.fltVal;
  case VT_R8:
  case VT_DATE:
    return a.dblVal == b.dblVal;
  case VT_CY:
  case VT_I8:
  case VT_UI8:
    return a.llVal == b.llVal;
  case VT_BSTR:
    return sameText(a.bstrVal, b.bstrVal);
  case VT_DISPATCH:
  case VT_UNKNOWN:
    return a.punkVal == b.punkVal;
  case VT_DECIMAL:
    // The type field is the decimal's reserved word: compare what follows it.
    return std::memcmp(reinterpret_cast<const char *>(&a.decVal) + sizeof(VARTYPE),
                       reinterpret_cast<const char *>(&b.decVal) + sizeof(VARTYPE),
                       sizeof(DECIMAL) - sizeof(VARTYPE)) == 0;
  default:
    return false;
  }
}

HRESULT copyValue(VARIANT *to, const VARIANT *from) {
  return VariantCopy(to, const_cast<VARIANT *>(from));
}

} // namespace vlx::detail
