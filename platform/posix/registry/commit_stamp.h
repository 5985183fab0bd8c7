// What every commit to a hive changes in memory shared by all its processes: SQLite's
// wal-index header, read without a transaction.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>

struct sqlite3;

namespace vlx {

// A copy of the header. Equal stamps taken at two times mean no commit landed in between.
struct CommitStamp {
  uint32_t words[12] = {};
  bool valid = false;
  bool operator==(const CommitStamp &o) const {
    return valid && o.valid && std::memcmp(words, o.words, sizeof words) == 0;
  }
};

// The shared header of a connection in WAL mode that has read once, or null where there is
// none to trust (another journal mode, a private heap copy, an unknown layout).
const volatile uint32_t *sharedCommitHeader(sqlite3 *db);

// The header as it stands; invalid while a writer is half-way through it, or before the
// index is built.
CommitStamp readCommitStamp(const volatile uint32_t *header);
// Whether readCommitStamp(header) would equal `stamp`, read without copying: every call asks.
bool stillStamped(const volatile uint32_t *header, const CommitStamp &stamp);

// The word of the header that every commit changes (the transaction counter), on which processes
// that wait for the next commit sleep: a process of this library that commits wakes them.
inline const volatile uint32_t *commitCounter(const volatile uint32_t *header) {
  return header + 2;
}
void wakeCommitWaiters(const volatile uint32_t *header);

// The header of a hive this process may only read, mapped read-only from its -shm file by name.
// SQLite gives such a connection a private copy of the index, which no other process updates,
// while every writer updates the file. The descriptor stays open as long as the mapping: closing
// any descriptor of the file would drop the locks SQLite holds on it in this process, so close()
// comes after the connection's own close.
class ReadOnlyHeader {
public:
  ReadOnlyHeader() = default;
  ~ReadOnlyHeader() { close(); }
  ReadOnlyHeader(const ReadOnlyHeader &) = delete;
  ReadOnlyHeader &operator=(const ReadOnlyHeader &) = delete;

  // The header of `shmPath`, mapped on first use; null while the file is missing or empty.
  const volatile uint32_t *map(const std::string &shmPath);
  // Whether the file at `shmPath` is still the one mapped (a writer may have made a new one).
  bool stillAt(const std::string &shmPath) const;
  void close();

private:
  int fd_ = -1;
  void *page_ = nullptr;
  uint64_t device_ = 0, inode_ = 0;
};

} // namespace vlx
