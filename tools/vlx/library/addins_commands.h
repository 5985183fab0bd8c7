// `vlx addins`, `vlx clsid` and `vlx lang`: declared on the command line, run when parsed.
#pragma once

#include "vlx/core/flags.h"

namespace vlx::cli {

// Adds the commands to `app`; `json` is the flag their data-printing commands set (--json).
RunParsed addAddinCommands(CLI::App &app, bool &json);

} // namespace vlx::cli
