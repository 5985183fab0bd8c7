// Path mapping from Windows text to POSIX paths.
#include "platform/posix/files/path_map.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>

namespace vlx::posix {
namespace {

bool isSeparator(char c) { return c == '\\' || c == '/'; }

// The directory a drive letter stands for; false when the drive does not exist.
bool driveRoot(char letter, std::string &root) {
  char upper = static_cast<char>(std::toupper(static_cast<unsigned char>(letter)));
  std::string name = std::string("VELMORA_DRIVE_") + upper;
  const char *value = std::getenv(name.c_str());
  if (value && *value) {
    root = value;
    return true;
  }
  if (upper == 'Z') {
    root = "/";
    return true;
  }
  return false;
}

// Appends the components of `text` below `path`, which holds a root. Windows resolves `.` and
// `..` in the text before the file system sees it, and `..` stops at the root: a drive's
// directory cannot be left that way, whatever links lie below it.
void appendBelowRoot(std::string_view text, std::string &path) {
  const std::string::size_type rootLength = path.size();
  std::string::size_type start = 0;
  while (start < text.size()) {
    std::string::size_type end = start;
    while (end < text.size() && !isSeparator(text[end]))
      ++end;
    std::string_view component = text.substr(start, end - start);
    start = end + 1;
    if (component.empty() || component == ".")
      continue;
    if (component == "..") {
      if (path.size() > rootLength)
        path.erase(std::max(path.rfind('/'), rootLength));
      continue;
    }
    if (path.back() != '/')
      path += '/';
    path += component;
  }
  if (!text.empty() && isSeparator(text.back()) && path.back() != '/')
    path += '/';
}

} // namespace

DWORD mapPath(const char *winPath, std::string &posixPath) {
  posixPath.clear();
  if (!winPath)
    return ERROR_INVALID_PARAMETER;
  std::string_view text(winPath);
  if (text.empty())
    return ERROR_PATH_NOT_FOUND;

  std::string root = "/";
  if (text.size() >= 2 && text[1] == ':' && std::isalpha(static_cast<unsigned char>(text[0]))) {
    if (!driveRoot(text[0], root))
      return ERROR_PATH_NOT_FOUND;
    // "X:name" is relative to the drive's root as well.
    text.remove_prefix(2);
    while (root.size() > 1 && root.back() == '/')
      root.pop_back();
  } else if (!isSeparator(text.front())) {
    // Relative to the current directory, which Windows too lets `..` leave.
    for (char c : text)
      posixPath += c == '\\' ? '/' : c;
    return ERROR_SUCCESS;
  }
  posixPath = root;
  appendBelowRoot(text, posixPath);
  return ERROR_SUCCESS;
}

bool hasWildcards(std::string_view text) {
  return text.find_first_of("*?<>\"") != std::string_view::npos;
}

DWORD mapFilePath(const char *winPath, std::string &posixPath) {
  if (DWORD error = mapPath(winPath, posixPath))
    return error;
  return hasWildcards(posixPath) ? ERROR_INVALID_NAME : ERROR_SUCCESS;
}

std::string parentDirectory(const std::string &posixPath) {
  std::string::size_type end = posixPath.size();
  // A final separator belongs to the last component.
  while (end > 1 && posixPath[end - 1] == '/')
    --end;
  std::string::size_type slash = posixPath.rfind('/', end - 1);
  if (slash == std::string::npos)
    return ".";
  while (slash > 0 && posixPath[slash - 1] == '/')
    --slash;
  return slash == 0 ? "/" : posixPath.substr(0, slash);
}

} // namespace vlx::posix
