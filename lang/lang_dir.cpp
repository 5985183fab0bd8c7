// The language subdirectory and directory, each decided once and then served from its cache.
#include "frame/entry.h"

#include <velmora/files.h>
#include <velmora/lang.h>
#include <velmora/registry.h>

#include <vector>

namespace {

// Built before the library entry runs, as the host may ask as soon as the library is loaded.
VLX_LIBRARY_STATIC CString langSubdir;
VLX_LIBRARY_STATIC CString langDir;

const char *languageSuffix(LANGID language, bool useEnglish) {
  const WORD primary = PRIMARYLANGID(language), sub = SUBLANGID(language);
  if (useEnglish)
    return "\\english";
  switch (primary) {
  case LANG_JAPANESE:
    return "\\japanese";
  case LANG_FRENCH:
    return "\\french";
  case LANG_CHINESE:
    // Only traditional Chinese has its own resources.
    return sub == SUBLANG_CHINESE_TRADITIONAL ? "\\chinese" : "\\english";
  case LANG_GERMAN:
    return "\\german";
  case LANG_SPANISH:
    return "\\spanish";
  case LANG_ITALIAN:
    return "\\italian";
  default:
    return "\\english";
  }
}

// The main executable's directory without its final separator: cut at the last backslash, else
// at the last forward slash; empty when there is neither or no path.
CString installationDirectory() {
  std::vector<char> path(32768);
  DWORD length = GetModuleFileNameA(nullptr, path.data(), static_cast<DWORD>(path.size()));
  if (length == 0 || length >= path.size())
    return CString();
  CString file(path.data());
  int cut = file.ReverseFind('\\');
  if (cut < 0)
    cut = file.ReverseFind('/');
  return cut < 0 ? CString() : file.Left(cut);
}

} // namespace

const CString &su_GetLangSubdir() {
  if (!langSubdir.IsEmpty())
    return langSubdir;
  langSubdir += "\\lang";
  const LANGID language = GetUserDefaultLangID();
  CString unused;
  int preference = 0;
  const bool useEnglish =
      regGetUserValue("General", "Use English language", intType, unused, &preference, nullptr) &&
      preference == 1;
  langSubdir += languageSuffix(language, useEnglish);
  return langSubdir;
}

const CString &su_GetLangDirForDLL() {
  if (!langDir.IsEmpty())
    return langDir;
  const CString install = installationDirectory();
  const CString wanted = install + su_GetLangSubdir();
  langDir = wanted;
  if (su_DirectoryExists(langDir))
    return langDir;
  langDir = install + "\\lang\\english";
  if (su_DirectoryExists(langDir))
    return langDir;
  // The language's own path is named even when English was the fall-back tried last.
  AfxMessageBox("The " + wanted + " directory could not be found. \nYou may need to reinstall.",
                MB_OK, 0);
  langDir.Empty();
  return langDir;
}
