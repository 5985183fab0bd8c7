// Finding a server the Windows way: a library registered under InprocServer32, created by ProgID,
// called through a wrapper, released and unloaded; and the class objects a host registers.
#include "support/expect_text.h"
#include "support/recording_dispatch.h"
#include "support/temp_env.h"

#include <velmora/automation.h>

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#ifndef _WIN32
#include <dlfcn.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <filesystem>
#include <functional>
#endif

using namespace vlx::test;

namespace {

const char kClsidText[] = "{5EC7A11D-0001-4000-8000-000000000001}";
const CLSID kSheetClsid = {0x5EC7A11D, 0x0001, 0x4000, {0x80, 0, 0, 0, 0, 0, 0, 0x01}};
const std::string kClassKeys[] = {"Test.Sheet", "Excel.Application",
                                  std::string("CLSID\\") + kClsidText};

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

#ifndef _WIN32
// A library that another user could change is never loaded, and the refusal says why; a library
// that is no server is refused from its symbol table, before its constructors run.
TEST_F(ServerTest, LibrariesOthersCouldChangeAreRefusedWithTheReason) {
  const std::string lib = dir_.file("lib");
  ASSERT_EQ(mkdir(lib.c_str(), 0755), 0);
  const std::string server = lib + "/server.so";
  std::filesystem::copy_file(VLX_TEST_SERVER, server);
  const std::string text = lib + "/text.so";
  std::ofstream(text) << "not a library\n";
  const std::string mark = dir_.file("constructor-ran");
  ScopedEnv markEnv("VLX_TEST_MARK", mark.c_str());

  struct Case {
    const char *name;
    std::function<void()> arrange;
    std::string registered;
    HRESULT expect;
    std::string why; // a part of takeServerLoadError()
  };
  auto mode = [](const std::string &path, mode_t m) {
    return [path, m] { ASSERT_EQ(chmod(path.c_str(), m), 0); };
  };
  const Case cases[] = {
      {"file writable by all", mode(server, 0666), server, E_ACCESSDENIED,
       "server library " + server + " not loaded: " + server + " is writable by group and others"},
      {"directory writable by all", mode(lib, 0777), server, E_ACCESSDENIED,
       "directory " + lib + " is writable by group and others"},
      {"relative to the current directory", [] {}, "lib/server.so", E_ACCESSDENIED,
       "lib/server.so is not an absolute path"},
      {"bare name beside the current directory", [] {}, "server.so", CO_E_DLLNOTFOUND,
       "server.so not loaded: not found in the system's library directories"},
      {"bare name of a system library that is no server", [] {}, "libm.so.6", CO_E_ERRORINDLL,
       "it does not export DllGetClassObject"},
      {"no server, with a constructor", [] {}, VLX_TEST_NO_ENTRY, CO_E_ERRORINDLL,
       "it does not export DllGetClassObject"},
      {"not a library", [] {}, text, CO_E_DLLNOTFOUND, "it is not an ELF file"},
  };
  ASSERT_EQ(CoInitialize(nullptr), S_OK);
  char oldDir[PATH_MAX];
  ASSERT_NE(getcwd(oldDir, sizeof oldDir), nullptr);
  ASSERT_EQ(chdir(lib.c_str()), 0) << "where a look-up from the current directory would find it";
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    registerServer(c.registered);
    c.arrange();
    IUnknown *object = nullptr;
    EXPECT_EQ(CoCreateInstance(kSheetClsid, nullptr, CLSCTX_ALL, IID_IUnknown,
                               reinterpret_cast<void **>(&object)),
              c.expect);
    EXPECT_EQ(object, nullptr);
    const std::string why = vlx::takeServerLoadError();
    EXPECT_HAS(why, c.why);
    EXPECT_EQ(vlx::takeServerLoadError(), "") << "taken once";
    EXPECT_FALSE(std::filesystem::exists(mark)) << "the library's code ran";
    // Put right again, the same file loads.
    chmod(server.c_str(), 0644);
    chmod(lib.c_str(), 0755);
  }
  ASSERT_EQ(chdir(oldDir), 0);
  registerServer(server);
  {
    Range sheet;
    EXPECT_TRUE(sheet.CreateDispatch("Test.Sheet")) << vlx::takeServerLoadError();
  }
  EXPECT_EQ(vlx::takeServerLoadError(), "");
  CoUninitialize();
}

TEST_F(ServerTest, LibraryOfAnotherUserIsRefused) {
  if (geteuid() != 0)
    GTEST_SKIP() << "giving a file to another user needs root";
  const std::string server = dir_.file("server.so");
  std::filesystem::copy_file(VLX_TEST_SERVER, server);
  ASSERT_EQ(chown(server.c_str(), 65534, 65534), 0);
  registerServer(server);
  ASSERT_EQ(CoInitialize(nullptr), S_OK);
  EXPECT_EQ(createFails("Test.Sheet"), E_ACCESSDENIED);
  const std::string why = vlx::takeServerLoadError();
  EXPECT_HAS(why, server + " belongs to user 65534");
  CoUninitialize();
}
#endif

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

std::string contents(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// The README's host program, run as a host runs, against this server registered as the
// spreadsheet: a workbook of its own text format, two cells and a block read and written.
TEST_F(ServerTest, FirstWorkbookProgramRunsAgainstARegisteredServer) {
  registerServer(VLX_TEST_SERVER);
  setDefault("Excel.Application\\CLSID", kClsidText);
  std::string program = VLX_FIRST_WORKBOOK;
#ifdef _WIN32
  char self[MAX_PATH];
  std::string here(self, GetModuleFileNameA(nullptr, self, sizeof self));
  program = here.substr(0, here.find_last_of('\\') + 1) + program; // beside this test
#endif
  const std::string book = dir_.file("book.txt"), copy = dir_.file("copy.txt");
  std::ofstream(book) << "R1C1 41\nR2C1 1\nR2C2 2\nR3C1 3\nR3C2 4\nR4C1 45351\n";
  RunResult run = runCommand({program, book, copy});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.output, "A1 held 41\nA4 holds 2024-02-29\n"
                        "Open failed: 'no-such-book.xlsx' could not be found\n");
  const char saved[] = "R1C1 42\nR2C1 1\nR2C2 2\nR2C3 2\nR2C4 4\nR3C1 3\nR3C2 4\nR3C3 6\nR3C4 8\n"
                       "R4C1 45351\nR5C1 45352\n";
  EXPECT_EQ(contents(book), saved);
  EXPECT_EQ(contents(copy), saved);
}

#ifndef _WIN32
// The README shows the program's whole text: the two never drift apart.
TEST(FirstWorkbookProgram, IsTheReadmesHostExample) {
  std::string readme = contents(VLX_SOURCE_DIR "/README.md");
  std::string program = contents(VLX_SOURCE_DIR "/examples/first_workbook.cpp");
  ASSERT_FALSE(program.empty());
  size_t start = readme.find("```cpp\n" + program.substr(0, program.find('\n')));
  ASSERT_NE(start, std::string::npos) << "no cpp block opens with the program's first line";
  start += 7;
  EXPECT_EQ(readme.substr(start, readme.find("```", start) - start), program);
}
#endif

} // namespace
