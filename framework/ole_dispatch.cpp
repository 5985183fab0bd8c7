// COleDispatchDriver: owning an IDispatch pointer and calling it by DISPID.
#include <velmora/afx/ole.h>

#include "framework/invoke_arguments.h"
#include "framework/ole_text.h"

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

CString takeBstrAsNarrow(BSTR text) {
  int units = int(SysStringLen(text));
  CString out;
  if (units > 0) {
    int bytes = WideCharToMultiByte(CP_ACP, 0, text, units, nullptr, 0, nullptr, nullptr);
    LPSTR buffer = out.GetBuffer(bytes);
    WideCharToMultiByte(CP_ACP, 0, text, units, buffer, bytes, nullptr, nullptr);
    out.ReleaseBuffer(bytes);
  }
  SysFreeString(text);
  return out;
}

} // namespace vlx::detail

namespace {

// Parameter type byte 0x0E: narrow text that travels as a BSTR.
constexpr BYTE kNarrowText = 0x0E;
// Parameter type bit for an argument passed by reference.
constexpr BYTE kByRef = 0x40;

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
  BSTR progID = vlx::detail::narrowToBstr(lpszProgID);
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
  vlx::detail::invokeWithArguments(*m_lpDispatch, dwDispID, wFlags, params, pbParamInfo,
                                   vlx::detail::FloatArgument::AsFloat, vtRet, pvRet, argList);
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
