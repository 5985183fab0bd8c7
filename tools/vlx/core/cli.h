// Entry of the vlx tool: parses the command line and runs one command.
#pragma once

#include <ostream>

namespace vlx::cli {

// Returns the exit status: 0 success, 1 a failed command (or a preference not set), 2 a usage
// error. Failures are reported on `err` as one "vlx: ..." line.
int run(int argc, const char *const *argv, std::ostream &out, std::ostream &err);

} // namespace vlx::cli
