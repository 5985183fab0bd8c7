// File mappings, hard links, a handle's final path and the information classes of a handle.
#pragma once

#include <velmora/win32/base.h>
#include <velmora/win32/files.h>

#define PAGE_NOACCESS 0x01
#define PAGE_READONLY 0x02
#define PAGE_READWRITE 0x04
#define PAGE_WRITECOPY 0x08
#define PAGE_EXECUTE 0x10
#define PAGE_EXECUTE_READ 0x20
#define PAGE_EXECUTE_READWRITE 0x40
#define PAGE_EXECUTE_WRITECOPY 0x80
#define SEC_COMMIT 0x08000000
#define SEC_RESERVE 0x04000000
#define SEC_IMAGE 0x01000000

#define SECTION_QUERY 0x0001
#define SECTION_MAP_WRITE 0x0002
#define SECTION_MAP_READ 0x0004
#define SECTION_MAP_EXECUTE 0x0008
#define SECTION_EXTEND_SIZE 0x0010
#define SECTION_ALL_ACCESS 0x000F001F
#define FILE_MAP_COPY 0x0001
#define FILE_MAP_WRITE SECTION_MAP_WRITE
#define FILE_MAP_READ SECTION_MAP_READ
#define FILE_MAP_ALL_ACCESS SECTION_ALL_ACCESS
#define FILE_MAP_EXECUTE 0x0020

#ifndef ERROR_MAPPED_ALIGNMENT
#define ERROR_MAPPED_ALIGNMENT 1132L
#endif
#ifndef ERROR_FILE_INVALID
#define ERROR_FILE_INVALID 1006L
#endif
#ifndef ERROR_INVALID_ADDRESS
#define ERROR_INVALID_ADDRESS 487L
#endif
#ifndef ERROR_NOT_SAME_DEVICE
#define ERROR_NOT_SAME_DEVICE 17L
#endif
#ifndef ERROR_INVALID_LEVEL
#define ERROR_INVALID_LEVEL 124L
#endif
#ifndef ERROR_BAD_LENGTH
#define ERROR_BAD_LENGTH 24L
#endif
#ifndef ERROR_USER_MAPPED_FILE
#define ERROR_USER_MAPPED_FILE 1224L
#endif

#define FILE_NAME_NORMALIZED 0x0
#define FILE_NAME_OPENED 0x8
#define VOLUME_NAME_DOS 0x0
#define VOLUME_NAME_GUID 0x1
#define VOLUME_NAME_NT 0x2
#define VOLUME_NAME_NONE 0x4

typedef BYTE BOOLEAN;

typedef enum _FILE_INFO_BY_HANDLE_CLASS {
  FileBasicInfo = 0,
  FileStandardInfo = 1,
  FileNameInfo = 2,
  FileRenameInfo = 3,
  FileDispositionInfo = 4,
  FileAllocationInfo = 5,
  FileEndOfFileInfo = 6,
  FileIdBothDirectoryInfo = 10,
  FileIoPriorityHintInfo = 12,
} FILE_INFO_BY_HANDLE_CLASS;

typedef struct _FILE_BASIC_INFO {
  LARGE_INTEGER CreationTime;
  LARGE_INTEGER LastAccessTime;
  LARGE_INTEGER LastWriteTime;
  LARGE_INTEGER ChangeTime;
  DWORD FileAttributes;
} FILE_BASIC_INFO, *PFILE_BASIC_INFO;

typedef struct _FILE_STANDARD_INFO {
  LARGE_INTEGER AllocationSize;
  LARGE_INTEGER EndOfFile;
  DWORD NumberOfLinks;
  BOOLEAN DeletePending;
  BOOLEAN Directory;
} FILE_STANDARD_INFO, *PFILE_STANDARD_INFO;

typedef struct _FILE_RENAME_INFO {
  union {
    BOOLEAN ReplaceIfExists;
    DWORD Flags;
  } u;
  HANDLE RootDirectory;
  DWORD FileNameLength; // in bytes
  WCHAR FileName[1];
} FILE_RENAME_INFO, *PFILE_RENAME_INFO;

typedef struct _FILE_DISPOSITION_INFO {
  BOOLEAN DeleteFile;
} FILE_DISPOSITION_INFO, *PFILE_DISPOSITION_INFO;

typedef struct _FILE_END_OF_FILE_INFO {
  LARGE_INTEGER EndOfFile;
} FILE_END_OF_FILE_INFO, *PFILE_END_OF_FILE_INFO;

typedef struct _FILE_NAME_INFO {
  DWORD FileNameLength; // in bytes
  WCHAR FileName[1];
} FILE_NAME_INFO, *PFILE_NAME_INFO;

typedef enum _PRIORITY_HINT {
  IoPriorityHintVeryLow = 0,
  IoPriorityHintLow,
  IoPriorityHintNormal,
  MaximumIoPriorityHintType
} PRIORITY_HINT;

typedef struct _FILE_IO_PRIORITY_HINT_INFO {
  PRIORITY_HINT PriorityHint;
} FILE_IO_PRIORITY_HINT_INFO, *PFILE_IO_PRIORITY_HINT_INFO;

typedef struct _FILE_ID_BOTH_DIR_INFO {
  DWORD NextEntryOffset;
  DWORD FileIndex;
  LARGE_INTEGER CreationTime;
  LARGE_INTEGER LastAccessTime;
  LARGE_INTEGER LastWriteTime;
  LARGE_INTEGER ChangeTime;
  LARGE_INTEGER EndOfFile;
  LARGE_INTEGER AllocationSize;
  DWORD FileAttributes;
  DWORD FileNameLength; // in bytes
  DWORD EaSize;
  CHAR ShortNameLength;
  WCHAR ShortName[12];
  LARGE_INTEGER FileId;
  WCHAR FileName[1];
} FILE_ID_BOTH_DIR_INFO, *PFILE_ID_BOTH_DIR_INFO;

static_assert(sizeof(FILE_BASIC_INFO) == 40 && sizeof(FILE_STANDARD_INFO) == 24 &&
                  sizeof(FILE_ID_BOTH_DIR_INFO) == 112 &&
                  offsetof(FILE_ID_BOTH_DIR_INFO, FileId) == 96,
              "the information classes have Windows' layout");

// Mappings are of files or of memory (INVALID_HANDLE_VALUE). A named mapping of memory is shared
// memory that the user's other processes open by its name while any process holds it (another
// user's object of that name is refused, ERROR_ACCESS_DENIED); a named mapping of a file is found
// by OpenFileMapping in this process only. Views start at multiples of 64 KB, as on Windows. A
// file with a mapping or view here is not cut (ERROR_USER_MAPPED_FILE) nor, while viewed, deleted
// or replaced (ERROR_ACCESS_DENIED). SEC_IMAGE is not supported.
extern "C" {
VLX_WIN32_API HANDLE WINAPI CreateFileMappingA(HANDLE hFile,
                                               LPSECURITY_ATTRIBUTES lpFileMappingAttributes,
                                               DWORD flProtect, DWORD dwMaximumSizeHigh,
                                               DWORD dwMaximumSizeLow, LPCSTR lpName);
VLX_WIN32_API HANDLE WINAPI CreateFileMappingW(HANDLE hFile,
                                               LPSECURITY_ATTRIBUTES lpFileMappingAttributes,
                                               DWORD flProtect, DWORD dwMaximumSizeHigh,
                                               DWORD dwMaximumSizeLow, LPCWSTR lpName);
VLX_WIN32_API HANDLE WINAPI OpenFileMappingA(DWORD dwDesiredAccess, BOOL bInheritHandle,
                                             LPCSTR lpName);
VLX_WIN32_API LPVOID WINAPI MapViewOfFile(HANDLE hFileMappingObject, DWORD dwDesiredAccess,
                                          DWORD dwFileOffsetHigh, DWORD dwFileOffsetLow,
                                          SIZE_T dwNumberOfBytesToMap);
VLX_WIN32_API LPVOID WINAPI MapViewOfFileEx(HANDLE hFileMappingObject, DWORD dwDesiredAccess,
                                            DWORD dwFileOffsetHigh, DWORD dwFileOffsetLow,
                                            SIZE_T dwNumberOfBytesToMap, LPVOID lpBaseAddress);
VLX_WIN32_API BOOL WINAPI UnmapViewOfFile(LPCVOID lpBaseAddress);
VLX_WIN32_API BOOL WINAPI FlushViewOfFile(LPCVOID lpBaseAddress, SIZE_T dwNumberOfBytesToFlush);

VLX_WIN32_API BOOL WINAPI CreateHardLinkA(LPCSTR lpFileName, LPCSTR lpExistingFileName,
                                          LPSECURITY_ATTRIBUTES lpSecurityAttributes);
VLX_WIN32_API BOOL WINAPI CreateHardLinkW(LPCWSTR lpFileName, LPCWSTR lpExistingFileName,
                                          LPSECURITY_ATTRIBUTES lpSecurityAttributes);
// The path the handle's file has now, as the file calls spell it: `\\?\X:\...` for a drive
// (VOLUME_NAME_DOS), `\...` without it (VOLUME_NAME_NONE); the other volume forms are not
// supported (ERROR_INVALID_PARAMETER). The length without the terminator, or the size needed.
VLX_WIN32_API DWORD WINAPI GetFinalPathNameByHandleA(HANDLE hFile, LPSTR lpszFilePath,
                                                     DWORD cchFilePath, DWORD dwFlags);
VLX_WIN32_API DWORD WINAPI GetFinalPathNameByHandleW(HANDLE hFile, LPWSTR lpszFilePath,
                                                     DWORD cchFilePath, DWORD dwFlags);
// Read: the basic, standard and name classes, and of a folder opened with backup semantics the
// entries (FileIdBothDirectoryInfo, as many as fit each call, ERROR_NO_MORE_FILES at the end).
// Set: the basic, rename, disposition, end-of-file and I/O priority classes (the hint is checked
// and has no effect). Others give ERROR_INVALID_PARAMETER.
VLX_WIN32_API BOOL WINAPI
GetFileInformationByHandleEx(HANDLE hFile, FILE_INFO_BY_HANDLE_CLASS FileInformationClass,
                             LPVOID lpFileInformation, DWORD dwBufferSize);
VLX_WIN32_API BOOL WINAPI SetFileInformationByHandle(HANDLE hFile,
                                                     FILE_INFO_BY_HANDLE_CLASS FileInformationClass,
                                                     LPVOID lpFileInformation, DWORD dwBufferSize);
}
