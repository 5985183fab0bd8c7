// COleVariant and COleSafeArray: VARIANTs that own their values, and value comparison.
#include <velmora/afx/ole_variant.h>

#include "framework/ole_text.h"

#include <cstring>

namespace {

bool sameVariant(const VARIANT &a, const VARIANT &b);

bool sameText(BSTR a, BSTR b) {
  UINT bytes = SysStringByteLen(a);
  return bytes == SysStringByteLen(b) && (bytes == 0 || std::memcmp(a, b, bytes) == 0);
}

// Same shape, same element type, and elements equal as values (texts by content).
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

// Windows declares the source without const; it is only read.
HRESULT copyValue(VARIANT *to, const VARIANT *from) {
  return VariantCopy(to, const_cast<VARIANT *>(from));
}

void requireArray(const VARIANT &v) {
  if (!(v.vt & VT_ARRAY))
    AfxThrowInvalidArgException();
}

} // namespace

void AfxCheckError(SCODE sc) {
  if (!FAILED(sc))
    return;
  if (sc == E_OUTOFMEMORY)
    AfxThrowMemoryException();
  AfxThrowOleException(sc);
}

// ---- COleVariant

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

// ---- COleSafeArray

COleSafeArray::COleSafeArray() noexcept : m_dwElementSize(0), m_dwDims(0) {
  VariantInit(this);
  parray = nullptr;
}

COleSafeArray::COleSafeArray(const SAFEARRAY &saSrc, VARTYPE vtSrc)
    : COleSafeArray(&saSrc, vtSrc) {}

COleSafeArray::COleSafeArray(LPCSAFEARRAY pSrc, VARTYPE vtSrc) : COleSafeArray() {
  SAFEARRAY *copy = nullptr;
  AfxCheckError(SafeArrayCopy(const_cast<SAFEARRAY *>(pSrc), &copy));
  vt = VARTYPE(vtSrc | VT_ARRAY);
  parray = copy;
  m_dwDims = GetDim();
  m_dwElementSize = GetElemSize();
}

COleSafeArray::COleSafeArray(const COleSafeArray &saSrc) : COleSafeArray() { *this = saSrc; }

COleSafeArray::COleSafeArray(const VARIANT &varSrc) : COleSafeArray() { *this = varSrc; }

COleSafeArray::COleSafeArray(LPCVARIANT pSrc) : COleSafeArray() { *this = pSrc; }

COleSafeArray::COleSafeArray(const COleVariant &varSrc) : COleSafeArray() { *this = varSrc; }

COleSafeArray::~COleSafeArray() { VariantClear(this); }

void COleSafeArray::Clear() {
  AfxCheckError(VariantClear(this));
  m_dwDims = 0;
  m_dwElementSize = 0;
}

void COleSafeArray::Attach(VARIANT &varSrc) {
  requireArray(varSrc);
  Clear();
  std::memcpy(static_cast<VARIANT *>(this), &varSrc, sizeof(VARIANT));
  varSrc.vt = VT_EMPTY;
  m_dwDims = GetDim();
  m_dwElementSize = GetElemSize();
}

VARIANT COleSafeArray::Detach() {
  VARIANT out;
  std::memcpy(&out, static_cast<VARIANT *>(this), sizeof(VARIANT));
  vt = VT_EMPTY;
  m_dwDims = 0;
  m_dwElementSize = 0;
  return out;
}

COleSafeArray &COleSafeArray::operator=(const COleSafeArray &saSrc) {
  return *this = static_cast<const VARIANT &>(saSrc);
}

COleSafeArray &COleSafeArray::operator=(const VARIANT &varSrc) {
  requireArray(varSrc);
  AfxCheckError(copyValue(this, &varSrc));
  m_dwDims = GetDim();
  m_dwElementSize = GetElemSize();
  return *this;
}

COleSafeArray &COleSafeArray::operator=(LPCVARIANT pSrc) {
  if (pSrc == nullptr)
    AfxThrowInvalidArgException();
  return *this = *pSrc;
}

COleSafeArray &COleSafeArray::operator=(const COleVariant &varSrc) {
  return *this = static_cast<const VARIANT &>(varSrc);
}

BOOL COleSafeArray::operator==(const SAFEARRAY &saSrc) const {
  return sameArray(parray, const_cast<SAFEARRAY *>(&saSrc));
}

BOOL COleSafeArray::operator==(LPCSAFEARRAY pSrc) const {
  return sameArray(parray, const_cast<SAFEARRAY *>(pSrc));
}

BOOL COleSafeArray::operator==(const COleSafeArray &saSrc) const {
  return sameVariant(*this, saSrc);
}

BOOL COleSafeArray::operator==(const VARIANT &varSrc) const { return sameVariant(*this, varSrc); }

BOOL COleSafeArray::operator==(LPCVARIANT pSrc) const {
  return pSrc != nullptr && sameVariant(*this, *pSrc);
}

BOOL COleSafeArray::operator==(const COleVariant &varSrc) const {
  return sameVariant(*this, varSrc);
}

void COleSafeArray::CreateOneDim(VARTYPE vtSrc, DWORD dwElements, const void *pvSrcData,
                                 long nLBound) {
  SAFEARRAYBOUND bound = {dwElements, LONG(nLBound)};
  Create(vtSrc, 1, &bound);
  if (pvSrcData != nullptr && dwElements != 0) {
    void *data = nullptr;
    AccessData(&data);
    std::memcpy(data, pvSrcData, size_t(GetElemSize()) * dwElements);
    UnaccessData();
  }
}

DWORD COleSafeArray::GetOneDimSize() {
  long lower = 0, upper = 0;
  GetLBound(1, &lower);
  GetUBound(1, &upper);
  return DWORD(upper + 1 - lower);
}

void COleSafeArray::ResizeOneDim(DWORD dwElements) {
  SAFEARRAYBOUND bound = {dwElements, 0};
  Redim(&bound);
}

void COleSafeArray::Create(VARTYPE vtSrc, DWORD dwDims, DWORD *rgElements) {
  if (dwDims == 0 || rgElements == nullptr)
    AfxThrowInvalidArgException();
  SAFEARRAYBOUND *bounds = new SAFEARRAYBOUND[dwDims];
  for (DWORD i = 0; i < dwDims; ++i)
    bounds[i] = {rgElements[i], 0};
  try {
    Create(vtSrc, dwDims, bounds);
  } catch (...) {
    delete[] bounds;
    throw;
  }
  delete[] bounds;
}

void COleSafeArray::Create(VARTYPE vtSrc, DWORD dwDims, SAFEARRAYBOUND *rgsabounds) {
  if (dwDims == 0 || rgsabounds == nullptr)
    AfxThrowInvalidArgException();
  Clear();
  SAFEARRAY *created = SafeArrayCreate(vtSrc, UINT(dwDims), rgsabounds);
  if (created == nullptr)
    AfxThrowMemoryException();
  vt = VARTYPE(vtSrc | VT_ARRAY);
  parray = created;
  m_dwDims = dwDims;
  m_dwElementSize = GetElemSize();
}

void COleSafeArray::AccessData(void **ppvData) {
  AfxCheckError(SafeArrayAccessData(parray, ppvData));
}

void COleSafeArray::UnaccessData() { AfxCheckError(SafeArrayUnaccessData(parray)); }

void COleSafeArray::AllocData() { AfxCheckError(SafeArrayAllocData(parray)); }

void COleSafeArray::AllocDescriptor(DWORD dwDims) {
  AfxCheckError(SafeArrayAllocDescriptor(UINT(dwDims), &parray));
  m_dwDims = dwDims;
}

void COleSafeArray::Copy(LPSAFEARRAY *ppsa) { AfxCheckError(SafeArrayCopy(parray, ppsa)); }

void COleSafeArray::GetLBound(DWORD dwDim, long *pLBound) {
  LONG bound = 0;
  AfxCheckError(SafeArrayGetLBound(parray, UINT(dwDim), &bound));
  *pLBound = bound;
}

void COleSafeArray::GetUBound(DWORD dwDim, long *pUBound) {
  LONG bound = 0;
  AfxCheckError(SafeArrayGetUBound(parray, UINT(dwDim), &bound));
  *pUBound = bound;
}

#if !defined(_WIN32)
namespace {

// The framework's long indices, as the 32-bit LONGs the array calls take. An index beyond LONG
// can name no element: it becomes one that no bound admits.
class Indices {
public:
  Indices(const SAFEARRAY *psa, const long *indices) {
    if (psa == nullptr || indices == nullptr)
      AfxThrowInvalidArgException();
    count_ = psa->cDims;
    data_ = count_ <= 8 ? local_ : new LONG[count_];
    for (UINT i = 0; i < count_; ++i)
      data_[i] = indices[i] < -0x7FFFFFFFL - 1 || indices[i] > 0x7FFFFFFFL
                     ? LONG(psa->rgsabound[psa->cDims - 1 - i].lLbound - 1)
                     : LONG(indices[i]);
  }
  ~Indices() {
    if (data_ != local_)
      delete[] data_;
  }
  Indices(const Indices &) = delete;
  Indices &operator=(const Indices &) = delete;
  LONG *get() { return data_; }

private:
  UINT count_;
  LONG local_[8];
  LONG *data_;
};

} // namespace

void COleSafeArray::GetElement(long *rgIndices, void *pvData) {
  Indices at(parray, rgIndices);
  GetElement(at.get(), pvData);
}

void COleSafeArray::PtrOfIndex(long *rgIndices, void **ppvData) {
  Indices at(parray, rgIndices);
  PtrOfIndex(at.get(), ppvData);
}

void COleSafeArray::PutElement(long *rgIndices, void *pvData) {
  Indices at(parray, rgIndices);
  PutElement(at.get(), pvData);
}

void COleSafeArray::GetLBound(DWORD dwDim, LONG *pLBound) {
  AfxCheckError(SafeArrayGetLBound(parray, UINT(dwDim), pLBound));
}

void COleSafeArray::GetUBound(DWORD dwDim, LONG *pUBound) {
  AfxCheckError(SafeArrayGetUBound(parray, UINT(dwDim), pUBound));
}

void COleSafeArray::GetElement(LONG *rgIndices, void *pvData) {
  AfxCheckError(SafeArrayGetElement(parray, rgIndices, pvData));
}

void COleSafeArray::PtrOfIndex(LONG *rgIndices, void **ppvData) {
  AfxCheckError(SafeArrayPtrOfIndex(parray, rgIndices, ppvData));
}

void COleSafeArray::PutElement(LONG *rgIndices, void *pvData) {
  AfxCheckError(SafeArrayPutElement(parray, rgIndices, pvData));
}
#else
void COleSafeArray::GetElement(long *rgIndices, void *pvData) {
  AfxCheckError(SafeArrayGetElement(parray, rgIndices, pvData));
}

void COleSafeArray::PtrOfIndex(long *rgIndices, void **ppvData) {
  AfxCheckError(SafeArrayPtrOfIndex(parray, rgIndices, ppvData));
}

void COleSafeArray::PutElement(long *rgIndices, void *pvData) {
  AfxCheckError(SafeArrayPutElement(parray, rgIndices, pvData));
}
#endif

void COleSafeArray::Redim(SAFEARRAYBOUND *psaboundNew) {
  AfxCheckError(SafeArrayRedim(parray, psaboundNew));
}

void COleSafeArray::Lock() { AfxCheckError(SafeArrayLock(parray)); }

void COleSafeArray::Unlock() { AfxCheckError(SafeArrayUnlock(parray)); }

DWORD COleSafeArray::GetDim() { return SafeArrayGetDim(parray); }

DWORD COleSafeArray::GetElemSize() { return SafeArrayGetElemsize(parray); }

void COleSafeArray::Destroy() {
  if (vt & VT_ARRAY) {
    AfxCheckError(SafeArrayDestroy(parray));
    vt = VT_EMPTY;
  }
  m_dwDims = 0;
  m_dwElementSize = 0;
}

void COleSafeArray::DestroyData() { AfxCheckError(SafeArrayDestroyData(parray)); }

void COleSafeArray::DestroyDescriptor() {
  AfxCheckError(SafeArrayDestroyDescriptor(parray));
  vt = VT_EMPTY;
}
