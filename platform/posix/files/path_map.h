// Windows path text to the POSIX path it names: separators, rooted paths and drive letters.
#pragma once

#include <velmora/win32/base.h>

#include <string>
#include <string_view>

namespace vlx::posix {

// Both `\` and `/` separate components; a leading separator is the root `/`. `X:` is the
// directory in VELMORA_DRIVE_X where that is set, `Z:` is `/` otherwise, and any other drive
// does not exist. Returns ERROR_SUCCESS with `posixPath` set, or the Win32 error.
DWORD mapPath(const char *winPath, std::string &posixPath);

// True when `text` holds a character that Windows reads as a wildcard (`*`, `?` and the DOS
// forms `<`, `>`, `"`): such names are patterns, not files.
bool hasWildcards(std::string_view text);

// mapPath for a path that names one file: ERROR_INVALID_NAME when it holds wildcards.
DWORD mapFilePath(const char *winPath, std::string &posixPath);

// The directory part of a POSIX path ("." for a bare name, "/" at the root).
std::string parentDirectory(const std::string &posixPath);

} // namespace vlx::posix
