// Path mapping from Windows text to POSIX paths.
#include "platform/posix/files/path_map.h"

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

} // namespace

DWORD mapPath(const char *winPath, std::string &posixPath) {
  posixPath.clear();
  if (!winPath)
    return ERROR_INVALID_PARAMETER;
  std::string_view text(winPath);
  if (text.empty())
    return ERROR_PATH_NOT_FOUND;

  if (text.size() >= 2 && text[1] == ':' && std::isalpha(static_cast<unsigned char>(text[0]))) {
    std::string root;
    if (!driveRoot(text[0], root))
      return ERROR_PATH_NOT_FOUND;
    text.remove_prefix(2);
    // The drive's root stands before the rest; "X:name" is relative to it as well.
    while (root.size() > 1 && root.back() == '/')
      root.pop_back();
    posixPath = root;
    if (!text.empty() && !isSeparator(text.front()) && root != "/")
      posixPath += '/';
    else if (!text.empty() && isSeparator(text.front()) && root == "/")
      text.remove_prefix(1);
  }
  for (char c : text)
    posixPath += c == '\\' ? '/' : c;
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
