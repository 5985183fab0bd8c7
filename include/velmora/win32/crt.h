// C run-time calls of the Windows CRT: process id, number formatting, directories, environment,
// 16-bit text.
#pragma once

#if defined(_WIN32)
#include <direct.h>
#include <mbstring.h>
#include <process.h>
#include <stdlib.h>

namespace vlx {
// The CRT's own lookup already ignores the case of the name.
using ::getenv;
using ::mbstowcs;
using ::wcstombs;
// The scratch base is the user's own profile directory: what lies in it is the user's.
inline int isPrivateDirectory(const char *) { return 1; }
} // namespace vlx

#else
#include <velmora/export.h>

#include <cstddef>

extern "C" {
VLX_WIN32_API int _getpid(void);
// Negative values keep their sign only in radix 10; other radixes show the 32-bit pattern.
VLX_WIN32_API char *_itoa(int value, char *buffer, int radix);
// Returns 0, or -1 with errno (EEXIST, ENOENT, ...). The directory is private to the user.
VLX_WIN32_API int _mkdir(const char *dirname);
// Compares without regard to the case of ASCII letters; INT_MAX for a null argument.
VLX_WIN32_API int _mbsicmp(const unsigned char *string1, const unsigned char *string2);
}

namespace vlx {
// Environment look-up as the Windows CRT does it: an exact name first, then the first variable
// whose name differs only in letter case. Library code calls it unqualified from namespace vlx
// (or as vlx::getenv), so that one spelling reaches the CRT's own on Windows. Where neither
// temp nor tmp is set (or both are empty), TEMP reads as $XDG_RUNTIME_DIR, else $TMPDIR, else
// /tmp, as a Windows process always has a TEMP of its own; the environment is not changed.
VLX_WIN32_API char *getenv(const char *name);
// The CRT's wcstombs for the 16-bit text of OLE (wchar_t is 32-bit here): UTF-16 to UTF-8,
// at most `count` bytes and never a partial character, the zero only where it fits; the length
// without it when `dest` is null; -1 for an unpaired surrogate.
VLX_WIN32_API size_t wcstombs(char *dest, const char16_t *src, size_t count);
// Its reverse, UTF-8 to UTF-16, counting 16-bit units; -1 for bytes that are not UTF-8.
VLX_WIN32_API size_t mbstowcs(char16_t *dest, const char *src, size_t count);
// 1 when `path` names a directory that only this user can reach and nobody else can swap: no
// link, owned by the user, no access for group or others, in a directory where no other user
// may rename entries. The library's check on a shared scratch base; not exported.
int isPrivateDirectory(const char *path);
} // namespace vlx
#endif
