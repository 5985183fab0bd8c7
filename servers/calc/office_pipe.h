// The office's UNO pipe, where no other user can take its name. LibreOffice puts a pipe's socket
// in /tmp (or /var/tmp) as OSL_PIPE_<uid>_<name>, and anyone who reads the name in the process
// list may bind it first. The name given is "<directory>/office", with the directory made there
// under a random name with mode 0700: the socket goes inside it, where only the user can bind.
#pragma once

#include <string>

namespace vlx::calc {

struct OfficePipe {
  std::string name;   // for "--accept=pipe,name=..." and "pipe,name=..."
  std::string socket; // where the office listens
};

// Makes the directory of a new pipe whose name starts with `tag`; throws CalcError.
OfficePipe makeOfficePipe(const std::string &tag);

// The directory a pipe's socket lives in, and the socket, removed.
void removeOfficePipe(const std::string &socket);

// Removes what killed offices left of the user's pipes named from `prefix` (such as
// "velmora-calc-"): sockets nobody listens on and their directories, and directories without one
// that nothing has changed for 15 minutes (a start was killed before its office listened).
void removeStalePipes(const std::string &prefix);

} // namespace vlx::calc
