// CString: buffers with a length header, grown geometrically when appended to.
// Past 600 lines as one file: every member works through the buffer helpers below, kept private.
#include <velmora/afx/exception.h>
#include <velmora/afx/string.h>

#include "framework/alloc.h"

#include <algorithm>
#include <climits>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <utility>

// std::min and std::max are parenthesised: <windows.h> may define them as macros.

namespace {

// Every empty string that owns no buffer points here; it is never written.
struct EmptyRep {
  CStringData header;
  TCHAR chars[sizeof(CStringData)];
};
EmptyRep emptyRep;
static_assert(offsetof(EmptyRep, chars) == sizeof(CStringData),
              "the characters follow the header directly");
static_assert(sizeof(CString) == sizeof(LPTSTR), "a CString is just its character pointer");

LPTSTR emptyChars() noexcept { return emptyRep.chars; }

constexpr int kMaxLength = INT_MAX - 1;

int checkedSum(int a, int b) {
  long long sum = static_cast<long long>(a) + b;
  if (sum > kMaxLength)
    AfxThrowMemoryException();
  return static_cast<int>(sum);
}

// A buffer with room for nAlloc characters and the terminator; nAlloc >= 1 marks it as owned.
LPTSTR allocChars(int nAlloc) {
  nAlloc = (std::max)(nAlloc, 1);
  void *raw =
      vlx::detail::allocateOrThrow(sizeof(CStringData) + static_cast<size_t>(nAlloc) + 1, false);
  auto *data = static_cast<CStringData *>(raw);
  data->nDataLength = 0;
  data->nAllocLength = nAlloc;
  auto *chars = reinterpret_cast<LPTSTR>(data + 1);
  chars[0] = '\0';
  chars[nAlloc] = '\0';
  return chars;
}

void freeChars(LPTSTR chars) noexcept {
  auto *data = static_cast<CStringData *>(static_cast<void *>(chars)) - 1;
  if (data->nAllocLength != 0)
    vlx::detail::deallocate(data);
}

int grownCapacity(int current, int needed) {
  long long grown = static_cast<long long>(current) + current / 2;
  return static_cast<int>((std::max<long long>)(needed, (std::min<long long>)(grown, kMaxLength)));
}

bool isSpace(TCHAR ch) noexcept {
  return ch == ' ' || ch == '\t' || ch == '\n' || ch == '\v' || ch == '\f' || ch == '\r';
}

TCHAR toLowerAscii(TCHAR ch) noexcept { return ch >= 'A' && ch <= 'Z' ? ch - 'A' + 'a' : ch; }
TCHAR toUpperAscii(TCHAR ch) noexcept { return ch >= 'a' && ch <= 'z' ? ch - 'a' + 'A' : ch; }

int lengthOf(LPCTSTR lpsz) {
  if (lpsz == nullptr)
    return 0;
  size_t n = std::strlen(lpsz);
  if (n > static_cast<size_t>(kMaxLength))
    AfxThrowMemoryException();
  return static_cast<int>(n);
}

} // namespace

// ---- construction and assignment

CString::CString() noexcept : m_pchData(emptyChars()) {}

CString::CString(const CString &stringSrc) : m_pchData(emptyChars()) {
  assign(stringSrc.m_pchData, stringSrc.GetLength());
}

CString::CString(CString &&stringSrc) noexcept : m_pchData(stringSrc.m_pchData) {
  stringSrc.m_pchData = emptyChars();
}

CString::CString(LPCTSTR lpsz) : m_pchData(emptyChars()) { assign(lpsz, lengthOf(lpsz)); }

CString::CString(LPCTSTR lpch, int nLength) : m_pchData(emptyChars()) {
  if (nLength > 0 && lpch == nullptr)
    AfxThrowInvalidArgException();
  assign(lpch, (std::max)(nLength, 0));
}

CString::CString(TCHAR ch, int nRepeat) : m_pchData(emptyChars()) {
  if (nRepeat > 0) {
    reallocate(nRepeat);
    std::memset(m_pchData, ch, static_cast<size_t>(nRepeat));
    setLength(nRepeat);
  }
}

CString::~CString() { freeChars(m_pchData); }

CString &CString::operator=(const CString &stringSrc) {
  if (this != &stringSrc)
    assign(stringSrc.m_pchData, stringSrc.GetLength());
  return *this;
}

CString &CString::operator=(CString &&stringSrc) noexcept {
  if (this != &stringSrc) {
    freeChars(m_pchData);
    m_pchData = stringSrc.m_pchData;
    stringSrc.m_pchData = emptyChars();
  }
  return *this;
}

CString &CString::operator=(LPCTSTR lpsz) {
  assign(lpsz, lengthOf(lpsz));
  return *this;
}

CString &CString::operator=(TCHAR ch) {
  assign(&ch, 1);
  return *this;
}

void CString::Empty() noexcept { release(); }

// lpch may point into this string's own buffer.
void CString::assign(LPCTSTR lpch, int nLength) {
  if (nLength == 0) {
    if (!isSharedEmpty())
      setLength(0);
    return;
  }
  if (!isSharedEmpty() && nLength <= GetData()->nAllocLength) {
    std::memmove(m_pchData, lpch, static_cast<size_t>(nLength));
    setLength(nLength);
    return;
  }
  LPTSTR fresh = allocChars(nLength);
  std::memcpy(fresh, lpch, static_cast<size_t>(nLength));
  freeChars(m_pchData);
  m_pchData = fresh;
  setLength(nLength);
}

void CString::reallocate(int nAllocLength) {
  int length = GetLength();
  LPTSTR fresh = allocChars((std::max)(nAllocLength, length));
  std::memcpy(fresh, m_pchData, static_cast<size_t>(length));
  freeChars(m_pchData);
  m_pchData = fresh;
  setLength(length);
}

void CString::release() noexcept {
  freeChars(m_pchData);
  m_pchData = emptyChars();
}

void CString::setLength(int nLength) noexcept {
  GetData()->nDataLength = nLength;
  m_pchData[nLength] = '\0';
}

// ---- element access

TCHAR CString::GetAt(int nIndex) const {
  if (nIndex < 0 || nIndex > GetLength())
    AfxThrowInvalidArgException();
  return m_pchData[nIndex];
}

void CString::SetAt(int nIndex, TCHAR ch) {
  if (nIndex < 0 || nIndex >= GetLength())
    AfxThrowInvalidArgException();
  m_pchData[nIndex] = ch;
}

// ---- concatenation

void CString::Append(LPCTSTR lpch, int nLength) {
  if (nLength <= 0)
    return;
  int length = GetLength();
  int total = checkedSum(length, nLength);
  if (!isSharedEmpty() && total <= GetData()->nAllocLength) {
    std::memmove(m_pchData + length, lpch, static_cast<size_t>(nLength));
    setLength(total);
    return;
  }
  // lpch may lie in the old buffer, which stays alive until both parts are copied.
  LPTSTR fresh = allocChars(grownCapacity(GetData()->nAllocLength, total));
  std::memcpy(fresh, m_pchData, static_cast<size_t>(length));
  std::memcpy(fresh + length, lpch, static_cast<size_t>(nLength));
  freeChars(m_pchData);
  m_pchData = fresh;
  setLength(total);
}

CString &CString::operator+=(const CString &string) {
  Append(string.m_pchData, string.GetLength());
  return *this;
}

CString &CString::operator+=(LPCTSTR lpsz) {
  Append(lpsz, lengthOf(lpsz));
  return *this;
}

CString &CString::operator+=(TCHAR ch) {
  Append(&ch, 1);
  return *this;
}

namespace {

CString concat(LPCTSTR p1, int n1, LPCTSTR p2, int n2) {
  CString result;
  result.Preallocate(checkedSum(n1, n2));
  result.Append(p1, n1);
  result.Append(p2, n2);
  return result;
}

} // namespace

CString operator+(const CString &string1, const CString &string2) {
  return concat(string1, string1.GetLength(), string2, string2.GetLength());
}
CString operator+(const CString &string, LPCTSTR lpsz) {
  return concat(string, string.GetLength(), lpsz, lengthOf(lpsz));
}
CString operator+(LPCTSTR lpsz, const CString &string) {
  return concat(lpsz, lengthOf(lpsz), string, string.GetLength());
}
CString operator+(const CString &string, TCHAR ch) {
  return concat(string, string.GetLength(), &ch, 1);
}
CString operator+(TCHAR ch, const CString &string) {
  return concat(&ch, 1, string, string.GetLength());
}

// ---- comparison

int CString::Compare(LPCTSTR lpsz) const {
  return std::strcmp(m_pchData, lpsz != nullptr ? lpsz : "");
}

int CString::CompareNoCase(LPCTSTR lpsz) const {
  if (lpsz == nullptr)
    lpsz = "";
  const auto *a = reinterpret_cast<const unsigned char *>(m_pchData);
  const auto *b = reinterpret_cast<const unsigned char *>(lpsz);
  for (;; ++a, ++b) {
    int ca = static_cast<unsigned char>(toLowerAscii(static_cast<TCHAR>(*a)));
    int cb = static_cast<unsigned char>(toLowerAscii(static_cast<TCHAR>(*b)));
    if (ca != cb || ca == 0)
      return ca - cb;
  }
}

// ---- extraction

CString CString::Mid(int nFirst) const {
  nFirst = (std::max)(nFirst, 0);
  return Mid(nFirst, GetLength() - (std::min)(nFirst, GetLength()));
}

CString CString::Mid(int nFirst, int nCount) const {
  int length = GetLength();
  nFirst = (std::max)(nFirst, 0);
  nCount = (std::max)(nCount, 0);
  if (nFirst >= length || nCount == 0)
    return CString();
  nCount = (std::min)(nCount, length - nFirst);
  if (nFirst == 0 && nCount == length)
    return *this;
  return CString(m_pchData + nFirst, nCount);
}

CString CString::Left(int nCount) const {
  nCount = (std::max)(nCount, 0);
  if (nCount >= GetLength())
    return *this;
  return CString(m_pchData, nCount);
}

CString CString::Right(int nCount) const {
  nCount = (std::max)(nCount, 0);
  int length = GetLength();
  if (nCount >= length)
    return *this;
  return CString(m_pchData + length - nCount, nCount);
}

CString CString::SpanIncluding(LPCTSTR lpszCharSet) const {
  return Left(static_cast<int>(std::strspn(m_pchData, lpszCharSet ? lpszCharSet : "")));
}

CString CString::SpanExcluding(LPCTSTR lpszCharSet) const {
  return Left(static_cast<int>(std::strcspn(m_pchData, lpszCharSet ? lpszCharSet : "")));
}

// ---- case and order

CString &CString::MakeUpper() {
  std::transform(m_pchData, m_pchData + GetLength(), m_pchData, toUpperAscii);
  return *this;
}

CString &CString::MakeLower() {
  std::transform(m_pchData, m_pchData + GetLength(), m_pchData, toLowerAscii);
  return *this;
}

CString &CString::MakeReverse() {
  std::reverse(m_pchData, m_pchData + GetLength());
  return *this;
}

// ---- trimming; like the rest of the framework these look at the text up to the first NUL

namespace {

template <class Pred> int trailingStart(LPCTSTR chars, Pred match) {
  LPCTSTR last = nullptr;
  LPCTSTR p = chars;
  for (; *p != '\0'; ++p) {
    if (match(*p)) {
      if (last == nullptr)
        last = p;
    } else {
      last = nullptr;
    }
  }
  return last != nullptr ? static_cast<int>(last - chars) : -1;
}

template <class Pred> int leadingCount(LPCTSTR chars, Pred match) {
  LPCTSTR p = chars;
  while (*p != '\0' && match(*p))
    ++p;
  return static_cast<int>(p - chars);
}

bool inSet(LPCTSTR set, TCHAR ch) { return set != nullptr && std::strchr(set, ch) != nullptr; }

} // namespace

CString &CString::TrimRight() {
  int start = trailingStart(m_pchData, isSpace);
  if (start >= 0)
    setLength(start);
  return *this;
}

CString &CString::TrimRight(TCHAR chTarget) {
  int start = trailingStart(m_pchData, [chTarget](TCHAR ch) { return ch == chTarget; });
  if (start >= 0)
    setLength(start);
  return *this;
}

CString &CString::TrimRight(LPCTSTR lpszTargets) {
  int start = trailingStart(m_pchData, [lpszTargets](TCHAR ch) { return inSet(lpszTargets, ch); });
  if (start >= 0)
    setLength(start);
  return *this;
}

CString &CString::TrimLeft() {
  Delete(0, leadingCount(m_pchData, isSpace));
  return *this;
}

CString &CString::TrimLeft(TCHAR chTarget) {
  Delete(0, leadingCount(m_pchData, [chTarget](TCHAR ch) { return ch == chTarget; }));
  return *this;
}

CString &CString::TrimLeft(LPCTSTR lpszTargets) {
  Delete(0, leadingCount(m_pchData, [lpszTargets](TCHAR ch) { return inSet(lpszTargets, ch); }));
  return *this;
}

CString &CString::Trim() { return TrimRight().TrimLeft(); }
CString &CString::Trim(TCHAR chTarget) { return TrimRight(chTarget).TrimLeft(chTarget); }
CString &CString::Trim(LPCTSTR lpszTargets) { return TrimRight(lpszTargets).TrimLeft(lpszTargets); }

// ---- editing

int CString::Replace(TCHAR chOld, TCHAR chNew) {
  if (chOld == chNew)
    return 0;
  int count = 0;
  for (int i = 0; i < GetLength(); ++i) {
    if (m_pchData[i] == chOld) {
      m_pchData[i] = chNew;
      ++count;
    }
  }
  return count;
}

int CString::Replace(LPCTSTR lpszOld, LPCTSTR lpszNew) {
  int oldLength = lengthOf(lpszOld);
  if (oldLength == 0)
    return 0;
  int newLength = lengthOf(lpszNew);
  int length = GetLength();
  auto matchesAt = [&](int i) {
    return std::memcmp(m_pchData + i, lpszOld, static_cast<size_t>(oldLength)) == 0;
  };
  int count = 0;
  for (int i = 0; i + oldLength <= length;) {
    if (matchesAt(i)) {
      ++count;
      i += oldLength;
    } else {
      ++i;
    }
  }
  if (count == 0)
    return 0;
  // Built apart: lpszOld and lpszNew may point into this string.
  CString result;
  long long total = length + static_cast<long long>(count) * (newLength - oldLength);
  if (total > kMaxLength)
    AfxThrowMemoryException();
  result.Preallocate(static_cast<int>(total));
  int copiedUpTo = 0;
  for (int i = 0; i + oldLength <= length;) {
    if (matchesAt(i)) {
      result.Append(m_pchData + copiedUpTo, i - copiedUpTo);
      result.Append(lpszNew, newLength);
      i += oldLength;
      copiedUpTo = i;
    } else {
      ++i;
    }
  }
  result.Append(m_pchData + copiedUpTo, length - copiedUpTo);
  *this = std::move(result);
  return count;
}

int CString::Remove(TCHAR chRemove) {
  int length = GetLength();
  TCHAR *end = std::remove(m_pchData, m_pchData + length, chRemove);
  int removed = static_cast<int>(m_pchData + length - end);
  if (removed > 0)
    setLength(length - removed);
  return removed;
}

int CString::Insert(int nIndex, TCHAR ch) { return Insert(nIndex, CString(ch)); }

int CString::Insert(int nIndex, LPCTSTR psz) {
  int length = GetLength();
  nIndex = std::clamp(nIndex, 0, length);
  int count = lengthOf(psz);
  if (count == 0)
    return length;
  CString result;
  result.Preallocate(checkedSum(length, count));
  result.Append(m_pchData, nIndex);
  result.Append(psz, count);
  result.Append(m_pchData + nIndex, length - nIndex);
  *this = std::move(result);
  return GetLength();
}

int CString::Delete(int nIndex, int nCount) {
  int length = GetLength();
  nIndex = (std::max)(nIndex, 0);
  nCount = (std::max)(nCount, 0);
  if (nIndex < length && nCount > 0) {
    nCount = (std::min)(nCount, length - nIndex);
    std::memmove(m_pchData + nIndex, m_pchData + nIndex + nCount,
                 static_cast<size_t>(length - nIndex - nCount));
    setLength(length - nCount);
  }
  return GetLength();
}

// ---- searching

int CString::Find(TCHAR ch) const { return Find(ch, 0); }

int CString::Find(LPCTSTR lpszSub) const { return Find(lpszSub, 0); }

int CString::Find(TCHAR ch, int nStart) const {
  if (nStart < 0 || nStart >= GetLength())
    return -1;
  LPCTSTR p = std::strchr(m_pchData + nStart, ch);
  return p != nullptr ? static_cast<int>(p - m_pchData) : -1;
}

int CString::Find(LPCTSTR lpszSub, int nStart) const {
  if (lpszSub == nullptr || nStart < 0 || nStart > GetLength())
    return -1;
  LPCTSTR p = std::strstr(m_pchData + nStart, lpszSub);
  return p != nullptr ? static_cast<int>(p - m_pchData) : -1;
}

int CString::ReverseFind(TCHAR ch) const {
  LPCTSTR p = std::strrchr(m_pchData, ch);
  return p != nullptr ? static_cast<int>(p - m_pchData) : -1;
}

int CString::FindOneOf(LPCTSTR lpszCharSet) const {
  if (lpszCharSet == nullptr)
    return -1;
  LPCTSTR p = std::strpbrk(m_pchData, lpszCharSet);
  return p != nullptr ? static_cast<int>(p - m_pchData) : -1;
}

// ---- formatting

void CString::Format(LPCTSTR lpszFormat, ...) {
  va_list args;
  va_start(args, lpszFormat);
  try {
    FormatV(lpszFormat, args);
  } catch (...) {
    va_end(args);
    throw;
  }
  va_end(args);
}

// The arguments may point into this string, so the text is built apart first.
void CString::FormatV(LPCTSTR lpszFormat, va_list argList) {
  if (lpszFormat == nullptr)
    AfxThrowInvalidArgException();
  char small[256];
  va_list probe;
  va_copy(probe, argList);
  int needed = std::vsnprintf(small, sizeof small, lpszFormat, probe);
  va_end(probe);
  if (needed < 0)
    AfxThrowInvalidArgException();
  if (needed < static_cast<int>(sizeof small)) {
    assign(small, needed);
    return;
  }
  if (needed > kMaxLength)
    AfxThrowMemoryException();
  CString result;
  LPTSTR buffer = result.GetBuffer(needed);
  va_list again;
  va_copy(again, argList);
  std::vsnprintf(buffer, static_cast<size_t>(needed) + 1, lpszFormat, again);
  va_end(again);
  result.ReleaseBuffer(needed);
  *this = std::move(result);
}

void CString::AppendFormat(LPCTSTR lpszFormat, ...) {
  CString formatted;
  va_list args;
  va_start(args, lpszFormat);
  try {
    formatted.FormatV(lpszFormat, args);
  } catch (...) {
    va_end(args);
    throw;
  }
  va_end(args);
  *this += formatted;
}

// ---- buffer protocol

LPTSTR CString::GetBuffer(int nMinBufLength) {
  nMinBufLength = (std::max)(nMinBufLength, 0);
  if (isSharedEmpty() || nMinBufLength > GetData()->nAllocLength)
    reallocate(nMinBufLength);
  return m_pchData;
}

void CString::ReleaseBuffer(int nNewLength) {
  if (isSharedEmpty())
    return;
  int capacity = GetData()->nAllocLength;
  if (nNewLength == -1) {
    const void *nul = std::memchr(m_pchData, '\0', static_cast<size_t>(capacity));
    nNewLength =
        nul != nullptr ? static_cast<int>(static_cast<LPCTSTR>(nul) - m_pchData) : capacity;
  }
  setLength(std::clamp(nNewLength, 0, capacity));
}

LPTSTR CString::GetBufferSetLength(int nNewLength) {
  nNewLength = (std::max)(nNewLength, 0);
  GetBuffer(nNewLength);
  setLength(nNewLength);
  return m_pchData;
}

void CString::Preallocate(int nLength) {
  if (nLength > 0 && (isSharedEmpty() || nLength > GetData()->nAllocLength))
    reallocate(nLength);
}

void CString::FreeExtra() {
  if (isSharedEmpty())
    return;
  if (GetLength() == 0)
    release();
  else if (GetData()->nAllocLength > GetLength())
    reallocate(GetLength());
}
