// Keys: the walk down a path, opening and creating, renaming, flushing and closing.
#include "platform/posix/name_fold.h"
#include "platform/posix/registry/key_names.h"
#include "platform/posix/registry/reg_calls.h"
#include "platform/posix/registry/reg_shared.h"

namespace vlx {
namespace {

const Parts &currentConfigParts() {
  static const Parts parts = [] {
    Parts out;
    splitKeyPath(kCurrentConfigPath.data(), &out); // views of the literal, which lives on
    return out;
  }();
  return parts;
}

REGSAM effectiveAccess(REGSAM sam) {
  if (sam & MAXIMUM_ALLOWED)
    return KEY_ALL_ACCESS;
  REGSAM out = sam;
  if (sam & GENERIC_READ)
    out |= KEY_READ;
  if (sam & GENERIC_WRITE)
    out |= KEY_WRITE;
  if (sam & GENERIC_EXECUTE)
    out |= KEY_EXECUTE;
  if (sam & GENERIC_ALL)
    out |= KEY_ALL_ACCESS;
  return out & KEY_ALL_ACCESS;
}

// The old calls hand a root back for an empty sub-key path.
bool rootForEmptyPath(HKEY key, LPCSTR subKey, PHKEY result) {
  if ((subKey && *subKey) || !isPredefinedKey(key))
    return false;
  *result = key;
  return true;
}

// A path found before in the current read view, as every preference read opens the same
// few: not split, checked and walked again. False when the path must take the long way.
bool openKnown(KeyHandle &base, const char *subKey, OpenResult *out, LONG *error) {
  HiveDb *db = base.key.db;
  KeyId from = base.key.id;
  size_t depth = base.key.depth;
  const char *rest = subKey;
  if (base.key.kind == KeyKind::Users) {
    // Only ASCII spellings: any other that folds the same takes the long way.
    static constexpr std::string_view kDefault = ".DEFAULT\\";
    for (size_t i = 0; i < kDefault.size(); ++i)
      if (upperAscii(subKey[i]) != kDefault[i])
        return false;
    db = &Store::get().defaultUser;
    from = kRootKey;
    depth = 0;
    rest += kDefault.size();
  } else if (base.key.kind != KeyKind::Plain) {
    return false;
  }
  KeyId id = 0;
  size_t components = 0;
  if (!*rest || !db->knownPath(from, rest, &id, &components))
    return false;
  // A read view that has moved on forgets every path, this one with them.
  *error = db->beginRead();
  if (*error == ERROR_SUCCESS && !db->remembersPaths())
    return false;
  if (*error == ERROR_SUCCESS)
    out->key = KeyRef{KeyKind::Plain, db, id, depth + components, {}, 0, 0, false};
  return true;
}

LONG openOrCreate(HKEY hKey, const char *subKey, REGSAM sam, bool create, PHKEY result,
                  LPDWORD disposition) {
  Call call(hKey);
  if (call.status() != ERROR_SUCCESS)
    return call.status();
  OpenResult opened;
  LONG error = openFrom(call.handle(), subKey, create, &opened);
  if (error != ERROR_SUCCESS)
    return error;
  KeyHandle h;
  h.key = std::move(opened.key);
  h.access = effectiveAccess(sam);
  *result = Store::get().add(std::move(h));
  call.keepSnapshot();
  if (disposition)
    *disposition = opened.created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
  return ERROR_SUCCESS;
}

} // namespace

bool isSkeleton(HiveDb &db, KeyId id) {
  if (id == kRootKey || id == kSoftwareKey)
    return true;
  if (db.hive() != Hive::Machine)
    return false;
  if (id == kMachineClassesKey)
    return true;
  // A hive older than the key of HKEY_CURRENT_CONFIG holds it under other ids.
  KeyId at = kRootKey;
  for (std::string_view p : currentConfigParts()) {
    if (db.findChild(at, p, &at) != ERROR_SUCCESS)
      return false;
    if (at == id)
      return true;
  }
  return false;
}

LONG currentConfigKey(KeyId *id) {
  HiveDb &machine = Store::get().machine;
  OpenResult found;
  LONG error = openPlain(machine, kRootKey, 0, currentConfigParts(), false, &found);
  if (error == ERROR_FILE_NOT_FOUND)
    error = openPlain(machine, kRootKey, 0, currentConfigParts(), true, &found);
  if (error == ERROR_SUCCESS)
    *id = found.key.id;
  return error;
}

bool componentsFit(const Parts &parts) {
  for (std::string_view p : parts)
    if (nameChars(p) > kMaxKeyNameChars)
      return false;
  return true;
}

std::string joinPath(const std::string &base, const Parts &parts) {
  std::string out = base;
  for (std::string_view p : parts) {
    if (!out.empty())
      out += '\\';
    out.append(p.data(), p.size());
  }
  return out;
}

Parts splitStored(const std::string &path) {
  Parts parts;
  splitKeyPath(path.c_str(), &parts);
  return parts;
}

LONG missOrDeleted(HiveDb &db, KeyId key, LONG miss) {
  bool exists = false;
  LONG error = db.keyExists(key, &exists);
  if (error != ERROR_SUCCESS)
    return error;
  return exists ? miss : ERROR_KEY_DELETED;
}

LONG walk(HiveDb &db, KeyId from, const Parts &parts, KeyId *out) {
  KeyId at = from;
  for (std::string_view p : parts) {
    LONG error = db.findChild(at, p, &at);
    if (error == ERROR_FILE_NOT_FOUND)
      return missOrDeleted(db, from, ERROR_FILE_NOT_FOUND);
    if (error != ERROR_SUCCESS)
      return error;
  }
  if (parts.empty()) {
    bool exists = false;
    LONG error = db.keyExists(from, &exists);
    if (error != ERROR_SUCCESS)
      return error;
    if (!exists)
      return ERROR_KEY_DELETED;
  }
  *out = at;
  return ERROR_SUCCESS;
}

LONG openPlain(HiveDb &db, KeyId base, size_t depth, const Parts &parts, bool create,
               OpenResult *out, std::string_view text) {
  LONG error = db.beginRead();
  if (error != ERROR_SUCCESS)
    return error;
  KeyId id = 0;
  error = walk(db, base, parts, &id);
  if (error == ERROR_SUCCESS || !create || error != ERROR_FILE_NOT_FOUND) {
    if (error == ERROR_SUCCESS) {
      out->key = KeyRef{KeyKind::Plain, &db, id, depth + parts.size(), {}, 0, 0, false};
      if (!text.empty() && !parts.empty())
        db.rememberPath(base, text, id, parts.size());
    }
    return error;
  }
  if (depth + parts.size() > kMaxKeyDepth)
    return ERROR_INVALID_PARAMETER;
  bool created = false;
  error = writeTo(Target{&db, base}, [&](HiveDb &w, KeyId from) -> LONG {
    KeyId at = from;
    for (std::string_view p : parts) {
      LONG e = w.findChild(at, p, &at);
      if (e == ERROR_FILE_NOT_FOUND) {
        e = w.createChild(at, p, &at);
        created = true;
      } else {
        created = false;
      }
      if (e != ERROR_SUCCESS)
        return e;
    }
    id = at;
    return ERROR_SUCCESS;
  });
  if (error != ERROR_SUCCESS)
    return error;
  out->key = KeyRef{KeyKind::Plain, &db, id, depth + parts.size(), {}, 0, 0, false};
  out->created = created;
  return ERROR_SUCCESS;
}

LONG openFrom(KeyHandle &base, const char *subKey, bool create, OpenResult *out) {
  LONG known = ERROR_SUCCESS;
  if (!create && subKey && *subKey && openKnown(base, subKey, out, &known))
    return known;
  static Parts parts; // reused under the store's mutex: opening is the hot path
  parts.clear();
  // HKEY_CLASSES_ROOT takes one leading backslash, as Windows does.
  if (base.key.kind == KeyKind::Classes && base.key.classPath.empty() && subKey && *subKey == '\\')
    ++subKey;
  LONG error = splitKeyPath(subKey, &parts);
  if (error != ERROR_SUCCESS)
    return error;
  if (!componentsFit(parts))
    return create ? ERROR_INVALID_PARAMETER : ERROR_FILE_NOT_FOUND;
  switch (base.key.kind) {
  case KeyKind::Plain:
    return openPlain(*base.key.db, base.key.id, base.key.depth, parts, create, out,
                     subKey ? subKey : "");
  case KeyKind::Classes:
    return openClasses(base, parts, create, out);
  case KeyKind::Users:
    break;
  }
  if (parts.empty()) {
    out->key = base.key;
    return ERROR_SUCCESS;
  }
  if (!sameFolded(parts.front(), ".DEFAULT"))
    return create ? ERROR_ACCESS_DENIED : ERROR_FILE_NOT_FOUND;
  Parts rest(parts.begin() + 1, parts.end());
  // The text after ".DEFAULT" and its backslash, under which openKnown looks it up.
  std::string_view restText = rest.empty() ? std::string_view() : std::string_view(rest[0].data());
  return openPlain(Store::get().defaultUser, kRootKey, 0, rest, create, out, restText);
}

LONG keyAllows(HKEY key, REGSAM access) { return Call(key, access).status(); }

} // namespace vlx

using namespace vlx;

extern "C" {

VLX_WIN32_API LSTATUS WINAPI RegOpenKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD ulOptions,
                                           REGSAM samDesired, PHKEY phkResult) {
  if (!phkResult)
    return ERROR_INVALID_PARAMETER;
  // No key at all leaves the result as it was; the W call clears it first.
  if (!hKey)
    return ERROR_INVALID_HANDLE;
  *phkResult = nullptr;
  if (ulOptions & ~static_cast<DWORD>(REG_OPTION_OPEN_LINK))
    return ERROR_INVALID_PARAMETER;
  // HKEY_CLASSES_ROOT itself is handed back rather than a new handle to it.
  if (predefinedKey(hKey) == HKEY_CLASSES_ROOT && (!lpSubKey || !*lpSubKey)) {
    *phkResult = HKEY_CLASSES_ROOT;
    return ERROR_SUCCESS;
  }
  return openOrCreate(hKey, lpSubKey, samDesired, false, phkResult, nullptr);
}

VLX_WIN32_API LSTATUS WINAPI RegOpenKeyA(HKEY hKey, LPCSTR lpSubKey, PHKEY phkResult) {
  if (!phkResult)
    return ERROR_INVALID_PARAMETER;
  // An empty path hands back the very handle passed in, unchecked, as Windows does.
  if (!lpSubKey || !*lpSubKey) {
    *phkResult = hKey;
    return ERROR_SUCCESS;
  }
  return RegOpenKeyExA(hKey, lpSubKey, 0, MAXIMUM_ALLOWED, phkResult);
}

VLX_WIN32_API LSTATUS WINAPI RegCreateKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD /*Reserved*/,
                                             LPSTR /*lpClass*/, DWORD dwOptions, REGSAM samDesired,
                                             const LPSECURITY_ATTRIBUTES /*lpSecurityAttributes*/,
                                             PHKEY phkResult, LPDWORD lpdwDisposition) {
  // Windows' answer for a missing result, before it looks at anything else.
  if (!phkResult)
    return ERROR_BADKEY;
  if (!lpSubKey)
    return ERROR_INVALID_PARAMETER;
  *phkResult = nullptr;
  // Volatile keys are kept like the others; links are not supported.
  const DWORD known = REG_OPTION_VOLATILE | REG_OPTION_BACKUP_RESTORE | REG_OPTION_OPEN_LINK;
  if (dwOptions & REG_OPTION_CREATE_LINK)
    return ERROR_NOT_SUPPORTED;
  if (dwOptions & ~known)
    return ERROR_INVALID_PARAMETER;
  return openOrCreate(hKey, lpSubKey, samDesired, true, phkResult, lpdwDisposition);
}

VLX_WIN32_API LSTATUS WINAPI RegCreateKeyA(HKEY hKey, LPCSTR lpSubKey, PHKEY phkResult) {
  if (!phkResult)
    return ERROR_INVALID_PARAMETER;
  if (rootForEmptyPath(hKey, lpSubKey, phkResult))
    return ERROR_SUCCESS;
  return RegCreateKeyExA(hKey, lpSubKey ? lpSubKey : "", 0, nullptr, 0, MAXIMUM_ALLOWED, nullptr,
                         phkResult, nullptr);
}

VLX_WIN32_API LSTATUS WINAPI RegCloseKey(HKEY hKey) {
  if (isPredefinedKey(hKey))
    return ERROR_SUCCESS;
  Call call(hKey);
  if (call.status() != ERROR_SUCCESS)
    return call.status();
  Store::get().remove(hKey);
  pokeChangeWatcher();
  return ERROR_SUCCESS;
}

VLX_WIN32_API LSTATUS WINAPI RegRenameKey(HKEY hKey, LPCWSTR lpSubKeyName, LPCWSTR lpNewKeyName) {
  // A subkey is opened first, so its failures come before the new name's; the key renamed
  // must have been opened for writing, as the kernel's rename requires.
  SubKey sub(hKey, Utf8Arg(lpSubKeyName).get(), KEY_WRITE);
  if (sub.status() != ERROR_SUCCESS)
    return sub.status();
  if (!lpNewKeyName)
    return ERROR_INVALID_PARAMETER;
  Call call(sub.get(), KEY_WRITE, ERROR_ACCESS_DENIED);
  if (call.status() != ERROR_SUCCESS)
    return call.status();
  if (call.predefined())
    return ERROR_ACCESS_DENIED;
  const std::string name = Utf8Arg(lpNewKeyName).get();
  if (name.empty() || name.find('\\') != std::string::npos || nameChars(name) > kMaxKeyNameChars)
    return ERROR_INVALID_PARAMETER;
  // A Classes key is renamed where its values live: the user's side, else the machine's.
  Target t;
  LONG error = valueTarget(call.handle(), &t);
  if (error != ERROR_SUCCESS)
    return error;
  if (isSkeleton(*t.db, t.id))
    return ERROR_ACCESS_DENIED;
  return writeTo(t, [&](HiveDb &db, KeyId id) -> LONG { return db.renameKey(id, name); });
}

VLX_WIN32_API LSTATUS WINAPI RegFlushKey(HKEY hKey) {
  Call call(hKey);
  if (call.status() != ERROR_SUCCESS)
    return call.status();
  KeyHandle &h = call.handle();
  Store &s = Store::get();
  switch (h.key.kind) {
  case KeyKind::Plain: {
    HiveDb &db = *h.key.db;
    LONG error = db.beginRead();
    bool exists = false;
    if (error == ERROR_SUCCESS)
      error = db.keyExists(h.key.id, &exists);
    if (error == ERROR_SUCCESS && !exists)
      error = ERROR_KEY_DELETED;
    return error == ERROR_SUCCESS ? db.flush() : error;
  }
  case KeyKind::Users:
    return s.defaultUser.flush();
  case KeyKind::Classes:
    break;
  }
  LONG error = s.user.flush();
  return error == ERROR_SUCCESS ? s.machine.flush() : error;
}

} // extern "C"
