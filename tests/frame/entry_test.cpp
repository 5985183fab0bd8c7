// The library entry joins the framework's module chain at load, and a failed allocation does not
// stop the load.
#include "frame/entry.h"

#include <velmora/afx.h>

#include <gtest/gtest.h>

#ifdef _WIN32
extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved);
#endif

namespace {

int chainLength() {
  int count = 0;
  for (CDynLinkLibrary *dll = AfxGetModuleState()->m_libraryList; dll; dll = dll->m_pNextDLL)
    ++count;
  return count;
}

TEST(LibraryEntry, LoadJoinedTheChainAndAFailedAllocationIsIgnored) {
  HMODULE self = nullptr;
  GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, reinterpret_cast<LPCSTR>(&chainLength),
                     &self);
#ifdef _WIN32
  // Linked into an executable, the entry is not called by the loader: call it as it calls a DLL's.
  DllMain(self, DLL_PROCESS_ATTACH, nullptr);
#endif
  CDynLinkLibrary *head = AfxGetModuleState()->m_libraryList;
  ASSERT_NE(head, nullptr);
  EXPECT_EQ(head->m_hModule, self);
  EXPECT_FALSE(head->m_bSystem);

  const int before = chainLength();
  for (DWORD reason : {DLL_THREAD_ATTACH, DLL_THREAD_DETACH, DLL_PROCESS_DETACH})
    EXPECT_TRUE(vlx::libraryEntry(self, reason, nullptr));
  EXPECT_EQ(chainLength(), before);
  AFX_ALLOC_HOOK old = AfxSetAllocHook([](size_t, BOOL, LONG) -> BOOL { return FALSE; });
  EXPECT_TRUE(vlx::libraryEntry(self, DLL_PROCESS_ATTACH, nullptr));
  AfxSetAllocHook(old);
  EXPECT_EQ(chainLength(), before);
}

} // namespace
