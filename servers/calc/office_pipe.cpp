// The office's UNO pipe in a directory of the user's own: see office_pipe.h.
#include "office_pipe.h"
#include "office.h"

#include <cerrno>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fstream>
#include <set>
#include <sys/stat.h>
#include <unistd.h>

namespace vlx::calc {

namespace {

// Where the UNO run-time puts a pipe's socket: not ours to choose.
std::string pipeBase() { return ::access("/tmp", W_OK) == 0 ? "/tmp" : "/var/tmp"; }

std::string pipePrefix() { return "OSL_PIPE_" + std::to_string(::getuid()) + "_"; }

const char kSocketName[] = "office";

// The paths of the Unix sockets some process listens on.
std::set<std::string> listeningSockets() {
  std::set<std::string> paths;
  std::ifstream table("/proc/net/unix");
  std::string line;
  std::getline(table, line);
  while (std::getline(table, line)) {
    size_t slash = line.find(" /");
    if (slash != std::string::npos)
      paths.insert(line.substr(slash + 1));
  }
  return paths;
}

} // namespace

OfficePipe makeOfficePipe(const std::string &tag) {
  std::string dir = pipeBase() + "/" + pipePrefix() + tag + "XXXXXX";
  // mkdtemp makes it with mode 0700, and never takes a name that exists: in the sticky
  // temporary directory, nobody else can then move or replace it.
  if (!::mkdtemp(dir.data()))
    throw CalcError(Fault::NoOffice, "cannot create the office's pipe directory in " + pipeBase() +
                                         ": " + std::strerror(errno));
  const std::string name = dir.substr(dir.rfind('/') + 1 + pipePrefix().size());
  return {name + "/" + kSocketName, dir + "/" + kSocketName};
}

void removeOfficePipe(const std::string &socket) {
  struct stat st;
  if (::lstat(socket.c_str(), &st) == 0 && S_ISSOCK(st.st_mode) && st.st_uid == ::getuid())
    ::unlink(socket.c_str());
  ::rmdir(socket.substr(0, socket.rfind('/')).c_str());
}

void removeStalePipes(const std::string &prefix) {
  const std::string base = pipeBase(), start = pipePrefix() + prefix;
  const std::set<std::string> live = listeningSockets();
  const time_t before = std::time(nullptr) - 15 * 60;
  DIR *entries = ::opendir(base.c_str());
  if (!entries)
    return;
  while (dirent *entry = ::readdir(entries)) {
    if (std::strncmp(entry->d_name, start.c_str(), start.size()) != 0)
      continue;
    const std::string path = base + "/" + entry->d_name;
    struct stat st, inner;
    if (::lstat(path.c_str(), &st) != 0 || st.st_uid != ::getuid())
      continue;
    if (S_ISSOCK(st.st_mode) && !live.count(path)) {
      ::unlink(path.c_str()); // as older versions named their pipes
    } else if (S_ISDIR(st.st_mode)) {
      const std::string socket = path + "/" + kSocketName;
      bool hasSocket = ::lstat(socket.c_str(), &inner) == 0;
      if (hasSocket ? !live.count(socket) : st.st_mtime < before)
        removeOfficePipe(socket);
    }
  }
  ::closedir(entries);
}

} // namespace vlx::calc
