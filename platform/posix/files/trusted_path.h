// Whether another user could change or swap what a path names: the rule scratch directories and
// server libraries share.
#pragma once

#include <string>
#include <sys/stat.h>
#include <sys/types.h>

namespace vlx::posix {

// Why another user than `user` and root could rename or replace the entries of the directory
// `dir`, or null when nobody can: it belongs to one of them, and nobody else may write to it or
// its sticky bit keeps entries to their owners.
const char *directoryRisk(const struct stat &dir, uid_t user);

inline bool keepsEntriesToTheirOwners(const struct stat &dir, uid_t user) {
  return directoryRisk(dir, user) == nullptr;
}

enum class Trust {
  Trusted, // `fd` is open on the file
  Missing, // there is no such regular file
  Refused  // another user could change it, or the path is relative
};

struct TrustedFile {
  Trust trust = Trust::Missing;
  int fd = -1;          // open for reading, close-on-exec; the caller closes it
  std::string resolved; // the path with every link followed, "." and ".." gone
  std::string why;      // when not trusted: what is wrong, naming the entry
};

// Opens the regular file at the absolute `path` when it, every directory above it and every link
// followed on the way belong to `user` or root, no directory can have its entries swapped by
// another user (see directoryRisk), and the file is writable by neither group nor others. Since
// only trusted users can change anything along `resolved`, it names the same file afterwards.
TrustedFile openTrustedFile(const std::string &path, uid_t user);

} // namespace vlx::posix
