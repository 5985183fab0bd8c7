// COleException and COleDispatchException, their throw helpers and the end of a failed invoke.
#include <velmora/afx/ole.h>

#include <cstdio>
#include <cstring>

namespace {

struct KnownCode {
  SCODE sc;
  const char *text;
};

// The codes a dispatch client meets, each with a short explanation.
const KnownCode kKnownCodes[] = {
    {E_UNEXPECTED, "Unexpected failure."},
    {E_NOTIMPL, "Not implemented."},
    {E_OUTOFMEMORY, "Out of memory."},
    {E_INVALIDARG, "An argument is not valid."},
    {E_NOINTERFACE, "The object lacks the requested interface."},
    {E_POINTER, "A pointer is not valid."},
    {E_FAIL, "The call failed."},
    {E_ACCESSDENIED, "Access denied."},
    {DISP_E_UNKNOWNINTERFACE, "Unknown interface."},
    {DISP_E_MEMBERNOTFOUND, "The object has no such member."},
    {DISP_E_PARAMNOTFOUND, "A named parameter was not found."},
    {DISP_E_TYPEMISMATCH, "Type mismatch."},
    {DISP_E_UNKNOWNNAME, "Unknown name."},
    {DISP_E_NONAMEDARGS, "The member takes no named arguments."},
    {DISP_E_BADVARTYPE, "Bad variant type."},
    {DISP_E_EXCEPTION, "The server raised an exception."},
    {DISP_E_OVERFLOW, "Value out of range."},
    {DISP_E_BADINDEX, "Index out of range."},
    {DISP_E_UNKNOWNLCID, "Unknown locale."},
    {DISP_E_BADPARAMCOUNT, "Wrong number of parameters."},
    {DISP_E_PARAMNOTOPTIONAL, "A required parameter is missing."},
    {DISP_E_BADCALLEE, "Invalid callee."},
    {DISP_E_DIVBYZERO, "Division by zero."},
    {REGDB_E_CLASSNOTREG, "Class not registered."},
    {CO_E_NOTINITIALIZED, "COM is not initialised on this thread."},
    {CO_E_CLASSSTRING, "Invalid class string or ProgID."},
    {CO_E_DLLNOTFOUND, "The server library could not be loaded."},
    {CO_E_ERRORINDLL, "The server library lacks DllGetClassObject."},
    {CLASS_E_CLASSNOTAVAILABLE, "The server does not provide this class."},
};

// Copies as much of `text` as fits, always terminated.
void copyText(LPCTSTR text, LPTSTR out, UINT size) {
  if (out == nullptr || size == 0)
    return;
  UINT i = 0;
  for (; text[i] != '\0' && i + 1 < size; ++i)
    out[i] = text[i];
  out[i] = '\0';
}

// Narrow text of a BSTR, which is freed.
CString takeBstr(BSTR &text) {
  CString out;
  int units = int(SysStringLen(text));
  if (units > 0) {
    int bytes = WideCharToMultiByte(CP_ACP, 0, text, units, nullptr, 0, nullptr, nullptr);
    WideCharToMultiByte(CP_ACP, 0, text, units, out.GetBuffer(bytes), bytes, nullptr, nullptr);
    out.ReleaseBuffer(bytes);
  }
  SysFreeString(text);
  text = nullptr;
  return out;
}

} // namespace

// ---- COleException

IMPLEMENT_DYNAMIC(COleException, CException)

COleException::COleException() noexcept : m_sc(S_OK) {}

COleException::~COleException() = default;

SCODE COleException::Process(const CException *pAnyException) {
  if (pAnyException == nullptr)
    return S_OK;
  if (pAnyException->IsKindOf(RUNTIME_CLASS(COleException)))
    return static_cast<const COleException *>(pAnyException)->m_sc;
  if (pAnyException->IsKindOf(RUNTIME_CLASS(CMemoryException)))
    return E_OUTOFMEMORY;
  if (pAnyException->IsKindOf(RUNTIME_CLASS(CNotSupportedException)))
    return E_NOTIMPL;
  if (pAnyException->IsKindOf(RUNTIME_CLASS(CInvalidArgException)))
    return E_INVALIDARG;
  if (pAnyException->IsKindOf(RUNTIME_CLASS(COleDispatchException)))
    return DISP_E_EXCEPTION;
  return E_UNEXPECTED;
}

// What the code means, and the code itself, which is what a user can look up.
BOOL COleException::GetErrorMessage(LPTSTR lpszError, UINT nMaxError, PUINT pnHelpContext) const {
  if (pnHelpContext != nullptr)
    *pnHelpContext = 0;
  const char *text = "OLE error.";
  for (const KnownCode &known : kKnownCodes)
    if (known.sc == m_sc)
      text = known.text;
  char message[160];
  std::snprintf(message, sizeof message, "%s (0x%08lX)", text,
                static_cast<unsigned long>(static_cast<DWORD>(m_sc)));
  copyText(message, lpszError, nMaxError);
  return TRUE;
}

// ---- COleDispatchException

IMPLEMENT_DYNAMIC(COleDispatchException, CException)

COleDispatchException::COleDispatchException(LPCTSTR lpszDescription, UINT nHelpID, WORD wCode)
    : m_wCode(wCode), m_strDescription(lpszDescription), m_dwHelpContext(nHelpID), m_scError(0) {}

COleDispatchException::~COleDispatchException() = default;

// "Source: description", or what the codes say when the server gave no description.
BOOL COleDispatchException::GetErrorMessage(LPTSTR lpszError, UINT nMaxError,
                                            PUINT pnHelpContext) const {
  if (pnHelpContext != nullptr)
    *pnHelpContext = m_dwHelpContext;
  CString message;
  if (!m_strDescription.IsEmpty()) {
    message = m_strSource.IsEmpty() ? m_strDescription : m_strSource + ": " + m_strDescription;
  } else if (m_scError != 0) {
    COleException fromCode;
    fromCode.m_sc = m_scError;
    TCHAR text[160];
    fromCode.GetErrorMessage(text, sizeof text);
    message = text;
  } else {
    message.Format("The server raised exception %u.", unsigned(m_wCode));
  }
  copyText(message, lpszError, nMaxError);
  return TRUE;
}

void AfxThrowOleException(SCODE sc) {
  auto *exception = new COleException;
  exception->m_sc = sc;
  throw exception;
}

void AfxThrowOleDispatchException(WORD wCode, LPCTSTR lpszDescription, UINT nHelpID) {
  throw new COleDispatchException(lpszDescription, nHelpID, wCode);
}

void AfxThrowOleDispatchException(WORD wCode, UINT nDescriptionID, UINT nHelpID) {
  CString description;
  description.LoadString(nDescriptionID);
  throw new COleDispatchException(description, nHelpID == UINT(-1) ? nDescriptionID : nHelpID,
                                  wCode);
}

namespace vlx {

void throwInvokeFault(HRESULT hr, EXCEPINFO &info) {
  if (hr != DISP_E_EXCEPTION)
    AfxThrowOleException(hr);
  if (info.pfnDeferredFillIn != nullptr)
    info.pfnDeferredFillIn(&info);
  auto *exception = new COleDispatchException(nullptr, 0, info.wCode);
  if (info.bstrSource != nullptr)
    exception->m_strSource = takeBstr(info.bstrSource);
  if (info.bstrDescription != nullptr)
    exception->m_strDescription = takeBstr(info.bstrDescription);
  if (info.bstrHelpFile != nullptr)
    exception->m_strHelpFile = takeBstr(info.bstrHelpFile);
  exception->m_dwHelpContext = info.dwHelpContext;
  exception->m_scError = info.scode;
  throw exception;
}

void storeInvokeResult(VARIANT &result, VARTYPE vtRet, void *pvRet) {
  if (vtRet != VT_VARIANT) {
    HRESULT hr = VariantChangeType(&result, &result, 0, vtRet);
    if (FAILED(hr)) {
      VariantClear(&result);
      AfxThrowOleException(hr);
    }
  }
  switch (vtRet) {
  case VT_UI1:
  case VT_I1:
    *static_cast<BYTE *>(pvRet) = result.bVal;
    break;
  case VT_I2:
  case VT_UI2:
    *static_cast<SHORT *>(pvRet) = result.iVal;
    break;
  case VT_I4:
  case VT_UI4:
    *static_cast<LONG *>(pvRet) = result.lVal;
    break;
  case VT_R4:
    *static_cast<FLOAT *>(pvRet) = result.fltVal;
    break;
  case VT_R8:
  case VT_CY:
  case VT_DATE:
  case VT_I8:
  case VT_UI8:
    std::memcpy(pvRet, &result.llVal, 8);
    break;
  case VT_BSTR:
    *static_cast<CString *>(pvRet) = takeBstr(result.bstrVal);
    break;
  case VT_DISPATCH:
  case VT_UNKNOWN:
    *static_cast<IUnknown **>(pvRet) = result.punkVal;
    break;
  case VT_ERROR:
    *static_cast<SCODE *>(pvRet) = result.scode;
    break;
  case VT_BOOL:
    *static_cast<BOOL *>(pvRet) = result.boolVal != 0 ? 1 : 0;
    break;
  case VT_VARIANT:
    *static_cast<VARIANT *>(pvRet) = result;
    break;
  default:
    break;
  }
}

} // namespace vlx
