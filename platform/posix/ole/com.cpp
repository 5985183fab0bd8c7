// COM start-up and server look-up: class objects registered by the host, and in-process servers
// named under HKEY_CLASSES_ROOT\CLSID\{...}\InprocServer32 and loaded with dlopen.
#include "platform/posix/files/trusted_path.h"
#include "platform/posix/ole/elf_symbols.h"

#include <velmora/win32.h>

#include <dlfcn.h>
#include <unistd.h>

#include <map>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace {

struct RegisteredClass {
  CLSID clsid;
  IUnknown *object;
  DWORD context;
};

struct LoadedServer {
  std::string path;
  void *handle;
};

struct ComState {
  std::mutex mutex;
  std::map<DWORD, RegisteredClass> classes; // by cookie
  DWORD nextCookie = 1;
  std::vector<LoadedServer> servers;
};

ComState &state() {
  static ComState s;
  return s;
}

// Per thread, as on Windows: how often it was initialised and in which model.
thread_local int initCount = 0;
thread_local DWORD initModel = 0;

// The library named by the class's InprocServer32 key, or the reason there is none.
HRESULT serverPath(REFCLSID rclsid, std::string &path) {
  OLECHAR wide[39];
  if (StringFromGUID2(rclsid, wide, 39) == 0)
    return E_INVALIDARG;
  std::string key = "CLSID\\";
  for (int i = 0; wide[i] != 0; ++i)
    key += char(wide[i]);
  HKEY classKey;
  if (RegOpenKeyExA(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_READ, &classKey) != ERROR_SUCCESS)
    return REGDB_E_CLASSNOTREG;
  HKEY serverKey;
  LSTATUS status = RegOpenKeyExA(classKey, "InprocServer32", 0, KEY_READ, &serverKey);
  RegCloseKey(classKey);
  if (status != ERROR_SUCCESS)
    return REGDB_E_CLASSNOTREG;
  DWORD type = 0, size = 0;
  status = RegQueryValueExA(serverKey, nullptr, nullptr, &type, nullptr, &size);
  if (status == ERROR_SUCCESS && (type == REG_SZ || type == REG_EXPAND_SZ) && size > 1) {
    std::string value(size, '\0');
    status = RegQueryValueExA(serverKey, nullptr, nullptr, &type,
                              reinterpret_cast<LPBYTE>(&value[0]), &size);
    value.resize(status == ERROR_SUCCESS ? std::string(value.c_str()).size() : 0);
    path = value;
  }
  RegCloseKey(serverKey);
  return path.empty() ? REGDB_E_READREGDB : S_OK;
}

// Where a library registered by its bare name is looked for: the system's own directories, never
// the current directory or a path from the environment.
const char *const kSystemLibraryDirectories[] = {
#ifdef VLX_LIBRARY_ARCH
    "/lib/" VLX_LIBRARY_ARCH,
    "/usr/lib/" VLX_LIBRARY_ARCH,
#endif
    "/lib64",
    "/usr/lib64",
    "/lib",
    "/usr/lib"};

// Why the latest server this thread asked for was not loaded.
thread_local std::string loadError;

HRESULT refuse(HRESULT hr, const std::string &library, const std::string &why) {
  loadError = "server library " + library + " not loaded: " + why;
  return hr;
}

// The registered library, opened when neither it nor anything above it can be changed by a user
// other than this one and root: loading it runs its code in this process.
HRESULT openServer(const std::string &registered, vlx::posix::TrustedFile &file) {
  using vlx::posix::Trust;
  const uid_t user = geteuid();
  if (registered.find('/') != std::string::npos) {
    file = vlx::posix::openTrustedFile(registered, user);
  } else {
    for (const char *directory : kSystemLibraryDirectories) {
      file = vlx::posix::openTrustedFile(std::string(directory) + "/" + registered, user);
      if (file.trust != Trust::Missing)
        break;
    }
    if (file.trust == Trust::Missing)
      file.why = "not found in the system's library directories";
  }
  if (file.trust == Trust::Trusted)
    return S_OK;
  return refuse(file.trust == Trust::Refused ? E_ACCESSDENIED : CO_E_DLLNOTFOUND, registered,
                file.why);
}

// Loads the server once and keeps it until CoFreeUnusedLibraries finds it idle. A library that
// is no server is refused from its symbol table, before its constructors could run.
HRESULT serverEntry(const std::string &registered, LPFNGETCLASSOBJECT &entry) {
  vlx::posix::TrustedFile file;
  HRESULT hr = openServer(registered, file);
  if (FAILED(hr))
    return hr;
  const std::string path = file.resolved;
  struct Closer {
    int fd;
    ~Closer() { close(fd); }
  } closer{file.fd};

  ComState &s = state();
  std::lock_guard<std::mutex> lock(s.mutex);
  void *handle = nullptr;
  for (const LoadedServer &server : s.servers)
    if (server.path == path)
      handle = server.handle;
  if (handle == nullptr) {
    std::string why;
    const vlx::posix::ElfExport exported =
        vlx::posix::elfExports(file.fd, "DllGetClassObject", why);
    if (exported == vlx::posix::ElfExport::Unreadable)
      return refuse(CO_E_DLLNOTFOUND, registered, why);
    if (exported == vlx::posix::ElfExport::Absent)
      return refuse(CO_E_ERRORINDLL, registered, "it does not export DllGetClassObject");
    handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
      const char *text = dlerror();
      return refuse(CO_E_DLLNOTFOUND, registered, text ? text : "dlopen failed");
    }
    if (dlsym(handle, "DllGetClassObject") == nullptr) {
      dlclose(handle);
      return refuse(CO_E_ERRORINDLL, registered, "it does not export DllGetClassObject");
    }
    s.servers.push_back({path, handle});
  }
  entry = reinterpret_cast<LPFNGETCLASSOBJECT>(dlsym(handle, "DllGetClassObject"));
  return S_OK;
}

} // namespace

extern "C" {

HRESULT WINAPI CoInitializeEx(LPVOID, DWORD dwCoInit) {
  DWORD model = dwCoInit & COINIT_APARTMENTTHREADED;
  if (initCount > 0 && model != initModel)
    return RPC_E_CHANGED_MODE;
  initModel = model;
  return initCount++ == 0 ? S_OK : S_FALSE;
}

HRESULT WINAPI CoInitialize(LPVOID pvReserved) {
  return CoInitializeEx(pvReserved, COINIT_APARTMENTTHREADED);
}

void WINAPI CoUninitialize(void) {
  if (initCount > 0 && --initCount == 0)
    CoFreeUnusedLibraries();
}

HRESULT WINAPI CoGetClassObject(REFCLSID rclsid, DWORD dwClsContext, LPVOID, REFIID riid,
                                LPVOID *ppv) {
  if (ppv == nullptr)
    return E_INVALIDARG;
  *ppv = nullptr;
  if (initCount == 0)
    return CO_E_NOTINITIALIZED;
  loadError.clear();
  {
    ComState &s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    for (const auto &entry : s.classes)
      if (IsEqualCLSID(entry.second.clsid, rclsid) && (entry.second.context & dwClsContext))
        return entry.second.object->QueryInterface(riid, ppv);
  }
  if (!(dwClsContext & CLSCTX_INPROC_SERVER))
    return REGDB_E_CLASSNOTREG;
  std::string path;
  HRESULT hr = serverPath(rclsid, path);
  if (FAILED(hr))
    return hr;
  LPFNGETCLASSOBJECT entry;
  hr = serverEntry(path, entry);
  if (FAILED(hr))
    return hr;
  return entry(rclsid, riid, ppv);
}

HRESULT WINAPI CoCreateInstance(REFCLSID rclsid, LPUNKNOWN pUnkOuter, DWORD dwClsContext,
                                REFIID riid, LPVOID *ppv) {
  if (ppv == nullptr)
    return E_POINTER;
  *ppv = nullptr;
  IClassFactory *factory = nullptr;
  HRESULT hr = CoGetClassObject(rclsid, dwClsContext, nullptr, IID_IClassFactory,
                                reinterpret_cast<LPVOID *>(&factory));
  if (FAILED(hr))
    return hr;
  hr = factory->CreateInstance(pUnkOuter, riid, ppv);
  factory->Release();
  return hr;
}

HRESULT WINAPI CoRegisterClassObject(REFCLSID rclsid, LPUNKNOWN pUnk, DWORD dwClsContext, DWORD,
                                     LPDWORD lpdwRegister) {
  if (pUnk == nullptr || lpdwRegister == nullptr)
    return E_INVALIDARG;
  *lpdwRegister = 0;
  if (initCount == 0)
    return CO_E_NOTINITIALIZED;
  ComState &s = state();
  std::lock_guard<std::mutex> lock(s.mutex);
  pUnk->AddRef();
  DWORD cookie = s.nextCookie++;
  s.classes[cookie] = {rclsid, pUnk, dwClsContext};
  *lpdwRegister = cookie;
  return S_OK;
}

HRESULT WINAPI CoRevokeClassObject(DWORD dwRegister) {
  IUnknown *object = nullptr;
  {
    ComState &s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    auto found = s.classes.find(dwRegister);
    if (found == s.classes.end())
      return E_INVALIDARG;
    object = found->second.object;
    s.classes.erase(found);
  }
  // Outside the lock: the release may run the object's own clean-up.
  object->Release();
  return S_OK;
}

void WINAPI CoFreeUnusedLibraries(void) {
  ComState &s = state();
  std::lock_guard<std::mutex> lock(s.mutex);
  for (auto server = s.servers.begin(); server != s.servers.end();) {
    auto canUnload = reinterpret_cast<LPFNCANUNLOADNOW>(dlsym(server->handle, "DllCanUnloadNow"));
    if (canUnload != nullptr && canUnload() == S_OK) {
      dlclose(server->handle);
      server = s.servers.erase(server);
    } else {
      ++server;
    }
  }
}

} // extern "C"

namespace vlx {

std::string takeServerLoadError() { return std::exchange(loadError, std::string()); }

} // namespace vlx
