// Links followed by hand: a rename onto the link would replace the link, not the workbook.
#include "save_target.h"

#include "platform/posix/files/link_rule.h"

#include <sys/stat.h>

namespace vlx::calc {

std::string saveTarget(const std::string &path) {
  std::string current = path;
  // As many hops as the system itself follows before it calls it a loop.
  for (int hop = 0; hop < 40; ++hop) {
    const posix::LinkAt at = posix::linkAt(current);
    struct stat st;
    if (!at.link)
      return hop > 0 && ::stat(current.c_str(), &st) == 0 ? current : path;
    // Another user's link in a shared folder is replaced, never followed.
    if (at.refused || at.error)
      return path;
    std::string next = at.target;
    if (next.front() != '/')
      next = current.substr(0, current.rfind('/') + 1) + next;
    current = next;
  }
  return path;
}

} // namespace vlx::calc
