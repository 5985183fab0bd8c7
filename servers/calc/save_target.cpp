// Links followed by hand: a rename onto the link would replace the link, not the workbook.
#include "save_target.h"

#include <climits>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace vlx::calc {

std::string saveTarget(const std::string &path) {
  std::string current = path;
  // As many hops as the system itself follows before it calls it a loop.
  for (int hop = 0; hop < 40; ++hop) {
    struct stat st;
    if (::lstat(current.c_str(), &st) != 0 || !S_ISLNK(st.st_mode))
      return hop > 0 && ::stat(current.c_str(), &st) == 0 ? current : path;
    std::vector<char> link(PATH_MAX + 1);
    const ssize_t n = ::readlink(current.c_str(), link.data(), link.size());
    if (n <= 0 || static_cast<size_t>(n) >= link.size())
      return path;
    std::string next(link.data(), static_cast<size_t>(n));
    if (next.front() != '/')
      next = current.substr(0, current.rfind('/') + 1) + next;
    current = next;
  }
  return path;
}

} // namespace vlx::calc
