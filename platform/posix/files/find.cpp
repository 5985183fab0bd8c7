// FindFirstFileA/FindNextFileA/FindClose: a directory listing filtered by the Windows wildcards.
#include "platform/posix/files/file_errors.h"
#include "platform/posix/files/find_data.h"
#include "platform/posix/files/path_map.h"
#include "platform/posix/files/syscalls.h"
#include "platform/posix/files/wildcard.h"

#include <velmora/win32.h>

#include <cerrno>
#include <fcntl.h>
#include <memory>
#include <mutex>
#include <unordered_set>

namespace vlx::posix {
namespace {

struct FindState {
  explicit FindState(std::string_view text) : pattern(text) {}
  ~FindState() {
    if (dir)
      fileSyscalls().closeDir(dir);
  }
  FindState(const FindState &) = delete;
  FindState &operator=(const FindState &) = delete;

  WildcardPattern pattern;
  DIR *dir = nullptr;
  // "." and ".." come first, as Windows lists them; the system's own are skipped.
  int nextDot = 0;
  // A literal name found by one look-up: nothing more to list.
  bool single = false;
};

// Handles given out and not yet closed, so that a stale handle is refused, not followed. Never
// destroyed: a host may close a search from its own static destructors.
struct HandleRegistry {
  std::mutex mutex;
  std::unordered_set<const FindState *> open;
};
HandleRegistry &handles() {
  static auto *registry = new HandleRegistry;
  return *registry;
}

bool isDotName(const char *name) {
  return name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'));
}

// Status of `name` in the listed directory; a dangling link reports itself.
bool statEntry(int dirFd, const char *name, struct stat &st) {
  const FileSyscalls &sys = fileSyscalls();
  return sys.fstatAt(dirFd, name, &st, 0) == 0 ||
         sys.fstatAt(dirFd, name, &st, AT_SYMLINK_NOFOLLOW) == 0;
}

// Fills `data` with the next entry that matches: ERROR_SUCCESS, ERROR_NO_MORE_FILES at the end,
// or the error that stopped the listing.
DWORD nextMatch(FindState &state, WIN32_FIND_DATAA &data) {
  const FileSyscalls &sys = fileSyscalls();
  if (state.single)
    return ERROR_NO_MORE_FILES;
  const int dirFd = dirfd(state.dir);
  struct stat st;
  while (state.nextDot < 2) {
    const char *name = state.nextDot++ == 0 ? "." : "..";
    if (!state.pattern.matches(name))
      continue;
    struct stat self;
    struct stat parent;
    if (sys.fstat(dirFd, &self) != 0 || sys.fstatAt(dirFd, "..", &parent, 0) != 0)
      continue;
    // A root directory has neither entry on Windows.
    if (self.st_dev == parent.st_dev && self.st_ino == parent.st_ino) {
      state.nextDot = 2;
      break;
    }
    fillFindData(name, name[1] ? parent : self, data);
    return ERROR_SUCCESS;
  }
  for (;;) {
    errno = 0;
    const struct dirent *entry = sys.readDir(state.dir);
    if (!entry)
      return errno ? win32Error(errno, ErrnoSite::Read) : ERROR_NO_MORE_FILES;
    const char *name = entry->d_name;
    if (isDotName(name) || !state.pattern.matches(name))
      continue;
    // Only matches cost a status call; an entry removed meanwhile is passed over.
    if (!statEntry(dirFd, name, st))
      continue;
    fillFindData(name, st, data);
    return ERROR_SUCCESS;
  }
}

FindState *checkHandle(HANDLE handle) {
  auto *state = static_cast<FindState *>(handle);
  std::lock_guard<std::mutex> lock(handles().mutex);
  return handles().open.count(state) ? state : nullptr;
}

} // namespace
} // namespace vlx::posix

using namespace vlx::posix;

HANDLE WINAPI FindFirstFileA(LPCSTR lpFileName, LPWIN32_FIND_DATAA lpFindFileData) {
  if (!lpFindFileData)
    return fail(ERROR_INVALID_PARAMETER, INVALID_HANDLE_VALUE);
  std::string path;
  if (DWORD error = mapPath(lpFileName, path))
    return fail(error, INVALID_HANDLE_VALUE);

  std::string::size_type slash = path.rfind('/');
  std::string directory = slash == std::string::npos ? "."
                          : slash == 0               ? "/"
                                                     : path.substr(0, slash);
  std::string_view pattern =
      std::string_view(path).substr(slash == std::string::npos ? 0 : slash + 1);
  // Wildcards stand only in the last component.
  if (hasWildcards(directory))
    return fail(ERROR_INVALID_NAME, INVALID_HANDLE_VALUE);

  const FileSyscalls &sys = fileSyscalls();
  auto state = std::make_unique<FindState>(pattern);
  state->dir = sys.openDir(directory.c_str());
  if (!state->dir)
    return fail(win32Error(errno, ErrnoSite::Directory), INVALID_HANDLE_VALUE);
  // A path ending in a separator names no entry.
  if (pattern.empty())
    return fail(ERROR_FILE_NOT_FOUND, INVALID_HANDLE_VALUE);

  struct stat st;
  std::string name(pattern);
  if (state->pattern.isLiteral() && statEntry(dirfd(state->dir), name.c_str(), st)) {
    // One look-up instead of a listing when the exact name exists.
    fillFindData(name.c_str(), st, *lpFindFileData);
    state->single = true;
    sys.closeDir(state->dir);
    state->dir = nullptr;
  } else if (DWORD error = nextMatch(*state, *lpFindFileData)) {
    return fail(error == ERROR_NO_MORE_FILES ? ERROR_FILE_NOT_FOUND : error, INVALID_HANDLE_VALUE);
  }
  std::lock_guard<std::mutex> lock(handles().mutex);
  handles().open.insert(state.get());
  return state.release();
}

BOOL WINAPI FindNextFileA(HANDLE hFindFile, LPWIN32_FIND_DATAA lpFindFileData) {
  FindState *state = checkHandle(hFindFile);
  if (!state)
    return fail(ERROR_INVALID_HANDLE, FALSE);
  if (!lpFindFileData)
    return fail(ERROR_INVALID_PARAMETER, FALSE);
  if (DWORD error = nextMatch(*state, *lpFindFileData))
    return fail(error, FALSE);
  return TRUE;
}

BOOL WINAPI FindClose(HANDLE hFindFile) {
  auto *state = static_cast<FindState *>(hFindFile);
  {
    std::lock_guard<std::mutex> lock(handles().mutex);
    if (!handles().open.erase(state))
      return fail(ERROR_INVALID_HANDLE, FALSE);
  }
  delete state;
  return TRUE;
}
