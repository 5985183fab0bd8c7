// Win32 file handles: open, read, write, seek, size, flush, truncate, byte-range locks, close.
#pragma once

#include <velmora/win32/base.h>
#include <velmora/win32/files.h>

// Spelled as the registry header spells them, so that both may be included.
#ifndef GENERIC_READ
#define GENERIC_READ 0x80000000L
#define GENERIC_WRITE 0x40000000L
#define GENERIC_EXECUTE 0x20000000L
#define GENERIC_ALL 0x10000000L
#endif

// The standard rights, spelled as the registry header spells them.
#ifndef DELETE
#define DELETE 0x00010000L
#define READ_CONTROL 0x00020000L
#define SYNCHRONIZE 0x00100000L
#define STANDARD_RIGHTS_READ READ_CONTROL
#define STANDARD_RIGHTS_WRITE READ_CONTROL
#define STANDARD_RIGHTS_EXECUTE READ_CONTROL
#define STANDARD_RIGHTS_REQUIRED 0x000F0000L
#endif

// The specific rights of a file or folder, and the generic rights as they map onto them.
#define FILE_READ_DATA 0x0001
#define FILE_LIST_DIRECTORY 0x0001
#define FILE_WRITE_DATA 0x0002
#define FILE_ADD_FILE 0x0002
#define FILE_APPEND_DATA 0x0004
#define FILE_ADD_SUBDIRECTORY 0x0004
#define FILE_CREATE_PIPE_INSTANCE 0x0004
#define FILE_READ_EA 0x0008
#define FILE_WRITE_EA 0x0010
#define FILE_EXECUTE 0x0020
#define FILE_TRAVERSE 0x0020
#define FILE_DELETE_CHILD 0x0040
#define FILE_READ_ATTRIBUTES 0x0080
#define FILE_WRITE_ATTRIBUTES 0x0100
#define FILE_ALL_ACCESS (STANDARD_RIGHTS_REQUIRED | SYNCHRONIZE | 0x1FF)
#define FILE_GENERIC_READ                                                                          \
  (STANDARD_RIGHTS_READ | FILE_READ_DATA | FILE_READ_ATTRIBUTES | FILE_READ_EA | SYNCHRONIZE)
#define FILE_GENERIC_WRITE                                                                         \
  (STANDARD_RIGHTS_WRITE | FILE_WRITE_DATA | FILE_WRITE_ATTRIBUTES | FILE_WRITE_EA |               \
   FILE_APPEND_DATA | SYNCHRONIZE)
#define FILE_GENERIC_EXECUTE                                                                       \
  (STANDARD_RIGHTS_EXECUTE | FILE_READ_ATTRIBUTES | FILE_EXECUTE | SYNCHRONIZE)

#define FILE_SHARE_READ 0x00000001
#define FILE_SHARE_WRITE 0x00000002
#define FILE_SHARE_DELETE 0x00000004

#define CREATE_NEW 1
#define CREATE_ALWAYS 2
#define OPEN_EXISTING 3
#define OPEN_ALWAYS 4
#define TRUNCATE_EXISTING 5

#define FILE_FLAG_WRITE_THROUGH 0x80000000
#define FILE_FLAG_BACKUP_SEMANTICS 0x02000000
#define FILE_FLAG_DELETE_ON_CLOSE 0x04000000

#define FILE_BEGIN 0
#define FILE_CURRENT 1
#define FILE_END 2

#define INVALID_SET_FILE_POINTER (static_cast<DWORD>(0xFFFFFFFFu))
#define INVALID_FILE_SIZE (static_cast<DWORD>(0xFFFFFFFFu))

#define DUPLICATE_CLOSE_SOURCE 0x00000001
#define DUPLICATE_SAME_ACCESS 0x00000002

#ifndef ERROR_HANDLE_EOF
#define ERROR_HANDLE_EOF 38L
#endif
#ifndef ERROR_INVALID_USER_BUFFER
#define ERROR_INVALID_USER_BUFFER 1784L
#endif
#ifndef ERROR_NEGATIVE_SEEK
#define ERROR_NEGATIVE_SEEK 131L
#endif
#ifndef ERROR_INVALID_LOCK_RANGE
#define ERROR_INVALID_LOCK_RANGE 307L
#endif
#ifndef ERROR_NOT_LOCKED
#define ERROR_NOT_LOCKED 158L
#endif

// Share modes are accepted but not enforced: POSIX has no mandatory share locks. Byte-range
// locks are kept per handle (a second lock on an overlapping range fails, an unlock must name a
// locked range exactly) and are open-file-description locks, which other handles and processes
// see; a handle without write access takes a shared one.
extern "C" {
VLX_WIN32_API HANDLE WINAPI CreateFileW(LPCWSTR lpFileName, DWORD dwDesiredAccess,
                                        DWORD dwShareMode,
                                        LPSECURITY_ATTRIBUTES lpSecurityAttributes,
                                        DWORD dwCreationDisposition, DWORD dwFlagsAndAttributes,
                                        HANDLE hTemplateFile);
VLX_WIN32_API HANDLE WINAPI CreateFileA(LPCSTR lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode,
                                        LPSECURITY_ATTRIBUTES lpSecurityAttributes,
                                        DWORD dwCreationDisposition, DWORD dwFlagsAndAttributes,
                                        HANDLE hTemplateFile);
// Handles are synchronous: an OVERLAPPED gives the offset to read or write at, and the call
// returns when done, the file pointer after the data (a read there at the end is
// ERROR_HANDLE_EOF). The buffer is checked before any data moves: ERROR_NOACCESS for a read into
// one that cannot take it all, ERROR_INVALID_USER_BUFFER for a write from one not all readable.
VLX_WIN32_API BOOL WINAPI ReadFile(HANDLE hFile, LPVOID lpBuffer, DWORD nNumberOfBytesToRead,
                                   LPDWORD lpNumberOfBytesRead, LPVOID lpOverlapped);
VLX_WIN32_API BOOL WINAPI WriteFile(HANDLE hFile, LPCVOID lpBuffer, DWORD nNumberOfBytesToWrite,
                                    LPDWORD lpNumberOfBytesWritten, LPVOID lpOverlapped);
VLX_WIN32_API DWORD WINAPI SetFilePointer(HANDLE hFile, LONG lDistanceToMove,
                                          PLONG lpDistanceToMoveHigh, DWORD dwMoveMethod);
VLX_WIN32_API DWORD WINAPI GetFileSize(HANDLE hFile, LPDWORD lpFileSizeHigh);
VLX_WIN32_API BOOL WINAPI FlushFileBuffers(HANDLE hFile);
VLX_WIN32_API BOOL WINAPI SetEndOfFile(HANDLE hFile);
VLX_WIN32_API BOOL WINAPI LockFile(HANDLE hFile, DWORD dwFileOffsetLow, DWORD dwFileOffsetHigh,
                                   DWORD nNumberOfBytesToLockLow, DWORD nNumberOfBytesToLockHigh);
VLX_WIN32_API BOOL WINAPI UnlockFile(HANDLE hFile, DWORD dwFileOffsetLow, DWORD dwFileOffsetHigh,
                                     DWORD nNumberOfBytesToUnlockLow,
                                     DWORD nNumberOfBytesToUnlockHigh);
VLX_WIN32_API BOOL WINAPI CloseHandle(HANDLE hObject);
// The pseudo handle of this process; only it is accepted as a process by DuplicateHandle.
VLX_WIN32_API HANDLE WINAPI GetCurrentProcess(void);
// File handles only. The copy shares the file position, as on Windows.
VLX_WIN32_API BOOL WINAPI DuplicateHandle(HANDLE hSourceProcessHandle, HANDLE hSourceHandle,
                                          HANDLE hTargetProcessHandle, HANDLE *lpTargetHandle,
                                          DWORD dwDesiredAccess, BOOL bInheritHandle,
                                          DWORD dwOptions);
}
