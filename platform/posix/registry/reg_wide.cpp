// The 16-bit registry calls (Reg*W): UTF-16 names and strings around the narrow calls.
#include "platform/posix/registry/key_names.h"
#include "platform/posix/registry/reg_shared.h"

#include <velmora/hive.h>

#include <cstring>

namespace vlx {
namespace {

size_t wideLength(LPCWSTR text) { return std::char_traits<WCHAR>::length(text); }

// A value's data as a W call returns it: strings in UTF-16, anything else as stored.
std::string wideData(DWORD type, const std::string &narrow) {
  if (!isStringType(type))
    return narrow;
  std::u16string text = toUtf16(narrow);
  return std::string(reinterpret_cast<const char *>(text.data()), text.size() * sizeof(WCHAR));
}

// The data into the caller's buffer of `room` bytes, as the A calls do: the size always, the
// bytes when they fit, and a string's missing zero when there is room for it.
LONG putData(DWORD type, const std::string &data, LPBYTE out, DWORD room, LPDWORD size) {
  const auto needed = static_cast<DWORD>(data.size());
  if (out) {
    if (needed > room) {
      *size = needed;
      return ERROR_MORE_DATA;
    }
    std::memcpy(out, data.data(), needed);
    const bool terminated = needed >= 2 && data[needed - 1] == 0 && data[needed - 2] == 0;
    if (isStringType(type) && !terminated && room >= needed + 2)
      std::memset(out + needed, 0, 2);
  }
  if (size)
    *size = needed;
  return ERROR_SUCCESS;
}

// A name into a W call's buffer of `*room` characters, which must hold its zero too.
LONG putName(const std::u16string &name, LPWSTR out, LPDWORD room) {
  if (name.size() + 1 > *room)
    return ERROR_MORE_DATA;
  std::memcpy(out, name.c_str(), (name.size() + 1) * sizeof(WCHAR));
  *room = static_cast<DWORD>(name.size());
  return ERROR_SUCCESS;
}

} // namespace

std::string toUtf8(const WCHAR *text, size_t units) {
  if (units == 0)
    return {};
  int n =
      WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(units), nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<size_t>(std::max(n, 0)), '\0');
  if (n > 0)
    WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(units), &out[0], n, nullptr, nullptr);
  return out;
}

std::u16string toUtf16(std::string_view text) {
  if (text.empty())
    return {};
  int n = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::u16string out(static_cast<size_t>(std::max(n, 0)), u'\0');
  if (n > 0)
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &out[0], n);
  return out;
}

Utf8Arg::Utf8Arg(LPCWSTR text) : null_(!text) {
  if (text)
    text_ = toUtf8(text, wideLength(text));
}

} // namespace vlx

using namespace vlx;

extern "C" {

VLX_WIN32_API LSTATUS WINAPI RegOpenKeyW(HKEY hKey, LPCWSTR lpSubKey, PHKEY phkResult) {
  return RegOpenKeyA(hKey, Utf8Arg(lpSubKey).get(), phkResult);
}

VLX_WIN32_API LSTATUS WINAPI RegOpenKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD ulOptions,
                                           REGSAM samDesired, PHKEY phkResult) {
  if (phkResult)
    *phkResult = nullptr;
  return RegOpenKeyExA(hKey, Utf8Arg(lpSubKey).get(), ulOptions, samDesired, phkResult);
}

VLX_WIN32_API LSTATUS WINAPI RegCreateKeyW(HKEY hKey, LPCWSTR lpSubKey, PHKEY phkResult) {
  return RegCreateKeyA(hKey, Utf8Arg(lpSubKey).get(), phkResult);
}

VLX_WIN32_API LSTATUS WINAPI RegCreateKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD Reserved,
                                             LPWSTR /*lpClass*/, DWORD dwOptions, REGSAM samDesired,
                                             const LPSECURITY_ATTRIBUTES lpSecurityAttributes,
                                             PHKEY phkResult, LPDWORD lpdwDisposition) {
  return RegCreateKeyExA(hKey, Utf8Arg(lpSubKey).get(), Reserved, nullptr, dwOptions, samDesired,
                         lpSecurityAttributes, phkResult, lpdwDisposition);
}

VLX_WIN32_API LSTATUS WINAPI RegQueryValueExW(HKEY hKey, LPCWSTR lpValueName, LPDWORD lpReserved,
                                              LPDWORD lpType, LPBYTE lpData, LPDWORD lpcbData) {
  if (lpReserved || (lpData && !lpcbData))
    return ERROR_INVALID_PARAMETER;
  DWORD type = REG_NONE;
  std::string data;
  LONG error = readValue(hKey, nullptr, Utf8Arg(lpValueName).get(), &type, &data);
  if (error == ERROR_FILE_NOT_FOUND && !lpData && lpcbData)
    *lpcbData = 0;
  if (error != ERROR_SUCCESS)
    return error;
  const DWORD room = lpcbData ? *lpcbData : 0; // before the type: they may share a variable
  if (lpType)
    *lpType = type;
  return putData(type, wideData(type, data), lpData, room, lpcbData);
}

VLX_WIN32_API LSTATUS WINAPI RegSetValueExW(HKEY hKey, LPCWSTR lpValueName, DWORD /*Reserved*/,
                                            DWORD dwType, const BYTE *lpData, DWORD cbData) {
  std::string bytes;
  LONG error = callerData(lpData, cbData, dwType, sizeof(WCHAR), &bytes);
  if (error != ERROR_SUCCESS)
    return error;
  if (!lpData || !isStringType(dwType))
    return setValueAsGiven(hKey, Utf8Arg(lpValueName).get(), dwType,
                           lpData ? reinterpret_cast<const BYTE *>(bytes.data()) : nullptr,
                           static_cast<DWORD>(bytes.size()));
  std::u16string text(bytes.size() / sizeof(WCHAR), u'\0');
  std::memcpy(&text[0], bytes.data(), text.size() * sizeof(WCHAR));
  std::string narrow = toUtf8(text.data(), text.size());
  return setValueAsGiven(hKey, Utf8Arg(lpValueName).get(), dwType,
                         reinterpret_cast<const BYTE *>(narrow.data()),
                         static_cast<DWORD>(narrow.size()));
}

VLX_WIN32_API LSTATUS WINAPI RegQueryValueW(HKEY hKey, LPCWSTR lpSubKey, LPWSTR lpData,
                                            PLONG lpcbData) {
  if (lpData && !lpcbData)
    return ERROR_INVALID_PARAMETER;
  Utf8Arg subKey(lpSubKey);
  LONG size = 0;
  LONG error = RegQueryValueA(hKey, subKey.get(), nullptr, &size);
  std::string narrow;
  while (error == ERROR_SUCCESS) {
    narrow.resize(static_cast<size_t>(size) + 1);
    error = RegQueryValueA(hKey, subKey.get(), &narrow[0], &size);
    if (error == ERROR_MORE_DATA)
      error = ERROR_SUCCESS;
    else if (error == ERROR_SUCCESS)
      break;
  }
  if (error != ERROR_SUCCESS)
    return error;
  narrow.resize(static_cast<size_t>(size));
  DWORD room = lpcbData ? static_cast<DWORD>(*lpcbData) : 0;
  error = putData(REG_SZ, wideData(REG_SZ, narrow), reinterpret_cast<LPBYTE>(lpData), room, &room);
  if (lpcbData)
    *lpcbData = static_cast<LONG>(room);
  return error;
}

VLX_WIN32_API LSTATUS WINAPI RegSetValueW(HKEY hKey, LPCWSTR lpSubKey, DWORD dwType, LPCWSTR lpData,
                                          DWORD cbData) {
  if (!lpData)
    return ERROR_INVALID_PARAMETER;
  return RegSetValueA(hKey, Utf8Arg(lpSubKey).get(), dwType, Utf8Arg(lpData).get(), cbData);
}

VLX_WIN32_API LSTATUS WINAPI RegDeleteKeyW(HKEY hKey, LPCWSTR lpSubKey) {
  return RegDeleteKeyA(hKey, Utf8Arg(lpSubKey).get());
}

VLX_WIN32_API LSTATUS WINAPI RegDeleteValueW(HKEY hKey, LPCWSTR lpValueName) {
  return RegDeleteValueA(hKey, Utf8Arg(lpValueName).get());
}

VLX_WIN32_API LSTATUS WINAPI RegEnumKeyExW(HKEY hKey, DWORD dwIndex, LPWSTR lpName,
                                           LPDWORD lpcchName, LPDWORD lpReserved, LPWSTR lpClass,
                                           LPDWORD lpcchClass, PFILETIME lpftLastWriteTime) {
  if (!lpName || !lpcchName || lpReserved || (lpClass && !lpcchClass))
    return ERROR_INVALID_PARAMETER;
  char name[kMaxKeyNameChars * 4 + 1];
  DWORD length = sizeof name;
  LONG error =
      RegEnumKeyExA(hKey, dwIndex, name, &length, nullptr, nullptr, nullptr, lpftLastWriteTime);
  if (error == ERROR_SUCCESS)
    error = putName(toUtf16(std::string_view(name, length)), lpName, lpcchName);
  if (error == ERROR_SUCCESS && lpClass) {
    // Keys carry no class name.
    if (*lpcchClass == 0)
      return ERROR_MORE_DATA;
    lpClass[0] = u'\0';
    *lpcchClass = 0;
  }
  return error;
}

VLX_WIN32_API LSTATUS WINAPI RegEnumKeyW(HKEY hKey, DWORD dwIndex, LPWSTR lpName, DWORD cchName) {
  return RegEnumKeyExW(hKey, dwIndex, lpName, &cchName, nullptr, nullptr, nullptr, nullptr);
}

VLX_WIN32_API LSTATUS WINAPI RegEnumValueW(HKEY hKey, DWORD dwIndex, LPWSTR lpValueName,
                                           LPDWORD lpcchValueName, LPDWORD lpReserved,
                                           LPDWORD lpType, LPBYTE lpData, LPDWORD lpcbData) {
  if (!lpValueName || !lpcchValueName || lpReserved || (lpData && !lpcbData))
    return ERROR_INVALID_PARAMETER;
  std::string narrowName, narrow;
  DWORD type = REG_NONE;
  LONG error = readValueAt(hKey, dwIndex, &narrowName, &type, &narrow);
  if (error != ERROR_SUCCESS)
    return error;
  const std::u16string name = toUtf16(narrowName);
  const std::string data = wideData(type, narrow);
  // A short name buffer gets nothing but the type and size; unlike the A call's, a short data
  // buffer still gets the name and its length.
  const DWORD room = lpcbData ? *lpcbData : 0;
  const bool nameFits = putName(name, lpValueName, lpcchValueName) == ERROR_SUCCESS;
  if (!nameFits || (lpData && data.size() > room)) {
    if (lpType)
      *lpType = type;
    if (lpcbData)
      *lpcbData = static_cast<DWORD>(data.size());
    return ERROR_MORE_DATA;
  }
  if (lpType)
    *lpType = type;
  return putData(type, data, lpData, room, lpcbData);
}

VLX_WIN32_API LSTATUS WINAPI RegQueryInfoKeyW(HKEY hKey, LPWSTR lpClass, LPDWORD lpcchClass,
                                              LPDWORD lpReserved, LPDWORD lpcSubKeys,
                                              LPDWORD lpcbMaxSubKeyLen, LPDWORD lpcbMaxClassLen,
                                              LPDWORD lpcValues, LPDWORD lpcbMaxValueNameLen,
                                              LPDWORD lpcbMaxValueLen,
                                              LPDWORD lpcbSecurityDescriptor,
                                              PFILETIME lpftLastWriteTime) {
  if (lpReserved || (lpClass && !lpcchClass))
    return ERROR_INVALID_PARAMETER;
  LONG error = RegQueryInfoKeyA(hKey, nullptr, nullptr, nullptr, lpcSubKeys, lpcbMaxSubKeyLen,
                                lpcbMaxClassLen, lpcValues, lpcbMaxValueNameLen, lpcbMaxValueLen,
                                lpcbSecurityDescriptor, lpftLastWriteTime);
  if (error != ERROR_SUCCESS)
    return error;
  if (lpClass && *lpcchClass > 0)
    lpClass[0] = u'\0';
  if (lpcchClass)
    *lpcchClass = 0;
  return ERROR_SUCCESS;
}

VLX_WIN32_API LSTATUS WINAPI RegGetValueW(HKEY hkey, LPCWSTR lpSubKey, LPCWSTR lpValue,
                                          DWORD dwFlags, LPDWORD pdwType, LPVOID pvData,
                                          LPDWORD pcbData) {
  return getValue(hkey, Utf8Arg(lpSubKey).get(), Utf8Arg(lpValue).get(), dwFlags, pdwType, pvData,
                  pcbData, true);
}

VLX_WIN32_API LSTATUS WINAPI RegSetKeyValueW(HKEY hKey, LPCWSTR lpSubKey, LPCWSTR lpValueName,
                                             DWORD dwType, LPCVOID lpData, DWORD cbData) {
  SubKey sub(hKey, Utf8Arg(lpSubKey).get(), KEY_SET_VALUE, true);
  if (sub.status() != ERROR_SUCCESS)
    return sub.status();
  return RegSetValueExW(sub.get(), lpValueName, 0, dwType, static_cast<const BYTE *>(lpData),
                        cbData);
}

VLX_WIN32_API LSTATUS WINAPI RegDeleteKeyValueW(HKEY hKey, LPCWSTR lpSubKey, LPCWSTR lpValueName) {
  return RegDeleteKeyValueA(hKey, Utf8Arg(lpSubKey).get(), Utf8Arg(lpValueName).get());
}

VLX_WIN32_API LSTATUS WINAPI RegDeleteKeyExW(HKEY hKey, LPCWSTR lpSubKey, REGSAM samDesired,
                                             DWORD Reserved) {
  return RegDeleteKeyExA(hKey, Utf8Arg(lpSubKey).get(), samDesired, Reserved);
}

VLX_WIN32_API LSTATUS WINAPI RegDeleteTreeW(HKEY hKey, LPCWSTR lpSubKey) {
  return RegDeleteTreeA(hKey, Utf8Arg(lpSubKey).get());
}

VLX_WIN32_API LSTATUS WINAPI RegCopyTreeW(HKEY hKeySrc, LPCWSTR lpSubKey, HKEY hKeyDest) {
  return RegCopyTreeA(hKeySrc, Utf8Arg(lpSubKey).get(), hKeyDest);
}

VLX_WIN32_API DWORD WINAPI ExpandEnvironmentStringsW(LPCWSTR lpSrc, LPWSTR lpDst, DWORD nSize) {
  if (!lpSrc) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  std::u16string out = toUtf16(expandVariables(toUtf8(lpSrc, wideLength(lpSrc))));
  const auto needed = static_cast<DWORD>(out.size() + 1);
  if (lpDst && nSize >= needed)
    std::memcpy(lpDst, out.c_str(), needed * sizeof(WCHAR));
  return needed;
}

} // extern "C"
