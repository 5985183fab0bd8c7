// The registry calls built on the basic ones: RegGetValue, values and trees under a subkey,
// the current user's root, expansion of environment strings.
#include "platform/posix/registry/key_names.h"
#include "platform/posix/registry/reg_shared.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace vlx {
namespace {

// Whether RegGetValue's filter takes a value of `type` and `size` bytes.
LONG typeAllowed(DWORD flags, DWORD type, size_t size) {
  switch (type) {
  case REG_NONE:
    return (flags & RRF_RT_REG_NONE) ? ERROR_SUCCESS : ERROR_UNSUPPORTED_TYPE;
  case REG_SZ:
    return (flags & RRF_RT_REG_SZ) ? ERROR_SUCCESS : ERROR_UNSUPPORTED_TYPE;
  case REG_EXPAND_SZ:
    return (flags & RRF_RT_REG_EXPAND_SZ) ? ERROR_SUCCESS : ERROR_UNSUPPORTED_TYPE;
  case REG_MULTI_SZ:
    return (flags & RRF_RT_REG_MULTI_SZ) ? ERROR_SUCCESS : ERROR_UNSUPPORTED_TYPE;
  case REG_DWORD:
    return (flags & RRF_RT_REG_DWORD) ? ERROR_SUCCESS : ERROR_UNSUPPORTED_TYPE;
  case REG_QWORD:
    return (flags & RRF_RT_REG_QWORD) ? ERROR_SUCCESS : ERROR_UNSUPPORTED_TYPE;
  case REG_BINARY:
    // Asked for as a DWORD or QWORD, binary data must have that size.
    if ((flags & RRF_RT_ANY) == RRF_RT_ANY || (flags & RRF_RT_REG_BINARY) == 0)
      return (flags & RRF_RT_REG_BINARY) ? ERROR_SUCCESS : ERROR_UNSUPPORTED_TYPE;
    if ((flags & RRF_RT_DWORD) == RRF_RT_DWORD && size != sizeof(DWORD))
      return ERROR_DATATYPE_MISMATCH;
    if ((flags & RRF_RT_QWORD) == RRF_RT_QWORD && size != sizeof(uint64_t))
      return ERROR_DATATYPE_MISMATCH;
    return ERROR_SUCCESS;
  default:
    return (flags & RRF_RT_ANY) == RRF_RT_ANY ? ERROR_SUCCESS : ERROR_UNSUPPORTED_TYPE;
  }
}

// A value as RegGetValue hands it over, and the size it reports for it.
struct Fetched {
  DWORD type = REG_NONE;
  std::string bytes;
  DWORD size = 0;
};

// Strings come back terminated whatever was stored, in the call's characters.
std::string callText(std::string text, bool wide) {
  if (text.empty() || text.back() != '\0')
    text += '\0';
  if (!wide)
    return text;
  std::u16string units = toUtf16(text);
  return std::string(reinterpret_cast<const char *>(units.data()), units.size() * sizeof(char16_t));
}

// `sizing`: the caller passed no buffer. The sizes of expandable strings then leave room for one
// character more, and with a buffer are never less than the unexpanded text's, as on Windows.
LONG fetch(HKEY key, const char *subKey, const char *name, DWORD flags, bool wide, bool sizing,
           Fetched *out) {
  std::string data;
  LONG error = readValue(key, subKey, name, &out->type, &data);
  if (error != ERROR_SUCCESS)
    return error;
  if (!isStringType(out->type)) {
    out->bytes = std::move(data);
    out->size = static_cast<DWORD>(out->bytes.size());
    return typeAllowed(flags, out->type, out->bytes.size());
  }
  const size_t unit = wide ? sizeof(char16_t) : 1;
  out->bytes = callText(data, wide);
  size_t size = out->bytes.size();
  if (out->type == REG_EXPAND_SZ && !(flags & RRF_NOEXPAND)) {
    out->bytes = callText(expandVariables(data.substr(0, data.find('\0'))), wide);
    out->type = REG_SZ;
    size = sizing ? out->bytes.size() + unit : std::max(size, out->bytes.size());
  } else if (out->type == REG_EXPAND_SZ && sizing) {
    size += unit;
  }
  out->size = static_cast<DWORD>(size);
  return typeAllowed(flags, out->type, out->bytes.size());
}

LONG deleteTree(HKEY key, const char *subKey) {
  SubKey sub(key, subKey, KEY_ALL_ACCESS);
  if (sub.status() != ERROR_SUCCESS)
    return sub.status();
  // Always the first subkey: each one deleted moves the next into its place.
  char name[kMaxKeyNameChars * 4 + 1];
  LONG error = ERROR_SUCCESS;
  for (;;) {
    DWORD length = sizeof name;
    error = RegEnumKeyExA(sub.get(), 0, name, &length, nullptr, nullptr, nullptr, nullptr);
    if (error == ERROR_SUCCESS)
      error = deleteTree(sub.get(), name);
    if (error != ERROR_SUCCESS)
      break;
  }
  if (error != ERROR_NO_MORE_ITEMS)
    return error;
  if (subKey && *subKey)
    return RegDeleteKeyA(key, subKey);
  // Without a subkey the key itself stays, emptied of its values too.
  std::string valueName, data;
  DWORD type = 0;
  while ((error = readValueAt(sub.get(), 0, &valueName, &type, &data)) == ERROR_SUCCESS)
    if ((error = RegDeleteValueA(sub.get(), valueName.c_str())) != ERROR_SUCCESS)
      return error;
  return error == ERROR_NO_MORE_ITEMS ? ERROR_SUCCESS : error;
}

LONG copyTree(HKEY from, HKEY to) {
  std::string name, data;
  DWORD type = 0;
  LONG error = ERROR_SUCCESS;
  for (DWORD i = 0; (error = readValueAt(from, i, &name, &type, &data)) == ERROR_SUCCESS; ++i) {
    error = RegSetValueExA(to, name.c_str(), 0, type, reinterpret_cast<const BYTE *>(data.data()),
                           static_cast<DWORD>(data.size()));
    if (error != ERROR_SUCCESS)
      return error;
  }
  if (error != ERROR_NO_MORE_ITEMS)
    return error;
  char child[kMaxKeyNameChars * 4 + 1];
  for (DWORD i = 0;; ++i) {
    DWORD length = sizeof child;
    error = RegEnumKeyExA(from, i, child, &length, nullptr, nullptr, nullptr, nullptr);
    if (error == ERROR_NO_MORE_ITEMS)
      return ERROR_SUCCESS;
    if (error != ERROR_SUCCESS)
      return error;
    SubKey source(from, child, KEY_READ), target(to, child, KEY_ALL_ACCESS, true);
    error = source.status() != ERROR_SUCCESS ? source.status() : target.status();
    if (error == ERROR_SUCCESS)
      error = copyTree(source.get(), target.get());
    if (error != ERROR_SUCCESS)
      return error;
  }
}

} // namespace

bool isStringType(DWORD type) {
  return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ;
}

LONG readValueAt(HKEY key, DWORD index, std::string *name, DWORD *type, std::string *data) {
  // Short buffers first: the longest name would cost 48 KiB of zeroes on every call.
  const size_t longestName = kMaxValueNameChars * 3 + 1;
  name->resize(std::max<size_t>(name->capacity(), 256));
  data->resize(std::max<size_t>(data->capacity(), 256));
  for (;;) {
    auto nameLength = static_cast<DWORD>(name->size());
    auto size = static_cast<DWORD>(data->size());
    LONG error = RegEnumValueA(key, index, &(*name)[0], &nameLength, nullptr, type,
                               reinterpret_cast<BYTE *>(&(*data)[0]), &size);
    if (error == ERROR_MORE_DATA && size > data->size()) {
      data->resize(size);
      continue;
    }
    if (error == ERROR_MORE_DATA && name->size() < longestName) {
      name->resize(longestName); // the data fitted: the name did not
      continue;
    }
    if (error == ERROR_SUCCESS) {
      name->resize(nameLength);
      data->resize(size);
    }
    return error;
  }
}

std::string expandVariables(std::string_view text) {
  std::string out;
  while (!text.empty()) {
    size_t open = text.find('%');
    size_t close = open == std::string_view::npos ? open : text.find('%', open + 1);
    if (close == std::string_view::npos) {
      out.append(text.data(), text.size());
      break;
    }
    out.append(text.data(), open);
    std::string name(text.substr(open + 1, close - open - 1));
    const char *value = name.empty() ? nullptr : vlx::getenv(name.c_str());
    if (value)
      out += value;
    else
      out.append(text.data() + open, close - open + 1);
    text.remove_prefix(close + 1);
  }
  return out;
}

LONG getValue(HKEY key, const char *subKey, const char *name, DWORD flags, LPDWORD type,
              LPVOID data, LPDWORD size, bool wide) {
  if (data && !size)
    return ERROR_INVALID_PARAMETER;
  // Asking for unexpanded strings by type needs RRF_NOEXPAND, which keeps them so.
  if ((flags & RRF_RT_ANY) != RRF_RT_ANY && (flags & RRF_RT_REG_EXPAND_SZ) &&
      !(flags & RRF_NOEXPAND))
    return ERROR_INVALID_PARAMETER;
  const DWORD room = size ? *size : 0;
  Fetched value;
  LONG error = fetch(key, subKey, name, flags, wide, !data, &value);
  // The type is reported whatever the outcome, REG_NONE when there is no such value; a value of
  // a type not asked for still gives its size and data.
  if (type)
    *type = value.type;
  if (error == ERROR_SUCCESS || error == ERROR_UNSUPPORTED_TYPE ||
      error == ERROR_DATATYPE_MISMATCH) {
    const bool fits = value.bytes.size() <= room;
    if (data && fits)
      std::memcpy(data, value.bytes.data(), value.bytes.size());
    if (data && !fits && error == ERROR_SUCCESS)
      error = ERROR_MORE_DATA;
    if (size)
      *size = value.size;
  }
  if (error != ERROR_SUCCESS && data && (flags & RRF_ZEROONFAILURE))
    std::memset(data, 0, room);
  return error;
}

} // namespace vlx

using namespace vlx;

extern "C" {

VLX_WIN32_API LSTATUS WINAPI RegGetValueA(HKEY hkey, LPCSTR lpSubKey, LPCSTR lpValue, DWORD dwFlags,
                                          LPDWORD pdwType, LPVOID pvData, LPDWORD pcbData) {
  return getValue(hkey, lpSubKey, lpValue, dwFlags, pdwType, pvData, pcbData, false);
}

VLX_WIN32_API LSTATUS WINAPI RegSetKeyValueA(HKEY hKey, LPCSTR lpSubKey, LPCSTR lpValueName,
                                             DWORD dwType, LPCVOID lpData, DWORD cbData) {
  SubKey sub(hKey, lpSubKey, KEY_SET_VALUE, true);
  if (sub.status() != ERROR_SUCCESS)
    return sub.status();
  return RegSetValueExA(sub.get(), lpValueName, 0, dwType, static_cast<const BYTE *>(lpData),
                        cbData);
}

VLX_WIN32_API LSTATUS WINAPI RegDeleteKeyValueA(HKEY hKey, LPCSTR lpSubKey, LPCSTR lpValueName) {
  SubKey sub(hKey, lpSubKey, KEY_SET_VALUE);
  if (sub.status() != ERROR_SUCCESS)
    return sub.status();
  return RegDeleteValueA(sub.get(), lpValueName);
}

VLX_WIN32_API LSTATUS WINAPI RegDeleteKeyExA(HKEY hKey, LPCSTR lpSubKey, REGSAM /*samDesired*/,
                                             DWORD /*Reserved*/) {
  return RegDeleteKeyA(hKey, lpSubKey);
}

VLX_WIN32_API LSTATUS WINAPI RegDeleteTreeA(HKEY hKey, LPCSTR lpSubKey) {
  return deleteTree(hKey, lpSubKey);
}

VLX_WIN32_API LSTATUS WINAPI RegCopyTreeA(HKEY hKeySrc, LPCSTR lpSubKey, HKEY hKeyDest) {
  SubKey source(hKeySrc, lpSubKey, KEY_READ);
  if (source.status() != ERROR_SUCCESS)
    return source.status();
  return copyTree(source.get(), hKeyDest);
}

VLX_WIN32_API LSTATUS WINAPI RegOpenCurrentUser(REGSAM samDesired, PHKEY phkResult) {
  return RegOpenKeyExA(HKEY_CURRENT_USER, nullptr, 0, samDesired, phkResult);
}

VLX_WIN32_API DWORD WINAPI ExpandEnvironmentStringsA(LPCSTR lpSrc, LPSTR lpDst, DWORD nSize) {
  if (!lpSrc) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  std::string out = expandVariables(lpSrc);
  const auto needed = static_cast<DWORD>(out.size() + 1);
  if (lpDst && nSize >= needed)
    std::memcpy(lpDst, out.c_str(), needed);
  return needed;
}

} // extern "C"
