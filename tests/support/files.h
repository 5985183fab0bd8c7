// Helpers for the file tests: small files, listings, Windows spellings of paths, and a guard
// that puts the system's calls back into the file call table.
#pragma once

#include <velmora/afx.h>

#ifndef _WIN32
#include "platform/posix/files/syscalls.h"
#endif

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <system_error>
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
  std::error_code ec;
  return std::filesystem::exists(std::filesystem::symlink_status(path, ec));
}

inline bool isDirectory(const std::string &path) {
  std::error_code ec;
  return std::filesystem::is_directory(std::filesystem::symlink_status(path, ec));
}

// Names in `directory`, without "." and "..".
inline std::set<std::string> entries(const std::string &directory) {
  std::set<std::string> names;
  std::error_code ec;
  for (auto it = std::filesystem::directory_iterator(directory, ec);
       it != std::filesystem::directory_iterator(); it.increment(ec))
    names.insert(it->path().filename().string());
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

#ifndef _WIN32
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
#endif

} // namespace vlx::test
