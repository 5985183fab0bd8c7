// Standard output through write(2), each result checked.
#include "vlx/core/output.h"

#include <cerrno>
#include <cstring>
#include <string>
#include <unistd.h>

namespace vlx::cli {

FdOutput::FdOutput(int fd) : fd_(fd) { setp(buffer_, buffer_ + sizeof buffer_); }

FdOutput::~FdOutput() { drain(); }

bool FdOutput::drain() {
  const char *p = pbase();
  size_t left = static_cast<size_t>(pptr() - pbase());
  while (left > 0 && error_ == 0) {
    ssize_t n = ::write(fd_, p, left);
    if (n < 0 && errno == EINTR)
      continue;
    if (n <= 0)
      error_ = n < 0 ? errno : EIO;
    else {
      p += n;
      left -= static_cast<size_t>(n);
    }
  }
  setp(buffer_, buffer_ + sizeof buffer_);
  return error_ == 0;
}

int FdOutput::overflow(int c) {
  if (!drain())
    return traits_type::eof();
  if (c != traits_type::eof()) {
    *pptr() = static_cast<char>(c);
    pbump(1);
  }
  return traits_type::not_eof(c);
}

std::streamsize FdOutput::xsputn(const char *s, std::streamsize n) {
  std::streamsize done = 0;
  while (done < n) {
    if (pptr() == epptr() && !drain())
      return done;
    const auto room = std::min<std::streamsize>(epptr() - pptr(), n - done);
    std::memcpy(pptr(), s + done, static_cast<size_t>(room));
    pbump(static_cast<int>(room));
    done += room;
  }
  return done;
}

int FdOutput::sync() { return drain() ? 0 : -1; }

bool FdOutput::finish() {
  drain();
  if (fd_ >= 0) {
    // A descriptor that was never open (vlx >&-) fails the writes, if any, not the close.
    if (::close(fd_) != 0 && errno != EINTR && errno != EBADF && error_ == 0)
      error_ = errno;
    fd_ = -1;
  }
  return error_ == 0;
}

std::string finishOutput(std::ostream &out) {
  out.flush();
  auto *fd = dynamic_cast<FdOutput *>(out.rdbuf());
  const bool ok = (fd ? fd->finish() : true) && !out.fail();
  if (ok)
    return {};
  return fd && fd->error() ? std::strerror(fd->error()) : "write failed";
}

} // namespace vlx::cli
