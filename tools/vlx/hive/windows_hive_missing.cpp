// Hive files in a build without libhivex: the command stays and says what it lacks.
#include "vlx/hive/windows_hive.h"

#include "vlx/core/errors.h"

namespace vlx::cli {

HiveRead readWindowsHive(const std::string &, const std::optional<std::string> &, reg::Root) {
  throw Failure("this vlx was built without Windows hive support; install libhivex-dev (Debian) "
                "and rebuild it");
}

} // namespace vlx::cli
