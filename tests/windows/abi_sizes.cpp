// Compile-time check of the Windows builds: the sizes and layouts the exported interface depends
// on, for 32-bit (i686) and 64-bit (x86-64) Windows alike.
#include <velmora/afx.h>
#include <velmora/win32.h>

#include <cstddef>

#if defined(_WIN64)
constexpr std::size_t pointerSize = 8;
#else
constexpr std::size_t pointerSize = 4;
#endif

static_assert(sizeof(void *) == pointerSize, "pointers have the target's width");
static_assert(sizeof(long) == 4, "long is 32-bit on Windows, 64-bit too");
static_assert(sizeof(LONG) == 4 && sizeof(DWORD) == 4 && sizeof(UINT) == 4, "32-bit integers");
static_assert(sizeof(WORD) == 2 && sizeof(WCHAR) == 2 && sizeof(OLECHAR) == 2, "16-bit text");
static_assert(sizeof(INT_PTR) == pointerSize && sizeof(POSITION) == pointerSize &&
                  sizeof(size_t) == pointerSize && sizeof(HKEY) == pointerSize,
              "pointer-sized integers and handles");
static_assert(sizeof(GUID) == 16 && sizeof(CY) == 8 && sizeof(DECIMAL) == 16 && sizeof(DATE) == 8,
              "fixed-size OLE types");
static_assert(sizeof(VARIANT) == (pointerSize == 8 ? 24 : 16), "VARIANT");
static_assert(sizeof(DISPPARAMS) == (pointerSize == 8 ? 24 : 16), "DISPPARAMS");
static_assert(sizeof(EXCEPINFO) == (pointerSize == 8 ? 64 : 32), "EXCEPINFO");
static_assert(sizeof(SAFEARRAY) == (pointerSize == 8 ? 32 : 24) &&
                  offsetof(SAFEARRAY, cLocks) == 8 &&
                  offsetof(SAFEARRAY, pvData) == (pointerSize == 8 ? 16 : 12) &&
                  sizeof(SAFEARRAYBOUND) == 8,
              "SAFEARRAY");
static_assert(sizeof(COleVariant) == sizeof(VARIANT) &&
                  sizeof(COleSafeArray) == sizeof(VARIANT) + 2 * sizeof(DWORD),
              "the framework's VARIANT classes are VARIANTs with the framework's members");
static_assert(sizeof(WIN32_FIND_DATAA) == 320 && offsetof(WIN32_FIND_DATAA, cFileName) == 44 &&
                  offsetof(WIN32_FIND_DATAA, cAlternateFileName) == 304,
              "WIN32_FIND_DATAA");
static_assert(sizeof(CString) == pointerSize, "a CString is just its character pointer");
static_assert(sizeof(LONG64) == 8 && sizeof(ULONG64) == 8 && sizeof(DWORD64) == 8 &&
                  sizeof(INT64) == 8 && sizeof(UINT64) == 8,
              "basetsd.h's 64-bit names");
static_assert(sizeof(LONG_PTR) == pointerSize && sizeof(ULONG_PTR) == pointerSize &&
                  sizeof(DWORD_PTR) == pointerSize && sizeof(SIZE_T) == pointerSize &&
                  sizeof(SSIZE_T) == pointerSize,
              "basetsd.h's pointer-sized names");
// The values the POSIX header's file rights are checked against too (tests/platform).
static_assert(FILE_GENERIC_READ == 0x120089 && FILE_GENERIC_WRITE == 0x120116 &&
                  FILE_GENERIC_EXECUTE == 0x1200A0 && FILE_ALL_ACCESS == 0x1F01FF,
              "file rights");
