// The title a forked process shows in ps and top, in place of the command line it inherited.
#pragma once

#include <cstddef>
#include <string>

namespace vlx::calc {

// Made before the fork: the title, and where the kernel keeps this process's command line.
struct ProcessTitle {
  std::string text;
  char *area = nullptr; // the command line's bytes; none when they cannot be found
  size_t size = 0;
};

// "vlx: office keeper (idle 5 min)": the program's name, then what it does.
ProcessTitle prepareTitle(const std::string &what);

// Shows the title as the command line and as the process name (cut to 15 bytes). Makes only
// async-signal-safe calls, for a child forked from a process with threads.
void showTitle(const ProcessTitle &title, const char *name);

} // namespace vlx::calc
