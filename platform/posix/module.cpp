// Module handles on POSIX: a module is named by its load address, as on Windows.
#include <velmora/win32.h>

#include <cstring>
#include <dlfcn.h>
#include <string>
#include <unistd.h>

namespace {

// The file of the module loaded at `base`; the executable for a null handle.
bool modulePath(HMODULE module, std::string &path) {
  if (!module) {
    char buffer[4096];
    ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer);
    if (n <= 0 || static_cast<size_t>(n) >= sizeof buffer)
      return false;
    path.assign(buffer, static_cast<size_t>(n));
    return true;
  }
  Dl_info info;
  if (!dladdr(reinterpret_cast<void *>(module), &info) || !info.dli_fname ||
      info.dli_fbase != reinterpret_cast<void *>(module))
    return false;
  path = info.dli_fname;
  // The main program may be reported by its argv[0]; its link is exact.
  if (path.empty() || path.find('/') == std::string::npos)
    return modulePath(nullptr, path);
  return true;
}

} // namespace

BOOL WINAPI GetModuleHandleExA(DWORD dwFlags, LPCSTR lpModuleName, HMODULE *phModule) {
  if (!phModule) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  *phModule = nullptr;
  Dl_info info;
  if (!(dwFlags & GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS) || !lpModuleName ||
      !dladdr(lpModuleName, &info)) {
    // Look-up by name is not needed here; only addresses name modules.
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  *phModule = static_cast<HMODULE>(info.dli_fbase);
  return TRUE;
}

DWORD WINAPI GetModuleFileNameA(HMODULE hModule, LPSTR lpFilename, DWORD nSize) {
  std::string path;
  if (!modulePath(hModule, path)) {
    SetLastError(ERROR_INVALID_HANDLE);
    return 0;
  }
  if (nSize == 0) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  if (path.size() >= nSize) {
    // Truncated and terminated, as Windows does.
    std::memcpy(lpFilename, path.data(), nSize - 1);
    lpFilename[nSize - 1] = '\0';
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return nSize;
  }
  std::memcpy(lpFilename, path.c_str(), path.size() + 1);
  return static_cast<DWORD>(path.size());
}
