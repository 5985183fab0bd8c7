// Reading and writing one typed value below a hive's "Software" key.
#include "registry/workers.h"
#include "registry/key.h"

#include <cstdio>
#include <cstring>

namespace vlx {

int regWriteValue(HKEY softwareKey, CString section, CString valueName, valueTypes type,
                  CString stringValue, int *intValue, double *doubleValue) {
  Key product, sectionKey;
  if (!product.create(softwareKey, productKey, KEY_WRITE) ||
      !sectionKey.create(product, section, KEY_WRITE))
    return 0;

  DWORD regType = REG_SZ;
  const BYTE *data = nullptr;
  DWORD size = 0;
  char number[32];
  if (type == intType) {
    regType = REG_DWORD;
    data = reinterpret_cast<const BYTE *>(intValue);
    size = sizeof(DWORD);
  } else if (type == stringType) {
    size = static_cast<DWORD>(stringValue.GetLength()) + 1;
    data = reinterpret_cast<const BYTE *>(static_cast<LPCTSTR>(stringValue));
  } else {
    std::snprintf(number, sizeof number, "%.18g", *doubleValue);
    size = static_cast<DWORD>(std::strlen(number)) + 1;
    data = reinterpret_cast<const BYTE *>(number);
  }
  return RegSetValueExA(sectionKey, valueName, 0, regType, data, size) == ERROR_SUCCESS ? 1 : 0;
}

int regReadValue(HKEY softwareKey, CString section, CString valueName, valueTypes type,
                 CString &stringValue, int *intValue, double *doubleValue) {
  Key product, sectionKey;
  if (!product.open(softwareKey, productKey, KEY_READ) ||
      !sectionKey.open(product, section, KEY_READ))
    return 0;

  DWORD regType = REG_NONE;
  if (type == intType) {
    DWORD number = 0;
    DWORD size = sizeof number;
    if (RegQueryValueExA(sectionKey, valueName, nullptr, &regType,
                         reinterpret_cast<BYTE *>(&number), &size) != ERROR_SUCCESS ||
        regType != REG_DWORD)
      return 0;
    *intValue = static_cast<int>(number);
    return 1;
  }

  // One spare byte keeps a text that fills the whole buffer terminated.
  char text[readBufferSize + 1] = {};
  DWORD size = readBufferSize;
  if (RegQueryValueExA(sectionKey, valueName, nullptr, &regType, reinterpret_cast<BYTE *>(text),
                       &size) != ERROR_SUCCESS ||
      regType != REG_SZ)
    return 0;
  if (type == stringType) {
    stringValue = CString(text, static_cast<int>(strnlen(text, size)));
  } else {
    // A text that is not a number leaves the value as it was, and still counts as found.
    std::sscanf(text, "%lf", doubleValue);
  }
  return 1;
}

} // namespace vlx
