// Starting and ending the office's helper processes: see child_process.h.
#include "child_process.h"

#include <csignal>
#include <fcntl.h>
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
