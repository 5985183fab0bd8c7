// File handles: CreateFileA and the calls on the handle it returns, with Windows errors.
#include "platform/posix/files/file_errors.h"
#include "platform/posix/files/path_map.h"
#include "platform/posix/files/syscalls.h"
#include "platform/posix/sync.h"

#include <velmora/win32.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <limits>
#include <mutex>
#include <new>
#include <unordered_set>
#include <vector>

namespace vlx::posix {
namespace {

// GENERIC_* are long constants; the access bits of a handle are a DWORD.
constexpr DWORD kRead = static_cast<DWORD>(GENERIC_READ);
constexpr DWORD kWrite = static_cast<DWORD>(GENERIC_WRITE);

struct LockedRange {
  uint64_t offset;
  uint64_t length;
};

struct FileHandle {
  int fd;
  DWORD access; // kRead and kWrite bits
  std::vector<LockedRange> locks;
};

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

// Checks the handle and the access a call needs; sets the error when either is missing.
FileHandle *usable(HANDLE handle, DWORD access) {
  FileHandle *file = checkHandle(handle);
  if (!file)
    return fail(ERROR_INVALID_HANDLE, static_cast<FileHandle *>(nullptr));
  if ((file->access & access) != access)
    return fail(ERROR_ACCESS_DENIED, static_cast<FileHandle *>(nullptr));
  return file;
}

uint64_t join(DWORD low, DWORD high) { return static_cast<uint64_t>(high) << 32 | low; }

constexpr uint64_t kMaxOffset = static_cast<uint64_t>(std::numeric_limits<off_t>::max());

// The system lock for a range; ranges past what off_t holds reach to the end of all files.
bool setSystemLock(int fd, short type, const LockedRange &range) {
  if (range.length == 0 || range.offset > kMaxOffset)
    return true; // nothing the system can hold; the handle's own list still guards it
  struct flock lock = {};
  lock.l_type = type;
  lock.l_whence = SEEK_SET;
  lock.l_start = static_cast<off_t>(range.offset);
  lock.l_len = range.length > kMaxOffset - range.offset ? 0 : static_cast<off_t>(range.length);
  return fileSyscalls().setLock(fd, &lock) == 0;
}

bool overlaps(const LockedRange &a, const LockedRange &b) {
  if (a.length == 0 || b.length == 0)
    return false;
  uint64_t aLast = a.offset + (a.length - 1);
  uint64_t bLast = b.offset + (b.length - 1);
  if (aLast < a.offset)
    aLast = UINT64_MAX;
  if (bLast < b.offset)
    bLast = UINT64_MAX;
  return a.offset <= bLast && b.offset <= aLast;
}

} // namespace
} // namespace vlx::posix

using namespace vlx::posix;

HANDLE WINAPI CreateFileA(LPCSTR lpFileName, DWORD dwDesiredAccess, DWORD,
                          LPSECURITY_ATTRIBUTES lpSecurityAttributes, DWORD dwCreationDisposition,
                          DWORD dwFlagsAndAttributes, HANDLE) {
  std::string path;
  if (DWORD error = mapFilePath(lpFileName, path))
    return fail(error, INVALID_HANDLE_VALUE);

  const bool wantRead = (dwDesiredAccess & kRead) != 0;
  const bool wantWrite = (dwDesiredAccess & kWrite) != 0;
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
    if (!wantWrite)
      return fail(ERROR_INVALID_PARAMETER, INVALID_HANDLE_VALUE);
    truncate = true;
    break;
  default:
    return fail(ERROR_INVALID_PARAMETER, INVALID_HANDLE_VALUE);
  }

  const FileSyscalls &sys = fileSyscalls();
  struct stat st;
  const bool existed = sys.statPath(path.c_str(), &st) == 0;
  if (existed) {
    if (exclusive)
      return fail(ERROR_FILE_EXISTS, INVALID_HANDLE_VALUE);
    // Windows opens a directory only with backup semantics, which files never ask for here;
    // pipes and sockets do not exist on its disks, and opening a pipe could wait for a writer.
    if (S_ISDIR(st.st_mode) || S_ISFIFO(st.st_mode) || S_ISSOCK(st.st_mode))
      return fail(ERROR_ACCESS_DENIED, INVALID_HANDLE_VALUE);
    // Read-only means no write bit for the owner; checked here because root passes any mode.
    if (!(st.st_mode & S_IWUSR) && (wantWrite || truncate))
      return fail(ERROR_ACCESS_DENIED, INVALID_HANDLE_VALUE);
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
  const mode_t mode = (dwFlagsAndAttributes & FILE_ATTRIBUTE_READONLY) ? 0444 : 0666;
  int fd = sys.open(path.c_str(), flags, mode);
  if (fd < 0)
    return fail(fileError(errno, path), INVALID_HANDLE_VALUE);
  // A directory put in the file's place since the check above.
  if (sys.fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
    sys.close(fd);
    return fail(ERROR_ACCESS_DENIED, INVALID_HANDLE_VALUE);
  }

  auto *handle = new (std::nothrow) FileHandle{fd, dwDesiredAccess & (kRead | kWrite), {}};
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
  FileHandle *file = usable(hFile, kRead);
  if (!file)
    return FALSE;
  if (lpOverlapped || (!lpBuffer && nNumberOfBytesToRead != 0))
    return fail(ERROR_INVALID_PARAMETER, FALSE);
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
  return TRUE;
}

BOOL WINAPI WriteFile(HANDLE hFile, LPCVOID lpBuffer, DWORD nNumberOfBytesToWrite,
                      LPDWORD lpNumberOfBytesWritten, LPVOID lpOverlapped) {
  if (lpNumberOfBytesWritten)
    *lpNumberOfBytesWritten = 0;
  FileHandle *file = usable(hFile, kWrite);
  if (!file)
    return FALSE;
  if (lpOverlapped || (!lpBuffer && nNumberOfBytesToWrite != 0))
    return fail(ERROR_INVALID_PARAMETER, FALSE);
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
  FileHandle *file = usable(hFile, 0);
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
  FileHandle *file = usable(hFile, 0);
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
  FileHandle *file = usable(hFile, kWrite);
  if (!file)
    return FALSE;
  if (fileSyscalls().fsync(file->fd) != 0)
    return fail(win32Error(errno, ErrnoSite::Write), FALSE);
  return TRUE;
}

BOOL WINAPI SetEndOfFile(HANDLE hFile) {
  FileHandle *file = usable(hFile, kWrite);
  if (!file)
    return FALSE;
  off_t position = fileSyscalls().lseek(file->fd, 0, SEEK_CUR);
  if (position < 0 || fileSyscalls().ftruncate(file->fd, position) != 0)
    return fail(win32Error(errno, ErrnoSite::Write), FALSE);
  return TRUE;
}

BOOL WINAPI LockFile(HANDLE hFile, DWORD dwFileOffsetLow, DWORD dwFileOffsetHigh,
                     DWORD nNumberOfBytesToLockLow, DWORD nNumberOfBytesToLockHigh) {
  FileHandle *file = usable(hFile, 0);
  if (!file)
    return FALSE;
  const LockedRange range{join(dwFileOffsetLow, dwFileOffsetHigh),
                          join(nNumberOfBytesToLockLow, nNumberOfBytesToLockHigh)};
  // Windows locks do not merge: a range that touches one already held fails, even here.
  for (const LockedRange &held : file->locks)
    if (overlaps(held, range))
      return fail(ERROR_LOCK_VIOLATION, FALSE);
  const short type = (file->access & kWrite) ? F_WRLCK : F_RDLCK;
  if (!setSystemLock(file->fd, type, range)) {
    int err = errno;
    return fail(err == EAGAIN || err == EACCES ? ERROR_LOCK_VIOLATION
                                               : win32Error(err, ErrnoSite::Read),
                FALSE);
  }
  file->locks.push_back(range);
  return TRUE;
}

BOOL WINAPI UnlockFile(HANDLE hFile, DWORD dwFileOffsetLow, DWORD dwFileOffsetHigh,
                       DWORD nNumberOfBytesToUnlockLow, DWORD nNumberOfBytesToUnlockHigh) {
  FileHandle *file = usable(hFile, 0);
  if (!file)
    return FALSE;
  const LockedRange range{join(dwFileOffsetLow, dwFileOffsetHigh),
                          join(nNumberOfBytesToUnlockLow, nNumberOfBytesToUnlockHigh)};
  auto held = std::find_if(file->locks.begin(), file->locks.end(), [&](const LockedRange &r) {
    return r.offset == range.offset && r.length == range.length;
  });
  if (held == file->locks.end())
    return fail(ERROR_NOT_LOCKED, FALSE);
  if (!setSystemLock(file->fd, F_UNLCK, range))
    return fail(win32Error(errno, ErrnoSite::Read), FALSE);
  file->locks.erase(held);
  return TRUE;
}

BOOL WINAPI CloseHandle(HANDLE hObject) {
  if (vlx::closeEvent(hObject))
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
  if (!(dwOptions & DUPLICATE_SAME_ACCESS)) {
    access = dwDesiredAccess & (kRead | kWrite);
    if ((access & source->access) != access)
      return fail(ERROR_ACCESS_DENIED, FALSE);
  }
  if (lpTargetHandle) {
    int fd = fileSyscalls().duplicate(source->fd, bInheritHandle != FALSE);
    if (fd < 0)
      return fail(win32Error(errno, ErrnoSite::File), FALSE);
    auto *copy = new (std::nothrow) FileHandle{fd, access, {}};
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
