// The system's file calls behind the replaceable table.
#include "platform/posix/files/syscalls.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

namespace vlx::posix {
namespace {

// Interrupted calls are retried here so that callers see only real failures.
template <typename Call> auto retryIntr(Call call) {
  auto result = call();
  while (result == -1 && errno == EINTR)
    result = call();
  return result;
}

constexpr FileSyscalls kSystem = {
    [](const char *path, int flags, mode_t mode) {
      return retryIntr([&] { return ::open(path, flags, mode); });
    },
    // Linux closes the descriptor even when close is interrupted: no retry.
    [](int fd) { return ::close(fd); },
    [](int fd, void *buffer, size_t size) {
      return retryIntr([&] { return ::read(fd, buffer, size); });
    },
    [](int fd, const void *buffer, size_t size) {
      return retryIntr([&] { return ::write(fd, buffer, size); });
    },
    [](int in, int out, size_t size) {
      return retryIntr([&] { return ::copy_file_range(in, nullptr, out, nullptr, size, 0); });
    },
    [](int fd, struct stat *st) { return ::fstat(fd, st); },
    [](int dirFd, const char *name, struct stat *st, int flags) {
      return ::fstatat(dirFd, name, st, flags);
    },
    [](const char *path, struct stat *st) { return ::stat(path, st); },
    [](const char *path, struct stat *st) { return ::lstat(path, st); },
    [](int fd, mode_t mode) { return ::fchmod(fd, mode); },
    [](int fd, const struct timespec times[2]) { return ::futimens(fd, times); },
    [](const char *from, const char *to) { return ::rename(from, to); },
    [](const char *from, const char *to) {
      return ::renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE);
    },
    [](const char *from, const char *to) { return ::link(from, to); },
    [](const char *path) { return ::unlink(path); },
    [](const char *path, mode_t mode) { return ::mkdir(path, mode); },
    [](const char *path) { return ::opendir(path); },
    [](DIR *dir) { return ::readdir(dir); },
    [](DIR *dir) { return ::closedir(dir); },
    [](int fd, off_t offset, int whence) { return ::lseek(fd, offset, whence); },
    [](int fd, off_t length) { return retryIntr([&] { return ::ftruncate(fd, length); }); },
    [](int fd) { return retryIntr([&] { return ::fsync(fd); }); },
    [](int fd, struct flock *lock) {
      return retryIntr([&] { return ::fcntl(fd, F_OFD_SETLK, lock); });
    },
    [](int fd, bool inherit) { return ::fcntl(fd, inherit ? F_DUPFD : F_DUPFD_CLOEXEC, 0); },
    [](int fd, struct flock *lock) {
      return retryIntr([&] { return ::fcntl(fd, F_OFD_SETLKW, lock); });
    },
    [](const char *path, mode_t mode) { return ::chmod(path, mode); },
    [](const char *path) { return ::rmdir(path); },
    [](const char *path) { return ::chdir(path); },
    [](int dirFd, const char *name, int flags, mode_t mode) {
      return retryIntr([&] { return ::openat(dirFd, name, flags, mode); });
    },
    [](int fd) {
      DIR *dir = ::fdopendir(fd);
      if (!dir) {
        const int err = errno;
        ::close(fd);
        errno = err;
      }
      return dir;
    },
};

FileSyscalls live = kSystem;

} // namespace

FileSyscalls &fileSyscalls() { return live; }
const FileSyscalls &systemFileSyscalls() { return kSystem; }

} // namespace vlx::posix
