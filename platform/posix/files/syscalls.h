// The system calls of the file personality, reached through one table that tests may replace.
#pragma once

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>

namespace vlx::posix {

// Every file call of platform/posix/files goes through this table, so that a test can make one
// call fail (say the second write with ENOSPC) and check that nothing is lost. Members return
// what the system call does and set errno alike.
struct FileSyscalls {
  int (*open)(const char *path, int flags, mode_t mode);
  int (*close)(int fd);
  ssize_t (*read)(int fd, void *buffer, size_t size);
  ssize_t (*write)(int fd, const void *buffer, size_t size);
  // copy_file_range from the current offset of `in` to that of `out`.
  ssize_t (*copyFileRange)(int in, int out, size_t size);
  int (*fstat)(int fd, struct stat *st);
  int (*fstatAt)(int dirFd, const char *name, struct stat *st, int flags);
  int (*statPath)(const char *path, struct stat *st);
  int (*lstatPath)(const char *path, struct stat *st);
  int (*fchmod)(int fd, mode_t mode);
  int (*futimens)(int fd, const struct timespec times[2]);
  int (*rename)(const char *from, const char *to);
  // rename that fails with EEXIST rather than replace; EINVAL where the file system lacks it.
  int (*renameNoReplace)(const char *from, const char *to);
  int (*link)(const char *from, const char *to);
  int (*unlink)(const char *path);
  int (*mkdir)(const char *path, mode_t mode);
  DIR *(*openDir)(const char *path);
  struct dirent *(*readDir)(DIR *dir);
  int (*closeDir)(DIR *dir);
  off_t (*lseek)(int fd, off_t offset, int whence);
  int (*ftruncate)(int fd, off_t length);
  int (*fsync)(int fd);
  // fcntl F_OFD_SETLK: takes or releases a lock of the open file description without waiting.
  int (*setLock)(int fd, struct flock *lock);
  // A new descriptor for the same open file; close-on-exec unless `inherit`.
  int (*duplicate)(int fd, bool inherit);
  // fcntl F_OFD_SETLKW: as setLock, waiting until the range is free.
  int (*setLockWait)(int fd, struct flock *lock);
  int (*chmod)(const char *path, mode_t mode);
  int (*rmdir)(const char *path);
  int (*chdir)(const char *path);
  int (*openAt)(int dirFd, const char *name, int flags, mode_t mode);
  // fdopendir: the stream owns `fd` from then on, even when the call fails.
  DIR *(*openDirFd)(int fd);
};

// The live table; tests swap members and put them back.
FileSyscalls &fileSyscalls();
// The system's own calls.
const FileSyscalls &systemFileSyscalls();

} // namespace vlx::posix
