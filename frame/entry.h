// The library entry: what runs when the library is loaded into and unloaded from a process.
#pragma once

#include <velmora/win32.h>

namespace vlx {

// The body of the library's entry point; `reason` is one of the DLL_* codes.
BOOL libraryEntry(HINSTANCE instance, DWORD reason, LPVOID reserved);

} // namespace vlx

// Static objects of the library that must exist before the entry runs on POSIX, where load-time
// order follows priorities: the framework hook first, then these, then the entry.
#if defined(_WIN32)
#define VLX_LIBRARY_STATIC
#else
#define VLX_LIBRARY_STATIC __attribute__((init_priority(1000)))
#endif
