// GetLastError/SetLastError: the calling thread's last Win32 error code.
#include <velmora/win32.h>

namespace {
thread_local DWORD lastError = ERROR_SUCCESS;
} // namespace

extern "C" {

VLX_WIN32_API DWORD WINAPI GetLastError(void) { return lastError; }

VLX_WIN32_API void WINAPI SetLastError(DWORD dwErrCode) { lastError = dwErrCode; }
}
