// `vlx reg backup` and `vlx reg restore`: a hive copied whole, safely while hosts run.
#pragma once

#include "vlx/core/flags.h"

namespace vlx::cli {

// Adds the commands to `reg`.
RunParsed addHiveCopyCommands(CLI::App &reg);

} // namespace vlx::cli
