// Tests of the module state: the pre-entry handover, extension modules and their chain.
#include <velmora/afx.h>

#include <gtest/gtest.h>

#include <cstdint>

namespace {

HMODULE fakeModule(uintptr_t n) { return reinterpret_cast<HMODULE>(n * 0x1000); }

// Each test starts from empty lists and leaves the module state as it found it.
class ModuleStateTest : public ::testing::Test {
protected:
  void SetUp() override { *AfxGetModuleState() = AFX_MODULE_STATE{}; }
  void TearDown() override {
    AFX_EXTENSION_MODULE any = {TRUE, nullptr, nullptr, nullptr, nullptr};
    AfxTermExtensionModule(any, TRUE);
    *AfxGetModuleState() = saved_;
  }
  const AFX_MODULE_STATE saved_ = *AfxGetModuleState();
};

TEST_F(ModuleStateTest, FromPreEntryToTheChain) {
  AFX_MODULE_STATE *state = AfxGetModuleState();
  CRuntimeClass hostClass = {"CHostClass", 0, 0xFFFF, nullptr, nullptr, nullptr, nullptr};
  CRuntimeClass extClass1 = {"CExtOne", 0, 0xFFFF, nullptr, nullptr, nullptr, nullptr};
  CRuntimeClass extClass2 = {"CExtTwo", 0, 0xFFFF, nullptr, nullptr, nullptr, nullptr};
  AfxClassInit(&hostClass);

  for (DWORD reason : {DLL_PROCESS_DETACH, DLL_THREAD_ATTACH, DLL_THREAD_DETACH}) {
    SCOPED_TRACE(reason); // only a process attach hands the lists over
    EXPECT_TRUE(vlx::afxExtensionPreEntry(fakeModule(1), reason));
    EXPECT_EQ(state->m_pClassInit, nullptr);
  }
  EXPECT_TRUE(vlx::afxExtensionPreEntry(fakeModule(1), DLL_PROCESS_ATTACH));
  EXPECT_EQ(state->m_pClassInit, &hostClass);
  EXPECT_TRUE(state->m_classList.IsEmpty());

  // The extension's static constructors register its classes.
  AfxClassInit(&extClass1);
  AfxClassInit(&extClass2);

  AFX_EXTENSION_MODULE ext = {FALSE, nullptr, nullptr, nullptr, nullptr};
  EXPECT_TRUE(AfxInitExtensionModule(ext, fakeModule(1)));
  EXPECT_EQ(ext.hModule, fakeModule(1));
  EXPECT_EQ(ext.hResource, fakeModule(1));
  EXPECT_EQ(ext.pFirstSharedClass, &extClass2);
  EXPECT_EQ(extClass2.m_pNextClass, &extClass1);
  EXPECT_EQ(extClass1.m_pNextClass, nullptr); // the host's classes are not in the module's list
  EXPECT_EQ(state->m_classList.GetHead(), &hostClass);

  // Once in the chain, the module's classes can be found by name.
  new CDynLinkLibrary(ext);
  EXPECT_EQ(CRuntimeClass::FromName("CExtOne"), &extClass1);
  EXPECT_EQ(CRuntimeClass::FromName("CHostClass"), &hostClass);
}

} // namespace
