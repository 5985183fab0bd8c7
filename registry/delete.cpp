// Deleting preference keys below the product key and values from the user's sections.
#include "registry/key.h"
#include "registry/workers.h"

using vlx::Key;

int regDelSoftwareKey(HKEY root, CString keyPath, CString subKeyName) {
  Key software, product;
  if (!software.open(root, "Software", KEY_ALL_ACCESS) ||
      !product.open(software, vlx::productKey, KEY_ALL_ACCESS))
    return 0;
  if (subKeyName.IsEmpty())
    return RegDeleteKeyA(product, keyPath) == ERROR_SUCCESS ? 1 : 0;

  Key parent;
  if (!parent.open(product, keyPath, KEY_ALL_ACCESS))
    return 0;
  // A single-key deletion: a key that still has subkeys stays, as the registry rules.
  return RegDeleteKeyA(parent, subKeyName) == ERROR_SUCCESS ? 1 : 0;
}

int regDelSoftwareValue(CString section, CString valueName) {
  Key software, product, sectionKey;
  if (!software.open(HKEY_CURRENT_USER, "Software", KEY_READ) ||
      !product.open(software, vlx::productKey, KEY_READ) ||
      !sectionKey.open(product, section, KEY_SET_VALUE))
    return 0;
  return RegDeleteValueA(sectionKey, valueName) == ERROR_SUCCESS ? 1 : 0;
}
