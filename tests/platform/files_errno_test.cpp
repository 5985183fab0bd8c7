// The errno -> Win32 error table, with the codes that depend on where a call failed.
#include "platform/posix/errno_map.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <tuple>

using vlx::posix::ErrnoSite;
using vlx::posix::win32Error;

namespace {

TEST(ErrnoMap, TheSiteOfTheCallPicksTheCode) {
  // Only where the site matters; the plain rows show through the file calls' own tests.
  const std::tuple<int, ErrnoSite, DWORD> cases[] = {
      {ENOENT, ErrnoSite::File, ERROR_FILE_NOT_FOUND},
      {ENOENT, ErrnoSite::Directory, ERROR_PATH_NOT_FOUND},
      {EEXIST, ErrnoSite::File, ERROR_FILE_EXISTS},
      {EEXIST, ErrnoSite::Directory, ERROR_ALREADY_EXISTS},
      {EIO, ErrnoSite::Read, ERROR_READ_FAULT},
      {EIO, ErrnoSite::Write, ERROR_WRITE_FAULT},
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
