// C run-time calls of the Windows CRT: process id, number formatting, directories, environment.
#pragma once

#if defined(_WIN32)
#include <direct.h>
#include <process.h>
#include <stdlib.h>

namespace vlx {
// The CRT's own lookup already ignores the case of the name.
using ::getenv;
} // namespace vlx

#else
#include <velmora/export.h>

extern "C" {
VLX_WIN32_API int _getpid(void);
// Negative values keep their sign only in radix 10; other radixes show the 32-bit pattern.
VLX_WIN32_API char *_itoa(int value, char *buffer, int radix);
// Returns 0, or -1 with errno (EEXIST, ENOENT, ...). The directory is private to the user.
VLX_WIN32_API int _mkdir(const char *dirname);
}

namespace vlx {
// Environment look-up as the Windows CRT does it: an exact name first, then the first variable
// whose name differs only in letter case. Library code calls it unqualified from namespace vlx
// (or as vlx::getenv), so that one spelling reaches the CRT's own on Windows.
VLX_WIN32_API char *getenv(const char *name);
} // namespace vlx
#endif
