// File handles: CreateFileA and the calls on the handle it returns (data, times, information),
// with Windows errors; file_locks.cpp holds the byte-range locks.
#include "platform/posix/caller_memory.h"
#include "platform/posix/files/caseless.h"
#include "platform/posix/files/file_errors.h"
#include "platform/posix/files/file_handle.h"
#include "platform/posix/files/find_data.h"
#include "platform/posix/files/handle_access.h"
#include "platform/posix/files/path_map.h"
#include "platform/posix/files/syscalls.h"
#include "platform/posix/sync.h"

#include <velmora/win32.h>

#include <cerrno>
#include <cstdint>
#include <mutex>
#include <new>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

namespace vlx::posix {
namespace {

// The data rights a desired access grants: the generic ones and the specific ones alike.
DWORD dataRights(DWORD desired) {
  DWORD rights = 0;
  if (desired & (kRead | GENERIC_ALL | FILE_READ_DATA))
    rights |= kRead;
  if (desired & (kWrite | GENERIC_ALL | FILE_WRITE_DATA | FILE_APPEND_DATA))
    rights |= kWrite;
  return rights;
}

// The specific rights a desired access stands for, the generic ones mapped as Windows maps them
// for files.
DWORD specificRights(DWORD desired) {
  DWORD rights =
      desired & ~static_cast<DWORD>(GENERIC_READ | GENERIC_WRITE | GENERIC_EXECUTE | GENERIC_ALL);
  if (desired & kRead)
    rights |= FILE_GENERIC_READ;
  if (desired & kWrite)
    rights |= FILE_GENERIC_WRITE;
  if (desired & static_cast<DWORD>(GENERIC_EXECUTE))
    rights |= FILE_GENERIC_EXECUTE;
  if (desired & static_cast<DWORD>(GENERIC_ALL))
    rights |= FILE_ALL_ACCESS;
  return rights;
}

// Appending without the right to write elsewhere: every write lands at the end.
bool appendOnly(DWORD desired) {
  return (desired & FILE_APPEND_DATA) && !(desired & (kWrite | GENERIC_ALL | FILE_WRITE_DATA));
}

// Handles given out and not yet closed, so that a stale handle is refused, not followed.
std::mutex handlesMutex;
std::unordered_set<const FileHandle *> openHandles;

HANDLE remember(FileHandle *handle) {
  std::lock_guard<std::mutex> lock(handlesMutex);
  openHandles.insert(handle);
  return handle;
}

FileHandle *checkHandle(HANDLE handle) {
  auto *file = static_cast<FileHandle *>(handle);
  std::lock_guard<std::mutex> lock(handlesMutex);
  return openHandles.count(file) ? file : nullptr;
}

// A synchronous handle given an OVERLAPPED reads or writes at its offset and leaves the file
// pointer after what it moved, as Windows does.
bool seekOverlapped(FileHandle &file, const OVERLAPPED *at) {
  if (!at)
    return true;
  const uint64_t offset = join(at->Offset, at->OffsetHigh);
  if (offset > kMaxOffset)
    return fail(ERROR_INVALID_PARAMETER, false);
  if (fileSyscalls().lseek(file.fd, static_cast<off_t>(offset), SEEK_SET) < 0)
    return fail(win32Error(errno, ErrnoSite::Read), false);
  return true;
}

// A time to set: null, zero and all ones leave the time as it is, as on Windows.
struct timespec timespecFrom(const FILETIME *time) {
  constexpr int64_t kEpochTicks = 116444736000000000LL;
  if (!time || (time->dwLowDateTime == 0 && time->dwHighDateTime == 0) ||
      (time->dwLowDateTime == 0xFFFFFFFFu && time->dwHighDateTime == 0xFFFFFFFFu))
    return {0, UTIME_OMIT};
  const int64_t ticks =
      static_cast<int64_t>(join(time->dwLowDateTime, time->dwHighDateTime)) - kEpochTicks;
  int64_t seconds = ticks / 10000000;
  int64_t rest = ticks % 10000000;
  if (rest < 0) {
    rest += 10000000;
    --seconds;
  }
  return {static_cast<time_t>(seconds), static_cast<long>(rest * 100)};
}

// What CreateFile grants: the rights asked for, and the two it always adds for the handle's own
// use.
DWORD createRights(DWORD desired) {
  return specificRights(desired) | SYNCHRONIZE | FILE_READ_ATTRIBUTES;
}

// A handle to the folder at `path`, which exists.
HANDLE openDirectory(const std::string &path, DWORD access, LPSECURITY_ATTRIBUTES security,
                     bool create, bool deleteOnClose) {
  const bool inherit = security && security->bInheritHandle;
  int fd = fileSyscalls().open(path.c_str(), O_RDONLY | O_DIRECTORY | (inherit ? 0 : O_CLOEXEC), 0);
  if (fd < 0)
    return fail(fileError(errno, path), INVALID_HANDLE_VALUE);
  auto *handle = new (std::nothrow) FileHandle{fd,
                                               dataRights(access),
                                               {},
                                               true,
                                               deleteOnClose ? path : std::string(),
                                               createRights(access | (deleteOnClose ? DELETE : 0))};
  if (!handle) {
    fileSyscalls().close(fd);
    return fail(ERROR_NOT_ENOUGH_MEMORY, INVALID_HANDLE_VALUE);
  }
  SetLastError(create ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
  return remember(handle);
}

} // namespace

FileHandle *usable(HANDLE handle, DWORD access) {
  FileHandle *file = checkHandle(handle);
  if (!file)
    return fail(ERROR_INVALID_HANDLE, static_cast<FileHandle *>(nullptr));
  if ((file->access & access) != access)
    return fail(ERROR_ACCESS_DENIED, static_cast<FileHandle *>(nullptr));
  return file;
}

FileHandle *usableFile(HANDLE handle, DWORD access) {
  FileHandle *file = usable(handle, access);
  if (file && file->directory)
    return fail(ERROR_INVALID_FUNCTION, static_cast<FileHandle *>(nullptr));
  return file;
}

bool setDeleteOnClose(HANDLE handle, bool remove, const std::string &path) {
  FileHandle *file = checkHandle(handle);
  if (!file)
    return fail(ERROR_INVALID_HANDLE, false);
  file->deleteOnClose = remove ? path : std::string();
  return true;
}

bool deletePending(HANDLE handle) {
  FileHandle *file = checkHandle(handle);
  return file && !file->deleteOnClose.empty();
}

bool openInProcess(const struct stat &file) {
  std::lock_guard<std::mutex> lock(handlesMutex);
  for (const FileHandle *handle : openHandles) {
    struct stat st;
    if (fileSyscalls().fstat(handle->fd, &st) == 0 && st.st_dev == file.st_dev &&
        st.st_ino == file.st_ino)
      return true;
  }
  return false;
}

bool handleFacts(HANDLE handle, HandleFacts *facts) {
  FileHandle *file = checkHandle(handle);
  if (!file)
    return fail(ERROR_INVALID_HANDLE, false);
  facts->fd = file->fd;
  facts->read = (file->access & kRead) != 0;
  facts->write = (file->access & kWrite) != 0;
  facts->directory = file->directory;
  return true;
}

} // namespace vlx::posix

using namespace vlx::posix;

HANDLE WINAPI CreateFileA(LPCSTR lpFileName, DWORD dwDesiredAccess, DWORD,
                          LPSECURITY_ATTRIBUTES lpSecurityAttributes, DWORD dwCreationDisposition,
                          DWORD dwFlagsAndAttributes, HANDLE) {
  std::string path;
  PathFacts facts;
  if (DWORD error = mapFilePath(lpFileName, path, &facts))
    return fail(error, INVALID_HANDLE_VALUE);

  const DWORD rights = dataRights(dwDesiredAccess);
  const bool wantRead = (rights & kRead) != 0;
  const bool wantWrite = (rights & kWrite) != 0;
  bool create = false;
  bool exclusive = false;
  bool truncate = false;
  switch (dwCreationDisposition) {
  case CREATE_NEW:
    create = exclusive = true;
    break;
  case CREATE_ALWAYS:
    create = truncate = true;
    break;
  case OPEN_EXISTING:
    break;
  case OPEN_ALWAYS:
    create = true;
    break;
  case TRUNCATE_EXISTING:
    // Windows asks for the generic right itself, not FILE_WRITE_DATA.
    if (!(dwDesiredAccess & kWrite))
      return fail(ERROR_INVALID_PARAMETER, INVALID_HANDLE_VALUE);
    truncate = true;
    break;
  default:
    return fail(ERROR_INVALID_PARAMETER, INVALID_HANDLE_VALUE);
  }

  const FileSyscalls &sys = fileSyscalls();
  struct stat st;
  // A name that exists in another case is that file: opened, replaced or refused, never a second.
  const bool existed = statCaseless(path, facts, st, StatMode::Follow) == 0;
  const bool backup = (dwFlagsAndAttributes & FILE_FLAG_BACKUP_SEMANTICS) != 0;
  const bool deleteOnClose = (dwFlagsAndAttributes & FILE_FLAG_DELETE_ON_CLOSE) != 0;
  if (existed && S_ISDIR(st.st_mode)) {
    // Only backup semantics open a folder, and only as it is; named with a final separator it
    // is not a file's path at all.
    const std::string_view name(lpFileName);
    if (!backup && (name.back() == '\\' || name.back() == '/'))
      return fail(ERROR_PATH_NOT_FOUND, INVALID_HANDLE_VALUE);
    if (!backup || truncate)
      return fail(ERROR_ACCESS_DENIED, INVALID_HANDLE_VALUE);
    if (exclusive)
      return fail(ERROR_FILE_EXISTS, INVALID_HANDLE_VALUE);
    return openDirectory(path, dwDesiredAccess, lpSecurityAttributes, create, deleteOnClose);
  }
  if (existed) {
    if (exclusive)
      return fail(ERROR_FILE_EXISTS, INVALID_HANDLE_VALUE);
    // Pipes and sockets do not exist on Windows' disks, and opening a pipe could wait for a
    // writer.
    if (S_ISFIFO(st.st_mode) || S_ISSOCK(st.st_mode))
      return fail(ERROR_ACCESS_DENIED, INVALID_HANDLE_VALUE);
    // Read-only means no write bit for the owner; checked here because root passes any mode.
    // A read-only file may not be deleted either, on close or otherwise.
    if (!(st.st_mode & S_IWUSR) && (wantWrite || truncate || deleteOnClose))
      return fail(ERROR_ACCESS_DENIED, INVALID_HANDLE_VALUE);
    // Emptying a file this process maps would take the pages from under its views.
    if (truncate && mappedPast(st, 0))
      return fail(ERROR_USER_MAPPED_FILE, INVALID_HANDLE_VALUE);
  }

  int flags = wantRead && wantWrite ? O_RDWR : wantWrite ? O_WRONLY : O_RDONLY;
  if (!(lpSecurityAttributes && lpSecurityAttributes->bInheritHandle))
    flags |= O_CLOEXEC;
  if (create)
    flags |= O_CREAT;
  if (exclusive)
    flags |= O_EXCL;
  if (truncate)
    flags |= O_TRUNC;
  if (dwFlagsAndAttributes & FILE_FLAG_WRITE_THROUGH)
    flags |= O_DSYNC;
  if (appendOnly(dwDesiredAccess))
    flags |= O_APPEND;
  const mode_t mode = (dwFlagsAndAttributes & FILE_ATTRIBUTE_READONLY) ? 0444 : 0666;
  int fd = sys.open(path.c_str(), flags, mode);
  if (fd < 0)
    return fail(fileError(errno, path), INVALID_HANDLE_VALUE);
  // A directory put in the file's place since the check above.
  if (sys.fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
    sys.close(fd);
    return fail(ERROR_ACCESS_DENIED, INVALID_HANDLE_VALUE);
  }

  // CreateFile asks for the right to delete along with the flag.
  const DWORD desired = dwDesiredAccess | (deleteOnClose ? DELETE : 0);
  auto *handle = new (std::nothrow) FileHandle{
      fd, rights, {}, false, deleteOnClose ? path : std::string(), createRights(desired)};
  if (!handle) {
    sys.close(fd);
    return fail(ERROR_NOT_ENOUGH_MEMORY, INVALID_HANDLE_VALUE);
  }
  // Success still tells whether an existing file was opened (or overwritten).
  SetLastError(existed && create && !exclusive ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
  return remember(handle);
}

BOOL WINAPI ReadFile(HANDLE hFile, LPVOID lpBuffer, DWORD nNumberOfBytesToRead,
                     LPDWORD lpNumberOfBytesRead, LPVOID lpOverlapped) {
  if (lpNumberOfBytesRead)
    *lpNumberOfBytesRead = 0;
  FileHandle *file = usableFile(hFile, kRead);
  if (!file)
    return FALSE;
  // Nothing is read into a buffer that cannot take all of it.
  if (!callerMayWrite(lpBuffer, nNumberOfBytesToRead))
    return fail(ERROR_NOACCESS, FALSE);
  if (!seekOverlapped(*file, static_cast<LPOVERLAPPED>(lpOverlapped)))
    return FALSE;
  // A file read stops short only at its end.
  auto *out = static_cast<char *>(lpBuffer);
  DWORD done = 0;
  while (done < nNumberOfBytesToRead) {
    ssize_t n = fileSyscalls().read(file->fd, out + done, nNumberOfBytesToRead - done);
    if (n < 0) {
      if (lpNumberOfBytesRead)
        *lpNumberOfBytesRead = done;
      return fail(win32Error(errno, ErrnoSite::Read), FALSE);
    }
    if (n == 0)
      break;
    done += static_cast<DWORD>(n);
  }
  if (lpNumberOfBytesRead)
    *lpNumberOfBytesRead = done;
  // A read at a given offset that finds the end says so.
  if (lpOverlapped && done == 0 && nNumberOfBytesToRead != 0)
    return fail(ERROR_HANDLE_EOF, FALSE);
  return TRUE;
}

BOOL WINAPI WriteFile(HANDLE hFile, LPCVOID lpBuffer, DWORD nNumberOfBytesToWrite,
                      LPDWORD lpNumberOfBytesWritten, LPVOID lpOverlapped) {
  if (lpNumberOfBytesWritten)
    *lpNumberOfBytesWritten = 0;
  FileHandle *file = usableFile(hFile, kWrite);
  if (!file)
    return FALSE;
  if (!callerMayRead(lpBuffer, nNumberOfBytesToWrite))
    return fail(ERROR_INVALID_USER_BUFFER, FALSE);
  if (!seekOverlapped(*file, static_cast<LPOVERLAPPED>(lpOverlapped)))
    return FALSE;
  const auto *in = static_cast<const char *>(lpBuffer);
  DWORD done = 0;
  while (done < nNumberOfBytesToWrite) {
    ssize_t n = fileSyscalls().write(file->fd, in + done, nNumberOfBytesToWrite - done);
    if (n <= 0) {
      if (lpNumberOfBytesWritten)
        *lpNumberOfBytesWritten = done;
      return fail(win32Error(n == 0 ? ENOSPC : errno, ErrnoSite::Write), FALSE);
    }
    done += static_cast<DWORD>(n);
  }
  if (lpNumberOfBytesWritten)
    *lpNumberOfBytesWritten = done;
  return TRUE;
}

DWORD WINAPI SetFilePointer(HANDLE hFile, LONG lDistanceToMove, PLONG lpDistanceToMoveHigh,
                            DWORD dwMoveMethod) {
  FileHandle *file = usableFile(hFile, 0);
  if (!file)
    return INVALID_SET_FILE_POINTER;
  // With a high part the two make one signed 64-bit distance; without, the low part is signed.
  const int64_t distance =
      lpDistanceToMoveHigh ? static_cast<int64_t>(join(static_cast<DWORD>(lDistanceToMove),
                                                       static_cast<DWORD>(*lpDistanceToMoveHigh)))
                           : static_cast<int64_t>(lDistanceToMove);
  int64_t origin = 0;
  if (dwMoveMethod == FILE_CURRENT) {
    off_t current = fileSyscalls().lseek(file->fd, 0, SEEK_CUR);
    if (current < 0)
      return fail(win32Error(errno, ErrnoSite::Read), INVALID_SET_FILE_POINTER);
    origin = current;
  } else if (dwMoveMethod == FILE_END) {
    struct stat st;
    if (fileSyscalls().fstat(file->fd, &st) != 0)
      return fail(win32Error(errno, ErrnoSite::Read), INVALID_SET_FILE_POINTER);
    origin = st.st_size;
  } else if (dwMoveMethod != FILE_BEGIN) {
    return fail(ERROR_INVALID_PARAMETER, INVALID_SET_FILE_POINTER);
  }
  if ((distance > 0 && origin > INT64_MAX - distance) || origin + distance < 0)
    return fail(ERROR_NEGATIVE_SEEK, INVALID_SET_FILE_POINTER);
  const int64_t target = origin + distance;
  // Without a high part the caller cannot receive a position past 32 bits.
  if (!lpDistanceToMoveHigh && target > static_cast<int64_t>(UINT32_MAX - 1))
    return fail(ERROR_INVALID_PARAMETER, INVALID_SET_FILE_POINTER);
  if (fileSyscalls().lseek(file->fd, static_cast<off_t>(target), SEEK_SET) < 0)
    return fail(win32Error(errno, ErrnoSite::Read), INVALID_SET_FILE_POINTER);
  if (lpDistanceToMoveHigh)
    *lpDistanceToMoveHigh = static_cast<LONG>(static_cast<uint64_t>(target) >> 32);
  // A low part of 0xFFFFFFFF is a valid position: callers tell it apart by the last error.
  SetLastError(ERROR_SUCCESS);
  return static_cast<DWORD>(target);
}

DWORD WINAPI GetFileSize(HANDLE hFile, LPDWORD lpFileSizeHigh) {
  FileHandle *file = usableFile(hFile, 0);
  if (!file)
    return INVALID_FILE_SIZE;
  struct stat st;
  if (fileSyscalls().fstat(file->fd, &st) != 0)
    return fail(win32Error(errno, ErrnoSite::Read), INVALID_FILE_SIZE);
  const auto size = static_cast<uint64_t>(st.st_size);
  if (lpFileSizeHigh)
    *lpFileSizeHigh = static_cast<DWORD>(size >> 32);
  SetLastError(ERROR_SUCCESS);
  return static_cast<DWORD>(size);
}

BOOL WINAPI FlushFileBuffers(HANDLE hFile) {
  FileHandle *file = usableFile(hFile, kWrite);
  if (!file)
    return FALSE;
  if (fileSyscalls().fsync(file->fd) != 0)
    return fail(win32Error(errno, ErrnoSite::Write), FALSE);
  return TRUE;
}

BOOL WINAPI SetEndOfFile(HANDLE hFile) {
  FileHandle *file = usableFile(hFile, kWrite);
  if (!file)
    return FALSE;
  off_t position = fileSyscalls().lseek(file->fd, 0, SEEK_CUR);
  struct stat st;
  if (position < 0 || fileSyscalls().fstat(file->fd, &st) != 0)
    return fail(win32Error(errno, ErrnoSite::Write), FALSE);
  if (mappedPast(st, static_cast<uint64_t>(position)))
    return fail(ERROR_USER_MAPPED_FILE, FALSE);
  if (fileSyscalls().ftruncate(file->fd, position) != 0)
    return fail(win32Error(errno, ErrnoSite::Write), FALSE);
  return TRUE;
}

BOOL WINAPI GetFileTime(HANDLE hFile, LPFILETIME lpCreationTime, LPFILETIME lpLastAccessTime,
                        LPFILETIME lpLastWriteTime) {
  FileHandle *file = usable(hFile, 0);
  if (!file)
    return FALSE;
  struct stat st;
  if (fileSyscalls().fstat(file->fd, &st) != 0)
    return fail(win32Error(errno, ErrnoSite::Read), FALSE);
  WIN32_FIND_DATAA data;
  fillFindData("", st, data);
  if (lpCreationTime)
    *lpCreationTime = data.ftCreationTime;
  if (lpLastAccessTime)
    *lpLastAccessTime = data.ftLastAccessTime;
  if (lpLastWriteTime)
    *lpLastWriteTime = data.ftLastWriteTime;
  return TRUE;
}

BOOL WINAPI SetFileTime(HANDLE hFile, const FILETIME *, const FILETIME *lpLastAccessTime,
                        const FILETIME *lpLastWriteTime) {
  FileHandle *file = usable(hFile, kWrite);
  if (!file)
    return FALSE;
  const struct timespec times[2] = {timespecFrom(lpLastAccessTime), timespecFrom(lpLastWriteTime)};
  if (fileSyscalls().futimens(file->fd, times) != 0)
    return fail(win32Error(errno, ErrnoSite::Write), FALSE);
  return TRUE;
}

LONG WINAPI CompareFileTime(const FILETIME *lpFileTime1, const FILETIME *lpFileTime2) {
  const uint64_t a = join(lpFileTime1->dwLowDateTime, lpFileTime1->dwHighDateTime);
  const uint64_t b = join(lpFileTime2->dwLowDateTime, lpFileTime2->dwHighDateTime);
  return a < b ? -1 : a > b ? 1 : 0;
}

DWORD WINAPI GetFileType(HANDLE hFile) {
  FileHandle *file = usable(hFile, 0);
  struct stat st;
  if (!file || fileSyscalls().fstat(file->fd, &st) != 0)
    return FILE_TYPE_UNKNOWN;
  SetLastError(ERROR_SUCCESS);
  if (S_ISCHR(st.st_mode))
    return FILE_TYPE_CHAR;
  if (S_ISFIFO(st.st_mode) || S_ISSOCK(st.st_mode))
    return FILE_TYPE_PIPE;
  return FILE_TYPE_DISK;
}

BOOL WINAPI GetFileInformationByHandle(HANDLE hFile,
                                       LPBY_HANDLE_FILE_INFORMATION lpFileInformation) {
  FileHandle *file = usable(hFile, 0);
  if (!file)
    return FALSE;
  if (!lpFileInformation)
    return fail(ERROR_INVALID_PARAMETER, FALSE);
  struct stat st;
  if (fileSyscalls().fstat(file->fd, &st) != 0)
    return fail(win32Error(errno, ErrnoSite::Read), FALSE);
  WIN32_FIND_DATAA data;
  fillFindData("", st, data);
  BY_HANDLE_FILE_INFORMATION &info = *lpFileInformation;
  info.dwFileAttributes = data.dwFileAttributes;
  info.ftCreationTime = data.ftCreationTime;
  info.ftLastAccessTime = data.ftLastAccessTime;
  info.ftLastWriteTime = data.ftLastWriteTime;
  // The device and inode tell files apart as the volume serial number and file index do.
  info.dwVolumeSerialNumber = static_cast<DWORD>(st.st_dev);
  info.nFileSizeHigh = data.nFileSizeHigh;
  info.nFileSizeLow = data.nFileSizeLow;
  info.nNumberOfLinks = static_cast<DWORD>(st.st_nlink);
  info.nFileIndexHigh = static_cast<DWORD>(static_cast<uint64_t>(st.st_ino) >> 32);
  info.nFileIndexLow = static_cast<DWORD>(st.st_ino);
  return TRUE;
}

BOOL WINAPI CloseHandle(HANDLE hObject) {
  if (vlx::closeEvent(hObject) || closeMapping(hObject))
    return TRUE;
  auto *file = static_cast<FileHandle *>(hObject);
  {
    std::lock_guard<std::mutex> lock(handlesMutex);
    if (!openHandles.erase(file))
      return fail(ERROR_INVALID_HANDLE, FALSE);
  }
  // The descriptor is gone even when close reports an error (a late write failure).
  int result = fileSyscalls().close(file->fd);
  int err = errno;
  if (!file->deleteOnClose.empty()) {
    if (file->directory)
      fileSyscalls().rmdir(file->deleteOnClose.c_str());
    else
      fileSyscalls().unlink(file->deleteOnClose.c_str());
  }
  delete file;
  if (result != 0)
    return fail(win32Error(err, ErrnoSite::Write), FALSE);
  return TRUE;
}

HANDLE WINAPI GetCurrentProcess(void) { return INVALID_HANDLE_VALUE; }

BOOL WINAPI DuplicateHandle(HANDLE hSourceProcessHandle, HANDLE hSourceHandle,
                            HANDLE hTargetProcessHandle, HANDLE *lpTargetHandle,
                            DWORD dwDesiredAccess, BOOL bInheritHandle, DWORD dwOptions) {
  if (hSourceProcessHandle != GetCurrentProcess() || hTargetProcessHandle != GetCurrentProcess())
    return fail(ERROR_INVALID_HANDLE, FALSE);
  FileHandle *source = checkHandle(hSourceHandle);
  if (!source)
    return fail(ERROR_INVALID_HANDLE, FALSE);
  DWORD access = source->access;
  DWORD granted = source->granted;
  if (!(dwOptions & DUPLICATE_SAME_ACCESS)) {
    // Any specific right the source lacks refuses the copy, not only the data rights.
    granted = specificRights(dwDesiredAccess);
    if ((granted & source->granted) != granted)
      return fail(ERROR_ACCESS_DENIED, FALSE);
    access = dataRights(granted);
  }
  if (lpTargetHandle) {
    int fd = fileSyscalls().duplicate(source->fd, bInheritHandle != FALSE);
    if (fd < 0)
      return fail(win32Error(errno, ErrnoSite::File), FALSE);
    auto *copy = new (std::nothrow) FileHandle{fd, access, {}, source->directory, {}, granted};
    if (!copy) {
      fileSyscalls().close(fd);
      return fail(ERROR_NOT_ENOUGH_MEMORY, FALSE);
    }
    *lpTargetHandle = remember(copy);
  }
  if (dwOptions & DUPLICATE_CLOSE_SOURCE)
    CloseHandle(hSourceHandle);
  return TRUE;
}
