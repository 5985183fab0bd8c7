// The path calls a ported host uses: attributes, moves, the safe replacement of a document,
// folders, the current and temporary directories, temporary names and full paths.
#include "platform/posix/files/caseless.h"
#include "platform/posix/files/copy.h"
#include "platform/posix/files/file_errors.h"
#include "platform/posix/files/find_data.h"
#include "platform/posix/files/handle_access.h"
#include "platform/posix/files/path_map.h"
#include "platform/posix/files/syscalls.h"

#include <velmora/win32.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <unistd.h>

namespace vlx::posix {
namespace {

// Writes `text` into the caller's buffer of `size` characters: its length when it fits with
// its terminator, else the size it needs, as the Windows calls that fill buffers answer.
DWORD answer(const std::string &text, DWORD size, LPSTR buffer) {
  if (text.size() >= size || !buffer)
    return static_cast<DWORD>(text.size() + 1);
  std::memcpy(buffer, text.c_str(), text.size() + 1);
  return static_cast<DWORD>(text.size());
}

// Makes the names in a directory durable, as a write-through move asks.
void syncDirectory(const std::string &posixPath) {
  const FileSyscalls &sys = fileSyscalls();
  int fd = sys.open(parentDirectory(posixPath).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC, 0);
  if (fd >= 0) {
    sys.fsync(fd);
    sys.close(fd);
  }
}

bool readOnly(const struct stat &st) { return !S_ISLNK(st.st_mode) && !(st.st_mode & S_IWUSR); }

// A rename that keeps an existing target, where the file system can tell; EEXIST when there is
// one.
int renameKeeping(const std::string &from, const std::string &to) {
  const FileSyscalls &sys = fileSyscalls();
  if (sys.renameNoReplace(from.c_str(), to.c_str()) == 0)
    return 0;
  if (errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP)
    return -1;
  struct stat st;
  if (sys.lstatPath(to.c_str(), &st) == 0) {
    errno = EEXIST;
    return -1;
  }
  return sys.rename(from.c_str(), to.c_str());
}

// Both names of a two-name call, each naming one entry (not a device).
DWORD mapTwo(LPCSTR first, LPCSTR second, std::string &from, std::string &to, PathFacts &a,
             PathFacts &b) {
  if (DWORD error = mapFilePath(first, from, &a))
    return error;
  if (DWORD error = mapFilePath(second, to, &b))
    return error;
  return a.device || b.device ? ERROR_ACCESS_DENIED : ERROR_SUCCESS;
}

// A call on one directory by name: a device or a file in its place is no directory.
BOOL onDirectory(LPCSTR name, int (*call)(const char *)) {
  std::string path;
  PathFacts facts;
  if (DWORD error = mapFilePath(name, path, &facts))
    return fail(error, FALSE);
  if (facts.device)
    return fail(ERROR_DIRECTORY, FALSE);
  int result = call(path.c_str());
  if (result != 0 && retryCaseless(errno, path, facts))
    result = call(path.c_str());
  if (result != 0) {
    const int err = errno;
    return fail(err == ENOTDIR ? static_cast<DWORD>(ERROR_DIRECTORY) : fileError(err, path), FALSE);
  }
  return TRUE;
}

} // namespace
} // namespace vlx::posix

using namespace vlx::posix;

BOOL WINAPI GetFileAttributesExA(LPCSTR lpFileName, GET_FILEEX_INFO_LEVELS fInfoLevelId,
                                 LPVOID lpFileInformation) {
  if (fInfoLevelId != GetFileExInfoStandard || !lpFileInformation)
    return fail(ERROR_INVALID_PARAMETER, FALSE);
  auto *info = static_cast<WIN32_FILE_ATTRIBUTE_DATA *>(lpFileInformation);
  std::string path;
  PathFacts facts;
  if (DWORD error = mapFilePath(lpFileName, path, &facts))
    return fail(error, FALSE);
  std::memset(info, 0, sizeof *info);
  if (facts.device) {
    info->dwFileAttributes = FILE_ATTRIBUTE_ARCHIVE;
    return TRUE;
  }
  struct stat st;
  if (int err = statCaseless(path, facts, st, StatMode::Entry))
    return fail(fileError(err, path), FALSE);
  // The find data carries the same fields in the same order.
  WIN32_FIND_DATAA data;
  fillFindData("", st, data);
  info->dwFileAttributes = data.dwFileAttributes;
  info->ftCreationTime = data.ftCreationTime;
  info->ftLastAccessTime = data.ftLastAccessTime;
  info->ftLastWriteTime = data.ftLastWriteTime;
  info->nFileSizeHigh = data.nFileSizeHigh;
  info->nFileSizeLow = data.nFileSizeLow;
  return TRUE;
}

BOOL WINAPI SetFileAttributesA(LPCSTR lpFileName, DWORD dwFileAttributes) {
  std::string path;
  PathFacts facts;
  if (DWORD error = mapFilePath(lpFileName, path, &facts))
    return fail(error, FALSE);
  if (facts.device)
    return TRUE;
  const FileSyscalls &sys = fileSyscalls();
  struct stat st;
  if (int err = statCaseless(path, facts, st, StatMode::Follow))
    return fail(fileError(err, path), FALSE);
  // Windows ignores read-only on folders too.
  if (S_ISDIR(st.st_mode))
    return TRUE;
  const mode_t mode =
      (dwFileAttributes & FILE_ATTRIBUTE_READONLY) ? st.st_mode & ~0222 : st.st_mode | S_IWUSR;
  if ((mode & 07777) != (st.st_mode & 07777) && sys.chmod(path.c_str(), mode & 07777) != 0)
    return fail(fileError(errno, path), FALSE);
  return TRUE;
}

BOOL WINAPI MoveFileA(LPCSTR lpExistingFileName, LPCSTR lpNewFileName) {
  return MoveFileExA(lpExistingFileName, lpNewFileName, MOVEFILE_COPY_ALLOWED);
}

BOOL WINAPI MoveFileExA(LPCSTR lpExistingFileName, LPCSTR lpNewFileName, DWORD dwFlags) {
  std::string from;
  std::string to;
  // A null target asks for deletion at the next reboot, which has no meaning here.
  if (!lpNewFileName)
    return fail(ERROR_INVALID_PARAMETER, FALSE);
  PathFacts fromFacts;
  PathFacts toFacts;
  if (DWORD error = mapTwo(lpExistingFileName, lpNewFileName, from, to, fromFacts, toFacts))
    return fail(error, FALSE);
  const FileSyscalls &sys = fileSyscalls();
  struct stat source;
  if (int err = statCaseless(from, fromFacts, source, StatMode::NoFollow))
    return fail(fileError(err, from), FALSE);
  const bool replace = (dwFlags & MOVEFILE_REPLACE_EXISTING) != 0;
  struct stat target;
  // The target in another case is the target: a move never makes a second name of one folding.
  const std::string given = to;
  const bool targetExists = statCaseless(to, toFacts, target, StatMode::NoFollow) == 0;
  const bool sameEntry =
      targetExists && target.st_dev == source.st_dev && target.st_ino == source.st_ino;
  // A file moved onto another case of its own name takes the new case, as on Windows.
  if (sameEntry)
    to = withLastComponentOf(to, given);
  if (targetExists && !sameEntry) {
    if (!replace)
      return fail(ERROR_ALREADY_EXISTS, FALSE);
    // A folder is not replaced, nor is a read-only file or one open or viewed here (whatever it
    // shares: Windows renames over no open file).
    if (S_ISDIR(target.st_mode) || readOnly(target) || openInProcess(target) ||
        viewedInProcess(target))
      return fail(ERROR_ACCESS_DENIED, FALSE);
    // A folder takes a file's place; the system renames a folder over a folder only.
    if (S_ISDIR(source.st_mode) && sys.unlink(to.c_str()) != 0)
      return fail(fileError(errno, to), FALSE);
  }
  int result =
      replace || sameEntry ? sys.rename(from.c_str(), to.c_str()) : renameKeeping(from, to);
  if (result != 0 && errno == EXDEV && !S_ISDIR(source.st_mode)) {
    if (!(dwFlags & MOVEFILE_COPY_ALLOWED))
      return fail(ERROR_NOT_SAME_DEVICE, FALSE);
    // Another file system: the copy lands whole, then the original goes.
    if (!copyFile(lpExistingFileName, lpNewFileName, !replace, nullptr, nullptr, nullptr))
      return FALSE;
    if (sys.unlink(from.c_str()) != 0)
      return fail(fileError(errno, from), FALSE);
    result = 0;
  }
  if (result != 0)
    return fail(errno == EEXIST ? static_cast<DWORD>(ERROR_ALREADY_EXISTS)
                                : win32Error(errno, ErrnoSite::File),
                FALSE);
  if (dwFlags & MOVEFILE_WRITE_THROUGH) {
    syncDirectory(to);
    syncDirectory(from);
  }
  return TRUE;
}

BOOL WINAPI ReplaceFileA(LPCSTR lpReplacedFileName, LPCSTR lpReplacementFileName,
                         LPCSTR lpBackupFileName, DWORD dwReplaceFlags, LPVOID lpExclude,
                         LPVOID lpReserved) {
  if (lpExclude || lpReserved)
    return fail(ERROR_INVALID_PARAMETER, FALSE);
  std::string replaced;
  std::string replacement;
  std::string backup;
  PathFacts replacedFacts;
  PathFacts replacementFacts;
  if (DWORD error = mapTwo(lpReplacedFileName, lpReplacementFileName, replaced, replacement,
                           replacedFacts, replacementFacts))
    return fail(error, FALSE);
  const FileSyscalls &sys = fileSyscalls();
  if (lpBackupFileName) {
    PathFacts facts;
    if (DWORD error = mapFilePath(lpBackupFileName, backup, &facts))
      return fail(error, FALSE);
    if (facts.device)
      return fail(ERROR_ACCESS_DENIED, FALSE);
    // An old backup in another case is the one replaced.
    struct stat st;
    statCaseless(backup, facts, st, StatMode::NoFollow);
  }
  struct stat old;
  struct stat fresh;
  if (int err = statCaseless(replaced, replacedFacts, old, StatMode::Follow))
    return fail(fileError(err, replaced), FALSE);
  if (int err = statCaseless(replacement, replacementFacts, fresh, StatMode::Follow))
    return fail(fileError(err, replacement), FALSE);
  if (!S_ISREG(old.st_mode) || !S_ISREG(fresh.st_mode))
    return fail(ERROR_ACCESS_DENIED, FALSE);
  // Neither file may be read-only: one is deleted, the other renamed and given new attributes.
  if (readOnly(old) || readOnly(fresh))
    return fail(ERROR_ACCESS_DENIED, FALSE);
  if (old.st_dev != fresh.st_dev)
    return fail(ERROR_UNABLE_TO_MOVE_REPLACEMENT, FALSE);

  // The replacement takes the replaced file's place and mode, as Windows gives it the old
  // file's attributes.
  if ((fresh.st_mode & 07777) != (old.st_mode & 07777))
    sys.chmod(replacement.c_str(), old.st_mode & 07777);
  if (dwReplaceFlags & REPLACEFILE_WRITE_THROUGH) {
    int fd = sys.open(replacement.c_str(), O_RDONLY | O_CLOEXEC, 0);
    if (fd < 0 || sys.fsync(fd) != 0) {
      if (fd >= 0)
        sys.close(fd);
      return fail(ERROR_UNABLE_TO_MOVE_REPLACEMENT, FALSE);
    }
    sys.close(fd);
  }
  // The backup is a second name for the old data, so the document is never missing: a reader
  // sees the old file or the new one.
  if (!backup.empty()) {
    if (sys.unlink(backup.c_str()) != 0 && errno != ENOENT)
      return fail(ERROR_UNABLE_TO_REMOVE_REPLACED, FALSE);
    if (sys.link(replaced.c_str(), backup.c_str()) != 0 &&
        !copyFile(lpReplacedFileName, lpBackupFileName, TRUE, nullptr, nullptr, nullptr))
      return fail(ERROR_UNABLE_TO_REMOVE_REPLACED, FALSE);
  }
  if (sys.rename(replacement.c_str(), replaced.c_str()) != 0)
    return fail(ERROR_UNABLE_TO_MOVE_REPLACEMENT, FALSE);
  if (dwReplaceFlags & REPLACEFILE_WRITE_THROUGH)
    syncDirectory(replaced);
  return TRUE;
}

BOOL WINAPI CreateDirectoryA(LPCSTR lpPathName, LPSECURITY_ATTRIBUTES) {
  std::string path;
  PathFacts facts;
  if (DWORD error = mapFilePath(lpPathName, path, &facts))
    return fail(error, FALSE);
  if (facts.device)
    return fail(ERROR_ALREADY_EXISTS, FALSE);
  // The folder in another case is the folder asked for: it exists.
  struct stat st;
  statCaseless(path, facts, st, StatMode::NoFollow);
  if (fileSyscalls().mkdir(path.c_str(), 0777) != 0)
    return fail(win32Error(errno, ErrnoSite::Directory), FALSE);
  return TRUE;
}

BOOL WINAPI RemoveDirectoryA(LPCSTR lpPathName) {
  return onDirectory(lpPathName, fileSyscalls().rmdir);
}

DWORD WINAPI GetCurrentDirectoryA(DWORD nBufferLength, LPSTR lpBuffer) {
  char current[MAX_PATH];
  if (!getcwd(current, sizeof current))
    return fail(win32Error(errno, ErrnoSite::Directory), 0);
  return answer(current, nBufferLength, lpBuffer);
}

BOOL WINAPI SetCurrentDirectoryA(LPCSTR lpPathName) {
  return onDirectory(lpPathName, fileSyscalls().chdir);
}

DWORD WINAPI GetTempPathA(DWORD nBufferLength, LPSTR lpBuffer) {
  // The library's own rule: temp, else tmp, else the session's directory.
  const char *base = vlx::getenv("temp");
  if (!base || !*base)
    base = vlx::getenv("tmp");
  std::string path = base ? base : "";
  const char separator = path.find('\\') != std::string::npos ? '\\' : '/';
  if (path.empty() || (path.back() != '\\' && path.back() != '/'))
    path += separator;
  return answer(path, nBufferLength, lpBuffer);
}

DWORD WINAPI GetFullPathNameA(LPCSTR lpFileName, DWORD nBufferLength, LPSTR lpBuffer,
                              LPSTR *lpFilePart) {
  if (!lpFileName || !*lpFileName)
    return fail(ERROR_INVALID_NAME, 0u);
  char current[MAX_PATH];
  if (!getcwd(current, sizeof current))
    return fail(win32Error(errno, ErrnoSite::Directory), 0u);
  const std::string full = fullPathText(lpFileName, current);
  const DWORD result = answer(full, nBufferLength, lpBuffer);
  if (lpFilePart && result == full.size()) {
    const std::string::size_type cut = full.find_last_of("\\/");
    // No name part when the path ends in a separator.
    *lpFilePart = cut + 1 < full.size() ? lpBuffer + cut + 1 : nullptr;
  }
  return result;
}

UINT WINAPI GetTempFileNameA(LPCSTR lpPathName, LPCSTR lpPrefixString, UINT uUnique,
                             LPSTR lpTempFileName) {
  if (!lpPathName || !lpTempFileName)
    return fail(ERROR_INVALID_PARAMETER, 0u);
  std::string base = lpPathName;
  if (!base.empty() && base.back() != '\\' && base.back() != '/')
    base += '\\';
  if (lpPrefixString)
    base += std::string(lpPrefixString).substr(0, 3);
  // The name holds 16 bits of the number, as on Windows.
  const auto nameFor = [&](UINT unique) {
    char number[8];
    std::snprintf(number, sizeof number, "%X", unique & 0xFFFFu);
    return base + number + ".TMP";
  };
  auto put = [&](const std::string &name) {
    if (name.size() >= MAX_PATH)
      return false;
    std::memcpy(lpTempFileName, name.c_str(), name.size() + 1);
    return true;
  };
  if (uUnique != 0)
    return put(nameFor(uUnique)) ? uUnique : fail(ERROR_BUFFER_OVERFLOW, 0u);
  // A new, empty file whose name nobody had: start anywhere and take the first free number.
  const UINT start = static_cast<UINT>(getpid()) ^ static_cast<UINT>(time(nullptr));
  for (UINT step = 0; step < 0x10000u; ++step) {
    UINT unique = (start + step) & 0xFFFFu;
    if (unique == 0)
      continue;
    const std::string name = nameFor(unique);
    HANDLE handle = CreateFileA(name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle != INVALID_HANDLE_VALUE) {
      CloseHandle(handle);
      return put(name) ? unique : fail(ERROR_BUFFER_OVERFLOW, 0u);
    }
    if (GetLastError() != ERROR_FILE_EXISTS)
      return 0;
  }
  return fail(ERROR_FILE_EXISTS, 0u);
}
