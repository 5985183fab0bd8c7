// Backup and restore of a hive through SQLite's online backup: consistent while other processes
// use the hive, and a restore lands as one commit that they see like any other.
#include "platform/posix/registry/store.h"

#include "platform/posix/registry/hive_schema.h"
#include "platform/posix/registry/sqlite_errors.h"

#include <velmora/hive.h>

#include <sqlite3.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace vlx {
namespace {

LONG failWith(LONG error, std::string text, std::string *why) {
  if (why)
    *why = std::move(text);
  return error;
}

// A read-only look at a file that ignores any log beside it: a copy of a hive file made while
// the hive was in use may sit next to a log that belongs to another file.
int openImmutable(const std::string &file, sqlite3 **db) {
  std::string uri = "file:";
  for (unsigned char c : file) {
    if (c == '%' || c == '?' || c == '#' || c < 0x20 || c == 0x7f) {
      char hex[4];
      std::snprintf(hex, sizeof hex, "%%%02X", c);
      uri += hex;
    } else {
      uri += static_cast<char>(c);
    }
  }
  uri += "?immutable=1";
  return sqlite3_open_v2(uri.c_str(), db, SQLITE_OPEN_READONLY | SQLITE_OPEN_URI, nullptr);
}

// SQLite opens a file only by its full path, made absolute and its links followed, and only
// when the name of its journal beside it (8 bytes more) fits its file system's limit (512 bytes
// on Unix). A longer one fails as "unable to open database file", which does not say why.
bool tooLongForSqlite(const std::string &file, int *limit) {
  sqlite3_vfs *vfs = sqlite3_vfs_find(nullptr);
  if (!vfs || !vfs->xFullPathname)
    return false;
  constexpr int kJournalSuffix = 8; // "-journal"
  *limit = vfs->mxPathname - kJournalSuffix;
  std::string path = file;
  if (path.empty() || path[0] != '/') {
    // SQLite reads the working directory into a buffer of its limit as well.
    std::unique_ptr<char, decltype(&std::free)> cwd(::getcwd(nullptr, 0), &std::free);
    if (!cwd)
      return false;
    path = std::string(cwd.get()) + "/" + file;
  }
  auto resolve = [&](size_t room, std::string *out) {
    out->assign(room, '\0');
    int rc = vfs->xFullPathname(vfs, path.c_str(), static_cast<int>(room), out->data());
    return (rc & 0xff) == SQLITE_OK;
  };
  // With room enough the path resolves, where SQLite's own room is too little for it.
  std::string full, within;
  if (!resolve(std::max<size_t>(PATH_MAX, 2 * path.size()) + 1, &full))
    return false;
  return !resolve(static_cast<size_t>(vfs->mxPathname) + 1, &within) ||
         std::strlen(full.c_str()) > static_cast<size_t>(*limit);
}

// `extra`: the bytes the name SQLite opens has beyond `file`'s.
LONG pathTooLong(const std::string &file, int limit, size_t extra, std::string *why) {
  std::string text = file +
                     ": the path is too long for the store: SQLite opens files by full "
                     "paths of at most " +
                     std::to_string(limit) + " bytes";
  if (extra > 0)
    text +=
        ", and the copy is written first under a name " + std::to_string(extra) + " bytes longer";
  return failWith(ERROR_FILENAME_EXCED_RANGE, text, why);
}

// Copies every page of `from` into `to`, waiting for the destination's writers.
int copyPages(sqlite3 *to, sqlite3 *from) {
  sqlite3_backup *b = sqlite3_backup_init(to, "main", from, "main");
  if (!b)
    return sqlite3_errcode(to);
  int rc;
  // A writer holding its lock for longer than a busy wait allows makes the copy fail as busy.
  for (int waited = 0; ((rc = sqlite3_backup_step(b, -1)) == SQLITE_BUSY || rc == SQLITE_LOCKED) &&
                       waited < kBusyTimeoutMs;
       waited += 5)
    sqlite3_sleep(5);
  int finished = sqlite3_backup_finish(b);
  return rc == SQLITE_DONE ? finished : rc;
}

// Why `db` (opened on a file given by the user) is not a hive that may be restored, or "".
std::string notAHive(sqlite3 *db) {
  int appId = 0, version = 0, entries = 0, tables = 0;
  int rc = queryInts(db, kShapeQuery, {&appId, &version, &entries, &tables});
  if ((rc & 0xff) == SQLITE_NOTADB)
    return "not a registry hive";
  if (rc != SQLITE_OK)
    return sqlite3_errmsg(db);
  if (entries == 0 || appId != kApplicationId || tables != 2)
    return "not a registry hive";
  sqlite3_stmt *s = nullptr;
  std::string line;
  rc = sqlite3_prepare_v2(db, "PRAGMA integrity_check(1)", -1, &s, nullptr);
  if (rc == SQLITE_OK && (rc = sqlite3_step(s)) == SQLITE_ROW) {
    const unsigned char *text = sqlite3_column_text(s, 0);
    line = text ? reinterpret_cast<const char *>(text) : "";
    rc = SQLITE_OK;
  }
  sqlite3_finalize(s);
  if (rc != SQLITE_OK)
    return sqlite3_errmsg(db);
  return line == "ok" ? "" : "damaged: " + line;
}

// The store's VFS for a hive file: one without shared memory in network mode.
const char *vfsFor(const std::string &hiveFile) {
  sqlite3_vfs *vfs = storeModeFor(hiveFile).network ? networkVfs() : nullptr;
  return vfs ? vfs->zName : nullptr;
}

HiveDb &idleHive(Hive hive) {
  HiveDb &db = Store::get().hive(hive);
  db.refreshLocation();
  return db;
}

} // namespace

LONG backupHive(Hive hive, const std::string &file, std::string *why) {
  auto lock = Store::get().enter();
  const std::string source = idleHive(hive).path();
  Probe probe = probeFile(source);
  if (missing(probe.id))
    return failWith(ERROR_FILE_NOT_FOUND, "the hive " + source + " does not exist yet", why);
  if (probe.error != ERROR_SUCCESS)
    return failWith(probe.error, "the hive " + source + " " + probe.why, why);

  // A link is replaced, never written through; a device, pipe or folder is never replaced.
  struct stat st;
  if (::lstat(file.c_str(), &st) == 0 && !S_ISREG(st.st_mode) && !S_ISLNK(st.st_mode))
    return failWith(ERROR_ACCESS_DENIED, file + " is not a regular file", why);
  // Written beside the target and renamed over it, so the target is never half-written. The copy
  // and the logs SQLite makes beside it live in a folder of this process's own, where no one
  // else can plant a link under a name they foresee.
  std::string folder = file + ".XXXXXX";
  const std::string name = "/copy";
  if (int limit = 0; tooLongForSqlite(folder + name, &limit))
    return pathTooLong(file, limit, folder.size() + name.size() - file.size(), why);
  if (!::mkdtemp(folder.data()))
    return failWith(errno == ENOSPC ? ERROR_DISK_FULL : ERROR_ACCESS_DENIED,
                    file + ": " + std::strerror(errno), why);
  const std::string temp = folder + name;
  auto removeFolder = [&] {
    for (const char *suffix : {"", "-journal", "-wal", "-shm"})
      std::remove((temp + suffix).c_str());
    ::rmdir(folder.c_str());
  };
  sqlite3 *from = nullptr, *to = nullptr;
  int rc = sqlite3_open_v2(source.c_str(), &from, SQLITE_OPEN_READONLY, vfsFor(source));
  if (rc == SQLITE_OK)
    rc = sqlite3_open_v2(temp.c_str(), &to, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
  if (rc == SQLITE_OK) {
    sqlite3_busy_timeout(from, kBusyTimeoutMs);
    rc = copyPages(to, from);
  }
  // A backup holds everything in the one file: no log to copy along with it.
  if (rc == SQLITE_OK)
    rc = sqlite3_exec(to, "PRAGMA journal_mode=DELETE", nullptr, nullptr, nullptr);
  std::string message =
      rc == SQLITE_OK ? "" : sqlite3_errmsg(to && sqlite3_errcode(to) ? to : from);
  // A full disk often shows as an I/O error of the log that could not grow.
  if (rc != SQLITE_OK && to && sqlite3_system_errno(to) == ENOSPC) {
    rc = SQLITE_FULL;
    message = std::strerror(ENOSPC);
  }
  sqlite3_close_v2(from);
  if (sqlite3_close_v2(to) != SQLITE_OK && rc == SQLITE_OK)
    rc = SQLITE_IOERR;
  // A hive's copy is its owner's alone, as the hive is.
  if (rc == SQLITE_OK) {
    if (::chmod(temp.c_str(), 0600) != 0 || std::rename(temp.c_str(), file.c_str()) != 0) {
      rc = SQLITE_CANTOPEN;
      message = file + ": " + std::strerror(errno);
    }
  }
  removeFolder();
  if (rc != SQLITE_OK)
    return failWith(errorFromSqlite(rc), file + ": " + message, why);
  std::string dir = file.find('/') == std::string::npos ? "." : file.substr(0, file.rfind('/') + 1);
  if (int d = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); d >= 0) {
    ::fsync(d);
    ::close(d);
  }
  return ERROR_SUCCESS;
}

LONG restoreHive(Hive hive, const std::string &file, std::string *why) {
  Probe probe = probeFile(file);
  if (missing(probe.id))
    return failWith(ERROR_FILE_NOT_FOUND, file + ": no such file", why);
  if (probe.error != ERROR_SUCCESS)
    return failWith(probe.error, file + " " + probe.why, why);
  if (int limit = 0; tooLongForSqlite(file, &limit))
    return pathTooLong(file, limit, 0, why);
  sqlite3 *from = nullptr;
  int rc = openImmutable(file, &from);
  std::string wrong = rc == SQLITE_OK ? notAHive(from) : sqlite3_errmsg(from);
  if (!wrong.empty()) {
    sqlite3_close_v2(from);
    return failWith(ERROR_BADDB, file + ": " + wrong, why);
  }

  Store &s = Store::get();
  auto lock = s.enter();
  HiveDb &db = idleHive(hive);
  if (db.inBatch()) {
    sqlite3_close_v2(from);
    return failWith(ERROR_BUSY, "the hive is in a transaction", why);
  }
  // An empty commit makes sure the file exists, may be written and is not damaged.
  LONG error = db.beginWrite();
  error = db.finishWrite(error);
  const std::string target = db.path();
  // Reopened by the next call, without what it read before.
  db.close();
  if (error != ERROR_SUCCESS) {
    sqlite3_close_v2(from);
    std::string reason = error == ERROR_ACCESS_DENIED ? "may not be written"
                         : error == ERROR_BADDB       ? "is damaged; move it away first"
                                                      : "cannot be written";
    return failWith(error, "the hive " + target + " " + reason, why);
  }
  sqlite3 *to = nullptr;
  const bool network = storeModeFor(target).network;
  rc = sqlite3_open_v2(target.c_str(), &to, SQLITE_OPEN_READWRITE, vfsFor(target));
  if (rc == SQLITE_OK) {
    int persist = 1; // as every connection of the store keeps them
    sqlite3_file_control(to, "main", SQLITE_FCNTL_PERSIST_WAL, &persist);
    sqlite3_exec(to, network ? "PRAGMA journal_mode=TRUNCATE" : "PRAGMA journal_size_limit=4194304",
                 nullptr, nullptr, nullptr);
    sqlite3_busy_timeout(to, kBusyTimeoutMs);
    rc = copyPages(to, from);
  }
  // The copy carries the source's header, which may say WAL: on a network hive that is undone at
  // once. Meanwhile the store's other connections refuse the file rather than map its -shm.
  if (rc == SQLITE_OK && network && headerSaysWal(to)) {
    sqlite3_busy_timeout(to, 0);
    for (int tries = 0; (rc = leaveWal(to)) == SQLITE_BUSY && tries < 100; ++tries)
      sqlite3_sleep(10);
  }
  std::string message = rc == SQLITE_OK ? "" : sqlite3_errmsg(to);
  if (rc == SQLITE_OK && !network) {
    // Processes waiting for the hive's next commit: this one. A network hive's watchers poll.
    if (const volatile uint32_t *header = sharedCommitHeader(to))
      wakeCommitWaiters(header);
    sqlite3_busy_timeout(to, 0);
    sqlite3_wal_checkpoint_v2(to, "main", SQLITE_CHECKPOINT_TRUNCATE, nullptr, nullptr);
  }
  sqlite3_close_v2(to);
  sqlite3_close_v2(from);
  if (rc != SQLITE_OK)
    return failWith(errorFromSqlite(rc), "the hive " + target + ": " + message, why);
  return ERROR_SUCCESS;
}

} // namespace vlx
