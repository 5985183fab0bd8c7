// CObject and CRuntimeClass (the base chain and dynamic creation), the module state (the
// pre-entry handover, extension modules and their chain) and AfxGetClassIDFromString.
#include "support/temp_env.h"

#include <velmora/afx.h>

#include <gtest/gtest.h>

#include <cstdint>

class CAnimal : public CObject {
  DECLARE_DYNAMIC(CAnimal)
};
IMPLEMENT_DYNAMIC(CAnimal, CObject)

class CDog : public CAnimal {
  DECLARE_DYNCREATE(CDog)
public:
  int m_nBarks = 3;
};
IMPLEMENT_DYNCREATE(CDog, CAnimal)

namespace {

TEST(CObjectTest, IsKindOfFollowsTheBaseChainUpOnly) {
  CDog dog;
  EXPECT_TRUE(dog.IsKindOf(RUNTIME_CLASS(CObject)));
  CAnimal animal;
  EXPECT_FALSE(animal.IsKindOf(RUNTIME_CLASS(CDog))); // never down the chain
  EXPECT_FALSE(animal.IsKindOf(RUNTIME_CLASS(CException)));
}

TEST(CObjectTest, CreateObject) {
  CObject *made = RUNTIME_CLASS(CDog)->CreateObject();
  ASSERT_NE(made, nullptr);
  EXPECT_EQ(made->GetRuntimeClass(), RUNTIME_CLASS(CDog));
  EXPECT_EQ(static_cast<CDog *>(made)->m_nBarks, 3);
  delete made;
  EXPECT_EQ(RUNTIME_CLASS(CAnimal)->CreateObject(), nullptr); // dynamic only, not creatable

  // A refused allocation is absorbed.
  AFX_ALLOC_HOOK previous = AfxSetAllocHook([](size_t, BOOL, LONG) -> BOOL { return FALSE; });
  CObject *refused = RUNTIME_CLASS(CDog)->CreateObject();
  AfxSetAllocHook(previous);
  EXPECT_EQ(refused, nullptr);
}

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

class ClassIdFromString : public vlx::test::TempEnvTest {};

TEST_F(ClassIdFromString, BraceChoosesTheBracedFormElseTheProgId) {
  // The same name with a brace registered as a ProgID too: a brace never falls back to it.
  for (const char *progId : {"Vlx.Sample", "{Vlx.Sample"}) {
    CString key = CString("Software\\Classes\\") + progId + "\\CLSID";
    ASSERT_EQ(
        RegSetValueA(HKEY_CURRENT_USER, key, REG_SZ, "{0123ABCD-4567-89EF-0123-456789ABCDEF}", 0),
        ERROR_SUCCESS);
  }
  const std::pair<const char *, HRESULT> cases[] = {
      {"{0123abcd-4567-89ef-0123-456789abcdef}", S_OK},
      {"Vlx.Sample", S_OK},
      {"Vlx.Missing", CO_E_CLASSSTRING},
      {"{Vlx.Sample", CO_E_CLASSSTRING},
      {"\xC3(", CO_E_CLASSSTRING},
  };
  for (const auto &[text, result] : cases) {
    SCOPED_TRACE(text);
    if (!vlx::test::kProgIdsFollowHives && std::string(text) == "Vlx.Sample")
      continue;
    GUID g{};
    EXPECT_EQ(AfxGetClassIDFromString(text, &g), result);
    EXPECT_EQ(g.Data1 == 0x0123ABCD, result == S_OK);
  }
}

} // namespace
