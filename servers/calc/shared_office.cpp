// The keeper of the shared office. It is forked from a host process that may have threads, so
// from the fork on it makes only async-signal-safe calls, on strings and arrays made before.
#include "shared_office.h"
#include "office.h"
#include "process_title.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

namespace vlx::calc {

namespace {

const int kMaxClients = 64;
const long long kStartLimitMs = 90000; // a client waits this long for the office to answer
// soffice asks its launcher for a restart with this status after it set up a new profile.
const int kRestartStatus = 81;
// An office that uses a tenth of a core over two windows of this length while no client is
// connected works for nobody: a client went away in the middle of a call (Ctrl-C, a kill).
const long long kBusyWindowMs = 2000;
const long long kBusyPerWindowMs = 200;

long long nowMs() {
  timespec now{};
  ::clock_gettime(CLOCK_MONOTONIC, &now);
  return now.tv_sec * 1000LL + now.tv_nsec / 1000000;
}

void sleepMs(long ms) {
  timespec pause{ms / 1000, (ms % 1000) * 1000000L};
  ::nanosleep(&pause, nullptr);
}

bool fillAddress(sockaddr_un &address, const std::string &path) {
  address = {};
  address.sun_family = AF_UNIX;
  if (path.size() >= sizeof address.sun_path)
    return false;
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  return true;
}

// The keeper's view of its plan: C strings only.
struct Plan {
  const char *socketPath, *lockPath, *pidPath, *officePipe, *officePipeDir, *log, *rm;
  char *const *argv;
  char *const *envp;
  char *const *removeArgv;
  sockaddr_un officeAddress;
  dev_t socketDev;
  ino_t socketIno;
  long long keepMs;
  const ProcessTitle *title; // shown in ps instead of the host's command line
  long ticksPerSecond;
};

void closeFrom(int first, int last) {
#ifdef SYS_close_range
  if (::syscall(SYS_close_range, static_cast<unsigned>(first), static_cast<unsigned>(last), 0) == 0)
    return;
#endif
  for (int fd = first; fd <= last && fd < 65536; ++fd)
    ::close(fd);
}

void writeNumber(int fd, long value) {
  char text[24];
  int at = sizeof text;
  do {
    text[--at] = static_cast<char>('0' + value % 10);
    value /= 10;
  } while (value > 0 && at > 0);
  ssize_t ignored = ::write(fd, text + at, sizeof text - at);
  (void)ignored;
}

// The processor time pid has used, in clock ticks (from /proc/PID/stat); -1 when unknown.
long long cpuTicks(pid_t pid) {
  char path[48] = "/proc/";
  char digits[16];
  int count = 0;
  for (long value = pid; value > 0 && count < 15; value /= 10)
    digits[count++] = static_cast<char>('0' + value % 10);
  int at = 6;
  while (count > 0)
    path[at++] = digits[--count];
  std::memcpy(path + at, "/stat", 6);
  int fd = ::open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0)
    return -1;
  char text[1024];
  ssize_t got = ::read(fd, text, sizeof text - 1);
  ::close(fd);
  if (got <= 0)
    return -1;
  text[got] = '\0';
  // After the name in parentheses: state, then ten fields, then utime and stime.
  const char *field = std::strrchr(text, ')');
  long long ticks = 0;
  for (int index = 0; field && index < 13; ++index) {
    field = std::strchr(field + 1, ' ');
    if (field && index >= 11)
      ticks += std::strtoll(field + 1, nullptr, 10);
  }
  return field ? ticks : -1;
}

void writePids(const Plan &plan, pid_t office) {
  int fd = ::open(plan.pidPath, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0)
    return;
  writeNumber(fd, ::getpid());
  ssize_t ignored = ::write(fd, " ", 1);
  writeNumber(fd, office);
  ignored = ::write(fd, "\n", 1);
  (void)ignored;
  ::close(fd);
}

pid_t spawnOffice(const Plan &plan) {
  const pid_t keeper = ::getpid();
  pid_t pid = ::fork();
  if (pid == 0) {
    ::setpgid(0, 0);
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (::getppid() != keeper)
      ::_exit(127);
    ::execve(plan.argv[0], plan.argv, plan.envp);
    ::_exit(127);
  }
  return pid;
}

void endOffice(pid_t office) {
  if (office <= 0)
    return;
  ::kill(-office, SIGTERM);
  long long deadline = nowMs() + 2000;
  while (::waitpid(office, nullptr, WNOHANG) == 0 && nowMs() < deadline)
    sleepMs(20);
  ::kill(-office, SIGKILL);
  ::waitpid(office, nullptr, 0);
}

// A connection to the office's own socket, which must be a socket of this user: the temporary
// directory it lives in keeps it from being replaced by anyone else.
int reachOffice(const Plan &plan) {
  struct stat st;
  if (::lstat(plan.officePipe, &st) != 0 || !S_ISSOCK(st.st_mode) || st.st_uid != ::getuid())
    return -1;
  int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd >= 0 && ::connect(fd, reinterpret_cast<const sockaddr *>(&plan.officeAddress),
                           sizeof plan.officeAddress) != 0) {
    ::close(fd);
    fd = -1;
  }
  return fd;
}

// One byte with room for one descriptor beside it: the message the keeper sends and a client
// receives. Set up without allocating, as the keeper must.
struct HandOverMessage {
  char byte = 'u';
  iovec data{&byte, 1};
  alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))] = {};
  msghdr message{};

  HandOverMessage() {
    message.msg_iov = &data;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = sizeof control;
  }
  HandOverMessage(const HandOverMessage &) = delete;
  HandOverMessage &operator=(const HandOverMessage &) = delete;
};

bool handOver(int client, int fd) {
  HandOverMessage out;
  cmsghdr *header = CMSG_FIRSTHDR(&out.message);
  header->cmsg_level = SOL_SOCKET;
  header->cmsg_type = SCM_RIGHTS;
  header->cmsg_len = CMSG_LEN(sizeof(int));
  std::memcpy(CMSG_DATA(header), &fd, sizeof fd);
  return ::sendmsg(client, &out.message, MSG_NOSIGNAL) == 1;
}

[[noreturn]] void finish(const Plan &plan, int listener, pid_t office) {
  // The socket goes first, so that no client reaches an office that is ending; only this
  // keeper's own socket, not one a newer keeper made since.
  struct stat st;
  if (::lstat(plan.socketPath, &st) == 0 && st.st_dev == plan.socketDev &&
      st.st_ino == plan.socketIno)
    ::unlink(plan.socketPath);
  ::close(listener);
  endOffice(office);
  struct stat pipe;
  if (::lstat(plan.officePipe, &pipe) == 0 && S_ISSOCK(pipe.st_mode) && pipe.st_uid == ::getuid())
    ::unlink(plan.officePipe);
  ::rmdir(plan.officePipeDir); // the pipe's own directory, where nobody else can bind its name
  ::unlink(plan.pidPath);
  if (plan.rm) {
    pid_t remover = ::fork();
    if (remover == 0) {
      char *none[] = {nullptr};
      ::execve(plan.rm, plan.removeArgv, none);
      ::_exit(127);
    }
    if (remover > 0)
      ::waitpid(remover, nullptr, 0);
  }
  ::_exit(0);
}

volatile sig_atomic_t endRequested = 0;

void requestEnd(int) { endRequested = 1; }

[[noreturn]] void keep(const Plan &plan, int inherited) {
  showTitle(*plan.title, "office keeper");
  for (int signal = 1; signal < NSIG; ++signal) {
    struct sigaction action {};
    action.sa_handler = signal == SIGPIPE ? SIG_IGN : SIG_DFL;
    // Asked to end, it ends the office and cleans up as when unused.
    if (signal == SIGTERM || signal == SIGINT || signal == SIGHUP)
      action.sa_handler = requestEnd;
    ::sigaction(signal, &action, nullptr);
  }
  sigset_t none;
  sigemptyset(&none);
  ::sigprocmask(SIG_SETMASK, &none, nullptr);
  ::umask(077); // the office's socket is then the user's alone
  if (::chdir("/") != 0)
    ::_exit(1);
  const int listener = ::fcntl(inherited, F_DUPFD_CLOEXEC, 100);
  if (listener < 0)
    ::_exit(1);
  int null = ::open("/dev/null", O_RDWR);
  int log = ::open(plan.log, O_WRONLY | O_CREAT | O_APPEND | O_NOFOLLOW, 0600);
  ::dup2(null, 0);
  ::dup2(log >= 0 ? log : null, 1);
  ::dup2(log >= 0 ? log : null, 2);
  closeFrom(3, listener - 1);
  closeFrom(listener + 1, ~0U >> 1);
  const int lock = ::open(plan.lockPath, O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);

  pid_t office = spawnOffice(plan);
  writePids(plan, office);
  int restarts = 0;
  int clients[kMaxClients];
  long long waitingSince[kMaxClients]; // 0 once the client has its connection
  int count = 0;
  long long idleSince = nowMs();
  long long windowStart = 0, windowTicks = 0; // the office's work while no client is connected
  int busyWindows = 0;
  for (;;) {
    pollfd fds[kMaxClients + 1];
    fds[0] = {listener, POLLIN, 0};
    for (int i = 0; i < count; ++i)
      fds[i + 1] = {clients[i], POLLIN, 0};
    ::poll(fds, static_cast<nfds_t>(count + 1), 100);
    if (endRequested)
      finish(plan, listener, office);

    int status = 0;
    if (office > 0 && ::waitpid(office, &status, WNOHANG) == office) {
      if (WIFEXITED(status) && WEXITSTATUS(status) == kRestartStatus && restarts++ < 2) {
        office = spawnOffice(plan);
        writePids(plan, office);
      } else {
        finish(plan, listener, -1);
      }
    }
    // Clients that hung up; what they write means nothing.
    for (int i = count - 1; i >= 0; --i) {
      if (!(fds[i + 1].revents & (POLLIN | POLLHUP | POLLERR)))
        continue;
      char buffer[64];
      if (ssize_t got = ::read(clients[i], buffer, sizeof buffer); got > 0) {
        // A client whose call the office did not answer asks for its end.
        if (std::memchr(buffer, 'x', static_cast<size_t>(got)))
          finish(plan, listener, office);
        continue;
      }
      ::close(clients[i]);
      clients[i] = clients[count - 1];
      waitingSince[i] = waitingSince[count - 1];
      --count;
    }
    if (fds[0].revents & POLLIN) {
      int client = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
      if (client >= 0 && count < kMaxClients) {
        clients[count] = client;
        waitingSince[count++] = nowMs();
      } else if (client >= 0) {
        ::close(client);
      }
    }
    for (int i = count - 1; i >= 0; --i) {
      if (waitingSince[i] == 0)
        continue;
      int connection = reachOffice(plan);
      if (connection >= 0) {
        bool handed = handOver(clients[i], connection);
        ::close(connection);
        if (handed) {
          waitingSince[i] = 0;
          continue;
        }
      } else if (nowMs() - waitingSince[i] < kStartLimitMs) {
        continue;
      }
      ::close(clients[i]);
      clients[i] = clients[count - 1];
      waitingSince[i] = waitingSince[count - 1];
      --count;
    }
    if (count > 0) {
      idleSince = nowMs();
      windowStart = 0;
      busyWindows = 0;
      continue;
    }
    if (long long now = nowMs(); windowStart == 0) {
      windowStart = now;
      windowTicks = cpuTicks(office);
    } else if (now - windowStart >= kBusyWindowMs) {
      long long ticks = cpuTicks(office);
      bool busy = ticks >= 0 && windowTicks >= 0 &&
                  (ticks - windowTicks) * 1000 >= kBusyPerWindowMs * plan.ticksPerSecond;
      busyWindows = busy ? busyWindows + 1 : 0;
      windowStart = now;
      windowTicks = ticks;
      if (busyWindows >= 2)
        finish(plan, listener, office);
    }
    if (nowMs() - idleSince < plan.keepMs)
      continue;
    // Idle long enough: ended under the start lock, so that no client is between finding this
    // keeper and getting its connection; a client already knocking keeps it.
    struct flock request {};
    request.l_type = F_WRLCK;
    request.l_whence = SEEK_SET;
    if (lock < 0 || ::fcntl(lock, F_OFD_SETLK, &request) != 0)
      continue;
    pollfd knock{listener, POLLIN, 0};
    if (::poll(&knock, 1, 0) == 0)
      finish(plan, listener, office);
    request.l_type = F_UNLCK;
    ::fcntl(lock, F_OFD_SETLK, &request);
  }
}

std::vector<char *> pointers(const std::vector<std::string> &texts) {
  std::vector<char *> out;
  for (const auto &text : texts)
    out.push_back(const_cast<char *>(text.c_str()));
  out.push_back(nullptr);
  return out;
}

} // namespace

int keepSeconds() {
  const char *value = std::getenv("VELMORA_CALC_KEEP_SECONDS");
  if (!value || !*value)
    return 0;
  char *end = nullptr;
  long seconds = std::strtol(value, &end, 10);
  if (*end != '\0' || seconds <= 0)
    return 0;
  return seconds > 86400 ? 86400 : static_cast<int>(seconds);
}

std::string privateDirectoryRisk(const std::string &dir, uid_t user) {
  struct stat st;
  if (::lstat(dir.c_str(), &st) != 0)
    return dir + ": " + std::strerror(errno);
  if (S_ISLNK(st.st_mode))
    return dir + " is a symbolic link";
  if (!S_ISDIR(st.st_mode))
    return dir + " is not a directory";
  if (st.st_uid != user)
    return dir + " belongs to user " + std::to_string(st.st_uid);
  if (st.st_mode & (S_IRWXG | S_IRWXO))
    return dir + " may be opened by other users (mode " + std::to_string((st.st_mode >> 6) & 7) +
           std::to_string((st.st_mode >> 3) & 7) + std::to_string(st.st_mode & 7) + ")";
  // Its parent must not let others swap it for theirs.
  const std::string parent = dir.substr(0, dir.find_last_of('/') + 1);
  struct stat up;
  if (::stat(parent.empty() ? "." : parent.c_str(), &up) != 0)
    return parent + ": " + std::strerror(errno);
  if (up.st_uid != user && up.st_uid != 0)
    return parent + " belongs to user " + std::to_string(up.st_uid);
  if (!(up.st_mode & S_ISVTX) && (up.st_mode & (S_IWGRP | S_IWOTH)))
    return parent + " lets other users replace what it holds";
  return "";
}

std::string sharedDirectory() {
  const uid_t user = ::geteuid();
  std::string dir;
  const char *runtime = std::getenv("XDG_RUNTIME_DIR");
  struct stat st;
  if (runtime && runtime[0] == '/' && ::stat(runtime, &st) == 0 && S_ISDIR(st.st_mode)) {
    dir = std::string(runtime) + "/velmora-calc";
  } else {
    // No runtime directory (or one that is gone, as after su): a name of our own in the shared
    // temporary directory, which is trusted only once it proves to be the user's private directory.
    const char *tmp = std::getenv("TMPDIR");
    dir =
        std::string(tmp && tmp[0] == '/' ? tmp : "/tmp") + "/velmora-calc-" + std::to_string(user);
  }
  if (::mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST)
    throw CalcError(Fault::NoOffice, "cannot create the shared office's directory " + dir + ": " +
                                         std::strerror(errno));
  if (std::string risk = privateDirectoryRisk(dir, user); !risk.empty())
    throw CalcError(Fault::NoOffice, "the shared office's directory is not private: " + risk +
                                         " (VELMORA_CALC_KEEP_SECONDS=0 gives an office of your "
                                         "own)");
  return dir;
}

pid_t launchKeeper(const KeeperPlan &plan) {
  sockaddr_un address, office;
  if (!fillAddress(address, plan.socketPath) || !fillAddress(office, plan.officePipe))
    throw CalcError(Fault::NoOffice, "the path " + plan.socketPath + " is too long for a socket");
  int listener = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  ::unlink(plan.socketPath.c_str());
  const mode_t mask = ::umask(077);
  bool bound = listener >= 0 &&
               ::bind(listener, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0;
  ::umask(mask);
  struct stat st;
  if (!bound || ::listen(listener, 16) != 0 || ::lstat(plan.socketPath.c_str(), &st) != 0) {
    std::string why = std::strerror(errno);
    if (listener >= 0)
      ::close(listener);
    throw CalcError(Fault::NoOffice, "cannot listen on " + plan.socketPath + ": " + why);
  }
  std::vector<char *> argv = pointers(plan.argv), env = pointers(plan.env);
  const std::string pipeDir = plan.officePipe.substr(0, plan.officePipe.rfind('/'));
  const char *rm = ::access("/bin/rm", X_OK) == 0       ? "/bin/rm"
                   : ::access("/usr/bin/rm", X_OK) == 0 ? "/usr/bin/rm"
                                                        : nullptr;
  std::vector<std::string> removal = {"rm", "-rf", "--", plan.scratch};
  std::vector<char *> removeArgv = pointers(removal);
  const ProcessTitle title =
      prepareTitle("office keeper (idle " +
                   (plan.keepSeconds % 60 == 0 ? std::to_string(plan.keepSeconds / 60) + " min"
                                               : std::to_string(plan.keepSeconds) + " s") +
                   ")");
  Plan keeper{plan.socketPath.c_str(),
              plan.lockPath.c_str(),
              plan.pidPath.c_str(),
              plan.officePipe.c_str(),
              pipeDir.c_str(),
              plan.log.c_str(),
              rm,
              argv.data(),
              env.data(),
              removeArgv.data(),
              office,
              st.st_dev,
              st.st_ino,
              plan.keepSeconds * 1000LL,
              &title,
              ::sysconf(_SC_CLK_TCK)};
  int report[2];
  if (::pipe2(report, O_CLOEXEC) != 0) {
    ::close(listener);
    throw CalcError(Fault::NoOffice,
                    std::string("cannot start the keeper: ") + std::strerror(errno));
  }
  // Forked twice, so that the keeper belongs to no host process and leaves no zombie behind.
  pid_t first = ::fork();
  if (first == 0) {
    ::setsid();
    pid_t pid = ::fork();
    if (pid == 0)
      keep(keeper, listener);
    ssize_t ignored = ::write(report[1], &pid, sizeof pid);
    (void)ignored;
    ::_exit(0);
  }
  ::close(report[1]);
  pid_t pid = -1;
  if (first < 0 || ::read(report[0], &pid, sizeof pid) != sizeof pid)
    pid = -1;
  ::close(report[0]);
  if (first > 0)
    ::waitpid(first, nullptr, 0);
  ::close(listener);
  if (pid <= 0)
    throw CalcError(Fault::NoOffice,
                    std::string("cannot start the keeper: ") + std::strerror(errno));
  return pid;
}

int reachKeeper(const std::string &socketPath, int &control, int timeoutMs) {
  control = -1;
  sockaddr_un address;
  if (!fillAddress(address, socketPath))
    return -1;
  int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0)
    return -1;
  if (::connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0) {
    ::close(fd);
    return -1;
  }
  pollfd ready{fd, POLLIN, 0};
  HandOverMessage in;
  int connection = -1;
  if (::poll(&ready, 1, timeoutMs) == 1 && ::recvmsg(fd, &in.message, MSG_CMSG_CLOEXEC) == 1) {
    for (cmsghdr *header = CMSG_FIRSTHDR(&in.message); header;
         header = CMSG_NXTHDR(&in.message, header))
      if (header->cmsg_level == SOL_SOCKET && header->cmsg_type == SCM_RIGHTS)
        std::memcpy(&connection, CMSG_DATA(header), sizeof connection);
  }
  if (connection < 0) {
    ::close(fd);
    return -1;
  }
  control = fd;
  return connection;
}

} // namespace vlx::calc
