// The errno -> Win32 error table, with the codes that depend on where a call failed.
#include "platform/posix/errno_map.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>

using vlx::posix::ErrnoSite;
using vlx::posix::win32Error;

namespace {

TEST(ErrnoMap, EachErrnoGivesTheCodeWindowsReports) {
  struct Case {
    int err;
    ErrnoSite site;
    DWORD code;
  } cases[] = {
      {ENOENT, ErrnoSite::File, ERROR_FILE_NOT_FOUND},
      {ENOENT, ErrnoSite::Directory, ERROR_PATH_NOT_FOUND},
      {ENOTDIR, ErrnoSite::File, ERROR_PATH_NOT_FOUND},
      {EACCES, ErrnoSite::File, ERROR_ACCESS_DENIED},
      {EPERM, ErrnoSite::Write, ERROR_ACCESS_DENIED},
      {EROFS, ErrnoSite::Directory, ERROR_ACCESS_DENIED},
      {EISDIR, ErrnoSite::File, ERROR_ACCESS_DENIED},
      {ENOSPC, ErrnoSite::Write, ERROR_DISK_FULL},
      {EDQUOT, ErrnoSite::Write, ERROR_DISK_FULL},
      {EEXIST, ErrnoSite::File, ERROR_FILE_EXISTS},
      {EEXIST, ErrnoSite::Directory, ERROR_ALREADY_EXISTS},
      {ENAMETOOLONG, ErrnoSite::File, ERROR_FILENAME_EXCED_RANGE},
      {EMFILE, ErrnoSite::File, ERROR_TOO_MANY_OPEN_FILES},
      {ENFILE, ErrnoSite::Read, ERROR_TOO_MANY_OPEN_FILES},
      {EBUSY, ErrnoSite::File, ERROR_BUSY},
      {EXDEV, ErrnoSite::File, ERROR_NOT_SAME_DEVICE},
      {ENOTEMPTY, ErrnoSite::Directory, ERROR_DIR_NOT_EMPTY},
      {EIO, ErrnoSite::Read, ERROR_READ_FAULT},
      {EIO, ErrnoSite::Write, ERROR_WRITE_FAULT},
      {ETXTBSY, ErrnoSite::File, ERROR_SHARING_VIOLATION},
      {EFBIG, ErrnoSite::Write, ERROR_FILE_TOO_LARGE},
      {ELOOP, ErrnoSite::File, ERROR_CANT_RESOLVE_FILENAME},
      {ENOMEM, ErrnoSite::Read, ERROR_NOT_ENOUGH_MEMORY},
      {EINVAL, ErrnoSite::File, ERROR_INVALID_PARAMETER},
      {EBADF, ErrnoSite::Read, ERROR_INVALID_HANDLE},
      {EOPNOTSUPP, ErrnoSite::File, ERROR_NOT_SUPPORTED},
      // Anything without a Windows counterpart is a general failure, never success.
      {0, ErrnoSite::File, ERROR_GEN_FAILURE},
      {ECHILD, ErrnoSite::File, ERROR_GEN_FAILURE},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(std::strerror(c.err));
    EXPECT_EQ(win32Error(c.err, c.site), c.code);
  }
}

} // namespace
