// regFromCLSIDKey: a walk of HKEY_CLASSES_ROOT\CLSID for the class's key and one of its strings.
#include "addins/class_text.h"
#include "registry/key.h"

#include <velmora/addins.h>

int regFromCLSIDKey(const GUID &clsid, char *subKey, CString &value) {
  const CString text = vlx::classText(clsid);
  vlx::Key classes;
  if (RegOpenKeyA(HKEY_CLASSES_ROOT, "CLSID", classes.out()) != ERROR_SUCCESS)
    return 0;
  // Each subkey is opened, then its name compared without regard to case, so a key written
  // in lower-case digits is found. Opening the next one closes the previous.
  vlx::Key classKey;
  char name[vlx::kNameChars];
  for (DWORD index = 0;; ++index) {
    if (RegEnumKeyA(classes, index, name, sizeof name) != ERROR_SUCCESS)
      return 0;
    if (RegOpenKeyA(classes, name, classKey.out()) != ERROR_SUCCESS)
      continue;
    if (_mbsicmp(reinterpret_cast<const unsigned char *>(name),
                 reinterpret_cast<const unsigned char *>(static_cast<LPCTSTR>(text))) == 0)
      break;
  }
  // One spare byte keeps data stored without its zero terminated.
  char data[vlx::kNameChars + 1] = {};
  LONG size = vlx::kNameChars;
  if (RegQueryValueA(classKey, subKey, data, &size) != ERROR_SUCCESS)
    return 0;
  value = data;
  return 1;
}
