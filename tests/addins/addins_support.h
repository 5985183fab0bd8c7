// Helpers of the add-in tests: sample classes and registry set-up in one call each.
#pragma once

#include "platform/registry_support.h"

#include <velmora/addins.h>

#include <string>

namespace addintest {

inline GUID sampleClass(BYTE last) {
  return GUID{0x0123ABCD, 0x4567, 0x89EF, {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, last}};
}

// The braced text StringFromCLSID gives for sampleClass(last).
inline std::string sampleText(BYTE last) {
  char text[39];
  std::snprintf(text, sizeof text, "{0123ABCD-4567-89EF-0123-456789ABCD%02X}", last);
  return text;
}

// Writes a value of `type` (a string with its zero) at root\path, creating the key.
inline void setText(HKEY root, const std::string &path, const char *name, const std::string &text,
                    DWORD type = REG_SZ) {
  regtest::Key k;
  ASSERT_EQ(regtest::createKey(root, path.c_str(), k), ERROR_SUCCESS);
  ASSERT_EQ(RegSetValueExA(k, name, 0, type, reinterpret_cast<const BYTE *>(text.c_str()),
                           static_cast<DWORD>(text.size() + 1)),
            ERROR_SUCCESS);
}

inline bool keyExists(HKEY root, const char *path) {
  regtest::Key k;
  return regtest::openKey(root, path, k) == ERROR_SUCCESS;
}

// The start-up list's entry names in enumeration order; empty when there is no list.
inline regtest::Names startupNames() {
  regtest::Key k;
  if (regtest::openKey(HKEY_CURRENT_USER, "Software\\Velmora\\Startup\\Applications", k) !=
      ERROR_SUCCESS)
    return {};
  return regtest::names(k);
}

// The default value of an entry of the start-up list.
inline std::string startupText(const std::string &name) {
  char text[300];
  LONG size = sizeof text;
  std::string path = "Software\\Velmora\\Startup\\Applications\\" + name;
  return RegQueryValueA(HKEY_CURRENT_USER, path.c_str(), text, &size) == ERROR_SUCCESS
             ? std::string(text)
             : "<none>";
}

} // namespace addintest
