// System calls of file handles that the shared file table lacks, replaceable by tests alike.
#pragma once

#include <fcntl.h>
#include <sys/types.h>

namespace vlx::posix {

// Used beside fileSyscalls() (open, read, write, close, fstat) by the handle calls. Members
// return what the system call does and set errno alike.
struct HandleSyscalls {
  off_t (*lseek)(int fd, off_t offset, int whence);
  int (*ftruncate)(int fd, off_t length);
  int (*fsync)(int fd);
  // fcntl F_OFD_SETLK: takes or releases a lock of the open file description without waiting.
  int (*setLock)(int fd, struct flock *lock);
  // A new descriptor for the same open file; close-on-exec unless `inherit`.
  int (*duplicate)(int fd, bool inherit);
};

// The live table; tests swap members and put them back.
HandleSyscalls &handleSyscalls();
// The system's own calls.
const HandleSyscalls &systemHandleSyscalls();

} // namespace vlx::posix
