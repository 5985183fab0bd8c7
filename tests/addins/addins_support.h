// Helpers of the add-in tests: sample classes and registry set-up in one call each.
#pragma once

#include "platform/registry_support.h"

#include <velmora/addins.h>

#include <cstdio>
#include <string>

namespace addintest {

using regtest::Names;
const char kStartup[] = "Software\\Velmora\\Startup\\Applications";

inline GUID sampleClass(BYTE last) {
  return GUID{0x0123ABCD, 0x4567, 0x89EF, {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, last}};
}

// The braced text StringFromCLSID gives for sampleClass(last).
inline std::string sampleText(BYTE last) {
  char text[39];
  std::snprintf(text, sizeof text, "{0123ABCD-4567-89EF-0123-456789ABCD%02X}", last);
  return text;
}

// A string value (with its zero) of `type` at root\path, the key created where missing.
inline LONG setText(HKEY root, const std::string &path, const char *name, const std::string &text,
                    DWORD type = REG_SZ) {
  regtest::Key k;
  LONG rc = regtest::createKey(root, path.c_str(), k);
  return rc != ERROR_SUCCESS
             ? rc
             : RegSetValueExA(k, name, 0, type, reinterpret_cast<const BYTE *>(text.c_str()),
                              static_cast<DWORD>(text.size() + 1));
}

inline bool keyExists(HKEY root, const char *path) {
  regtest::Key k;
  return regtest::openKey(root, path, k) == ERROR_SUCCESS;
}

// The start-up list's entries in enumeration order, each as "name=default value".
inline Names startupEntries() {
  Names entries;
  regtest::Key list;
  if (regtest::openKey(HKEY_CURRENT_USER, kStartup, list) == ERROR_SUCCESS)
    for (const std::string &name : regtest::names(list)) {
      char text[300] = {};
      LONG size = sizeof text;
      RegQueryValueA(list, name.c_str(), text, &size);
      entries.push_back(name + "=" + text);
    }
  return entries;
}

} // namespace addintest
