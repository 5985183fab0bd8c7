// The Windows C run-time calls the library uses (_getpid, _itoa, _mkdir, getenv) and the check
// that keeps a scratch directory private.
#include "platform/posix/errno_map.h"
#include "platform/posix/files/caseless.h"
#include "platform/posix/files/path_map.h"
#include "platform/posix/files/syscalls.h"
#include "platform/posix/files/trusted_path.h"

#include <velmora/win32.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

extern "C" {

int _getpid(void) { return static_cast<int>(getpid()); }

char *_itoa(int value, char *buffer, int radix) {
  if (!buffer) {
    errno = EINVAL;
    return buffer;
  }
  if (radix < 2 || radix > 36) {
    errno = EINVAL;
    buffer[0] = '\0';
    return buffer;
  }
  const bool negative = radix == 10 && value < 0;
  // Other radixes show the two's-complement bits of the 32-bit value.
  unsigned magnitude = negative ? 0u - static_cast<unsigned>(value) : static_cast<unsigned>(value);
  char digits[32];
  int count = 0;
  do {
    unsigned digit = magnitude % static_cast<unsigned>(radix);
    digits[count++] = static_cast<char>(digit < 10 ? '0' + digit : 'a' + digit - 10);
    magnitude /= static_cast<unsigned>(radix);
  } while (magnitude != 0);
  char *out = buffer;
  if (negative)
    *out++ = '-';
  while (count > 0)
    *out++ = digits[--count];
  *out = '\0';
  return buffer;
}

int _mkdir(const char *dirname) {
  using namespace vlx::posix;
  std::string path;
  PathFacts facts;
  DWORD error = mapPath(dirname, path, &facts);
  if (error == ERROR_SUCCESS && hasWildcards(path))
    error = ERROR_INVALID_NAME;
  if (error != ERROR_SUCCESS) {
    SetLastError(error);
    errno = error == ERROR_INVALID_PARAMETER ? EINVAL : ENOENT;
    return -1;
  }
  // The folder in another case is the folder asked for: it exists.
  struct stat st;
  statCaseless(path, facts, st, StatMode::NoFollow);
  // Scratch directories hold the user's work in progress: private to the user.
  if (fileSyscalls().mkdir(path.c_str(), 0700) != 0) {
    int err = errno;
    SetLastError(win32Error(err, ErrnoSite::Directory));
    errno = err;
    return -1;
  }
  return 0;
}
}

namespace vlx {
namespace {

// ASCII only: a locale's own case rules (a Turkish dotless i) must not change the lookup.
char lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool sameNameIgnoringCase(const char *entry, const char *name, std::size_t length) {
  for (std::size_t i = 0; i < length; ++i)
    if (entry[i] == '\0' || lower(entry[i]) != lower(name[i]))
      return false;
  return entry[length] == '=';
}

char *lookup(const char *name) {
  if (char *value = std::getenv(name))
    return value;
  std::size_t length = std::strlen(name);
  if (length == 0 || std::strchr(name, '='))
    return nullptr;
  for (char **entry = environ; entry && *entry; ++entry)
    if (sameNameIgnoringCase(*entry, name, length))
      return *entry + length + 1;
  return nullptr;
}

// The library reads an empty variable as an unset one.
bool isSet(const char *value) { return value != nullptr && *value != '\0'; }

// Where a Linux session keeps its temporary files: the runtime directory is private by design.
char *defaultTemp() {
  static char tmp[] = "/tmp";
  for (const char *name : {"XDG_RUNTIME_DIR", "TMPDIR"})
    if (char *value = std::getenv(name); isSet(value))
      return value;
  return tmp;
}

bool isTemp(const char *name) {
  for (const char *letter = "temp"; *letter != '\0'; ++letter, ++name)
    if (lower(*name) != *letter)
      return false;
  return *name == '\0';
}

} // namespace

char *getenv(const char *name) {
  if (!name)
    return nullptr;
  char *value = lookup(name);
  if (!isSet(value) && isTemp(name) && !isSet(lookup("tmp")))
    return defaultTemp();
  return value;
}

int isPrivateDirectory(const char *path) {
  using namespace vlx::posix;
  std::string target;
  if (mapPath(path, target) != ERROR_SUCCESS)
    return 0;
  // A final slash would make the look-up follow a link.
  while (target.size() > 1 && target.back() == '/')
    target.pop_back();
  const std::string::size_type slash = target.rfind('/');
  const std::string name = slash == std::string::npos ? target : target.substr(slash + 1);
  if (name.empty())
    return 0;

  // The entry is examined through its parent, held open, so both checks see the same directory.
  const FileSyscalls &sys = fileSyscalls();
  const int parent =
      sys.open(parentDirectory(target).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC, 0);
  if (parent < 0)
    return 0;
  struct stat dir;
  struct stat entry;
  const bool examined = sys.fstat(parent, &dir) == 0 &&
                        sys.fstatAt(parent, name.c_str(), &entry, AT_SYMLINK_NOFOLLOW) == 0;
  sys.close(parent);
  const uid_t user = geteuid();
  return examined && keepsEntriesToTheirOwners(dir, user) && S_ISDIR(entry.st_mode) &&
                 entry.st_uid == user && (entry.st_mode & (S_IRWXG | S_IRWXO)) == 0
             ? 1
             : 0;
}

} // namespace vlx
