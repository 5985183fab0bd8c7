// The per-process scratch directory below the user's temporary directory, and paths in it.
#include <velmora/files.h>

namespace {

// A variable set to the empty text counts as unset, as in the Windows run-time, where such a
// variable cannot exist; it would otherwise put the directory at the root.
const char *variable(const char *name) {
  const char *value = vlx::getenv(name);
  return value != nullptr && *value != '\0' ? value : nullptr;
}

} // namespace

CString su_CreateTempDirectory() {
  char pid[16];
  _itoa(_getpid(), pid, 10);
  const CString name = CString("vlx") + pid;

  const char *base = variable("temp");
  if (base == nullptr)
    base = variable("tmp");
  if (base == nullptr)
    return CString();
  // The separator goes in even after a base that ends in one.
  CString directory = CString(base) + "\\" + name + "\\";

  // Only the base is searched, and any entry of the name counts, file or directory.
  char found[MAX_PATH];
  if (SearchPathA(base, name, nullptr, MAX_PATH, found, nullptr) == 0)
    _mkdir(directory);
  // A shared base lets another user plant the name first: what is not verified private to the
  // user is not handed out, as if there were no temporary location at all.
  if (!vlx::isPrivateDirectory(directory))
    return CString();
  return directory;
}

CString su_CreateTempFilePath(const char *fileName) {
  CString directory = su_CreateTempDirectory();
  if (directory.IsEmpty())
    return directory;
  return directory + fileName;
}
