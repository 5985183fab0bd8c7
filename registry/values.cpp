// The exported typed preference calls: user and machine writes, reads with the fall-back.
#include "registry/key.h"
#include "registry/workers.h"

using vlx::Key;

namespace {

int setValue(HKEY hive, CString section, CString valueName, valueTypes type, CString stringValue,
             int *intValue, double *doubleValue) {
  Key software;
  if (!software.open(hive, "Software", KEY_WRITE))
    return 0;
  return vlx::regWriteValue(software, section, valueName, type, stringValue, intValue,
                            doubleValue);
}

} // namespace

int regSetUserValue(CString section, CString valueName, valueTypes type, CString stringValue,
                    int *intValue, double *doubleValue) {
  return setValue(HKEY_CURRENT_USER, section, valueName, type, stringValue, intValue,
                  doubleValue);
}

int regSetLocMachineValue(CString section, CString valueName, valueTypes type,
                          CString stringValue, int *intValue, double *doubleValue) {
  return setValue(HKEY_LOCAL_MACHINE, section, valueName, type, stringValue, intValue,
                  doubleValue);
}

// The user's value, else the machine's, else the default user's.
int regGetUserValue(CString section, CString valueName, valueTypes type, CString &stringValue,
                    int *intValue, double *doubleValue) {
  Key software;
  if (!software.open(HKEY_CURRENT_USER, "Software", KEY_READ))
    return 0;
  if (vlx::regReadValue(software, section, valueName, type, stringValue, intValue, doubleValue))
    return 1;

  if (software.open(HKEY_LOCAL_MACHINE, "Software", KEY_READ) &&
      vlx::regReadValue(software, section, valueName, type, stringValue, intValue, doubleValue))
    return 1;

  Key defaultUser;
  if (!defaultUser.open(HKEY_USERS, ".DEFAULT", KEY_READ) ||
      !software.open(defaultUser, "Software", KEY_READ))
    return 0;
  return vlx::regReadValue(software, section, valueName, type, stringValue, intValue,
                           doubleValue);
}
