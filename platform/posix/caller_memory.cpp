#include "platform/posix/caller_memory.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/uio.h>
#include <unistd.h>
#include <vector>

namespace vlx::posix {
namespace {

// Where process_vm_readv is refused (seccomp, old kernels), a pipe does the same check: write()
// fails with EFAULT on memory the process cannot read.
bool copyThroughPipe(const char *from, size_t size, std::string *out) {
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0)
    return false;
  constexpr size_t kChunk = 4096; // below any pipe's capacity, so a write never blocks
  bool ok = true;
  for (size_t done = 0; ok && done < size;) {
    const size_t n = size - done < kChunk ? size - done : kChunk;
    const ssize_t put = write(fds[1], from + done, n);
    ok = put > 0;
    for (ssize_t got = 0; ok && got < put;) {
      const ssize_t r =
          read(fds[0], &(*out)[done + static_cast<size_t>(got)], static_cast<size_t>(put - got));
      ok = r > 0;
      got += r > 0 ? r : 0;
    }
    done += ok ? static_cast<size_t>(put) : 0;
  }
  close(fds[0]);
  close(fds[1]);
  return ok;
}

// One byte of each page the buffer touches: protection is per page, so these tell for all.
bool probePages(const void *buffer, size_t size, bool write) {
  if (size == 0)
    return true;
  if (!buffer)
    return false;
  const auto page = static_cast<uintptr_t>(sysconf(_SC_PAGESIZE));
  const auto start = reinterpret_cast<uintptr_t>(buffer);
  const uintptr_t last = start + (size - 1);
  if (last < start)
    return false;
  constexpr size_t kBatch = 512; // below IOV_MAX
  std::vector<char> bytes(kBatch);
  std::vector<iovec> local(kBatch), remote(kBatch);
  uintptr_t at = start;
  bool more = true;
  while (more) {
    size_t n = 0;
    for (; more && n < kBatch; ++n) {
      local[n] = {&bytes[n], 1};
      remote[n] = {reinterpret_cast<void *>(at), 1};
      const uintptr_t next = (at / page + 1) * page;
      more = next > at && next <= last; // the top page of the address space has no next
      at = next;
    }
    const auto count = static_cast<unsigned long>(n);
    ssize_t done = process_vm_readv(getpid(), local.data(), count, remote.data(), count, 0);
    if (done < 0 && errno != EFAULT)
      return true;
    if (done != static_cast<ssize_t>(n))
      return false;
    // The same bytes written back: only a page that may be written takes them.
    if (write) {
      done = process_vm_writev(getpid(), local.data(), count, remote.data(), count, 0);
      if (done < 0 && errno != EFAULT)
        return true;
      if (done != static_cast<ssize_t>(n))
        return false;
    }
  }
  return true;
}

} // namespace

bool callerMayRead(const void *buffer, size_t size) { return probePages(buffer, size, false); }

bool callerMayWrite(void *buffer, size_t size) { return probePages(buffer, size, true); }

bool copyCallerBytes(const void *from, size_t size, std::string *out) {
  out->assign(size, '\0');
  if (size == 0)
    return true;
  if (!from)
    return false;
  iovec local{&(*out)[0], size};
  iovec remote{const_cast<void *>(from), size};
  const ssize_t got = process_vm_readv(getpid(), &local, 1, &remote, 1, 0);
  if (got == static_cast<ssize_t>(size))
    return true;
  // A short read stopped at memory that cannot be read.
  if (got >= 0 || errno == EFAULT)
    return false;
  return copyThroughPipe(static_cast<const char *>(from), size, out);
}

} // namespace vlx::posix
