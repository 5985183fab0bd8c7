// MultiByteToWideChar and WideCharToMultiByte: UTF-8 (the narrow code page here) and UTF-16.
#include <velmora/win32.h>

#include <string>
#include <unicode/ustring.h>

namespace {

constexpr UChar32 kReplacement = 0xFFFD;

bool knownCodePage(UINT codePage) {
  return codePage == CP_ACP || codePage == CP_OEMCP || codePage == CP_UTF8;
}

// The converted length, or 0 with the thread's last error set.
int finish(UErrorCode status, int32_t length, int32_t substitutions, bool strict, int capacity) {
  if (strict && substitutions > 0) {
    SetLastError(ERROR_NO_UNICODE_TRANSLATION);
    return 0;
  }
  if (capacity != 0 && (status == U_BUFFER_OVERFLOW_ERROR || length > capacity)) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  if (U_FAILURE(status) && status != U_BUFFER_OVERFLOW_ERROR &&
      status != U_STRING_NOT_TERMINATED_WARNING) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  return length;
}

} // namespace

extern "C" {

int WINAPI MultiByteToWideChar(UINT CodePage, DWORD dwFlags, LPCSTR lpMultiByteStr, int cbMultiByte,
                               LPWSTR lpWideCharStr, int cchWideChar) {
  if (!knownCodePage(CodePage) || lpMultiByteStr == nullptr || cbMultiByte == 0 ||
      cchWideChar < 0 || (cchWideChar > 0 && lpWideCharStr == nullptr)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  // With -1 the terminator is part of the input and of the count.
  int32_t inLength =
      cbMultiByte < 0 ? int32_t(std::char_traits<char>::length(lpMultiByteStr) + 1) : cbMultiByte;
  UErrorCode status = U_ZERO_ERROR;
  int32_t length = 0, substitutions = 0;
  u_strFromUTF8WithSub(cchWideChar ? lpWideCharStr : nullptr, cchWideChar, &length, lpMultiByteStr,
                       inLength, kReplacement, &substitutions, &status);
  return finish(status, length, substitutions, dwFlags & MB_ERR_INVALID_CHARS, cchWideChar);
}

int WINAPI WideCharToMultiByte(UINT CodePage, DWORD dwFlags, LPCWSTR lpWideCharStr, int cchWideChar,
                               LPSTR lpMultiByteStr, int cbMultiByte, LPCSTR,
                               LPBOOL lpUsedDefaultChar) {
  if (!knownCodePage(CodePage) || lpWideCharStr == nullptr || cchWideChar == 0 || cbMultiByte < 0 ||
      (cbMultiByte > 0 && lpMultiByteStr == nullptr)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  int32_t inLength = cchWideChar < 0
                         ? int32_t(std::char_traits<char16_t>::length(lpWideCharStr) + 1)
                         : cchWideChar;
  UErrorCode status = U_ZERO_ERROR;
  int32_t length = 0, substitutions = 0;
  u_strToUTF8WithSub(cbMultiByte ? lpMultiByteStr : nullptr, cbMultiByte, &length, lpWideCharStr,
                     inLength, kReplacement, &substitutions, &status);
  if (lpUsedDefaultChar != nullptr)
    *lpUsedDefaultChar = FALSE;
  return finish(status, length, substitutions, dwFlags & WC_ERR_INVALID_CHARS, cbMultiByte);
}

} // extern "C"
