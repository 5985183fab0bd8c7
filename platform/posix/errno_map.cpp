// The one errno -> Win32 error table of the POSIX personality.
#include "platform/posix/errno_map.h"

#include <cerrno>

namespace vlx::posix {
namespace {

struct ErrnoRow {
  int err;
  DWORD code;
  // Per-site codes where Windows distinguishes; 0 takes `code`. Indexed by ErrnoSite.
  DWORD bySite[4];
};

constexpr ErrnoRow kErrnoRows[] = {
    {ENOENT, ERROR_FILE_NOT_FOUND, {0, ERROR_PATH_NOT_FOUND, 0, 0}},
    {ENOTDIR, ERROR_PATH_NOT_FOUND, {}},
    {EEXIST, ERROR_FILE_EXISTS, {0, ERROR_ALREADY_EXISTS, 0, 0}},
    {EACCES, ERROR_ACCESS_DENIED, {}},
    {EPERM, ERROR_ACCESS_DENIED, {}},
    {EROFS, ERROR_ACCESS_DENIED, {}},
    // Windows refuses file operations on a directory as a denial.
    {EISDIR, ERROR_ACCESS_DENIED, {}},
    {ETXTBSY, ERROR_SHARING_VIOLATION, {}},
    {ENOSPC, ERROR_DISK_FULL, {}},
    {EDQUOT, ERROR_DISK_FULL, {}},
    {EFBIG, ERROR_FILE_TOO_LARGE, {}},
    {ENAMETOOLONG, ERROR_FILENAME_EXCED_RANGE, {}},
    {ELOOP, ERROR_CANT_RESOLVE_FILENAME, {}},
    {EMFILE, ERROR_TOO_MANY_OPEN_FILES, {}},
    {ENFILE, ERROR_TOO_MANY_OPEN_FILES, {}},
    {EBUSY, ERROR_BUSY, {}},
    {EXDEV, ERROR_NOT_SAME_DEVICE, {}},
    {ENOTEMPTY, ERROR_DIR_NOT_EMPTY, {}},
    {EIO, ERROR_READ_FAULT, {0, 0, 0, ERROR_WRITE_FAULT}},
    {ENOMEDIUM, ERROR_NOT_READY, {}},
    {EBADF, ERROR_INVALID_HANDLE, {}},
    {EINVAL, ERROR_INVALID_PARAMETER, {}},
    {EFAULT, ERROR_NOACCESS, {}},
    {ENOMEM, ERROR_NOT_ENOUGH_MEMORY, {}},
    {EPIPE, ERROR_BROKEN_PIPE, {}},
    {ENOSYS, ERROR_INVALID_FUNCTION, {}},
    {EOPNOTSUPP, ERROR_NOT_SUPPORTED, {}},
};

} // namespace

DWORD win32Error(int err, ErrnoSite site) {
  for (const ErrnoRow &row : kErrnoRows)
    if (row.err == err) {
      DWORD special = row.bySite[static_cast<unsigned>(site)];
      return special ? special : row.code;
    }
  return ERROR_GEN_FAILURE;
}

} // namespace vlx::posix
