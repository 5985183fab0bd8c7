// The one table from SQLite result codes to Win32 error codes.
#include "platform/posix/registry/sqlite_errors.h"

#include <sqlite3.h>

namespace vlx {
namespace {

struct Mapping {
  int sqlite;
  LONG win32;
};

// Extended codes come first: they are matched exactly before the primary code is tried.
constexpr Mapping kExtended[] = {
    {SQLITE_IOERR_NOMEM, ERROR_NOT_ENOUGH_MEMORY},
    {SQLITE_IOERR_ACCESS, ERROR_ACCESS_DENIED},
};

constexpr Mapping kPrimary[] = {
    {SQLITE_OK, ERROR_SUCCESS},
    {SQLITE_ROW, ERROR_SUCCESS},
    {SQLITE_DONE, ERROR_SUCCESS},
    // A hive this process may not write, or may not open at all.
    {SQLITE_PERM, ERROR_ACCESS_DENIED},
    {SQLITE_READONLY, ERROR_ACCESS_DENIED},
    {SQLITE_CANTOPEN, ERROR_ACCESS_DENIED},
    {SQLITE_AUTH, ERROR_ACCESS_DENIED},
    // Another process kept the hive locked past the busy timeout.
    {SQLITE_BUSY, ERROR_BUSY},
    {SQLITE_LOCKED, ERROR_BUSY},
    {SQLITE_PROTOCOL, ERROR_BUSY},
    {SQLITE_NOMEM, ERROR_NOT_ENOUGH_MEMORY},
    {SQLITE_FULL, ERROR_DISK_FULL},
    {SQLITE_TOOBIG, ERROR_INVALID_PARAMETER},
    // Damage: the file is not a hive, or its pages do not hold together.
    {SQLITE_NOTADB, ERROR_BADDB},
    {SQLITE_CORRUPT, ERROR_REGISTRY_CORRUPT},
    {SQLITE_IOERR, ERROR_REGISTRY_IO_FAILED},
    {SQLITE_NOLFS, ERROR_REGISTRY_IO_FAILED},
};

} // namespace

LONG errorFromSqlite(int rc) {
  for (const Mapping &m : kExtended)
    if (m.sqlite == rc)
      return m.win32;
  for (const Mapping &m : kPrimary)
    if (m.sqlite == (rc & 0xff))
      return m.win32;
  // SQLITE_ERROR, INTERNAL, MISUSE, CONSTRAINT and the like: the store failed in a way the
  // caller cannot fix.
  return ERROR_REGISTRY_IO_FAILED;
}

bool isDamageResult(int rc) {
  int primary = rc & 0xff;
  return primary == SQLITE_NOTADB || primary == SQLITE_CORRUPT;
}

} // namespace vlx
