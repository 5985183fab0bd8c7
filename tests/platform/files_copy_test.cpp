// CopyFileA: refusals, what a copy keeps, and that an injected failure loses nothing.
#include "support/files.h"
#include "support/temp_env.h"

#include <velmora/win32.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

using namespace vlx::test;
using vlx::posix::FileSyscalls;
using vlx::posix::fileSyscalls;
using vlx::posix::systemFileSyscalls;

namespace {

// The Nth call of the faulty kind fails with `faultErrno`; the others go through.
int countdown = 0;
int faultErrno = 0;
bool strike() {
  if (countdown > 0 && --countdown == 0) {
    errno = faultErrno;
    return true;
  }
  return false;
}

ssize_t noKernelCopy(int, int, size_t) {
  errno = ENOSYS;
  return -1;
}

enum class Call { Write, Read, KernelCopy, Mode, Close, Rename };

// Routes one kind of call through the fault; reads and writes happen only without the kernel copy.
void inject(Call call, int nth, int err) {
  FileSyscalls &s = fileSyscalls();
  s = systemFileSyscalls();
  countdown = nth;
  faultErrno = err;
  switch (call) {
  case Call::Write:
    s.copyFileRange = noKernelCopy;
    s.write = [](int fd, const void *b, size_t n) {
      return strike() ? -1 : systemFileSyscalls().write(fd, b, n);
    };
    break;
  case Call::Read:
    s.copyFileRange = noKernelCopy;
    s.read = [](int fd, void *b, size_t n) {
      return strike() ? -1 : systemFileSyscalls().read(fd, b, n);
    };
    break;
  case Call::KernelCopy:
    s.copyFileRange = [](int in, int out, size_t n) {
      return strike() ? -1 : systemFileSyscalls().copyFileRange(in, out, n);
    };
    break;
  case Call::Mode:
    s.fchmod = [](int fd, mode_t mode) {
      return strike() ? -1 : systemFileSyscalls().fchmod(fd, mode);
    };
    break;
  case Call::Close:
    s.close = [](int fd) { return systemFileSyscalls().close(fd) != 0 || strike() ? -1 : 0; };
    break;
  case Call::Rename:
    s.rename = [](const char *a, const char *b) {
      return strike() ? -1 : systemFileSyscalls().rename(a, b);
    };
    break;
  }
}

class CopyFile : public TempEnvTest {
protected:
  CopyFile() {
    writeFile(source_, "new content");
    writeFile(target_, "old content");
  }
  std::string source_ = dir_.file("source.txt");
  std::string target_ = dir_.file("target.txt");
  SyscallGuard guard_;
};

TEST_F(CopyFile, FailIfExistsRefusesAnExistingTarget) {
  EXPECT_FALSE(CopyFileA(source_.c_str(), target_.c_str(), TRUE));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_EXISTS));
  EXPECT_EQ(readFile(target_), "old content");

  std::string fresh = dir_.file("fresh.txt");
  ASSERT_TRUE(CopyFileA(source_.c_str(), fresh.c_str(), TRUE));
  EXPECT_EQ(readFile(fresh), "new content");
  EXPECT_EQ(entries(dir_.path()), (std::set<std::string>{"source.txt", "target.txt", "fresh.txt"}));
}

TEST_F(CopyFile, OverwritingKeepsTheSourcesTimeAndModeAndLeavesNoTemporaryFile) {
  ASSERT_EQ(chmod(source_.c_str(), 0640), 0);
  const struct timespec times[2] = {{1000, 0}, {1234567890, 987654321}};
  ASSERT_EQ(utimensat(AT_FDCWD, source_.c_str(), times, 0), 0);
  ASSERT_TRUE(CopyFileA(source_.c_str(), target_.c_str(), FALSE));
  EXPECT_EQ(readFile(target_), "new content");
  struct stat st;
  ASSERT_EQ(stat(target_.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
  EXPECT_EQ(st.st_mtim.tv_sec, 1234567890);
  EXPECT_EQ(st.st_mtim.tv_nsec, 987654321);
  EXPECT_EQ(entries(dir_.path()), (std::set<std::string>{"source.txt", "target.txt"}));
}

TEST_F(CopyFile, BackslashPathsAndDrivesAreMapped) {
  ScopedEnv drive("VELMORA_DRIVE_D", dir_.path().c_str());
  ASSERT_TRUE(CopyFileA("D:\\source.txt", "d:\\copy.txt", FALSE));
  EXPECT_EQ(readFile(dir_.file("copy.txt")), "new content");
}

TEST_F(CopyFile, RefusalsSetTheWindowsError) {
  mkdir(dir_.file("sub").c_str(), 0755);
  mkfifo(dir_.file("fifo").c_str(), 0644);
  writeFile(dir_.file("readonly.txt"), "keep");
  chmod(dir_.file("readonly.txt").c_str(), 0444);
  struct Case {
    std::string from;
    std::string to;
    DWORD error;
  } cases[] = {
      // Read-only means no owner write bit, also for root.
      {source_, dir_.file("readonly.txt"), ERROR_ACCESS_DENIED},
      {dir_.file("missing.txt"), target_, ERROR_FILE_NOT_FOUND},
      {dir_.file("nope/missing.txt"), target_, ERROR_PATH_NOT_FOUND},
      {source_, dir_.file("nope/copy.txt"), ERROR_PATH_NOT_FOUND},
      {dir_.file("sub"), target_, ERROR_ACCESS_DENIED},
      // Not opened for reading in a way that could hang.
      {dir_.file("fifo"), target_, ERROR_ACCESS_DENIED},
      {source_, dir_.file("sub"), ERROR_ACCESS_DENIED},
      {source_, source_, ERROR_SHARING_VIOLATION},
      {source_, dir_.file("*.txt"), ERROR_INVALID_NAME},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.from + " -> " + c.to);
    EXPECT_FALSE(CopyFileA(c.from.c_str(), c.to.c_str(), FALSE));
    EXPECT_EQ(GetLastError(), c.error);
  }
  EXPECT_EQ(readFile(dir_.file("readonly.txt")), "keep");
  EXPECT_EQ(readFile(target_), "old content");
  EXPECT_EQ(entries(dir_.path()),
            (std::set<std::string>{"source.txt", "target.txt", "readonly.txt", "sub", "fifo"}));
}

TEST_F(CopyFile, InjectedFailuresKeepTheOldTargetAndRemoveTheTemporaryFile) {
  // Three read/write rounds of the 1 MiB fallback buffer.
  std::string big(2 * 1024 * 1024 + 123, 'x');
  writeFile(source_, big);
  struct Case {
    const char *what;
    Call call;
    int nth;
    int err;
    DWORD error;
  } cases[] = {
      {"2nd write, disk full", Call::Write, 2, ENOSPC, ERROR_DISK_FULL},
      {"1st write, denied", Call::Write, 1, EACCES, ERROR_ACCESS_DENIED},
      {"2nd write, I/O error", Call::Write, 2, EIO, ERROR_WRITE_FAULT},
      {"2nd read, I/O error", Call::Read, 2, EIO, ERROR_READ_FAULT},
      {"kernel copy, quota", Call::KernelCopy, 1, EDQUOT, ERROR_DISK_FULL},
      {"mode", Call::Mode, 1, EIO, ERROR_WRITE_FAULT},
      {"close", Call::Close, 1, ENOSPC, ERROR_DISK_FULL},
      {"rename", Call::Rename, 1, EACCES, ERROR_ACCESS_DENIED},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.what);
    inject(c.call, c.nth, c.err);
    EXPECT_FALSE(CopyFileA(source_.c_str(), target_.c_str(), FALSE));
    EXPECT_EQ(GetLastError(), c.error);
    EXPECT_EQ(countdown, 0) << "the fault was not reached";
    fileSyscalls() = systemFileSyscalls();
    EXPECT_EQ(readFile(target_), "old content");
    EXPECT_EQ(entries(dir_.path()), (std::set<std::string>{"source.txt", "target.txt"}));
  }
}

TEST_F(CopyFile, WithoutAKernelCopyTheDataIsReadAndWritten) {
  std::string big(3 * 1024 * 1024 + 1, 'y');
  big[12345] = 'z';
  struct Case {
    const char *what;
    std::string content;
    ssize_t (*copyFileRange)(int, int, size_t);
  } cases[] = {{"not supported", big, noKernelCopy},
               {"copies nothing", big, [](int, int, size_t) -> ssize_t { return 0; }},
               {"empty file", "", noKernelCopy}};
  for (const auto &c : cases) {
    SCOPED_TRACE(c.what);
    writeFile(source_, c.content);
    fileSyscalls().copyFileRange = c.copyFileRange;
    ASSERT_TRUE(CopyFileA(source_.c_str(), target_.c_str(), FALSE));
    EXPECT_EQ(readFile(target_), c.content);
  }
}

TEST_F(CopyFile, ExclusivePlacementFallsBackToALinkAndNeverReplaces) {
  std::string fresh = dir_.file("fresh.txt");
  // A file system without the exclusive rename.
  fileSyscalls().renameNoReplace = [](const char *, const char *) {
    errno = EINVAL;
    return -1;
  };
  ASSERT_TRUE(CopyFileA(source_.c_str(), fresh.c_str(), TRUE));
  EXPECT_EQ(readFile(fresh), "new content");
  EXPECT_EQ(entries(dir_.path()), (std::set<std::string>{"source.txt", "target.txt", "fresh.txt"}));

  // The target appears between the check and the placement: it is kept.
  fileSyscalls() = systemFileSyscalls();
  fileSyscalls().renameNoReplace = [](const char *from, const char *to) {
    writeFile(to, "raced");
    return systemFileSyscalls().renameNoReplace(from, to);
  };
  std::string raced = dir_.file("raced.txt");
  EXPECT_FALSE(CopyFileA(source_.c_str(), raced.c_str(), TRUE));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_EXISTS));
  EXPECT_EQ(readFile(raced), "raced");
  EXPECT_EQ(entries(dir_.path()),
            (std::set<std::string>{"source.txt", "target.txt", "fresh.txt", "raced.txt"}));
}

} // namespace
