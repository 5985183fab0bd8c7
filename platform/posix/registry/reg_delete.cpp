// Deleting keys and values.
#include "platform/posix/name_fold.h"
#include "platform/posix/registry/key_names.h"
#include "platform/posix/registry/reg_calls.h"

namespace vlx {
namespace {

LONG deleteKeyIn(HiveDb &db, KeyId base, const Parts &parts) {
  LONG error = db.beginRead();
  KeyId id = 0;
  if (error == ERROR_SUCCESS)
    error = walk(db, base, parts, &id);
  if (error != ERROR_SUCCESS)
    return error;
  if (isSkeleton(db, id))
    return ERROR_ACCESS_DENIED;
  error = db.beginWrite();
  if (error != ERROR_SUCCESS)
    return error;
  bool exists = false, children = false;
  error = db.keyExists(id, &exists);
  if (error == ERROR_SUCCESS && !exists)
    error = ERROR_FILE_NOT_FOUND;
  if (error == ERROR_SUCCESS)
    error = db.hasSubkeys(id, &children);
  if (error == ERROR_SUCCESS && children)
    error = ERROR_ACCESS_DENIED;
  if (error == ERROR_SUCCESS)
    error = db.deleteKey(id);
  return db.finishWrite(error);
}

} // namespace
} // namespace vlx

using namespace vlx;

extern "C" {

VLX_WIN32_API LSTATUS WINAPI RegDeleteValueA(HKEY hKey, LPCSTR lpValueName) {
  Call call(hKey, KEY_SET_VALUE);
  if (call.status() != ERROR_SUCCESS)
    return call.status();
  std::string_view name = lpValueName ? lpValueName : "";
  Target t;
  LONG error = valueTarget(call.handle(), &t);
  if (error != ERROR_SUCCESS)
    return error;
  // A missing value needs no write transaction.
  DWORD type = 0;
  std::string data;
  error = t.db->findValue(t.id, name, &type, &data);
  if (error == ERROR_FILE_NOT_FOUND)
    return missOrDeleted(*t.db, t.id, error);
  if (error != ERROR_SUCCESS)
    return error;
  return writeTo(t, [&](HiveDb &db, KeyId id) -> LONG { return db.deleteValue(id, name); });
}

VLX_WIN32_API LSTATUS WINAPI RegDeleteKeyA(HKEY hKey, LPCSTR lpSubKey) {
  if (!lpSubKey)
    return ERROR_INVALID_PARAMETER;
  Call call(hKey);
  if (call.status() != ERROR_SUCCESS)
    return call.status();
  KeyHandle &h = call.handle();
  Parts parts;
  LONG error = splitKeyPath(lpSubKey, &parts);
  if (error != ERROR_SUCCESS)
    return error;
  if (!componentsFit(parts))
    return ERROR_FILE_NOT_FOUND;
  // The handle's own access does not matter: deleting opens the subkey for DELETE.
  switch (h.key.kind) {
  case KeyKind::Plain:
    return deleteKeyIn(*h.key.db, h.key.id, parts);
  case KeyKind::Users: {
    if (parts.empty() || !sameFolded(parts.front(), ".DEFAULT"))
      return parts.empty() ? ERROR_ACCESS_DENIED : ERROR_FILE_NOT_FOUND;
    Parts rest(parts.begin() + 1, parts.end());
    if (rest.empty())
      return ERROR_ACCESS_DENIED;
    return deleteKeyIn(Store::get().defaultUser, kRootKey, rest);
  }
  case KeyKind::Classes:
    break;
  }
  std::string path = joinPath(h.key.classPath, parts);
  if (path.empty())
    return ERROR_ACCESS_DENIED;
  Sides sides;
  error = classesSides(h.key, parts, &sides);
  if (error != ERROR_SUCCESS)
    return error;
  Store &s = Store::get();
  if (sides.user)
    return deleteKeyIn(s.user, sides.user, {});
  if (sides.machine)
    return deleteKeyIn(s.machine, sides.machine, {});
  return ERROR_FILE_NOT_FOUND;
}

} // extern "C"
