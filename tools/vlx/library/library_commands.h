// The commands that put the library's own calls on the command line, declared there and run when
// parsed; each function adds its commands to `app`.
#pragma once

#include "vlx/core/flags.h"

namespace vlx::cli {

// `datecode`, with `widen` and `stamp`.
RunParsed addDateCodeCommands(CLI::App &app);
// `path`, `ls`, `temp` and `backup`.
RunParsed addFileCommands(CLI::App &app);
// `addins`, `clsid` and `lang`; `json` is the flag their data-printing commands set (--json).
RunParsed addAddinCommands(CLI::App &app, bool &json);
// `variant convert`.
RunParsed addVariantCommands(CLI::App &app);

} // namespace vlx::cli
