// CException and its simple kinds, the throw helpers and the message box.
#include <velmora/afx/exception.h>
#include <velmora/afx/string.h>

#include "framework/resources.h"

#include <cstdio>
#include <mutex>
#include <string>
#include <utility>

// ---- CException

IMPLEMENT_DYNAMIC(CException, CObject)

CException::CException() noexcept : m_bAutoDelete(TRUE) {}

CException::CException(BOOL bAutoDelete) noexcept : m_bAutoDelete(bAutoDelete) {}

CException::~CException() = default;

void CException::Delete() {
  if (m_bAutoDelete > 0)
    delete this;
}

BOOL CException::GetErrorMessage(LPTSTR lpszError, UINT nMaxError, PUINT pnHelpContext) const {
  if (pnHelpContext != nullptr)
    *pnHelpContext = 0;
  if (lpszError != nullptr && nMaxError != 0)
    *lpszError = '\0';
  return FALSE;
}

int CException::ReportError(UINT nType, UINT nMessageID) {
  TCHAR message[512];
  UINT helpContext = 0;
  if (GetErrorMessage(message, sizeof message, &helpContext))
    return AfxMessageBox(message, nType, helpContext);
  if (nMessageID != 0)
    return AfxMessageBox(nMessageID, nType, helpContext);
  return AfxMessageBox("No error message is available.", nType, helpContext);
}

// ---- simple exceptions

IMPLEMENT_DYNAMIC(CSimpleException, CException)

CSimpleException::CSimpleException() noexcept : m_nResourceID(0), m_lpszDefaultMessage(nullptr) {}

CSimpleException::CSimpleException(BOOL bAutoDelete) noexcept
    : CException(bAutoDelete), m_nResourceID(0), m_lpszDefaultMessage(nullptr) {}

CSimpleException::CSimpleException(BOOL bAutoDelete, UINT nResourceID) noexcept
    : CException(bAutoDelete), m_nResourceID(nResourceID), m_lpszDefaultMessage(nullptr) {}

CSimpleException::~CSimpleException() = default;

// Works without allocating when there is no resource, so the memory exception can report.
BOOL CSimpleException::GetErrorMessage(LPTSTR lpszError, UINT nMaxError,
                                       PUINT pnHelpContext) const {
  if (pnHelpContext != nullptr)
    *pnHelpContext = 0;
  CString loaded;
  LPCTSTR text = m_lpszDefaultMessage;
  if (m_nResourceID != 0 && vlx::detail::loadString(m_nResourceID, loaded))
    text = loaded;
  if (lpszError != nullptr && nMaxError != 0) {
    UINT i = 0;
    for (; text != nullptr && text[i] != '\0' && i + 1 < nMaxError; ++i)
      lpszError[i] = text[i];
    lpszError[i] = '\0';
  }
  return text != nullptr ? TRUE : FALSE;
}

// The kinds that differ only in the message they give without a resource.
#define VLX_SIMPLE_EXCEPTION(Kind, message)                                                        \
  IMPLEMENT_DYNAMIC(Kind, CSimpleException)                                                        \
  Kind::Kind() noexcept : Kind(TRUE) {}                                                            \
  Kind::Kind(BOOL bAutoDelete, UINT nResourceID) noexcept                                          \
      : CSimpleException(bAutoDelete, nResourceID) {                                               \
    m_lpszDefaultMessage = message;                                                                \
  }                                                                                                \
  Kind::~Kind() = default;
VLX_SIMPLE_EXCEPTION(CMemoryException, "Out of memory.")
VLX_SIMPLE_EXCEPTION(CNotSupportedException, "The operation is not supported.")
VLX_SIMPLE_EXCEPTION(CInvalidArgException, "An argument is not valid.")

// Static objects: throwing them needs no heap, which matters when the heap is what failed.
void AfxThrowMemoryException() {
  static CMemoryException memoryException(FALSE);
  throw &memoryException;
}

void AfxThrowNotSupportedException() {
  static CNotSupportedException notSupportedException(FALSE);
  throw &notSupportedException;
}

void AfxThrowInvalidArgException() {
  static CInvalidArgException invalidArgException(FALSE);
  throw &invalidArgException;
}

// ---- message box

namespace {

int defaultMessageBox(const char *text, unsigned type) {
#if defined(_WIN32)
  return MessageBoxA(nullptr, text, nullptr, type);
#else
  (void)type;
  // One line: each run of line breaks becomes a single space.
  std::string line;
  bool inBreak = false;
  for (const char *p = text; *p != '\0'; ++p) {
    bool isBreak = *p == '\r' || *p == '\n';
    if (!isBreak)
      line += *p;
    else if (!inBreak)
      line += ' ';
    inBreak = isBreak;
  }
  if (inBreak)
    line.pop_back(); // the space that stood for the final line break
  line += '\n';
  std::fputs(line.c_str(), stderr);
  std::fflush(stderr);
  return IDOK;
#endif
}

struct HandlerSlot {
  std::mutex mutex;
  vlx::MessageBoxHandler handler; // empty: the default
};

HandlerSlot &handlerSlot() {
  static HandlerSlot slot;
  return slot;
}

} // namespace

namespace vlx {

MessageBoxHandler setMessageBoxHandler(MessageBoxHandler handler) {
  HandlerSlot &slot = handlerSlot();
  std::lock_guard<std::mutex> lock(slot.mutex);
  MessageBoxHandler previous = std::exchange(slot.handler, std::move(handler));
  if (!previous)
    previous = defaultMessageBox;
  return previous;
}

} // namespace vlx

int AfxMessageBox(LPCTSTR lpszText, UINT nType, UINT) {
  vlx::MessageBoxHandler handler;
  {
    HandlerSlot &slot = handlerSlot();
    std::lock_guard<std::mutex> lock(slot.mutex);
    handler = slot.handler;
  }
  LPCTSTR text = lpszText != nullptr ? lpszText : "";
  return handler ? handler(text, nType) : defaultMessageBox(text, nType);
}

// A prompt without a resource shows an empty box, as on Windows.
int AfxMessageBox(UINT nIDPrompt, UINT nType, UINT nIDHelp) {
  CString prompt;
  vlx::detail::loadString(nIDPrompt, prompt);
  return AfxMessageBox(prompt, nType, nIDHelp == UINT(-1) ? nIDPrompt : nIDHelp);
}
