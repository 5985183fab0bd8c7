// Whole-file reads and whole-file writes for the vlx commands.
#include "file_io.h"

#include "errors.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <random>

#if defined(_WIN32)
#include <filesystem>
#else
#include <algorithm>
#include <climits>
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>
#endif

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

std::string randomSuffix() {
  std::random_device random;
  return ".vlx-" + std::to_string(random()) + ".tmp";
}

} // namespace

#if defined(_WIN32)

// The stamper is the only writer on Windows, and only of the library it just built.
void writeFileAtomically(const std::string &file, const std::string &text) {
  namespace fs = std::filesystem;
  auto fail = [&file](const std::string &why) {
    throw Failure("cannot write " + file + ": " + why);
  };
  std::error_code ec;
  const fs::file_status old = fs::status(file, ec);
  const bool replacing = fs::exists(old);
  if (ec && old.type() != fs::file_type::not_found)
    fail(ec.message());

  const std::string temp = file + randomSuffix();
  std::FILE *f = std::fopen(temp.c_str(), "wb"); // msvcrt's fopen knows no "x"; the name is random
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

std::string fileToReplace(const std::string &file) { return file; }

#else

namespace {

// Where the chain of symbolic links that starts at `file` ends; `*error` set when it cannot be
// followed (a loop, an unreadable link).
std::string endOfLinks(const std::string &file, int *error) {
  std::string path = file;
  for (int hops = 0; hops < 40; ++hops) {
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode))
      return path;
    std::string target(PATH_MAX, '\0');
    ssize_t n = ::readlink(path.c_str(), target.data(), target.size());
    if (n < 0) {
      *error = errno;
      return path;
    }
    target.resize(static_cast<size_t>(n));
    if (target.empty() || target[0] != '/')
      target = path.substr(0, path.rfind('/') + 1) + target;
    path = target;
  }
  *error = ELOOP;
  return path;
}

class Writer {
public:
  explicit Writer(const std::string &file) : file_(file), path_(file) {}

  [[noreturn]] void fail(int error) const { fail(std::strerror(error)); }
  [[noreturn]] void fail(const std::string &why) const {
    throw Failure("cannot write " + file_ + (path_ != file_ ? " (link to " + path_ + ")" : "") +
                  ": " + why);
  }

  void followLinks() {
    int error = 0;
    path_ = endOfLinks(file_, &error);
    if (error)
      fail(error);
  }

  void write(const std::string &text) {
    if (int fd = ownDescriptor(); fd >= 0) {
      int copy = ::fcntl(fd, F_DUPFD_CLOEXEC, 3);
      if (copy < 0)
        fail(errno);
      finish(copy, text, false);
      return;
    }
    // What the path leads to, links followed: anything but a regular file stays in place.
    struct stat st;
    if (::stat(file_.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
      if (S_ISDIR(st.st_mode))
        fail(EISDIR);
      writeInPlace(text, st);
      return;
    }
    followLinks();
    if (::lstat(path_.c_str(), &st) != 0) {
      // A missing file is made; a missing directory is named by the creation below.
      if (errno != ENOENT && errno != ENOTDIR)
        fail(errno);
      replace(text, nullptr);
    } else if (S_ISREG(st.st_mode)) {
      replace(text, &st);
    } else {
      fail("it was replaced while being opened");
    }
  }

private:
  // The descriptor that /dev/stdout, /dev/fd/N or /proc/self/fd/N names, written as the shell
  // opened it (a log opened for appending is appended to); -1 for other paths.
  int ownDescriptor() const {
    if (file_ == "/dev/stdout")
      return 1;
    if (file_ == "/dev/stderr")
      return 2;
    for (const char *prefix : {"/dev/fd/", "/proc/self/fd/"}) {
      const size_t len = std::strlen(prefix);
      if (file_.compare(0, len, prefix) != 0 || file_.size() == len || file_.size() > len + 6 ||
          file_.find_first_not_of("0123456789", len) != std::string::npos)
        continue;
      return std::stoi(file_.substr(len));
    }
    return -1;
  }

  static bool writeAll(int fd, const std::string &text, int &error) {
    const char *p = text.data();
    for (size_t left = text.size(); left > 0;) {
      ssize_t n = ::write(fd, p, left);
      if (n < 0 && errno == EINTR)
        continue;
      if (n <= 0) {
        error = n < 0 ? errno : EIO;
        return false;
      }
      p += n;
      left -= static_cast<size_t>(n);
    }
    return true;
  }

  // Writes, syncs (when `sync`) and closes `fd`; the first failure is thrown.
  void finish(int fd, const std::string &text, bool sync, const std::string &temp = {}) const {
    int error = 0;
    bool ok = writeAll(fd, text, error);
    if (ok && sync && ::fsync(fd) != 0) {
      ok = false;
      error = errno;
    }
    if (::close(fd) != 0 && ok && errno != EINTR) {
      ok = false;
      error = errno;
    }
    if (!ok) {
      if (!temp.empty())
        ::unlink(temp.c_str());
      fail(error);
    }
  }

  // A device, FIFO or socket stays what it is: only its stream gets the text.
  void writeInPlace(const std::string &text, const struct stat &st) const {
    int fd = S_ISSOCK(st.st_mode) ? connectTo(path_)
                                  : ::open(path_.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
      fail(errno);
    struct stat opened;
    if (::fstat(fd, &opened) != 0 || S_ISREG(opened.st_mode) || S_ISDIR(opened.st_mode)) {
      ::close(fd);
      fail("it was replaced while being opened");
    }
    finish(fd, text, false);
  }

  static int connectTo(const std::string &path) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path) {
      errno = ENAMETOOLONG;
      return -1;
    }
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
      return -1;
    if (::connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0) {
      int error = errno;
      ::close(fd);
      errno = error;
      return -1;
    }
    return fd;
  }

  // Beside the target under a random name no one else planted, then renamed over it.
  void replace(const std::string &text, const struct stat *old) const {
    const std::string temp = path_ + randomSuffix();
    int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                    old ? 0600 : 0666);
    if (fd < 0)
      fail(errno);
    if (old) {
      // Root keeps another user's file theirs; others may keep at least its group.
      if (::fchown(fd, old->st_uid, old->st_gid) != 0)
        (void)!::fchown(fd, static_cast<uid_t>(-1), old->st_gid);
      if (::fchmod(fd, old->st_mode & 07777) != 0) {
        int error = errno;
        ::close(fd);
        ::unlink(temp.c_str());
        fail(error);
      }
    }
    finish(fd, text, true, temp);
    if (::rename(temp.c_str(), path_.c_str()) != 0) {
      int error = errno;
      ::unlink(temp.c_str());
      fail(error);
    }
    // The rename itself lasts once the directory is synced.
    const std::string dir = path_.find('/') == std::string::npos
                                ? "."
                                : path_.substr(0, std::max<size_t>(path_.rfind('/'), 1));
    int dirFd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd >= 0) {
      ::fsync(dirFd);
      ::close(dirFd);
    }
  }

  std::string file_;
  std::string path_;
};

} // namespace

void writeFileAtomically(const std::string &file, const std::string &text) {
  Writer(file).write(text);
}

std::string fileToReplace(const std::string &file) {
  int error = 0;
  std::string path = endOfLinks(file, &error);
  if (error)
    throw Failure("cannot write " + file + ": " + std::strerror(error));
  return path;
}

#endif

} // namespace vlx::cli
