// Whole-file reads and whole-file writes for the vlx commands.
#include "vlx/core/file_io.h"

#include "vlx/core/errors.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <random>

#if defined(_WIN32)
#include <filesystem>
#else
#include "platform/posix/files/link_rule.h"
#include "platform/posix/files/syscalls.h"

#include <algorithm>
#include <deque>
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

using posix::fileSyscalls;

// `file` with every symbolic link on its way followed, each under the owner rule of linkAt; a
// missing folder or file ends nothing: the rest is kept as named, for the write to create or
// report.
struct Followed {
  std::string path;
  bool viaLink = false;
  std::string refused; // the link not followed, when one was refused
  int error = 0;
};

Followed followLinks(const std::string &file) {
  Followed out;
  auto split = [](const std::string &path) {
    std::deque<std::string> parts;
    for (size_t at = 0; at <= path.size();) {
      const size_t slash = std::min(path.find('/', at), path.size());
      if (slash > at)
        parts.emplace_back(path, at, slash - at);
      at = slash + 1;
    }
    return parts;
  };
  std::deque<std::string> rest = split(file);
  std::string done = !file.empty() && file[0] == '/' ? "/" : "";
  for (int hops = 0; !rest.empty();) {
    const std::string part = std::move(rest.front());
    rest.pop_front();
    if (part == ".")
      continue;
    // Folders behind `done` are real ones, so its ".." is the kernel's too.
    const std::string next = done.empty() ? part : done == "/" ? "/" + part : done + "/" + part;
    const posix::LinkAt at = part == ".." ? posix::LinkAt{} : posix::linkAt(next);
    if (!at.link) {
      done = next;
      continue;
    }
    if (at.refused || at.error || ++hops > 40) {
      out.refused = at.refused ? next : "";
      out.error = at.refused ? 0 : at.error ? at.error : ELOOP;
      out.path = next;
      return out;
    }
    out.viaLink = true;
    if (at.target[0] == '/')
      done = "/";
    std::deque<std::string> target = split(at.target);
    rest.insert(rest.begin(), target.begin(), target.end());
  }
  out.path = done.empty() ? "." : done;
  return out;
}

std::string refusedLink(const std::string &link) {
  return link + " is a link another user owns in a folder everyone may write, not followed (it may "
                "have been planted there); name the file it leads to instead";
}

class Writer {
public:
  explicit Writer(const std::string &file) : file_(file), path_(file) {}

  [[noreturn]] void fail(int error) const { fail(std::strerror(error)); }
  [[noreturn]] void fail(const std::string &why) const {
    throw Failure("cannot write " + file_ + (viaLink_ ? " (link to " + path_ + ")" : "") + ": " +
                  why);
  }

  void resolve() {
    const Followed followed = followLinks(file_);
    viaLink_ = followed.viaLink;
    path_ = followed.path;
    if (!followed.refused.empty())
      throw Failure("cannot write " + file_ + ": " + refusedLink(followed.refused));
    if (followed.error)
      fail(followed.error);
  }

  void write(const std::string &text) {
    if (int fd = ownDescriptor(); fd >= 0) {
      int copy = ::fcntl(fd, F_DUPFD_CLOEXEC, 3);
      if (copy < 0)
        fail(errno);
      finish(copy, text, false);
      return;
    }
    // Links followed: a regular file (or none) is replaced, anything else stays in place.
    resolve();
    struct stat st;
    if (fileSyscalls().lstatPath(path_.c_str(), &st) != 0) {
      // A missing file is made; a missing directory is named by the creation below.
      if (errno != ENOENT && errno != ENOTDIR)
        fail(errno);
      replace(text, nullptr);
    } else if (S_ISREG(st.st_mode)) {
      replace(text, &st);
    } else if (S_ISDIR(st.st_mode)) {
      fail(EISDIR);
    } else if (S_ISLNK(st.st_mode)) {
      fail("it was replaced while being opened");
    } else {
      writeInPlace(text, st);
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
      ssize_t n = fileSyscalls().write(fd, p, left);
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
    if (ok && sync && fileSyscalls().fsync(fd) != 0) {
      ok = false;
      error = errno;
    }
    if (fileSyscalls().close(fd) != 0 && ok && errno != EINTR) {
      ok = false;
      error = errno;
    }
    if (!ok) {
      if (!temp.empty())
        fileSyscalls().unlink(temp.c_str());
      fail(error);
    }
  }

  // A device, FIFO or socket stays what it is: only its stream gets the text.
  void writeInPlace(const std::string &text, const struct stat &st) const {
    int fd =
        S_ISSOCK(st.st_mode)
            ? connectTo(path_)
            : fileSyscalls().open(path_.c_str(), O_WRONLY | O_NOCTTY | O_NOFOLLOW | O_CLOEXEC, 0);
    if (fd < 0)
      fail(errno);
    struct stat opened;
    if (::fstat(fd, &opened) != 0 || S_ISREG(opened.st_mode) || S_ISDIR(opened.st_mode)) {
      fileSyscalls().close(fd);
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
      fileSyscalls().close(fd);
      errno = error;
      return -1;
    }
    return fd;
  }

  // Beside the target under a random name no one else planted, then renamed over it.
  void replace(const std::string &text, const struct stat *old) const {
    const std::string temp = path_ + randomSuffix();
    int fd = fileSyscalls().open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                                 old ? 0600 : 0666);
    if (fd < 0)
      fail(errno);
    if (old) {
      // Root keeps another user's file theirs; others may keep at least its group.
      if (::fchown(fd, old->st_uid, old->st_gid) != 0)
        (void)!::fchown(fd, static_cast<uid_t>(-1), old->st_gid);
      if (fileSyscalls().fchmod(fd, old->st_mode & 07777) != 0) {
        int error = errno;
        fileSyscalls().close(fd);
        fileSyscalls().unlink(temp.c_str());
        fail(error);
      }
    }
    finish(fd, text, true, temp);
    if (fileSyscalls().rename(temp.c_str(), path_.c_str()) != 0) {
      int error = errno;
      fileSyscalls().unlink(temp.c_str());
      fail(error);
    }
    // The rename itself lasts once the directory is synced.
    const std::string dir = path_.find('/') == std::string::npos
                                ? "."
                                : path_.substr(0, std::max<size_t>(path_.rfind('/'), 1));
    int dirFd = fileSyscalls().open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC, 0);
    if (dirFd >= 0) {
      fileSyscalls().fsync(dirFd);
      fileSyscalls().close(dirFd);
    }
  }

  std::string file_;
  std::string path_;
  bool viaLink_ = false;
};

} // namespace

void writeFileAtomically(const std::string &file, const std::string &text) {
  Writer(file).write(text);
}

std::string fileToReplace(const std::string &file) {
  const Followed followed = followLinks(file);
  if (!followed.refused.empty())
    throw Failure("cannot write " + file + ": " + refusedLink(followed.refused));
  if (followed.error)
    throw Failure("cannot write " + file + ": " + std::strerror(followed.error));
  return followed.path;
}

#endif

} // namespace vlx::cli
