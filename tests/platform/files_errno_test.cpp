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
  // Only the rows no file call's test reaches: ENOENT by site shows through CopyFileA and
  // FindFirstFileA, EEXIST through _mkdir.
  const std::tuple<int, ErrnoSite, DWORD> cases[] = {
      {EEXIST, ErrnoSite::File, ERROR_FILE_EXISTS},
      {EIO, ErrnoSite::Read, ERROR_READ_FAULT},
      {EIO, ErrnoSite::Write, ERROR_WRITE_FAULT},
      // Anything without a Windows counterpart is a general failure, never success.
      {0, ErrnoSite::File, ERROR_GEN_FAILURE},
  };
  for (const auto &[err, site, code] : cases) {
    SCOPED_TRACE(std::strerror(err));
    EXPECT_EQ(win32Error(err, site), code);
  }
}

} // namespace
