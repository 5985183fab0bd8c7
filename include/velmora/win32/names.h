// The library's own directory listing when names are all it needs: no sizes, times or
// attributes, so no status call per entry.
#pragma once

#if defined(_WIN32)
#include <windows.h>
#else
#include <velmora/win32/files.h>
#endif

namespace vlx {

// Receives one name of a listing; `context` is what findNames was given.
typedef void (*NameSink)(void *context, const char *name);

#if defined(_WIN32)
// The basic search leaves out the 8.3 names; the large fetch asks for many entries per call.
inline int findNames(const char *pattern, NameSink onName, void *context) {
  WIN32_FIND_DATAA data;
  HANDLE search = FindFirstFileExA(pattern, FindExInfoBasic, &data, FindExSearchNameMatch, nullptr,
                                   FIND_FIRST_EX_LARGE_FETCH);
  if (search == INVALID_HANDLE_VALUE)
    return 0;
  // Closed however the walk ends: a sink may throw the framework's memory exception.
  struct Closer {
    HANDLE handle;
    ~Closer() { FindClose(handle); }
  } closer{search};
  do
    onName(context, data.cFileName);
  while (FindNextFileA(search, &data));
  return 1;
}
#else
// Calls `onName` with each name that FindFirstFileA/FindNextFileA would yield for `pattern`, in
// the same order, and returns 1; returns 0 with the last error set when the search finds nothing
// or refuses the pattern. The library's own; not exported.
int findNames(const char *pattern, NameSink onName, void *context);
#endif

} // namespace vlx
