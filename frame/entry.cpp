// Library entry: joins the framework's module chain at load; nothing of its own at unload.
#include "frame/entry.h"

#include <velmora/afx.h>

#include <new>

namespace {
AFX_EXTENSION_MODULE extensionModule = {};
}

BOOL vlx::libraryEntry(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) {
    AfxInitExtensionModule(extensionModule, instance);
    // Once built the object links itself into the framework's list, which owns it. A failed
    // allocation is not a reason to refuse the load.
    new (std::nothrow) CDynLinkLibrary(extensionModule, FALSE);
  }
  return TRUE;
}

// Load order everywhere: the hook, the static constructors, then the entry.
#if defined(_MSC_VER)
// The run-time library calls this before the static constructors, and DllMain after them.
extern "C" BOOL WINAPI rawEntry(HANDLE, DWORD reason, LPVOID) {
  return vlx::afxExtensionPreEntry(nullptr, reason);
}
extern "C" BOOL(WINAPI *const _pRawDllMain)(HANDLE, DWORD, LPVOID) = &rawEntry;
#else
// Other run-time libraries (MinGW's among them) never call _pRawDllMain: a first-priority
// constructor runs the hook before the static constructors instead.
namespace {
// The library's own module: the one holding this file's data.
HINSTANCE thisModule() {
  HMODULE module = nullptr;
  GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                         GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                     reinterpret_cast<LPCSTR>(&extensionModule), &module);
  return module;
}

__attribute__((constructor(101))) void preEntryAtLoad() {
  vlx::afxExtensionPreEntry(thisModule(), DLL_PROCESS_ATTACH);
}
} // namespace
#endif

#if defined(_WIN32)
extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
  return vlx::libraryEntry(instance, reason, reserved);
}
#else
namespace {
__attribute__((constructor(2000))) void entryAtLoad() {
  vlx::libraryEntry(thisModule(), DLL_PROCESS_ATTACH, nullptr);
}
__attribute__((destructor(2000))) void entryAtUnload() {
  vlx::libraryEntry(thisModule(), DLL_PROCESS_DETACH, nullptr);
}
} // namespace
#endif
