// The W forms of the file calls: 16-bit names converted to the UTF-8 of the A forms and back.
#include "platform/posix/files/file_errors.h"
#include "platform/posix/files/find_data.h"

#include <velmora/win32.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <unicode/ustring.h>
#include <utility>
#include <vector>

namespace vlx::posix {
namespace {

// A 16-bit name as the A forms take it; null stays null.
class Narrow {
public:
  explicit Narrow(LPCWSTR text) : null_(text == nullptr) {
    if (null_)
      return;
    const size_t length = vlx::wcstombs(nullptr, text, 0);
    if (length == static_cast<size_t>(-1)) {
      valid_ = false;
      return;
    }
    text_.resize(length + 1);
    vlx::wcstombs(text_.data(), text, length + 1);
  }
  // False for an unpaired surrogate, which has no UTF-8 form.
  bool valid() const { return valid_; }
  const char *get() const { return null_ ? nullptr : text_.data(); }

private:
  std::vector<char> text_;
  bool null_;
  bool valid_ = true;
};

} // namespace

std::u16string widen(const char *text) {
  std::u16string wide(std::strlen(text), u'\0');
  int32_t length = 0;
  UErrorCode status = U_ZERO_ERROR;
  u_strFromUTF8WithSub(wide.data(), static_cast<int32_t>(wide.size()), &length, text, -1, 0xFFFD,
                       nullptr, &status);
  wide.resize(U_SUCCESS(status) ? static_cast<size_t>(length) : 0);
  return wide;
}

namespace {

// As the A forms answer: the length when it fits with its terminator, else the size needed.
DWORD answer(const std::u16string &text, DWORD size, LPWSTR buffer) {
  if (text.size() >= size || !buffer)
    return static_cast<DWORD>(text.size() + 1);
  std::copy(text.begin(), text.end(), buffer);
  buffer[text.size()] = u'\0';
  return static_cast<DWORD>(text.size());
}

void widenFindData(const WIN32_FIND_DATAA &in, WIN32_FIND_DATAW &out) {
  std::memset(&out, 0, sizeof out);
  out.dwFileAttributes = in.dwFileAttributes;
  out.ftCreationTime = in.ftCreationTime;
  out.ftLastAccessTime = in.ftLastAccessTime;
  out.ftLastWriteTime = in.ftLastWriteTime;
  out.nFileSizeHigh = in.nFileSizeHigh;
  out.nFileSizeLow = in.nFileSizeLow;
  // A name of at most 255 bytes is at most 255 units.
  const std::u16string name = widen(in.cFileName);
  std::copy_n(name.begin(), std::min<size_t>(name.size(), 259), out.cFileName);
}

// Runs the A form of a call returning text of `capacity` characters into `text`.
template <typename Call> bool narrowText(std::string &text, Call call) {
  std::vector<char> buffer(MAX_PATH);
  const DWORD length = call(static_cast<DWORD>(buffer.size()), buffer.data());
  if (length == 0 || length >= buffer.size())
    return false;
  text.assign(buffer.data(), length);
  return true;
}

// The A call with the names in order.
template <typename Call, size_t... I>
auto callNarrow(Call &call, const Narrow *narrow, std::index_sequence<I...>) {
  return call(narrow[I].get()...);
}

// Calls `call` with each of `names` as the A forms take them; fails with `failed` when one has
// no UTF-8 form.
template <typename Result, typename Call, typename... Names>
Result narrowed(Result failed, Call call, Names... names) {
  const Narrow narrow[] = {Narrow(names)...};
  for (const Narrow &name : narrow)
    if (!name.valid())
      return fail(ERROR_NO_UNICODE_TRANSLATION, failed);
  return callNarrow(call, narrow, std::index_sequence_for<Names...>());
}

} // namespace
} // namespace vlx::posix

using namespace vlx::posix;

HANDLE WINAPI CreateFileW(LPCWSTR lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode,
                          LPSECURITY_ATTRIBUTES lpSecurityAttributes, DWORD dwCreationDisposition,
                          DWORD dwFlagsAndAttributes, HANDLE hTemplateFile) {
  return narrowed(
      INVALID_HANDLE_VALUE,
      [&](LPCSTR name) {
        return CreateFileA(name, dwDesiredAccess, dwShareMode, lpSecurityAttributes,
                           dwCreationDisposition, dwFlagsAndAttributes, hTemplateFile);
      },
      lpFileName);
}

HANDLE WINAPI FindFirstFileW(LPCWSTR lpFileName, LPWIN32_FIND_DATAW lpFindFileData) {
  Narrow name(lpFileName);
  if (!name.valid())
    return fail(ERROR_NO_UNICODE_TRANSLATION, INVALID_HANDLE_VALUE);
  if (!lpFindFileData)
    return fail(ERROR_INVALID_PARAMETER, INVALID_HANDLE_VALUE);
  WIN32_FIND_DATAA data;
  HANDLE search = FindFirstFileA(name.get(), &data);
  if (search != INVALID_HANDLE_VALUE)
    widenFindData(data, *lpFindFileData);
  return search;
}

BOOL WINAPI FindNextFileW(HANDLE hFindFile, LPWIN32_FIND_DATAW lpFindFileData) {
  if (!lpFindFileData)
    return fail(ERROR_INVALID_PARAMETER, FALSE);
  WIN32_FIND_DATAA data;
  if (!FindNextFileA(hFindFile, &data))
    return FALSE;
  widenFindData(data, *lpFindFileData);
  return TRUE;
}

BOOL WINAPI CopyFileW(LPCWSTR lpExistingFileName, LPCWSTR lpNewFileName, BOOL bFailIfExists) {
  return narrowed(
      FALSE, [&](LPCSTR from, LPCSTR to) { return CopyFileA(from, to, bFailIfExists); },
      lpExistingFileName, lpNewFileName);
}

BOOL WINAPI DeleteFileW(LPCWSTR lpFileName) { return narrowed(FALSE, DeleteFileA, lpFileName); }

DWORD WINAPI GetFileAttributesW(LPCWSTR lpFileName) {
  return narrowed(INVALID_FILE_ATTRIBUTES, GetFileAttributesA, lpFileName);
}

BOOL WINAPI GetFileAttributesExW(LPCWSTR lpFileName, GET_FILEEX_INFO_LEVELS fInfoLevelId,
                                 LPVOID lpFileInformation) {
  return narrowed(
      FALSE,
      [&](LPCSTR name) { return GetFileAttributesExA(name, fInfoLevelId, lpFileInformation); },
      lpFileName);
}

BOOL WINAPI SetFileAttributesW(LPCWSTR lpFileName, DWORD dwFileAttributes) {
  return narrowed(
      FALSE, [&](LPCSTR name) { return SetFileAttributesA(name, dwFileAttributes); }, lpFileName);
}

BOOL WINAPI MoveFileW(LPCWSTR lpExistingFileName, LPCWSTR lpNewFileName) {
  return MoveFileExW(lpExistingFileName, lpNewFileName, MOVEFILE_COPY_ALLOWED);
}

BOOL WINAPI MoveFileExW(LPCWSTR lpExistingFileName, LPCWSTR lpNewFileName, DWORD dwFlags) {
  return narrowed(
      FALSE, [&](LPCSTR from, LPCSTR to) { return MoveFileExA(from, to, dwFlags); },
      lpExistingFileName, lpNewFileName);
}

BOOL WINAPI ReplaceFileW(LPCWSTR lpReplacedFileName, LPCWSTR lpReplacementFileName,
                         LPCWSTR lpBackupFileName, DWORD dwReplaceFlags, LPVOID lpExclude,
                         LPVOID lpReserved) {
  return narrowed(
      FALSE,
      [&](LPCSTR replaced, LPCSTR replacement, LPCSTR backup) {
        return ReplaceFileA(replaced, replacement, backup, dwReplaceFlags, lpExclude, lpReserved);
      },
      lpReplacedFileName, lpReplacementFileName, lpBackupFileName);
}

BOOL WINAPI CreateDirectoryW(LPCWSTR lpPathName, LPSECURITY_ATTRIBUTES lpSecurityAttributes) {
  return narrowed(
      FALSE, [&](LPCSTR name) { return CreateDirectoryA(name, lpSecurityAttributes); }, lpPathName);
}

BOOL WINAPI RemoveDirectoryW(LPCWSTR lpPathName) {
  return narrowed(FALSE, RemoveDirectoryA, lpPathName);
}

BOOL WINAPI SetCurrentDirectoryW(LPCWSTR lpPathName) {
  return narrowed(FALSE, SetCurrentDirectoryA, lpPathName);
}

DWORD WINAPI GetCurrentDirectoryW(DWORD nBufferLength, LPWSTR lpBuffer) {
  std::string text;
  if (!narrowText(text, GetCurrentDirectoryA))
    return 0;
  return answer(widen(text.c_str()), nBufferLength, lpBuffer);
}

DWORD WINAPI GetTempPathW(DWORD nBufferLength, LPWSTR lpBuffer) {
  std::string text;
  if (!narrowText(text, GetTempPathA))
    return 0;
  return answer(widen(text.c_str()), nBufferLength, lpBuffer);
}

DWORD WINAPI GetFullPathNameW(LPCWSTR lpFileName, DWORD nBufferLength, LPWSTR lpBuffer,
                              LPWSTR *lpFilePart) {
  Narrow name(lpFileName);
  if (!name.valid())
    return fail(ERROR_NO_UNICODE_TRANSLATION, 0u);
  std::string text;
  if (!narrowText(text, [&](DWORD size, LPSTR buffer) {
        return GetFullPathNameA(name.get(), size, buffer, nullptr);
      }))
    return 0;
  const std::u16string full = widen(text.c_str());
  const DWORD result = answer(full, nBufferLength, lpBuffer);
  if (lpFilePart && result == full.size()) {
    const std::u16string::size_type cut = full.find_last_of(u"\\/");
    *lpFilePart = cut + 1 < full.size() ? lpBuffer + cut + 1 : nullptr;
  }
  return result;
}

HANDLE WINAPI FindFirstFileExW(LPCWSTR lpFileName, FINDEX_INFO_LEVELS fInfoLevelId,
                               LPVOID lpFindFileData, FINDEX_SEARCH_OPS fSearchOp,
                               LPVOID lpSearchFilter, DWORD) {
  if (!findExAnswers(fInfoLevelId, fSearchOp, lpSearchFilter))
    return fail(ERROR_INVALID_PARAMETER, INVALID_HANDLE_VALUE);
  return FindFirstFileW(lpFileName, static_cast<LPWIN32_FIND_DATAW>(lpFindFileData));
}

BOOL WINAPI CopyFileExW(LPCWSTR lpExistingFileName, LPCWSTR lpNewFileName,
                        LPPROGRESS_ROUTINE lpProgressRoutine, LPVOID lpData, LPBOOL pbCancel,
                        DWORD dwCopyFlags) {
  return narrowed(
      FALSE,
      [&](LPCSTR from, LPCSTR to) {
        return CopyFileExA(from, to, lpProgressRoutine, lpData, pbCancel, dwCopyFlags);
      },
      lpExistingFileName, lpNewFileName);
}

UINT WINAPI GetTempFileNameW(LPCWSTR lpPathName, LPCWSTR lpPrefixString, UINT uUnique,
                             LPWSTR lpTempFileName) {
  Narrow path(lpPathName);
  Narrow prefix(lpPrefixString);
  if (!path.valid() || !prefix.valid())
    return fail(ERROR_NO_UNICODE_TRANSLATION, 0u);
  if (!lpTempFileName)
    return fail(ERROR_INVALID_PARAMETER, 0u);
  char name[MAX_PATH];
  const UINT unique = GetTempFileNameA(path.get(), prefix.get(), uUnique, name);
  if (unique != 0)
    answer(widen(name), MAX_PATH, lpTempFileName);
  return unique;
}

DWORD WINAPI SearchPathW(LPCWSTR lpPath, LPCWSTR lpFileName, LPCWSTR lpExtension,
                         DWORD nBufferLength, LPWSTR lpBuffer, LPWSTR *lpFilePart) {
  Narrow path(lpPath);
  Narrow name(lpFileName);
  Narrow extension(lpExtension);
  if (!path.valid() || !name.valid() || !extension.valid())
    return fail(ERROR_NO_UNICODE_TRANSLATION, 0u);
  std::string found;
  if (!narrowText(found, [&](DWORD size, LPSTR buffer) {
        return SearchPathA(path.get(), name.get(), extension.get(), size, buffer, nullptr);
      }))
    return 0;
  const std::u16string wide = widen(found.c_str());
  const DWORD result = answer(wide, nBufferLength, lpBuffer);
  if (lpFilePart && result == wide.size())
    *lpFilePart = lpBuffer + wide.find_last_of(u"\\/") + 1;
  return result;
}

DWORD WINAPI GetModuleFileNameW(HMODULE hModule, LPWSTR lpFilename, DWORD nSize) {
  std::string path;
  if (!narrowText(path, [&](DWORD size, LPSTR buffer) {
        return GetModuleFileNameA(hModule, buffer, size);
      }))
    return 0;
  if (nSize == 0)
    return fail(ERROR_INSUFFICIENT_BUFFER, 0u);
  const std::u16string wide = widen(path.c_str());
  if (wide.size() < nSize)
    return answer(wide, nSize, lpFilename);
  // Cut and terminated, as the A form does.
  std::copy_n(wide.begin(), nSize - 1, lpFilename);
  lpFilename[nSize - 1] = u'\0';
  return fail(ERROR_INSUFFICIENT_BUFFER, nSize);
}

HANDLE WINAPI CreateFileMappingW(HANDLE hFile, LPSECURITY_ATTRIBUTES lpFileMappingAttributes,
                                 DWORD flProtect, DWORD dwMaximumSizeHigh, DWORD dwMaximumSizeLow,
                                 LPCWSTR lpName) {
  return narrowed(
      static_cast<HANDLE>(nullptr),
      [&](LPCSTR name) {
        return CreateFileMappingA(hFile, lpFileMappingAttributes, flProtect, dwMaximumSizeHigh,
                                  dwMaximumSizeLow, name);
      },
      lpName);
}

BOOL WINAPI CreateHardLinkW(LPCWSTR lpFileName, LPCWSTR lpExistingFileName,
                            LPSECURITY_ATTRIBUTES lpSecurityAttributes) {
  return narrowed(
      FALSE,
      [&](LPCSTR name, LPCSTR existing) {
        return CreateHardLinkA(name, existing, lpSecurityAttributes);
      },
      lpFileName, lpExistingFileName);
}

DWORD WINAPI GetFinalPathNameByHandleW(HANDLE hFile, LPWSTR lpszFilePath, DWORD cchFilePath,
                                       DWORD dwFlags) {
  const DWORD needed = GetFinalPathNameByHandleA(hFile, nullptr, 0, dwFlags);
  if (needed == 0)
    return 0;
  std::vector<char> text(needed + 1);
  const DWORD length = GetFinalPathNameByHandleA(hFile, text.data(), needed + 1, dwFlags);
  if (length == 0 || length > needed)
    return 0;
  const std::u16string wide = widen(text.data());
  // The W call's size needed counts the terminator, as the A call's does.
  if (!lpszFilePath || wide.size() >= cchFilePath)
    return static_cast<DWORD>(wide.size() + 1);
  return answer(wide, cchFilePath, lpszFilePath);
}
