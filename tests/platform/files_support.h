// Helpers for the file personality tests: small files, listings, and a fault-injecting table.
#pragma once

#include "platform/posix/files/syscalls.h"

#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <sys/stat.h>

namespace vlx::test {

inline void writeFile(const std::string &path, const std::string &content) {
  std::ofstream(path, std::ios::binary) << content;
}

inline std::string readFile(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

inline bool exists(const std::string &path) {
  struct stat st;
  return ::lstat(path.c_str(), &st) == 0;
}

// Names in `directory`, without "." and "..".
std::set<std::string> entries(const std::string &directory);

// Puts the system's calls back into the table at the end of a test.
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
