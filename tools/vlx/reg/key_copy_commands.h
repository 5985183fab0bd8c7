// `vlx reg copy` and `vlx reg compare`: reg.exe's verbs on two keys.
#pragma once

#include <CLI/CLI.hpp>

#include <functional>
#include <ostream>

namespace vlx::cli {

// Adds the commands to `reg`; the function returned runs the one that was parsed, if either
// was. Commands throw Failure; compare exits 1 when the keys differ.
std::function<void(std::ostream &)> addKeyCopyCommands(CLI::App &reg);

} // namespace vlx::cli
