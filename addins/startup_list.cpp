// The installed add-in list (machine) and the user's start-up list: reading, adding, finding and
// removing entries.
#include "addins/class_text.h"
#include "registry/key.h"

#include <velmora/addins.h>

#include <initializer_list>

namespace {

const char kStartupPath[] = "Software\\Velmora\\Startup\\Applications";

// Opens root\Software\Velmora\<levels...> one level at a time, as a list is always opened.
bool openLevels(HKEY root, std::initializer_list<const char *> levels, REGSAM access,
                vlx::Key &list) {
  // Each level stays open until the one below it is; the last is opened into `list`.
  vlx::Key levelKeys[2];
  HKEY at = root;
  size_t depth = 0;
  for (const char *level : levels) {
    vlx::Key &into = ++depth == levels.size() ? list : levelKeys[depth % 2];
    if (!into.open(at, level, access))
      return false;
    at = into;
  }
  return true;
}

bool openStartupForReading(vlx::Key &list) {
  return openLevels(HKEY_CURRENT_USER, {"Software", "Velmora", "Startup", "Applications"}, KEY_READ,
                    list);
}

// Any level missing: the whole path is created (existing levels are opened).
bool openOrCreateStartup(vlx::Key &list) {
  if (openLevels(HKEY_CURRENT_USER, {"Software", "Velmora", "Startup", "Applications"},
                 KEY_ALL_ACCESS, list))
    return true;
  return RegCreateKeyA(HKEY_CURRENT_USER, kStartupPath, list.out()) == ERROR_SUCCESS;
}

// The name of the subkey at `index`; a negative index is past every end.
bool nameAt(HKEY list, int index, char (&name)[vlx::kNameChars]) {
  DWORD chars = vlx::kNameChars;
  return RegEnumKeyExA(list, static_cast<DWORD>(index), name, &chars, nullptr, nullptr, nullptr,
                       nullptr) == ERROR_SUCCESS;
}

} // namespace

int regEnumApplications(int index, GUID &clsid, CString *name) {
  vlx::Key list;
  if (!openLevels(HKEY_LOCAL_MACHINE, {"Software", "Velmora", "Applications"}, KEY_READ, list))
    return 0;
  char entryName[vlx::kNameChars];
  if (!nameAt(list, index, entryName))
    return 0;
  vlx::Key entry;
  if (!entry.open(list, entryName, KEY_READ))
    return 0;
  // One spare byte keeps data stored without its zero terminated.
  char text[vlx::kNameChars + 1] = {};
  DWORD type = REG_NONE, size = vlx::kNameChars;
  if (RegQueryValueExA(entry, "CLSID", nullptr, &type, reinterpret_cast<LPBYTE>(text), &size) !=
          ERROR_SUCCESS ||
      type != REG_SZ)
    return 0;
  if (AfxGetClassIDFromString(text, &clsid) != S_OK)
    return 0;
  if (name)
    *name = entryName;
  return 1;
}

void regAddToStartupList(GUID clsid, CString name) {
  vlx::Key list;
  if (!openOrCreateStartup(list))
    return;
  vlx::Key entry;
  if (RegCreateKeyA(list, name, entry.out()) != ERROR_SUCCESS)
    return;
  const CString text = vlx::classText(clsid);
  RegSetValueA(entry, nullptr, REG_SZ, text, static_cast<DWORD>(text.GetLength()));
}

void regDeleteFromStartupList(int index) {
  vlx::Key list;
  if (!openOrCreateStartup(list))
    return;
  char name[vlx::kNameChars];
  if (!nameAt(list, index, name))
    return;
  RegDeleteKeyA(list, name);
}

int regAddInStartup(GUID clsid) {
  vlx::Key list;
  if (!openStartupForReading(list))
    return -1;
  // The first entry that cannot be opened, read or understood ends the search.
  for (int position = 0;; ++position) {
    char name[vlx::kNameChars];
    if (!nameAt(list, position, name))
      return -1;
    vlx::Key entry;
    if (!entry.open(list, name, KEY_READ))
      return -1;
    char text[vlx::kNameChars + 1] = {};
    LONG size = vlx::kNameChars;
    if (RegQueryValueA(entry, nullptr, text, &size) != ERROR_SUCCESS)
      return -1;
    GUID entryClass;
    if (AfxGetClassIDFromString(text, &entryClass) != S_OK)
      return -1;
    if (IsEqualGUID(entryClass, clsid))
      return position;
  }
}
