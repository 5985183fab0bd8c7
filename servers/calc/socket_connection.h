// A UNO connection over a socket the keeper handed over: the office's own socket, reached
// without a path this process has to trust.
#pragma once

#include <com/sun/star/connection/XConnection.hpp>

namespace vlx::calc {

// The connection over fd, which it closes when it goes.
css::uno::Reference<css::connection::XConnection> socketConnection(int fd);

} // namespace vlx::calc
