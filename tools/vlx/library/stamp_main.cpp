// The build's own date-code stamper: runs after the library is linked, before vlx exists.
#include "vlx/core/errors.h"
#include "vlx/library/date_stamp.h"

#include <iostream>

int main(int argc, char **argv) {
  if (argc != 3) {
    std::cerr << "usage: vlx_stamp LIBRARY CODE" << std::endl;
    return 2;
  }
  try {
    vlx::cli::stampDateCode(argv[1], argv[2]);
    const std::string warning = vlx::cli::dateCodeWarning(argv[2]);
    if (!warning.empty())
      std::cerr << "vlx_stamp: " << warning << std::endl;
  } catch (const vlx::cli::Failure &f) {
    std::cerr << "vlx_stamp: " << f.what() << std::endl;
    return f.exitStatus;
  }
  return 0;
}
