// File mappings on mmap: a mapping holds its own descriptor (of the file, or of memory), views
// are remembered so that unmapping and flushing can check the address they are given.
#include "platform/posix/files/file_errors.h"
#include "platform/posix/files/handle_access.h"
#include "platform/posix/files/shared_memory.h"

#include <velmora/win32.h>

#include <cerrno>
#include <cstdint>
#include <fcntl.h>
#include <map>
#include <mutex>
#include <new>
#include <string>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#include <unordered_set>

namespace vlx::posix {
namespace {

// Windows' allocation granularity: where views may start.
constexpr uint64_t kGranularity = 64 * 1024;
// The user address space of a 64-bit process: no view of a larger mapping could ever be made.
constexpr uint64_t kMaxMappingSize = uint64_t{1} << 47;

struct Mapping {
  int fd;
  uint64_t size;
  bool writable; // PAGE_READWRITE, PAGE_EXECUTE_READWRITE
  bool copyOnly; // PAGE_WRITECOPY: views may be written, the writes stay private
  std::string name;
  std::string sharedName; // the shared memory object, for a named mapping of memory
  dev_t dev = 0;          // the file mapped, for a mapping of a file
  ino_t ino = 0;
};

struct View {
  size_t length;
  dev_t dev; // the file, and where the view ends in it, for a view of a file
  ino_t ino;
  uint64_t end;
};

std::mutex mappingsMutex;
std::unordered_set<Mapping *> mappings;
std::map<std::string, Mapping *> namedMappings; // the named mappings of files
std::map<const void *, View> views;

Mapping *findMapping(HANDLE handle) {
  auto *m = static_cast<Mapping *>(handle);
  return mappings.count(m) ? m : nullptr;
}

HANDLE keep(Mapping *m) {
  std::lock_guard<std::mutex> lock(mappingsMutex);
  mappings.insert(m);
  if (!m->name.empty() && m->sharedName.empty())
    namedMappings[m->name] = m;
  return m;
}

HANDLE createMapping(HANDLE file, DWORD protect, uint64_t size, const char *name) {
  const DWORD page = protect & 0xff;
  const bool writable = page == PAGE_READWRITE || page == PAGE_EXECUTE_READWRITE;
  const bool copyOnly = page == PAGE_WRITECOPY || page == PAGE_EXECUTE_WRITECOPY;
  if (!writable && !copyOnly && page != PAGE_READONLY && page != PAGE_EXECUTE_READ)
    return fail(ERROR_INVALID_PARAMETER, static_cast<HANDLE>(nullptr));
  // There is no loader of Windows executables to lay an image out.
  if (protect & SEC_IMAGE)
    return fail(ERROR_NOT_SUPPORTED, static_cast<HANDLE>(nullptr));
  if (size > kMaxMappingSize)
    return fail(ERROR_NOT_ENOUGH_MEMORY, static_cast<HANDLE>(nullptr));
  const std::string mappingName = name ? name : "";
  if (!mappingName.empty()) {
    // An existing name gives that mapping, as Windows does, with ERROR_ALREADY_EXISTS.
    std::lock_guard<std::mutex> lock(mappingsMutex);
    auto found = namedMappings.find(mappingName);
    if (found != namedMappings.end()) {
      int fd = fcntl(found->second->fd, F_DUPFD_CLOEXEC, 0);
      if (fd < 0)
        return fail(win32Error(errno, ErrnoSite::File), static_cast<HANDLE>(nullptr));
      auto *m = new (std::nothrow) Mapping(*found->second);
      if (!m) {
        close(fd);
        return fail(ERROR_NOT_ENOUGH_MEMORY, static_cast<HANDLE>(nullptr));
      }
      m->fd = fd;
      mappings.insert(m);
      SetLastError(ERROR_ALREADY_EXISTS);
      return m;
    }
  }
  int fd = -1;
  std::string shared;
  bool existed = false;
  struct stat st;
  if (file == INVALID_HANDLE_VALUE) {
    // Memory: it must be given a size.
    if (size == 0)
      return fail(ERROR_INVALID_PARAMETER, static_cast<HANDLE>(nullptr));
    if (mappingName.empty()) {
      fd = memfd_create("vlx-mapping", MFD_CLOEXEC);
      if (fd < 0)
        return fail(win32Error(errno, ErrnoSite::File), static_cast<HANDLE>(nullptr));
      if (ftruncate(fd, static_cast<off_t>(size)) != 0) {
        close(fd);
        return fail(ERROR_NOT_ENOUGH_MEMORY, static_cast<HANDLE>(nullptr));
      }
    } else {
      SharedObject object;
      if (DWORD error = openSharedObject(mappingName, true, size, &object))
        return fail(error, static_cast<HANDLE>(nullptr));
      fd = object.fd;
      shared = object.path;
      existed = object.existed;
      // An existing object keeps its size, as an existing section does.
      if (existed && fstat(fd, &st) == 0)
        size = static_cast<uint64_t>(st.st_size);
    }
  } else {
    HandleFacts facts;
    if (!handleFacts(file, &facts))
      return nullptr;
    if (facts.directory || !facts.read || (writable && !facts.write))
      return fail(ERROR_ACCESS_DENIED, static_cast<HANDLE>(nullptr));
    if (fstat(facts.fd, &st) != 0)
      return fail(win32Error(errno, ErrnoSite::Read), static_cast<HANDLE>(nullptr));
    const auto fileSize = static_cast<uint64_t>(st.st_size);
    // A mapping of an empty file needs a size; a larger one grows a file it may write.
    if (size == 0 && fileSize == 0)
      return fail(ERROR_FILE_INVALID, static_cast<HANDLE>(nullptr));
    if (size > fileSize && !writable)
      return fail(ERROR_NOT_ENOUGH_MEMORY, static_cast<HANDLE>(nullptr));
    if (size > fileSize && ftruncate(facts.fd, static_cast<off_t>(size)) != 0)
      return fail(win32Error(errno, ErrnoSite::Write), static_cast<HANDLE>(nullptr));
    if (size == 0)
      size = fileSize;
    fd = fcntl(facts.fd, F_DUPFD_CLOEXEC, 0);
    if (fd < 0)
      return fail(win32Error(errno, ErrnoSite::File), static_cast<HANDLE>(nullptr));
  }
  auto *m = new (std::nothrow) Mapping{fd, size, writable, copyOnly, mappingName, shared};
  if (!m) {
    if (shared.empty())
      close(fd);
    else
      releaseSharedObject(fd, shared);
    return fail(ERROR_NOT_ENOUGH_MEMORY, static_cast<HANDLE>(nullptr));
  }
  if (file != INVALID_HANDLE_VALUE) {
    m->dev = st.st_dev;
    m->ino = st.st_ino;
  }
  SetLastError(existed ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
  return keep(m);
}

// The view holding `address`, under the lock.
std::map<const void *, View>::iterator viewAt(const void *address) {
  auto it = views.upper_bound(address);
  if (it == views.begin())
    return views.end();
  --it;
  const auto *start = static_cast<const char *>(it->first);
  return static_cast<const char *>(address) < start + it->second.length ? it : views.end();
}

} // namespace

bool closeMapping(HANDLE handle) {
  std::lock_guard<std::mutex> lock(mappingsMutex);
  Mapping *m = findMapping(handle);
  if (!m)
    return false;
  mappings.erase(m);
  auto named = namedMappings.find(m->name);
  if (named != namedMappings.end() && named->second == m) {
    // Another handle to the same mapping keeps the name.
    namedMappings.erase(named);
    for (Mapping *other : mappings)
      if (other->name == m->name && other->sharedName.empty()) {
        namedMappings[m->name] = other;
        break;
      }
  }
  bool last = true;
  for (Mapping *other : mappings)
    last = last && other->sharedName != m->sharedName;
  if (!m->sharedName.empty() && last)
    releaseSharedObject(m->fd, m->sharedName);
  else
    close(m->fd);
  delete m;
  return true;
}

bool mappedPast(const struct stat &file, uint64_t size) {
  std::lock_guard<std::mutex> lock(mappingsMutex);
  for (const Mapping *m : mappings)
    if (m->ino == file.st_ino && m->dev == file.st_dev && m->size > size)
      return true;
  for (const auto &view : views)
    if (view.second.ino == file.st_ino && view.second.dev == file.st_dev &&
        view.second.end > size)
      return true;
  return false;
}

bool viewedInProcess(const struct stat &file) {
  std::lock_guard<std::mutex> lock(mappingsMutex);
  for (const auto &view : views)
    if (view.second.ino == file.st_ino && view.second.dev == file.st_dev)
      return true;
  return false;
}

} // namespace vlx::posix

using namespace vlx::posix;

HANDLE WINAPI CreateFileMappingA(HANDLE hFile, LPSECURITY_ATTRIBUTES, DWORD flProtect,
                                 DWORD dwMaximumSizeHigh, DWORD dwMaximumSizeLow, LPCSTR lpName) {
  return createMapping(hFile, flProtect,
                       static_cast<uint64_t>(dwMaximumSizeHigh) << 32 | dwMaximumSizeLow, lpName);
}

HANDLE WINAPI OpenFileMappingA(DWORD dwDesiredAccess, BOOL, LPCSTR lpName) {
  if (!lpName)
    return fail(ERROR_INVALID_PARAMETER, static_cast<HANDLE>(nullptr));
  const std::string name = lpName;
  {
    std::lock_guard<std::mutex> lock(mappingsMutex);
    auto found = namedMappings.find(name);
    if (found != namedMappings.end()) {
      Mapping *from = found->second;
      if ((dwDesiredAccess & FILE_MAP_WRITE) && !from->writable)
        return fail(ERROR_ACCESS_DENIED, static_cast<HANDLE>(nullptr));
      int fd = fcntl(from->fd, F_DUPFD_CLOEXEC, 0);
      auto *m = fd < 0 ? nullptr : new (std::nothrow) Mapping(*from);
      if (!m) {
        if (fd >= 0)
          close(fd);
        return fail(ERROR_NOT_ENOUGH_MEMORY, static_cast<HANDLE>(nullptr));
      }
      m->fd = fd;
      mappings.insert(m);
      SetLastError(ERROR_SUCCESS);
      return m;
    }
  }
  SharedObject object;
  if (DWORD error = openSharedObject(name, false, 0, &object))
    return fail(error, static_cast<HANDLE>(nullptr));
  struct stat st;
  if (fstat(object.fd, &st) != 0) {
    releaseSharedObject(object.fd, object.path);
    return fail(win32Error(errno, ErrnoSite::Read), static_cast<HANDLE>(nullptr));
  }
  auto *m = new (std::nothrow)
      Mapping{object.fd, static_cast<uint64_t>(st.st_size), true, false, name, object.path};
  if (!m) {
    releaseSharedObject(object.fd, object.path);
    return fail(ERROR_NOT_ENOUGH_MEMORY, static_cast<HANDLE>(nullptr));
  }
  SetLastError(ERROR_SUCCESS);
  return keep(m);
}

LPVOID WINAPI MapViewOfFileEx(HANDLE hFileMappingObject, DWORD dwDesiredAccess,
                              DWORD dwFileOffsetHigh, DWORD dwFileOffsetLow,
                              SIZE_T dwNumberOfBytesToMap, LPVOID lpBaseAddress) {
  std::lock_guard<std::mutex> lock(mappingsMutex);
  Mapping *m = findMapping(hFileMappingObject);
  if (!m)
    return fail(ERROR_INVALID_HANDLE, static_cast<LPVOID>(nullptr));
  const uint64_t offset = static_cast<uint64_t>(dwFileOffsetHigh) << 32 | dwFileOffsetLow;
  if (offset % kGranularity != 0)
    return fail(ERROR_MAPPED_ALIGNMENT, static_cast<LPVOID>(nullptr));
  const bool copy = dwDesiredAccess == FILE_MAP_COPY;
  const bool write = (dwDesiredAccess & FILE_MAP_WRITE) != 0;
  if (write && !m->writable)
    return fail(ERROR_ACCESS_DENIED, static_cast<LPVOID>(nullptr));
  if (offset > m->size || dwNumberOfBytesToMap > m->size - offset)
    return fail(ERROR_ACCESS_DENIED, static_cast<LPVOID>(nullptr));
  const size_t length =
      dwNumberOfBytesToMap ? dwNumberOfBytesToMap : static_cast<size_t>(m->size - offset);
  if (length == 0)
    return fail(ERROR_ACCESS_DENIED, static_cast<LPVOID>(nullptr));
  // Only a write view writes the file; a copy view's writes stay in this process, and a read
  // view, of a copy-on-write mapping too, may not be written at all.
  int prot = PROT_READ;
  if (write || copy)
    prot |= PROT_WRITE;
  if (dwDesiredAccess & FILE_MAP_EXECUTE)
    prot |= PROT_EXEC;
  int flags = copy ? MAP_PRIVATE : MAP_SHARED;
  if (lpBaseAddress)
    flags |= MAP_FIXED_NOREPLACE;
  void *view = mmap(lpBaseAddress, length, prot, flags, m->fd, static_cast<off_t>(offset));
  if (view == MAP_FAILED)
    return fail(lpBaseAddress ? static_cast<DWORD>(ERROR_INVALID_ADDRESS)
                              : static_cast<DWORD>(ERROR_NOT_ENOUGH_MEMORY),
                static_cast<LPVOID>(nullptr));
  if (lpBaseAddress && view != lpBaseAddress) {
    // Kernels before 4.17 take the address as a hint only.
    munmap(view, length);
    return fail(ERROR_INVALID_ADDRESS, static_cast<LPVOID>(nullptr));
  }
  views[view] = View{length, m->dev, m->ino, offset + length};
  return view;
}

LPVOID WINAPI MapViewOfFile(HANDLE hFileMappingObject, DWORD dwDesiredAccess,
                            DWORD dwFileOffsetHigh, DWORD dwFileOffsetLow,
                            SIZE_T dwNumberOfBytesToMap) {
  return MapViewOfFileEx(hFileMappingObject, dwDesiredAccess, dwFileOffsetHigh, dwFileOffsetLow,
                         dwNumberOfBytesToMap, nullptr);
}

BOOL WINAPI UnmapViewOfFile(LPCVOID lpBaseAddress) {
  std::lock_guard<std::mutex> lock(mappingsMutex);
  auto it = views.find(lpBaseAddress);
  if (it == views.end())
    return fail(ERROR_INVALID_ADDRESS, FALSE);
  munmap(const_cast<void *>(it->first), it->second.length);
  views.erase(it);
  return TRUE;
}

BOOL WINAPI FlushViewOfFile(LPCVOID lpBaseAddress, SIZE_T dwNumberOfBytesToFlush) {
  std::lock_guard<std::mutex> lock(mappingsMutex);
  auto it = viewAt(lpBaseAddress);
  if (it == views.end())
    return fail(ERROR_INVALID_ADDRESS, FALSE);
  const auto page = static_cast<uintptr_t>(sysconf(_SC_PAGESIZE));
  const auto start = reinterpret_cast<uintptr_t>(lpBaseAddress);
  const auto viewEnd = reinterpret_cast<uintptr_t>(it->first) + it->second.length;
  const uintptr_t end = dwNumberOfBytesToFlush == 0 || dwNumberOfBytesToFlush > viewEnd - start
                            ? viewEnd
                            : start + dwNumberOfBytesToFlush;
  const uintptr_t from = start - start % page;
  if (msync(reinterpret_cast<void *>(from), end - from, MS_SYNC) != 0)
    return fail(win32Error(errno, ErrnoSite::Write), FALSE);
  return TRUE;
}
