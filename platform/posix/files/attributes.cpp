// GetFileAttributesA and DeleteFileA.
#include "platform/posix/files/caseless.h"
#include "platform/posix/files/file_errors.h"
#include "platform/posix/files/handle_access.h"
#include "platform/posix/files/find_data.h"
#include "platform/posix/files/path_map.h"
#include "platform/posix/files/syscalls.h"

#include <velmora/win32.h>

#include <cerrno>

using namespace vlx::posix;

DWORD WINAPI GetFileAttributesA(LPCSTR lpFileName) {
  std::string path;
  PathFacts facts;
  if (DWORD error = mapFilePath(lpFileName, path, &facts))
    return fail(error, INVALID_FILE_ATTRIBUTES);
  // As a directory search reports the device.
  if (facts.device)
    return FILE_ATTRIBUTE_ARCHIVE;
  struct stat st;
  // A dangling link still exists as an entry.
  if (int err = statCaseless(path, facts, st, StatMode::Entry))
    return fail(fileError(err, path), INVALID_FILE_ATTRIBUTES);
  return attributesFrom(st);
}

BOOL WINAPI DeleteFileA(LPCSTR lpFileName) {
  std::string path;
  PathFacts facts;
  if (DWORD error = mapFilePath(lpFileName, path, &facts))
    return fail(error, FALSE);
  // A device is no file to delete; /dev/null least of all.
  if (facts.device)
    return fail(ERROR_ACCESS_DENIED, FALSE);
  const FileSyscalls &sys = fileSyscalls();
  struct stat st;
  if (int err = statCaseless(path, facts, st, StatMode::NoFollow))
    return fail(fileError(err, path), FALSE);
  if (S_ISDIR(st.st_mode))
    return fail(ERROR_ACCESS_DENIED, FALSE);
  // The read-only attribute protects the file even from root, as on Windows.
  if (!S_ISLNK(st.st_mode) && !(st.st_mode & S_IWUSR))
    return fail(ERROR_ACCESS_DENIED, FALSE);
  // Nor is a file deleted while a view of this process shows it, as on Windows.
  if (S_ISREG(st.st_mode) && viewedInProcess(st))
    return fail(ERROR_ACCESS_DENIED, FALSE);
  if (sys.unlink(path.c_str()) != 0)
    return fail(fileError(errno, path), FALSE);
  return TRUE;
}
