// CException and its simple kinds, the throw helpers and AfxMessageBox.
#pragma once

#include <velmora/afx/object.h>
#include <velmora/export.h>
#include <velmora/win32.h>

#include <functional>

#if !defined(_WIN32)
typedef UINT *PUINT;

#define MB_OK 0x00000000u
#define MB_OKCANCEL 0x00000001u
#define MB_ABORTRETRYIGNORE 0x00000002u
#define MB_YESNOCANCEL 0x00000003u
#define MB_YESNO 0x00000004u
#define MB_RETRYCANCEL 0x00000005u
#define MB_ICONHAND 0x00000010u
#define MB_ICONERROR MB_ICONHAND
#define MB_ICONSTOP MB_ICONHAND
#define MB_ICONQUESTION 0x00000020u
#define MB_ICONEXCLAMATION 0x00000030u
#define MB_ICONWARNING MB_ICONEXCLAMATION
#define MB_ICONASTERISK 0x00000040u
#define MB_ICONINFORMATION MB_ICONASTERISK
#define MB_DEFBUTTON1 0x00000000u
#define MB_DEFBUTTON2 0x00000100u
#define MB_DEFBUTTON3 0x00000200u
#define MB_APPLMODAL 0x00000000u
#define MB_SYSTEMMODAL 0x00001000u
#define MB_TASKMODAL 0x00002000u
#define MB_SETFOREGROUND 0x00010000u
#define MB_TOPMOST 0x00040000u

#define IDOK 1
#define IDCANCEL 2
#define IDABORT 3
#define IDRETRY 4
#define IDIGNORE 5
#define IDYES 6
#define IDNO 7
#endif

// Thrown by pointer and released with Delete():
//   catch (CException* e) { ...; e->Delete(); }
class VLX_API CException : public CObject {
  DECLARE_DYNAMIC(CException)
public:
  CException() noexcept;
  explicit CException(BOOL bAutoDelete) noexcept;
  ~CException() override;

  // Deletes the object only when it was allocated to be deleted (m_bAutoDelete > 0).
  void Delete();

  // The virtual functions keep this slot order after CObject's.
  virtual BOOL GetErrorMessage(LPTSTR lpszError, UINT nMaxError,
                               PUINT pnHelpContext = nullptr) const;
  virtual int ReportError(UINT nType = MB_OK, UINT nMessageID = 0);

  BOOL m_bAutoDelete;
};

// An exception with a fixed message, thrown from a preallocated object where it must work
// without memory. The message comes from the string resource when there is one.
class VLX_API CSimpleException : public CException {
  DECLARE_DYNAMIC(CSimpleException)
public:
  CSimpleException() noexcept;
  explicit CSimpleException(BOOL bAutoDelete) noexcept;
  CSimpleException(BOOL bAutoDelete, UINT nResourceID) noexcept;
  ~CSimpleException() override;

  BOOL GetErrorMessage(LPTSTR lpszError, UINT nMaxError,
                       PUINT pnHelpContext = nullptr) const override;

  UINT m_nResourceID;

protected:
  LPCTSTR m_lpszDefaultMessage; // used while no resource gives the text
};

class VLX_API CMemoryException : public CSimpleException {
  DECLARE_DYNAMIC(CMemoryException)
public:
  CMemoryException() noexcept;
  explicit CMemoryException(BOOL bAutoDelete, UINT nResourceID = 0) noexcept;
  ~CMemoryException() override;
};

class VLX_API CNotSupportedException : public CSimpleException {
  DECLARE_DYNAMIC(CNotSupportedException)
public:
  CNotSupportedException() noexcept;
  explicit CNotSupportedException(BOOL bAutoDelete, UINT nResourceID = 0) noexcept;
  ~CNotSupportedException() override;
};

class VLX_API CInvalidArgException : public CSimpleException {
  DECLARE_DYNAMIC(CInvalidArgException)
public:
  CInvalidArgException() noexcept;
  explicit CInvalidArgException(BOOL bAutoDelete, UINT nResourceID = 0) noexcept;
  ~CInvalidArgException() override;
};

// These throw preallocated objects (m_bAutoDelete FALSE); Delete() on them is harmless.
[[noreturn]] VLX_API void AfxThrowMemoryException();
[[noreturn]] VLX_API void AfxThrowNotSupportedException();
[[noreturn]] VLX_API void AfxThrowInvalidArgException();

VLX_API int AfxMessageBox(LPCTSTR lpszText, UINT nType = MB_OK, UINT nIDHelp = 0);
// nIDHelp -1 means the prompt's own ID.
VLX_API int AfxMessageBox(UINT nIDPrompt, UINT nType = MB_OK, UINT nIDHelp = UINT(-1));

namespace vlx {

// Shows a message box: gets the text and the MB_* type, returns the ID* of the answer.
using MessageBoxHandler = std::function<int(const char *text, unsigned type)>;

// Replaces the handler AfxMessageBox goes through and returns the previous one; an empty
// function restores the default, which writes the text as one line to stderr and answers IDOK
// (on Windows it shows a real message box).
VLX_API MessageBoxHandler setMessageBoxHandler(MessageBoxHandler handler);

} // namespace vlx
