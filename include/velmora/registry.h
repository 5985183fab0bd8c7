// Typed preferences below Software\Velmora: reading with the user -> machine -> default-user
// fall-back, writing, deleting and resetting.
#pragma once

#include <velmora/afx.h>
#include <velmora/export.h>
#include <velmora/win32.h>

// The kind of a preference value. Its type is fixed to int because hosts pass any int:
// every value other than intType and stringType acts as doubleType.
enum valueTypes : int { intType = 0, doubleType = 1, stringType = 2 };

VLX_API int regSetUserValue(CString section, CString valueName, valueTypes type,
                            CString stringValue, int *intValue, double *doubleValue);
VLX_API int regSetLocMachineValue(CString section, CString valueName, valueTypes type,
                                  CString stringValue, int *intValue, double *doubleValue);
VLX_API int regGetUserValue(CString section, CString valueName, valueTypes type,
                            CString &stringValue, int *intValue, double *doubleValue);

VLX_API int regDelSoftwareKey(HKEY root, CString keyPath, CString subKeyName);
VLX_API int regDelSoftwareValue(CString section, CString valueName);

VLX_API int regResetUserPrefInfo();
