// Windows path text to the POSIX path it names: separators, rooted paths, drive letters, the
// long-path prefix, DOS device names and the trailing dots and spaces Windows drops.
#pragma once

#include <velmora/win32/files.h>

#include <string>
#include <string_view>

namespace vlx::posix {

// What the mapping learnt about a path besides its POSIX form.
struct PathFacts {
  // The path starts at a root: `/`, or a drive's directory, which is then the first
  // `rootLength` characters of the POSIX path (0 for `/` itself).
  bool rooted = false;
  std::string::size_type rootLength = 0;
  // The last component names the DOS device NUL: the POSIX path is /dev/null.
  bool device = false;
};

// Both `\` and `/` separate components; a leading separator is the root `/`. `X:` is the
// directory in VELMORA_DRIVE_X where that is set, `Z:` is `/` otherwise, and any other drive
// does not exist. `.` and `..` resolve in the text, and `..` stops at a root. The last component
// loses its trailing dots and spaces (a pattern that ends in a dot keeps one: `* .` is `*.`,
// `*. ` is `*`), and names a device when its part before any dot is NUL, CON, PRN, AUX,
// COM1-COM9 or LPT1-LPT9: NUL is /dev/null, the others do not exist here
// (ERROR_FILE_NOT_FOUND). A colon is refused in any
// component but the last. After the prefix `\\?\` the text is taken as it stands: only `\`
// separates, and nothing is resolved, stripped or mapped to a device (`.`, `..`, an empty
// component and `/` are refused, as is the prefix alone); `\\?\UNC\` names a network path, which
// does not exist. Returns ERROR_SUCCESS with `posixPath` set, or the Win32 error.
DWORD mapPath(const char *winPath, std::string &posixPath, PathFacts *facts = nullptr);

// True when `text` holds a character that Windows reads as a wildcard (`*`, `?` and the DOS
// forms `<`, `>`, `"`): such names are patterns, not files.
bool hasWildcards(std::string_view text);

// mapPath for a path that names one file: ERROR_INVALID_NAME when it holds wildcards.
DWORD mapFilePath(const char *winPath, std::string &posixPath, PathFacts *facts = nullptr);

// The full form of a path as GetFullPathNameA gives it: `.` and `..` resolved and the last
// component's trailing dots and spaces dropped, a drive path kept with its letter and `\`, a
// rooted one with the separator it starts with, a relative one below the current directory
// (a POSIX path, with `/`). After `\\?\` the text stands as it is.
std::string fullPathText(std::string_view text, const std::string &currentDirectory);

// The Windows text that mapPath takes back to `posixPath`: an absolute path below a directory
// set in VELMORA_DRIVE_X becomes `X:\...` (the deepest such directory wins), any other absolute
// path the rooted `\...`; a relative one keeps its place, and a bare name gets `.\` in front,
// since the library's path splitting would otherwise take its empty directory for the root.
// Runs of `/` become one `\`; a text that already starts with a drive only has its `/` turned.
// A `\` in a POSIX name cannot be spelled: the file calls read it as a separator.
std::string libraryPathText(std::string_view posixPath);

// The directory part of a POSIX path ("." for a bare name, "/" at the root).
std::string parentDirectory(const std::string &posixPath);

} // namespace vlx::posix
