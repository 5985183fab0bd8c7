// Reads SQLite's wal-index header (the "WAL-index format" of SQLite's file-format notes): two
// copies of 48 bytes at the start of the -shm mapping. A committing writer rewrites the second
// copy, then the first; a reader that finds both equal has a header no writer was changing.
// Readers learn of a commit only through this header, so no commit is visible before it moves.
#include "platform/posix/registry/commit_stamp.h"

#include <sqlite3.h>

#include <climits>
#include <fcntl.h>
#include <linux/futex.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace vlx {
namespace {

constexpr uint32_t kIndexVersion = 3007000;
constexpr int kIndexPageSize = 32768;
constexpr size_t kWords = 12; // one copy
constexpr size_t kIsInitByte = 12;

} // namespace

namespace {

// Only a connection whose WAL is open has the mapping: asking any other for it would make
// one that its close never unmaps (a hive file put back in rollback mode, say).
bool walOpen(sqlite3 *db) {
  sqlite3_stmt *stmt = nullptr;
  if (sqlite3_prepare_v2(db, "PRAGMA main.journal_mode", -1, &stmt, nullptr) != SQLITE_OK)
    return false;
  bool wal =
      sqlite3_step(stmt) == SQLITE_ROW &&
      sqlite3_stricmp(reinterpret_cast<const char *>(sqlite3_column_text(stmt, 0)), "wal") == 0;
  sqlite3_finalize(stmt);
  return wal;
}

} // namespace

const volatile uint32_t *sharedCommitHeader(sqlite3 *db) {
  if (!walOpen(db))
    return nullptr;
  sqlite3_file *file = nullptr;
  if (sqlite3_file_control(db, "main", SQLITE_FCNTL_FILE_POINTER, &file) != SQLITE_OK || !file ||
      !file->pMethods || file->pMethods->iVersion < 2 || !file->pMethods->xShmMap)
    return nullptr;
  // Not extending: this only finds the region the connection already maps.
  void volatile *region = nullptr;
  if (file->pMethods->xShmMap(file, 0, kIndexPageSize, 0, &region) != SQLITE_OK || !region)
    return nullptr;
  auto *header = static_cast<const volatile uint32_t *>(region);
  return readCommitStamp(header).valid && header[0] == kIndexVersion ? header : nullptr;
}

CommitStamp readCommitStamp(const volatile uint32_t *header) {
  CommitStamp first, second;
  for (size_t i = 0; i < kWords; ++i)
    first.words[i] = header[i];
  __atomic_thread_fence(__ATOMIC_SEQ_CST);
  for (size_t i = 0; i < kWords; ++i)
    second.words[i] = header[kWords + i];
  const auto *bytes = reinterpret_cast<const unsigned char *>(first.words);
  first.valid = std::memcmp(first.words, second.words, sizeof first.words) == 0 &&
                bytes[kIsInitByte] != 0 && first.words[0] == kIndexVersion;
  return first;
}

bool stillStamped(const volatile uint32_t *header, const CommitStamp &stamp) {
  // A valid stamp already has the marks of a built index; both copies must still hold it.
  if (!stamp.valid)
    return false;
  for (size_t i = 0; i < kWords; ++i)
    if (header[i] != stamp.words[i])
      return false;
  __atomic_thread_fence(__ATOMIC_SEQ_CST);
  for (size_t i = 0; i < kWords; ++i)
    if (header[kWords + i] != stamp.words[i])
      return false;
  return true;
}

void wakeCommitWaiters(const volatile uint32_t *header) {
  // A futex of the shared mapping: every process that maps the file reaches the same word.
  ::syscall(SYS_futex, const_cast<uint32_t *>(commitCounter(header)), FUTEX_WAKE, INT_MAX, nullptr,
            nullptr, 0);
}

const volatile uint32_t *ReadOnlyHeader::map(const std::string &shmPath) {
  if (page_)
    return static_cast<const volatile uint32_t *>(page_);
  if (fd_ < 0)
    fd_ = ::open(shmPath.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
  // An empty file is one SQLite is about to size: reading its page would fault. Once sized it
  // never shrinks below its first bytes, so the page stays readable; a writer that starts anew
  // zeroes it, which reads as no header. Kept open when it cannot be mapped yet: see close().
  struct stat st {};
  if (fd_ < 0 || ::fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size == 0)
    return nullptr;
  void *page =
      ::mmap(nullptr, static_cast<size_t>(sysconf(_SC_PAGESIZE)), PROT_READ, MAP_SHARED, fd_, 0);
  if (page == MAP_FAILED)
    return nullptr;
  page_ = page;
  device_ = st.st_dev;
  inode_ = st.st_ino;
  return static_cast<const volatile uint32_t *>(page_);
}

bool ReadOnlyHeader::stillAt(const std::string &shmPath) const {
  struct stat st {};
  return fd_ < 0 ||
         (::stat(shmPath.c_str(), &st) == 0 && st.st_dev == device_ && st.st_ino == inode_);
}

void ReadOnlyHeader::close() {
  if (page_)
    ::munmap(page_, static_cast<size_t>(sysconf(_SC_PAGESIZE)));
  if (fd_ >= 0)
    ::close(fd_);
  page_ = nullptr;
  fd_ = -1;
}

} // namespace vlx
