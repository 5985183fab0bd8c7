// Byte-range locks on a file handle: Windows' rules (no merging, exact release) over the
// system's record locks.
#include "platform/posix/files/file_errors.h"
#include "platform/posix/files/file_handle.h"
#include "platform/posix/files/syscalls.h"

#include <velmora/win32.h>

#include <algorithm>
#include <cerrno>
#include <fcntl.h>

namespace vlx::posix {
namespace {

// The system lock for a range; ranges past what off_t holds reach to the end of all files.
bool setSystemLock(int fd, short type, const LockedRange &range, bool wait = false) {
  if (range.length == 0 || range.offset > kMaxOffset)
    return true; // nothing the system can hold; the handle's own list still guards it
  struct flock lock = {};
  lock.l_type = type;
  lock.l_whence = SEEK_SET;
  lock.l_start = static_cast<off_t>(range.offset);
  lock.l_len = range.length > kMaxOffset - range.offset ? 0 : static_cast<off_t>(range.length);
  return (wait ? fileSyscalls().setLockWait(fd, &lock) : fileSyscalls().setLock(fd, &lock)) == 0;
}

bool overlaps(const LockedRange &a, const LockedRange &b) {
  // A lock of no bytes holds its offset against a range that starts at or runs over it, but
  // not against one that ends just before it.
  if (a.length == 0 || b.length == 0) {
    const LockedRange &point = a.length == 0 ? a : b;
    const LockedRange &range = a.length == 0 ? b : a;
    return range.length != 0 && point.offset >= range.offset &&
           point.offset - range.offset < range.length;
  }
  uint64_t aLast = a.offset + (a.length - 1);
  uint64_t bLast = b.offset + (b.length - 1);
  if (aLast < a.offset)
    aLast = UINT64_MAX;
  if (bLast < b.offset)
    bLast = UINT64_MAX;
  return a.offset <= bLast && b.offset <= aLast;
}

// Takes a byte-range lock for the handle, waiting for it when `wait`.
BOOL lockRange(FileHandle &file, const LockedRange &range, short type, bool wait) {
  // A range may end at 2^64 but not past it.
  if (range.length > 0 && range.offset > 0 && range.length > 0 - range.offset)
    return fail(ERROR_INVALID_LOCK_RANGE, FALSE);
  // Windows locks do not merge: a range that touches one already held fails, even here.
  for (const LockedRange &held : file.locks)
    if (overlaps(held, range))
      return fail(ERROR_LOCK_VIOLATION, FALSE);
  if (!setSystemLock(file.fd, type, range, wait)) {
    int err = errno;
    return fail(err == EAGAIN || err == EACCES ? ERROR_LOCK_VIOLATION
                                               : win32Error(err, ErrnoSite::Read),
                FALSE);
  }
  file.locks.push_back(range);
  return TRUE;
}

// Releases a range exactly as it was locked.
BOOL unlockRange(FileHandle &file, const LockedRange &range) {
  auto held = std::find_if(file.locks.begin(), file.locks.end(), [&](const LockedRange &r) {
    return r.offset == range.offset && r.length == range.length;
  });
  if (held == file.locks.end())
    return fail(ERROR_NOT_LOCKED, FALSE);
  if (!setSystemLock(file.fd, F_UNLCK, range))
    return fail(win32Error(errno, ErrnoSite::Read), FALSE);
  file.locks.erase(held);
  return TRUE;
}

} // namespace
} // namespace vlx::posix

using namespace vlx::posix;

BOOL WINAPI LockFile(HANDLE hFile, DWORD dwFileOffsetLow, DWORD dwFileOffsetHigh,
                     DWORD nNumberOfBytesToLockLow, DWORD nNumberOfBytesToLockHigh) {
  FileHandle *file = usableFile(hFile, 0);
  if (!file)
    return FALSE;
  const short type = (file->access & kWrite) ? F_WRLCK : F_RDLCK;
  return lockRange(*file,
                   {join(dwFileOffsetLow, dwFileOffsetHigh),
                    join(nNumberOfBytesToLockLow, nNumberOfBytesToLockHigh)},
                   type, false);
}

BOOL WINAPI LockFileEx(HANDLE hFile, DWORD dwFlags, DWORD, DWORD nNumberOfBytesToLockLow,
                       DWORD nNumberOfBytesToLockHigh, LPOVERLAPPED lpOverlapped) {
  FileHandle *file = usableFile(hFile, 0);
  if (!file)
    return FALSE;
  if (!lpOverlapped)
    return fail(ERROR_INVALID_PARAMETER, FALSE);
  // The system takes an exclusive lock only on a descriptor open for writing: a handle without
  // write access holds a shared one, which still keeps writers' locks out.
  const short type =
      (dwFlags & LOCKFILE_EXCLUSIVE_LOCK) && (file->access & kWrite) ? F_WRLCK : F_RDLCK;
  return lockRange(*file,
                   {join(lpOverlapped->Offset, lpOverlapped->OffsetHigh),
                    join(nNumberOfBytesToLockLow, nNumberOfBytesToLockHigh)},
                   type, !(dwFlags & LOCKFILE_FAIL_IMMEDIATELY));
}

BOOL WINAPI UnlockFile(HANDLE hFile, DWORD dwFileOffsetLow, DWORD dwFileOffsetHigh,
                       DWORD nNumberOfBytesToUnlockLow, DWORD nNumberOfBytesToUnlockHigh) {
  FileHandle *file = usableFile(hFile, 0);
  if (!file)
    return FALSE;
  return unlockRange(*file, {join(dwFileOffsetLow, dwFileOffsetHigh),
                             join(nNumberOfBytesToUnlockLow, nNumberOfBytesToUnlockHigh)});
}

BOOL WINAPI UnlockFileEx(HANDLE hFile, DWORD, DWORD nNumberOfBytesToUnlockLow,
                         DWORD nNumberOfBytesToUnlockHigh, LPOVERLAPPED lpOverlapped) {
  FileHandle *file = usableFile(hFile, 0);
  if (!file)
    return FALSE;
  if (!lpOverlapped)
    return fail(ERROR_INVALID_PARAMETER, FALSE);
  return unlockRange(*file, {join(lpOverlapped->Offset, lpOverlapped->OffsetHigh),
                             join(nNumberOfBytesToUnlockLow, nNumberOfBytesToUnlockHigh)});
}
