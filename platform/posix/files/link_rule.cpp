// The owner rule for following a symbolic link, read through the folder's descriptor so that the
// folder checked is the one the link is read from.
#include "platform/posix/files/link_rule.h"

#include <cerrno>
#include <climits>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vlx::posix {

LinkAt linkAt(const std::string &path) {
  LinkAt at;
  const size_t slash = path.rfind('/');
  const std::string folder = slash == std::string::npos ? "."
                             : slash == 0               ? "/"
                                                        : path.substr(0, slash);
  const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  if (name.empty())
    return at;
  const int dir = ::open(folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
  if (dir < 0)
    return at; // a missing folder holds no link; the write names it
  struct stat folderStat, linkStat;
  if (::fstat(dir, &folderStat) == 0 &&
      ::fstatat(dir, name.c_str(), &linkStat, AT_SYMLINK_NOFOLLOW) == 0 &&
      S_ISLNK(linkStat.st_mode)) {
    at.link = true;
    // Only the link's owner, the folder's and root may swap a link in a sticky folder, so the
    // link read below is the one checked here.
    const bool shared = (folderStat.st_mode & S_ISVTX) && (folderStat.st_mode & S_IWOTH);
    const uid_t owner = linkStat.st_uid;
    at.refused = shared && owner != ::geteuid() && owner != 0 && owner != folderStat.st_uid;
    if (!at.refused) {
      at.target.resize(PATH_MAX);
      const ssize_t n = ::readlinkat(dir, name.c_str(), at.target.data(), at.target.size());
      if (n < 0 || static_cast<size_t>(n) >= at.target.size())
        at.error = n < 0 ? errno : ENAMETOOLONG;
      at.target.resize(at.error ? 0 : static_cast<size_t>(n));
    }
  }
  ::close(dir);
  return at;
}

} // namespace vlx::posix
