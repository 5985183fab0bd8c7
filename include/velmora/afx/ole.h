// The framework's OLE Automation client: COleDispatchDriver and the OLE exceptions.
#pragma once

#include <velmora/afx/exception.h>
#include <velmora/afx/string.h>
#include <velmora/export.h>
#include <velmora/win32.h>

#include <cstdarg>

// A failure reported by an OLE call, as its status code.
class VLX_API COleException : public CException {
  DECLARE_DYNAMIC(COleException)
public:
  COleException() noexcept;
  ~COleException() override;

  // The status code that stands for any framework exception: m_sc of an OLE exception,
  // E_OUTOFMEMORY for a memory exception, and so on.
  static SCODE Process(const CException *pAnyException);

  BOOL GetErrorMessage(LPTSTR lpszError, UINT nMaxError,
                       PUINT pnHelpContext = nullptr) const override;

  SCODE m_sc;
};

// A failure the server described (DISP_E_EXCEPTION): its code, texts and help reference.
class VLX_API COleDispatchException : public CException {
  DECLARE_DYNAMIC(COleDispatchException)
public:
  COleDispatchException(LPCTSTR lpszDescription, UINT nHelpID, WORD wCode);
  ~COleDispatchException() override;

  BOOL GetErrorMessage(LPTSTR lpszError, UINT nMaxError,
                       PUINT pnHelpContext = nullptr) const override;

  WORD m_wCode;
  CString m_strDescription;
  DWORD m_dwHelpContext;
  CString m_strHelpFile;
  CString m_strSource;
  SCODE m_scError;
};

// Both throw a new object by pointer; the handler calls Delete().
[[noreturn]] VLX_API void AfxThrowOleException(SCODE sc);
[[noreturn]] VLX_API void AfxThrowOleDispatchException(WORD wCode, LPCTSTR lpszDescription,
                                                       UINT nHelpID = 0);
// The description is string resource nDescriptionID; help ID -1 means nDescriptionID.
[[noreturn]] VLX_API void AfxThrowOleDispatchException(WORD wCode, UINT nDescriptionID,
                                                       UINT nHelpID = UINT(-1));

// Calls an object's IDispatch by DISPID. Parameter type strings (the VTS_* strings of
// velmora/afx/ole_variant.h) hold one VARTYPE byte per argument (bit 0x40 for by reference;
// 0x0E for narrow text, sent as a BSTR). Result kinds:
// VT_BSTR into a CString, VT_BOOL into a BOOL (1 or 0), VT_VARIANT as given, others converted.
// Faults throw COleException* or COleDispatchException*; without a dispatch pointer nothing is
// called and nothing is written.
class VLX_API COleDispatchDriver {
public:
  COleDispatchDriver() noexcept;
  explicit COleDispatchDriver(LPDISPATCH lpDispatch, BOOL bAutoRelease = TRUE) noexcept;
  // Shares the other's pointer with a reference of its own.
  COleDispatchDriver(const COleDispatchDriver &dispatchSrc) noexcept;
  ~COleDispatchDriver();
  const COleDispatchDriver &operator=(const COleDispatchDriver &dispatchSrc);

  BOOL CreateDispatch(REFCLSID clsid, COleException *pError = nullptr);
  BOOL CreateDispatch(LPCTSTR lpszProgID, COleException *pError = nullptr);
  void AttachDispatch(LPDISPATCH lpDispatch, BOOL bAutoRelease = TRUE);
  LPDISPATCH DetachDispatch();
  void ReleaseDispatch();

  void InvokeHelper(DISPID dwDispID, WORD wFlags, VARTYPE vtRet, void *pvRet,
                    const BYTE *pbParamInfo, ...);
  void InvokeHelperV(DISPID dwDispID, WORD wFlags, VARTYPE vtRet, void *pvRet,
                     const BYTE *pbParamInfo, va_list argList);
  void SetProperty(DISPID dwDispID, VARTYPE vtProp, ...);
  void GetProperty(DISPID dwDispID, VARTYPE vtProp, void *pvProp) const;

  operator LPDISPATCH() const noexcept { return m_lpDispatch; }

  LPDISPATCH m_lpDispatch;
  BOOL m_bAutoRelease;
};

namespace vlx {

// The end of a failed invoke, shared by every invoke routine: throws COleException* with `hr`,
// or for DISP_E_EXCEPTION a COleDispatchException* filled from `info` (deferred fill-in first),
// whose strings it frees.
[[noreturn]] VLX_API void throwInvokeFault(HRESULT hr, EXCEPINFO &info);
// The end of a successful invoke: converts `result` to `vtRet` (VT_VARIANT as it is) and stores
// it through `pvRet` as the result kinds say; a failed conversion clears `result` and throws
// COleException*.
VLX_API void storeInvokeResult(VARIANT &result, VARTYPE vtRet, void *pvRet);

} // namespace vlx
