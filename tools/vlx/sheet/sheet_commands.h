// `vlx sheet`: declared on the command line, run when parsed.
#pragma once

#include "vlx/core/flags.h"

namespace vlx::cli {

// Adds `sheet` and its commands to `app`; `json` is the flag their printing commands set.
RunParsed addSheetCommands(CLI::App &app, bool &json);

} // namespace vlx::cli
