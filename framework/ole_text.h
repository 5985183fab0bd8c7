// Narrow text as BSTRs, for the framework's OLE classes.
#pragma once

#include <velmora/afx/string.h>
#include <velmora/win32.h>

namespace vlx::detail {

// Narrow text as a new BSTR; a null pointer gives a null BSTR. Throws CMemoryException when
// memory runs out.
BSTR narrowToBstr(LPCSTR text);
// The BSTR's text as narrow text; takes the BSTR over and frees it.
CString takeBstrAsNarrow(BSTR text);

// Narrow text through one of the Var*FromStr conversions into `out`; false for no text, or text
// that does not convert (`out` is then untouched).
template <typename T, typename FromStr>
bool fromNarrowText(LPCSTR text, LCID lcid, DWORD flags, FromStr fromStr, T *out) {
  if (text == nullptr)
    return false;
  BSTR wide = narrowToBstr(text);
  T value;
  HRESULT hr = fromStr(wide, lcid, flags, &value);
  SysFreeString(wide);
  if (FAILED(hr))
    return false;
  *out = value;
  return true;
}

// `value` as narrow text through one of the VarBstrFrom* conversions, or `invalid` when it does
// not convert.
template <typename T, typename ToBstr>
CString toNarrowText(const T &value, LCID lcid, DWORD flags, ToBstr toBstr, const char *invalid) {
  BSTR text = nullptr;
  if (FAILED(toBstr(value, lcid, flags, &text)))
    return CString(invalid);
  return takeBstrAsNarrow(text);
}

} // namespace vlx::detail
