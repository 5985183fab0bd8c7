// The vlx executable.
#include "cli.h"

#include <iostream>

int main(int argc, char **argv) { return vlx::cli::run(argc, argv, std::cout, std::cerr); }
