// The walk that decides whether a path is out of other users' reach, one component at a time
// through directories held open, so that what is checked is what is opened.
#include "platform/posix/files/trusted_path.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>
#include <vector>

namespace vlx::posix {
namespace {

constexpr int kMaxLinks = 40; // as the kernel's own limit

// "is writable by ..." for a mode that lets group or others write, else null.
const char *writableBy(mode_t mode) {
  const bool group = (mode & S_IWGRP) != 0, others = (mode & S_IWOTH) != 0;
  return group && others ? "is writable by group and others"
         : group         ? "is writable by its group"
         : others        ? "is writable by others"
                         : nullptr;
}

std::string ownerRisk(const struct stat &st, uid_t user) {
  if (st.st_uid == user || st.st_uid == 0)
    return "";
  return "belongs to user " + std::to_string(st.st_uid);
}

// Components to visit, the next one last; "" and "." name nothing.
void pushComponents(std::vector<std::string> &pending, const std::string &path) {
  std::vector<std::string> parts;
  for (size_t start = 0; start <= path.size();) {
    size_t end = path.find('/', start);
    if (end == std::string::npos)
      end = path.size();
    std::string part = path.substr(start, end - start);
    if (!part.empty() && part != ".")
      parts.push_back(std::move(part));
    start = end + 1;
  }
  pending.insert(pending.end(), parts.rbegin(), parts.rend());
}

class Fd {
public:
  explicit Fd(int fd = -1) : fd_(fd) {}
  ~Fd() { reset(); }
  Fd(const Fd &) = delete;
  Fd &operator=(const Fd &) = delete;
  void reset(int fd = -1) {
    if (fd_ >= 0)
      close(fd_);
    fd_ = fd;
  }
  int get() const { return fd_; }
  int release() {
    const int fd = fd_;
    fd_ = -1;
    return fd;
  }

private:
  int fd_;
};

bool sameFile(const struct stat &a, const struct stat &b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

TrustedFile fail(Trust trust, std::string why) {
  TrustedFile out;
  out.trust = trust;
  out.why = std::move(why);
  return out;
}

} // namespace

const char *directoryRisk(const struct stat &dir, uid_t user) {
  if (dir.st_uid != user && dir.st_uid != 0)
    return "belongs to another user";
  return (dir.st_mode & S_ISVTX) != 0 ? nullptr : writableBy(dir.st_mode);
}

TrustedFile openTrustedFile(const std::string &path, uid_t user) {
  if (path.empty() || path[0] != '/')
    return fail(Trust::Refused, path + " is not an absolute path");
  std::vector<std::string> pending;
  pushComponents(pending, path);

  std::string resolved; // "" is the root
  Fd dir(open("/", O_PATH | O_DIRECTORY | O_CLOEXEC));
  struct stat st;
  if (dir.get() < 0 || fstat(dir.get(), &st) != 0)
    return fail(Trust::Missing, std::string("/: ") + std::strerror(errno));
  // A directory is checked once, when it is entered; ".." goes back to one checked before.
  auto checkDirectory = [user](const struct stat &d, const std::string &name) -> std::string {
    if (std::string owner = ownerRisk(d, user); !owner.empty())
      return "directory " + name + " " + owner;
    const char *risk = directoryRisk(d, user);
    return risk ? "directory " + name + " " + risk : "";
  };
  if (std::string risk = checkDirectory(st, "/"); !risk.empty())
    return fail(Trust::Refused, risk);

  int links = 0;
  while (!pending.empty()) {
    const std::string name = pending.back();
    pending.pop_back();
    if (name == "..") {
      const size_t slash = resolved.rfind('/');
      resolved = slash == std::string::npos ? "" : resolved.substr(0, slash);
      Fd parent(openat(dir.get(), "..", O_PATH | O_DIRECTORY | O_CLOEXEC));
      if (parent.get() < 0)
        return fail(Trust::Missing, path + ": " + std::strerror(errno));
      dir.reset(parent.release());
      continue;
    }
    const std::string here = resolved + "/" + name;
    struct stat entry;
    if (fstatat(dir.get(), name.c_str(), &entry, AT_SYMLINK_NOFOLLOW) != 0)
      return fail(Trust::Missing, here + ": " + std::strerror(errno));
    if (std::string owner = ownerRisk(entry, user); !owner.empty())
      return fail(Trust::Refused, here + " " + owner);

    if (S_ISLNK(entry.st_mode)) {
      if (++links > kMaxLinks)
        return fail(Trust::Missing, path + ": " + std::strerror(ELOOP));
      std::string target(static_cast<size_t>(entry.st_size > 0 ? entry.st_size : 0) + 1, '\0');
      const ssize_t got = readlinkat(dir.get(), name.c_str(), target.data(), target.size());
      if (got < 0 || static_cast<size_t>(got) >= target.size()) // changed meanwhile
        return fail(Trust::Missing, here + ": the link cannot be read");
      target.resize(static_cast<size_t>(got));
      if (!target.empty() && target[0] == '/') {
        resolved.clear();
        dir.reset(open("/", O_PATH | O_DIRECTORY | O_CLOEXEC));
        if (dir.get() < 0)
          return fail(Trust::Missing, std::string("/: ") + std::strerror(errno));
      }
      pushComponents(pending, target);
      continue;
    }

    if (!pending.empty()) { // a directory on the way
      if (!S_ISDIR(entry.st_mode))
        return fail(Trust::Missing, here + ": " + std::strerror(ENOTDIR));
      if (std::string risk = checkDirectory(entry, here); !risk.empty())
        return fail(Trust::Refused, risk);
      Fd next(openat(dir.get(), name.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
      struct stat opened;
      if (next.get() < 0 || fstat(next.get(), &opened) != 0 || !sameFile(opened, entry))
        return fail(Trust::Missing, here + ": changed while it was checked");
      dir.reset(next.release());
      resolved = here;
      continue;
    }

    if (!S_ISREG(entry.st_mode))
      return fail(Trust::Missing, here + " is not a regular file");
    if (const char *risk = writableBy(entry.st_mode))
      return fail(Trust::Refused, here + " " + risk);
    Fd file(openat(dir.get(), name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    struct stat opened;
    if (file.get() < 0)
      return fail(Trust::Missing, here + ": " + std::strerror(errno));
    if (fstat(file.get(), &opened) != 0 || !sameFile(opened, entry))
      return fail(Trust::Missing, here + ": changed while it was checked");
    TrustedFile out;
    out.trust = Trust::Trusted;
    out.fd = file.release();
    out.resolved = here;
    return out;
  }
  return fail(Trust::Missing, path + " is not a regular file");
}

} // namespace vlx::posix
