// Whether a hive's folder is on a network or cluster file system, and the store's mode for it.
#pragma once

#include <string>
#include <sys/stat.h>
#include <sys/vfs.h>

struct sqlite3;
struct sqlite3_vfs;

namespace vlx {

// The calls detection makes, replaceable so that tests can fake any file system type.
struct NetworkFsCalls {
  int (*statfs)(const char *path, struct statfs *out);
  int (*stat)(const char *path, struct stat *out);
  // The text of /proc/self/mountinfo; false when it cannot be read.
  bool (*mountInfo)(std::string *out);
};
NetworkFsCalls &networkFsCalls();
const NetworkFsCalls &systemNetworkFsCalls();

// How the store uses one hive file. Network mode: no WAL and no shared memory, a rollback
// journal under fcntl locks, answers kept in memory re-checked against the file now and then.
struct StoreMode {
  bool network = false;
  std::string why; // what decided it, for `vlx reg check`
};

// The file system type of `dir` (or of its nearest existing parent) when it is a network or
// cluster one, e.g. "nfs", "fuse.sshfs"; "" when it is local; the local type in `local`.
std::string networkFileSystem(const std::string &dir, std::string *local = nullptr);
// VELMORA_REGISTRY_NETWORK (auto, on, off) applied to the folder of `hiveFile`.
StoreMode storeModeFor(const std::string &hiveFile);

// A VFS like SQLite's own unix one but without shared memory: a connection through it cannot
// enter WAL (SQLite then refuses a WAL file) unless it holds the file exclusively, when the
// wal-index lives on its heap.
sqlite3_vfs *networkVfs();
// Whether the file's header says WAL, read through the connection's own file (no lock taken,
// no descriptor of ours that could drop SQLite's locks when closed).
bool headerSaysWal(sqlite3 *db);
// Takes a file in WAL mode out of it, holding it exclusively: SQLITE_BUSY while any other
// connection (this host's WAL users included) has it open.
int leaveWal(sqlite3 *db);

// The time re-checks are measured by: CLOCK_MONOTONIC_COARSE, milliseconds (no system call).
int64_t coarseMilliseconds();

} // namespace vlx
