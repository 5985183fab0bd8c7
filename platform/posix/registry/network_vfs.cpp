// SQLite's unix VFS with the shared-memory methods taken away, for hives in network mode: WAL's
// wal-index is memory mapped from the -shm file, which no network file system keeps coherent
// between hosts. Locks stay SQLite's fcntl byte-range locks, which NFSv4 and SMB carry across.
#include "platform/posix/registry/network_mode.h"

#include <sqlite3.h>

#include <mutex>

namespace vlx {
namespace {

struct ShimFile {
  sqlite3_file base;
  sqlite3_file *real; // the unix VFS's file, in the room just after this one
};

sqlite3_file *real(sqlite3_file *f) { return reinterpret_cast<ShimFile *>(f)->real; }

// Version 1 of the methods: no xShm*, and no xFetch (the store never sets mmap_size).
const sqlite3_io_methods kMethods = {
    1,
    [](sqlite3_file *f) {
      sqlite3_file *r = real(f);
      int rc = r->pMethods->xClose(r);
      f->pMethods = nullptr;
      return rc;
    },
    [](sqlite3_file *f, void *buf, int n, sqlite3_int64 at) {
      return real(f)->pMethods->xRead(real(f), buf, n, at);
    },
    [](sqlite3_file *f, const void *buf, int n, sqlite3_int64 at) {
      return real(f)->pMethods->xWrite(real(f), buf, n, at);
    },
    [](sqlite3_file *f, sqlite3_int64 size) { return real(f)->pMethods->xTruncate(real(f), size); },
    [](sqlite3_file *f, int flags) { return real(f)->pMethods->xSync(real(f), flags); },
    [](sqlite3_file *f, sqlite3_int64 *size) {
      return real(f)->pMethods->xFileSize(real(f), size);
    },
    [](sqlite3_file *f, int lock) { return real(f)->pMethods->xLock(real(f), lock); },
    [](sqlite3_file *f, int lock) { return real(f)->pMethods->xUnlock(real(f), lock); },
    [](sqlite3_file *f, int *out) { return real(f)->pMethods->xCheckReservedLock(real(f), out); },
    [](sqlite3_file *f, int op, void *arg) {
      return real(f)->pMethods->xFileControl(real(f), op, arg);
    },
    [](sqlite3_file *f) { return real(f)->pMethods->xSectorSize(real(f)); },
    [](sqlite3_file *f) { return real(f)->pMethods->xDeviceCharacteristics(real(f)); },
    nullptr,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
};

int shimOpen(sqlite3_vfs *vfs, sqlite3_filename name, sqlite3_file *file, int flags, int *out) {
  auto *root = static_cast<sqlite3_vfs *>(vfs->pAppData);
  auto *shim = reinterpret_cast<ShimFile *>(file);
  shim->real = reinterpret_cast<sqlite3_file *>(shim + 1);
  shim->real->pMethods = nullptr;
  int rc = root->xOpen(root, name, shim->real, flags, out);
  // SQLite calls xClose whenever pMethods is set, even after a failed open.
  shim->base.pMethods = shim->real->pMethods ? &kMethods : nullptr;
  return rc;
}

sqlite3_vfs shimVfs;

} // namespace

sqlite3_vfs *networkVfs() {
  static std::once_flag once;
  std::call_once(once, [] {
    sqlite3_vfs *root = sqlite3_vfs_find("unix");
    if (!root)
      return;
    shimVfs = *root; // every other method is the unix VFS's own
    shimVfs.pNext = nullptr;
    shimVfs.szOsFile = static_cast<int>(sizeof(ShimFile)) + root->szOsFile;
    shimVfs.zName = "vlx-network";
    shimVfs.pAppData = root;
    shimVfs.xOpen = shimOpen;
    if (sqlite3_vfs_register(&shimVfs, 0) != SQLITE_OK)
      shimVfs.zName = nullptr;
  });
  return shimVfs.zName ? &shimVfs : nullptr;
}

bool headerSaysWal(sqlite3 *db) {
  sqlite3_file *file = nullptr;
  if (sqlite3_file_control(db, "main", SQLITE_FCNTL_FILE_POINTER, &file) != SQLITE_OK || !file ||
      !file->pMethods)
    return false;
  unsigned char header[20] = {};
  // Bytes 18 and 19: the write and read versions, 2 in WAL mode. A short read: a new file.
  if (file->pMethods->xRead(file, header, sizeof header, 0) != SQLITE_OK)
    return false;
  return header[18] == 2 || header[19] == 2;
}

int leaveWal(sqlite3 *db) {
  // Held exclusively, SQLite keeps the wal-index on its heap: no -shm is mapped. Taking the lock
  // fails at once while any other connection has the file open in WAL mode (each of them holds
  // a shared lock on it for as long as it is open), wherever it runs.
  int rc = sqlite3_exec(db, "PRAGMA locking_mode=EXCLUSIVE", nullptr, nullptr, nullptr);
  if (rc == SQLITE_OK)
    rc = sqlite3_exec(db, "SELECT count(*) FROM sqlite_master", nullptr, nullptr, nullptr);
  sqlite3_stmt *s = nullptr;
  if (rc == SQLITE_OK)
    rc = sqlite3_prepare_v2(db, "PRAGMA journal_mode=TRUNCATE", -1, &s, nullptr);
  if (rc == SQLITE_OK) {
    rc = sqlite3_step(s);
    const unsigned char *mode = rc == SQLITE_ROW ? sqlite3_column_text(s, 0) : nullptr;
    rc = mode && sqlite3_stricmp(reinterpret_cast<const char *>(mode), "truncate") == 0 ? SQLITE_OK
         : rc == SQLITE_ROW ? SQLITE_BUSY
                            : rc;
  }
  sqlite3_finalize(s);
  // Back to normal locking; the exclusive lock goes with the next read.
  sqlite3_exec(db, "PRAGMA locking_mode=NORMAL", nullptr, nullptr, nullptr);
  sqlite3_exec(db, "SELECT count(*) FROM sqlite_master", nullptr, nullptr, nullptr);
  return rc;
}

} // namespace vlx
