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

namespace {

#if defined(_WIN32)
constexpr const char *kCreateNew = "wb"; // msvcrt's fopen knows no "x"; the name is random
#else
constexpr const char *kCreateNew = "wbx"; // never through a name someone else planted
#endif

} // namespace

void writeFileAtomically(const std::string &file, const std::string &text) {
  namespace fs = std::filesystem;
  auto fail = [&file](const std::string &why) {
    throw Failure("cannot write " + file + ": " + why);
  };
  // A missing target is no error (status reports it through `ec` too); others are.
  std::error_code ec;
  const fs::file_status old = fs::status(file, ec);
  const bool replacing = fs::exists(old);
  if (ec && old.type() != fs::file_type::not_found)
    fail(ec.message());

  std::random_device random;
  const std::string temp = file + ".vlx-" + std::to_string(random()) + ".tmp";
  std::FILE *f = std::fopen(temp.c_str(), kCreateNew);
  if (!f)
    fail(std::strerror(errno));
  bool written = std::fwrite(text.data(), 1, text.size(), f) == text.size();
  int err = errno;
  if (std::fclose(f) != 0 && written) {
    written = false;
    err = errno;
  }
  ec.clear();
  if (!written)
    ec.assign(err, std::generic_category());
  if (!ec && replacing)
    fs::permissions(temp, old.permissions(), ec);
  if (!ec)
    fs::rename(temp, file, ec);
  if (!ec)
    return;
  const std::string why = ec.message(); // before the clean-up, which would clear it
  fs::remove(temp, ec);
  fail(why);
}

} // namespace vlx::cli
