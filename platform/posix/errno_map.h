// errno values turned into the Win32 error codes that Windows reports for the same failure.
#pragma once

#include <velmora/win32/base.h>

namespace vlx::posix {

// Where a call failed: Windows tells some failures apart that share one errno.
enum class ErrnoSite : unsigned char {
  File,      // a file named by a path: missing -> FILE_NOT_FOUND, present -> FILE_EXISTS
  Directory, // a directory named or on the way: missing -> PATH_NOT_FOUND, present ->
             // ALREADY_EXISTS
  Read,      // reading data: EIO -> READ_FAULT
  Write,     // writing data: EIO -> WRITE_FAULT
};

// The Win32 code for `err` at `site`; ERROR_GEN_FAILURE for an errno Windows has no match for.
DWORD win32Error(int err, ErrnoSite site);

} // namespace vlx::posix
