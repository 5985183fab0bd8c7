// Standard output through the system's own calls, so that a failed write or close is noticed.
#pragma once

#include <ostream>
#include <streambuf>

namespace vlx::cli {

class FdOutput : public std::streambuf {
public:
  explicit FdOutput(int fd);
  ~FdOutput() override;
  FdOutput(const FdOutput &) = delete;
  FdOutput &operator=(const FdOutput &) = delete;

  // Writes what is buffered and closes the descriptor; false when that or any earlier write
  // failed, with the first cause in error().
  bool finish();
  int error() const { return error_; }

protected:
  int overflow(int c) override;
  std::streamsize xsputn(const char *s, std::streamsize n) override;
  int sync() override;

private:
  bool drain();

  int fd_;
  int error_ = 0;
  char buffer_[1 << 16];
};

// The stream's text has reached its file: flushed and, for an FdOutput, closed. Otherwise the
// cause ("No space left on device"), or "" when all went well.
std::string finishOutput(std::ostream &out);

} // namespace vlx::cli
