// This process's side of the shared office: joined through its keeper, started with a keeper
// when none answers, and left.
#include "bounds.h"
#include "child_process.h"
#include "installation.h"
#include "office.h"
#include "prepared_profile.h"
#include "profile_settings.h"
#include "shared_office.h"
#include "socket_connection.h"

#include <com/sun/star/bridge/BridgeFactory.hpp>
#include <com/sun/star/bridge/XBridge.hpp>
#include <com/sun/star/frame/Desktop.hpp>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <mutex>
#include <sys/socket.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace vlx::calc {

using css::uno::Reference;

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// Takes the OFD lock on fd, trying until deadline (a stopped holder never lets go): false when
// it passed.
bool lockBefore(int fd, Clock::time_point deadline) {
  struct flock request {};
  request.l_type = F_WRLCK;
  request.l_whence = SEEK_SET;
  for (auto pause = 1ms;; pause = std::min(pause * 2, std::chrono::milliseconds(50))) {
    if (::fcntl(fd, F_OFD_SETLK, &request) == 0)
      return true;
    if ((errno != EAGAIN && errno != EACCES && errno != EINTR) || Clock::now() >= deadline)
      return false;
    std::this_thread::sleep_for(pause);
  }
}

// The holder a lock file names (its holder writes its pid there), as words for a message.
std::string holderOf(int fd) {
  char text[24] = {};
  ssize_t got = ::pread(fd, text, sizeof text - 1, 0);
  long pid = got > 0 ? std::strtol(text, nullptr, 10) : 0;
  return pid > 0 ? "process " + std::to_string(pid) : "another process";
}

void nameHolder(int fd) {
  std::string pid = std::to_string(::getpid()) + "\n";
  if (::ftruncate(fd, 0) == 0 && ::pwrite(fd, pid.data(), pid.size(), 0) < 0)
    return; // only for messages
}

} // namespace

void Office::startShared() {
  view_ = false; // headless: it serves processes with different displays, or none
  const std::string dir = sharedDirectory();
  const std::string socketPath = dir + "/office.sock";
  // Finding, or waiting for, an office another process starts has one bound in all.
  const auto deadline = Clock::now() + startWait();
  if (joinShared(socketPath, deadline, answerWait()))
    return;
  // One process at a time starts an office; the others wait here and then join it.
  const std::string lockPath = dir + "/start.lock";
  int lock = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (lock < 0)
    throw CalcError(Fault::NoOffice, "cannot lock " + lockPath + ": " + std::strerror(errno));
  struct Unlock {
    int fd;
    ~Unlock() { ::close(fd); }
  } unlock{lock};
  if (!lockBefore(lock, deadline)) {
    if (errno != EAGAIN && errno != EACCES && errno != EINTR)
      throw CalcError(Fault::NoOffice, "cannot lock " + lockPath + ": " + std::strerror(errno));
    throw CalcError(Fault::NoOffice, "the shared office did not start within " +
                                         secondsText(startWait()) + ": " + holderOf(lock) +
                                         " holds " + lockPath + " while it starts one");
  }
  nameHolder(lock);
  if (joinShared(socketPath, deadline, answerWait()))
    return;
  // No keeper answers: what dead ones left goes.
  ::unlink(socketPath.c_str());
  removeStalePipes("velmora-calc-shared-");
  if (DIR *entries = ::opendir(dir.c_str())) {
    while (dirent *entry = ::readdir(entries)) {
      std::string path = dir + "/" + entry->d_name;
      struct stat st;
      if (std::strncmp(entry->d_name, "office-", 7) == 0 && ::lstat(path.c_str(), &st) == 0 &&
          S_ISDIR(st.st_mode)) {
        std::error_code ec;
        std::filesystem::remove_all(path, ec);
      }
    }
    ::closedir(entries);
  }
  if (::access((std::string(kProgramDir) + "/soffice.bin").c_str(), X_OK) != 0)
    throw CalcError(Fault::NoOffice, std::string("LibreOffice Calc is not installed in ") +
                                         kProgramDir +
                                         " (sudo apt-get install -y libreoffice-calc xvfb)");
  std::string scratch = dir + "/office-XXXXXX";
  if (!::mkdtemp(scratch.data()) || ::mkdir((scratch + "/tmp").c_str(), 0700) != 0)
    throw CalcError(Fault::NoOffice,
                    "cannot create a scratch directory in " + dir + ": " + std::strerror(errno));
  writeProfileSettings(scratch + "/profile");

  KeeperPlan plan;
  plan.socketPath = socketPath;
  plan.lockPath = lockPath;
  plan.pidPath = dir + "/office.pid";
  plan.scratch = scratch;
  plan.log = dir + "/office.log";
  plan.keepSeconds = keepSeconds();
  const OfficePipe pipe = makeOfficePipe("velmora-calc-shared-");
  plan.officePipe = pipe.socket;
  plan.argv = {std::string(kProgramDir) + "/soffice.bin",
               "-env:UserInstallation=file://" + scratch + "/profile",
               "--accept=pipe,name=" + pipe.name + ";urp;StarOffice.ComponentContext",
               "--norestore",
               "--nologo",
               "--nodefault",
               "--nolockcheck",
               "--headless"};
  plan.env = currentEnvironment();
  setEnv(plan.env, "TMPDIR", scratch + "/tmp");
  if (int log =
          ::open(plan.log.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600);
      log >= 0)
    ::close(log);
  launchKeeper(plan);
  // A new office answers its first call once it has set itself up.
  if (!joinShared(socketPath, Clock::now() + startWait(), startWait()))
    throw CalcError(Fault::NoOffice, "LibreOffice did not answer within " +
                                         secondsText(startWait()) + "; see " + plan.log);
  keepPreparedProfile(scratch + "/profile", preparedProfileDir(kProgramDir));
}

bool Office::joinShared(const std::string &socketPath, Clock::time_point deadline,
                        std::chrono::milliseconds answer) {
  int control = -1;
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
  int fd = reachKeeper(socketPath, control, static_cast<int>(std::max<long long>(left.count(), 0)));
  if (fd < 0)
    return false;
  Reference<css::bridge::XBridge> bridge;
  try {
    // An office that is stopped (or stuck) takes the connection and never answers: cut, and
    // its keeper asked to end it, so that the next start makes a new one.
    AnswerWatch watch(answer, [fd, control] {
      ::shutdown(fd, SHUT_RDWR);
      (void)::send(control, "x", 1, MSG_NOSIGNAL);
    });
    auto factory = css::bridge::BridgeFactory::create(local_);
    bridge = factory->createBridge("", "urp", socketConnection(fd), nullptr);
    remote_.set(bridge->getInstance("StarOffice.ComponentContext"), css::uno::UNO_QUERY_THROW);
    desktop_ = css::frame::Desktop::create(remote_);
  } catch (const css::uno::Exception &) {
    ::close(control);
    forget();
    if (Reference<css::lang::XComponent> component{bridge, css::uno::UNO_QUERY}; component.is()) {
      try {
        component->dispose();
      } catch (const css::uno::Exception &) {
      }
    }
    return false;
  }
  bridge_.set(bridge, css::uno::UNO_QUERY);
  control_ = control;
  connection_ = fd;
  shared_ = true;
  turnPath_ = socketPath.substr(0, socketPath.rfind('/') + 1) + "turn.lock";
  return true;
}

namespace {
// The turn's holder in this process, which may take it again (a close inside a failed open).
std::recursive_mutex turnMutex;
int turnDepth = 0;
int turnFd = -1;
} // namespace

Office::Turn::Turn() : held_(Office::instance().shared_) {
  if (!held_)
    return;
  std::unique_lock<std::recursive_mutex> guard(turnMutex);
  if (turnDepth > 0) {
    ++turnDepth;
    guard.release();
    return;
  }
  const std::string &path = Office::instance().turnPath_;
  turnFd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  // Another process's turn has a bound of its own: the office's answer is not waited for
  // meanwhile.
  const auto bound = turnWait();
  AnswerWatch pause(bound + 1min, [] {});
  // Without the lock file the call goes ahead as it would with one process: no worse than before.
  if (turnFd >= 0 && !lockBefore(turnFd, Clock::now() + bound)) {
    const bool busy = errno == EAGAIN || errno == EACCES || errno == EINTR;
    std::string holder = holderOf(turnFd);
    ::close(turnFd);
    turnFd = -1;
    if (!busy) {
      ++turnDepth;
      guard.release();
      return;
    }
    throw CalcError(Fault::Failed, "the shared office is busy: " + holder + " has held " + path +
                                       " (its turn to open, save or close a workbook) for over " +
                                       secondsText(bound) +
                                       " (VELMORA_CALC_WAIT_SECONDS; vlx's --wait)");
  }
  if (turnFd >= 0)
    nameHolder(turnFd);
  ++turnDepth;
  guard.release();
}

Office::Turn::~Turn() {
  if (!held_)
    return;
  if (--turnDepth == 0 && turnFd >= 0) {
    ::close(turnFd); // an OFD lock ends with its descriptor
    turnFd = -1;
  }
  turnMutex.unlock();
}

void Office::leaveShared() {
  if (bridge_.is()) {
    try {
      bridge_->dispose();
    } catch (const css::uno::Exception &) {
    }
    bridge_.clear();
  }
  if (control_ >= 0)
    ::close(control_); // the keeper counts this process gone
  control_ = -1;
  connection_ = -1;
  shared_ = false;
}

} // namespace vlx::calc
