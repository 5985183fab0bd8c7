// Win32 file calls: directory search, copy, deletion, path search and attributes.
#pragma once

#include <velmora/win32/base.h>

#define INVALID_HANDLE_VALUE (reinterpret_cast<HANDLE>(static_cast<LONG_PTR>(-1)))
#define INVALID_FILE_ATTRIBUTES (static_cast<DWORD>(0xFFFFFFFFu))

#define FILE_ATTRIBUTE_READONLY 0x00000001
#define FILE_ATTRIBUTE_HIDDEN 0x00000002
#define FILE_ATTRIBUTE_SYSTEM 0x00000004
#define FILE_ATTRIBUTE_DIRECTORY 0x00000010
#define FILE_ATTRIBUTE_ARCHIVE 0x00000020
#define FILE_ATTRIBUTE_DEVICE 0x00000040
#define FILE_ATTRIBUTE_NORMAL 0x00000080
#define FILE_ATTRIBUTE_TEMPORARY 0x00000100
#define FILE_ATTRIBUTE_SPARSE_FILE 0x00000200
#define FILE_ATTRIBUTE_REPARSE_POINT 0x00000400
#define FILE_ATTRIBUTE_COMPRESSED 0x00000800
#define FILE_ATTRIBUTE_OFFLINE 0x00001000
#define FILE_ATTRIBUTE_NOT_CONTENT_INDEXED 0x00002000
#define FILE_ATTRIBUTE_ENCRYPTED 0x00004000

// Errors of the file calls beyond the common ones, spelled as elsewhere so that both may be seen.
#ifndef ERROR_BAD_NETPATH
#define ERROR_BAD_NETPATH 53L
#endif

typedef struct _WIN32_FIND_DATAA {
  DWORD dwFileAttributes;
  FILETIME ftCreationTime;
  FILETIME ftLastAccessTime;
  FILETIME ftLastWriteTime;
  DWORD nFileSizeHigh;
  DWORD nFileSizeLow;
  DWORD dwReserved0;
  DWORD dwReserved1;
  // Windows's 260 (not MAX_PATH here): a name, at most NAME_MAX (255) bytes, always fits.
  CHAR cFileName[260];
  CHAR cAlternateFileName[14];
} WIN32_FIND_DATAA, *PWIN32_FIND_DATAA, *LPWIN32_FIND_DATAA;
typedef WIN32_FIND_DATAA WIN32_FIND_DATA;
typedef LPWIN32_FIND_DATAA LPWIN32_FIND_DATA;

// Hosts and the library share the structure with code built for Windows.
static_assert(sizeof(WIN32_FIND_DATAA) == 320, "WIN32_FIND_DATAA has its Windows size");
static_assert(offsetof(WIN32_FIND_DATAA, nFileSizeHigh) == 28, "sizes follow the three times");
static_assert(offsetof(WIN32_FIND_DATAA, cFileName) == 44, "the name follows the reserved words");
static_assert(offsetof(WIN32_FIND_DATAA, cAlternateFileName) == 304, "the 8.3 name is last");

extern "C" {
VLX_WIN32_API HANDLE WINAPI FindFirstFileA(LPCSTR lpFileName, LPWIN32_FIND_DATAA lpFindFileData);
VLX_WIN32_API BOOL WINAPI FindNextFileA(HANDLE hFindFile, LPWIN32_FIND_DATAA lpFindFileData);
VLX_WIN32_API BOOL WINAPI FindClose(HANDLE hFindFile);
VLX_WIN32_API BOOL WINAPI CopyFileA(LPCSTR lpExistingFileName, LPCSTR lpNewFileName,
                                    BOOL bFailIfExists);
VLX_WIN32_API BOOL WINAPI DeleteFileA(LPCSTR lpFileName);
VLX_WIN32_API DWORD WINAPI SearchPathA(LPCSTR lpPath, LPCSTR lpFileName, LPCSTR lpExtension,
                                       DWORD nBufferLength, LPSTR lpBuffer, LPSTR *lpFilePart);
VLX_WIN32_API DWORD WINAPI GetFileAttributesA(LPCSTR lpFileName);
}
