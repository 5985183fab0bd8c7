// Finding a server the Windows way: a library registered under InprocServer32, created by ProgID,
// called through a wrapper, released and unloaded; and the class objects a host registers.
#include "support/recording_dispatch.h"
#include "support/temp_env.h"

#include <velmora/automation.h>

#include <gtest/gtest.h>

#ifndef _WIN32
#include <dlfcn.h>
#endif

using namespace vlx::test;

namespace {

const char kClsidText[] = "{5EC7A11D-0001-4000-8000-000000000001}";
const CLSID kSheetClsid = {0x5EC7A11D, 0x0001, 0x4000, {0x80, 0, 0, 0, 0, 0, 0, 0x01}};
const std::string kClassKeys[] = {"Test.Sheet", std::string("CLSID\\") + kClsidText};

// The classes COM reads: the user's, which are the test's own hives on POSIX. Windows' COM
// ignores the roots TempEnvTest redirects, so there the test writes the system's classes and
// removes its keys again: only under Wine, whose prefix the run makes and throws away, never on
// a real machine. Wine's COM reads the machine's classes only.
HKEY classesRoot() { return underWine() ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER; }

void setDefault(const std::string &path, const std::string &value) {
  HKEY key;
  ASSERT_EQ(RegCreateKeyExA(classesRoot(), ("Software\\Classes\\" + path).c_str(), 0, nullptr, 0,
                            KEY_ALL_ACCESS, nullptr, &key, nullptr),
            ERROR_SUCCESS);
  EXPECT_EQ(RegSetValueExA(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE *>(value.c_str()),
                           DWORD(value.size() + 1)),
            ERROR_SUCCESS);
  RegCloseKey(key);
}

bool serverLoaded() {
#ifdef _WIN32
  return GetModuleHandleA(VLX_TEST_SERVER) != nullptr;
#else
  void *handle = dlopen(VLX_TEST_SERVER, RTLD_NOW | RTLD_NOLOAD);
  if (handle != nullptr)
    dlclose(handle);
  return handle != nullptr;
#endif
}

class ServerTest : public ::testing::Test {
protected:
  void SetUp() override {
#ifdef _WIN32
    if (!underWine())
      GTEST_SKIP() << "registers a class: only in Wine's throw-away prefix";
#endif
  }
  void TearDown() override {
    if (IsSkipped())
      return;
    for (const std::string &key : kClassKeys)
      RegDeleteTreeA(classesRoot(), ("Software\\Classes\\" + key).c_str());
  }
  void registerServer(const std::string &library) {
    setDefault("Test.Sheet\\CLSID", kClsidText);
    setDefault(std::string("CLSID\\") + kClsidText + "\\InprocServer32", library);
  }
  SCODE createFails(const char *progId) {
    COleException error;
    Range sheet;
    EXPECT_FALSE(sheet.CreateDispatch(progId, &error));
    EXPECT_EQ(sheet.m_lpDispatch, nullptr);
    return error.m_sc;
  }
  TempDir dir_;
#ifndef _WIN32
  ScopedHives registry_{dir_.path()};
#endif
};

TEST_F(ServerTest, RegisteredLibraryIsLoadedCalledAndUnloaded) {
  registerServer(VLX_TEST_SERVER);
  ASSERT_EQ(CoInitialize(nullptr), S_OK);
  EXPECT_EQ(CoInitialize(nullptr), S_FALSE) << "counted per thread";
  CoUninitialize();
  {
    Range sheet;
    ASSERT_TRUE(sheet.CreateDispatch("Test.Sheet"));
    Range cell(sheet.Offset(1, 2));
    VARIANT value = cell.GetValue();
    EXPECT_EQ(renderVariant(value), "\"R1C2\"");
    VariantClear(&value);
    CoFreeUnusedLibraries();
    EXPECT_TRUE(serverLoaded()) << "objects are alive: the library stays";
  }
  CoUninitialize();
  EXPECT_FALSE(serverLoaded()) << "the last uninitialise unloads the idle server";
}

TEST_F(ServerTest, LookUpFailsAsOnWindows) {
  ASSERT_EQ(CoInitialize(nullptr), S_OK);
  EXPECT_EQ(createFails("No.Such.Class"), CO_E_CLASSSTRING);
  setDefault("Test.Sheet\\CLSID", kClsidText);
  EXPECT_EQ(createFails("Test.Sheet"), REGDB_E_CLASSNOTREG) << "no CLSID key";
  registerServer(dir_.file("missing_server"));
  SCODE missing = createFails("Test.Sheet");
  if (!underWine()) { // Wine answers REGDB_E_CLASSNOTREG; Windows documents this code
    EXPECT_EQ(missing, CO_E_DLLNOTFOUND);
  }
  CoUninitialize();

  IUnknown *object = nullptr;
  EXPECT_EQ(CoCreateInstance(kSheetClsid, nullptr, CLSCTX_ALL, IID_IUnknown,
                             reinterpret_cast<void **>(&object)),
            CO_E_NOTINITIALIZED);
  EXPECT_EQ(object, nullptr);
}

// A host's own class object answers before the registry is asked.
class RecordingFactory final : public IClassFactory {
public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void **out) override {
    *out = IsEqualIID(riid, IID_IClassFactory) || IsEqualIID(riid, IID_IUnknown) ? this : nullptr;
    if (*out == nullptr)
      return E_NOINTERFACE;
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ULONG(++refs); }
  ULONG STDMETHODCALLTYPE Release() override { return ULONG(--refs); }
  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown *, REFIID riid, void **out) override {
    return product.QueryInterface(riid, out);
  }
  HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }
  long refs = 1;
  RecordingDispatch product;
};

TEST_F(ServerTest, HostClassObjectsAnswerUntilRevoked) {
  RecordingFactory factory;
  ASSERT_EQ(CoInitialize(nullptr), S_OK);
  DWORD cookie = 0;
  ASSERT_EQ(CoRegisterClassObject(kSheetClsid, &factory, CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE,
                                  &cookie),
            S_OK);
  EXPECT_EQ(factory.refs, 2);
  {
    Application app;
    ASSERT_TRUE(app.CreateDispatch(kSheetClsid));
    EXPECT_EQ(app.m_lpDispatch, &factory.product);
    app.SetVisible(1);
    EXPECT_EQ(factory.product.calls.size(), 1u);
  }
  EXPECT_EQ(factory.product.refs, 1);
  EXPECT_EQ(CoRevokeClassObject(cookie), S_OK);
  EXPECT_EQ(CoRevokeClassObject(cookie), E_INVALIDARG);
  EXPECT_EQ(factory.refs, 1);
  Application app;
  COleException error;
  EXPECT_FALSE(app.CreateDispatch(kSheetClsid, &error));
  EXPECT_EQ(error.m_sc, REGDB_E_CLASSNOTREG);
  CoUninitialize();
}

} // namespace
