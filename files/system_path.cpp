// Paths between the host's form and the library's on Windows, where both are Windows paths.
#include <velmora/files.h>

#if defined(_WIN32)
#include <string>

namespace vlx {

CString toLibraryPath(const char *systemPath) {
  if (systemPath == nullptr || *systemPath == '\0')
    return CString();
  std::string text(systemPath);
  for (char &c : text)
    if (c == '/')
      c = '\\';
  const bool bare = text.find('\\') == std::string::npos && !(text.size() >= 2 && text[1] == ':');
  return CString((bare ? ".\\" + text : text).c_str());
}

CString toSystemPath(const char *libraryPath) {
  SetLastError(libraryPath && *libraryPath ? ERROR_SUCCESS : ERROR_PATH_NOT_FOUND);
  return libraryPath ? CString(libraryPath) : CString();
}

} // namespace vlx
#endif
