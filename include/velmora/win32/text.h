// Narrow and 16-bit text conversion (kernel32's MultiByteToWideChar/WideCharToMultiByte); the
// narrow code page of POSIX hosts is UTF-8.
#pragma once

#include <velmora/win32/base.h>

#define CP_ACP 0
#define CP_OEMCP 1
#define CP_UTF8 65001
#define MB_ERR_INVALID_CHARS 0x00000008
#define WC_ERR_INVALID_CHARS 0x00000080
#define ERROR_NO_UNICODE_TRANSLATION 1113L

extern "C" {
// -1 for a zero-terminated input (the terminator is then converted and counted); 0 for the
// output size returns the size needed. Malformed input becomes U+FFFD unless the
// *_ERR_INVALID_CHARS flag asks for ERROR_NO_UNICODE_TRANSLATION.
VLX_WIN32_API int WINAPI MultiByteToWideChar(UINT CodePage, DWORD dwFlags, LPCSTR lpMultiByteStr,
                                             int cbMultiByte, LPWSTR lpWideCharStr,
                                             int cchWideChar);
VLX_WIN32_API int WINAPI WideCharToMultiByte(UINT CodePage, DWORD dwFlags, LPCWSTR lpWideCharStr,
                                             int cchWideChar, LPSTR lpMultiByteStr, int cbMultiByte,
                                             LPCSTR lpDefaultChar, LPBOOL lpUsedDefaultChar);
}
