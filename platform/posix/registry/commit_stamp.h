// What every commit to a hive changes in memory shared by all its processes: SQLite's
// wal-index header, read without a transaction.
#pragma once

#include <cstdint>
#include <cstring>

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

} // namespace vlx
