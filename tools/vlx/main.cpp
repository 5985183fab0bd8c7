// The vlx executable.
#include "cli.h"
#include "output.h"

#include <iostream>

int main(int argc, char **argv) {
  vlx::cli::FdOutput buffer(1);
  std::ostream out(&buffer);
  return vlx::cli::run(argc, argv, out, std::cerr);
}
