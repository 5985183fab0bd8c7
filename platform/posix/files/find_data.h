// Filling WIN32_FIND_DATAA and attributes from POSIX file status, and what FindFirstFileEx takes.
#pragma once

#include <velmora/win32/files.h>

#include <string>
#include <sys/stat.h>

namespace vlx::posix {

// 100 ns intervals since 1601-01-01, the FILETIME epoch.
FILETIME fileTimeFrom(const struct timespec &time);

// DIRECTORY; READONLY when the owner may not write; NORMAL when neither.
DWORD attributesFrom(const struct stat &st);

// The entry `name` with status `st`; no 8.3 name exists here.
void fillFindData(const char *name, const struct stat &st, WIN32_FIND_DATAA &data);

// UTF-8 text (a name the system gave) as 16-bit text; bytes that are not UTF-8 become U+FFFD.
std::u16string widen(const char *text);

// The FindFirstFileEx levels and searches a plain name search answers; no filter is taken.
bool findExAnswers(FINDEX_INFO_LEVELS level, FINDEX_SEARCH_OPS search, LPVOID filter);

} // namespace vlx::posix
