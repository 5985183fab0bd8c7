// Helpers for the file tests: small files, listings, Windows spellings of paths, and a guard
// that puts the system's calls back into the file call table.
#pragma once

#include <velmora/afx.h>

#include "platform/posix/files/syscalls.h"

#include <algorithm>
#include <dirent.h>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace vlx::test {

inline void writeFile(const std::string &path, const std::string &content) {
  std::ofstream(path, std::ios::binary) << content;
}

inline std::string readFile(const std::string &path) {
  std::ostringstream text;
  text << std::ifstream(path, std::ios::binary).rdbuf();
  return text.str();
}

inline bool exists(const std::string &path) {
  struct stat st;
  return ::lstat(path.c_str(), &st) == 0;
}

inline bool isDirectory(const std::string &path) {
  struct stat st;
  return ::lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// Names in `directory`, without "." and "..".
inline std::set<std::string> entries(const std::string &directory) {
  std::set<std::string> names;
  if (DIR *dir = opendir(directory.c_str())) {
    while (const dirent *entry = readdir(dir)) {
      std::string name = entry->d_name;
      if (name != "." && name != "..")
        names.insert(name);
    }
    closedir(dir);
  }
  return names;
}

// The path as a host on Windows writes it: backslashes (a leading one is the root).
inline std::string winPath(std::string path) {
  std::replace(path.begin(), path.end(), '/', '\\');
  return path;
}

inline std::vector<std::string> toVector(const CStringList &list) {
  std::vector<std::string> out;
  for (POSITION pos = list.GetHeadPosition(); pos != nullptr;)
    out.emplace_back(list.GetNext(pos).GetString());
  return out;
}

// Tests replace members of the file call table; this puts the old ones back.
class SyscallGuard {
public:
  SyscallGuard() : saved_(posix::fileSyscalls()) {}
  ~SyscallGuard() { posix::fileSyscalls() = saved_; }
  SyscallGuard(const SyscallGuard &) = delete;
  SyscallGuard &operator=(const SyscallGuard &) = delete;

private:
  posix::FileSyscalls saved_;
};

} // namespace vlx::test
