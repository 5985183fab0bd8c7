// A shared library that is no server: it lacks DllGetClassObject, and its constructor leaves a
// mark, so that a test sees whether loading it was tried.
#include <cstdio>
#include <cstdlib>

namespace {

__attribute__((constructor)) void leaveMark() {
  if (const char *path = std::getenv("VLX_TEST_MARK"))
    if (std::FILE *mark = std::fopen(path, "w"))
      std::fclose(mark);
}

} // namespace

extern "C" __attribute__((visibility("default"))) long DllCanUnloadNow() { return 0; }
