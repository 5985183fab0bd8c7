// CopyFileA: refusals, what a copy keeps, and that an injected failure loses nothing.
#include "support/files.h"
#include "support/temp_env.h"

#include <velmora/win32.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <fcntl.h>
#include <tuple>

using namespace vlx::test;
using vlx::posix::fileSyscalls;
using vlx::posix::systemFileSyscalls;
using Names = std::set<std::string>;

namespace {

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

// The mode is kept too: tests/files/backup_test's read-only copy shows it.
TEST_F(CopyFile, OverwritingKeepsTheSourcesTimeAndLeavesNoTemporaryFile) {
  const struct timespec times[2] = {{1000, 0}, {1234567890, 987654321}};
  ASSERT_EQ(utimensat(AT_FDCWD, source_.c_str(), times, 0), 0);
  SetLastError(ERROR_FILE_NOT_FOUND);
  ASSERT_TRUE(CopyFileA(source_.c_str(), target_.c_str(), FALSE));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SUCCESS)); // cleared, as on Windows
  EXPECT_EQ(readFile(target_), "new content");
  struct stat st;
  ASSERT_EQ(stat(target_.c_str(), &st), 0);
  EXPECT_EQ(st.st_mtim.tv_sec, 1234567890);
  EXPECT_EQ(st.st_mtim.tv_nsec, 987654321);
  EXPECT_EQ(entries(dir_.path()), (Names{"source.txt", "target.txt"}));
}

TEST_F(CopyFile, RefusalsSetTheWindowsErrorAndChangeNothing) {
  mkdir(dir_.file("sub").c_str(), 0755);
  mkfifo(dir_.file("fifo").c_str(), 0644);
  // from, to, fail if the target exists, the error
  const std::tuple<std::string, std::string, BOOL, DWORD> cases[] = {
      {source_, target_, TRUE, ERROR_FILE_EXISTS},
      // A read-only target is refused too: tests/files/backup_test and the vlx backup test show it.
      {dir_.file("missing.txt"), target_, FALSE, ERROR_FILE_NOT_FOUND},
      {dir_.file("nope/missing.txt"), target_, FALSE, ERROR_PATH_NOT_FOUND},
      // Not a regular file, and not opened for reading in a way that could hang.
      {dir_.file("fifo"), target_, FALSE, ERROR_ACCESS_DENIED},
      {source_, dir_.file("sub"), FALSE, ERROR_ACCESS_DENIED},
      {source_, source_, FALSE, ERROR_SHARING_VIOLATION},
  };
  for (const auto &[from, to, failIfExists, error] : cases) {
    SCOPED_TRACE(from + " -> " + to);
    EXPECT_FALSE(CopyFileA(from.c_str(), to.c_str(), failIfExists));
    EXPECT_EQ(GetLastError(), error);
  }
  EXPECT_EQ(readFile(target_), "old content");
  // Fail-if-exists refuses only an existing target.
  ASSERT_TRUE(CopyFileA(source_.c_str(), dir_.file("fresh.txt").c_str(), TRUE));
  EXPECT_EQ(readFile(dir_.file("fresh.txt")), "new content");
  EXPECT_EQ(entries(dir_.path()), (Names{"source.txt", "target.txt", "sub", "fifo", "fresh.txt"}));
}

// The copy goes through the read/write fallback, whose second write finds the disk full.
int writesLeft = 0;
ssize_t failingWrite(int fd, const void *data, size_t size) {
  if (writesLeft > 0 && --writesLeft == 0)
    return errno = ENOSPC, -1;
  return systemFileSyscalls().write(fd, data, size);
}

TEST_F(CopyFile, DiskFullKeepsTheOldTargetAndRemovesTheTemporaryFile) {
  // Three rounds of the 1 MiB buffer; the odd byte shows a chunk written twice.
  std::string big(2 * 1024 * 1024 + 123, 'x');
  big[12345] = 'z';
  writeFile(source_, big);
  fileSyscalls().copyFileRange = [](int, int, size_t) -> ssize_t { return errno = ENOSYS, -1; };
  fileSyscalls().write = failingWrite;
  writesLeft = 2;
  EXPECT_FALSE(CopyFileA(source_.c_str(), target_.c_str(), FALSE));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_DISK_FULL));
  EXPECT_EQ(writesLeft, 0) << "the fault was not reached";
  EXPECT_EQ(readFile(target_), "old content");
  EXPECT_EQ(entries(dir_.path()), (Names{"source.txt", "target.txt"}));
  // With room on the disk the fallback copies it all.
  ASSERT_TRUE(CopyFileA(source_.c_str(), target_.c_str(), FALSE));
  EXPECT_EQ(readFile(target_), big);
}

} // namespace
