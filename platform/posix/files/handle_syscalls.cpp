// The system's handle calls behind the replaceable table.
#include "platform/posix/files/handle_syscalls.h"

#include <cerrno>
#include <unistd.h>

namespace vlx::posix {
namespace {

template <typename Call> auto retryIntr(Call call) {
  auto result = call();
  while (result == -1 && errno == EINTR)
    result = call();
  return result;
}

constexpr HandleSyscalls kSystem = {
    [](int fd, off_t offset, int whence) { return ::lseek(fd, offset, whence); },
    [](int fd, off_t length) { return retryIntr([&] { return ::ftruncate(fd, length); }); },
    [](int fd) { return retryIntr([&] { return ::fsync(fd); }); },
    [](int fd, struct flock *lock) {
      return retryIntr([&] { return ::fcntl(fd, F_OFD_SETLK, lock); });
    },
    [](int fd, bool inherit) { return ::fcntl(fd, inherit ? F_DUPFD : F_DUPFD_CLOEXEC, 0); },
};

HandleSyscalls live = kSystem;

} // namespace

HandleSyscalls &handleSyscalls() { return live; }
const HandleSyscalls &systemHandleSyscalls() { return kSystem; }

} // namespace vlx::posix
