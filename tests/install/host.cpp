// A host built against an installed copy: only the installation's include/ on the path.
#include <velmora/errors.h>
#include <velmora/frame.h>
#include <velmora/registry.h>

#include <cstdio>

int main() {
  int copies = 2;
  if (!regSetUserValue("General", "Backup Copies", intType, "", &copies, nullptr))
    return 1;
  int back = 0;
  CString unused;
  if (!regGetUserValue("General", "Backup Copies", intType, unused, &back, nullptr) || back != 2)
    return 2;
  setSaveModelAsExample(3);
  std::printf("host ok: %d %u\n", ut_isModelExample(), su_getFullDateCode());
  return 0;
}
