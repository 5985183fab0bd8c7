// Path mapping from Windows text to POSIX paths.
#include "platform/posix/files/path_map.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>

namespace vlx::posix {
namespace {

bool isSeparator(char c) { return c == '\\' || c == '/'; }

bool isDrive(std::string_view text) {
  return text.size() >= 2 && text[1] == ':' && std::isalpha(static_cast<unsigned char>(text[0]));
}

// The directory a drive letter stands for, without a final slash but for `/`; false when the
// drive does not exist.
bool driveRoot(char letter, std::string &root) {
  char upper = static_cast<char>(std::toupper(static_cast<unsigned char>(letter)));
  std::string name = std::string("VELMORA_DRIVE_") + upper;
  const char *value = std::getenv(name.c_str());
  if (value && *value)
    root = value;
  else if (upper == 'Z')
    root = "/";
  else
    return false;
  while (root.size() > 1 && root.back() == '/')
    root.pop_back();
  return true;
}

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) ==
                  std::tolower(static_cast<unsigned char>(y));
         });
}

// The device a last component names, by its part before any dot or colon with trailing
// spaces dropped: "nul", "NUL.txt" and "nul .txt" are all NUL. Empty when it names none.
std::string_view deviceName(std::string_view component) {
  std::string_view base = component.substr(0, component.find_first_of(".:"));
  while (!base.empty() && base.back() == ' ')
    base.remove_suffix(1);
  for (const char *device : {"nul", "con", "prn", "aux"})
    if (equalsIgnoringCase(base, device))
      return base;
  if (base.size() == 4 && base[3] >= '1' && base[3] <= '9' &&
      (equalsIgnoringCase(base.substr(0, 3), "com") ||
       equalsIgnoringCase(base.substr(0, 3), "lpt")))
    return base;
  return {};
}

// Windows drops trailing dots and spaces from the last component. A pattern that ends in a dot
// keeps one, which means "no extension" there: "* ." is "*.", while "*. " is "*".
std::string trimmedLastComponent(std::string_view component) {
  std::string_view::size_type end = component.find_last_not_of(". ");
  std::string kept(component.substr(0, end == std::string_view::npos ? 0 : end + 1));
  if (hasWildcards(component) && kept.size() < component.size() && component.back() == '.')
    kept += '.';
  return kept;
}

// Appends the components of `text` below `path`, which holds a root (its first `rootLength`
// characters). Windows resolves `.` and `..` in the text before the file system sees it, and
// `..` stops at the root: a drive's directory cannot be left that way, whatever links lie below.
DWORD appendBelowRoot(std::string_view text, std::string::size_type rootLength, std::string &path,
                      PathFacts &facts) {
  std::string::size_type start = 0;
  std::string trimmed;
  while (start < text.size()) {
    std::string::size_type end = start;
    while (end < text.size() && !isSeparator(text[end]))
      ++end;
    std::string_view component = text.substr(start, end - start);
    const bool last = end >= text.size();
    start = end + 1;
    if (component == "." || component == "..") {
      if (component == ".." && path.size() > rootLength)
        path.erase(std::max(path.rfind('/'), rootLength));
      continue;
    }
    if (!last && component.find(':') != std::string_view::npos)
      return ERROR_INVALID_NAME;
    if (last) {
      if (!deviceName(component).empty()) {
        if (!equalsIgnoringCase(deviceName(component), "nul"))
          return ERROR_FILE_NOT_FOUND;
        path = "/dev/null";
        facts.device = true;
        return ERROR_SUCCESS;
      }
      trimmed = trimmedLastComponent(component);
      component = trimmed;
    }
    if (component.empty())
      continue;
    if (!path.empty() && path.back() != '/')
      path += '/';
    path += component;
  }
  if (!text.empty() && isSeparator(text.back()) && !path.empty() && path.back() != '/')
    path += '/';
  return ERROR_SUCCESS;
}

// The text after `\\?\`: a drive and components separated by `\` only, taken as they stand.
DWORD mapVerbatim(std::string_view text, std::string &path, PathFacts &facts) {
  if (text.size() >= 4 && equalsIgnoringCase(text.substr(0, 4), "UNC\\"))
    return ERROR_BAD_NETPATH;
  // The prefix alone names nothing.
  if (text.empty())
    return ERROR_INVALID_NAME;
  if (!isDrive(text) || (text.size() > 2 && text[2] != '\\'))
    return ERROR_PATH_NOT_FOUND;
  if (!driveRoot(text[0], path))
    return ERROR_PATH_NOT_FOUND;
  facts.rooted = true;
  facts.rootLength = path == "/" ? 0 : path.size();
  text.remove_prefix(std::min<std::size_t>(text.size(), 3));
  std::string::size_type start = 0;
  while (start < text.size()) {
    std::string::size_type end = std::min(text.find('\\', start), text.size());
    std::string_view component = text.substr(start, end - start);
    // A file system given these would leave the drive or misread the name.
    if (component == "." || component == ".." ||
        component.find_first_of("/:") != std::string_view::npos ||
        (component.empty() && end < text.size()))
      return ERROR_INVALID_NAME;
    if (path.back() != '/')
      path += '/';
    path += component;
    start = end + 1;
  }
  if (!text.empty() && text.back() == '\\' && path.back() != '/')
    path += '/';
  return ERROR_SUCCESS;
}

// `/` turned into `\`, a run of them into one.
std::string backslashed(std::string_view posixPath) {
  std::string text;
  for (char c : posixPath)
    if (!(c == '/' && !text.empty() && text.back() == '\\'))
      text += c == '/' ? '\\' : c;
  return text;
}

} // namespace

DWORD mapPath(const char *winPath, std::string &posixPath, PathFacts *factsOut) {
  posixPath.clear();
  PathFacts facts;
  if (factsOut)
    *factsOut = facts;
  // No text names no path, as the empty text does.
  if (!winPath || !*winPath)
    return ERROR_PATH_NOT_FOUND;
  std::string_view text(winPath);

  DWORD error = ERROR_SUCCESS;
  if (text.size() >= 4 && text.substr(0, 4) == "\\\\?\\") {
    error = mapVerbatim(text.substr(4), posixPath, facts);
  } else if (isDrive(text)) {
    if (!driveRoot(text[0], posixPath))
      return ERROR_PATH_NOT_FOUND;
    facts.rooted = true;
    facts.rootLength = posixPath == "/" ? 0 : posixPath.size();
    // "X:name" is relative to the drive's root as well.
    error = appendBelowRoot(text.substr(2), posixPath.size(), posixPath, facts);
  } else if (isSeparator(text.front())) {
    posixPath = "/";
    facts.rooted = true;
    error = appendBelowRoot(text, 1, posixPath, facts);
  } else {
    // Relative to the current directory, which Windows too lets `..` leave: `..` stays.
    std::string relative;
    for (char c : text)
      relative += c == '\\' ? '/' : c;
    std::string::size_type slash = relative.rfind('/');
    std::string::size_type keep = slash == std::string::npos ? 0 : slash + 1;
    std::string_view last = std::string_view(relative).substr(keep);
    posixPath = relative.substr(0, keep);
    if (posixPath.find(':') != std::string::npos)
      error = ERROR_INVALID_NAME;
    else if (last == "." || last == "..")
      posixPath = relative;
    else
      error = appendBelowRoot(last, posixPath.size(), posixPath, facts);
    if (posixPath.empty() && !error)
      posixPath = ".";
  }
  if (error) {
    posixPath.clear();
    return error;
  }
  if (factsOut)
    *factsOut = facts;
  return ERROR_SUCCESS;
}

std::string fullPathText(std::string_view text, const std::string &currentDirectory) {
  if (text.substr(0, 4) == "\\\\?\\")
    return std::string(text);
  std::string prefix;
  std::string rest;
  char separator;
  if (isDrive(text)) {
    prefix = std::string(text.substr(0, 2)) + "\\";
    separator = '\\';
    rest = text.substr(2);
  } else if (isSeparator(text.front())) {
    separator = text.front();
    prefix = separator;
    rest = text.substr(1);
  } else {
    // The current directory is a POSIX path; `..` may climb out of it up to `/`.
    separator = '/';
    prefix = "/";
    rest = currentDirectory + "/" + std::string(text);
  }
  const std::string_view last = text.substr(text.find_last_of("\\/") + 1);
  if (!deviceName(last).empty())
    return "\\\\.\\" + std::string(deviceName(last));
  std::string path = "/";
  PathFacts unused;
  appendBelowRoot(rest, 1, path, unused);
  for (char &c : path)
    if (c == '/')
      c = separator;
  return prefix + path.substr(1);
}

std::string libraryPathText(std::string_view posixPath) {
  const std::string text = backslashed(posixPath);
  if (text.empty() || isDrive(text))
    return text;
  if (posixPath.front() != '/')
    return text.find('\\') == std::string::npos ? ".\\" + text : text;
  std::string drive;
  std::string::size_type deepest = 0;
  for (char letter = 'A'; letter <= 'Z'; ++letter) {
    std::string root;
    const std::string name = std::string("VELMORA_DRIVE_") + letter;
    if (std::getenv(name.c_str()) == nullptr || !driveRoot(letter, root))
      continue;
    root = backslashed(root);
    if (root == "\\")
      root.clear();
    const bool below = text.compare(0, root.size(), root) == 0 &&
                       (text.size() == root.size() || text[root.size()] == '\\');
    if (below && (drive.empty() || root.size() > deepest)) {
      drive = std::string(1, letter) + ":";
      deepest = root.size();
    }
  }
  if (drive.empty())
    return text;
  const std::string rest = text.substr(deepest);
  return drive + (rest.empty() ? "\\" : rest);
}

bool hasWildcards(std::string_view text) {
  return text.find_first_of("*?<>\"") != std::string_view::npos;
}

DWORD mapFilePath(const char *winPath, std::string &posixPath, PathFacts *facts) {
  if (DWORD error = mapPath(winPath, posixPath, facts))
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
