// The server library's entry points: the class object of "Excel.Application", and its
// registration under HKEY_CLASSES_ROOT in the machine hive.
#include "dispatch.h"

#include <velmora/win32.h>

#include <dlfcn.h>
#include <string>

namespace {

using vlx::calc::Kind;

// The spreadsheet application's own class identifier, so that hosts that name it find this.
const CLSID kApplicationClsid = {0x00024500, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
const char kClsidText[] = "{00024500-0000-0000-C000-000000000046}";
const char kProgId[] = "Excel.Application";

class ApplicationFactory final : public IClassFactory {
public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void **out) override {
    if (!out)
      return E_POINTER;
    if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, IID_IClassFactory)) {
      *out = nullptr;
      return E_NOINTERFACE;
    }
    *out = static_cast<IClassFactory *>(this);
    return S_OK;
  }
  // One static object for the library's lifetime.
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown *outer, REFIID riid, void **out) override {
    if (!out)
      return E_POINTER;
    *out = nullptr;
    if (outer)
      return CLASS_E_NOAGGREGATION;
    IDispatch *application = vlx::calc::newDispatch({Kind::Application, nullptr, nullptr});
    HRESULT hr = application->QueryInterface(riid, out);
    application->Release();
    return hr;
  }
  HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }
};

ApplicationFactory factory;

LSTATUS setDefault(const std::string &path, const std::string &value) {
  HKEY key;
  LSTATUS status = RegCreateKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                                   nullptr, &key, nullptr);
  if (status != ERROR_SUCCESS)
    return status;
  status = RegSetValueExA(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE *>(value.c_str()),
                          static_cast<DWORD>(value.size() + 1));
  RegCloseKey(key);
  return status;
}

} // namespace

extern "C" {

__attribute__((visibility("default"))) HRESULT WINAPI DllGetClassObject(REFCLSID rclsid,
                                                                        REFIID riid, LPVOID *ppv) {
  if (!ppv)
    return E_POINTER;
  *ppv = nullptr;
  if (!IsEqualCLSID(rclsid, kApplicationClsid))
    return CLASS_E_CLASSNOTAVAILABLE;
  return factory.QueryInterface(riid, ppv);
}

// The UNO run-time and the office connection cannot be unloaded safely.
__attribute__((visibility("default"))) HRESULT WINAPI DllCanUnloadNow(void) { return S_FALSE; }

// As regsvr32 would: the class and its ProgID, for all users (the machine hive).
__attribute__((visibility("default"))) HRESULT WINAPI DllRegisterServer(void) {
  Dl_info self;
  if (!dladdr(reinterpret_cast<void *>(&DllGetClassObject), &self) || !self.dli_fname)
    return E_UNEXPECTED;
  std::string classKey = std::string("Software\\Classes\\CLSID\\") + kClsidText;
  const std::pair<std::string, std::string> entries[] = {
      {classKey, "LibreOffice Calc through its Excel-compatible object model"},
      {classKey + "\\InprocServer32", self.dli_fname},
      {classKey + "\\ProgID", kProgId},
      {std::string("Software\\Classes\\") + kProgId + "\\CLSID", kClsidText},
  };
  for (const auto &[path, value] : entries)
    if (LSTATUS status = setDefault(path, value); status != ERROR_SUCCESS)
      return HRESULT_FROM_WIN32(status);
  return S_OK;
}

__attribute__((visibility("default"))) HRESULT WINAPI DllUnregisterServer(void) {
  std::string classKey = std::string("Software\\Classes\\CLSID\\") + kClsidText;
  const std::string keys[] = {classKey + "\\InprocServer32", classKey + "\\ProgID", classKey,
                              std::string("Software\\Classes\\") + kProgId + "\\CLSID",
                              std::string("Software\\Classes\\") + kProgId};
  for (const auto &path : keys) {
    LSTATUS status = RegDeleteKeyA(HKEY_LOCAL_MACHINE, path.c_str());
    if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND)
      return HRESULT_FROM_WIN32(status);
  }
  return S_OK;
}
}
