// Win32 module handles: which module holds an address, and a module's file name.
#pragma once

#include <velmora/win32/base.h>

#define GET_MODULE_HANDLE_EX_FLAG_PIN 0x00000001
#define GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT 0x00000002
#define GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS 0x00000004

extern "C" {
VLX_WIN32_API BOOL WINAPI GetModuleHandleExA(DWORD dwFlags, LPCSTR lpModuleName,
                                             HMODULE *phModule);
// The module's POSIX path, never a mapped drive form: a drive is a mapping of the host's
// choosing, which may name the file under several letters or none, while the POSIX path is
// one, and every file call takes it (a path starting at `/` starts at the root).
VLX_WIN32_API DWORD WINAPI GetModuleFileNameA(HMODULE hModule, LPSTR lpFilename, DWORD nSize);
VLX_WIN32_API DWORD WINAPI GetModuleFileNameW(HMODULE hModule, LPWSTR lpFilename, DWORD nSize);
}
