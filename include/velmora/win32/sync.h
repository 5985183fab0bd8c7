// Win32 events and waiting on them: CreateEventA, SetEvent, ResetEvent, WaitForSingleObject,
// WaitForMultipleObjects.
#pragma once

#include <velmora/win32/base.h>

#define INFINITE 0xFFFFFFFF
#define WAIT_OBJECT_0 0x00000000L
#define WAIT_TIMEOUT 258L
#define WAIT_FAILED (static_cast<DWORD>(0xFFFFFFFF))
#define MAXIMUM_WAIT_OBJECTS 64

// Events live in this process only: a name (shared events) is refused with ERROR_NOT_SUPPORTED.
// CloseHandle closes them as it closes files.
extern "C" {
VLX_WIN32_API HANDLE WINAPI CreateEventA(LPSECURITY_ATTRIBUTES lpEventAttributes, BOOL bManualReset,
                                         BOOL bInitialState, LPCSTR lpName);
VLX_WIN32_API BOOL WINAPI SetEvent(HANDLE hEvent);
VLX_WIN32_API BOOL WINAPI ResetEvent(HANDLE hEvent);
// Events only.
VLX_WIN32_API DWORD WINAPI WaitForSingleObject(HANDLE hHandle, DWORD dwMilliseconds);
// Events only, and the first signalled of them (bWaitAll is refused: ERROR_NOT_SUPPORTED).
VLX_WIN32_API DWORD WINAPI WaitForMultipleObjects(DWORD nCount, const HANDLE *lpHandles,
                                                  BOOL bWaitAll, DWORD dwMilliseconds);
}
