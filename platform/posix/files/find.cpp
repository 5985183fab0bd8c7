// FindFirstFileA/FindNextFileA/FindClose and the names-only listing: a directory listing
// filtered by the Windows wildcards.
#include "platform/posix/files/caseless.h"
#include "platform/posix/files/file_errors.h"
#include "platform/posix/files/find_data.h"
#include "platform/posix/files/path_map.h"
#include "platform/posix/files/syscalls.h"
#include "platform/posix/files/wildcard.h"

#include <velmora/win32.h>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <mutex>
#include <unordered_set>

namespace vlx::posix {
namespace {

bool isDotName(const char *name) {
  return name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'));
}

// Status of `name` in the listed directory; a dangling link reports itself.
bool statEntry(int dirFd, const char *name, struct stat &st) {
  const FileSyscalls &sys = fileSyscalls();
  return sys.fstatAt(dirFd, name, &st, 0) == 0 ||
         sys.fstatAt(dirFd, name, &st, AT_SYMLINK_NOFOLLOW) == 0;
}

// One directory search: the names that match a pattern, "." and ".." first where the directory
// has them, as Windows lists them.
class Search {
public:
  explicit Search(std::string_view pattern) : pattern_(pattern) {}
  ~Search() {
    if (dir_)
      fileSyscalls().closeDir(dir_);
  }
  Search(const Search &) = delete;
  Search &operator=(const Search &) = delete;

  // Maps the Windows pattern and opens its directory: ERROR_SUCCESS or why the search fails.
  static DWORD open(const char *winPattern, std::unique_ptr<Search> &search);

  // The next name that matches, or null with `error` set (ERROR_NO_MORE_FILES at the end).
  const char *next(DWORD &error);
  // The status of the name `next` returned last; false when the entry has gone meanwhile.
  bool status(const char *name, struct stat &st) const;
  // A DOS device: one entry and no status.
  bool isDevice() const { return device_; }

private:
  WildcardPattern pattern_;
  DIR *dir_ = nullptr;
  // "." and ".." come next (0, 1) or are done (2); the system's own are skipped.
  int nextDot_ = 0;
  // A literal name, or a device, found by one look-up: `single_` is it until it is returned.
  std::string single_;
  bool singleDone_ = false;
  struct stat singleStat_ = {};
  bool device_ = false;
};

// A folder named in Windows form, found without regard to case.
bool folderExists(const std::string &winFolder) {
  std::string path;
  PathFacts facts;
  struct stat st;
  const FileSyscalls &sys = fileSyscalls();
  if (mapPath(winFolder.c_str(), path, &facts) != ERROR_SUCCESS)
    return false;
  if (sys.statPath(path.c_str(), &st) != 0 &&
      !(retryCaseless(errno, path, facts) && sys.statPath(path.c_str(), &st) == 0))
    return false;
  return S_ISDIR(st.st_mode);
}

DWORD Search::open(const char *winPattern, std::unique_ptr<Search> &search) {
  std::string path;
  PathFacts facts;
  if (DWORD error = mapPath(winPattern, path, &facts))
    return error;
  if (facts.device) {
    // The name as given, as the device answers to it in any folder that exists.
    std::string_view text(winPattern);
    std::string_view::size_type cut = text.find_last_of("\\/:");
    if (cut != std::string_view::npos && cut > 0 &&
        !folderExists(std::string(text.substr(0, text[cut] == ':' ? cut + 1 : cut))))
      return ERROR_PATH_NOT_FOUND;
    search.reset(new Search(""));
    search->single_ = std::string(text.substr(cut == std::string_view::npos ? 0 : cut + 1));
    search->device_ = true;
    return ERROR_SUCCESS;
  }

  std::string::size_type slash = path.rfind('/');
  std::string directory = slash == std::string::npos ? "."
                          : slash == 0               ? "/"
                                                     : path.substr(0, slash);
  std::string_view pattern =
      std::string_view(path).substr(slash == std::string::npos ? 0 : slash + 1);
  // Wildcards stand only in the last component.
  if (hasWildcards(directory))
    return ERROR_INVALID_NAME;

  const FileSyscalls &sys = fileSyscalls();
  search.reset(new Search(pattern));
  search->dir_ = sys.openDir(directory.c_str());
  if (!search->dir_ && retryCaseless(errno, directory, facts))
    search->dir_ = sys.openDir(directory.c_str());
  if (!search->dir_)
    return win32Error(errno, ErrnoSite::Directory);
  // A path ending in a separator names no entry.
  if (pattern.empty())
    return ERROR_FILE_NOT_FOUND;
  // A drive's root has no "." or "..", as on Windows.
  if (facts.rooted && slash == facts.rootLength)
    search->nextDot_ = 2;
  std::string name(pattern);
  if (search->pattern_.isLiteral() &&
      statEntry(dirfd(search->dir_), name.c_str(), search->singleStat_)) {
    // One look-up instead of a listing when the exact name exists.
    search->single_ = name;
    sys.closeDir(search->dir_);
    search->dir_ = nullptr;
  }
  return ERROR_SUCCESS;
}

const char *Search::next(DWORD &error) {
  const FileSyscalls &sys = fileSyscalls();
  error = ERROR_NO_MORE_FILES;
  if (!single_.empty() || !dir_) {
    if (singleDone_ || single_.empty())
      return nullptr;
    singleDone_ = true;
    return single_.c_str();
  }
  const int dirFd = dirfd(dir_);
  while (nextDot_ < 2) {
    const char *name = nextDot_++ == 0 ? "." : "..";
    if (!pattern_.matches(name))
      continue;
    struct stat self;
    struct stat parent;
    if (sys.fstat(dirFd, &self) != 0 || sys.fstatAt(dirFd, "..", &parent, 0) != 0)
      continue;
    // The system's root directory has neither entry on Windows either.
    if (self.st_dev == parent.st_dev && self.st_ino == parent.st_ino) {
      nextDot_ = 2;
      break;
    }
    return name;
  }
  for (;;) {
    errno = 0;
    const struct dirent *entry = sys.readDir(dir_);
    if (!entry) {
      if (errno)
        error = win32Error(errno, ErrnoSite::Read);
      return nullptr;
    }
    const char *name = entry->d_name;
    if (!isDotName(name) && pattern_.matches(name))
      return name;
  }
}

bool Search::status(const char *name, struct stat &st) const {
  if (name == single_.c_str()) {
    st = singleStat_;
    return true;
  }
  const int dirFd = dirfd(dir_);
  if (std::strcmp(name, ".") == 0)
    return fileSyscalls().fstat(dirFd, &st) == 0;
  return statEntry(dirFd, name, st);
}

// Fills `data` with the next entry that matches: ERROR_SUCCESS, ERROR_NO_MORE_FILES at the end,
// or the error that stopped the listing.
DWORD nextMatch(Search &search, WIN32_FIND_DATAA &data) {
  DWORD error;
  while (const char *name = search.next(error)) {
    if (search.isDevice()) {
      std::memset(&data, 0, sizeof data);
      data.dwFileAttributes = FILE_ATTRIBUTE_ARCHIVE;
      std::strncpy(data.cFileName, name, sizeof data.cFileName - 1);
      return ERROR_SUCCESS;
    }
    // Only matches cost a status call; an entry removed meanwhile is passed over.
    struct stat st;
    if (search.status(name, st)) {
      fillFindData(name, st, data);
      return ERROR_SUCCESS;
    }
  }
  return error;
}

// Handles given out and not yet closed, so that a stale handle is refused, not followed. Never
// destroyed: a host may close a search from its own static destructors.
struct HandleRegistry {
  std::mutex mutex;
  std::unordered_set<const Search *> open;
};
HandleRegistry &handles() {
  static auto *registry = new HandleRegistry;
  return *registry;
}

Search *checkHandle(HANDLE handle) {
  auto *search = static_cast<Search *>(handle);
  std::lock_guard<std::mutex> lock(handles().mutex);
  return handles().open.count(search) ? search : nullptr;
}

// The first match of a search, or the error: no match at all is ERROR_FILE_NOT_FOUND.
DWORD firstMatch(const char *pattern, std::unique_ptr<Search> &search, WIN32_FIND_DATAA &data) {
  if (DWORD error = Search::open(pattern, search))
    return error;
  DWORD error = nextMatch(*search, data);
  return error == ERROR_NO_MORE_FILES ? ERROR_FILE_NOT_FOUND : error;
}

} // namespace

} // namespace vlx::posix

int vlx::findNames(const char *pattern, NameSink onName, void *context) {
  using posix::fail;
  std::unique_ptr<posix::Search> search;
  if (DWORD error = posix::Search::open(pattern, search))
    return fail(error, 0);
  DWORD error;
  const char *name = search->next(error);
  if (!name)
    return fail(error == ERROR_NO_MORE_FILES ? ERROR_FILE_NOT_FOUND : error, 0);
  do
    onName(context, name);
  while ((name = search->next(error)));
  return 1;
}

using namespace vlx::posix;

HANDLE WINAPI FindFirstFileA(LPCSTR lpFileName, LPWIN32_FIND_DATAA lpFindFileData) {
  if (!lpFindFileData)
    return fail(ERROR_INVALID_PARAMETER, INVALID_HANDLE_VALUE);
  std::unique_ptr<Search> search;
  if (DWORD error = firstMatch(lpFileName, search, *lpFindFileData))
    return fail(error, INVALID_HANDLE_VALUE);
  std::lock_guard<std::mutex> lock(handles().mutex);
  handles().open.insert(search.get());
  return search.release();
}

BOOL WINAPI FindNextFileA(HANDLE hFindFile, LPWIN32_FIND_DATAA lpFindFileData) {
  Search *search = checkHandle(hFindFile);
  if (!search)
    return fail(ERROR_INVALID_HANDLE, FALSE);
  if (!lpFindFileData)
    return fail(ERROR_INVALID_PARAMETER, FALSE);
  if (DWORD error = nextMatch(*search, *lpFindFileData))
    return fail(error, FALSE);
  return TRUE;
}

BOOL WINAPI FindClose(HANDLE hFindFile) {
  auto *search = static_cast<Search *>(hFindFile);
  {
    std::lock_guard<std::mutex> lock(handles().mutex);
    if (!handles().open.erase(search))
      return fail(ERROR_INVALID_HANDLE, FALSE);
  }
  delete search;
  return TRUE;
}

HANDLE WINAPI FindFirstFileExA(LPCSTR lpFileName, FINDEX_INFO_LEVELS fInfoLevelId,
                               LPVOID lpFindFileData, FINDEX_SEARCH_OPS fSearchOp,
                               LPVOID lpSearchFilter, DWORD) {
  if (!findExAnswers(fInfoLevelId, fSearchOp, lpSearchFilter))
    return fail(ERROR_INVALID_PARAMETER, INVALID_HANDLE_VALUE);
  return FindFirstFileA(lpFileName, static_cast<LPWIN32_FIND_DATAA>(lpFindFileData));
}
