// Hard links, a handle's final path, and the information classes read and set through a handle.
#include "platform/posix/caller_memory.h"
#include "platform/posix/files/caseless.h"
#include "platform/posix/files/file_errors.h"
#include "platform/posix/files/find_data.h"
#include "platform/posix/files/handle_access.h"
#include "platform/posix/files/path_map.h"
#include "platform/posix/files/syscalls.h"

#include <velmora/win32.h>

#include <cerrno>
#include <climits>
#include <cstddef>
#include <cstring>
#include <dirent.h>
#include <string>
#include <unistd.h>
#include <vector>

namespace vlx::posix {
namespace {

// The POSIX path the handle's file has now, as the kernel knows it.
bool handlePath(int fd, std::string *path) {
  char link[64];
  std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
  std::vector<char> target(PATH_MAX + 1);
  const ssize_t n = readlink(link, target.data(), target.size());
  if (n <= 0 || static_cast<size_t>(n) >= target.size() || target[0] != '/')
    return fail(n < 0 ? win32Error(errno, ErrnoSite::File) : ERROR_PATH_NOT_FOUND, false);
  path->assign(target.data(), static_cast<size_t>(n));
  return true;
}

LARGE_INTEGER largeFrom(const FILETIME &time) {
  LARGE_INTEGER out;
  out.QuadPart =
      static_cast<LONGLONG>(static_cast<uint64_t>(time.dwHighDateTime) << 32 | time.dwLowDateTime);
  return out;
}

FILETIME fileTimeOf(const LARGE_INTEGER &value) {
  const auto v = static_cast<uint64_t>(value.QuadPart);
  return FILETIME{static_cast<DWORD>(v & 0xffffffffu), static_cast<DWORD>(v >> 32)};
}

// SetFileInformationByHandle's rename: the new name as the caller's 16-bit text.
BOOL renameHandle(HANDLE handle, int fd, const FILE_RENAME_INFO &info, DWORD size) {
  const size_t header = offsetof(FILE_RENAME_INFO, FileName);
  if (size < header || info.FileNameLength > size - header || info.FileNameLength % 2 != 0 ||
      info.FileNameLength == 0)
    return fail(ERROR_INVALID_PARAMETER, FALSE);
  if (info.RootDirectory)
    return fail(ERROR_INVALID_PARAMETER, FALSE);
  std::u16string wide(info.FileNameLength / 2, u'\0');
  std::memcpy(&wide[0], info.FileName, info.FileNameLength);
  const size_t length = vlx::wcstombs(nullptr, wide.c_str(), 0);
  if (length == static_cast<size_t>(-1))
    return fail(ERROR_NO_UNICODE_TRANSLATION, FALSE);
  std::vector<char> name(length + 1);
  vlx::wcstombs(name.data(), wide.c_str(), length + 1);
  std::string from;
  if (!handlePath(fd, &from))
    return FALSE;
  (void)handle;
  const DWORD flags = info.u.ReplaceIfExists ? MOVEFILE_REPLACE_EXISTING : 0;
  return MoveFileExA(libraryPathText(from).c_str(), name.data(), flags);
}

// The path of the handle's file as GetFinalPathNameByHandle spells it for `volume`.
bool finalPathText(int fd, DWORD volume, std::string *out) {
  std::string posixPath;
  if (!handlePath(fd, &posixPath))
    return false;
  std::string text = libraryPathText(posixPath);
  const bool drive = text.size() >= 2 && text[1] == ':';
  if (volume == VOLUME_NAME_NONE)
    text = drive ? text.substr(2) : text;
  else if (drive)
    text = "\\\\?\\" + text;
  else if (!std::getenv("VELMORA_DRIVE_Z") || std::strcmp(std::getenv("VELMORA_DRIVE_Z"), "/") == 0)
    text = "\\\\?\\Z:" + text; // Z: is the root where it is not set elsewhere
  *out = text;
  return true;
}

// FileNameInfo: the path below the volume, cut short (ERROR_MORE_DATA) where it does not fit.
BOOL nameInfo(int fd, FILE_NAME_INFO *info, DWORD size) {
  const size_t header = offsetof(FILE_NAME_INFO, FileName);
  if (size < sizeof(FILE_NAME_INFO))
    return fail(ERROR_BAD_LENGTH, FALSE);
  std::string text;
  if (!finalPathText(fd, VOLUME_NAME_NONE, &text))
    return FALSE;
  const std::u16string name = widen(text.c_str());
  const size_t bytes = name.size() * sizeof(WCHAR);
  info->FileNameLength = static_cast<DWORD>(bytes);
  const size_t room = size - header;
  std::memcpy(info->FileName, name.data(), bytes < room ? bytes : room - room % sizeof(WCHAR));
  return bytes <= room ? TRUE : fail(ERROR_MORE_DATA, FALSE);
}

// One FileIdBothDirectoryInfo entry for `name` of the folder at `dirFd`, written at `out` where
// `room` bytes are left: its size, or 0 when the entry is gone; `fits` false when it does not.
size_t directoryEntry(int dirFd, const char *name, char *out, size_t room, bool *fits) {
  const std::u16string wide = widen(name);
  const size_t need = offsetof(FILE_ID_BOTH_DIR_INFO, FileName) + wide.size() * sizeof(WCHAR);
  *fits = need <= room;
  struct stat st;
  if (!*fits || fileSyscalls().fstatAt(dirFd, name, &st, AT_SYMLINK_NOFOLLOW) != 0)
    return 0;
  WIN32_FIND_DATAA data;
  fillFindData("", st, data);
  FILE_ID_BOTH_DIR_INFO info = {};
  info.CreationTime = largeFrom(data.ftCreationTime);
  info.LastAccessTime = largeFrom(data.ftLastAccessTime);
  info.LastWriteTime = largeFrom(data.ftLastWriteTime);
  info.ChangeTime = largeFrom(fileTimeFrom(st.st_ctim));
  info.EndOfFile.QuadPart = S_ISDIR(st.st_mode) ? 0 : static_cast<LONGLONG>(st.st_size);
  info.AllocationSize.QuadPart = static_cast<LONGLONG>(st.st_blocks) * 512;
  info.FileAttributes = data.dwFileAttributes;
  info.FileNameLength = static_cast<DWORD>(wide.size() * sizeof(WCHAR));
  info.FileId.QuadPart = static_cast<LONGLONG>(st.st_ino);
  std::memcpy(out, &info, offsetof(FILE_ID_BOTH_DIR_INFO, FileName));
  std::memcpy(out + offsetof(FILE_ID_BOTH_DIR_INFO, FileName), wide.data(), info.FileNameLength);
  return need;
}

// FileIdBothDirectoryInfo: the folder's next entries, as many as fit. The folder descriptor's
// own position tells where the listing stands, so a call goes on where the last one stopped.
BOOL directoryEntries(const HandleFacts &facts, void *buffer, DWORD size) {
  if (!facts.directory)
    return fail(ERROR_INVALID_PARAMETER, FALSE);
  auto *out = static_cast<char *>(buffer);
  size_t used = 0;
  FILE_ID_BOTH_DIR_INFO *previous = nullptr;
  alignas(8) char raw[8192];
  for (;;) {
    off_t resume = lseek(facts.fd, 0, SEEK_CUR);
    const ssize_t n = getdents64(facts.fd, raw, sizeof raw);
    if (n < 0)
      return fail(win32Error(errno, ErrnoSite::Directory), FALSE);
    if (n == 0)
      break;
    for (ssize_t at = 0; at < n;) {
      const auto *entry = reinterpret_cast<const struct dirent64 *>(raw + at);
      at += entry->d_reclen;
      const size_t start = (used + 7) & ~static_cast<size_t>(7); // entries are 8-byte aligned
      bool fits = false;
      const size_t length = directoryEntry(facts.fd, entry->d_name, out + start,
                                           start < size ? size - start : 0, &fits);
      if (!fits) {
        // Left for the next call.
        lseek(facts.fd, resume, SEEK_SET);
        return used ? TRUE : fail(ERROR_MORE_DATA, FALSE);
      }
      resume = entry->d_off;
      if (length == 0)
        continue;
      auto *info = reinterpret_cast<FILE_ID_BOTH_DIR_INFO *>(out + start);
      if (previous)
        previous->NextEntryOffset = static_cast<DWORD>(reinterpret_cast<char *>(info) -
                                                       reinterpret_cast<char *>(previous));
      previous = info;
      used = start + length;
    }
  }
  return used ? TRUE : fail(ERROR_NO_MORE_FILES, FALSE);
}

// What a handle information call starts with: the handle's facts and its file's status.
bool infoCall(HANDLE handle, const void *information, HandleFacts *facts, struct stat *st) {
  if (!handleFacts(handle, facts))
    return false;
  if (!information)
    return fail(ERROR_INVALID_PARAMETER, false);
  if (fileSyscalls().fstat(facts->fd, st) != 0)
    return fail(win32Error(errno, ErrnoSite::Read), false);
  return true;
}

} // namespace
} // namespace vlx::posix

using namespace vlx::posix;

BOOL WINAPI CreateHardLinkA(LPCSTR lpFileName, LPCSTR lpExistingFileName, LPSECURITY_ATTRIBUTES) {
  std::string to, from;
  PathFacts toFacts, fromFacts;
  if (DWORD error = mapFilePath(lpFileName, to, &toFacts))
    return fail(error, FALSE);
  if (DWORD error = mapFilePath(lpExistingFileName, from, &fromFacts))
    return fail(error, FALSE);
  const FileSyscalls &sys = fileSyscalls();
  struct stat st;
  if (int err = statCaseless(from, fromFacts, st, StatMode::Follow))
    return fail(fileError(err, from), FALSE);
  // A new name that exists in another case exists.
  struct stat existing;
  statCaseless(to, toFacts, existing, StatMode::NoFollow);
  // A folder has no second name on Windows either.
  if (S_ISDIR(st.st_mode))
    return fail(ERROR_ACCESS_DENIED, FALSE);
  if (sys.link(from.c_str(), to.c_str()) != 0) {
    const int err = errno;
    if (err == EEXIST)
      return fail(ERROR_ALREADY_EXISTS, FALSE);
    if (err == EXDEV)
      return fail(ERROR_NOT_SAME_DEVICE, FALSE);
    return fail(fileError(err, to), FALSE);
  }
  return TRUE;
}

DWORD WINAPI GetFinalPathNameByHandleA(HANDLE hFile, LPSTR lpszFilePath, DWORD cchFilePath,
                                       DWORD dwFlags) {
  const DWORD volume = dwFlags & 0x7;
  if ((dwFlags & ~static_cast<DWORD>(0xf)) ||
      (volume != VOLUME_NAME_DOS && volume != VOLUME_NAME_NONE))
    return fail(ERROR_INVALID_PARAMETER, 0u);
  HandleFacts facts;
  std::string text;
  if (!handleFacts(hFile, &facts) || !finalPathText(facts.fd, volume, &text))
    return 0;
  // Short of room, the A form answers the length without the terminator (the W form with it).
  if (!lpszFilePath || text.size() >= cchFilePath)
    return static_cast<DWORD>(text.size());
  std::memcpy(lpszFilePath, text.c_str(), text.size() + 1);
  SetLastError(ERROR_SUCCESS);
  return static_cast<DWORD>(text.size());
}

BOOL WINAPI GetFileInformationByHandleEx(HANDLE hFile,
                                         FILE_INFO_BY_HANDLE_CLASS FileInformationClass,
                                         LPVOID lpFileInformation, DWORD dwBufferSize) {
  HandleFacts facts;
  struct stat st;
  if (FileInformationClass == FileIdBothDirectoryInfo) {
    if (!handleFacts(hFile, &facts))
      return FALSE;
    if (dwBufferSize < sizeof(FILE_ID_BOTH_DIR_INFO))
      return fail(ERROR_BAD_LENGTH, FALSE);
    if (!callerMayWrite(lpFileInformation, dwBufferSize))
      return fail(ERROR_NOACCESS, FALSE);
    return directoryEntries(facts, lpFileInformation, dwBufferSize);
  }
  if (!infoCall(hFile, lpFileInformation, &facts, &st))
    return FALSE;
  switch (FileInformationClass) {
  case FileNameInfo:
    return nameInfo(facts.fd, static_cast<FILE_NAME_INFO *>(lpFileInformation), dwBufferSize);
  case FileBasicInfo: {
    if (dwBufferSize < sizeof(FILE_BASIC_INFO))
      return fail(ERROR_BAD_LENGTH, FALSE);
    WIN32_FIND_DATAA data;
    fillFindData("", st, data);
    auto *info = static_cast<FILE_BASIC_INFO *>(lpFileInformation);
    info->CreationTime = largeFrom(data.ftCreationTime);
    info->LastAccessTime = largeFrom(data.ftLastAccessTime);
    info->LastWriteTime = largeFrom(data.ftLastWriteTime);
    info->ChangeTime = largeFrom(fileTimeFrom(st.st_ctim));
    info->FileAttributes = data.dwFileAttributes;
    return TRUE;
  }
  case FileStandardInfo: {
    if (dwBufferSize < sizeof(FILE_STANDARD_INFO))
      return fail(ERROR_BAD_LENGTH, FALSE);
    auto *info = static_cast<FILE_STANDARD_INFO *>(lpFileInformation);
    info->AllocationSize.QuadPart = static_cast<LONGLONG>(st.st_blocks) * 512;
    info->EndOfFile.QuadPart = S_ISDIR(st.st_mode) ? 0 : static_cast<LONGLONG>(st.st_size);
    info->NumberOfLinks = static_cast<DWORD>(st.st_nlink);
    info->DeletePending = deletePending(hFile) ? 1 : 0;
    info->Directory = S_ISDIR(st.st_mode) ? 1 : 0;
    return TRUE;
  }
  default:
    return fail(ERROR_INVALID_PARAMETER, FALSE);
  }
}

BOOL WINAPI SetFileInformationByHandle(HANDLE hFile, FILE_INFO_BY_HANDLE_CLASS FileInformationClass,
                                       LPVOID lpFileInformation, DWORD dwBufferSize) {
  HandleFacts facts;
  struct stat st;
  if (!infoCall(hFile, lpFileInformation, &facts, &st))
    return FALSE;
  const FileSyscalls &sys = fileSyscalls();
  switch (FileInformationClass) {
  case FileBasicInfo: {
    if (dwBufferSize < sizeof(FILE_BASIC_INFO))
      return fail(ERROR_BAD_LENGTH, FALSE);
    if (!facts.write)
      return fail(ERROR_ACCESS_DENIED, FALSE);
    const auto *info = static_cast<const FILE_BASIC_INFO *>(lpFileInformation);
    // Zero (and -1) leave a time as it is; there is no creation or change time to set.
    const auto given = [](const LARGE_INTEGER &t) { return t.QuadPart != 0 && t.QuadPart != -1; };
    const FILETIME access = fileTimeOf(info->LastAccessTime);
    const FILETIME write = fileTimeOf(info->LastWriteTime);
    if ((given(info->LastAccessTime) || given(info->LastWriteTime)) &&
        !SetFileTime(hFile, nullptr, given(info->LastAccessTime) ? &access : nullptr,
                     given(info->LastWriteTime) ? &write : nullptr))
      return FALSE;
    if (info->FileAttributes != 0) {
      const mode_t mode = (info->FileAttributes & FILE_ATTRIBUTE_READONLY)
                              ? st.st_mode & ~static_cast<mode_t>(0222)
                              : st.st_mode | S_IWUSR;
      if (sys.fchmod(facts.fd, mode & 07777) != 0)
        return fail(win32Error(errno, ErrnoSite::Write), FALSE);
    }
    return TRUE;
  }
  case FileRenameInfo:
    return renameHandle(hFile, facts.fd, *static_cast<const FILE_RENAME_INFO *>(lpFileInformation),
                        dwBufferSize);
  case FileDispositionInfo: {
    if (dwBufferSize < sizeof(FILE_DISPOSITION_INFO))
      return fail(ERROR_BAD_LENGTH, FALSE);
    const bool remove = static_cast<const FILE_DISPOSITION_INFO *>(lpFileInformation)->DeleteFile;
    // A read-only file cannot be deleted, as on Windows.
    if (remove && !S_ISDIR(st.st_mode) && !(st.st_mode & S_IWUSR))
      return fail(ERROR_ACCESS_DENIED, FALSE);
    std::string path;
    if (remove && !handlePath(facts.fd, &path))
      return FALSE;
    return setDeleteOnClose(hFile, remove, path) ? TRUE : FALSE;
  }
  case FileEndOfFileInfo: {
    if (dwBufferSize < sizeof(FILE_END_OF_FILE_INFO))
      return fail(ERROR_BAD_LENGTH, FALSE);
    if (!facts.write || facts.directory)
      return fail(ERROR_ACCESS_DENIED, FALSE);
    const LONGLONG end =
        static_cast<const FILE_END_OF_FILE_INFO *>(lpFileInformation)->EndOfFile.QuadPart;
    if (end < 0)
      return fail(ERROR_INVALID_PARAMETER, FALSE);
    if (mappedPast(st, static_cast<uint64_t>(end)))
      return fail(ERROR_USER_MAPPED_FILE, FALSE);
    if (sys.ftruncate(facts.fd, static_cast<off_t>(end)) != 0)
      return fail(win32Error(errno, ErrnoSite::Write), FALSE);
    return TRUE;
  }
  case FileIoPriorityHintInfo: {
    if (dwBufferSize < sizeof(FILE_IO_PRIORITY_HINT_INFO))
      return fail(ERROR_BAD_LENGTH, FALSE);
    // A hint to the system's scheduler of I/O, which it is free to ignore; so is it here.
    const auto *hint = static_cast<const FILE_IO_PRIORITY_HINT_INFO *>(lpFileInformation);
    return hint->PriorityHint >= IoPriorityHintVeryLow &&
                   hint->PriorityHint < MaximumIoPriorityHintType
               ? TRUE
               : fail(ERROR_INVALID_PARAMETER, FALSE);
  }
  default:
    return fail(ERROR_INVALID_PARAMETER, FALSE);
  }
}
