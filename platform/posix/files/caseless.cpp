// Names found without regard to case: the exact name costs nothing more, a missing one a look-up
// in its folder's index (folder_index.h), or a scan where the folder cannot be indexed.
#include "platform/posix/files/caseless.h"

#include "platform/posix/files/folder_index.h"
#include "platform/posix/files/syscalls.h"
#include "platform/posix/name_fold.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace vlx::posix {
namespace {

bool isDotName(std::string_view name) { return name == "." || name == ".."; }

// The name looked for, folded once however many entries are compared with it.
class WantedName {
public:
  explicit WantedName(std::string_view name) : name_(name), ascii_(isAscii(name)) {}
  bool matches(std::string_view entry) {
    if (ascii_ && isAscii(entry))
      return sameFolded(name_, entry);
    if (folded_.empty())
      folded_ = foldedUnits(name_);
    return foldedUnits(entry) == folded_;
  }

private:
  std::string_view name_;
  bool ascii_;
  std::u32string folded_;
};

// A descriptor closed when it goes out of scope.
class Fd {
public:
  explicit Fd(int fd) : fd_(fd) {}
  ~Fd() { reset(-1); }
  Fd(const Fd &) = delete;
  Fd &operator=(const Fd &) = delete;
  int get() const { return fd_; }
  void reset(int fd) {
    if (fd_ >= 0)
      fileSyscalls().close(fd_);
    fd_ = fd;
  }

private:
  int fd_;
};

// A directory that may only be searched, not read: descending needs no more.
constexpr int kDirectoryPath = O_PATH | O_DIRECTORY | O_CLOEXEC;

// Whether `name` is an entry of `dirFd` as it stands (a link whose target is missing included).
bool hasEntry(int dirFd, const std::string &name) {
  struct stat st;
  return isDotName(name) ||
         fileSyscalls().fstatAt(dirFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 ||
         errno != ENOENT;
}

int statOnce(const std::string &path, struct stat &st, StatMode mode) {
  const FileSyscalls &sys = fileSyscalls();
  if ((mode == StatMode::NoFollow ? sys.lstatPath : sys.statPath)(path.c_str(), &st) == 0)
    return 0;
  const int err = errno;
  if (mode == StatMode::Entry && err == ENOENT && sys.lstatPath(path.c_str(), &st) == 0)
    return 0;
  return err;
}

} // namespace

std::string caselessEntry(int dirFd, std::string_view name) {
  if (std::string found; indexedCaselessEntry(dirFd, name, &found))
    return found;
  const FileSyscalls &sys = fileSyscalls();
  // A descriptor that may only be searched cannot be listed: the listing opens its own.
  const int fd = sys.openAt(dirFd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC, 0);
  if (fd < 0)
    return {};
  DIR *dir = sys.openDirFd(fd);
  if (!dir)
    return {};
  WantedName wanted(name);
  std::string first;
  while (const struct dirent *entry = sys.readDir(dir)) {
    const std::string_view found(entry->d_name);
    // Several names of one folding: the first in byte order, whatever order the system lists.
    if (!isDotName(found) && (first.empty() || found < first) && wanted.matches(found))
      first = found;
  }
  sys.closeDir(dir);
  return first;
}

bool findCaseless(std::string &path, const PathFacts &facts) {
  if (facts.device)
    return false;
  const int savedErrno = errno;
  // The root is the host's own directory, taken as it is.
  std::string::size_type start = facts.rooted ? facts.rootLength : 0;
  while (start < path.size() && path[start] == '/')
    ++start;
  std::vector<std::pair<std::string::size_type, std::string::size_type>> parts;
  for (std::string::size_type at = start; at < path.size();) {
    const std::string::size_type end = std::min(path.find('/', at), path.size());
    if (end > at)
      parts.emplace_back(at, end - at);
    at = end + 1;
  }
  if (parts.empty())
    return false;

  const FileSyscalls &sys = fileSyscalls();
  // Most misses are of the last name only: its directory first, the whole path only when that
  // is missing too.
  std::size_t from = parts.size() - 1;
  const std::string parent = path.substr(0, parts.back().first);
  Fd dir(sys.open(parent.empty() ? "." : parent.c_str(), kDirectoryPath, 0));
  if (dir.get() < 0 && (errno == ENOENT || errno == ENOTDIR)) {
    const std::string root = path.substr(0, start);
    dir.reset(sys.open(root.empty() ? "." : root.c_str(), kDirectoryPath, 0));
    from = 0;
  }
  if (dir.get() < 0) {
    errno = savedErrno;
    return false;
  }

  std::string result = path.substr(0, parts[from].first);
  std::string::size_type copied = parts[from].first;
  bool changed = false;
  for (std::size_t i = from; i < parts.size(); ++i) {
    std::string name = path.substr(parts[i].first, parts[i].second);
    if (!hasEntry(dir.get(), name)) {
      std::string found = caselessEntry(dir.get(), name);
      if (found.empty())
        break;
      name = std::move(found);
      changed = true;
    }
    const std::string::size_type next = i + 1 < parts.size() ? parts[i + 1].first : path.size();
    result += name;
    result.append(path, parts[i].first + parts[i].second, next - parts[i].first - parts[i].second);
    copied = next;
    if (i + 1 == parts.size())
      break;
    dir.reset(sys.openAt(dir.get(), name.c_str(), kDirectoryPath, 0));
    if (dir.get() < 0)
      break;
  }
  if (changed)
    path = result + path.substr(copied);
  errno = savedErrno;
  return changed;
}

bool retryCaseless(int err, std::string &path, const PathFacts &facts) {
  return (err == ENOENT || err == ENOTDIR) && findCaseless(path, facts);
}

int statCaseless(std::string &path, const PathFacts &facts, struct stat &st, StatMode mode) {
  const int err = statOnce(path, st, mode);
  if (err == 0 || !retryCaseless(err, path, facts))
    return err;
  return statOnce(path, st, mode);
}

std::string withLastComponentOf(const std::string &path, const std::string &given) {
  const std::string::size_type cut = path.rfind('/');
  const std::string::size_type givenCut = given.rfind('/');
  return path.substr(0, cut == std::string::npos ? 0 : cut + 1) +
         given.substr(givenCut == std::string::npos ? 0 : givenCut + 1);
}

} // namespace vlx::posix
