// Where a hive lives: the path from the environment, and probes of the file there.
#include "platform/posix/registry/hive_db.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vlx {
namespace {

const char *hiveFileName(Hive hive) {
  switch (hive) {
  case Hive::User:
    return "user.db";
  case Hive::Machine:
    return "machine.db";
  case Hive::DefaultUser:
    break;
  }
  return "default-user.db";
}

std::string homeDirectory() {
  const char *home = std::getenv("HOME");
  if (home && *home)
    return home;
  if (const passwd *pw = getpwuid(getuid()); pw && pw->pw_dir)
    return pw->pw_dir;
  return "/";
}

} // namespace

FileId fileId(const std::string &path) {
  FileId id;
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) {
    id.error = errno;
    return id;
  }
  id.device = st.st_dev;
  id.inode = st.st_ino;
  id.size = static_cast<uint64_t>(st.st_size);
  id.modified = static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
  return id;
}

bool missing(const FileId &id) { return id.error == ENOENT || id.error == ENOTDIR; }

Probe probeFile(const std::string &path) {
  Probe p;
  int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) {
    int openError = errno;
    p.id = fileId(path);
    if (openError == ENOENT || openError == ENOTDIR) {
      p.id.error = openError;
      return p;
    }
    p.error = openError == EACCES || openError == EPERM ? ERROR_ACCESS_DENIED : ERROR_BADDB;
    p.why = std::string("cannot be opened: ") + std::strerror(openError);
    return p;
  }
  struct stat st {};
  int statted = ::fstat(fd, &st);
  ::close(fd);
  p.id = fileId(path);
  if (statted != 0) {
    p.error = ERROR_BADDB;
    p.why = std::string("cannot be examined: ") + std::strerror(errno);
  } else if (!S_ISREG(st.st_mode)) {
    p.error = ERROR_BADDB;
    p.why = S_ISDIR(st.st_mode) ? "is a directory" : "is not a regular file";
  }
  return p;
}

bool makeDirectories(const std::string &dir, mode_t mode) {
  if (dir.empty())
    return true;
  std::string partial;
  size_t pos = 0;
  while (pos != std::string::npos) {
    pos = dir.find('/', pos + 1);
    partial = dir.substr(0, pos);
    if (partial.empty())
      continue;
    if (::mkdir(partial.c_str(), mode) != 0 && errno != EEXIST)
      return false;
  }
  struct stat st {};
  return ::stat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string resolveHivePath(Hive hive) {
  const char *dir = std::getenv("VELMORA_REGISTRY_DIR");
  if (dir && *dir)
    return std::string(dir) + "/" + hiveFileName(hive);
  if (hive == Hive::User) {
    const char *config = std::getenv("XDG_CONFIG_HOME");
    std::string base = config && config[0] == '/' ? config : homeDirectory() + "/.config";
    return base + "/velmora/registry/" + hiveFileName(hive);
  }
  return std::string("/etc/velmora/registry/") + hiveFileName(hive);
}

const std::string &HiveDb::path() {
  if (!pathResolved_) {
    path_ = resolveHivePath(hive_);
    pathResolved_ = true;
  }
  return path_;
}

void HiveDb::refreshLocation() {
  if (handles > 0 || batchDepth_ > 0)
    return;
  // Compared in place, and only the variables that decide this hive's path: this runs at the
  // start of every operation. Those not consulted read as empty, as they did when resolved.
  const char *values[3] = {std::getenv("VELMORA_REGISTRY_DIR"), nullptr, nullptr};
  if ((!values[0] || !*values[0]) && hive_ == Hive::User) {
    values[1] = std::getenv("XDG_CONFIG_HOME");
    if (!values[1] || values[1][0] != '/')
      values[2] = std::getenv("HOME");
  }
  bool changed = !pathResolved_;
  for (size_t i = 0; i < 3; ++i) {
    const char *value = values[i] ? values[i] : "";
    if (env_[i] != value) {
      env_[i] = value;
      changed = true;
    }
  }
  if (!changed)
    return;
  std::string now = resolveHivePath(hive_);
  if (now != path_) {
    close();
    path_ = std::move(now);
  }
  pathResolved_ = true;
}

} // namespace vlx
