// Named shared memory that no other user can plant, read or cut short, and that goes with its
// last holder as a Windows section goes with its last handle. /dev/shm is shared by all users:
// the user's id is part of every name, an object is taken only from its owner and only while
// nobody else may reach it, and it is made under a private name and linked into place whole.
// Every holder keeps a shared open-file-description lock on it (a view keeps it too, through the
// mapping's reference to the file), so an exclusive lock that can be had proves that nobody
// holds it: the object was left by processes that ended, and a new one replaces it.
#include "platform/posix/files/shared_memory.h"

#include "platform/posix/errno_map.h"

#include <atomic>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

namespace vlx::posix {
namespace {

constexpr const char *kDirectory = "/dev/shm/";
// A race with another process that is taking or dropping the name is retried, for at most
// about a second.
constexpr int kAttempts = 1000;

std::atomic<unsigned> madeCount{0};

std::string objectPath(const std::string &name) {
  std::string out = std::string(kDirectory) + "vlx-map-" + std::to_string(geteuid()) + "-";
  for (char c : name)
    out += c == '/' ? '\\' : c;
  return out;
}

bool lockWhole(int fd, short type) {
  struct flock lock = {};
  lock.l_type = type;
  lock.l_whence = SEEK_SET;
  return fcntl(fd, F_OFD_SETLK, &lock) == 0;
}

// Whether `path` still names the object open at `fd`.
bool stillNamed(int fd, const std::string &path) {
  struct stat open, named;
  return fstat(fd, &open) == 0 && lstat(path.c_str(), &named) == 0 &&
         open.st_dev == named.st_dev && open.st_ino == named.st_ino;
}

// The user's own object: a plain file they own that no one else may open.
DWORD checkOwner(int fd) {
  struct stat st;
  if (fstat(fd, &st) != 0)
    return win32Error(errno, ErrnoSite::File);
  if (!S_ISREG(st.st_mode) || st.st_uid != geteuid() || (st.st_mode & 077) != 0)
    return ERROR_ACCESS_DENIED;
  return ERROR_SUCCESS;
}

// A new object of `size` bytes under a private name, already holding its shared lock.
int makeObject(uint64_t size, std::string *temp, DWORD *error) {
  for (int attempt = 0; attempt < 100; ++attempt) {
    *temp = std::string(kDirectory) + ".vlx-new-" + std::to_string(geteuid()) + "-" +
            std::to_string(getpid()) + "-" + std::to_string(madeCount++);
    const int fd = open(temp->c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0 && errno == EEXIST)
      continue;
    if (fd < 0) {
      *error = win32Error(errno, ErrnoSite::File);
      return -1;
    }
    if (lockWhole(fd, F_RDLCK) && ftruncate(fd, static_cast<off_t>(size)) == 0)
      return fd;
    *error = win32Error(errno, ErrnoSite::Write);
    close(fd);
    unlink(temp->c_str());
    return -1;
  }
  *error = ERROR_ALREADY_EXISTS;
  return -1;
}

void waitBriefly() {
  const struct timespec millisecond = {0, 1000000};
  nanosleep(&millisecond, nullptr);
}

} // namespace

DWORD openSharedObject(const std::string &name, bool create, uint64_t size, SharedObject *out) {
  const std::string path = objectPath(name);
  for (int attempt = 0; attempt < kAttempts; ++attempt) {
    const int fd = open(path.c_str(), O_RDWR | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0 && errno != ENOENT)
      return errno == ELOOP || errno == EACCES ? static_cast<DWORD>(ERROR_ACCESS_DENIED)
                                               : win32Error(errno, ErrnoSite::File);
    if (fd >= 0) {
      if (DWORD error = checkOwner(fd)) {
        close(fd);
        return error;
      }
      if (lockWhole(fd, F_RDLCK) && !lockWhole(fd, F_WRLCK)) {
        // Someone else holds it: it is live, unless it lost its name meanwhile.
        if (stillNamed(fd, path)) {
          *out = SharedObject{fd, path, true};
          return ERROR_SUCCESS;
        }
        close(fd);
        waitBriefly();
        continue;
      }
    }
    const bool stale = fd >= 0 && lockWhole(fd, F_WRLCK);
    if (fd >= 0 && !stale) {
      // Being taken or dropped by another process right now.
      close(fd);
      waitBriefly();
      continue;
    }
    if (!create) {
      // Nobody holds it: its name goes, as it would have with its last handle.
      if (stale && stillNamed(fd, path))
        unlink(path.c_str());
      if (fd >= 0)
        close(fd);
      return ERROR_FILE_NOT_FOUND;
    }
    std::string temp;
    DWORD error = ERROR_SUCCESS;
    const int made = makeObject(size, &temp, &error);
    if (made < 0) {
      if (fd >= 0)
        close(fd);
      return error;
    }
    // A stale object is replaced while its exclusive lock keeps others from doing the same; a
    // new name is linked, which fails where another process was first.
    const bool placed = stale ? stillNamed(fd, path) && rename(temp.c_str(), path.c_str()) == 0
                              : link(temp.c_str(), path.c_str()) == 0;
    const int err = errno;
    unlink(temp.c_str());
    if (fd >= 0)
      close(fd);
    if (placed) {
      *out = SharedObject{made, path, false};
      return ERROR_SUCCESS;
    }
    close(made);
    if (err != EEXIST && err != ENOENT)
      return win32Error(err, ErrnoSite::File);
  }
  return ERROR_BUSY;
}

void releaseSharedObject(int fd, const std::string &path) {
  // The exclusive lock can be had only by the last holder anywhere.
  if (lockWhole(fd, F_WRLCK)) {
    if (stillNamed(fd, path))
      unlink(path.c_str());
    lockWhole(fd, F_UNLCK);
  }
  close(fd);
}

} // namespace vlx::posix
