// `vlx reg backup` and `vlx reg restore`: a hive copied whole, safely while hosts run.
#pragma once

#include <CLI/CLI.hpp>

#include <functional>
#include <ostream>

namespace vlx::cli {

// Adds the commands to `reg`; the function returned runs the one that was parsed, if either
// was. Commands throw Failure.
std::function<void(std::ostream &)> addHiveCopyCommands(CLI::App &reg);

} // namespace vlx::cli
