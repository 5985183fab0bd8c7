// The manual page and the shell completion, written from the command tree that `--help` prints,
// and the look-ups the completion makes at run time. Reached through calls that --help does not
// list:
//   vlx __man VERSION           the vlx(1) page, in roff
//   vlx __bash-completion       the bash completion script
//   vlx __complete key WORD     registry keys that complete WORD, one a line
//   vlx __complete section WORD preference sections that complete WORD, one a line
#pragma once

#include <optional>
#include <ostream>

namespace CLI {
class App;
}

namespace vlx::cli {

// The exit status of the call when argv[1] names one of the calls above, else none.
std::optional<int> runGenerator(const CLI::App &app, int argc, const char *const *argv,
                                std::ostream &out);

} // namespace vlx::cli
