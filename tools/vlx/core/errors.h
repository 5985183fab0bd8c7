// Failures of vlx commands, and the short texts of Win32 error codes they report.
#pragma once

#include "vlx/formats/escape.h"

#include <velmora/win32.h>

#include <stdexcept>
#include <string>

namespace vlx::cli {

// Thrown by a command; the message becomes the one "vlx: ..." line on stderr. It quotes input
// (file text, names, paths), so its control bytes are escaped here, once for every message.
struct Failure : std::runtime_error {
  explicit Failure(const std::string &what, int status = 1)
      : std::runtime_error(printable(what)), exitStatus(status) {}
  int exitStatus;
};

// "access denied" for ERROR_ACCESS_DENIED, ...; "error N" for codes the table lacks.
std::string errorText(LONG code);

} // namespace vlx::cli
