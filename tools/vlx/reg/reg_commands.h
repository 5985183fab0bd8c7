// The `vlx reg` commands, declared on the command line and run when parsed.
#pragma once

#include "vlx/core/flags.h"

namespace vlx::cli {

// Adds export, import, import-hive, query, add, delete and check to `reg`; `json` is the flag
// their printing and changing commands set.
RunParsed addRegCommands(CLI::App &reg, bool &json);
// The part of addRegCommands that declares query, add and delete.
RunParsed addQueryCommands(CLI::App &reg, bool &json);
// Adds copy and compare to `reg`; compare exits 1 when the keys differ.
RunParsed addKeyCopyCommands(CLI::App &reg);

} // namespace vlx::cli
