// Backup copies: one copy of a file beside it, under the host's prefix, and its resolution.
#include <velmora/files.h>
#include <velmora/registry.h>

#include "files/backup_count.h"

#include <cstring>

namespace {

// The host's string; the library carries none.
constexpr UINT kBackupPrefixId = 10122;

// Name, extension and directory of `path`, cut by the rules of suFullPath_c.
struct PathParts {
  explicit PathParts(const CString &path) {
    suFullPath_c full(path);
    full.getName(&name);
    full.getExtension(&extension);
    full.getDirectory(&directory);
  }
  CString fileName() const { return name + "." + extension; }

  CString name;
  CString extension;
  CString directory;
};

bool listed(const PathParts &parts, const CString &entry) {
  CStringList names;
  su_FindFilesWithExt(parts.directory, parts.extension, names);
  return names.Find(entry) != nullptr;
}

// Empty when the host has no such string (or formats it to nothing).
CString backupPrefix() {
  CString prefix;
  AfxFormatString1(prefix, kBackupPrefixId, "");
  return prefix;
}

// The caller's buffer holds MAX_PATH characters. A longer text is given as the empty text, which
// names no file: a cut one could name another.
void writeResult(char *result, const char *text, size_t length) {
  if (length >= MAX_PATH) {
    result[0] = '\0';
    return;
  }
  // memmove: the caller may hand the same buffer for both.
  std::memmove(result, text, length + 1);
}

} // namespace

int su_CreateBackupOfFile(CString path) {
  const PathParts parts(path);
  // The file must be listed under exactly this spelling; this comes before the preference.
  if (!listed(parts, parts.fileName()))
    return 0;
  switch (vlx::backupCount()) {
  case 0:
    return 1;
  case 1: {
    const CString prefix = backupPrefix();
    // Without a prefix the backup path would name the file itself.
    if (prefix.IsEmpty())
      return 0;
    const CString backupPath = parts.directory + "\\" + prefix + parts.fileName();
    // There may be no earlier backup; the copy decides the result.
    DeleteFileA(backupPath);
    return CopyFileA(path, backupPath, FALSE);
  }
  default:
    return 0;
  }
}

void su_ResolveToBackupFile(const char *path, char *result) {
  const PathParts parts(path);
  const CString prefix = backupPrefix();
  const CString backupName = prefix + parts.fileName();
  // An empty prefix names the file itself, which is no backup.
  if (!prefix.IsEmpty() && listed(parts, backupName)) {
    const CString backupPath = parts.directory + "\\" + backupName;
    writeResult(result, backupPath.GetString(), static_cast<size_t>(backupPath.GetLength()));
    return;
  }
  writeResult(result, path, std::strlen(path));
}
