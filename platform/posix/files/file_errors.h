// Win32 errors of the file calls: setting them, and telling a missing file from a missing path.
#pragma once

#include "platform/posix/errno_map.h"

#include <velmora/win32/base.h>

#include <string>

namespace vlx::posix {

// The error for `err` from a call on the file `posixPath`: ENOENT is ERROR_FILE_NOT_FOUND when
// the directory holding the file exists, ERROR_PATH_NOT_FOUND when it does not.
DWORD fileError(int err, const std::string &posixPath);

// Sets the thread's last error; returns `result` so that failures read as one statement.
template <typename Result> Result fail(DWORD error, Result result) {
  SetLastError(error);
  return result;
}

} // namespace vlx::posix
