// Enumeration of subkeys and values, and RegQueryInfoKey.
#include "platform/posix/registry/reg_calls.h"
#include "platform/posix/registry/reg_shared.h"

#include <algorithm>
#include <cstring>

namespace vlx {
namespace {

void copyName(const std::string &name, LPSTR out) {
  std::memcpy(out, name.data(), name.size());
  out[name.size()] = '\0';
}

// What RegQueryInfoKey reports as a key's security descriptor: the size of a self-relative one
// naming the owner and group, though the store keeps none (POSIX file modes guard the hives).
constexpr DWORD kSecurityDescriptorSize = 20 + 2 * 28;

void setFileTime(PFILETIME ft, int64_t value) {
  if (!ft)
    return;
  auto v = static_cast<uint64_t>(value);
  ft->dwLowDateTime = static_cast<DWORD>(v & 0xffffffffu);
  ft->dwHighDateTime = static_cast<DWORD>(v >> 32);
}

// The size a value's data has where Windows keeps it: strings in UTF-16.
DWORD storedSize(const ValueRow &row) {
  if (!isStringType(row.type) || row.data.empty())
    return static_cast<DWORD>(row.data.size());
  int units = MultiByteToWideChar(CP_UTF8, 0, row.data.data(), static_cast<int>(row.data.size()),
                                  nullptr, 0);
  return static_cast<DWORD>(units) * sizeof(WCHAR);
}

LONG subkeyAt(KeyHandle &h, DWORD index, SubkeyRow *row) {
  switch (h.key.kind) {
  case KeyKind::Plain: {
    HiveDb &db = *h.key.db;
    LONG error = db.beginRead();
    if (error == ERROR_SUCCESS)
      error = db.subkeyAt(h.key.id, index, row);
    if (error == ERROR_NO_MORE_ITEMS)
      return missOrDeleted(db, h.key.id, error);
    return error;
  }
  case KeyKind::Users:
    if (index > 0)
      return ERROR_NO_MORE_ITEMS;
    *row = SubkeyRow{".DEFAULT", ".DEFAULT", 0};
    return ERROR_SUCCESS;
  case KeyKind::Classes:
    break;
  }
  const std::vector<SubkeyRow> *rows = nullptr;
  LONG error = mergedSubkeys(h, &rows);
  if (error != ERROR_SUCCESS)
    return error;
  if (index >= rows->size())
    return ERROR_NO_MORE_ITEMS;
  *row = (*rows)[index];
  return ERROR_SUCCESS;
}

LONG enumKey(HKEY hKey, DWORD index, LPSTR name, LPDWORD nameChars, PFILETIME written) {
  Call call(hKey, KEY_ENUMERATE_SUB_KEYS);
  if (call.status() != ERROR_SUCCESS)
    return call.status();
  SubkeyRow row;
  LONG error = subkeyAt(call.handle(), index, &row);
  if (error != ERROR_SUCCESS)
    return error;
  if (row.name.size() + 1 > *nameChars)
    return ERROR_MORE_DATA;
  copyName(row.name, name);
  *nameChars = static_cast<DWORD>(row.name.size());
  setFileTime(written, row.written);
  return ERROR_SUCCESS;
}

} // namespace
} // namespace vlx

using namespace vlx;

extern "C" {

VLX_WIN32_API LSTATUS WINAPI RegEnumKeyExA(HKEY hKey, DWORD dwIndex, LPSTR lpName,
                                           LPDWORD lpcchName, LPDWORD lpReserved, LPSTR lpClass,
                                           LPDWORD lpcchClass, PFILETIME lpftLastWriteTime) {
  if (!lpName || !lpcchName || lpReserved || (lpClass && !lpcchClass))
    return ERROR_INVALID_PARAMETER;
  LONG error = enumKey(hKey, dwIndex, lpName, lpcchName, lpftLastWriteTime);
  if (error == ERROR_SUCCESS && lpClass) {
    // Keys carry no class name.
    if (*lpcchClass == 0)
      return ERROR_MORE_DATA;
    lpClass[0] = '\0';
    *lpcchClass = 0;
  }
  return error;
}

VLX_WIN32_API LSTATUS WINAPI RegEnumKeyA(HKEY hKey, DWORD dwIndex, LPSTR lpName, DWORD cchName) {
  if (!lpName)
    return ERROR_INVALID_PARAMETER;
  return enumKey(hKey, dwIndex, lpName, &cchName, nullptr);
}

VLX_WIN32_API LSTATUS WINAPI RegEnumValueA(HKEY hKey, DWORD dwIndex, LPSTR lpValueName,
                                           LPDWORD lpcchValueName, LPDWORD lpReserved,
                                           LPDWORD lpType, LPBYTE lpData, LPDWORD lpcbData) {
  if (!lpValueName || !lpcchValueName || lpReserved || (lpData && !lpcbData))
    return ERROR_INVALID_PARAMETER;
  Call call(hKey, KEY_QUERY_VALUE, ERROR_NO_MORE_ITEMS);
  if (call.status() != ERROR_SUCCESS)
    return call.status();
  KeyHandle &h = call.handle();
  ValueRow row;
  LONG error = ERROR_SUCCESS;
  if (h.key.kind == KeyKind::Classes) {
    std::vector<ValueRow> rows;
    error = mergedValues(h, &rows);
    if (error == ERROR_SUCCESS && dwIndex >= rows.size())
      error = ERROR_NO_MORE_ITEMS;
    if (error == ERROR_SUCCESS)
      row = std::move(rows[dwIndex]);
  } else {
    Target t;
    error = valueTarget(h, &t);
    if (error == ERROR_SUCCESS)
      error = t.db->valueAt(t.id, dwIndex, &row);
    if (error == ERROR_NO_MORE_ITEMS)
      error = missOrDeleted(*t.db, t.id, error);
  }
  if (error != ERROR_SUCCESS)
    return error;
  // Too small a name buffer still reports the type and the data size, and the data when it fits;
  // too small a data buffer leaves the name alone. The count of characters is kept either way.
  const DWORD room = lpcbData ? *lpcbData : 0;
  const auto needed = static_cast<DWORD>(row.data.size());
  const bool nameFits = row.name.size() + 1 <= *lpcchValueName;
  if (!nameFits || (lpData && needed > room)) {
    if (lpType)
      *lpType = row.type;
    if (!nameFits && (!lpData || needed <= room))
      copyData(row.data, row.type, lpData, room, lpcbData);
    else if (lpcbData)
      *lpcbData = needed;
    return ERROR_MORE_DATA;
  }
  copyName(row.name, lpValueName);
  *lpcchValueName = static_cast<DWORD>(row.name.size());
  if (lpType)
    *lpType = row.type;
  return copyData(row.data, row.type, lpData, room, lpcbData);
}

VLX_WIN32_API LSTATUS WINAPI RegQueryInfoKeyA(HKEY hKey, LPSTR lpClass, LPDWORD lpcchClass,
                                              LPDWORD lpReserved, LPDWORD lpcSubKeys,
                                              LPDWORD lpcbMaxSubKeyLen, LPDWORD lpcbMaxClassLen,
                                              LPDWORD lpcValues, LPDWORD lpcbMaxValueNameLen,
                                              LPDWORD lpcbMaxValueLen,
                                              LPDWORD lpcbSecurityDescriptor,
                                              PFILETIME lpftLastWriteTime) {
  if (lpReserved || (lpClass && !lpcchClass))
    return ERROR_INVALID_PARAMETER;
  Call call(hKey, KEY_QUERY_VALUE);
  if (call.status() != ERROR_SUCCESS)
    return call.status();
  KeyHandle &h = call.handle();
  KeyCounts counts;
  LONG error = ERROR_SUCCESS;
  if (h.key.kind == KeyKind::Users) {
    counts.subkeys = 1;
    counts.maxSubkeyName = 8; // ".DEFAULT"
  } else {
    Target t;
    error = valueTarget(h, &t);
    bool exists = false;
    if (error == ERROR_SUCCESS)
      error = t.db->keyExists(t.id, &exists, &counts.written);
    if (error == ERROR_SUCCESS && !exists)
      error = ERROR_KEY_DELETED;
    if (error == ERROR_SUCCESS)
      error = t.db->counts(t.id, &counts);
    // Strings count at their UTF-16 size; a Classes key counts the merged values.
    std::vector<ValueRow> values;
    if (error == ERROR_SUCCESS && h.key.kind == KeyKind::Classes) {
      error = mergedValues(h, &values);
      counts.values = static_cast<DWORD>(values.size());
      counts.maxValueName = 0;
      counts.maxValueData = 0;
    } else if (error == ERROR_SUCCESS && counts.maxStringData > 0) {
      error = t.db->stringValues(t.id, &values);
    }
    for (const ValueRow &r : values) {
      counts.maxValueName = std::max(counts.maxValueName, static_cast<DWORD>(r.name.size()));
      counts.maxValueData = std::max(counts.maxValueData, storedSize(r));
    }
    if (error == ERROR_SUCCESS && h.key.kind == KeyKind::Classes) {
      const std::vector<SubkeyRow> *rows = nullptr;
      error = mergedSubkeys(h, &rows);
      if (error == ERROR_SUCCESS) {
        counts.subkeys = static_cast<DWORD>(rows->size());
        counts.maxSubkeyName = 0;
        for (const SubkeyRow &r : *rows)
          counts.maxSubkeyName = std::max(counts.maxSubkeyName, static_cast<DWORD>(r.name.size()));
      }
    }
  }
  if (error != ERROR_SUCCESS)
    return error;
  // Keys carry no class name: an empty one fits any buffer, even one of no characters.
  if (lpClass && *lpcchClass > 0)
    lpClass[0] = '\0';
  if (lpcchClass)
    *lpcchClass = 0;
  if (lpcSubKeys)
    *lpcSubKeys = counts.subkeys;
  if (lpcbMaxSubKeyLen)
    *lpcbMaxSubKeyLen = counts.maxSubkeyName;
  if (lpcbMaxClassLen)
    *lpcbMaxClassLen = 0;
  if (lpcValues)
    *lpcValues = counts.values;
  if (lpcbMaxValueNameLen)
    *lpcbMaxValueNameLen = counts.maxValueName;
  if (lpcbMaxValueLen)
    *lpcbMaxValueLen = counts.maxValueData;
  if (lpcbSecurityDescriptor)
    *lpcbSecurityDescriptor = kSecurityDescriptorSize;
  setFileTime(lpftLastWriteTime, counts.written);
  return ERROR_SUCCESS;
}

} // extern "C"
