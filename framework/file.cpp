// CFile on Win32 handles, and CFileException with its causes and messages.
#include <velmora/afx/file.h>

#include <cstring>

// ---- CFileException

IMPLEMENT_DYNAMIC(CFileException, CException)

CFileException::CFileException(int cause, LONG lOsError, LPCTSTR lpszArchiveName)
    : m_cause(cause), m_lOsError(lOsError), m_strFileName(lpszArchiveName) {}

CFileException::~CFileException() = default;

void CFileException::Empty() {
  m_cause = none;
  m_lOsError = -1;
  m_strFileName.Empty();
}

namespace {

struct CauseRow {
  LONG error;
  int cause;
};

constexpr CauseRow kCauses[] = {
    {ERROR_FILE_NOT_FOUND, CFileException::fileNotFound},
    {ERROR_PATH_NOT_FOUND, CFileException::badPath},
    {ERROR_INVALID_NAME, CFileException::badPath},
    {ERROR_BAD_PATHNAME, CFileException::badPath},
    {ERROR_FILENAME_EXCED_RANGE, CFileException::badPath},
    {ERROR_CANT_RESOLVE_FILENAME, CFileException::badPath},
    {ERROR_TOO_MANY_OPEN_FILES, CFileException::tooManyOpenFiles},
    {ERROR_ACCESS_DENIED, CFileException::accessDenied},
    {ERROR_FILE_EXISTS, CFileException::accessDenied},
    {ERROR_ALREADY_EXISTS, CFileException::accessDenied},
    {ERROR_INVALID_HANDLE, CFileException::invalidFile},
    {ERROR_DIR_NOT_EMPTY, CFileException::removeCurrentDir},
    {ERROR_NEGATIVE_SEEK, CFileException::badSeek},
    {ERROR_READ_FAULT, CFileException::hardIO},
    {ERROR_WRITE_FAULT, CFileException::hardIO},
    {ERROR_GEN_FAILURE, CFileException::hardIO},
    {ERROR_NOT_READY, CFileException::hardIO},
    {ERROR_SHARING_VIOLATION, CFileException::sharingViolation},
    {ERROR_LOCK_VIOLATION, CFileException::lockViolation},
    {ERROR_NOT_LOCKED, CFileException::lockViolation},
    {ERROR_DISK_FULL, CFileException::diskFull},
    {ERROR_HANDLE_DISK_FULL, CFileException::diskFull},
    {ERROR_FILE_TOO_LARGE, CFileException::diskFull},
    {ERROR_HANDLE_EOF, CFileException::endOfFile},
};

// %s stands for the file name.
LPCTSTR messageFor(int cause) {
  switch (cause) {
  case CFileException::none:
    return "No error occurred with %s.";
  case CFileException::fileNotFound:
    return "%s was not found.";
  case CFileException::badPath:
    return "The path of %s is not valid.";
  case CFileException::tooManyOpenFiles:
    return "%s could not be opened: too many files are open.";
  case CFileException::accessDenied:
    return "Access to %s was denied.";
  case CFileException::invalidFile:
    return "%s is not open, or its handle is not valid.";
  case CFileException::removeCurrentDir:
    return "%s cannot be removed: it is in use or not empty.";
  case CFileException::directoryFull:
    return "There is no room for %s in its directory.";
  case CFileException::badSeek:
    return "A position in %s could not be reached.";
  case CFileException::hardIO:
    return "A hardware error occurred while accessing %s.";
  case CFileException::sharingViolation:
    return "%s is in use by another program.";
  case CFileException::lockViolation:
    return "A locked region of %s could not be locked or unlocked.";
  case CFileException::diskFull:
    return "The disk is full: %s could not be written.";
  case CFileException::endOfFile:
    return "The end of %s was reached unexpectedly.";
  default:
    return "An error occurred while accessing %s.";
  }
}

} // namespace

int CFileException::OsErrorToException(LONG lOsError) {
  for (const CauseRow &row : kCauses)
    if (row.error == lOsError)
      return row.cause;
  return genericException;
}

void CFileException::ThrowOsError(LONG lOsError, LPCTSTR lpszFileName) {
  if (lOsError != 0)
    AfxThrowFileException(OsErrorToException(lOsError), lOsError, lpszFileName);
}

BOOL CFileException::GetErrorMessage(LPTSTR lpszError, UINT nMaxError, PUINT pnHelpContext) const {
  if (pnHelpContext != nullptr)
    *pnHelpContext = 0;
  if (lpszError == nullptr || nMaxError == 0)
    return FALSE;
  CString text;
  text.Format(messageFor(m_cause),
              m_strFileName.IsEmpty() ? "An unnamed file" : m_strFileName.GetString());
  UINT length = static_cast<UINT>(text.GetLength());
  if (length > nMaxError - 1)
    length = nMaxError - 1;
  std::memcpy(lpszError, text.GetString(), length);
  lpszError[length] = '\0';
  return TRUE;
}

void AfxThrowFileException(int cause, LONG lOsError, LPCTSTR lpszFileName) {
  throw new CFileException(cause, lOsError, lpszFileName);
}

// ---- CFile

namespace {

LONG lastError() { return static_cast<LONG>(GetLastError()); }

// The 64-bit value as the low and high words that Win32 calls take.
DWORD lowPart(ULONGLONG value) { return static_cast<DWORD>(value); }
DWORD highPart(ULONGLONG value) { return static_cast<DWORD>(value >> 32); }

// After the last `\`, `/` or `:`.
CString lastComponent(const CString &path) {
  int cut = -1;
  for (int i = 0; i < path.GetLength(); ++i) {
    char c = path.GetString()[i];
    if (c == '\\' || c == '/' || c == ':')
      cut = i;
  }
  return path.Mid(cut + 1);
}

} // namespace

IMPLEMENT_DYNAMIC(CFile, CObject)

const HANDLE CFile::hFileNull = INVALID_HANDLE_VALUE;

CFile::CFile() noexcept : m_hFile(hFileNull), m_bCloseOnDelete(FALSE) {}

CFile::CFile(HANDLE hFile) noexcept : m_hFile(hFile), m_bCloseOnDelete(FALSE) {}

CFile::CFile(LPCTSTR lpszFileName, UINT nOpenFlags) : CFile() {
  CFileException error;
  if (!Open(lpszFileName, nOpenFlags, &error))
    AfxThrowFileException(error.m_cause, error.m_lOsError, error.m_strFileName);
}

CFile::~CFile() {
  if (m_hFile != hFileNull && m_bCloseOnDelete)
    CFile::Abort();
}

ULONGLONG CFile::GetPosition() const {
  LONG high = 0;
  DWORD low = SetFilePointer(m_hFile, 0, &high, FILE_CURRENT);
  if (low == INVALID_SET_FILE_POINTER && GetLastError() != ERROR_SUCCESS)
    CFileException::ThrowOsError(lastError(), m_strFileName);
  return static_cast<ULONGLONG>(static_cast<DWORD>(high)) << 32 | low;
}

CString CFile::GetFileName() const { return lastComponent(m_strFileName); }

// The name without its extension; a name that only begins with a dot keeps it.
CString CFile::GetFileTitle() const {
  CString name = GetFileName();
  int dot = name.ReverseFind('.');
  return dot > 0 ? name.Left(dot) : name;
}

CString CFile::GetFilePath() const { return m_strFileName; }

void CFile::SetFilePath(LPCTSTR lpszNewName) { m_strFileName = lpszNewName; }

BOOL CFile::Open(LPCTSTR lpszFileName, UINT nOpenFlags, CFileException *pError) {
  // Copied first: the text may be this object's own path, which closing empties.
  const CString name(lpszFileName);
  if (m_hFile != hFileNull)
    Abort();
  m_bCloseOnDelete = FALSE;
  m_strFileName.Empty();
  auto refuse = [&](LONG osError) {
    if (pError != nullptr) {
      pError->m_cause = CFileException::OsErrorToException(osError);
      pError->m_lOsError = osError;
      pError->m_strFileName = name;
    }
    return FALSE;
  };

  DWORD access = 0;
  switch (nOpenFlags & 3) {
  case modeRead:
    access = static_cast<DWORD>(GENERIC_READ);
    break;
  case modeWrite:
    access = static_cast<DWORD>(GENERIC_WRITE);
    break;
  case modeReadWrite:
    access = static_cast<DWORD>(GENERIC_READ | GENERIC_WRITE);
    break;
  default:
    return refuse(ERROR_INVALID_PARAMETER);
  }
  DWORD share = 0;
  switch (nOpenFlags & 0x70) {
  case shareCompat:
  case shareExclusive:
    break;
  case shareDenyWrite:
    share = FILE_SHARE_READ;
    break;
  case shareDenyRead:
    share = FILE_SHARE_WRITE;
    break;
  case shareDenyNone:
    share = FILE_SHARE_READ | FILE_SHARE_WRITE;
    break;
  default:
    return refuse(ERROR_INVALID_PARAMETER);
  }
  DWORD disposition = OPEN_EXISTING;
  if (nOpenFlags & modeCreate)
    disposition = (nOpenFlags & modeNoTruncate) ? OPEN_ALWAYS : CREATE_ALWAYS;
  SECURITY_ATTRIBUTES security = {sizeof security, nullptr,
                                  (nOpenFlags & modeNoInherit) ? FALSE : TRUE};

  HANDLE handle =
      CreateFileA(name, access, share, &security, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE)
    return refuse(lastError());
  m_hFile = handle;
  m_bCloseOnDelete = TRUE;
  m_strFileName = name;
  return TRUE;
}

CFile *CFile::Duplicate() const {
  HANDLE copy = INVALID_HANDLE_VALUE;
  if (!DuplicateHandle(GetCurrentProcess(), m_hFile, GetCurrentProcess(), &copy, 0, FALSE,
                       DUPLICATE_SAME_ACCESS))
    CFileException::ThrowOsError(lastError(), m_strFileName);
  auto *file = new CFile(copy);
  file->m_bCloseOnDelete = TRUE;
  file->m_strFileName = m_strFileName;
  return file;
}

ULONGLONG CFile::Seek(LONGLONG lOff, UINT nFrom) {
  auto offset = static_cast<ULONGLONG>(lOff);
  LONG high = static_cast<LONG>(highPart(offset));
  DWORD low = SetFilePointer(m_hFile, static_cast<LONG>(lowPart(offset)), &high, nFrom);
  if (low == INVALID_SET_FILE_POINTER && GetLastError() != ERROR_SUCCESS)
    CFileException::ThrowOsError(lastError(), m_strFileName);
  return static_cast<ULONGLONG>(static_cast<DWORD>(high)) << 32 | low;
}

void CFile::SetLength(ULONGLONG dwNewLen) {
  Seek(static_cast<LONGLONG>(dwNewLen), begin);
  if (!SetEndOfFile(m_hFile))
    CFileException::ThrowOsError(lastError(), m_strFileName);
}

ULONGLONG CFile::GetLength() const {
  DWORD high = 0;
  DWORD low = GetFileSize(m_hFile, &high);
  if (low == INVALID_FILE_SIZE && GetLastError() != ERROR_SUCCESS)
    CFileException::ThrowOsError(lastError(), m_strFileName);
  return static_cast<ULONGLONG>(high) << 32 | low;
}

UINT CFile::Read(void *lpBuf, UINT nCount) {
  if (nCount == 0)
    return 0;
  if (lpBuf == nullptr)
    AfxThrowInvalidArgException();
  DWORD done = 0;
  if (!ReadFile(m_hFile, lpBuf, nCount, &done, nullptr))
    CFileException::ThrowOsError(lastError(), m_strFileName);
  return done;
}

void CFile::Write(const void *lpBuf, UINT nCount) {
  if (nCount == 0)
    return;
  if (lpBuf == nullptr)
    AfxThrowInvalidArgException();
  DWORD done = 0;
  if (!WriteFile(m_hFile, lpBuf, nCount, &done, nullptr))
    CFileException::ThrowOsError(lastError(), m_strFileName);
  // A short write without an error means the medium is full.
  if (done != nCount)
    AfxThrowFileException(CFileException::diskFull, -1, m_strFileName);
}

void CFile::LockRange(ULONGLONG dwPos, ULONGLONG dwCount) {
  if (!LockFile(m_hFile, lowPart(dwPos), highPart(dwPos), lowPart(dwCount), highPart(dwCount)))
    CFileException::ThrowOsError(lastError(), m_strFileName);
}

void CFile::UnlockRange(ULONGLONG dwPos, ULONGLONG dwCount) {
  if (!UnlockFile(m_hFile, lowPart(dwPos), highPart(dwPos), lowPart(dwCount), highPart(dwCount)))
    CFileException::ThrowOsError(lastError(), m_strFileName);
}

void CFile::Abort() {
  if (m_hFile != hFileNull) {
    CloseHandle(m_hFile);
    m_hFile = hFileNull;
  }
  m_bCloseOnDelete = FALSE;
  m_strFileName.Empty();
}

void CFile::Flush() {
  if (m_hFile == hFileNull)
    return;
  if (!FlushFileBuffers(m_hFile))
    CFileException::ThrowOsError(lastError(), m_strFileName);
}

void CFile::Close() {
  BOOL closed = TRUE;
  LONG error = 0;
  if (m_hFile != hFileNull) {
    closed = CloseHandle(m_hFile);
    error = closed ? 0 : lastError();
  }
  m_hFile = hFileNull;
  m_bCloseOnDelete = FALSE;
  CString name = m_strFileName;
  m_strFileName.Empty();
  if (!closed)
    CFileException::ThrowOsError(error, name);
}

UINT CFile::GetBufferPtr(UINT, UINT, void **ppBufStart, void **ppBufMax) {
  if (ppBufStart != nullptr)
    *ppBufStart = nullptr;
  if (ppBufMax != nullptr)
    *ppBufMax = nullptr;
  return 0;
}
