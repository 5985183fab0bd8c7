// CString: the framework's narrow string with value semantics.
#pragma once

#include <velmora/export.h>
#include <velmora/win32.h>

#include <cstdarg>

#if defined(__GNUC__)
#define VLX_PRINTF_FORMAT(fmt, args) __attribute__((format(printf, fmt, args)))
#else
#define VLX_PRINTF_FORMAT(fmt, args)
#endif

// Header in front of the characters of every CString buffer.
struct CStringData {
  int nDataLength;  // characters stored, not counting the terminator
  int nAllocLength; // characters that fit, not counting the terminator; 0 for the shared empty
};

// The characters may contain NULs: the stored length counts, not the terminator. Searches and
// comparisons, like the C string functions they follow, stop at the first NUL.
class VLX_API CString {
public:
  CString() noexcept;
  CString(const CString &stringSrc);
  CString(CString &&stringSrc) noexcept;
  CString(LPCTSTR lpsz); // NULL gives an empty string
  CString(LPCTSTR lpch, int nLength);
  explicit CString(TCHAR ch, int nRepeat = 1);
  ~CString();

  CString &operator=(const CString &stringSrc);
  CString &operator=(CString &&stringSrc) noexcept;
  CString &operator=(LPCTSTR lpsz);
  CString &operator=(TCHAR ch);

  int GetLength() const noexcept { return GetData()->nDataLength; }
  BOOL IsEmpty() const noexcept { return GetData()->nDataLength == 0; }
  void Empty() noexcept;

  // Index checks throw CInvalidArgException*; the terminator at GetLength() may be read.
  TCHAR GetAt(int nIndex) const;
  TCHAR operator[](int nIndex) const { return GetAt(nIndex); }
  void SetAt(int nIndex, TCHAR ch);

  operator LPCTSTR() const noexcept { return m_pchData; }
  LPCTSTR GetString() const noexcept { return m_pchData; }

  CString &operator+=(const CString &string);
  CString &operator+=(LPCTSTR lpsz);
  CString &operator+=(TCHAR ch);
  void Append(LPCTSTR lpch, int nLength);

  int Compare(LPCTSTR lpsz) const;
  int CompareNoCase(LPCTSTR lpsz) const; // ASCII case folding to lower case

  // Out-of-range positions and counts are clamped to the string.
  CString Mid(int nFirst) const;
  CString Mid(int nFirst, int nCount) const;
  CString Left(int nCount) const;
  CString Right(int nCount) const;
  CString SpanIncluding(LPCTSTR lpszCharSet) const;
  CString SpanExcluding(LPCTSTR lpszCharSet) const;

  CString &MakeUpper();
  CString &MakeLower();
  CString &MakeReverse();

  // Without an argument these remove white space (space, \t, \n, \v, \f, \r).
  CString &TrimRight();
  CString &TrimRight(TCHAR chTarget);
  CString &TrimRight(LPCTSTR lpszTargets);
  CString &TrimLeft();
  CString &TrimLeft(TCHAR chTarget);
  CString &TrimLeft(LPCTSTR lpszTargets);
  CString &Trim();
  CString &Trim(TCHAR chTarget);
  CString &Trim(LPCTSTR lpszTargets);

  int Replace(TCHAR chOld, TCHAR chNew);
  int Replace(LPCTSTR lpszOld, LPCTSTR lpszNew);
  int Remove(TCHAR chRemove);
  int Insert(int nIndex, TCHAR ch);
  int Insert(int nIndex, LPCTSTR psz);
  int Delete(int nIndex, int nCount = 1);

  // -1 when not found or when the start is outside the string.
  int Find(TCHAR ch) const;
  int Find(LPCTSTR lpszSub) const;
  int Find(TCHAR ch, int nStart) const;
  int Find(LPCTSTR lpszSub, int nStart) const;
  int ReverseFind(TCHAR ch) const;
  int FindOneOf(LPCTSTR lpszCharSet) const;

  // String resource nID from the module chain; FALSE, with the string unchanged, when absent.
  BOOL LoadString(UINT nID);

  void Format(LPCTSTR lpszFormat, ...) VLX_PRINTF_FORMAT(2, 3);
  void FormatV(LPCTSTR lpszFormat, va_list argList);
  void AppendFormat(LPCTSTR lpszFormat, ...) VLX_PRINTF_FORMAT(2, 3);

  // Buffer protocol: write into GetBuffer(n) (room for n characters and a terminator), then
  // ReleaseBuffer(len) or ReleaseBuffer() to take the length from the terminator.
  LPTSTR GetBuffer(int nMinBufLength);
  LPTSTR GetBuffer() { return GetBuffer(0); }
  void ReleaseBuffer(int nNewLength = -1);
  LPTSTR GetBufferSetLength(int nNewLength);
  void Preallocate(int nLength);
  void FreeExtra();
  int GetAllocLength() const noexcept { return GetData()->nAllocLength; }
  LPTSTR LockBuffer() { return GetBuffer(0); }
  void UnlockBuffer() noexcept {}

protected:
  LPTSTR m_pchData; // characters, preceded by a CStringData header

  CStringData *GetData() const noexcept {
    return static_cast<CStringData *>(static_cast<void *>(m_pchData)) - 1;
  }

private:
  bool isSharedEmpty() const noexcept { return GetData()->nAllocLength == 0; }
  void assign(LPCTSTR lpch, int nLength);
  void reallocate(int nAllocLength);
  void release() noexcept;
  void setLength(int nLength) noexcept;
};

VLX_API CString operator+(const CString &string1, const CString &string2);
VLX_API CString operator+(const CString &string, LPCTSTR lpsz);
VLX_API CString operator+(LPCTSTR lpsz, const CString &string);
VLX_API CString operator+(const CString &string, TCHAR ch);
VLX_API CString operator+(TCHAR ch, const CString &string);

inline bool operator==(const CString &s1, const CString &s2) { return s1.Compare(s2) == 0; }
inline bool operator==(const CString &s1, LPCTSTR s2) { return s1.Compare(s2) == 0; }
inline bool operator==(LPCTSTR s1, const CString &s2) { return s2.Compare(s1) == 0; }
inline bool operator!=(const CString &s1, const CString &s2) { return s1.Compare(s2) != 0; }
inline bool operator!=(const CString &s1, LPCTSTR s2) { return s1.Compare(s2) != 0; }
inline bool operator!=(LPCTSTR s1, const CString &s2) { return s2.Compare(s1) != 0; }
inline bool operator<(const CString &s1, const CString &s2) { return s1.Compare(s2) < 0; }
inline bool operator<(const CString &s1, LPCTSTR s2) { return s1.Compare(s2) < 0; }
inline bool operator<(LPCTSTR s1, const CString &s2) { return s2.Compare(s1) > 0; }
inline bool operator>(const CString &s1, const CString &s2) { return s1.Compare(s2) > 0; }
inline bool operator>(const CString &s1, LPCTSTR s2) { return s1.Compare(s2) > 0; }
inline bool operator>(LPCTSTR s1, const CString &s2) { return s2.Compare(s1) < 0; }
inline bool operator<=(const CString &s1, const CString &s2) { return s1.Compare(s2) <= 0; }
inline bool operator<=(const CString &s1, LPCTSTR s2) { return s1.Compare(s2) <= 0; }
inline bool operator<=(LPCTSTR s1, const CString &s2) { return s2.Compare(s1) >= 0; }
inline bool operator>=(const CString &s1, const CString &s2) { return s1.Compare(s2) >= 0; }
inline bool operator>=(const CString &s1, LPCTSTR s2) { return s1.Compare(s2) >= 0; }
inline bool operator>=(LPCTSTR s1, const CString &s2) { return s2.Compare(s1) <= 0; }
