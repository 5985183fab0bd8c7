// A UNO connection over a socket the keeper handed over: the office's own socket, reached
// without a path this process has to trust. And what keeps a connection that ends from ending
// the host.
#pragma once

#include <com/sun/star/connection/XConnection.hpp>

#include <csignal>

namespace vlx::calc {

// The connection over fd, which it closes when it goes.
css::uno::Reference<css::connection::XConnection> socketConnection(int fd);

// Blocks SIGPIPE in this thread while it lives, and so in the threads started meanwhile, such as
// the reader and writer of a UNO bridge made meanwhile: LibreOffice's own connections write
// without MSG_NOSIGNAL, and a write to an office that went away would end the host instead of
// failing the call. A SIGPIPE this thread raised meanwhile is taken before its mask is restored.
class PipeSignalBlock {
public:
  PipeSignalBlock();
  ~PipeSignalBlock();
  PipeSignalBlock(const PipeSignalBlock &) = delete;
  PipeSignalBlock &operator=(const PipeSignalBlock &) = delete;

private:
  sigset_t previous_;
};

} // namespace vlx::calc
