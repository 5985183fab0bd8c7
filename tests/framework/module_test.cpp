// Tests of the module state: the pre-entry handover, extension modules and their chain.
#include <velmora/afx.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <new>
#include <vector>

namespace {

HMODULE fakeModule(uintptr_t n) { return reinterpret_cast<HMODULE>(n * 0x1000); }

CRuntimeClass makeRecord(LPCSTR name) {
  return CRuntimeClass{name, 0, 0xFFFF, nullptr, nullptr, nullptr, nullptr};
}

std::vector<CDynLinkLibrary *> chain() {
  std::vector<CDynLinkLibrary *> out;
  for (CDynLinkLibrary *p = AfxGetModuleState()->m_libraryList; p != nullptr; p = p->m_pNextDLL)
    out.push_back(p);
  return out;
}

// Each test starts from empty lists and leaves the module state as it found it.
class ModuleStateTest : public ::testing::Test {
protected:
  void SetUp() override {
    saved_ = *AfxGetModuleState();
    AFX_MODULE_STATE *state = AfxGetModuleState();
    state->m_classList.RemoveAll();
    state->m_factoryList.RemoveAll();
    state->m_libraryList.RemoveAll();
    state->m_pClassInit = nullptr;
    state->m_pFactoryInit = nullptr;
  }
  void TearDown() override {
    AFX_EXTENSION_MODULE any = {TRUE, nullptr, nullptr, nullptr, nullptr};
    AfxTermExtensionModule(any, TRUE);
    *AfxGetModuleState() = saved_;
  }
  AFX_MODULE_STATE saved_;
};

TEST_F(ModuleStateTest, PreEntryHandsTheListsToTheModule) {
  AFX_MODULE_STATE *state = AfxGetModuleState();
  CRuntimeClass hostClass = makeRecord("CHostClass");
  CRuntimeClass extClass1 = makeRecord("CExtOne");
  CRuntimeClass extClass2 = makeRecord("CExtTwo");
  auto *hostFactory = reinterpret_cast<COleObjectFactory *>(uintptr_t{0x40});
  auto *extFactory = reinterpret_cast<COleObjectFactory *>(uintptr_t{0x80});

  AfxClassInit(&hostClass);
  state->m_factoryList.m_pHead = hostFactory;

  // Reasons other than process attach leave everything alone.
  for (DWORD reason : {DLL_PROCESS_DETACH, DLL_THREAD_ATTACH, DLL_THREAD_DETACH}) {
    SCOPED_TRACE(reason);
    EXPECT_TRUE(vlx::afxExtensionPreEntry(fakeModule(1), reason));
    EXPECT_EQ(state->m_classList.GetHead(), &hostClass);
    EXPECT_EQ(state->m_pClassInit, nullptr);
  }

  EXPECT_TRUE(vlx::afxExtensionPreEntry(fakeModule(1), DLL_PROCESS_ATTACH));
  EXPECT_EQ(state->m_pClassInit, &hostClass);
  EXPECT_EQ(state->m_pFactoryInit, hostFactory);
  EXPECT_TRUE(state->m_classList.IsEmpty());
  EXPECT_TRUE(state->m_factoryList.IsEmpty());

  // The extension's static constructors register its classes and factories.
  AfxClassInit(&extClass1);
  AfxClassInit(&extClass2);
  state->m_factoryList.m_pHead = extFactory;

  AFX_EXTENSION_MODULE ext = {FALSE, nullptr, nullptr, nullptr, nullptr};
  EXPECT_TRUE(AfxInitExtensionModule(ext, fakeModule(1)));
  EXPECT_TRUE(ext.bInitialized);
  EXPECT_EQ(ext.hModule, fakeModule(1));
  EXPECT_EQ(ext.hResource, fakeModule(1));
  EXPECT_EQ(ext.pFirstSharedClass, &extClass2);
  EXPECT_EQ(extClass2.m_pNextClass, &extClass1);
  EXPECT_EQ(extClass1.m_pNextClass, nullptr); // the host's classes are not in the module's list
  EXPECT_EQ(ext.pFirstSharedFactory, extFactory);
  EXPECT_EQ(state->m_classList.GetHead(), &hostClass);
  EXPECT_EQ(state->m_factoryList.GetHead(), hostFactory);

  // Initialising again changes nothing.
  EXPECT_TRUE(AfxInitExtensionModule(ext, fakeModule(2)));
  EXPECT_EQ(ext.hModule, fakeModule(1));
  EXPECT_EQ(ext.pFirstSharedClass, &extClass2);

  // Once in the chain, the module's classes can be found by name.
  CDynLinkLibrary *dll = new CDynLinkLibrary(ext);
  EXPECT_EQ(dll->m_classList.GetHead(), &extClass2);
  EXPECT_EQ(CRuntimeClass::FromName("CExtOne"), &extClass1);
  EXPECT_EQ(CRuntimeClass::FromName("CHostClass"), &hostClass);
  EXPECT_EQ(CRuntimeClass::FromName("CNobody"), nullptr);
}

TEST_F(ModuleStateTest, LibrariesChainMostRecentFirst) {
  AFX_EXTENSION_MODULE one = {FALSE, nullptr, nullptr, nullptr, nullptr};
  AFX_EXTENSION_MODULE two = one;
  AfxInitExtensionModule(one, fakeModule(1));
  AfxInitExtensionModule(two, fakeModule(2));
  two.hResource = fakeModule(9);

  auto *first = new CDynLinkLibrary(one);
  auto *second = new CDynLinkLibrary(two, TRUE);
  auto *third = new CDynLinkLibrary(one);
  EXPECT_EQ(chain(), (std::vector<CDynLinkLibrary *>{third, second, first}));
  EXPECT_EQ(second->m_hModule, fakeModule(2));
  EXPECT_EQ(second->m_hResource, fakeModule(9));
  EXPECT_TRUE(second->m_bSystem);
  EXPECT_FALSE(first->m_bSystem);
  EXPECT_TRUE(second->IsKindOf(RUNTIME_CLASS(CDynLinkLibrary)));

  delete second; // unlinks itself from the middle
  EXPECT_EQ(chain(), (std::vector<CDynLinkLibrary *>{third, first}));

  auto *other = new CDynLinkLibrary(two);
  AfxTermExtensionModule(one); // only the libraries of that module
  EXPECT_EQ(chain(), (std::vector<CDynLinkLibrary *>{other}));

  AFX_EXTENSION_MODULE never = {FALSE, nullptr, nullptr, nullptr, nullptr};
  AfxTermExtensionModule(never, TRUE); // not initialised: nothing happens
  EXPECT_EQ(chain().size(), 1u);
}

BOOL refuseObjects(size_t, BOOL bObject, LONG) { return bObject ? FALSE : TRUE; }

TEST_F(ModuleStateTest, RefusedAllocationLeavesTheChainAlone) {
  AFX_EXTENSION_MODULE ext = {FALSE, nullptr, nullptr, nullptr, nullptr};
  AfxInitExtensionModule(ext, fakeModule(3));
  AFX_ALLOC_HOOK previous = AfxSetAllocHook(refuseObjects);
  CDynLinkLibrary *dll = new (std::nothrow) CDynLinkLibrary(ext);
  bool threw = false;
  try {
    new CDynLinkLibrary(ext);
  } catch (CMemoryException *e) {
    threw = true;
    e->Delete();
  }
  AfxSetAllocHook(previous);
  EXPECT_EQ(dll, nullptr);
  EXPECT_TRUE(threw);
  EXPECT_TRUE(chain().empty());
}

TEST_F(ModuleStateTest, ResourceHandle) {
  HINSTANCE saved = AfxGetResourceHandle();
  AfxSetResourceHandle(fakeModule(5));
  EXPECT_EQ(AfxGetResourceHandle(), fakeModule(5));
  EXPECT_EQ(AfxGetModuleState()->m_hCurrentResourceHandle, fakeModule(5));
  AfxSetResourceHandle(saved);
}

} // namespace
