// COleDispatchDriver: owning an IDispatch pointer and calling it by DISPID.
#include <velmora/afx/ole.h>

#include "framework/ole_text.h"

#include <cstring>

namespace vlx::detail {

BSTR narrowToBstr(LPCSTR text) {
  if (text == nullptr)
    return nullptr;
  int units = MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
  BSTR out = SysAllocStringLen(nullptr, UINT(units > 0 ? units - 1 : 0));
  if (out == nullptr)
    AfxThrowMemoryException();
  if (units > 1)
    MultiByteToWideChar(CP_ACP, 0, text, -1, out, units);
  return out;
}

} // namespace vlx::detail

namespace {

using vlx::detail::narrowToBstr;

// Parameter type byte 0x0E: narrow text that travels as a BSTR.
constexpr BYTE kNarrowText = 0x0E;
// Parameter type bit for an argument passed by reference.
constexpr BYTE kByRef = 0x40;

BSTR wideToBstr(LPCOLESTR text) {
  BSTR out = SysAllocString(text);
  if (text != nullptr && out == nullptr)
    AfxThrowMemoryException();
  return out;
}

// The argument array: filled from its last element, as Invoke expects the first argument
// there; whatever happens, the strings it made are freed and the array with them.
class Arguments {
public:
  Arguments(const BYTE *paramInfo, UINT count) : paramInfo_(paramInfo), count_(count) {
    if (count_ != 0) {
      args_ = new VARIANT[count_];
      std::memset(static_cast<void *>(args_), 0, sizeof(VARIANT) * count_);
    }
  }
  // Only the strings made here: a VARIANT argument's string stays the caller's.
  ~Arguments() {
    for (UINT i = 0; i < filled_; ++i)
      if (paramInfo_[i] == VT_BSTR || paramInfo_[i] == kNarrowText)
        VariantClear(&args_[count_ - 1 - i]);
    delete[] args_;
  }
  Arguments(const Arguments &) = delete;
  Arguments &operator=(const Arguments &) = delete;

  VARIANT *data() { return args_; }

  void fill(va_list &argList) {
    for (; filled_ < count_; ++filled_) {
      VARIANT &arg = args_[count_ - 1 - filled_];
      BYTE code = paramInfo_[filled_];
      if (code & kByRef) {
        takeByReference(arg, VARTYPE(code & ~kByRef), argList);
        continue;
      }
      arg.vt = code == kNarrowText ? VARTYPE(VT_BSTR) : VARTYPE(code);
      switch (code) {
      case VT_UI1:
        arg.bVal = BYTE(va_arg(argList, int));
        break;
      case VT_I1:
        arg.cVal = CHAR(va_arg(argList, int));
        break;
      case VT_I2:
        arg.iVal = SHORT(va_arg(argList, int));
        break;
      case VT_UI2:
        arg.uiVal = USHORT(va_arg(argList, int));
        break;
      case VT_I4:
        arg.lVal = va_arg(argList, LONG);
        break;
      case VT_UI4:
        arg.ulVal = va_arg(argList, ULONG);
        break;
      case VT_I8:
        arg.llVal = va_arg(argList, LONGLONG);
        break;
      case VT_UI8:
        arg.ullVal = va_arg(argList, ULONGLONG);
        break;
      case VT_R4:
        arg.fltVal = FLOAT(va_arg(argList, double));
        break;
      case VT_R8:
      case VT_DATE:
        arg.dblVal = va_arg(argList, double);
        break;
      case VT_CY:
        arg.cyVal = *va_arg(argList, CY *);
        break;
      case VT_BSTR:
        arg.vt = VT_EMPTY; // stays so if the allocation throws
        arg.bstrVal = wideToBstr(va_arg(argList, LPCOLESTR));
        arg.vt = VT_BSTR;
        break;
      case kNarrowText:
        arg.vt = VT_EMPTY;
        arg.bstrVal = narrowToBstr(va_arg(argList, LPCSTR));
        arg.vt = VT_BSTR;
        break;
      case VT_DISPATCH:
      case VT_UNKNOWN:
        arg.punkVal = va_arg(argList, IUnknown *);
        break;
      case VT_ERROR:
        arg.scode = va_arg(argList, SCODE);
        break;
      case VT_BOOL:
        arg.boolVal = va_arg(argList, BOOL) ? VARIANT_TRUE : VARIANT_FALSE;
        break;
      case VT_VARIANT:
        arg = *va_arg(argList, const VARIANT *);
        break;
      default:
        arg.vt = VT_EMPTY;
        AfxThrowNotSupportedException();
      }
    }
  }

private:
  static void takeByReference(VARIANT &arg, VARTYPE base, va_list &argList) {
    arg.vt = VARTYPE(base | VT_BYREF);
    if (base == VT_BOOL) {
      // A BOOL in the caller's hands, rewritten in place as the 16-bit Boolean it points to.
      BOOL *value = va_arg(argList, BOOL *);
      *value = *value ? -1 : 0;
      arg.byref = value;
    } else {
      arg.byref = va_arg(argList, void *);
    }
  }

  const BYTE *paramInfo_;
  UINT count_;
  UINT filled_ = 0;
  VARIANT *args_ = nullptr;
};

} // namespace

COleDispatchDriver::COleDispatchDriver() noexcept : m_lpDispatch(nullptr), m_bAutoRelease(TRUE) {}

COleDispatchDriver::COleDispatchDriver(LPDISPATCH lpDispatch, BOOL bAutoRelease) noexcept
    : m_lpDispatch(lpDispatch), m_bAutoRelease(bAutoRelease) {}

COleDispatchDriver::COleDispatchDriver(const COleDispatchDriver &dispatchSrc) noexcept
    : m_lpDispatch(dispatchSrc.m_lpDispatch), m_bAutoRelease(TRUE) {
  if (m_lpDispatch != nullptr)
    m_lpDispatch->AddRef();
}

COleDispatchDriver::~COleDispatchDriver() { ReleaseDispatch(); }

const COleDispatchDriver &COleDispatchDriver::operator=(const COleDispatchDriver &dispatchSrc) {
  if (this != &dispatchSrc) {
    LPDISPATCH other = dispatchSrc.m_lpDispatch;
    if (other != nullptr)
      other->AddRef();
    ReleaseDispatch();
    m_lpDispatch = other;
    m_bAutoRelease = TRUE;
  }
  return *this;
}

BOOL COleDispatchDriver::CreateDispatch(REFCLSID clsid, COleException *pError) {
  ReleaseDispatch();
  IUnknown *unknown = nullptr;
  HRESULT hr = CoCreateInstance(clsid, nullptr, CLSCTX_ALL, IID_IUnknown,
                                reinterpret_cast<LPVOID *>(&unknown));
  if (SUCCEEDED(hr)) {
    hr = unknown->QueryInterface(IID_IDispatch, reinterpret_cast<void **>(&m_lpDispatch));
    unknown->Release();
  }
  if (FAILED(hr)) {
    m_lpDispatch = nullptr;
    if (pError != nullptr)
      pError->m_sc = hr;
    return FALSE;
  }
  m_bAutoRelease = TRUE;
  return TRUE;
}

BOOL COleDispatchDriver::CreateDispatch(LPCTSTR lpszProgID, COleException *pError) {
  CLSID clsid;
  BSTR progID = narrowToBstr(lpszProgID);
  HRESULT hr = progID != nullptr ? CLSIDFromProgID(progID, &clsid) : CO_E_CLASSSTRING;
  SysFreeString(progID);
  if (FAILED(hr)) {
    if (pError != nullptr)
      pError->m_sc = hr;
    return FALSE;
  }
  return CreateDispatch(clsid, pError);
}

void COleDispatchDriver::AttachDispatch(LPDISPATCH lpDispatch, BOOL bAutoRelease) {
  ReleaseDispatch();
  m_lpDispatch = lpDispatch;
  m_bAutoRelease = bAutoRelease;
}

LPDISPATCH COleDispatchDriver::DetachDispatch() {
  LPDISPATCH dispatch = m_lpDispatch;
  m_lpDispatch = nullptr;
  return dispatch;
}

void COleDispatchDriver::ReleaseDispatch() {
  if (m_lpDispatch != nullptr && m_bAutoRelease)
    m_lpDispatch->Release();
  m_lpDispatch = nullptr;
}

void COleDispatchDriver::InvokeHelper(DISPID dwDispID, WORD wFlags, VARTYPE vtRet, void *pvRet,
                                      const BYTE *pbParamInfo, ...) {
  va_list argList;
  va_start(argList, pbParamInfo);
  try {
    InvokeHelperV(dwDispID, wFlags, vtRet, pvRet, pbParamInfo, argList);
  } catch (...) {
    va_end(argList);
    throw;
  }
  va_end(argList);
}

void COleDispatchDriver::InvokeHelperV(DISPID dwDispID, WORD wFlags, VARTYPE vtRet, void *pvRet,
                                       const BYTE *pbParamInfo, va_list argList) {
  if (m_lpDispatch == nullptr)
    return;
  DISPPARAMS params = {nullptr, nullptr, 0, 0};
  // A put names its value, as Invoke requires.
  DISPID putId = DISPID_PROPERTYPUT;
  if (wFlags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) {
    params.rgdispidNamedArgs = &putId;
    params.cNamedArgs = 1;
  }
  UINT count =
      pbParamInfo != nullptr ? UINT(std::strlen(reinterpret_cast<const char *>(pbParamInfo))) : 0;
  Arguments args(pbParamInfo, count);
  va_list copy;
  va_copy(copy, argList);
  try {
    args.fill(copy);
  } catch (...) {
    va_end(copy);
    throw;
  }
  va_end(copy);
  params.rgvarg = args.data();
  params.cArgs = count;

  VARIANT result;
  VariantInit(&result);
  EXCEPINFO info;
  std::memset(&info, 0, sizeof info);
  UINT argErr = UINT(-1);
  HRESULT hr = m_lpDispatch->Invoke(dwDispID, IID_NULL, 0, wFlags, &params,
                                    vtRet == VT_EMPTY ? nullptr : &result, &info, &argErr);
  if (FAILED(hr)) {
    VariantClear(&result);
    vlx::throwInvokeFault(hr, info);
  }
  if (vtRet != VT_EMPTY)
    vlx::storeInvokeResult(result, vtRet, pvRet);
}

void COleDispatchDriver::SetProperty(DISPID dwDispID, VARTYPE vtProp, ...) {
  va_list argList;
  // The framework's signature ends its named parameters with a 16-bit type; every ABI this
  // builds for passes it in a full register or stack slot, where va_start finds the rest.
#if defined(__clang__)
#pragma clang diagnostic push
#pragma clang diagnostic ignored "-Wvarargs"
#endif
  va_start(argList, vtProp);
#if defined(__clang__)
#pragma clang diagnostic pop
#endif
  BYTE code = BYTE(vtProp & VT_TYPEMASK);
  if (code == VT_BSTR)
    code = kNarrowText; // this framework's text is narrow
  if (vtProp & VT_BYREF)
    code |= kByRef;
  const BYTE paramInfo[2] = {code, 0};
  // An interface value is put by reference, as the framework does.
  WORD flags = vtProp == VT_DISPATCH ? DISPATCH_PROPERTYPUTREF : DISPATCH_PROPERTYPUT;
  try {
    InvokeHelperV(dwDispID, flags, VT_EMPTY, nullptr, paramInfo, argList);
  } catch (...) {
    va_end(argList);
    throw;
  }
  va_end(argList);
}

void COleDispatchDriver::GetProperty(DISPID dwDispID, VARTYPE vtProp, void *pvProp) const {
  const_cast<COleDispatchDriver *>(this)->InvokeHelper(dwDispID, DISPATCH_PROPERTYGET, vtProp,
                                                       pvProp, nullptr);
}
