// Where vlx's output lands: standard output that fails is a failure, and `-o` writes through
// links and into devices, FIFOs and sockets without replacing them.
#include "support/expect_text.h"
#include "vlx_fixture.h"

#include <fcntl.h>
#include <filesystem>
#include <future>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

namespace vlx::cli {
namespace {

namespace fs = std::filesystem;

class OutputTest : public VlxTest {
protected:
  void SetUp() override {
    ok({"pref", "set", "General", "Units", "mm"});
    expected_ = ok({"reg", "export"});
  }

  // Runs vlx with standard output opened on `stdoutPath` (closed when empty); returns its exit
  // status and standard error.
  RunResult withStdout(const std::string &stdoutPath, std::vector<std::string> args) {
    args.insert(args.begin(), VLX_BINARY);
    int fds[2];
    EXPECT_EQ(pipe(fds), 0);
    pid_t pid = fork();
    if (pid == 0) {
      close(1);
      if (!stdoutPath.empty() && open(stdoutPath.c_str(), O_WRONLY) != 1)
        _exit(126);
      dup2(fds[1], 2);
      close(fds[0]);
      std::vector<char *> argv;
      for (auto &a : args)
        argv.push_back(a.data());
      argv.push_back(nullptr);
      execv(argv[0], argv.data());
      _exit(127);
    }
    close(fds[1]);
    RunResult r{0, {}};
    char buf[4096];
    for (ssize_t n; (n = read(fds[0], buf, sizeof buf)) > 0;)
      r.output.append(buf, static_cast<size_t>(n));
    close(fds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128;
    return r;
  }

  static void expectOneLine(const RunResult &r, const std::string &part) {
    EXPECT_EQ(r.status, 1) << r.output;
    EXPECT_EQ(r.output.rfind("vlx: ", 0), 0u) << r.output;
    EXPECT_EQ(r.output.find('\n'), r.output.size() - 1) << r.output;
    EXPECT_HAS(r.output, part);
  }

  void expectNoTempFiles() {
    for (const auto &entry : fs::directory_iterator(dir_.path()))
      EXPECT_NE(entry.path().extension(), ".tmp") << entry.path();
  }

  std::string expected_;
};

// Reads a FIFO until its writer closes it, giving up after 20 s without data.
std::string drainFifo(const std::string &path) {
  int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK);
  std::string text;
  char buf[4096];
  for (pollfd p{fd, POLLIN, 0}; poll(&p, 1, 20000) > 0; p.revents = 0) {
    ssize_t n = read(fd, buf, sizeof buf);
    if (n <= 0 && !text.empty())
      break;
    if (n > 0)
      text.append(buf, static_cast<size_t>(n));
  }
  close(fd);
  return text;
}

TEST_F(OutputTest, StandardOutputThatFailsIsAFailure) {
  // A descriptor open on a full device: each command that prints fails on its write or flush.
  const std::string full = "/dev/full";
  if (!fs::is_character_file(full))
    GTEST_SKIP() << "no /dev/full on this system";
  expectOneLine(withStdout(full, {"reg", "export"}),
                "cannot write standard output: No space left on device");
  expectOneLine(withStdout(full, {"pref", "get", "General", "Units"}), "No space left on device");
  expectOneLine(withStdout(full, {"--help"}), "No space left on device");
  // A command's own failure keeps its line and status; the output's is not added.
  RunResult r = withStdout(full, {"pref", "get", "General", "Nothing"});
  expectOneLine(r, "not set");

  expectOneLine(withStdout("", {"pref", "get", "General", "Units"}),
                "cannot write standard output: Bad file descriptor");
  // Nothing printed, nothing to fail: a closed output is fine for a silent command. The hive the
  // command opens never takes the closed output's number.
  EXPECT_EQ(withStdout("", {"pref", "set", "General", "Units", "cm"}).status, 0);
  EXPECT_EQ(ok({"pref", "get", "General", "Units"}), "cm\n");
  EXPECT_LACKS(ok({"reg", "check"}), "DAMAGED");
}

TEST_F(OutputTest, LinksAreFollowedAndTheirTargetReplaced) {
  const std::string target = write("target.reg", "old");
  fs::permissions(target, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  fs::create_symlink("target.reg", dir_.file("link.reg"));
  fs::create_symlink("link.reg", dir_.file("chain.reg"));
  EXPECT_EQ(ok({"reg", "export", "-o", dir_.file("chain.reg")}), "");
  EXPECT_TRUE(fs::is_symlink(dir_.file("link.reg")));
  EXPECT_TRUE(fs::is_symlink(dir_.file("chain.reg")));
  EXPECT_EQ(readFile(target), expected_);
  EXPECT_EQ(fs::status(target).permissions(),
            fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);

  // A dangling link gets its target made; a link to a directory is refused.
  fs::create_symlink("made.reg", dir_.file("dangling.reg"));
  ok({"reg", "export", "-o", dir_.file("dangling.reg")});
  EXPECT_EQ(readFile(dir_.file("made.reg")), expected_);
  fs::create_directory(dir_.file("dir"));
  fs::create_symlink("dir", dir_.file("dirlink.reg"));
  fails({"reg", "export", "-o", dir_.file("dirlink.reg")}, "Is a directory");
  fs::create_symlink("loop.reg", dir_.file("loop.reg"));
  fails({"reg", "export", "-o", dir_.file("loop.reg")}, "Too many levels of symbolic links");
  EXPECT_TRUE(fs::is_symlink(dir_.file("loop.reg")));
  expectNoTempFiles();
}

TEST_F(OutputTest, FifosSocketsAndOwnDescriptorsAreWrittenInPlace) {
  const std::string fifo = dir_.file("pipe.reg");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  auto read = std::async(std::launch::async, drainFifo, fifo);
  EXPECT_EQ(ok({"reg", "export", "-o", fifo}), "");
  EXPECT_EQ(read.get(), expected_);
  EXPECT_TRUE(fs::is_fifo(fifo));

  const std::string socketPath = dir_.file("sock");
  int listener = socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  ASSERT_LT(socketPath.size(), sizeof address.sun_path);
  socketPath.copy(address.sun_path, socketPath.size());
  ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr *>(&address), sizeof address), 0);
  ASSERT_EQ(listen(listener, 1), 0);
  auto received = std::async(std::launch::async, [listener] {
    int fd = accept(listener, nullptr, nullptr);
    std::string text;
    char buf[4096];
    for (ssize_t n; (n = ::read(fd, buf, sizeof buf)) > 0;)
      text.append(buf, static_cast<size_t>(n));
    close(fd);
    return text;
  });
  EXPECT_EQ(ok({"reg", "export", "-o", socketPath}), "");
  EXPECT_EQ(received.get(), expected_);
  close(listener);
  EXPECT_TRUE(fs::is_socket(socketPath));

  // The tests' standard output is a pipe; /dev/stdout and /dev/fd/1 reach it.
  EXPECT_EQ(ok({"reg", "export", "-o", "/dev/stdout"}), expected_);
  EXPECT_EQ(ok({"reg", "export", "-o", "/dev/fd/1"}), expected_);
  fails({"reg", "export", "-o", "/dev/fd/9"}, "Bad file descriptor");
  expectNoTempFiles();
}

TEST_F(OutputTest, DeviceNodesAreWrittenNeverReplaced) {
  if (geteuid() != 0)
    GTEST_SKIP() << "making device nodes needs root (CI runs as root)";
  const std::string full = dir_.file("full"), null = dir_.file("null");
  if (mknod(full.c_str(), S_IFCHR | 0666, makedev(1, 7)) != 0 ||
      mknod(null.c_str(), S_IFCHR | 0666, makedev(1, 3)) != 0)
    GTEST_SKIP() << "mknod refused (" << std::strerror(errno) << "): no device nodes here";
  fails({"reg", "export", "-o", full}, "cannot write " + full + ": No space left on device");
  EXPECT_TRUE(fs::is_character_file(full));
  EXPECT_EQ(ok({"reg", "export", "-o", null}), "");
  EXPECT_TRUE(fs::is_character_file(null));
  // Through a link, the device it names.
  fs::create_symlink("full", dir_.file("full.reg"));
  fails({"reg", "export", "-o", dir_.file("full.reg")}, "No space left on device");
  EXPECT_TRUE(fs::is_character_file(full));
  expectNoTempFiles();
}

} // namespace
} // namespace vlx::cli
