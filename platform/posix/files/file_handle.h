// A handle of CreateFile as the files of the calls on it see it: its descriptor, its rights and
// the byte ranges it holds locked.
#pragma once

#include <velmora/win32/handles.h>

#include <cstdint>
#include <limits>
#include <string>
#include <sys/types.h>
#include <vector>

namespace vlx::posix {

// GENERIC_* are long constants; the access bits of a handle are a DWORD.
constexpr DWORD kRead = static_cast<DWORD>(GENERIC_READ);
constexpr DWORD kWrite = static_cast<DWORD>(GENERIC_WRITE);

struct LockedRange {
  uint64_t offset;
  uint64_t length;
};

struct FileHandle {
  int fd;
  DWORD access; // kRead and kWrite bits
  std::vector<LockedRange> locks;
  // A folder opened with backup semantics: times and information, no data.
  bool directory = false;
  // Set by SetFileInformationByHandle: the file to delete when the handle is closed.
  std::string deleteOnClose;
  // Every specific right the handle holds, which a duplicate may not exceed.
  DWORD granted = 0;
};

// Checks the handle and the access a call needs; sets the error when either is missing.
FileHandle *usable(HANDLE handle, DWORD access);
// usable, for the calls on a file's data, which a folder handle does not have.
FileHandle *usableFile(HANDLE handle, DWORD access);

inline uint64_t join(DWORD low, DWORD high) { return static_cast<uint64_t>(high) << 32 | low; }

constexpr uint64_t kMaxOffset = static_cast<uint64_t>(std::numeric_limits<off_t>::max());

} // namespace vlx::posix
