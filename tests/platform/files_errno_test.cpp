// The errno -> Win32 error table, with the codes that depend on where a call failed.
#include "platform/posix/errno_map.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <tuple>

using vlx::posix::ErrnoSite;
using vlx::posix::win32Error;

namespace {

TEST(ErrnoMap, EachErrnoGivesTheCodeWindowsReports) {
  const std::tuple<int, ErrnoSite, DWORD> cases[] = {
      {ENOENT, ErrnoSite::File, ERROR_FILE_NOT_FOUND},
      {ENOENT, ErrnoSite::Directory, ERROR_PATH_NOT_FOUND},
      {ENOTDIR, ErrnoSite::File, ERROR_PATH_NOT_FOUND},
      {EEXIST, ErrnoSite::File, ERROR_FILE_EXISTS},
      {EEXIST, ErrnoSite::Directory, ERROR_ALREADY_EXISTS},
      {EACCES, ErrnoSite::File, ERROR_ACCESS_DENIED},
      {EROFS, ErrnoSite::Directory, ERROR_ACCESS_DENIED},
      {EISDIR, ErrnoSite::File, ERROR_ACCESS_DENIED},
      {ENOSPC, ErrnoSite::Write, ERROR_DISK_FULL},
      {EDQUOT, ErrnoSite::Write, ERROR_DISK_FULL},
      {EIO, ErrnoSite::Read, ERROR_READ_FAULT},
      {EIO, ErrnoSite::Write, ERROR_WRITE_FAULT},
      {ETXTBSY, ErrnoSite::File, ERROR_SHARING_VIOLATION},
      // Anything without a Windows counterpart is a general failure, never success.
      {0, ErrnoSite::File, ERROR_GEN_FAILURE},
      {ECHILD, ErrnoSite::File, ERROR_GEN_FAILURE},
  };
  for (const auto &[err, site, code] : cases) {
    SCOPED_TRACE(std::strerror(err));
    EXPECT_EQ(win32Error(err, site), code);
  }
}

} // namespace
