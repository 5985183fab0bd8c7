// Export macros: the library is built with hidden visibility, so only what carries these is
// exported.
#pragma once

#if defined(_WIN32)
#if defined(VLX_BUILDING_LIBRARY)
#define VLX_API __declspec(dllexport)
#elif defined(VLX_STATIC)
// Linked from the static archive (the tests): nothing to import.
#define VLX_API
#else
#define VLX_API __declspec(dllimport)
#endif
#else
#define VLX_API __attribute__((visibility("default")))
#endif

// The Win32 personality: exported on POSIX, where the library provides it; on Windows the
// system does.
#if defined(_WIN32)
#define VLX_WIN32_API
#else
#define VLX_WIN32_API __attribute__((visibility("default")))
#endif
