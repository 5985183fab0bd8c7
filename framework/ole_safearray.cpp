// COleSafeArray: a VARIANT that owns an array, and the SAFEARRAY calls as members that throw.
#include <velmora/afx/ole_variant.h>

#include "framework/ole_values.h"

#include <cstring>

using vlx::detail::copyValue;
using vlx::detail::sameArray;
using vlx::detail::sameVariant;

namespace {

void requireArray(const VARIANT &v) {
  if (!(v.vt & VT_ARRAY))
    AfxThrowInvalidArgException();
}

} // namespace

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
