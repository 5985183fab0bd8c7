// SearchPathA: a file name looked up in a list of directories.
#include "platform/posix/files/caseless.h"
#include "platform/posix/files/file_errors.h"
#include "platform/posix/files/path_map.h"
#include "platform/posix/files/syscalls.h"

#include <velmora/win32.h>

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>
#include <vector>

namespace vlx::posix {
namespace {

bool isSeparator(char c) { return c == '\\' || c == '/'; }

bool hasDrive(const std::string &path) {
  return path.size() >= 2 && path[1] == ':' && std::isalpha(static_cast<unsigned char>(path[0]));
}

// Names that Windows resolves without the search list.
bool isAbsolute(const std::string &name) { return hasDrive(name) || isSeparator(name[0]); }

bool isCurrentRelative(const std::string &name) {
  return name[0] == '.' && (isSeparator(name[1]) || (name[1] == '.' && isSeparator(name[2])));
}

std::vector<std::string> split(const char *list, char separator) {
  std::vector<std::string> items;
  std::string item;
  for (const char *p = list;; ++p) {
    if (*p == separator || *p == '\0') {
      if (!item.empty())
        items.push_back(item);
      item.clear();
      if (*p == '\0')
        break;
    } else {
      item += *p;
    }
  }
  return items;
}

// Without a list: the program's directory, the current directory, then PATH.
std::vector<std::string> defaultDirectories() {
  std::vector<std::string> directories;
  char module[4096];
  DWORD length = GetModuleFileNameA(nullptr, module, sizeof module);
  if (length > 0 && length < sizeof module)
    directories.push_back(parentDirectory(module));
  directories.push_back(".");
  if (const char *path = std::getenv("PATH"))
    for (std::string &entry : split(path, ':'))
      directories.push_back(std::move(entry));
  return directories;
}

// `name` in `directory`, joined with the separator the directory is written with.
std::string join(const std::string &directory, const std::string &name) {
  if (isSeparator(directory.back()))
    return directory + name;
  bool windowsStyle = hasDrive(directory) || directory.find('\\') != std::string::npos;
  return directory + (windowsStyle ? '\\' : '/') + name;
}

// Windows answers with a full path.
std::string absolute(const std::string &path) {
  if (isAbsolute(path))
    return path;
  std::string cwd;
  if (char *current = getcwd(nullptr, 0)) {
    cwd = current;
    std::free(current);
  }
  std::string relative =
      path.compare(0, 2, "./") == 0 || path.compare(0, 2, ".\\") == 0 ? path.substr(2) : path;
  return cwd == "/" ? "/" + relative : cwd + "/" + relative;
}

bool exists(const std::string &candidate) {
  std::string path;
  PathFacts facts;
  struct stat st;
  return mapPath(candidate.c_str(), path, &facts) == ERROR_SUCCESS &&
         statCaseless(path, facts, st, StatMode::Follow) == 0;
}

} // namespace
} // namespace vlx::posix

using namespace vlx::posix;

DWORD WINAPI SearchPathA(LPCSTR lpPath, LPCSTR lpFileName, LPCSTR lpExtension, DWORD nBufferLength,
                         LPSTR lpBuffer, LPSTR *lpFilePart) {
  if (!lpFileName || !*lpFileName)
    return fail(ERROR_INVALID_PARAMETER, DWORD{0});
  std::string name = lpFileName;
  // The extension is added only to a name that has none.
  std::string::size_type base = name.find_last_of("\\/");
  base = base == std::string::npos ? 0 : base + 1;
  if (lpExtension && *lpExtension && name.find('.', base) == std::string::npos)
    name += lpExtension;

  std::string found;
  if (isAbsolute(name) || isCurrentRelative(name)) {
    if (exists(name))
      found = name;
  } else {
    std::vector<std::string> directories = lpPath ? split(lpPath, ';') : defaultDirectories();
    for (const std::string &directory : directories) {
      std::string candidate = join(directory, name);
      if (exists(candidate)) {
        found = candidate;
        break;
      }
    }
  }
  if (found.empty())
    return fail(ERROR_FILE_NOT_FOUND, DWORD{0});

  found = absolute(found);
  // Too small a buffer: the size needed, terminator included.
  if (!lpBuffer || nBufferLength <= found.size())
    return static_cast<DWORD>(found.size() + 1);
  std::memcpy(lpBuffer, found.c_str(), found.size() + 1);
  if (lpFilePart) {
    std::string::size_type last = found.find_last_of("\\/");
    *lpFilePart = lpBuffer + (last == std::string::npos ? 0 : last + 1);
  }
  return static_cast<DWORD>(found.size());
}
