// Paths between the host's POSIX form and the library's Windows form, by the file calls' mapping.
#include "platform/posix/files/caseless.h"
#include "platform/posix/files/path_map.h"

#include <velmora/files.h>

namespace vlx {

CString toLibraryPath(const char *systemPath) {
  return systemPath ? CString(posix::libraryPathText(systemPath).c_str()) : CString();
}

CString toSystemPath(const char *libraryPath) {
  std::string path;
  posix::PathFacts facts;
  const DWORD error = posix::mapPath(libraryPath, path, &facts);
  // The name the file has, where it exists in another case.
  if (!error) {
    struct stat st;
    posix::statCaseless(path, facts, st, posix::StatMode::Entry);
  }
  SetLastError(error);
  return error ? CString() : CString(path.c_str());
}

} // namespace vlx
