// Whole-file reads and atomic whole-file writes for the vlx commands.
#include "file_io.h"

#include "errors.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <random>

namespace vlx::cli {

std::string readFile(const std::string &file) {
  std::FILE *f = std::fopen(file.c_str(), "rb");
  if (!f)
    throw Failure("cannot read " + file + ": " + std::strerror(errno));
  std::string text;
  char buf[65536];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0)
    text.append(buf, n);
  bool failed = std::ferror(f) != 0;
  int err = errno;
  std::fclose(f);
  if (failed)
    throw Failure("cannot read " + file + ": " + std::strerror(err));
  return text;
}

void writeFileAtomically(const std::string &file, const std::string &text) {
  namespace fs = std::filesystem;
  std::random_device random;
  std::string temp = file + ".vlx-" + std::to_string(random()) + ".tmp";
  std::FILE *f = std::fopen(temp.c_str(), "wb");
  if (!f)
    throw Failure("cannot write " + file + ": " + std::strerror(errno));
  bool ok = std::fwrite(text.data(), 1, text.size(), f) == text.size();
  int err = errno;
  if (std::fclose(f) != 0 && ok) {
    ok = false;
    err = errno;
  }
  std::error_code ec;
  if (ok) {
    fs::file_status old = fs::status(file, ec);
    if (!ec && fs::exists(old))
      fs::permissions(temp, old.permissions(), ec);
    if (!ec)
      fs::rename(temp, file, ec);
    if (!ec)
      return;
  }
  fs::remove(temp, ec);
  throw Failure("cannot write " + file + ": " + (ok ? ec.message() : std::strerror(err)));
}

} // namespace vlx::cli
