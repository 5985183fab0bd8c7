// `vlx addins`, `vlx clsid` and `vlx lang`: declared on the command line, run when parsed.
#pragma once

#include <CLI/CLI.hpp>

#include <functional>
#include <ostream>

namespace vlx::cli {

// Adds the commands to `app`; the function returned runs the one that was parsed, if any of them
// was. Commands throw Failure.
// `json` is the flag their data-printing commands set (--json).
std::function<void(std::ostream &)> addAddinCommands(CLI::App &app, bool &json);

} // namespace vlx::cli
