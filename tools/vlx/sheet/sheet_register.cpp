// `vlx sheet register`: the server's registration in the machine hive, made by the library's own
// entry point, and removed by reading the keys alone; and what to do when no office starts.
#include "platform/posix/files/trusted_path.h"
#include "vlx/core/commands.h"
#include "vlx/core/errors.h"
#include "vlx/store/reg_store.h"

#include <dlfcn.h>
#include <strings.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <set>
#include <string>

namespace vlx::cli {
namespace {

const char kProgId[] = "Excel.Application";
const char kClasses[] = "Software\\Classes";

#ifdef VLX_LIBREOFFICE_PROGRAM
const char kOffice[] = VLX_LIBREOFFICE_PROGRAM "/soffice";
#else
const char kOffice[] = "/usr/lib/libreoffice/program/soffice";
#endif

// The default value of `subKey` below `root` as text; "" when there is none.
std::string defaultText(HKEY root, const std::string &subKey) {
  Key key;
  if (openKey(root, subKey, KEY_QUERY_VALUE, key) != ERROR_SUCCESS)
    return "";
  char text[4096];
  DWORD size = sizeof text, type = 0;
  if (RegQueryValueExA(key.get(), nullptr, nullptr, &type, reinterpret_cast<LPBYTE>(text),
                       &size) != ERROR_SUCCESS ||
      (type != REG_SZ && type != REG_EXPAND_SZ))
    return "";
  std::string value(text, size);
  return value.substr(0, value.find('\0'));
}

bool samePath(const std::string &a, const std::string &b) {
  if (a == b)
    return true;
  std::error_code ec;
  const auto left = std::filesystem::weakly_canonical(std::filesystem::absolute(a, ec), ec);
  const auto right = std::filesystem::weakly_canonical(std::filesystem::absolute(b, ec), ec);
  return !ec && left == right;
}

std::string asRoot(const std::string &command) {
  return ::geteuid() == 0 ? command : "sudo " + command;
}

// The keys that register class `clsid` in the machine hive: its CLSID key and the ProgID key
// that names it back.
void classKeys(HKEY machine, const std::string &clsid, std::set<std::string> &keys) {
  const std::string classKey = std::string(kClasses) + "\\CLSID\\" + clsid;
  keys.insert(classKey);
  for (const std::string &progId : {defaultText(machine, classKey + "\\ProgID"),
                                    std::string(kProgId)}) {
    if (progId.empty())
      continue;
    const std::string named = defaultText(machine, std::string(kClasses) + "\\" + progId + "\\CLSID");
    if (!named.empty() && ::strcasecmp(named.c_str(), clsid.c_str()) == 0)
      keys.insert(std::string(kClasses) + "\\" + progId);
  }
}

// Removes, without loading anything, the classes whose InprocServer32 names `server`, or
// without it the class Excel.Application names; all at once or not at all.
void unregisterByKeys(std::ostream &out, const std::optional<std::string> &server) {
  HKEY machine = rootHandle(reg::Root::LocalMachine);
  std::set<std::string> keys;
  std::vector<std::string> classes;
  if (server) {
    Key all;
    std::vector<std::string> ids;
    if (openKey(machine, std::string(kClasses) + "\\CLSID", KEY_READ, all) == ERROR_SUCCESS)
      subKeyNames(all.get(), ids);
    for (const std::string &id : ids) {
      const std::string named =
          defaultText(machine, std::string(kClasses) + "\\CLSID\\" + id + "\\InprocServer32");
      if (!named.empty() && samePath(named, *server))
        classes.push_back(id);
    }
  } else if (std::string id = defaultText(machine, std::string(kClasses) + "\\" + kProgId +
                                                       "\\CLSID");
             !id.empty()) {
    classes.push_back(id);
  }
  for (const std::string &id : classes)
    classKeys(machine, id, keys);
  if (keys.empty()) {
    out << "nothing to unregister: "
        << (server ? "no class names " + printable(*server)
                   : std::string("no class is registered for ") + kProgId)
        << '\n';
    return;
  }
  std::vector<reg::Operation> operations;
  for (const std::string &key : keys) {
    reg::Operation op;
    op.kind = reg::Operation::Kind::DeleteKey;
    op.key = {reg::Root::LocalMachine, key};
    operations.push_back(op);
  }
  ImportOptions options;
  options.done = "unregistered";
  importOperations(operations, "sheet register --unregister", options);
  for (const std::string &id : classes)
    out << "unregistered " << printable(id)
        << (server ? ", which named " + printable(*server) : std::string(" of ") + kProgId) << '\n';
}

} // namespace

std::string installedCalcServer() {
#ifdef VLX_CALC_SERVER
  std::error_code ec;
  auto tool = std::filesystem::read_symlink("/proc/self/exe", ec);
  auto server = (tool.parent_path() / VLX_CALC_SERVER).lexically_normal();
  if (!ec && std::filesystem::is_regular_file(server, ec))
    return server.string();
#endif
  return "";
}

std::string sheetAdvice() {
  if (::access(kOffice, X_OK) != 0)
    return std::string("LibreOffice Calc is not installed (no ") + kOffice +
           "); install it: " + asRoot("apt-get install libreoffice-calc");
  const std::string clsid = defaultText(HKEY_CLASSES_ROOT, std::string(kProgId) + "\\CLSID");
  const std::string registered =
      clsid.empty() ? "" : defaultText(HKEY_CLASSES_ROOT, "CLSID\\" + clsid + "\\InprocServer32");
  std::error_code ec;
  if (!registered.empty() && std::filesystem::exists(registered, ec))
    return "";
  const std::string installed = installedCalcServer();
  if (installed.empty())
    return "the spreadsheet server is not installed; install it: " +
           asRoot("apt-get install velmora-calc-server");
  if (!registered.empty())
    return "the registered server " + registered + " is gone; register the installed one: " +
           asRoot("vlx sheet register");
  return "the installed server is not registered; register it: " + asRoot("vlx sheet register");
}

void sheetRegister(std::ostream &out, const std::optional<std::string> &server, bool unregister) {
  if (unregister)
    return unregisterByKeys(out, server);
  if (!server || server->empty())
    throw Failure("no server library beside vlx; name one (vlx sheet register SERVER)", 2);
  // Loading runs the library's code, as root for a machine registration: only a file no other
  // user can change is loaded, as the library itself loads servers.
  std::error_code ec;
  const std::string absolute = std::filesystem::absolute(*server, ec).string();
  const posix::TrustedFile trusted = posix::openTrustedFile(ec ? *server : absolute, ::geteuid());
  if (trusted.fd >= 0)
    ::close(trusted.fd);
  if (trusted.trust != posix::Trust::Trusted)
    throw Failure("cannot load the spreadsheet server " + *server + ": " +
                  (trusted.trust == posix::Trust::Missing ? "no such library" : trusted.why));
  void *library = ::dlopen(trusted.resolved.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!library) {
    const char *why = ::dlerror();
    const std::string advice = sheetAdvice();
    throw Failure("cannot load the spreadsheet server " + *server + ": " +
                  (why ? why : "unknown error") + (advice.empty() ? "" : " (" + advice + ")"));
  }
  using Entry = HRESULT (*)();
  auto entry = reinterpret_cast<Entry>(::dlsym(library, "DllRegisterServer"));
  HRESULT hr = entry ? entry() : E_NOTIMPL;
  // The server stays loaded: its UNO run-time cannot be unloaded safely.
  if (FAILED(hr)) {
    char code[16];
    std::snprintf(code, sizeof code, "0x%08X", static_cast<unsigned>(hr));
    std::string why = std::string("error ") + code;
    if (hr == HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED))
      why = writeErrorText(Hive::Machine, ERROR_ACCESS_DENIED);
    throw Failure("registering " + *server + " failed: " + why);
  }
  out << "registered " << printable(*server) << " for " << kProgId << '\n';
}

} // namespace vlx::cli
