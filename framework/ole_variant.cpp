// COleVariant: a VARIANT that owns its value; and AfxCheckError, which turns a failed OLE call
// into the framework's exception.
#include <velmora/afx/ole_variant.h>

#include "framework/ole_text.h"
#include "framework/ole_values.h"

#include <cstring>

using vlx::detail::copyValue;
using vlx::detail::sameVariant;

void AfxCheckError(SCODE sc) {
  if (!FAILED(sc))
    return;
  if (sc == E_OUTOFMEMORY)
    AfxThrowMemoryException();
  AfxThrowOleException(sc);
}

COleVariant::COleVariant() noexcept { VariantInit(this); }

COleVariant::COleVariant(const VARIANT &varSrc) {
  VariantInit(this);
  AfxCheckError(copyValue(this, &varSrc));
}

COleVariant::COleVariant(LPCVARIANT pSrc) {
  VariantInit(this);
  if (pSrc != nullptr)
    AfxCheckError(copyValue(this, pSrc));
}

COleVariant::COleVariant(const COleVariant &varSrc)
    : COleVariant(static_cast<LPCVARIANT>(&varSrc)) {}

COleVariant::COleVariant(LPCTSTR lpszSrc) {
  VariantInit(this);
  *this = lpszSrc;
}

COleVariant::COleVariant(LPCTSTR lpszSrc, VARTYPE vtSrc) {
  VariantInit(this);
  SetString(lpszSrc, vtSrc);
}

COleVariant::COleVariant(CString &strSrc) {
  VariantInit(this);
  *this = strSrc;
}

COleVariant::COleVariant(BYTE nSrc) noexcept {
  vt = VT_UI1;
  bVal = nSrc;
}

COleVariant::COleVariant(short nSrc, VARTYPE vtSrc) {
  if (vtSrc != VT_I2 && vtSrc != VT_BOOL)
    AfxThrowInvalidArgException();
  vt = vtSrc;
  if (vtSrc == VT_BOOL)
    boolVal = nSrc ? VARIANT_TRUE : VARIANT_FALSE;
  else
    iVal = nSrc;
}

namespace {
// Only where long is wider than LONG.
bool beyondLong32(long value) { return value != long(LONG(value)); }
} // namespace

COleVariant::COleVariant(long lSrc, VARTYPE vtSrc) {
  if (vtSrc != VT_I4 && vtSrc != VT_ERROR && vtSrc != VT_BOOL)
    AfxThrowInvalidArgException();
  if (vtSrc == VT_I4 && beyondLong32(lSrc)) {
    vt = VT_I8;
    llVal = lSrc;
    return;
  }
  vt = vtSrc;
  if (vtSrc == VT_BOOL)
    boolVal = lSrc ? VARIANT_TRUE : VARIANT_FALSE;
  else
    lVal = LONG(lSrc);
}

#if defined(_WIN32)
COleVariant::COleVariant(LONGLONG nSrc) noexcept {
  vt = VT_I8;
  llVal = nSrc;
}
#else
COleVariant::COleVariant(LONG lSrc, VARTYPE vtSrc) : COleVariant(long(lSrc), vtSrc) {}

COleVariant::COleVariant(long long nSrc) noexcept {
  vt = VT_I8;
  llVal = nSrc;
}
#endif

COleVariant::COleVariant(ULONGLONG nSrc) noexcept {
  vt = VT_UI8;
  ullVal = nSrc;
}

COleVariant::COleVariant(float fltSrc) noexcept {
  vt = VT_R4;
  fltVal = fltSrc;
}

COleVariant::COleVariant(double dblSrc) noexcept {
  vt = VT_R8;
  dblVal = dblSrc;
}

COleVariant::~COleVariant() { VariantClear(this); }

void COleVariant::Clear() { AfxCheckError(VariantClear(this)); }

void COleVariant::ChangeType(VARTYPE vartype, LPVARIANT pSrc) {
  if (pSrc == nullptr)
    pSrc = this;
  if (pSrc != this || vartype != vt)
    AfxCheckError(VariantChangeType(this, pSrc, 0, vartype));
}

void COleVariant::Attach(VARIANT &varSrc) {
  Clear();
  std::memcpy(static_cast<VARIANT *>(this), &varSrc, sizeof(VARIANT));
  varSrc.vt = VT_EMPTY;
}

VARIANT COleVariant::Detach() {
  VARIANT out;
  std::memcpy(&out, static_cast<VARIANT *>(this), sizeof(VARIANT));
  vt = VT_EMPTY;
  return out;
}

void COleVariant::SetString(LPCTSTR lpszSrc, VARTYPE vtSrc) {
  if (vtSrc != VT_BSTR && vtSrc != VT_BSTRT)
    AfxThrowInvalidArgException();
  BSTR text;
  if (vtSrc == VT_BSTRT && lpszSrc != nullptr) {
    text = SysAllocStringByteLen(lpszSrc, UINT(std::strlen(lpszSrc)));
    if (text == nullptr)
      AfxThrowMemoryException();
  } else {
    text = vlx::detail::narrowToBstr(lpszSrc);
  }
  VariantClear(this);
  vt = VT_BSTR;
  bstrVal = text;
}

BOOL COleVariant::operator==(const VARIANT &varSrc) const { return sameVariant(*this, varSrc); }

BOOL COleVariant::operator==(LPCVARIANT pSrc) const {
  return pSrc != nullptr && sameVariant(*this, *pSrc);
}

const COleVariant &COleVariant::operator=(const VARIANT &varSrc) {
  AfxCheckError(copyValue(this, &varSrc));
  return *this;
}

const COleVariant &COleVariant::operator=(LPCVARIANT pSrc) {
  if (pSrc == nullptr)
    Clear();
  else
    AfxCheckError(copyValue(this, pSrc));
  return *this;
}

const COleVariant &COleVariant::operator=(const COleVariant &varSrc) {
  return *this = static_cast<LPCVARIANT>(&varSrc);
}

const COleVariant &COleVariant::operator=(const LPCTSTR lpszSrc) {
  SetString(lpszSrc, VT_BSTR);
  return *this;
}

const COleVariant &COleVariant::operator=(const CString &strSrc) {
  SetString(strSrc, VT_BSTR);
  return *this;
}

const COleVariant &COleVariant::operator=(BYTE nSrc) {
  if (vt != VT_UI1) {
    Clear();
    vt = VT_UI1;
  }
  bVal = nSrc;
  return *this;
}

const COleVariant &COleVariant::operator=(short nSrc) {
  if (vt == VT_BOOL) {
    boolVal = nSrc ? VARIANT_TRUE : VARIANT_FALSE;
    return *this;
  }
  if (vt != VT_I2) {
    Clear();
    vt = VT_I2;
  }
  iVal = nSrc;
  return *this;
}

const COleVariant &COleVariant::operator=(long lSrc) {
  if (beyondLong32(lSrc)) {
    if (vt != VT_I8) {
      Clear();
      vt = VT_I8;
    }
    llVal = lSrc;
  } else if (vt == VT_BOOL) {
    boolVal = lSrc ? VARIANT_TRUE : VARIANT_FALSE;
  } else if (vt == VT_ERROR) {
    scode = SCODE(lSrc);
  } else {
    if (vt != VT_I4) {
      Clear();
      vt = VT_I4;
    }
    lVal = LONG(lSrc);
  }
  return *this;
}

#if defined(_WIN32)
const COleVariant &COleVariant::operator=(LONGLONG nSrc) {
#else
const COleVariant &COleVariant::operator=(LONG lSrc) { return *this = long(lSrc); }

const COleVariant &COleVariant::operator=(long long nSrc) {
#endif
  if (vt != VT_I8) {
    Clear();
    vt = VT_I8;
  }
  llVal = nSrc;
  return *this;
}

const COleVariant &COleVariant::operator=(ULONGLONG nSrc) {
  if (vt != VT_UI8) {
    Clear();
    vt = VT_UI8;
  }
  ullVal = nSrc;
  return *this;
}

const COleVariant &COleVariant::operator=(float fltSrc) {
  if (vt != VT_R4) {
    Clear();
    vt = VT_R4;
  }
  fltVal = fltSrc;
  return *this;
}

const COleVariant &COleVariant::operator=(double dblSrc) {
  if (vt != VT_R8) {
    Clear();
    vt = VT_R8;
  }
  dblVal = dblSrc;
  return *this;
}
