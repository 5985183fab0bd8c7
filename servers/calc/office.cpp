// Starting, reaching and ending the office: soffice under a private profile, Xvfb when there is
// no display, a UNO pipe named for this process.
#include "office.h"
#include "bounds.h"
#include "child_process.h"
#include "installation.h"
#include "load.h"
#include "prepared_profile.h"
#include "profile_settings.h"
#include "shared_office.h"
#include "socket_connection.h"

#include <com/sun/star/bridge/BridgeFactory.hpp>
#include <com/sun/star/bridge/UnoUrlResolver.hpp>
#include <com/sun/star/connection/NoConnectException.hpp>
#include <com/sun/star/frame/Desktop.hpp>
#include <com/sun/star/lang/DisposedException.hpp>
#include <com/sun/star/lang/XMultiComponentFactory.hpp>
#include <cppuhelper/bootstrap.hxx>
#include <rtl/bootstrap.hxx>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace vlx::calc {

namespace {

using namespace std::chrono_literals;
using css::uno::Reference;

// soffice asks its launcher for a restart with this status after it set up a new profile.
const int kRestartStatus = 81;

OUString toOUString(const std::string &text) {
  return OUString(text.data(), static_cast<sal_Int32>(text.size()), RTL_TEXTENCODING_UTF8);
}

std::string scratchBase() {
  for (const char *name : {"XDG_RUNTIME_DIR", "TMPDIR"}) {
    const char *dir = std::getenv(name);
    struct stat st;
    if (dir && *dir && ::stat(dir, &st) == 0 && S_ISDIR(st.st_mode) && ::access(dir, W_OK) == 0)
      return dir;
  }
  return "/tmp";
}

bool lockFd(int fd) {
  struct flock lock {};
  lock.l_type = F_WRLCK;
  lock.l_whence = SEEK_SET;
  return ::fcntl(fd, F_OFD_SETLK, &lock) == 0;
}

std::string findXvfb() {
  const char *path = std::getenv("PATH");
  std::string dirs = path ? path : "/usr/bin:/bin";
  size_t start = 0;
  while (start <= dirs.size()) {
    size_t end = dirs.find(':', start);
    if (end == std::string::npos)
      end = dirs.size();
    std::string candidate = dirs.substr(start, end - start) + "/Xvfb";
    if (end > start && ::access(candidate.c_str(), X_OK) == 0)
      return candidate;
    start = end + 1;
  }
  return {};
}

// Drops a reference without a call through the bridge, which may be dead or, in a forked
// child, not ours: the proxy is kept, reachable, for the rest of the process.
template <class T> void leak(Reference<T> &ref) {
  static auto *kept = new std::vector<Reference<css::uno::XInterface>>;
  if (ref.is())
    kept->emplace_back(ref);
  ref.clear();
}

} // namespace

Office &Office::instance() {
  // Never destroyed by static destruction: UNO may already be gone then; atExit ends children.
  static Office *office = new Office;
  return *office;
}

void Office::atExit() {
  // Only what is safe while the process ends: no UNO calls; the children and files go.
  Office &office = instance();
  if (office.owner_ == ::getpid())
    office.endChildren();
}

void Office::forget() {
  leak(remote_);
  leak(desktop_);
  leak(application_);
}

void Office::removeStale(const std::string &base) {
  if (DIR *dir = ::opendir(base.c_str())) {
    while (dirent *entry = ::readdir(dir)) {
      if (std::strncmp(entry->d_name, "velmora-calc-", 13) != 0)
        continue;
      std::string path = base + "/" + entry->d_name;
      struct stat st;
      if (::lstat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::getuid())
        continue;
      // Its owner holds a lock on this file while it lives; a directory without one is not
      // judged.
      int fd = ::open((path + "/owner").c_str(), O_RDWR | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
      if (fd < 0)
        continue;
      if (lockFd(fd)) {
        std::error_code ec;
        std::filesystem::remove_all(path, ec);
      }
      ::close(fd);
    }
    ::closedir(dir);
  }
  // A killed office leaves its pipe where the UNO run-time puts it.
  removeStalePipes("velmora-calc-");
}

void Office::disposeBridges() {
  // Disposing a bridge joins its threads: left to end on their own, they would still be ending
  // while the process exits (and a leak check that stops every thread crashes on them).
  if (!local_.is())
    return;
  try {
    auto factory = css::bridge::BridgeFactory::create(local_);
    for (const auto &bridge : factory->getExistingBridges())
      if (Reference<css::lang::XComponent> component{bridge, css::uno::UNO_QUERY}; component.is())
        component->dispose();
  } catch (const css::uno::Exception &) {
  }
}

void Office::endChildren() {
  endGroup(soffice_, 2s);
  endGroup(xvfb_, 1s);
  if (!pipe_.name.empty()) {
    // A killed soffice leaves its pipe's socket where the UNO run-time puts it.
    removeOfficePipe(pipe_.socket);
    pipe_ = {};
  }
  if (!scratch_.empty()) {
    std::error_code ec;
    std::filesystem::remove_all(scratch_, ec);
    scratch_.clear();
  }
  if (ownerLock_ >= 0) {
    ::close(ownerLock_);
    ownerLock_ = -1;
  }
  owner_ = -1;
}

Reference<css::uno::XComponentContext> Office::context() {
  if (owner_ != -1 && owner_ != ::getpid()) {
    // A forked child: the office belongs to the parent; forget it without touching it.
    forget();
    soffice_ = xvfb_ = -1;
    scratch_.clear();
    pipe_ = {};
    if (ownerLock_ >= 0)
      ::close(ownerLock_); // the parent's lock stays with the parent's descriptor
    ownerLock_ = -1;
    owner_ = -1;
    if (control_ >= 0)
      ::close(control_);
    control_ = -1;
    leak(bridge_);
    shared_ = false;
    releaseAllDocuments();
  }
  if (!remote_.is()) {
    // A start has bounds of its own; the call that needs it waits for them.
    AnswerWatch starting(3 * startWait(), [] {});
    start();
  }
  return remote_;
}

Reference<css::frame::XDesktop2> Office::desktop() {
  context();
  return desktop_;
}

Reference<ooo::vba::excel::XApplication> Office::application() {
  context();
  if (!application_.is()) {
    application_.set(remote_->getServiceManager()->createInstanceWithContext(
                         "ooo.vba.excel.Application", remote_),
                     css::uno::UNO_QUERY);
    if (!application_.is())
      throw CalcError(Fault::NoOffice, "LibreOffice has no Excel-compatible object model");
  }
  return application_;
}

bool Office::hasView() {
  context();
  return view_;
}

void Office::start() {
  if (!local_.is()) {
    try {
      // As URE_BOOTSTRAP in the environment would, without changing the host's environment.
      rtl::Bootstrap::set("URE_BOOTSTRAP", toOUString(std::string("vnd.sun.star.pathname:") +
                                                      kProgramDir + "/fundamentalrc"));
      local_ = cppu::defaultBootstrap_InitialComponentContext();
    } catch (const css::uno::Exception &e) {
      throw CalcError(Fault::NoOffice, "cannot load the UNO run-time: " + toString(e.Message));
    }
  }
  if (const char *target = std::getenv("VELMORA_CALC_CONNECT"); target && *target) {
    view_ = true;
    connect(target, false);
    return;
  }
  static bool registered = ::atexit(atExit) == 0;
  if (!registered)
    throw CalcError(Fault::NoOffice, "cannot register the office's clean-up");
  owner_ = ::getpid();
  if (keepSeconds() > 0) {
    startShared();
    return;
  }
  removeStale(scratchBase());
  std::string dir = scratchBase() + "/velmora-calc-XXXXXX";
  if (!::mkdtemp(dir.data()))
    throw CalcError(Fault::NoOffice, "cannot create a scratch directory in " + scratchBase() +
                                         ": " + std::strerror(errno));
  scratch_ = dir;
  // Locked before it has its name, so that no other start takes this directory for a dead one.
  ownerLock_ = ::open((dir + "/owner.new").c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (ownerLock_ < 0 || !lockFd(ownerLock_) ||
      ::rename((dir + "/owner.new").c_str(), (dir + "/owner").c_str()) != 0 ||
      ::mkdir((dir + "/tmp").c_str(), 0700) != 0) {
    endChildren();
    throw CalcError(Fault::NoOffice, "cannot set up the scratch directory " + dir);
  }
  if (::access((std::string(kProgramDir) + "/soffice.bin").c_str(), X_OK) != 0) {
    endChildren();
    throw CalcError(Fault::NoOffice, std::string("LibreOffice Calc is not installed in ") +
                                         kProgramDir +
                                         " (sudo apt-get install -y libreoffice-calc xvfb)");
  }
  try {
    writeProfileSettings(scratch_ + "/profile");
  } catch (...) {
    endChildren();
    throw;
  }
  startDisplay();
  try {
    pipe_ = makeOfficePipe("velmora-calc-" + std::to_string(owner_) + "-");
  } catch (...) {
    endChildren();
    throw;
  }
  soffice_ = spawnOffice(pipe_.name);
  try {
    connect("pipe,name=" + pipe_.name, true);
  } catch (...) {
    endChildren();
    throw;
  }
  keepPreparedProfile(scratch_ + "/profile", preparedProfileDir(kProgramDir));
}

void Office::startDisplay() {
  const char *display = std::getenv("DISPLAY");
  if (display && *display) {
    display_ = display;
    view_ = true;
    return;
  }
  std::string xvfb = findXvfb();
  int fds[2];
  if (xvfb.empty() || ::pipe2(fds, O_CLOEXEC) != 0) {
    view_ = false;
    return;
  }
  xvfb_ = spawn({xvfb, "-displayfd", "3", "-nolisten", "tcp", "-screen", "0", "1280x1024x24"},
                currentEnvironment(), scratch_ + "/xvfb.log", fds[1]);
  ::close(fds[1]);
  // Xvfb writes the display number it found free once it accepts connections.
  std::string number;
  pollfd pfd{fds[0], POLLIN, 0};
  auto deadline = std::chrono::steady_clock::now() + 15s;
  while (std::chrono::steady_clock::now() < deadline && ::poll(&pfd, 1, 200) >= 0) {
    char c;
    ssize_t got = (pfd.revents & (POLLIN | POLLHUP)) ? ::read(fds[0], &c, 1) : 0;
    if (got == 1 && c != '\n')
      number += c;
    else if (got == 1 || (pfd.revents & POLLHUP))
      break;
  }
  ::close(fds[0]);
  if (number.empty()) {
    endGroup(xvfb_, 1s);
    view_ = false;
    return;
  }
  display_ = ":" + number;
  view_ = true;
}

pid_t Office::spawnOffice(const std::string &pipeName) {
  std::vector<std::string> argv = {std::string(kProgramDir) + "/soffice.bin",
                                   "-env:UserInstallation=file://" + scratch_ + "/profile",
                                   "--accept=pipe,name=" + pipeName +
                                       ";urp;StarOffice.ComponentContext",
                                   "--norestore",
                                   "--nologo",
                                   "--nodefault",
                                   "--nolockcheck"};
  // Under --headless a visible document aborts soffice: without a display, documents are
  // loaded hidden and members that need a window refuse.
  if (!view_)
    argv.push_back("--headless");
  std::vector<std::string> env = currentEnvironment();
  // The office's temporary folders go with the scratch directory, also when it is killed.
  setEnv(env, "TMPDIR", scratch_ + "/tmp");
  if (view_) {
    setEnv(env, "DISPLAY", display_);
    if (xvfb_ > 0)
      setEnv(env, "SAL_USE_VCLPLUGIN", "gen");
  }
  return spawn(argv, env, scratch_ + "/soffice.log", -1);
}

void Office::cut() {
  if (shared_) {
    ::shutdown(connection_, SHUT_RDWR);
    (void)::send(control_, "x", 1, MSG_NOSIGNAL);
  } else if (owner_ == ::getpid() && soffice_ > 0) {
    ::kill(-soffice_, SIGKILL); // stopped or stuck: nothing less ends it
  } else {
    disposeBridges();
  }
}

void Office::connect(const std::string &description, bool owned) {
  PipeSignalBlock quiet; // the bridge's threads start blocked too
  // An office that takes the connection and never answers (stopped, or not an office at all).
  AnswerWatch watch(startWait(), [this] { cut(); });
  auto resolver = css::bridge::UnoUrlResolver::create(local_);
  OUString url = toOUString("uno:" + description + ";urp;StarOffice.ComponentContext");
  auto deadline = std::chrono::steady_clock::now() + startWait();
  int restarts = 0;
  for (;;) {
    try {
      remote_.set(resolver->resolve(url), css::uno::UNO_QUERY_THROW);
      desktop_ = css::frame::Desktop::create(remote_);
      return;
    } catch (const css::connection::NoConnectException &) {
    } catch (const css::uno::Exception &e) {
      if (watch.finish())
        throw CalcError(Fault::NoOffice, "LibreOffice at " + description +
                                             " did not answer within " + secondsText(startWait()));
      throw CalcError(Fault::NoOffice,
                      "cannot reach LibreOffice at " + description + ": " + toString(e.Message));
    }
    if (!owned)
      throw CalcError(Fault::NoOffice,
                      "no LibreOffice listens at " + description + " (VELMORA_CALC_CONNECT)");
    int status = 0;
    if (::waitpid(soffice_, &status, WNOHANG) == soffice_) {
      soffice_ = -1;
      if (WIFEXITED(status) && WEXITSTATUS(status) == kRestartStatus && restarts++ < 2) {
        soffice_ = spawnOffice(pipe_.name);
        continue;
      }
      throw CalcError(Fault::NoOffice, "LibreOffice ended while starting (status " +
                                           std::to_string(status) + "); see " + scratch_ +
                                           "/soffice.log");
    }
    if (std::chrono::steady_clock::now() > deadline)
      throw CalcError(Fault::NoOffice,
                      "LibreOffice did not answer within " + secondsText(startWait()));
    std::this_thread::sleep_for(100ms);
  }
}

void Office::stop() {
  if (shared_) {
    closeOwnDocuments();
    releaseAllDocuments();
    forget();
    leaveShared();
    return;
  }
  releaseAllDocuments();
  if (owner_ == ::getpid()) {
    // Not Desktop.terminate: with a window it asks about unsaved documents and waits for an
    // answer nobody gives.
    forget();
    endGroup(soffice_, 2s);
    disposeBridges();
    endChildren();
  } else {
    remote_.clear();
    desktop_.clear();
    application_.clear();
    disposeBridges();
  }
}

bool Office::checkLost() {
  if (!remote_.is())
    return true;
  bool gone = soffice_ > 0 && ::waitpid(soffice_, nullptr, WNOHANG) == soffice_;
  if (gone)
    soffice_ = -1;
  else {
    try {
      desktop_->getCurrentComponent();
    } catch (const css::lang::DisposedException &) {
      gone = true;
    }
  }
  if (gone) {
    // Read once the office has ended, and before its scratch directory goes.
    lastWords_.clear();
    if (shared_)
      lastWords_ = logTail(turnPath_.substr(0, turnPath_.rfind('/') + 1) + "office.log");
    else if (owner_ == ::getpid()) {
      endGroup(soffice_, 2s);
      lastWords_ = logTail(scratch_ + "/soffice.log");
    }
    releaseAllDocuments();
    forget();
    leaveShared();
    disposeBridges();
    if (owner_ == ::getpid())
      endChildren();
  }
  return gone;
}

} // namespace vlx::calc
