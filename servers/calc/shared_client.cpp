// This process's side of the shared office: joined through its keeper, started with a keeper
// when none answers, and left.
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
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <mutex>
#include <random>
#include <sys/stat.h>
#include <unistd.h>

namespace vlx::calc {

using css::uno::Reference;

void Office::startShared() {
  view_ = false; // headless: it serves processes with different displays, or none
  const std::string dir = sharedDirectory();
  const std::string socketPath = dir + "/office.sock";
  if (joinShared(socketPath, 90))
    return;
  // One process at a time starts an office; the others wait here and then join it.
  const std::string lockPath = dir + "/start.lock";
  int lock = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  struct flock request {};
  request.l_type = F_WRLCK;
  request.l_whence = SEEK_SET;
  if (lock < 0 || ::fcntl(lock, F_OFD_SETLKW, &request) != 0) {
    std::string why = std::strerror(errno);
    if (lock >= 0)
      ::close(lock);
    throw CalcError(Fault::NoOffice, "cannot lock " + lockPath + ": " + why);
  }
  struct Unlock {
    int fd;
    ~Unlock() { ::close(fd); }
  } unlock{lock};
  if (joinShared(socketPath, 90))
    return;
  // No keeper answers: what dead ones left goes.
  ::unlink(socketPath.c_str());
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
  std::random_device random;
  const std::string pipeName = "velmora-calc-shared-" + std::to_string(random()) +
                               std::to_string(random()) + std::to_string(random());
  // Where the UNO run-time puts a pipe's socket: not ours to choose.
  plan.officePipe = std::string(::access("/tmp", W_OK) == 0 ? "/tmp" : "/var/tmp") + "/OSL_PIPE_" +
                    std::to_string(::getuid()) + "_" + pipeName;
  plan.argv = {std::string(kProgramDir) + "/soffice.bin",
               "-env:UserInstallation=file://" + scratch + "/profile",
               "--accept=pipe,name=" + pipeName + ";urp;StarOffice.ComponentContext",
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
  if (!joinShared(socketPath, 90))
    throw CalcError(Fault::NoOffice, "LibreOffice did not answer the keeper; see " + plan.log);
  keepPreparedProfile(scratch + "/profile", preparedProfileDir(kProgramDir));
}

bool Office::joinShared(const std::string &socketPath, int timeoutSeconds) {
  int control = -1;
  int fd = reachKeeper(socketPath, control, timeoutSeconds);
  if (fd < 0)
    return false;
  Reference<css::bridge::XBridge> bridge;
  try {
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
  turnMutex.lock();
  if (turnDepth++ > 0)
    return;
  turnFd =
      ::open(Office::instance().turnPath_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  struct flock request {};
  request.l_type = F_WRLCK;
  request.l_whence = SEEK_SET;
  // Without the lock the call goes ahead as it would with one process: no worse than before.
  while (turnFd >= 0 && ::fcntl(turnFd, F_OFD_SETLKW, &request) != 0 && errno == EINTR) {
  }
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
  shared_ = false;
}

} // namespace vlx::calc
