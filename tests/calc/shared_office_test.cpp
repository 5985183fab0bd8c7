// The office kept for later commands: its private directory, its reuse, its replacement when it
// died, its end when unused, and processes that share it without seeing each other's workbooks.
#include "load.h"
#include "model.h"
#include "shared_office.h"
#include "support/expect_text.h"
#include "support/temp_env.h"
#include "xlsx_writer.h"

#include <com/sun/star/beans/PropertyValue.hpp>
#include <com/sun/star/frame/XComponentLoader.hpp>
#include <com/sun/star/util/XCloseable.hpp>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstring>
#include <dlfcn.h>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <future>
#include <iostream>
#include <memory>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>

namespace vlx::calc {
namespace {

using css::uno::Any;
using namespace std::chrono_literals;

// A process that runs and is not a zombie (a keeper is nobody's child here).
bool alive(pid_t pid) {
  std::string name, state;
  std::ifstream("/proc/" + std::to_string(pid) + "/stat") >> name >> name >> state;
  return pid > 0 && ::kill(pid, 0) == 0 && state != "Z";
}

bool waitGone(pid_t pid) {
  for (int i = 0; i < 200 && alive(pid); ++i)
    std::this_thread::sleep_for(50ms);
  return !alive(pid);
}

bool exists(const std::string &path) {
  struct stat st;
  return ::lstat(path.c_str(), &st) == 0;
}

// A socket listening at `path`, as an office's or a keeper's would; -1 when it cannot be.
int listeningAt(const std::string &path) {
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
  if (::bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0 ||
      ::listen(fd, 4) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

// The keeper with a stand-in for the office: `office` runs as its office, and the office's socket
// is one the test listens on.
class KeeperTest : public ::testing::Test {
protected:
  KeeperPlan plan(std::vector<std::string> office, int keep) {
    KeeperPlan p;
    p.socketPath = temp_.file("office.sock");
    p.lockPath = temp_.file("start.lock");
    p.pidPath = temp_.file("office.pid");
    p.scratch = temp_.file("office-x");
    p.officePipe = temp_.file("pipe");
    p.log = temp_.file("office.log");
    p.argv = std::move(office);
    p.keepSeconds = keep;
    ::mkdir(p.scratch.c_str(), 0700);
    return p;
  }
  std::pair<pid_t, pid_t> pids(const KeeperPlan &p) {
    std::pair<pid_t, pid_t> found{-1, -1};
    for (int i = 0; i < 100 && found.second <= 0; ++i) {
      std::ifstream(p.pidPath) >> found.first >> found.second;
      if (found.second <= 0)
        std::this_thread::sleep_for(20ms);
    }
    return found;
  }
  // The keeper of `p` started, with the test listening as its office, and reached as a client
  // reaches it: the office's socket, the keeper, the client's control socket and its connection
  // to the office (-1 where one failed).
  struct Reached {
    int office;
    pid_t keeper;
    int control, fd;
  };
  Reached startAndReach(const KeeperPlan &p) {
    Reached r{listeningAt(p.officePipe), -1, -1, -1};
    if (r.office >= 0) {
      r.keeper = launchKeeper(p);
      r.fd = reachKeeper(p.socketPath, r.control, 10000);
    }
    return r;
  }
  vlx::test::TempDir temp_;
};

TEST_F(KeeperTest, HandsOverTheOfficesConnectionAndEndsWhenUnused) {
  KeeperPlan p = plan({"/bin/sleep", "60"}, 1);
  const auto [office, keeper, control, fd] = startAndReach(p);
  ASSERT_GE(fd, 0);
  int peer = ::accept(office, nullptr, nullptr);
  ASSERT_EQ(::write(fd, "x", 1), 1);
  char byte = 0;
  EXPECT_EQ(::read(peer, &byte, 1), 1);
  EXPECT_EQ(byte, 'x') << "the handed descriptor is not connected to the office";
  auto [named, officePid] = pids(p);
  EXPECT_EQ(named, keeper);
  EXPECT_TRUE(alive(officePid));

  // Used, it outlives its keep time; unused, it ends and leaves nothing.
  std::this_thread::sleep_for(1500ms);
  EXPECT_TRUE(alive(keeper));
  ::close(control);
  ::close(fd);
  EXPECT_TRUE(waitGone(keeper));
  EXPECT_FALSE(alive(officePid));
  EXPECT_FALSE(exists(p.socketPath));
  EXPECT_FALSE(exists(p.pidPath));
  EXPECT_FALSE(exists(p.scratch));
  ::close(peer);
  ::close(office);
}

TEST_F(KeeperTest, EndsWithItsOfficeOrWhenAskedAndAStaleSocketAnswersNothing) {
  KeeperPlan p = plan({"/bin/sleep", "60"}, 60);
  pid_t keeper = launchKeeper(p);
  auto office = pids(p).second;
  ASSERT_TRUE(alive(office));
  ::kill(office, SIGKILL);
  EXPECT_TRUE(waitGone(keeper)) << "the keeper outlived its office";
  EXPECT_FALSE(exists(p.socketPath));

  p = plan({"/bin/sleep", "60"}, 60);
  keeper = launchKeeper(p);
  office = pids(p).second;
  ::kill(keeper, SIGTERM);
  EXPECT_TRUE(waitGone(keeper));
  EXPECT_FALSE(alive(office));
  EXPECT_FALSE(exists(p.scratch));

  // A socket nobody listens on, as a killed keeper leaves it, is refused at once.
  p = plan({"/bin/sleep", "60"}, 60);
  keeper = launchKeeper(p);
  ::kill(keeper, SIGKILL);
  ASSERT_TRUE(waitGone(keeper));
  EXPECT_TRUE(exists(p.socketPath));
  int control = -1;
  EXPECT_EQ(reachKeeper(p.socketPath, control, 10000), -1);
  EXPECT_EQ(control, -1);
}

// A client that goes away in the middle of a call (Ctrl-C) leaves the office working for nobody:
// the keeper ends an office that keeps working with no client, and keeps an idle one.
TEST_F(KeeperTest, EndsAnOfficeThatWorksForNobody) {
  for (bool busy : {false, true}) {
    KeeperPlan p = plan(busy ? std::vector<std::string>{"/bin/sh", "-c", "while :; do :; done"}
                             : std::vector<std::string>{"/bin/sleep", "60"},
                        60);
    ::unlink(p.officePipe.c_str());
    const auto [office, keeper, control, fd] = startAndReach(p);
    ASSERT_GE(fd, 0);
    ::close(control);
    ::close(fd);
    bool ended = false;
    for (int i = 0; i < (busy ? 300 : 60) && !ended; ++i) {
      std::this_thread::sleep_for(100ms);
      ended = !alive(keeper);
    }
    EXPECT_EQ(ended, busy) << (busy ? "a busy office outlived its last client"
                                    : "an idle office was ended before its keep time");
    ::kill(keeper, SIGTERM);
    EXPECT_TRUE(waitGone(keeper));
    ::close(office);
  }
}

TEST(SharedOfficeDirectory, OnlyTheUsersOwnDirectoryIsTrusted) {
  vlx::test::TempDir temp;
  const std::string dir = temp.file("own");
  ASSERT_EQ(::mkdir(dir.c_str(), 0700), 0);
  EXPECT_EQ(privateDirectoryRisk(dir, ::geteuid()), "");
  EXPECT_HAS(privateDirectoryRisk(dir, ::geteuid() + 1), "belongs to user");
  ::chmod(dir.c_str(), 0750);
  EXPECT_HAS(privateDirectoryRisk(dir, ::geteuid()), "mode 750");
  ::chmod(dir.c_str(), 0700);
  const std::string link = temp.file("link");
  ASSERT_EQ(::symlink(dir.c_str(), link.c_str()), 0);
  EXPECT_HAS(privateDirectoryRisk(link, ::geteuid()), "symbolic link");
  std::ofstream(temp.file("file")) << "x";
  EXPECT_HAS(privateDirectoryRisk(temp.file("file"), ::geteuid()), "not a directory");
  // A private directory in a parent where others could swap it.
  const std::string open = temp.file("open");
  ASSERT_EQ(::mkdir(open.c_str(), 0700), 0);
  ASSERT_EQ(::mkdir((open + "/inner").c_str(), 0700), 0);
  ::chmod(open.c_str(), 0777);
  EXPECT_NE(privateDirectoryRisk(open + "/inner", ::geteuid()), "");

  // Made private in the runtime directory; one made by someone else's rules is refused.
  vlx::test::ScopedEnv runtime("XDG_RUNTIME_DIR", temp.path().c_str());
  struct stat st {};
  EXPECT_EQ(sharedDirectory(), temp.file("velmora-calc"));
  ASSERT_EQ(::lstat(temp.file("velmora-calc").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
  ::chmod(temp.file("velmora-calc").c_str(), 0755);
  EXPECT_THROW(sharedDirectory(), CalcError);
  vlx::test::ScopedEnv none("XDG_RUNTIME_DIR", nullptr);
  vlx::test::ScopedEnv tmp("TMPDIR", temp.path().c_str());
  EXPECT_EQ(sharedDirectory(), temp.file("velmora-calc-" + std::to_string(::geteuid())));
}

TEST(SharedOfficeDirectory, KeepTimeIsAPositiveNumberOfSeconds) {
  const std::pair<const char *, int> cases[] = {{nullptr, 0}, {"", 0},  {"0", 0},         {"-3", 0},
                                                {"5x", 0},    {"5", 5}, {"999999", 86400}};
  for (const auto &[value, seconds] : cases) {
    vlx::test::ScopedEnv keep("VELMORA_CALC_KEEP_SECONDS", value);
    EXPECT_EQ(keepSeconds(), seconds) << (value ? value : "unset");
  }
}

// Commands against the shared office in a runtime directory, home and registry of the test's
// own, with the server registered there.
class SharedOfficeTest : public vlx::test::TempEnvTest {
protected:
  void SetUp() override {
    Office::instance().stop(); // an office an earlier test left to this process
    ::mkdir(run_.c_str(), 0700);
    void *server = ::dlopen(VLX_CALC_SERVER, RTLD_NOW);
    ASSERT_NE(server, nullptr) << ::dlerror();
    auto registerServer = reinterpret_cast<int32_t (*)()>(::dlsym(server, "DllRegisterServer"));
    ASSERT_NE(registerServer, nullptr);
    ASSERT_EQ(registerServer(), 0); // S_OK
  }
  void TearDown() override {
    // What the office said before it went, if it went.
    if (std::ifstream log(run_ + "/velmora-calc/office.log"); HasFailure() && log)
      std::cerr << log.rdbuf();
    Office::instance().stop();
    // The keeper takes its office along.
    pid_t keeper = pids().first;
    if (keeper > 0)
      ::kill(keeper, SIGKILL);
    for (int i = 0; i < 100 && alive(pids().second); ++i)
      std::this_thread::sleep_for(50ms);
  }

  std::string book(const std::string &name, const std::string &value) {
    std::string path = dir_.file(name);
    calc::test::writeXlsx(path, {false, {}, {{"Sheet1", {{"A1", "", value, "", 0}}, false}}});
    return path;
  }
  // The keeper's and the office's pid, or -1.
  std::pair<pid_t, pid_t> pids() const {
    std::pair<pid_t, pid_t> found{-1, -1};
    std::ifstream(run_ + "/velmora-calc/office.pid") >> found.first >> found.second;
    return found;
  }
  vlx::test::RunResult get(const std::string &path) {
    return vlx::test::runCommand({VLX_BINARY, "sheet", "get", path, "A1"});
  }

  std::string run_ = dir_.file("run");
  vlx::test::ScopedEnv runtime_{"XDG_RUNTIME_DIR", run_.c_str()};
  vlx::test::ScopedEnv home_{"HOME", dir_.path().c_str()};
  vlx::test::ScopedEnv cache_{"XDG_CACHE_HOME", dir_.file("cache").c_str()};
};

TEST_F(SharedOfficeTest, ReusedReplacedWhenDeadAndEndedWhenUnused) {
  const std::string path = book("a.xlsx", "42");
  vlx::test::ScopedEnv keep("VELMORA_CALC_KEEP_SECONDS", "60");
  auto first = get(path);
  EXPECT_EQ(first.output, "42\n");
  auto [keeper, office] = pids();
  ASSERT_TRUE(alive(keeper) && alive(office)) << keeper << " " << office;
  EXPECT_EQ(get(path).output, "42\n");
  EXPECT_EQ(pids(), std::make_pair(keeper, office)) << "the second command started an office";

  // A killed keeper leaves its socket; its office goes with it.
  ::kill(keeper, SIGKILL);
  for (int i = 0; i < 100 && alive(office); ++i)
    std::this_thread::sleep_for(50ms);
  ASSERT_FALSE(alive(office));
  vlx::test::ScopedEnv shortKeep("VELMORA_CALC_KEEP_SECONDS", "1");
  EXPECT_EQ(get(path).output, "42\n");
  auto [keeper2, office2] = pids();
  EXPECT_NE(keeper2, keeper);
  EXPECT_TRUE(alive(office2));

  // Unused for its second, it ends with its office and leaves nothing.
  for (int i = 0; i < 200 && alive(keeper2); ++i)
    std::this_thread::sleep_for(50ms);
  EXPECT_FALSE(alive(keeper2));
  EXPECT_FALSE(alive(office2));
  std::vector<std::string> left;
  for (const auto &entry : std::filesystem::directory_iterator(run_ + "/velmora-calc"))
    left.push_back(entry.path().filename().string());
  std::sort(left.begin(), left.end());
  EXPECT_EQ(left, (std::vector<std::string>{"office.log", "start.lock", "turn.lock"}));
}

// Every wait has a bound and a message that names what was waited for: another process's turn
// (a holder that was stopped), an office that was stopped, and a keeper that never answers.
TEST_F(SharedOfficeTest, WaitsForOthersAndForAStoppedOfficeEnd) {
  using Clock = std::chrono::steady_clock;
  const std::string path = book("a.xlsx", "42");
  vlx::test::ScopedEnv keep("VELMORA_CALC_KEEP_SECONDS", "60");
  ASSERT_EQ(get(path).output, "42\n");
  const pid_t office = pids().second;
  {
    int held = ::open((run_ + "/velmora-calc/turn.lock").c_str(), O_RDWR | O_CLOEXEC);
    struct flock lock {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    ASSERT_EQ(::fcntl(held, F_OFD_SETLK, &lock), 0);
    ASSERT_EQ(::pwrite(held, "4242\n", 5, 0), 5);
    auto start = Clock::now();
    auto set = vlx::test::runCommand(
        {"/usr/bin/timeout", "60", VLX_BINARY, "sheet", "set", "--wait", "2", path, "A1", "5"});
    EXPECT_LT(Clock::now() - start, 30s);
    EXPECT_EQ(set.status, 1) << set.output;
    EXPECT_HAS(set.output, "process 4242 has held " + run_ + "/velmora-calc/turn.lock");
    EXPECT_HAS(set.output, "for over 2 s");
    ::close(held);
  }

  // A stopped office: the call gives up after its bound and the keeper ends it.
  auto bound = std::make_unique<vlx::test::ScopedEnv>("VELMORA_CALC_CALL_SECONDS", "3");
  Object app{Kind::Application, nullptr, nullptr};
  const Member *workbooks = findMember(Kind::Application, std::string_view("Workbooks"));
  Object books = answerObject(*workbooks, app, invoke(*workbooks, app, {}));
  ASSERT_EQ(pids().second, office);
  ::kill(office, SIGSTOP);
  const Member *open = findMember(Kind::Workbooks, std::string_view("Open"));
  std::string message;
  auto start = Clock::now();
  try {
    invoke(*open, books, {Any(OUString::createFromAscii(path.c_str()))});
  } catch (const CalcError &e) {
    message = e.what();
  }
  EXPECT_LT(Clock::now() - start, 30s);
  EXPECT_HAS(message, "did not answer within 3 s");
  EXPECT_TRUE(waitGone(office)) << "the stopped office was not ended";
  ::kill(office, SIGCONT);
  bound.reset();
  // The next command starts a new one.
  EXPECT_EQ(
      vlx::test::runCommand({"/usr/bin/timeout", "120", VLX_BINARY, "sheet", "get", path, "A1"})
          .output,
      "42\n");
  EXPECT_NE(pids().second, office);
}

// The office's pipe, which LibreOffice names in /tmp where any user could bind the name first, is
// inside a directory only the user can enter: the office's own and the shared one's.
TEST_F(SharedOfficeTest, TheOfficesPipeIsInADirectoryOfTheUsersOwn) {
  auto expectPrivatePipe = [](pid_t office) {
    std::string arguments;
    std::getline(std::ifstream("/proc/" + std::to_string(office) + "/cmdline"), arguments, '\x01');
    const std::string key = std::string("--accept=pipe,name=");
    size_t at = arguments.find(key);
    ASSERT_NE(at, std::string::npos) << office;
    at += key.size();
    const std::string name = arguments.substr(at, arguments.find(';', at) - at);
    const std::string socket = "/tmp/OSL_PIPE_" + std::to_string(::getuid()) + "_" + name;
    const std::string dir = socket.substr(0, socket.rfind('/'));
    struct stat st {};
    ASSERT_NE(dir, "/tmp") << socket;
    ASSERT_EQ(::lstat(dir.c_str(), &st), 0) << dir;
    EXPECT_TRUE(S_ISDIR(st.st_mode));
    EXPECT_EQ(st.st_uid, ::getuid());
    EXPECT_EQ(st.st_mode & 0777, 0700u) << dir;
    EXPECT_TRUE(exists(socket)) << socket;
  };
  Office::instance().context();
  ASSERT_FALSE(Office::instance().shared());
  expectPrivatePipe(Office::instance().pid());
  Office::instance().stop();

  const std::string path = book("a.xlsx", "42");
  vlx::test::ScopedEnv keep("VELMORA_CALC_KEEP_SECONDS", "60");
  ASSERT_EQ(get(path).output, "42\n");
  expectPrivatePipe(pids().second);
}

// vlx reports a damaged workbook as the office reports a repaired one: read, with a warning, and
// not written.
TEST_F(SharedOfficeTest, ADamagedWorkbookIsReadWithAWarningAndNotWritten) {
  const std::string path = dir_.file("cut.xlsx");
  calc::test::writeXlsx(path, {false,
                               {},
                               {{"Sheet1", {{"A1", "", "42", "", 0}}, false, 0},
                                {"Sheet2", {{"A1", "", "7", "", 0}}, false, -1}}});
  vlx::test::ScopedEnv keep("VELMORA_CALC_KEEP_SECONDS", "60");
  auto read = get(path);
  EXPECT_EQ(read.status, 0);
  EXPECT_HAS(read.output, "vlx: warning: " + path +
                              " is damaged (its sheet 'Sheet2' "
                              "(xl/worksheets/sheet2.xml) is missing): opened read-only\n");
  EXPECT_HAS(read.output, "42\n");
  auto write = vlx::test::runCommand({VLX_BINARY, "sheet", "set", path, "A1", "5"});
  EXPECT_EQ(write.status, 1);
  EXPECT_HAS(write.output, "cannot write " + path + ": it is damaged");
}

TEST_F(SharedOfficeTest, AKeeperThatNeverAnswersIsWaitedForOnce) {
  // A socket that takes the connection and never hands one over (a keeper that is stuck).
  const std::string path = book("a.xlsx", "42");
  vlx::test::ScopedEnv keep("VELMORA_CALC_KEEP_SECONDS", "60");
  vlx::test::ScopedEnv bound("VELMORA_CALC_START_SECONDS", "4");
  ::mkdir((run_ + "/velmora-calc").c_str(), 0700);
  const int stuck = listeningAt(run_ + "/velmora-calc/office.sock");
  ASSERT_GE(stuck, 0);
  auto start = std::chrono::steady_clock::now();
  auto result =
      vlx::test::runCommand({"/usr/bin/timeout", "60", VLX_BINARY, "sheet", "get", path, "A1"});
  EXPECT_LT(std::chrono::steady_clock::now() - start, 45s);
  EXPECT_TRUE(result.output == "42\n" || result.output.find("within 4 s") != std::string::npos)
      << result.output;
  ::close(stuck);
}

TEST_F(SharedOfficeTest, ProcessesSharingItSeeOnlyTheirOwnWorkbooks) {
  const std::string mine = book("mine.xlsx", "7"), a = book("a.xlsx", "1"), b = book("b.xlsx", "2");
  vlx::test::ScopedEnv keep("VELMORA_CALC_KEEP_SECONDS", "60");
  auto call = [](const Object &self, const char *name, const Args &args = {}) {
    return invoke(*findMember(self.kind, std::string_view(name)), self, args);
  };
  auto object = [&](const Object &self, const char *name, const Args &args = {}) {
    const Member *member = findMember(self.kind, std::string_view(name));
    return answerObject(*member, self, invoke(*member, self, args));
  };
  auto count = [&](const Object &books) {
    sal_Int32 n = -1;
    call(books, "Count") >>= n;
    return n;
  };
  Object app{Kind::Application, nullptr, nullptr};
  Object books = object(app, "Workbooks");
  Object book = object(books, "Open", {Any(OUString::createFromAscii(mine.c_str()))});
  ASSERT_TRUE(Office::instance().shared());
  const auto office = pids();
  // Another process's workbook in the same office.
  css::uno::Sequence<css::beans::PropertyValue> hidden(1);
  hidden.getArray()[0].Name = "Hidden";
  hidden.getArray()[0].Value <<= true;
  css::uno::Reference<css::frame::XComponentLoader> loader(Office::instance().desktop(),
                                                           css::uno::UNO_QUERY_THROW);
  auto foreign = loader->loadComponentFromURL("private:factory/scalc", "_blank", 0, hidden);
  EXPECT_EQ(count(books), 1);
  EXPECT_THROW(object(books, "Item", {Any(sal_Int32(2))}), CalcError);

  // Commands at once, two of them on one file and one on the file this process has open: each
  // reads its own file, and ending closes only its own.
  std::vector<std::pair<std::string, std::future<vlx::test::RunResult>>> commands;
  for (const auto &[path, value] : {std::make_pair(a, "1"), std::make_pair(a, "1"),
                                    std::make_pair(b, "2"), std::make_pair(mine, "7")})
    commands.emplace_back(std::string(value) + "\n",
                          std::async(std::launch::async, [&, path = path] { return get(path); }));
  for (auto &[expected, command] : commands)
    EXPECT_EQ(command.get().output, expected);
  EXPECT_EQ(pids(), office) << "the commands started an office of their own";
  EXPECT_EQ(count(books), 1);
  Object sheet =
      object(object(books, "Item", {Any(sal_Int32(1))}), "Worksheets", {Any(sal_Int16(1))});
  double value = 0;
  call(object(sheet, "Range", {Any(OUString("A1"))}), "Value") >>= value;
  EXPECT_EQ(value, 7);

  // Closing this process's workbooks leaves the other's open.
  call(books, "Close");
  EXPECT_EQ(count(books), 0);
  css::uno::Reference<css::util::XCloseable> other(foreign, css::uno::UNO_QUERY_THROW);
  EXPECT_NO_THROW(other->close(true)) << "the other process's workbook was closed";
  (void)book;
}

} // namespace
} // namespace vlx::calc
