// CFile and CStdioFile, the framework's files, and CFileException for their failures.
#pragma once

#include <velmora/afx/exception.h>
#include <velmora/afx/object.h>
#include <velmora/afx/string.h>
#include <velmora/export.h>
#include <velmora/win32.h>

// Thrown by pointer (allocated, so handlers call Delete()) when a file operation fails.
class VLX_API CFileException : public CException {
  DECLARE_DYNAMIC(CFileException)
public:
  enum {
    none,
    genericException,
    fileNotFound,
    badPath,
    tooManyOpenFiles,
    accessDenied,
    invalidFile,
    removeCurrentDir,
    directoryFull,
    badSeek,
    hardIO,
    sharingViolation,
    lockViolation,
    diskFull,
    endOfFile
  };

  explicit CFileException(int cause = none, LONG lOsError = -1, LPCTSTR lpszArchiveName = nullptr);
  ~CFileException() override;

  // Back to cause none, OS error -1 and no file name.
  void Empty();
  BOOL GetErrorMessage(LPTSTR lpszError, UINT nMaxError,
                       PUINT pnHelpContext = nullptr) const override;

  // The cause for a Win32 error code; genericException for codes without a closer one.
  static int OsErrorToException(LONG lOsError);
  // Throws for any code but 0 (ERROR_SUCCESS).
  static void ThrowOsError(LONG lOsError, LPCTSTR lpszFileName = nullptr);

  int m_cause;
  LONG m_lOsError; // the Win32 error, -1 when there is none
  CString m_strFileName;
};

[[noreturn]] VLX_API void AfxThrowFileException(int cause, LONG lOsError = -1,
                                                LPCTSTR lpszFileName = nullptr);

// A file on a Win32 handle, unbuffered. Failures of operations throw CFileException*; Open
// reports through its CFileException* instead. Paths are Windows paths, mapped as the platform
// maps them. Share modes are passed to the system, which on POSIX does not enforce them.
class VLX_API CFile : public CObject {
  DECLARE_DYNAMIC(CFile)
public:
  enum OpenFlags : UINT {
    modeRead = 0x0000,
    modeWrite = 0x0001,
    modeReadWrite = 0x0002,
    shareCompat = 0x0000,
    shareExclusive = 0x0010,
    shareDenyWrite = 0x0020,
    shareDenyRead = 0x0030,
    shareDenyNone = 0x0040,
    modeNoInherit = 0x0080,
    modeCreate = 0x1000,
    modeNoTruncate = 0x2000,
    typeText = 0x4000,  // CStdioFile only
    typeBinary = 0x8000 // CStdioFile only
  };
  enum SeekPosition : UINT { begin = 0x0, current = 0x1, end = 0x2 };
  enum BufferCommand : UINT { bufferRead, bufferWrite, bufferCommit, bufferCheck };

  static const HANDLE hFileNull;

  CFile() noexcept;
  // Adopts an open handle; the object does not close it.
  explicit CFile(HANDLE hFile) noexcept;
  // Opens or throws CFileException*.
  CFile(LPCTSTR lpszFileName, UINT nOpenFlags);
  // Closes an open file that the object owns; errors are not reported.
  ~CFile() override;

  operator HANDLE() const noexcept { return m_hFile; }

  // The virtual functions keep this slot order after CObject's.
  virtual ULONGLONG GetPosition() const;
  // The path as given to Open or SetFilePath, and its last component with and without extension.
  virtual CString GetFileName() const;
  virtual CString GetFileTitle() const;
  virtual CString GetFilePath() const;
  virtual void SetFilePath(LPCTSTR lpszNewName);
  // An object that is still open closes its file first (errors are not reported). On failure
  // the object stays closed and *pError, when given, holds the cause, the Win32 error and the
  // path.
  virtual BOOL Open(LPCTSTR lpszFileName, UINT nOpenFlags, CFileException *pError = nullptr);
  // A new object on a duplicate handle, which shares the file position.
  virtual CFile *Duplicate() const;
  virtual ULONGLONG Seek(LONGLONG lOff, UINT nFrom);
  // Moves the position to the new end.
  virtual void SetLength(ULONGLONG dwNewLen);
  virtual ULONGLONG GetLength() const;
  // Returns the bytes read, fewer only at the end of the file.
  virtual UINT Read(void *lpBuf, UINT nCount);
  virtual void Write(const void *lpBuf, UINT nCount);
  virtual void LockRange(ULONGLONG dwPos, ULONGLONG dwCount);
  virtual void UnlockRange(ULONGLONG dwPos, ULONGLONG dwCount);
  // Closes without reporting errors; harmless on a closed file.
  virtual void Abort();
  // Makes written data durable (FlushFileBuffers).
  virtual void Flush();
  virtual void Close();
  // No buffer of its own: always 0.
  virtual UINT GetBufferPtr(UINT nCommand, UINT nCount = 0, void **ppBufStart = nullptr,
                            void **ppBufMax = nullptr);

  ULONGLONG SeekToEnd() { return Seek(0, end); }
  void SeekToBegin() { Seek(0, begin); }

  HANDLE m_hFile;

protected:
  BOOL m_bCloseOnDelete;
  CString m_strFileName;
};

// A buffered file with the text mode of the C run-time: unless typeBinary is given, CR LF reads
// as LF and LF is written as CR LF. Opening for writing without modeCreate, or with modeCreate
// and modeNoTruncate, appends every write at the end of the file.
class VLX_API CStdioFile : public CFile {
  DECLARE_DYNAMIC(CStdioFile)
public:
  CStdioFile() noexcept;
  // Opens or throws CFileException*.
  CStdioFile(LPCTSTR lpszFileName, UINT nOpenFlags);
  ~CStdioFile() override;

  ULONGLONG GetPosition() const override;
  BOOL Open(LPCTSTR lpszFileName, UINT nOpenFlags, CFileException *pError = nullptr) override;
  // Duplicate, LockRange and UnlockRange throw CNotSupportedException*.
  CFile *Duplicate() const override;
  ULONGLONG Seek(LONGLONG lOff, UINT nFrom) override;
  void SetLength(ULONGLONG dwNewLen) override;
  ULONGLONG GetLength() const override;
  UINT Read(void *lpBuf, UINT nCount) override;
  void Write(const void *lpBuf, UINT nCount) override;
  void LockRange(ULONGLONG dwPos, ULONGLONG dwCount) override;
  void UnlockRange(ULONGLONG dwPos, ULONGLONG dwCount) override;
  void Abort() override;
  // Hands buffered data to the system; no flush to the disk.
  void Flush() override;
  void Close() override;

  virtual void WriteString(LPCTSTR lpsz);
  // The next line without its newline; FALSE at the end of the file (rString then empty).
  virtual BOOL ReadString(CString &rString);
  // Reads up to nMax - 1 characters, stopping after a newline, which is kept, and terminates the
  // text. NULL when the end of the file came before any character (lpsz is then untouched).
  virtual LPTSTR ReadString(LPTSTR lpsz, UINT nMax);

private:
  enum class Mode : unsigned char { idle, reading, writing };

  void resetStream() noexcept;
  void requireOpen() const;
  bool fillBuffer();
  int nextRaw();
  int nextChar();
  void startReading();
  void startWriting();
  void putRaw(char c);
  void flushWrites();
  // Hands pending writes to the system; false with the Win32 error when that fails.
  bool tryFlushWrites(DWORD &error) noexcept;
  // Moves the handle's position back over read-ahead that was not consumed.
  void dropReadAhead();

  char *m_pBuffer;
  UINT m_nBegin; // next unread byte, in read mode
  UINT m_nEnd;   // end of read-ahead, or of pending writes
  Mode m_mode;
  BOOL m_bText;
  BOOL m_bAppend;
};
