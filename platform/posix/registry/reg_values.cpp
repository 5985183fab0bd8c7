// Values: where a handle's values live, reading and writing one, the default value's calls.
#include "platform/posix/caller_memory.h"
#include "platform/posix/registry/key_names.h"
#include "platform/posix/registry/reg_calls.h"
#include "platform/posix/registry/reg_shared.h"

#include <cstring>

namespace vlx {
namespace {

// A value of the key `h` stands for, whole; the caller has checked the right to query it.
LONG queryValue(KeyHandle &h, const char *valueName, DWORD *type, std::string *data) {
  std::string_view name = valueName ? valueName : "";
  if (nameChars(name) > kMaxValueNameChars)
    return ERROR_FILE_NOT_FOUND;
  Target t;
  LONG error = valueTarget(h, &t);
  if (error == ERROR_SUCCESS)
    error = t.db->findValue(t.id, name, type, data);
  if (error == ERROR_FILE_NOT_FOUND && t.db)
    error = missOrDeleted(*t.db, t.id, error);
  return error;
}

} // namespace

LONG valueTarget(KeyHandle &h, Target *t) {
  switch (h.key.kind) {
  case KeyKind::Plain: {
    t->db = h.key.db;
    t->id = h.key.id;
    return t->db->beginRead();
  }
  case KeyKind::Users:
    return ERROR_FILE_NOT_FOUND;
  case KeyKind::Classes:
    break;
  }
  Sides sides;
  LONG error = presentSides(h, &sides);
  if (error != ERROR_SUCCESS)
    return error;
  Store &s = Store::get();
  *t = sides.user ? Target{&s.user, sides.user} : Target{&s.machine, sides.machine};
  return ERROR_SUCCESS;
}

LONG copyData(const std::string &data, DWORD type, LPBYTE out, DWORD room, LPDWORD size) {
  const auto needed = static_cast<DWORD>(data.size());
  if (out) {
    if (needed > room) {
      *size = needed;
      return ERROR_MORE_DATA;
    }
    std::memcpy(out, data.data(), needed);
    if (isStringType(type) && room > needed && (data.empty() || data.back() != '\0'))
      out[needed] = 0;
  }
  if (size)
    *size = needed;
  return ERROR_SUCCESS;
}

LONG callerData(const BYTE *data, DWORD size, DWORD type, size_t unit, std::string *bytes) {
  if (!data)
    return size > 0 ? ERROR_NOACCESS : ERROR_SUCCESS;
  if (!posix::copyCallerBytes(data, size, bytes))
    return ERROR_NOACCESS;
  // A string whose count left out its terminator gets it when the terminator follows in
  // memory, as on Windows; one that stops short of it is stored as given.
  const size_t units = size / unit;
  if (!isStringType(type) || units == 0)
    return ERROR_SUCCESS;
  const std::string_view last(bytes->data() + (units - 1) * unit, unit);
  std::string next;
  if (last.find_first_not_of('\0') != std::string_view::npos &&
      posix::copyCallerBytes(data + units * unit, unit, &next) &&
      next.find_first_not_of('\0') == std::string::npos) {
    bytes->resize(units * unit);
    bytes->append(unit, '\0');
  }
  return ERROR_SUCCESS;
}

LONG setValueAsGiven(HKEY key, const char *name, DWORD type, const BYTE *data, DWORD size) {
  if (!data && size > 0)
    return ERROR_NOACCESS;
  Call call(key, KEY_SET_VALUE, ERROR_ACCESS_DENIED);
  if (call.status() != ERROR_SUCCESS)
    return call.status();
  std::string_view valueName = name ? name : "";
  if (nameChars(valueName) > kMaxValueNameChars)
    return ERROR_INVALID_PARAMETER;
  Target t;
  LONG error = valueTarget(call.handle(), &t);
  if (error != ERROR_SUCCESS)
    return error;
  static const BYTE kNothing = 0;
  return writeTo(t, [&](HiveDb &db, KeyId id) -> LONG {
    return db.setValue(id, valueName, type, data ? data : &kNothing, size);
  });
}

LONG readValue(HKEY key, const char *subKey, const char *name, DWORD *type, std::string *data) {
  // A subkey is looked at under this one call, opened for querying with no handle made for
  // it: the key itself needs no right then.
  const bool below = subKey && *subKey;
  Call call(key, below ? 0 : KEY_QUERY_VALUE);
  if (call.status() != ERROR_SUCCESS)
    return call.status();
  if (!below)
    return queryValue(call.handle(), name, type, data);
  OpenResult opened;
  LONG error = openFrom(call.handle(), subKey, false, &opened);
  if (error != ERROR_SUCCESS)
    return error;
  KeyHandle sub;
  sub.key = std::move(opened.key);
  return queryValue(sub, name, type, data);
}

} // namespace vlx

using namespace vlx;

extern "C" {

VLX_WIN32_API LSTATUS WINAPI RegQueryValueExA(HKEY hKey, LPCSTR lpValueName, LPDWORD lpReserved,
                                              LPDWORD lpType, LPBYTE lpData, LPDWORD lpcbData) {
  if (lpReserved || (lpData && !lpcbData))
    return ERROR_INVALID_PARAMETER;
  Call call(hKey, KEY_QUERY_VALUE);
  if (call.status() != ERROR_SUCCESS)
    return call.status();
  DWORD type = REG_NONE;
  std::string data;
  LONG error = queryValue(call.handle(), lpValueName, &type, &data);
  if (error == ERROR_FILE_NOT_FOUND && !lpData && lpcbData)
    *lpcbData = 0;
  if (error != ERROR_SUCCESS)
    return error;
  // Read the room first: a caller may pass one variable for both type and size.
  const DWORD room = lpcbData ? *lpcbData : 0;
  if (lpType)
    *lpType = type;
  return copyData(data, type, lpData, room, lpcbData);
}

VLX_WIN32_API LSTATUS WINAPI RegSetValueExA(HKEY hKey, LPCSTR lpValueName, DWORD /*Reserved*/,
                                            DWORD dwType, const BYTE *lpData, DWORD cbData) {
  std::string bytes;
  LONG error = callerData(lpData, cbData, dwType, 1, &bytes);
  if (error != ERROR_SUCCESS)
    return error;
  return setValueAsGiven(hKey, lpValueName, dwType,
                         lpData ? reinterpret_cast<const BYTE *>(bytes.data()) : nullptr,
                         static_cast<DWORD>(bytes.size()));
}

VLX_WIN32_API LSTATUS WINAPI RegQueryValueA(HKEY hKey, LPCSTR lpSubKey, LPSTR lpData,
                                            PLONG lpcbData) {
  if (lpData && !lpcbData)
    return ERROR_INVALID_PARAMETER;
  HKEY key = hKey;
  bool opened = lpSubKey && *lpSubKey;
  if (opened) {
    LONG error = RegOpenKeyExA(hKey, lpSubKey, 0, KEY_QUERY_VALUE, &key);
    if (error != ERROR_SUCCESS)
      return error;
  }
  DWORD type = REG_NONE;
  DWORD size = lpcbData ? static_cast<DWORD>(*lpcbData) : 0;
  LONG error = RegQueryValueExA(key, nullptr, nullptr, &type, reinterpret_cast<LPBYTE>(lpData),
                                lpcbData ? &size : nullptr);
  if (error == ERROR_FILE_NOT_FOUND) {
    // A key without a default value reads as the empty string.
    type = REG_SZ;
    size = 1;
    error = ERROR_SUCCESS;
    if (lpData) {
      if (*lpcbData < 1)
        error = ERROR_MORE_DATA;
      else
        lpData[0] = '\0';
    }
  } else if ((error == ERROR_SUCCESS || error == ERROR_MORE_DATA) && type != REG_SZ &&
             type != REG_EXPAND_SZ) {
    error = ERROR_INVALID_DATA;
  }
  if (opened)
    RegCloseKey(key);
  if ((error == ERROR_SUCCESS || error == ERROR_MORE_DATA) && lpcbData)
    *lpcbData = static_cast<LONG>(size);
  return error;
}

VLX_WIN32_API LSTATUS WINAPI RegSetValueA(HKEY hKey, LPCSTR lpSubKey, DWORD dwType, LPCSTR lpData,
                                          DWORD /*cbData*/) {
  if (dwType != REG_SZ || !lpData)
    return ERROR_INVALID_PARAMETER;
  HKEY key = hKey;
  bool opened = lpSubKey && *lpSubKey;
  if (opened) {
    LONG error =
        RegCreateKeyExA(hKey, lpSubKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr);
    if (error != ERROR_SUCCESS)
      return error;
  }
  // The length comes from the string; cbData is ignored, as on Windows.
  LONG error = RegSetValueExA(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE *>(lpData),
                              static_cast<DWORD>(std::strlen(lpData) + 1));
  if (opened)
    RegCloseKey(key);
  return error;
}

} // extern "C"
