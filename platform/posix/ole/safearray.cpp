// SAFEARRAY: descriptors, element storage, locks and element copies with Windows' rules.
#include "platform/posix/ole/variant_types.h"

#include <cstdlib>
#include <cstring>

namespace {

// Sixteen bytes before every descriptor hold what Windows keeps there: the interface identifier
// (FADF_HAVEIID), or the element type as a DWORD in the last four bytes (FADF_HAVEVARTYPE).
constexpr size_t kPrefix = 16;
constexpr USHORT kUnowned = FADF_AUTO | FADF_STATIC | FADF_EMBEDDED;
constexpr ULONG kMaxLocks = 0xFFFF;

size_t descriptorSize(UINT dims) { return sizeof(SAFEARRAY) + (dims - 1) * sizeof(SAFEARRAYBOUND); }

unsigned char *prefixOf(SAFEARRAY *psa) { return reinterpret_cast<unsigned char *>(psa) - kPrefix; }

// Where a vector's elements start: right after its one-dimensional descriptor.
void *vectorData(SAFEARRAY *psa) {
  return reinterpret_cast<unsigned char *>(psa) + descriptorSize(psa->cDims);
}

bool ownsData(SAFEARRAY *psa) {
  return !(psa->fFeatures & kUnowned) && psa->pvData != vectorData(psa);
}

USHORT featuresFor(VARTYPE vt) {
  switch (vt) {
  case VT_BSTR:
    return FADF_HAVEVARTYPE | FADF_BSTR;
  case VT_VARIANT:
    return FADF_HAVEVARTYPE | FADF_VARIANT;
  case VT_UNKNOWN:
    return FADF_HAVEIID | FADF_UNKNOWN;
  case VT_DISPATCH:
    return FADF_HAVEIID | FADF_DISPATCH;
  default:
    return FADF_HAVEVARTYPE;
  }
}

void storeType(SAFEARRAY *psa, VARTYPE vt) {
  unsigned char *prefix = prefixOf(psa);
  if (psa->fFeatures & FADF_HAVEIID) {
    const IID &iid = vt == VT_DISPATCH ? IID_IDispatch : IID_IUnknown;
    std::memcpy(prefix, &iid, sizeof(IID));
  } else {
    DWORD stored = vt;
    std::memcpy(prefix + kPrefix - sizeof(DWORD), &stored, sizeof(DWORD));
  }
}

// Beyond any address space a process has: refused before it is asked for.
bool fits(size_t count, ULONG size) {
  size_t bytes;
  return !__builtin_mul_overflow(count, size_t(size), &bytes) && bytes <= size_t(0x7FFFFFFFFFFF);
}

// False when the count does not fit in memory's terms.
bool elementCount(const SAFEARRAY *psa, size_t &count) {
  count = 1;
  for (USHORT i = 0; i < psa->cDims; ++i)
    if (__builtin_mul_overflow(count, size_t(psa->rgsabound[i].cElements), &count))
      return false;
  return fits(count, psa->cbElements);
}

unsigned char *elementAt(SAFEARRAY *psa, size_t index) {
  return static_cast<unsigned char *>(psa->pvData) + index * psa->cbElements;
}

// Releases what the elements own. Only elements that own something are read: the untouched
// pages of a large array are never brought in.
void releaseElements(SAFEARRAY *psa, size_t first, size_t count) {
  if (!(psa->fFeatures & (FADF_BSTR | FADF_UNKNOWN | FADF_DISPATCH | FADF_VARIANT)))
    return;
  for (size_t i = first; i < first + count; ++i) {
    unsigned char *element = elementAt(psa, i);
    if (psa->fFeatures & FADF_BSTR) {
      BSTR text;
      std::memcpy(&text, element, sizeof text);
      SysFreeString(text);
    } else if (psa->fFeatures & (FADF_UNKNOWN | FADF_DISPATCH)) {
      IUnknown *object;
      std::memcpy(&object, element, sizeof object);
      if (object != nullptr)
        object->Release();
    } else {
      VariantClear(reinterpret_cast<VARIANT *>(element));
    }
  }
}

// Releases what the elements own and zeroes them, for storage that stays in use.
void clearElements(SAFEARRAY *psa, size_t first, size_t count) {
  releaseElements(psa, first, count);
  if (count != 0)
    std::memset(elementAt(psa, first), 0, count * psa->cbElements);
}

// Copies `count` elements into zeroed storage, taking copies of what they own.
HRESULT copyElements(USHORT features, ULONG size, unsigned char *to, const unsigned char *from,
                     size_t count) {
  if (!(features & (FADF_BSTR | FADF_UNKNOWN | FADF_DISPATCH | FADF_VARIANT))) {
    if (count != 0)
      std::memcpy(to, from, count * size);
    return S_OK;
  }
  for (size_t i = 0; i < count; ++i, to += size, from += size) {
    if (features & FADF_BSTR) {
      BSTR text, copy = nullptr;
      std::memcpy(&text, from, sizeof text);
      if (text != nullptr) {
        copy = SysAllocStringByteLen(reinterpret_cast<LPCSTR>(text), SysStringByteLen(text));
        if (copy == nullptr)
          return E_OUTOFMEMORY;
      }
      std::memcpy(to, &copy, sizeof copy);
    } else if (features & (FADF_UNKNOWN | FADF_DISPATCH)) {
      IUnknown *object;
      std::memcpy(&object, from, sizeof object);
      if (object != nullptr)
        object->AddRef();
      std::memcpy(to, &object, sizeof object);
    } else {
      HRESULT hr =
          VariantCopy(reinterpret_cast<VARIANT *>(to), reinterpret_cast<const VARIANT *>(from));
      if (FAILED(hr))
        return hr;
    }
  }
  return S_OK;
}

// The element's offset: the first index varies fastest, and its bounds are stored last.
HRESULT offsetOf(const SAFEARRAY *psa, const LONG *indices, size_t &offset) {
  offset = 0;
  size_t stride = 1;
  for (USHORT d = 0; d < psa->cDims; ++d) {
    const SAFEARRAYBOUND &bound = psa->rgsabound[psa->cDims - 1 - d];
    long long position = static_cast<long long>(indices[d]) - bound.lLbound;
    if (position < 0 || position >= static_cast<long long>(bound.cElements))
      return DISP_E_BADINDEX;
    offset += size_t(position) * stride;
    stride *= bound.cElements;
  }
  return S_OK;
}

// Zeroed element storage; never a null pointer, also for no elements: the data exists.
void *newData(size_t count, ULONG size) {
  return std::calloc(count != 0 ? count : 1, size != 0 ? size : 1);
}

SAFEARRAY *newDescriptor(UINT dims, size_t dataBytes) {
  size_t total = kPrefix + descriptorSize(dims) + dataBytes;
  auto *block = static_cast<unsigned char *>(std::calloc(1, total));
  if (block == nullptr)
    return nullptr;
  auto *psa = reinterpret_cast<SAFEARRAY *>(block + kPrefix);
  psa->cDims = USHORT(dims);
  return psa;
}

// The element at the indices, with the array locked for the caller to unlock.
HRESULT lockElement(SAFEARRAY *psa, LONG *indices, void **element) {
  HRESULT hr = SafeArrayPtrOfIndex(psa, indices, element);
  return FAILED(hr) ? hr : SafeArrayLock(psa);
}

} // namespace

namespace vlx::ole {

ULONG safeArrayElementSize(VARTYPE vt) {
  switch (vt) {
  case VT_I1:
  case VT_UI1:
    return 1;
  case VT_I2:
  case VT_UI2:
  case VT_BOOL:
    return 2;
  case VT_I4:
  case VT_UI4:
  case VT_R4:
  case VT_ERROR:
  case VT_INT:
  case VT_UINT:
    return 4;
  case VT_R8:
  case VT_CY:
  case VT_DATE:
  case VT_I8:
  case VT_UI8:
    return 8;
  case VT_BSTR:
  case VT_DISPATCH:
  case VT_UNKNOWN:
  case VT_INT_PTR:
  case VT_UINT_PTR:
    return sizeof(void *);
  case VT_VARIANT:
    return sizeof(VARIANT);
  case VT_DECIMAL:
    return sizeof(DECIMAL);
  default:
    return 0;
  }
}

} // namespace vlx::ole

extern "C" {

HRESULT WINAPI SafeArrayAllocDescriptor(UINT cDims, SAFEARRAY **ppsaOut) {
  if (ppsaOut == nullptr)
    return E_POINTER;
  if (cDims == 0 || cDims > 0xFFFF)
    return E_INVALIDARG;
  *ppsaOut = newDescriptor(cDims, 0);
  return *ppsaOut != nullptr ? S_OK : E_OUTOFMEMORY;
}

HRESULT WINAPI SafeArrayAllocData(SAFEARRAY *psa) {
  if (psa == nullptr)
    return E_INVALIDARG;
  size_t count;
  if (!elementCount(psa, count))
    return E_OUTOFMEMORY;
  void *data = newData(count, psa->cbElements);
  if (data == nullptr)
    return E_OUTOFMEMORY;
  psa->pvData = data;
  return S_OK;
}

SAFEARRAY *WINAPI SafeArrayCreate(VARTYPE vt, UINT cDims, SAFEARRAYBOUND *rgsabound) {
  ULONG size = vlx::ole::safeArrayElementSize(vt);
  if (size == 0 || rgsabound == nullptr || cDims == 0 || cDims > 0xFFFF)
    return nullptr;
  SAFEARRAY *psa = newDescriptor(cDims, 0);
  if (psa == nullptr)
    return nullptr;
  psa->fFeatures = featuresFor(vt);
  psa->cbElements = size;
  storeType(psa, vt);
  for (UINT i = 0; i < cDims; ++i)
    psa->rgsabound[cDims - 1 - i] = rgsabound[i];
  if (FAILED(SafeArrayAllocData(psa))) {
    SafeArrayDestroyDescriptor(psa);
    return nullptr;
  }
  return psa;
}

SAFEARRAY *WINAPI SafeArrayCreateVector(VARTYPE vt, LONG lLbound, ULONG cElements) {
  ULONG size = vlx::ole::safeArrayElementSize(vt);
  if (size == 0)
    return nullptr;
  if (!fits(cElements, size))
    return nullptr;
  SAFEARRAY *psa = newDescriptor(1, size_t(cElements) * size);
  if (psa == nullptr)
    return nullptr;
  psa->fFeatures = USHORT(featuresFor(vt) | FADF_CREATEVECTOR);
  psa->cbElements = size;
  storeType(psa, vt);
  psa->rgsabound[0] = {cElements, lLbound};
  psa->pvData = vectorData(psa);
  return psa;
}

HRESULT WINAPI SafeArrayDestroyData(SAFEARRAY *psa) {
  if (psa == nullptr)
    return E_INVALIDARG;
  if (psa->cLocks != 0)
    return DISP_E_ARRAYISLOCKED;
  if (psa->pvData == nullptr)
    return S_OK;
  size_t count;
  if (!elementCount(psa, count))
    count = 0;
  // Storage the array does not own, or shares with its descriptor, stays where it is, zeroed;
  // its own is freed as it is.
  if (ownsData(psa)) {
    releaseElements(psa, 0, count);
    std::free(psa->pvData);
    psa->pvData = nullptr;
  } else {
    clearElements(psa, 0, count);
  }
  return S_OK;
}

HRESULT WINAPI SafeArrayDestroyDescriptor(SAFEARRAY *psa) {
  if (psa == nullptr)
    return S_OK;
  if (psa->cLocks != 0)
    return DISP_E_ARRAYISLOCKED;
  std::free(prefixOf(psa));
  return S_OK;
}

HRESULT WINAPI SafeArrayDestroy(SAFEARRAY *psa) {
  if (psa == nullptr)
    return S_OK;
  // Checks the locks before anything is released.
  HRESULT hr = SafeArrayDestroyData(psa);
  return FAILED(hr) ? hr : SafeArrayDestroyDescriptor(psa);
}

UINT WINAPI SafeArrayGetDim(SAFEARRAY *psa) { return psa != nullptr ? psa->cDims : 0; }

UINT WINAPI SafeArrayGetElemsize(SAFEARRAY *psa) { return psa != nullptr ? psa->cbElements : 0; }

HRESULT WINAPI SafeArrayGetLBound(SAFEARRAY *psa, UINT nDim, LONG *plLbound) {
  if (psa == nullptr || plLbound == nullptr)
    return E_INVALIDARG;
  if (nDim == 0 || nDim > psa->cDims)
    return DISP_E_BADINDEX;
  *plLbound = psa->rgsabound[psa->cDims - nDim].lLbound;
  return S_OK;
}

HRESULT WINAPI SafeArrayGetUBound(SAFEARRAY *psa, UINT nDim, LONG *plUbound) {
  if (psa == nullptr || plUbound == nullptr)
    return E_INVALIDARG;
  if (nDim == 0 || nDim > psa->cDims)
    return DISP_E_BADINDEX;
  const SAFEARRAYBOUND &bound = psa->rgsabound[psa->cDims - nDim];
  *plUbound = LONG(int64_t(bound.lLbound) + bound.cElements - 1);
  return S_OK;
}

HRESULT WINAPI SafeArrayGetVartype(SAFEARRAY *psa, VARTYPE *pvt) {
  if (psa == nullptr || pvt == nullptr)
    return E_INVALIDARG;
  if (psa->fFeatures & FADF_RECORD) {
    *pvt = VT_RECORD;
  } else if (psa->fFeatures & FADF_HAVEIID) {
    *pvt = (psa->fFeatures & FADF_DISPATCH) ? VT_DISPATCH : VT_UNKNOWN;
  } else if (psa->fFeatures & FADF_HAVEVARTYPE) {
    DWORD stored;
    std::memcpy(&stored, prefixOf(psa) + kPrefix - sizeof(DWORD), sizeof stored);
    *pvt = VARTYPE(stored);
  } else {
    return E_INVALIDARG;
  }
  return S_OK;
}

HRESULT WINAPI SafeArrayLock(SAFEARRAY *psa) {
  if (psa == nullptr)
    return E_INVALIDARG;
  if (__atomic_add_fetch(&psa->cLocks, 1, __ATOMIC_ACQ_REL) > kMaxLocks) {
    __atomic_sub_fetch(&psa->cLocks, 1, __ATOMIC_ACQ_REL);
    return E_UNEXPECTED;
  }
  return S_OK;
}

HRESULT WINAPI SafeArrayUnlock(SAFEARRAY *psa) {
  if (psa == nullptr)
    return E_INVALIDARG;
  ULONG locks = __atomic_load_n(&psa->cLocks, __ATOMIC_ACQUIRE);
  do {
    if (locks == 0)
      return E_UNEXPECTED;
  } while (!__atomic_compare_exchange_n(&psa->cLocks, &locks, locks - 1, false, __ATOMIC_ACQ_REL,
                                        __ATOMIC_ACQUIRE));
  return S_OK;
}

HRESULT WINAPI SafeArrayAccessData(SAFEARRAY *psa, void **ppvData) {
  if (psa == nullptr || ppvData == nullptr)
    return E_INVALIDARG;
  HRESULT hr = SafeArrayLock(psa);
  *ppvData = SUCCEEDED(hr) ? psa->pvData : nullptr;
  return hr;
}

HRESULT WINAPI SafeArrayUnaccessData(SAFEARRAY *psa) { return SafeArrayUnlock(psa); }

HRESULT WINAPI SafeArrayPtrOfIndex(SAFEARRAY *psa, LONG *rgIndices, void **ppvData) {
  if (psa == nullptr || rgIndices == nullptr || ppvData == nullptr)
    return E_INVALIDARG;
  size_t offset;
  HRESULT hr = offsetOf(psa, rgIndices, offset);
  if (FAILED(hr))
    return hr;
  if (psa->pvData == nullptr)
    return E_UNEXPECTED;
  *ppvData = elementAt(psa, offset);
  return S_OK;
}

HRESULT WINAPI SafeArrayPutElement(SAFEARRAY *psa, LONG *rgIndices, void *pv) {
  if (psa == nullptr || rgIndices == nullptr)
    return E_INVALIDARG;
  // A null BSTR or interface is a value; anything else is passed by its address.
  if (pv == nullptr && !(psa->fFeatures & (FADF_BSTR | FADF_UNKNOWN | FADF_DISPATCH)))
    return E_INVALIDARG;
  void *element;
  HRESULT hr = lockElement(psa, rgIndices, &element);
  if (FAILED(hr))
    return hr;
  auto *slot = static_cast<unsigned char *>(element);
  if (psa->fFeatures & FADF_VARIANT) {
    hr = VariantCopy(static_cast<VARIANT *>(element), static_cast<const VARIANT *>(pv));
  } else if (psa->fFeatures & (FADF_BSTR | FADF_UNKNOWN | FADF_DISPATCH)) {
    // The value itself is passed: copy it aside, then replace the old one.
    unsigned char copy[sizeof(void *)] = {};
    hr = copyElements(psa->fFeatures, sizeof(void *), copy,
                      reinterpret_cast<const unsigned char *>(&pv), 1);
    // A null text put is stored as an empty one, as Windows stores it.
    if (SUCCEEDED(hr) && pv == nullptr && (psa->fFeatures & FADF_BSTR)) {
      BSTR empty = SysAllocStringLen(nullptr, 0);
      if (empty == nullptr)
        hr = E_OUTOFMEMORY;
      std::memcpy(copy, &empty, sizeof empty);
    }
    if (SUCCEEDED(hr)) {
      clearElements(psa, size_t(slot - static_cast<unsigned char *>(psa->pvData)) / psa->cbElements,
                    1);
      std::memcpy(slot, copy, sizeof copy);
    }
  } else {
    std::memcpy(slot, pv, psa->cbElements);
  }
  SafeArrayUnlock(psa);
  return hr;
}

HRESULT WINAPI SafeArrayGetElement(SAFEARRAY *psa, LONG *rgIndices, void *pv) {
  if (psa == nullptr || rgIndices == nullptr || pv == nullptr)
    return E_INVALIDARG;
  void *element;
  HRESULT hr = lockElement(psa, rgIndices, &element);
  if (FAILED(hr))
    return hr;
  // The destination is the caller's fresh storage: whatever it held is not released.
  if (psa->fFeatures & FADF_VARIANT)
    VariantInit(static_cast<VARIANT *>(pv));
  hr = copyElements(psa->fFeatures, psa->cbElements, static_cast<unsigned char *>(pv),
                    static_cast<const unsigned char *>(element), 1);
  SafeArrayUnlock(psa);
  return hr;
}

HRESULT WINAPI SafeArrayCopy(SAFEARRAY *psa, SAFEARRAY **ppsaOut) {
  if (ppsaOut == nullptr)
    return E_INVALIDARG;
  *ppsaOut = nullptr;
  if (psa == nullptr)
    return S_OK;
  if (psa->cbElements == 0)
    return E_INVALIDARG;
  SAFEARRAY *copy = newDescriptor(psa->cDims, 0);
  if (copy == nullptr)
    return E_OUTOFMEMORY;
  std::memcpy(prefixOf(copy), prefixOf(psa), kPrefix);
  copy->fFeatures = USHORT(psa->fFeatures & ~(kUnowned | FADF_FIXEDSIZE | FADF_CREATEVECTOR));
  copy->cbElements = psa->cbElements;
  std::memcpy(copy->rgsabound, psa->rgsabound, psa->cDims * sizeof(SAFEARRAYBOUND));
  if (psa->pvData != nullptr) {
    HRESULT hr = SafeArrayAllocData(copy);
    size_t count = 0;
    if (SUCCEEDED(hr) && elementCount(psa, count))
      hr = copyElements(psa->fFeatures, psa->cbElements, static_cast<unsigned char *>(copy->pvData),
                        static_cast<const unsigned char *>(psa->pvData), count);
    if (FAILED(hr)) {
      SafeArrayDestroy(copy);
      return hr;
    }
  }
  *ppsaOut = copy;
  return S_OK;
}

HRESULT WINAPI SafeArrayRedim(SAFEARRAY *psa, SAFEARRAYBOUND *psaboundNew) {
  if (psa == nullptr || psaboundNew == nullptr)
    return E_INVALIDARG;
  if (psa->cLocks != 0)
    return DISP_E_ARRAYISLOCKED;
  if (psa->fFeatures & FADF_FIXEDSIZE)
    return DISP_E_ARRAYISLOCKED;
  // The right-most dimension is the outermost in memory: its elements are whole slices.
  SAFEARRAYBOUND &last = psa->rgsabound[0];
  size_t slice = 1, oldCount, newCount;
  for (USHORT i = 1; i < psa->cDims; ++i)
    if (__builtin_mul_overflow(slice, size_t(psa->rgsabound[i].cElements), &slice))
      return E_OUTOFMEMORY;
  if (__builtin_mul_overflow(slice, size_t(last.cElements), &oldCount) ||
      __builtin_mul_overflow(slice, size_t(psaboundNew->cElements), &newCount) ||
      !fits(newCount, psa->cbElements))
    return E_OUTOFMEMORY;
  if (psa->pvData != nullptr && newCount != oldCount) {
    void *data = newData(newCount, psa->cbElements);
    if (data == nullptr)
      return E_OUTOFMEMORY;
    if (newCount < oldCount)
      (ownsData(psa) ? releaseElements : clearElements)(psa, newCount, oldCount - newCount);
    size_t kept = newCount < oldCount ? newCount : oldCount;
    if (kept != 0)
      std::memcpy(data, psa->pvData, kept * psa->cbElements);
    if (ownsData(psa))
      std::free(psa->pvData);
    psa->pvData = data;
  }
  last = *psaboundNew;
  return S_OK;
}

} // extern "C"
