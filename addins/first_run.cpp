// regFirstTimeAddInLumivane: the sibling add-in enabled once, for a user with no start-up list.
#include "addins/class_text.h"
#include "registry/key.h"

#include <velmora/addins.h>

int regFirstTimeAddInLumivane() {
  GUID clsid;
  {
    vlx::Key sibling;
    if (!sibling.open(HKEY_LOCAL_MACHINE, "SOFTWARE\\Velmora\\Applications\\Lumivane",
                      KEY_QUERY_VALUE))
      return 0;
    char text[vlx::kNameChars + 1] = {};
    DWORD type = REG_NONE, size = vlx::kNameChars;
    if (RegQueryValueExA(sibling, "CLSID", nullptr, &type, reinterpret_cast<LPBYTE>(text), &size) !=
            ERROR_SUCCESS ||
        type != REG_SZ || AfxGetClassIDFromString(text, &clsid) != S_OK)
      return 0;
  }
  // The list's existence, even empty, marks the step as taken.
  {
    vlx::Key startup;
    if (startup.open(HKEY_CURRENT_USER, "SOFTWARE\\Velmora\\Startup\\Applications",
                     KEY_QUERY_VALUE))
      return 0;
  }
  regAddToStartupList(clsid, "Lumivane");
  return 1;
}
