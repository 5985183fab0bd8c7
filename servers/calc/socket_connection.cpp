// The UNO connection over a handed-over socket: see socket_connection.h.
#include "socket_connection.h"

#include <com/sun/star/io/IOException.hpp>
#include <cppuhelper/implbase1.hxx>

#include <cerrno>
#include <csignal>
#include <ctime>
#include <sys/socket.h>
#include <unistd.h>

namespace vlx::calc {

namespace {

using rtl::OUString;

class SocketConnection : public cppu::WeakImplHelper1<css::connection::XConnection> {
public:
  explicit SocketConnection(int fd) : fd_(fd) {}
  // Closed only here: a reader still in read() must not find the number reused.
  ~SocketConnection() override { ::close(fd_); }

  sal_Int32 SAL_CALL read(css::uno::Sequence<sal_Int8> &data, sal_Int32 size) override {
    data.realloc(size);
    sal_Int32 got = 0;
    while (got < size) {
      ssize_t n = ::read(fd_, data.getArray() + got, static_cast<size_t>(size - got));
      if (n < 0 && errno == EINTR)
        continue;
      if (n <= 0)
        break;
      got += static_cast<sal_Int32>(n);
    }
    if (got < size)
      throw css::io::IOException("the office's connection ended");
    return got;
  }
  void SAL_CALL write(const css::uno::Sequence<sal_Int8> &data) override {
    sal_Int32 done = 0;
    while (done < data.getLength()) {
      ssize_t n = ::send(fd_, data.getConstArray() + done,
                         static_cast<size_t>(data.getLength() - done), MSG_NOSIGNAL);
      if (n < 0 && errno == EINTR)
        continue;
      if (n <= 0)
        throw css::io::IOException("the office's connection ended");
      done += static_cast<sal_Int32>(n);
    }
  }
  void SAL_CALL flush() override {}
  void SAL_CALL close() override { ::shutdown(fd_, SHUT_RDWR); }
  OUString SAL_CALL getDescription() override { return "velmora-calc-keeper"; }

private:
  int fd_;
};

} // namespace

css::uno::Reference<css::connection::XConnection> socketConnection(int fd) {
  return new SocketConnection(fd);
}

PipeSignalBlock::PipeSignalBlock() {
  sigset_t pipe;
  ::sigemptyset(&pipe);
  ::sigaddset(&pipe, SIGPIPE);
  ::pthread_sigmask(SIG_BLOCK, &pipe, &previous_);
}

PipeSignalBlock::~PipeSignalBlock() {
  if (::sigismember(&previous_, SIGPIPE))
    return;
  sigset_t pipe;
  ::sigemptyset(&pipe);
  ::sigaddset(&pipe, SIGPIPE);
  const timespec now{};
  while (::sigtimedwait(&pipe, nullptr, &now) == SIGPIPE) {
  }
  ::pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
}

} // namespace vlx::calc
