// `vlx pref` and `vlx demo`: declared on the command line, run when parsed.
#pragma once

#include "vlx/core/flags.h"

namespace vlx::cli {

// Adds `pref` and its commands to `app`; `json` is the flag their printing commands set.
RunParsed addPrefCommands(CLI::App &app, bool &json);
// Adds `demo` to `app`.
RunParsed addDemoCommand(CLI::App &app);

} // namespace vlx::cli
