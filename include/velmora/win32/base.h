// Win32 base types, constants and error codes with their Windows widths on LP64.
#pragma once

#include <velmora/export.h>

#include <climits>
#include <cstddef>
#include <cstdint>

#define WINAPI
#define CALLBACK
#define APIENTRY
#define CONST const
#define VOID void

typedef int BOOL;
typedef unsigned char BYTE;
typedef unsigned short WORD;
typedef uint32_t DWORD;
typedef int32_t LONG;
typedef uint32_t ULONG;
typedef int64_t LONGLONG;
typedef uint64_t ULONGLONG;
typedef int INT;
typedef unsigned int UINT;
typedef char CHAR;
typedef char TCHAR;
typedef char16_t WCHAR;
typedef uintptr_t ULONG_PTR;
typedef intptr_t LONG_PTR;
typedef uintptr_t UINT_PTR;
typedef intptr_t INT_PTR;
typedef ULONG_PTR DWORD_PTR;
typedef ULONG_PTR SIZE_T;
typedef LONG_PTR LPARAM;
typedef UINT_PTR WPARAM;
typedef LONG_PTR LRESULT;
typedef LONG HRESULT;
typedef LONG LSTATUS;
// The fixed-size and pointer-size integers of basetsd.h.
typedef int64_t LONG64;
typedef uint64_t ULONG64;
typedef int64_t INT64;
typedef uint64_t UINT64;
typedef uint64_t DWORD64;
typedef int32_t INT32;
typedef uint32_t UINT32;
typedef int32_t LONG32;
typedef uint32_t ULONG32;
typedef uint32_t DWORD32;
typedef LONG_PTR SSIZE_T;
typedef LONG64 *PLONG64;
typedef ULONG64 *PULONG64;
typedef DWORD64 *PDWORD64;
typedef ULONG_PTR *PULONG_PTR;
typedef DWORD_PTR *PDWORD_PTR;
typedef SIZE_T *PSIZE_T;

typedef void *LPVOID;
typedef const void *LPCVOID;
typedef void *HANDLE;
typedef BOOL *LPBOOL;
typedef BYTE *LPBYTE;
typedef const BYTE *LPCBYTE;
typedef DWORD *LPDWORD;
typedef DWORD *PDWORD;
typedef LONG *PLONG;
typedef LONG *LPLONG;
typedef CHAR *LPSTR;
typedef const CHAR *LPCSTR;
typedef TCHAR *LPTSTR;
typedef const TCHAR *LPCTSTR;
typedef WCHAR *LPWSTR;
typedef const WCHAR *LPCWSTR;

// Handles are distinct types, as Windows declares them.
#define VLX_DECLARE_HANDLE(name)                                                                   \
  struct name##__;                                                                                 \
  typedef struct name##__ *name
VLX_DECLARE_HANDLE(HINSTANCE);
VLX_DECLARE_HANDLE(HWND);
typedef HINSTANCE HMODULE;

static_assert(sizeof(LONG) == 4 && sizeof(DWORD) == 4, "LONG and DWORD are 32-bit");
static_assert(sizeof(WCHAR) == 2, "WCHAR is 16-bit");
static_assert(sizeof(WORD) == 2 && sizeof(BYTE) == 1, "WORD is 16-bit");
static_assert(sizeof(LONG64) == 8 && sizeof(ULONG64) == 8 && sizeof(INT64) == 8 &&
                  sizeof(UINT64) == 8 && sizeof(DWORD64) == 8,
              "the 64-bit names are 64-bit on every system");
static_assert(sizeof(INT32) == 4 && sizeof(UINT32) == 4 && sizeof(LONG32) == 4 &&
                  sizeof(ULONG32) == 4 && sizeof(DWORD32) == 4,
              "the 32-bit names are 32-bit");
static_assert(sizeof(LONG_PTR) == sizeof(void *) && sizeof(ULONG_PTR) == sizeof(void *) &&
                  sizeof(DWORD_PTR) == sizeof(void *) && sizeof(SIZE_T) == sizeof(void *) &&
                  sizeof(SSIZE_T) == sizeof(void *),
              "the _PTR and SIZE_T names are as wide as a pointer");
static_assert(static_cast<LONG_PTR>(-1) < 0 && static_cast<SSIZE_T>(-1) < 0 &&
                  static_cast<ULONG_PTR>(-1) > 0 && static_cast<SIZE_T>(-1) > 0,
              "signedness as basetsd.h declares it");

#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif
// Windows bounds a path by 260 characters; here the system's own limit (terminator included), so
// that a buffer sized as documented holds any path the system accepts.
#ifdef PATH_MAX
#define MAX_PATH PATH_MAX
#else
#define MAX_PATH 4096
#endif

typedef struct _FILETIME {
  DWORD dwLowDateTime;
  DWORD dwHighDateTime;
} FILETIME, *PFILETIME, *LPFILETIME;

typedef struct _SECURITY_ATTRIBUTES {
  DWORD nLength;
  LPVOID lpSecurityDescriptor;
  BOOL bInheritHandle;
} SECURITY_ATTRIBUTES, *PSECURITY_ATTRIBUTES, *LPSECURITY_ATTRIBUTES;

#define DLL_PROCESS_DETACH 0
#define DLL_PROCESS_ATTACH 1
#define DLL_THREAD_ATTACH 2
#define DLL_THREAD_DETACH 3

// System error codes.
#define ERROR_SUCCESS 0L
#define NO_ERROR 0L
#define ERROR_INVALID_FUNCTION 1L
#define ERROR_FILE_NOT_FOUND 2L
#define ERROR_PATH_NOT_FOUND 3L
#define ERROR_TOO_MANY_OPEN_FILES 4L
#define ERROR_ACCESS_DENIED 5L
#define ERROR_INVALID_HANDLE 6L
#define ERROR_NOT_ENOUGH_MEMORY 8L
#define ERROR_INVALID_DATA 13L
#define ERROR_OUTOFMEMORY 14L
#define ERROR_NOT_SAME_DEVICE 17L
#define ERROR_NO_MORE_FILES 18L
#define ERROR_NOT_READY 21L
#define ERROR_WRITE_FAULT 29L
#define ERROR_READ_FAULT 30L
#define ERROR_GEN_FAILURE 31L
#define ERROR_SHARING_VIOLATION 32L
#define ERROR_LOCK_VIOLATION 33L
#define ERROR_HANDLE_DISK_FULL 39L
#define ERROR_NOT_SUPPORTED 50L
#define ERROR_FILE_EXISTS 80L
#define ERROR_INVALID_PARAMETER 87L
#define ERROR_BROKEN_PIPE 109L
#define ERROR_DISK_FULL 112L
#define ERROR_INSUFFICIENT_BUFFER 122L
#define ERROR_INVALID_NAME 123L
#define ERROR_DIR_NOT_EMPTY 145L
#define ERROR_BAD_PATHNAME 161L
#define ERROR_BUSY 170L
#define ERROR_ALREADY_EXISTS 183L
#define ERROR_FILENAME_EXCED_RANGE 206L
#define ERROR_FILE_TOO_LARGE 223L
#define ERROR_MORE_DATA 234L
#define ERROR_NO_MORE_ITEMS 259L
#define ERROR_DIRECTORY 267L
#define ERROR_NOACCESS 998L
#define ERROR_BADDB 1009L
#define ERROR_BADKEY 1010L
#define ERROR_CANTOPEN 1011L
#define ERROR_CANTREAD 1012L
#define ERROR_CANTWRITE 1013L
#define ERROR_REGISTRY_CORRUPT 1015L
#define ERROR_REGISTRY_IO_FAILED 1016L
#define ERROR_KEY_DELETED 1018L
#define ERROR_CHILD_MUST_BE_VOLATILE 1021L
#define ERROR_CANT_RESOLVE_FILENAME 1921L

extern "C" {
VLX_WIN32_API DWORD WINAPI GetLastError(void);
VLX_WIN32_API void WINAPI SetLastError(DWORD dwErrCode);
}
