// Win32 events and waiting on them: CreateEventA, SetEvent, ResetEvent, WaitForSingleObject.
#pragma once

#include <velmora/win32/base.h>

#define INFINITE 0xFFFFFFFF
#define WAIT_OBJECT_0 0x00000000L
#define WAIT_TIMEOUT 258L
#define WAIT_FAILED (static_cast<DWORD>(0xFFFFFFFF))

// Events live in this process only: a name (shared events) is refused with ERROR_NOT_SUPPORTED.
// CloseHandle closes them as it closes files.
extern "C" {
VLX_WIN32_API HANDLE WINAPI CreateEventA(LPSECURITY_ATTRIBUTES lpEventAttributes, BOOL bManualReset,
                                         BOOL bInitialState, LPCSTR lpName);
VLX_WIN32_API BOOL WINAPI SetEvent(HANDLE hEvent);
VLX_WIN32_API BOOL WINAPI ResetEvent(HANDLE hEvent);
// Events only.
VLX_WIN32_API DWORD WINAPI WaitForSingleObject(HANDLE hHandle, DWORD dwMilliseconds);
}
