// The value workers below an open "Software" key, shared by the preference calls and the reset.
#pragma once

#include <velmora/registry.h>

namespace vlx {

// The product key below every hive's "Software".
inline constexpr const char *productKey = "Velmora";
// Strings and number texts are read into a buffer of this many bytes, terminator included.
inline constexpr DWORD readBufferSize = 256;

int regWriteValue(HKEY softwareKey, CString section, CString valueName, valueTypes type,
                  CString stringValue, int *intValue, double *doubleValue);
int regReadValue(HKEY softwareKey, CString section, CString valueName, valueTypes type,
                 CString &stringValue, int *intValue, double *doubleValue);

} // namespace vlx
