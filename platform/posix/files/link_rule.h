// Which symbolic links a program that writes by a user's path may follow.
#pragma once

#include <string>

namespace vlx::posix {

// What is at `path` when its last component is a symbolic link. In a folder that is sticky and
// that everyone may write (/tmp), a link is followed only when this process, root or the folder's
// owner owns it: anyone else's may have been planted there to send a write by a privileged
// caller to a file of its own. It is the rule of the kernel's fs.protected_symlinks, kept even
// where that is switched off.
struct LinkAt {
  bool link = false;    // the last component is a symbolic link
  bool refused = false; // ... that the rule above forbids following
  std::string target;   // what the link holds, as written
  int error = 0;        // errno when the link could not be read
};
LinkAt linkAt(const std::string &path);

} // namespace vlx::posix
