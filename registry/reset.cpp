// Resetting the user's preference sections to copies of the machine's.
#include "registry/key.h"
#include "registry/workers.h"

#include <cstring>

using vlx::Key;

namespace {

// Names and data are fetched into buffers of this size: names of up to 260 characters.
constexpr DWORD nameBufferSize = 261;

// Machine sections that belong to the product itself or to the add-in list are not preferences.
bool isPreferenceSection(const char *name) {
  return std::strncmp(name, "Velmora", 7) != 0 && std::strncmp(name, "Applications", 12) != 0;
}

// Collects the machine's preference sections in enumeration order; false on any error but the
// end of the list.
bool collectSections(HKEY machineProduct, CStringArray &sections) {
  for (DWORD index = 0;; ++index) {
    char name[nameBufferSize];
    DWORD length = nameBufferSize;
    LONG status =
        RegEnumKeyExA(machineProduct, index, name, &length, nullptr, nullptr, nullptr, nullptr);
    if (status == ERROR_NO_MORE_ITEMS)
      return true;
    if (status != ERROR_SUCCESS)
      return false;
    if (isPreferenceSection(name))
      sections.Add(name);
  }
}

// Copies the REG_DWORD and REG_SZ values of one machine section into the user's section of the
// same name; false on any error but the end of the values.
bool copySectionValues(HKEY machineSoftware, HKEY userSoftware, HKEY machineSection,
                       const CString &section) {
  for (DWORD index = 0;; ++index) {
    char name[nameBufferSize];
    DWORD nameLength = nameBufferSize;
    DWORD regType = REG_NONE;
    BYTE data[nameBufferSize];
    DWORD dataSize = nameBufferSize;
    LONG status =
        RegEnumValueA(machineSection, index, name, &nameLength, nullptr, &regType, data, &dataSize);
    if (status == ERROR_NO_MORE_ITEMS)
      return true;
    if (status != ERROR_SUCCESS)
      return false;
    valueTypes kind;
    if (regType == REG_DWORD)
      kind = intType;
    else if (regType == REG_SZ)
      kind = stringType;
    else
      continue;
    // The value is read again by name, so the reader's limits apply. A machine string the
    // reader refuses (256 to 260 characters) is left out rather than written with stale data.
    CString text;
    int number = 0;
    if (vlx::regReadValue(machineSoftware, section, name, kind, text, &number, nullptr))
      vlx::regWriteValue(userSoftware, section, name, kind, text, &number, nullptr);
  }
}

// Deletes each listed user section and fills it again from the machine's; false when the reset
// stops part-way.
bool resetSections(const CStringArray &sections, HKEY machineSoftware, HKEY machineProduct,
                   HKEY userSoftware, HKEY userProduct) {
  for (INT_PTR i = 0; i < sections.GetSize(); ++i) {
    const CString section = sections[i];
    // A missing user section is no obstacle; one with subkeys stays and is overwritten.
    regDelSoftwareKey(HKEY_CURRENT_USER, section, CString());
    Key machineSection, userSection;
    if (!machineSection.open(machineProduct, section, KEY_READ))
      return false;
    // Created even for a machine section without values.
    userSection.create(userProduct, section, KEY_ALL_ACCESS);
    if (!copySectionValues(machineSoftware, userSoftware, machineSection, section))
      return false;
  }
  return true;
}

} // namespace

int regResetUserPrefInfo() {
  Key machineSoftware, machineProduct, userSoftware, userProduct;
  if (!machineSoftware.open(HKEY_LOCAL_MACHINE, "Software", KEY_READ) ||
      !machineProduct.open(machineSoftware, vlx::productKey, KEY_READ) ||
      !userSoftware.open(HKEY_CURRENT_USER, "Software", KEY_ALL_ACCESS) ||
      !userProduct.create(userSoftware, vlx::productKey, KEY_ALL_ACCESS))
    return 0;

  // The whole list is collected before any user section is touched.
  CStringArray sections;
  if (!collectSections(machineProduct, sections))
    return 0;

  // The user's side lands as one change: a process killed part-way leaves it as it was.
  bool done = false;
  vlx::groupRegistryChanges(HKEY_CURRENT_USER, [&] {
    done = resetSections(sections, machineSoftware, machineProduct, userSoftware, userProduct);
  });
  sections.RemoveAll();
  return done ? 1 : 0;
}
