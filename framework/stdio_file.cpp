// CStdioFile: a buffered file with the C run-time's text mode, on top of CFile's handle.
#include <velmora/afx/file.h>

#include "framework/alloc.h"

#include <algorithm>
#include <cstring>

namespace {

// One buffer serves read-ahead or pending writes, never both at once.
constexpr UINT kBufferSize = 16384;

LONG lastError() { return static_cast<LONG>(GetLastError()); }

} // namespace

IMPLEMENT_DYNAMIC(CStdioFile, CFile)

CStdioFile::CStdioFile() noexcept
    : m_pBuffer(nullptr), m_nBegin(0), m_nEnd(0), m_mode(Mode::idle), m_bText(TRUE),
      m_bAppend(FALSE) {}

CStdioFile::CStdioFile(LPCTSTR lpszFileName, UINT nOpenFlags) : CStdioFile() {
  CFileException error;
  if (!Open(lpszFileName, nOpenFlags, &error))
    AfxThrowFileException(error.m_cause, error.m_lOsError, error.m_strFileName);
}

CStdioFile::~CStdioFile() {
  if (m_hFile != hFileNull && m_bCloseOnDelete)
    CStdioFile::Abort();
  vlx::detail::deallocate(m_pBuffer);
}

void CStdioFile::resetStream() noexcept {
  m_nBegin = 0;
  m_nEnd = 0;
  m_mode = Mode::idle;
}

void CStdioFile::requireOpen() const {
  if (m_hFile == hFileNull || m_pBuffer == nullptr)
    AfxThrowFileException(CFileException::invalidFile, ERROR_INVALID_HANDLE, m_strFileName);
}

BOOL CStdioFile::Open(LPCTSTR lpszFileName, UINT nOpenFlags, CFileException *pError) {
  // Copied first: the text may be this object's own path, which closing empties.
  const CString name(lpszFileName);
  if (m_hFile != hFileNull)
    Abort();
  resetStream();
  // Allocated before the handle exists, so that a memory exception leaks nothing.
  if (m_pBuffer == nullptr)
    m_pBuffer = static_cast<char *>(vlx::detail::allocateOrThrow(kBufferSize, false));
  if (!CFile::Open(name, nOpenFlags & ~UINT{typeText | typeBinary}, pError))
    return FALSE;
  m_bText = (nOpenFlags & typeBinary) ? FALSE : TRUE;
  // The run-time's "a" mode: writing without creating, or creating without truncating.
  m_bAppend = (nOpenFlags & modeCreate) ? (nOpenFlags & modeNoTruncate) != 0
                                        : (nOpenFlags & modeWrite) != 0;
  return TRUE;
}

// ---- reading

bool CStdioFile::fillBuffer() {
  m_nBegin = 0;
  m_nEnd = 0;
  DWORD got = 0;
  if (!ReadFile(m_hFile, m_pBuffer, kBufferSize, &got, nullptr))
    CFileException::ThrowOsError(lastError(), m_strFileName);
  m_nEnd = got;
  return got != 0;
}

int CStdioFile::nextRaw() {
  if (m_nBegin == m_nEnd && !fillBuffer())
    return -1;
  return static_cast<unsigned char>(m_pBuffer[m_nBegin++]);
}

// CR LF arrives as LF in text mode; a CR on its own stays.
int CStdioFile::nextChar() {
  int c = nextRaw();
  if (c == '\r' && m_bText) {
    if (m_nBegin == m_nEnd)
      fillBuffer();
    if (m_nBegin < m_nEnd && m_pBuffer[m_nBegin] == '\n') {
      ++m_nBegin;
      return '\n';
    }
  }
  return c;
}

void CStdioFile::startReading() {
  requireOpen();
  if (m_mode == Mode::writing)
    flushWrites();
  m_mode = Mode::reading;
}

void CStdioFile::dropReadAhead() {
  if (m_mode == Mode::reading && m_nEnd > m_nBegin)
    CFile::Seek(-static_cast<LONGLONG>(m_nEnd - m_nBegin), current);
  m_nBegin = 0;
  m_nEnd = 0;
}

UINT CStdioFile::Read(void *lpBuf, UINT nCount) {
  if (nCount == 0)
    return 0;
  if (lpBuf == nullptr)
    AfxThrowInvalidArgException();
  startReading();
  auto *out = static_cast<char *>(lpBuf);
  UINT done = 0;
  if (m_bText) {
    for (int c; done < nCount && (c = nextChar()) >= 0;)
      out[done++] = static_cast<char>(c);
    return done;
  }
  while (done < nCount) {
    if (m_nBegin == m_nEnd) {
      // Large reads go straight to the caller's buffer.
      if (nCount - done >= kBufferSize) {
        UINT got = CFile::Read(out + done, nCount - done);
        done += got;
        break;
      }
      if (!fillBuffer())
        break;
    }
    UINT chunk = (std::min)(nCount - done, m_nEnd - m_nBegin);
    std::memcpy(out + done, m_pBuffer + m_nBegin, chunk);
    m_nBegin += chunk;
    done += chunk;
  }
  return done;
}

LPTSTR CStdioFile::ReadString(LPTSTR lpsz, UINT nMax) {
  if (lpsz == nullptr)
    AfxThrowInvalidArgException();
  if (nMax == 0)
    return nullptr;
  startReading();
  UINT n = 0;
  while (n + 1 < nMax) {
    int c = nextChar();
    if (c < 0) {
      if (n == 0)
        return nullptr;
      break;
    }
    lpsz[n++] = static_cast<char>(c);
    if (c == '\n')
      break;
  }
  lpsz[n] = '\0';
  return lpsz;
}

BOOL CStdioFile::ReadString(CString &rString) {
  rString.Empty();
  startReading();
  char chunk[256];
  int n = 0;
  bool any = false;
  for (int c; (c = nextChar()) >= 0;) {
    any = true;
    if (c == '\n')
      break;
    chunk[n++] = static_cast<char>(c);
    if (n == static_cast<int>(sizeof chunk)) {
      rString.Append(chunk, n);
      n = 0;
    }
  }
  rString.Append(chunk, n);
  return any ? TRUE : FALSE;
}

// ---- writing

void CStdioFile::startWriting() {
  requireOpen();
  if (m_mode == Mode::writing)
    return;
  dropReadAhead();
  if (m_bAppend)
    CFile::Seek(0, end);
  m_mode = Mode::writing;
}

void CStdioFile::putRaw(char c) {
  if (m_nEnd == kBufferSize)
    flushWrites();
  m_pBuffer[m_nEnd++] = c;
}

bool CStdioFile::tryFlushWrites(DWORD &error) noexcept {
  if (m_mode != Mode::writing || m_nEnd == 0)
    return true;
  DWORD done = 0;
  BOOL written = WriteFile(m_hFile, m_pBuffer, m_nEnd, &done, nullptr);
  // What could not be written is dropped, as the run-time does, so that closing does not fail
  // on it again.
  bool complete = written && done == m_nEnd;
  error = !written ? GetLastError() : complete ? ERROR_SUCCESS : ERROR_DISK_FULL;
  m_nEnd = 0;
  return complete;
}

void CStdioFile::flushWrites() {
  DWORD error = ERROR_SUCCESS;
  if (!tryFlushWrites(error))
    CFileException::ThrowOsError(static_cast<LONG>(error), m_strFileName);
}

void CStdioFile::Write(const void *lpBuf, UINT nCount) {
  if (nCount == 0)
    return;
  if (lpBuf == nullptr)
    AfxThrowInvalidArgException();
  startWriting();
  const auto *in = static_cast<const char *>(lpBuf);
  if (m_bText) {
    for (UINT i = 0; i < nCount; ++i) {
      if (in[i] == '\n')
        putRaw('\r');
      putRaw(in[i]);
    }
    return;
  }
  if (nCount >= kBufferSize) {
    flushWrites();
    CFile::Write(in, nCount);
    return;
  }
  UINT done = 0;
  while (done < nCount) {
    if (m_nEnd == kBufferSize)
      flushWrites();
    UINT chunk = (std::min)(nCount - done, kBufferSize - m_nEnd);
    std::memcpy(m_pBuffer + m_nEnd, in + done, chunk);
    m_nEnd += chunk;
    done += chunk;
  }
}

void CStdioFile::WriteString(LPCTSTR lpsz) {
  if (lpsz == nullptr)
    AfxThrowInvalidArgException();
  CStdioFile::Write(lpsz, static_cast<UINT>(std::strlen(lpsz)));
}

// ---- position and length

ULONGLONG CStdioFile::GetPosition() const {
  ULONGLONG position = CFile::GetPosition();
  if (m_mode == Mode::reading)
    return position - (m_nEnd - m_nBegin);
  if (m_mode == Mode::writing)
    return position + m_nEnd;
  return position;
}

ULONGLONG CStdioFile::Seek(LONGLONG lOff, UINT nFrom) {
  requireOpen();
  if (nFrom == current) {
    lOff += static_cast<LONGLONG>(GetPosition());
    nFrom = begin;
  }
  flushWrites();
  resetStream();
  return CFile::Seek(lOff, nFrom);
}

void CStdioFile::SetLength(ULONGLONG dwNewLen) {
  requireOpen();
  flushWrites();
  dropReadAhead();
  m_mode = Mode::idle;
  CFile::SetLength(dwNewLen);
}

// Pending writes count, without handing them to the system.
ULONGLONG CStdioFile::GetLength() const {
  ULONGLONG length = CFile::GetLength();
  if (m_mode == Mode::writing)
    length = (std::max)(length, GetPosition());
  return length;
}

// ---- closing

void CStdioFile::Flush() {
  if (m_hFile != hFileNull)
    flushWrites();
}

void CStdioFile::Abort() {
  DWORD ignored = ERROR_SUCCESS;
  if (m_hFile != hFileNull)
    tryFlushWrites(ignored);
  resetStream();
  CFile::Abort();
}

// The handle is closed even when the last writes fail; the failure is thrown afterwards.
void CStdioFile::Close() {
  DWORD error = ERROR_SUCCESS;
  bool flushed = m_hFile == hFileNull || tryFlushWrites(error);
  CString name = m_strFileName;
  resetStream();
  CFile::Close();
  if (!flushed)
    CFileException::ThrowOsError(static_cast<LONG>(error), name);
}

// ---- not supported on a stream

CFile *CStdioFile::Duplicate() const { AfxThrowNotSupportedException(); }

void CStdioFile::LockRange(ULONGLONG, ULONGLONG) { AfxThrowNotSupportedException(); }

void CStdioFile::UnlockRange(ULONGLONG, ULONGLONG) { AfxThrowNotSupportedException(); }
