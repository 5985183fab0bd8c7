// The vlx executable.
#include "vlx/core/cli.h"
#include "vlx/core/output.h"

#include <cerrno>
#include <fcntl.h>
#include <iostream>
#include <unistd.h>

int main(int argc, char **argv) {
  // A standard descriptor the caller closed (vlx >&-) is held by /dev/null opened for reading:
  // no hive file opened later takes its number, and writes to it still fail.
  for (int fd = 0; fd <= 2; ++fd)
    if (::fcntl(fd, F_GETFD) == -1 && errno == EBADF && ::open("/dev/null", O_RDONLY) != fd)
      return 1;
  vlx::cli::FdOutput buffer(1);
  std::ostream out(&buffer);
  return vlx::cli::run(argc, argv, out, std::cerr);
}
