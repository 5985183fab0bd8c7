// Win32 file calls: directory search, copy, move, replacement, deletion, folders, path search,
// attributes, times and the temp and current directories, in A and W forms.
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
#ifndef ERROR_BUFFER_OVERFLOW
#define ERROR_BUFFER_OVERFLOW 111L
#endif
#ifndef ERROR_CURRENT_DIRECTORY
#define ERROR_CURRENT_DIRECTORY 16L
#endif
#ifndef ERROR_UNABLE_TO_REMOVE_REPLACED
#define ERROR_UNABLE_TO_REMOVE_REPLACED 1175L
#define ERROR_UNABLE_TO_MOVE_REPLACEMENT 1176L
#define ERROR_UNABLE_TO_MOVE_REPLACEMENT_2 1177L
#endif
#ifndef ERROR_REQUEST_ABORTED
#define ERROR_REQUEST_ABORTED 1235L
#endif
#ifndef ERROR_NO_UNICODE_TRANSLATION
#define ERROR_NO_UNICODE_TRANSLATION 1113L
#endif

typedef union _LARGE_INTEGER {
  __extension__ struct {
    DWORD LowPart;
    LONG HighPart;
  };
  struct {
    DWORD LowPart;
    LONG HighPart;
  } u;
  LONGLONG QuadPart;
} LARGE_INTEGER, *PLARGE_INTEGER;

// The fields a file lock names; the rest of the Windows structure is there for its layout.
typedef struct _OVERLAPPED {
  ULONG_PTR Internal;
  ULONG_PTR InternalHigh;
  DWORD Offset;
  DWORD OffsetHigh;
  HANDLE hEvent;
} OVERLAPPED, *LPOVERLAPPED;
static_assert(sizeof(OVERLAPPED) == 32 && offsetof(OVERLAPPED, Offset) == 16,
              "OVERLAPPED has its Windows layout");

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

typedef struct _WIN32_FIND_DATAW {
  DWORD dwFileAttributes;
  FILETIME ftCreationTime;
  FILETIME ftLastAccessTime;
  FILETIME ftLastWriteTime;
  DWORD nFileSizeHigh;
  DWORD nFileSizeLow;
  DWORD dwReserved0;
  DWORD dwReserved1;
  WCHAR cFileName[260];
  WCHAR cAlternateFileName[14];
} WIN32_FIND_DATAW, *PWIN32_FIND_DATAW, *LPWIN32_FIND_DATAW;
static_assert(sizeof(WIN32_FIND_DATAW) == 592, "WIN32_FIND_DATAW has its Windows size");

typedef enum _FINDEX_INFO_LEVELS {
  FindExInfoStandard,
  FindExInfoBasic, // no 8.3 name, which this system has none of anyway
  FindExInfoMaxInfoLevel
} FINDEX_INFO_LEVELS;
typedef enum _FINDEX_SEARCH_OPS {
  FindExSearchNameMatch,
  FindExSearchLimitToDirectories, // a hint, which Windows' own disks ignore, and so it is here
  FindExSearchLimitToDevices,
  FindExSearchMaxSearchOp
} FINDEX_SEARCH_OPS;
#define FIND_FIRST_EX_CASE_SENSITIVE 0x00000001
#define FIND_FIRST_EX_LARGE_FETCH 0x00000002

typedef enum _GET_FILEEX_INFO_LEVELS {
  GetFileExInfoStandard,
  GetFileExMaxInfoLevel
} GET_FILEEX_INFO_LEVELS;
typedef struct _WIN32_FILE_ATTRIBUTE_DATA {
  DWORD dwFileAttributes;
  FILETIME ftCreationTime;
  FILETIME ftLastAccessTime;
  FILETIME ftLastWriteTime;
  DWORD nFileSizeHigh;
  DWORD nFileSizeLow;
} WIN32_FILE_ATTRIBUTE_DATA, *LPWIN32_FILE_ATTRIBUTE_DATA;

typedef struct _BY_HANDLE_FILE_INFORMATION {
  DWORD dwFileAttributes;
  FILETIME ftCreationTime;
  FILETIME ftLastAccessTime;
  FILETIME ftLastWriteTime;
  DWORD dwVolumeSerialNumber;
  DWORD nFileSizeHigh;
  DWORD nFileSizeLow;
  DWORD nNumberOfLinks;
  DWORD nFileIndexHigh;
  DWORD nFileIndexLow;
} BY_HANDLE_FILE_INFORMATION, *LPBY_HANDLE_FILE_INFORMATION;
static_assert(sizeof(BY_HANDLE_FILE_INFORMATION) == 52, "the handle information has its size");

#define MOVEFILE_REPLACE_EXISTING 0x00000001
#define MOVEFILE_COPY_ALLOWED 0x00000002
#define MOVEFILE_WRITE_THROUGH 0x00000008

#define REPLACEFILE_WRITE_THROUGH 0x00000001
#define REPLACEFILE_IGNORE_MERGE_ERRORS 0x00000002
#define REPLACEFILE_IGNORE_ACL_ERRORS 0x00000004

#define COPY_FILE_FAIL_IF_EXISTS 0x00000001
#define PROGRESS_CONTINUE 0
#define PROGRESS_CANCEL 1
#define PROGRESS_STOP 2
#define PROGRESS_QUIET 3
#define CALLBACK_CHUNK_FINISHED 0x00000000
#define CALLBACK_STREAM_SWITCH 0x00000001
typedef DWORD(WINAPI *LPPROGRESS_ROUTINE)(
    LARGE_INTEGER TotalFileSize, LARGE_INTEGER TotalBytesTransferred, LARGE_INTEGER StreamSize,
    LARGE_INTEGER StreamBytesTransferred, DWORD dwStreamNumber, DWORD dwCallbackReason,
    HANDLE hSourceFile, HANDLE hDestinationFile, LPVOID lpData);

#define FILE_TYPE_UNKNOWN 0x0000
#define FILE_TYPE_DISK 0x0001
#define FILE_TYPE_CHAR 0x0002
#define FILE_TYPE_PIPE 0x0003

#define LOCKFILE_FAIL_IMMEDIATELY 0x00000001
#define LOCKFILE_EXCLUSIVE_LOCK 0x00000002

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

// The search of FindFirstFileA at either level (there are no 8.3 names to leave out). The
// directory hint and FIND_FIRST_EX_LARGE_FETCH change nothing here; names match without regard
// to case even with FIND_FIRST_EX_CASE_SENSITIVE. No search filter is taken.
VLX_WIN32_API HANDLE WINAPI FindFirstFileExA(LPCSTR lpFileName, FINDEX_INFO_LEVELS fInfoLevelId,
                                             LPVOID lpFindFileData, FINDEX_SEARCH_OPS fSearchOp,
                                             LPVOID lpSearchFilter, DWORD dwAdditionalFlags);
VLX_WIN32_API BOOL WINAPI GetFileAttributesExA(LPCSTR lpFileName,
                                               GET_FILEEX_INFO_LEVELS fInfoLevelId,
                                               LPVOID lpFileInformation);
// READONLY clears the owner's write bit (and NORMAL or no READONLY sets it back); the other
// attributes have no POSIX form and are accepted without effect.
VLX_WIN32_API BOOL WINAPI SetFileAttributesA(LPCSTR lpFileName, DWORD dwFileAttributes);
// A rename where the two names lie on one file system; across file systems a copy and a
// deletion, and only with MOVEFILE_COPY_ALLOWED. Folders move by rename only.
VLX_WIN32_API BOOL WINAPI MoveFileA(LPCSTR lpExistingFileName, LPCSTR lpNewFileName);
VLX_WIN32_API BOOL WINAPI MoveFileExA(LPCSTR lpExistingFileName, LPCSTR lpNewFileName,
                                      DWORD dwFlags);
// Puts `lpReplacementFileName` in the place of `lpReplacedFileName` by one rename, keeping the
// replaced file's mode, and its data under `lpBackupFileName` when given (a hard link where the
// file system has them, so the backup never misses). Exclude and reserved must be null.
VLX_WIN32_API BOOL WINAPI ReplaceFileA(LPCSTR lpReplacedFileName, LPCSTR lpReplacementFileName,
                                       LPCSTR lpBackupFileName, DWORD dwReplaceFlags,
                                       LPVOID lpExclude, LPVOID lpReserved);
// CopyFileA with progress: the routine hears of each chunk (and first of the stream) and may
// cancel (the target is left as it was) or stop; `pbCancel` set to TRUE cancels too.
VLX_WIN32_API BOOL WINAPI CopyFileExA(LPCSTR lpExistingFileName, LPCSTR lpNewFileName,
                                      LPPROGRESS_ROUTINE lpProgressRoutine, LPVOID lpData,
                                      LPBOOL pbCancel, DWORD dwCopyFlags);
// Made with mode 0777 less the umask, as POSIX folders are; the security attributes are not
// read.
VLX_WIN32_API BOOL WINAPI CreateDirectoryA(LPCSTR lpPathName,
                                           LPSECURITY_ATTRIBUTES lpSecurityAttributes);
VLX_WIN32_API BOOL WINAPI RemoveDirectoryA(LPCSTR lpPathName);
// The POSIX path of the current directory (see GetModuleFileNameA).
VLX_WIN32_API DWORD WINAPI GetCurrentDirectoryA(DWORD nBufferLength, LPSTR lpBuffer);
VLX_WIN32_API BOOL WINAPI SetCurrentDirectoryA(LPCSTR lpPathName);
// The library's temp rule (temp, else tmp, else the session's), with a final separator.
VLX_WIN32_API DWORD WINAPI GetTempPathA(DWORD nBufferLength, LPSTR lpBuffer);
VLX_WIN32_API UINT WINAPI GetTempFileNameA(LPCSTR lpPathName, LPCSTR lpPrefixString, UINT uUnique,
                                           LPSTR lpTempFileName);
// `.` and `..` resolved in the text as every call resolves them; drives stay as given.
VLX_WIN32_API DWORD WINAPI GetFullPathNameA(LPCSTR lpFileName, DWORD nBufferLength, LPSTR lpBuffer,
                                            LPSTR *lpFilePart);

VLX_WIN32_API BOOL WINAPI GetFileTime(HANDLE hFile, LPFILETIME lpCreationTime,
                                      LPFILETIME lpLastAccessTime, LPFILETIME lpLastWriteTime);
// There is no creation time to set on POSIX: it is accepted and left.
VLX_WIN32_API BOOL WINAPI SetFileTime(HANDLE hFile, const FILETIME *lpCreationTime,
                                      const FILETIME *lpLastAccessTime,
                                      const FILETIME *lpLastWriteTime);
VLX_WIN32_API LONG WINAPI CompareFileTime(const FILETIME *lpFileTime1, const FILETIME *lpFileTime2);
VLX_WIN32_API DWORD WINAPI GetFileType(HANDLE hFile);
VLX_WIN32_API BOOL WINAPI
GetFileInformationByHandle(HANDLE hFile, LPBY_HANDLE_FILE_INFORMATION lpFileInformation);
// Without LOCKFILE_FAIL_IMMEDIATELY the call waits for the range, as Windows does.
VLX_WIN32_API BOOL WINAPI LockFileEx(HANDLE hFile, DWORD dwFlags, DWORD dwReserved,
                                     DWORD nNumberOfBytesToLockLow, DWORD nNumberOfBytesToLockHigh,
                                     LPOVERLAPPED lpOverlapped);
VLX_WIN32_API BOOL WINAPI UnlockFileEx(HANDLE hFile, DWORD dwReserved,
                                       DWORD nNumberOfBytesToUnlockLow,
                                       DWORD nNumberOfBytesToUnlockHigh, LPOVERLAPPED lpOverlapped);

// The W forms: 16-bit text converted to and from the UTF-8 of the A forms. A name with an
// unpaired surrogate has no UTF-8 form: ERROR_NO_UNICODE_TRANSLATION.
VLX_WIN32_API HANDLE WINAPI FindFirstFileW(LPCWSTR lpFileName, LPWIN32_FIND_DATAW lpFindFileData);
VLX_WIN32_API BOOL WINAPI FindNextFileW(HANDLE hFindFile, LPWIN32_FIND_DATAW lpFindFileData);
VLX_WIN32_API BOOL WINAPI CopyFileW(LPCWSTR lpExistingFileName, LPCWSTR lpNewFileName,
                                    BOOL bFailIfExists);
VLX_WIN32_API BOOL WINAPI DeleteFileW(LPCWSTR lpFileName);
VLX_WIN32_API DWORD WINAPI GetFileAttributesW(LPCWSTR lpFileName);
VLX_WIN32_API BOOL WINAPI GetFileAttributesExW(LPCWSTR lpFileName,
                                               GET_FILEEX_INFO_LEVELS fInfoLevelId,
                                               LPVOID lpFileInformation);
VLX_WIN32_API BOOL WINAPI SetFileAttributesW(LPCWSTR lpFileName, DWORD dwFileAttributes);
VLX_WIN32_API BOOL WINAPI MoveFileW(LPCWSTR lpExistingFileName, LPCWSTR lpNewFileName);
VLX_WIN32_API BOOL WINAPI MoveFileExW(LPCWSTR lpExistingFileName, LPCWSTR lpNewFileName,
                                      DWORD dwFlags);
VLX_WIN32_API BOOL WINAPI ReplaceFileW(LPCWSTR lpReplacedFileName, LPCWSTR lpReplacementFileName,
                                       LPCWSTR lpBackupFileName, DWORD dwReplaceFlags,
                                       LPVOID lpExclude, LPVOID lpReserved);
VLX_WIN32_API BOOL WINAPI CreateDirectoryW(LPCWSTR lpPathName,
                                           LPSECURITY_ATTRIBUTES lpSecurityAttributes);
VLX_WIN32_API BOOL WINAPI RemoveDirectoryW(LPCWSTR lpPathName);
VLX_WIN32_API DWORD WINAPI GetCurrentDirectoryW(DWORD nBufferLength, LPWSTR lpBuffer);
VLX_WIN32_API BOOL WINAPI SetCurrentDirectoryW(LPCWSTR lpPathName);
VLX_WIN32_API DWORD WINAPI GetTempPathW(DWORD nBufferLength, LPWSTR lpBuffer);
VLX_WIN32_API DWORD WINAPI GetFullPathNameW(LPCWSTR lpFileName, DWORD nBufferLength,
                                            LPWSTR lpBuffer, LPWSTR *lpFilePart);
VLX_WIN32_API HANDLE WINAPI FindFirstFileExW(LPCWSTR lpFileName, FINDEX_INFO_LEVELS fInfoLevelId,
                                             LPVOID lpFindFileData, FINDEX_SEARCH_OPS fSearchOp,
                                             LPVOID lpSearchFilter, DWORD dwAdditionalFlags);
VLX_WIN32_API BOOL WINAPI CopyFileExW(LPCWSTR lpExistingFileName, LPCWSTR lpNewFileName,
                                      LPPROGRESS_ROUTINE lpProgressRoutine, LPVOID lpData,
                                      LPBOOL pbCancel, DWORD dwCopyFlags);
VLX_WIN32_API UINT WINAPI GetTempFileNameW(LPCWSTR lpPathName, LPCWSTR lpPrefixString, UINT uUnique,
                                           LPWSTR lpTempFileName);
VLX_WIN32_API DWORD WINAPI SearchPathW(LPCWSTR lpPath, LPCWSTR lpFileName, LPCWSTR lpExtension,
                                       DWORD nBufferLength, LPWSTR lpBuffer, LPWSTR *lpFilePart);
}
