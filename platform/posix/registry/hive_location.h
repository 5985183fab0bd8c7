// Where a hive's file lives, and looks at that location that cannot block.
#pragma once

#include <velmora/hive.h>
#include <velmora/win32.h>

#include <cstdint>
#include <string>
#include <sys/types.h>

namespace vlx {

// Where a hive's file lives, from VELMORA_REGISTRY_DIR, XDG_CONFIG_HOME and HOME.
std::string resolveHivePath(Hive hive);

// What a hive's location held when it was last looked at; a change is worth another look.
struct FileId {
  int error = 0; // errno of stat, 0 when the file is there
  uint64_t device = 0, inode = 0, size = 0;
  int64_t modified = 0; // nanoseconds
  bool operator==(const FileId &o) const {
    return error == o.error && device == o.device && inode == o.inode && size == o.size &&
           modified == o.modified;
  }
};

FileId fileId(const std::string &path);
bool missing(const FileId &id);

// A look at the hive's location that cannot block: SQLite's own read-only open of a FIFO
// would wait for a writer forever.
struct Probe {
  FileId id;
  LONG error = ERROR_SUCCESS; // why the file cannot be a hive
  std::string why;
};

Probe probeFile(const std::string &path);

// mkdir -p; the user's own hive directory is private to the user.
bool makeDirectories(const std::string &dir, mode_t mode);

} // namespace vlx
