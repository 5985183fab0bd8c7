// `vlx reg copy` and `vlx reg compare`: reg.exe's verbs on two keys.
#pragma once

#include "vlx/core/flags.h"

namespace vlx::cli {

// Adds the commands to `reg`; compare exits 1 when the keys differ.
RunParsed addKeyCopyCommands(CLI::App &reg);

} // namespace vlx::cli
