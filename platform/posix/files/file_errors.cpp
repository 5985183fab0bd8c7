// Win32 errors of the file calls.
#include "platform/posix/files/file_errors.h"

#include "platform/posix/files/path_map.h"
#include "platform/posix/files/syscalls.h"

#include <cerrno>

namespace vlx::posix {

DWORD fileError(int err, const std::string &posixPath) {
  if (err == ENOENT) {
    struct stat st;
    std::string parent = parentDirectory(posixPath);
    if (fileSyscalls().statPath(parent.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
      return ERROR_PATH_NOT_FOUND;
  }
  return win32Error(err, ErrnoSite::File);
}

} // namespace vlx::posix
