// VARIANT life cycle: VariantInit, VariantClear, VariantCopy (arrays deeply); the interface
// identifiers.
#include "platform/posix/ole/variant_types.h"

#include <cstring>

extern "C" {

const IID IID_NULL = {0x00000000, 0x0000, 0x0000, {0, 0, 0, 0, 0, 0, 0, 0}};
const IID IID_IUnknown = {0x00000000, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
const IID IID_IDispatch = {0x00020400, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
const IID IID_IClassFactory = {0x00000001, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};

void WINAPI VariantInit(VARIANTARG *pvarg) { pvarg->vt = VT_EMPTY; }

HRESULT WINAPI VariantClear(VARIANTARG *pvarg) {
  if (pvarg == nullptr)
    return E_INVALIDARG;
  if (!vlx::ole::isKnownVariantType(pvarg->vt))
    return DISP_E_BADVARTYPE;
  if ((pvarg->vt & (VT_ARRAY | VT_BYREF)) == VT_ARRAY) {
    // A locked array stays with whoever locked it; the VARIANT lets go of it all the same.
    HRESULT hr = SafeArrayDestroy(pvarg->parray);
    pvarg->vt = VT_EMPTY;
    return hr;
  } else if (!(pvarg->vt & VT_BYREF)) {
    switch (pvarg->vt) {
    case VT_BSTR:
      SysFreeString(pvarg->bstrVal);
      break;
    case VT_DISPATCH:
    case VT_UNKNOWN:
      if (pvarg->punkVal != nullptr)
        pvarg->punkVal->Release();
      break;
    default:
      break;
    }
  }
  pvarg->vt = VT_EMPTY;
  return S_OK;
}

HRESULT WINAPI VariantCopy(VARIANTARG *pvargDest, const VARIANTARG *pvargSrc) {
  if (pvargDest == nullptr || pvargSrc == nullptr)
    return E_INVALIDARG;
  if (pvargDest == pvargSrc)
    return S_OK;
  if (!vlx::ole::isKnownVariantType(pvargSrc->vt))
    return DISP_E_BADVARTYPE;
  HRESULT hr = VariantClear(pvargDest);
  if (FAILED(hr))
    return hr;
  VARIANT copy = *pvargSrc;
  if (copy.vt == VT_BSTR && copy.bstrVal != nullptr) {
    copy.bstrVal = SysAllocStringByteLen(reinterpret_cast<LPCSTR>(pvargSrc->bstrVal),
                                         SysStringByteLen(pvargSrc->bstrVal));
    if (copy.bstrVal == nullptr)
      return E_OUTOFMEMORY;
  } else if ((copy.vt & (VT_ARRAY | VT_BYREF)) == VT_ARRAY) {
    HRESULT copied = SafeArrayCopy(pvargSrc->parray, &copy.parray);
    if (FAILED(copied))
      return copied;
  } else if ((copy.vt == VT_DISPATCH || copy.vt == VT_UNKNOWN) && copy.punkVal != nullptr) {
    copy.punkVal->AddRef();
  }
  *pvargDest = copy;
  return S_OK;
}

// The value a reference points to, copied; anything else as VariantCopy copies it.
HRESULT WINAPI VariantCopyInd(VARIANT *pvarDest, const VARIANTARG *pvargSrc) {
  if (pvarDest == nullptr || pvargSrc == nullptr)
    return E_INVALIDARG;
  if (!(pvargSrc->vt & VT_BYREF))
    return VariantCopy(pvarDest, pvargSrc);
  if (!vlx::ole::isKnownVariantType(pvargSrc->vt))
    return DISP_E_BADVARTYPE;
  VARIANT target;
  VariantInit(&target);
  VARTYPE base = VARTYPE(pvargSrc->vt & ~VT_BYREF);
  if (base == VT_VARIANT) {
    if (pvargSrc->pvarVal == nullptr)
      return E_INVALIDARG;
    if (pvargSrc->pvarVal->vt == (VT_VARIANT | VT_BYREF))
      return E_INVALIDARG; // a reference to a reference
    target = *pvargSrc->pvarVal;
  } else if (pvargSrc->byref == nullptr) {
    return E_INVALIDARG;
  } else if (base & VT_ARRAY) {
    target.parray = *pvargSrc->pparray;
  } else if (base == VT_DECIMAL) {
    target.decVal = *pvargSrc->pdecVal;
  } else {
    static const unsigned char sizes[] = {
        0, 0, 2, 4, 4, 8, 8, 8, sizeof(BSTR), sizeof(void *), 4, 2, 0, sizeof(void *), 0, 0,
        1, 1, 2, 4, 8, 8, 4, 4};
    if (base >= sizeof sizes || sizes[base] == 0)
      return DISP_E_BADVARTYPE;
    std::memcpy(&target.llVal, pvargSrc->byref, sizes[base]);
  }
  target.vt = base == VT_VARIANT ? target.vt : base;
  // Copied aside first: the destination may be the source.
  VARIANT copy;
  VariantInit(&copy);
  HRESULT hr = VariantCopy(&copy, &target);
  if (FAILED(hr))
    return hr;
  VariantClear(pvarDest);
  *pvarDest = copy;
  return S_OK;
}

} // extern "C"
