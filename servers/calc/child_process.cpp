// Starting and ending the office's helper processes: see child_process.h.
#include "child_process.h"

#include <algorithm>
#include <csignal>
#include <fcntl.h>
#include <sstream>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char **environ;

namespace vlx::calc {

using namespace std::chrono_literals;

pid_t spawn(const std::vector<std::string> &argv, const std::vector<std::string> &env,
            const std::string &logPath, int childFd) {
  std::vector<char *> args;
  for (const auto &arg : argv)
    args.push_back(const_cast<char *>(arg.c_str()));
  args.push_back(nullptr);
  std::vector<char *> envp;
  for (const auto &entry : env)
    envp.push_back(const_cast<char *>(entry.c_str()));
  envp.push_back(nullptr);
  int log = ::open(logPath.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | O_NOFOLLOW, 0600);
  int null = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
  pid_t parent = ::getpid();
  pid_t pid = ::fork();
  if (pid == 0) {
    // Only async-signal-safe calls from here to exec.
    ::setpgid(0, 0);
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (::getppid() != parent)
      ::_exit(127);
    if (null >= 0)
      ::dup2(null, 0);
    if (log >= 0) {
      ::dup2(log, 1);
      ::dup2(log, 2);
    }
    if (childFd >= 0)
      ::dup2(childFd, 3);
    ::execve(args[0], args.data(), envp.data());
    ::_exit(127);
  }
  if (log >= 0)
    ::close(log);
  if (null >= 0)
    ::close(null);
  return pid;
}

void endGroup(pid_t &pid, std::chrono::milliseconds grace) {
  if (pid <= 0)
    return;
  ::kill(-pid, SIGTERM);
  auto deadline = std::chrono::steady_clock::now() + grace;
  while (::waitpid(pid, nullptr, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() > deadline) {
      ::kill(-pid, SIGKILL);
      ::waitpid(pid, nullptr, 0);
      break;
    }
    std::this_thread::sleep_for(20ms);
  }
  ::kill(-pid, SIGKILL); // stragglers of the group
  pid = -1;
}

std::string logTail(const std::string &path) {
  const size_t kRead = 65536, kKeep = 600;
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
  if (fd < 0)
    return {};
  std::string text(kRead, '\0');
  off_t size = ::lseek(fd, 0, SEEK_END);
  ssize_t got = size < 0 ? -1 : ::pread(fd, text.data(), kRead, std::max<off_t>(0, size - kRead));
  ::close(fd);
  text.resize(got > 0 ? static_cast<size_t>(got) : 0);
  // A crash report can set off another (an abort in the handler): the first one is the cause.
  size_t crash = text.find("Fatal exception");
  std::vector<std::string> lines;
  std::istringstream in(text.substr(crash == std::string::npos ? 0 : crash));
  for (std::string line; std::getline(in, line);)
    if (size_t end = line.find_last_not_of(" \t\r"); end != std::string::npos)
      lines.push_back(line.substr(0, end + 1));
  size_t first = crash == std::string::npos && lines.size() > 3 ? lines.size() - 3 : 0;
  std::string tail;
  for (size_t i = first; i < lines.size(); ++i) {
    if (i > first)
      tail += " | ";
    for (char c : lines[i])
      tail += static_cast<unsigned char>(c) < 0x20 ? ' ' : c;
  }
  return tail.size() > kKeep ? tail.substr(0, kKeep) + "..." : tail;
}

std::vector<std::string> currentEnvironment() {
  std::vector<std::string> env;
  for (char **entry = environ; *entry; ++entry)
    env.emplace_back(*entry);
  return env;
}

void setEnv(std::vector<std::string> &env, const std::string &name, const std::string &value) {
  std::string prefix = name + "=";
  for (auto &entry : env)
    if (entry.compare(0, prefix.size(), prefix) == 0) {
      entry = prefix + value;
      return;
    }
  env.push_back(prefix + value);
}

} // namespace vlx::calc
