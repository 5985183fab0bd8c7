// Names found without regard to case on a file system that tells case apart, as Windows finds
// them: the name as written first, and a directory scan only for a component that is missing.
#pragma once

#include "platform/posix/files/path_map.h"

#include <string>
#include <string_view>
#include <sys/stat.h>

namespace vlx::posix {

// Rewrites each component of `path` below its root (the drive's directory or `/` that `facts`
// names; a relative path starts at the current directory) that does not exist as written to the
// entry of its directory whose name folds as its own does (name_fold.h), the first of several
// in byte order. A component without such an entry, and all after it, stay as written, so that a
// name to create keeps the caller's spelling. Each directory is read through a descriptor of its
// parent, once at most; links are followed as the system follows them. True when the path
// changed. errno is kept.
bool findCaseless(std::string &path, const PathFacts &facts);

// findCaseless after a call on `path` failed with `err`, when `err` says that a name is missing.
bool retryCaseless(int err, std::string &path, const PathFacts &facts);

// The entry of the directory `dirFd` whose name folds as `name` does (the first in byte order of
// several), or the empty text.
std::string caselessEntry(int dirFd, std::string_view name);

enum class StatMode {
  Follow,   // stat
  NoFollow, // lstat
  Entry,    // stat, and lstat for a link whose target is missing
};

// The status of `path`, looked up without regard to case when the name as written misses: 0, or
// the errno. `path` is left as found, so that a call that then creates the name creates the
// entry that already exists in another case, or the caller's spelling when there is none.
int statCaseless(std::string &path, const PathFacts &facts, struct stat &st, StatMode mode);

// `path` with the last component of `given` (the same path before the look-up) in place of its
// own: how a rename onto another case of the same name changes the case.
std::string withLastComponentOf(const std::string &path, const std::string &given);

} // namespace vlx::posix
