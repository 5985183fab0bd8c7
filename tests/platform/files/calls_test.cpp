// The file calls on names and handles: attributes, deletion and path search, and what a ported
// host reaches for: moves, the safe replacement, copies with progress, folders, times, handle
// information, locks, temporary and full paths, and the W forms.
#include "support/file_call_cases.h"
#include "support/files.h"
#include "support/temp_env.h"

#include <velmora/win32.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <thread>
#include <tuple>
#include <unistd.h>
#include <vector>

using namespace vlx::test;

// The values Windows' headers give them (checked there by tests/windows/abi_sizes.cpp).
static_assert(FILE_GENERIC_READ == 0x120089 && FILE_GENERIC_WRITE == 0x120116 &&
                  FILE_GENERIC_EXECUTE == 0x1200A0 && FILE_ALL_ACCESS == 0x1F01FF,
              "file rights");

namespace {

class FileCalls : public TempEnvTest {
protected:
  FileCalls() {
    writeFile(dir_.file("doc.txt"), "old");
    writeFile(dir_.file("other.txt"), "other");
    mkdir(dir_.file("sub").c_str(), 0755);
  }
  std::string win(const std::string &name) const { return winPath(dir_.file(name)); }
  HANDLE open(const std::string &name, DWORD flags = 0) const {
    return CreateFileA(win(name).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                       flags, nullptr);
  }
};

TEST_F(FileCalls, MoveFileExRenamesAndReplacesOnlyWhenAsked) {
  chmod(dir_.file("other.txt").c_str(), 0444);
  writeFile(dir_.file("free.txt"), "free");
  // from, to, flags, the error (ERROR_SUCCESS: moved)
  const std::tuple<const char *, const char *, DWORD, DWORD> cases[] = {
      {"doc.txt", "other.txt", 0, ERROR_ALREADY_EXISTS},
      {"doc.txt", "other.txt", MOVEFILE_REPLACE_EXISTING, ERROR_ACCESS_DENIED},
      {"doc.txt", "sub", MOVEFILE_REPLACE_EXISTING, ERROR_ACCESS_DENIED},
      {"missing", "new.txt", 0, ERROR_FILE_NOT_FOUND},
      {"doc.txt", "nul", 0, ERROR_ACCESS_DENIED},
      {"doc.txt", "moved.txt", MOVEFILE_WRITE_THROUGH, ERROR_SUCCESS},
      {"free.txt", "moved.txt", MOVEFILE_REPLACE_EXISTING, ERROR_SUCCESS},
      {"sub", "folder", 0, ERROR_SUCCESS},
  };
  for (const auto &[from, to, flags, error] : cases) {
    SCOPED_TRACE(std::string(from) + " -> " + to);
    EXPECT_EQ(MoveFileExA(win(from).c_str(), win(to).c_str(), flags), error == ERROR_SUCCESS);
    if (error != ERROR_SUCCESS) {
      EXPECT_EQ(GetLastError(), error);
    }
  }
  EXPECT_EQ(entries(dir_.path()), (std::set<std::string>{"folder", "moved.txt", "other.txt"}));
  EXPECT_EQ(readFile(dir_.file("moved.txt")), "free");
}

TEST_F(FileCalls, TheSharedCallCasesAnswerAsWindowsDoes) {
  int index = 0;
  for (const CallCase &row : callCases()) {
    SCOPED_TRACE(row.what);
    const std::string dir = "case" + std::to_string(index++);
    ASSERT_TRUE(CreateDirectoryA(win(dir).c_str(), nullptr));
    EXPECT_EQ(row.run(win(dir), row.arg), row.expected);
  }
}

// Only the source's rename fails as across file systems.
std::string crossDeviceSource;
int renameAcross(const char *from, const char *to) {
  if (from == crossDeviceSource) {
    errno = EXDEV;
    return -1;
  }
  return vlx::posix::systemFileSyscalls().rename(from, to);
}

TEST_F(FileCalls, MoveFileCopiesAcrossFileSystemsOnlyWhenAllowed) {
  SyscallGuard guard;
  crossDeviceSource = dir_.file("doc.txt");
  vlx::posix::fileSyscalls().rename = renameAcross;
  vlx::posix::fileSyscalls().renameNoReplace = renameAcross;
  EXPECT_FALSE(MoveFileExA(win("doc.txt").c_str(), win("new.txt").c_str(), 0));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_SAME_DEVICE));
  EXPECT_TRUE(MoveFileA(win("doc.txt").c_str(), win("new.txt").c_str()));
  EXPECT_EQ(readFile(dir_.file("new.txt")), "old");
  EXPECT_FALSE(exists(dir_.file("doc.txt")));
}

TEST_F(FileCalls, ReplaceFileSwapsInTheNewDocumentAndKeepsTheOldAsBackup) {
  chmod(dir_.file("doc.txt").c_str(), 0640);
  writeFile(dir_.file("doc.tmp"), "new");
  chmod(dir_.file("doc.tmp").c_str(), 0600);
  writeFile(dir_.file("doc.bak"), "older");
  ASSERT_TRUE(ReplaceFileA(win("doc.txt").c_str(), win("doc.tmp").c_str(), win("doc.bak").c_str(),
                           REPLACEFILE_WRITE_THROUGH, nullptr, nullptr));
  EXPECT_EQ(readFile(dir_.file("doc.txt")), "new");
  EXPECT_EQ(readFile(dir_.file("doc.bak")), "old");
  EXPECT_FALSE(exists(dir_.file("doc.tmp")));
  struct stat st;
  ASSERT_EQ(stat(dir_.file("doc.txt").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);

  // Refusals leave both files as they were.
  writeFile(dir_.file("doc.tmp"), "newer");
  chmod(dir_.file("other.txt").c_str(), 0444);
  const std::tuple<const char *, const char *, DWORD> refusals[] = {
      {"doc.txt", "missing.tmp", ERROR_FILE_NOT_FOUND},
      {"missing.txt", "doc.tmp", ERROR_FILE_NOT_FOUND},
      {"other.txt", "doc.tmp", ERROR_ACCESS_DENIED},
  };
  for (const auto &[replaced, replacement, error] : refusals) {
    SCOPED_TRACE(replaced);
    EXPECT_FALSE(ReplaceFileA(win(replaced).c_str(), win(replacement).c_str(), nullptr, 0, nullptr,
                              nullptr));
    EXPECT_EQ(GetLastError(), error);
  }
  EXPECT_EQ(readFile(dir_.file("doc.txt")), "new");
  EXPECT_EQ(readFile(dir_.file("doc.tmp")), "newer");
  EXPECT_TRUE(
      ReplaceFileA(win("doc.txt").c_str(), win("doc.tmp").c_str(), nullptr, 0, nullptr, nullptr));
  EXPECT_EQ(readFile(dir_.file("doc.txt")), "newer");
}

// What fsync was called on, by the path each descriptor names.
std::vector<std::string> synced;

int recordSync(int fd) {
  char link[64], target[PATH_MAX];
  std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
  ssize_t n = readlink(link, target, sizeof target);
  synced.emplace_back(target, n > 0 ? static_cast<size_t>(n) : 0);
  return vlx::posix::systemFileSyscalls().fsync(fd);
}

TEST_F(FileCalls, WriteThroughMakesTheMovedNamesDurable) {
  SyscallGuard guard;
  vlx::posix::fileSyscalls().fsync = recordSync;
  char real[PATH_MAX];
  ASSERT_NE(realpath(dir_.path().c_str(), real), nullptr);
  const std::string top = real, sub = top + "/sub";
  writeFile(dir_.file("doc.tmp"), "new");
  // call, the paths synced (in any order)
  const std::tuple<std::function<BOOL()>, std::vector<std::string>> cases[] = {
      {[&] { return MoveFileExA(win("doc.txt").c_str(), win("sub\\doc.txt").c_str(), 0); }, {}},
      {[&] {
         return MoveFileExA(win("sub\\doc.txt").c_str(), win("doc.txt").c_str(),
                            MOVEFILE_WRITE_THROUGH);
       },
       {top, sub}},
      {[&] {
         return ReplaceFileA(win("doc.txt").c_str(), win("doc.tmp").c_str(), nullptr,
                             REPLACEFILE_WRITE_THROUGH, nullptr, nullptr);
       },
       {top + "/doc.tmp", top}},
      {[&] {
         writeFile(dir_.file("doc.tmp"), "newer");
         synced.clear();
         return ReplaceFileA(win("doc.txt").c_str(), win("doc.tmp").c_str(), nullptr, 0, nullptr,
                             nullptr);
       },
       {}},
  };
  for (const auto &[call, expected] : cases) {
    synced.clear();
    ASSERT_TRUE(call()) << GetLastError();
    std::vector<std::string> got = synced, want = expected;
    std::sort(got.begin(), got.end());
    std::sort(want.begin(), want.end());
    EXPECT_EQ(got, want);
  }
  EXPECT_EQ(readFile(dir_.file("doc.txt")), "newer");
}

struct ProgressLog {
  int calls = 0;
  DWORD firstReason = 99;
  LONGLONG total = 0;
  LONGLONG last = 0;
  DWORD answer = PROGRESS_CONTINUE;
  int answerAt = 0; // the call that gets `answer`; the others continue
};

DWORD WINAPI logProgress(LARGE_INTEGER total, LARGE_INTEGER done, LARGE_INTEGER, LARGE_INTEGER,
                         DWORD, DWORD reason, HANDLE, HANDLE, LPVOID data) {
  auto &log = *static_cast<ProgressLog *>(data);
  if (log.calls++ == 0)
    log.firstReason = reason;
  log.total = total.QuadPart;
  log.last = done.QuadPart;
  return log.calls == log.answerAt ? log.answer : PROGRESS_CONTINUE;
}

TEST_F(FileCalls, CopyFileExReportsEachChunkAndStopsOrCancelsAsWindowsDoes) {
  const std::string big(3 << 20, 'x');
  writeFile(dir_.file("big.bin"), big);
  ProgressLog log;
  ASSERT_TRUE(
      CopyFileExA(win("big.bin").c_str(), win("copy.bin").c_str(), logProgress, &log, nullptr, 0));
  EXPECT_EQ(log.firstReason, static_cast<DWORD>(CALLBACK_STREAM_SWITCH));
  EXPECT_GE(log.calls, 3);
  EXPECT_EQ(log.total, static_cast<LONGLONG>(big.size()));
  EXPECT_EQ(log.last, log.total);
  EXPECT_EQ(readFile(dir_.file("copy.bin")), big);

  // The answer of the second report, and what becomes of a target that held "old": cancelled,
  // it is deleted; stopped, it holds the first chunk, whole.
  const std::tuple<DWORD, bool, std::string> answers[] = {
      {PROGRESS_CANCEL, false, ""},
      {PROGRESS_STOP, false, big.substr(0, 1 << 20)},
      {PROGRESS_QUIET, true, big}};
  for (const auto &[answer, copied, content] : answers) {
    SCOPED_TRACE(answer);
    ProgressLog stop;
    stop.answer = answer;
    stop.answerAt = 2;
    EXPECT_EQ(
        CopyFileExA(win("big.bin").c_str(), win("doc.txt").c_str(), logProgress, &stop, nullptr, 0),
        copied);
    EXPECT_EQ(stop.calls, 2);
    EXPECT_EQ(exists(dir_.file("doc.txt")), answer != PROGRESS_CANCEL);
    if (answer != PROGRESS_CANCEL) {
      EXPECT_EQ(readFile(dir_.file("doc.txt")), content);
    }
    if (!copied) {
      EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_REQUEST_ABORTED));
    }
    writeFile(dir_.file("doc.txt"), "old");
  }
  BOOL cancel = TRUE;
  EXPECT_FALSE(
      CopyFileExA(win("big.bin").c_str(), win("doc.txt").c_str(), nullptr, nullptr, &cancel, 0));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_REQUEST_ABORTED));
  EXPECT_EQ(readFile(dir_.file("doc.txt")), "old");
  EXPECT_FALSE(CopyFileExA(win("big.bin").c_str(), win("doc.txt").c_str(), nullptr, nullptr,
                           nullptr, COPY_FILE_FAIL_IF_EXISTS));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_EXISTS));
  // No half copy is left behind.
  EXPECT_EQ(entries(dir_.path()),
            (std::set<std::string>{"big.bin", "copy.bin", "doc.txt", "other.txt", "sub"}));
}

TEST_F(FileCalls, AttributesAreSetAndReadByName) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  ASSERT_TRUE(GetFileAttributesExA(win("doc.txt").c_str(), GetFileExInfoStandard, &data));
  EXPECT_EQ(data.dwFileAttributes, static_cast<DWORD>(FILE_ATTRIBUTE_NORMAL));
  EXPECT_EQ(data.nFileSizeLow, 3u);
  EXPECT_TRUE(SetFileAttributesA(win("doc.txt").c_str(), FILE_ATTRIBUTE_READONLY));
  EXPECT_EQ(GetFileAttributesA(win("doc.txt").c_str()),
            static_cast<DWORD>(FILE_ATTRIBUTE_READONLY));
  EXPECT_FALSE(DeleteFileA(win("doc.txt").c_str()));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_TRUE(SetFileAttributesA(win("doc.txt").c_str(), FILE_ATTRIBUTE_NORMAL));
  EXPECT_TRUE(DeleteFileA(win("doc.txt").c_str()));
  EXPECT_FALSE(GetFileAttributesExA(win("doc.txt").c_str(), GetFileExInfoStandard, &data));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

TEST_F(FileCalls, AttributesAndDeletionOfEachKindOfPath) {
  const DWORD invalid = INVALID_FILE_ATTRIBUTES;
  // name, its attributes, the error of both calls
  const std::tuple<const char *, DWORD, DWORD> cases[] = {
      {"sub\\", FILE_ATTRIBUTE_DIRECTORY, ERROR_ACCESS_DENIED},
      {"missing", invalid, ERROR_FILE_NOT_FOUND},
      {"nope\\missing", invalid, ERROR_PATH_NOT_FOUND},
      // A read-only file is the attribute test's; a file as a directory FindFirstFileA's.
      // Last, as it is deleted.
      {"doc.txt", FILE_ATTRIBUTE_NORMAL, ERROR_SUCCESS},
  };
  for (const auto &[name, attributes, error] : cases) {
    SCOPED_TRACE(name);
    SetLastError(0);
    EXPECT_EQ(GetFileAttributesA(win(name).c_str()), attributes);
    EXPECT_EQ(GetLastError(), attributes == invalid ? error : ERROR_SUCCESS);
    EXPECT_EQ(DeleteFileA(win(name).c_str()), error == ERROR_SUCCESS);
    if (error != ERROR_SUCCESS) {
      EXPECT_EQ(GetLastError(), error);
    }
  }
  // A link goes even when its target is read-only.
  chmod(dir_.file("other.txt").c_str(), 0444);
  ASSERT_EQ(symlink("other.txt", dir_.file("link").c_str()), 0);
  EXPECT_TRUE(DeleteFileA(win("link").c_str()));
  EXPECT_EQ(entries(dir_.path()), (std::set<std::string>{"other.txt", "sub"}));
}

TEST_F(FileCalls, SearchPathLooksInEachListedDirectory) {
  writeFile(dir_.file("sub/part.dat"), "p");
  ScopedEnv drive("VELMORA_DRIVE_C", dir_.path().c_str());
  // list, name, extension, what is found (empty: nothing)
  const std::tuple<std::string, const char *, const char *, std::string> cases[] = {
      {"C:\\nope;C:\\sub", "part.dat", nullptr, "C:\\sub\\part.dat"},
      // Directories count as well.
      {"C:", "sub", nullptr, "C:\\sub"},
      // The extension goes only on a name without one.
      {dir_.path(), "doc", ".txt", dir_.path() + "/doc.txt"},
      {dir_.file("sub"), "doc.txt", nullptr, ""},
  };
  for (const auto &[list, name, extension, found] : cases) {
    SCOPED_TRACE(list + " : " + name);
    char buffer[MAX_PATH] = "";
    char *part = nullptr;
    EXPECT_EQ(SearchPathA(list.c_str(), name, extension, MAX_PATH, buffer, &part), found.size());
    EXPECT_EQ(std::string(buffer), found);
    if (!found.empty())
      EXPECT_STREQ(part, found.substr(found.find_last_of("\\/") + 1).c_str());
    else
      EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  }
}

TEST_F(FileCalls, FoldersAreMadeAndRemovedWithWindowsErrors) {
  // call (true: create), name, the error
  const std::tuple<bool, const char *, DWORD> cases[] = {
      {true, "new", ERROR_SUCCESS},
      {true, "new", ERROR_ALREADY_EXISTS},
      {true, "no\\new", ERROR_PATH_NOT_FOUND},
      {false, "sub", ERROR_SUCCESS},
      {false, "missing", ERROR_FILE_NOT_FOUND},
      {false, "doc.txt", ERROR_DIRECTORY},
  };
  writeFile(dir_.file("full"), "");
  for (const auto &[create, name, error] : cases) {
    SCOPED_TRACE(name);
    const std::string path = win(name);
    EXPECT_EQ(create ? CreateDirectoryA(path.c_str(), nullptr) : RemoveDirectoryA(path.c_str()),
              error == ERROR_SUCCESS);
    if (error != ERROR_SUCCESS) {
      EXPECT_EQ(GetLastError(), error);
    }
  }
  writeFile(dir_.file("new/file"), "");
  EXPECT_FALSE(RemoveDirectoryA(win("new").c_str()));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_DIR_NOT_EMPTY));
  EXPECT_TRUE(isDirectory(dir_.file("new")));
  EXPECT_FALSE(exists(dir_.file("sub")));
}

TEST_F(FileCalls, HandlesTellTimesTypesAndIdentity) {
  HANDLE file = open("doc.txt");
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  // 2001-09-09 01:46:40 UTC and a tenth of a second, in 100 ns steps since 1601.
  const uint64_t ticks = (1000000000ull + 11644473600ull) * 10000000ull + 1000000ull;
  const FILETIME written = {static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
  FILETIME accessed;
  ASSERT_TRUE(GetFileTime(file, nullptr, &accessed, nullptr));
  EXPECT_TRUE(SetFileTime(file, nullptr, nullptr, &written));
  FILETIME created, accessedAfter, writtenAfter;
  ASSERT_TRUE(GetFileTime(file, &created, &accessedAfter, &writtenAfter));
  EXPECT_EQ(CompareFileTime(&writtenAfter, &written), 0);
  EXPECT_EQ(CompareFileTime(&accessedAfter, &accessed), 0);
  EXPECT_EQ(CompareFileTime(&written, &accessed), -1);
  EXPECT_EQ(CompareFileTime(&accessed, &written), 1);
  EXPECT_EQ(GetFileType(file), static_cast<DWORD>(FILE_TYPE_DISK));

  ASSERT_EQ(link(dir_.file("doc.txt").c_str(), dir_.file("alias.txt").c_str()), 0);
  HANDLE alias = open("alias.txt");
  BY_HANDLE_FILE_INFORMATION a, b;
  ASSERT_TRUE(GetFileInformationByHandle(file, &a));
  ASSERT_TRUE(GetFileInformationByHandle(alias, &b));
  EXPECT_EQ(a.nNumberOfLinks, 2u);
  EXPECT_EQ(a.nFileSizeLow, 3u);
  EXPECT_EQ(std::tie(a.dwVolumeSerialNumber, a.nFileIndexHigh, a.nFileIndexLow),
            std::tie(b.dwVolumeSerialNumber, b.nFileIndexHigh, b.nFileIndexLow));
  CloseHandle(alias);
  CloseHandle(file);

  HANDLE folder = open("sub", FILE_FLAG_BACKUP_SEMANTICS);
  ASSERT_TRUE(GetFileInformationByHandle(folder, &a));
  EXPECT_EQ(a.dwFileAttributes, static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY));
  CloseHandle(folder);
  HANDLE nul = CreateFileA("nul", GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  EXPECT_EQ(GetFileType(nul), static_cast<DWORD>(FILE_TYPE_CHAR));
  CloseHandle(nul);
}

TEST_F(FileCalls, SpecificRightsReadWriteAndAppend) {
  for (const RightsCase &row : rightsCases()) {
    SCOPED_TRACE(row.what);
    writeFile(dir_.file("rights.txt"), "0123456789");
    HANDLE h =
        CreateFileA(win("rights.txt").c_str(), row.access, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    char buf[4];
    DWORD done = 0;
    EXPECT_EQ(ReadFile(h, buf, sizeof buf, &done, nullptr), row.reads ? TRUE : FALSE);
    SetFilePointer(h, 0, nullptr, FILE_BEGIN);
    EXPECT_EQ(WriteFile(h, "ab", 2, &done, nullptr), row.writes ? TRUE : FALSE);
    // A copy has the rights asked for, none the source lacks.
    HANDLE copy = nullptr;
    EXPECT_EQ(DuplicateHandle(GetCurrentProcess(), h, GetCurrentProcess(), &copy, FILE_READ_DATA,
                              FALSE, 0),
              row.reads ? TRUE : FALSE);
    if (row.reads) {
      EXPECT_FALSE(WriteFile(copy, "c", 1, &done, nullptr));
      CloseHandle(copy);
    }
    CloseHandle(h);
    EXPECT_EQ(readFile(dir_.file("rights.txt")), row.content);
  }
}

// A system that writes 3 bytes a call, and with room for `room` bytes in all (-1: no limit).
long long room = -1;
ssize_t shortWrite(int fd, const void *data, size_t size) {
  if (room == 0)
    return errno = ENOSPC, -1;
  size_t n = std::min<size_t>(size, 3);
  if (room > 0)
    n = std::min<size_t>(n, static_cast<size_t>(room));
  const ssize_t written = vlx::posix::systemFileSyscalls().write(fd, data, n);
  if (room > 0 && written > 0)
    room -= written;
  return written;
}

// WriteFile writes all it is given however little each system call takes, and a disk that fills
// on the way fails the call with the disk-full error and the count of what landed.
TEST_F(FileCalls, WriteFileWritesAllThroughShortWritesAndReportsAFullDisk) {
  SyscallGuard guard;
  vlx::posix::fileSyscalls().write = shortWrite;
  // room, expected result, error, bytes reported, the file after
  const std::vector<std::tuple<long long, BOOL, DWORD, DWORD, std::string>> cases = {
      {-1, TRUE, ERROR_SUCCESS, 10u, "0123456789"},
      {7, FALSE, ERROR_DISK_FULL, 7u, "0123456"},
      {0, FALSE, ERROR_DISK_FULL, 0u, ""},
  };
  for (const auto &[space, result, error, count, content] : cases) {
    SCOPED_TRACE(space);
    room = space;
    HANDLE h =
        CreateFileA(win("short.txt").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    DWORD done = 99;
    SetLastError(ERROR_SUCCESS);
    EXPECT_EQ(WriteFile(h, "0123456789", 10, &done, nullptr), result);
    EXPECT_EQ(GetLastError(), error);
    EXPECT_EQ(done, count);
    CloseHandle(h);
    EXPECT_EQ(readFile(dir_.file("short.txt")), content);
  }
}

TEST_F(FileCalls, LockFileExSharesReadersAndMakesWaitersWait) {
  HANDLE first = open("doc.txt");
  HANDLE second = open("doc.txt");
  OVERLAPPED at = {};
  at.Offset = 10;
  const DWORD now = LOCKFILE_FAIL_IMMEDIATELY;
  const DWORD exclusive = LOCKFILE_EXCLUSIVE_LOCK;
  EXPECT_TRUE(LockFileEx(first, now, 0, 5, 0, &at));
  EXPECT_TRUE(LockFileEx(second, now, 0, 5, 0, &at));
  EXPECT_FALSE(LockFileEx(second, now | exclusive, 0, 1, 0, &at));
  EXPECT_TRUE(UnlockFileEx(second, 0, 5, 0, &at));
  EXPECT_TRUE(UnlockFileEx(first, 0, 5, 0, &at));
  EXPECT_FALSE(UnlockFileEx(first, 0, 5, 0, &at));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_LOCKED));

  ASSERT_TRUE(LockFileEx(first, now | exclusive, 0, 5, 0, &at));
  EXPECT_FALSE(LockFileEx(second, now, 0, 5, 0, &at));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_LOCK_VIOLATION));
  std::atomic<bool> taken{false};
  std::thread waiter([&] {
    OVERLAPPED mine = at;
    taken = LockFileEx(second, exclusive, 0, 5, 0, &mine) != FALSE;
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_FALSE(taken);
  EXPECT_TRUE(UnlockFileEx(first, 0, 5, 0, &at));
  waiter.join();
  EXPECT_TRUE(taken);

  // A range may end at 2^64, not past it: the wrapping one is refused and holds nothing.
  EXPECT_TRUE(LockFile(first, 0, 0x10000000, 0, 0xf0000000));
  EXPECT_TRUE(UnlockFile(first, 0, 0x10000000, 0, 0xf0000000));
  EXPECT_FALSE(LockFile(first, 0, 0x10000000, 0, 0xf0000001));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_LOCK_RANGE));
  EXPECT_TRUE(LockFile(first, ~0u, ~0u, 1, 0));
  EXPECT_TRUE(UnlockFile(first, ~0u, ~0u, 1, 0));
  CloseHandle(second);
  CloseHandle(first);
}

TEST_F(FileCalls, CurrentTemporaryAndFullPaths) {
  char saved[PATH_MAX];
  ASSERT_NE(getcwd(saved, sizeof saved), nullptr);
  ASSERT_TRUE(SetCurrentDirectoryA(win("sub").c_str()));
  char buffer[MAX_PATH];
  char real[PATH_MAX];
  ASSERT_NE(realpath(dir_.file("sub").c_str(), real), nullptr);
  EXPECT_EQ(GetCurrentDirectoryA(MAX_PATH, buffer), std::string(real).size());
  EXPECT_STREQ(buffer, real);
  EXPECT_EQ(GetCurrentDirectoryA(3, buffer), std::string(real).size() + 1);
  EXPECT_FALSE(SetCurrentDirectoryA(win("doc.txt").c_str()));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_DIRECTORY));

  // name, full path, name part
  ScopedEnv drive("VELMORA_DRIVE_C", dir_.path().c_str());
  const std::tuple<const char *, std::string, const char *> cases[] = {
      {"C:\\a\\..\\b.txt. ", "C:\\b.txt", "b.txt"},
      {"c:x\\.\\y\\", "c:\\x\\y\\", nullptr},
      {"\\x\\..\\..\\y", "\\y", "y"},
      {"..\\f.txt", dir_.path() + "/f.txt", "f.txt"},
      {"nul.txt", "\\\\.\\nul", "nul"},
  };
  for (const auto &[name, full, part] : cases) {
    SCOPED_TRACE(name);
    char *filePart = buffer;
    EXPECT_EQ(GetFullPathNameA(name, MAX_PATH, buffer, &filePart), full.size());
    EXPECT_EQ(buffer, full);
    EXPECT_STREQ(filePart, part);
  }
  EXPECT_EQ(GetFullPathNameA("C:\\abc", 4, buffer, nullptr), 7u);
  ASSERT_TRUE(SetCurrentDirectoryA(saved));

  ScopedEnv temp("TEMP", dir_.path().c_str());
  EXPECT_EQ(GetTempPathA(MAX_PATH, buffer), dir_.path().size() + 1);
  EXPECT_EQ(buffer, dir_.path() + "/");
  const UINT unique = GetTempFileNameA(win("sub").c_str(), "vlxtest", 0, buffer);
  ASSERT_NE(unique, 0u);
  EXPECT_EQ(entries(dir_.file("sub")).size(), 1u);
  EXPECT_EQ(GetFileAttributesA(buffer), static_cast<DWORD>(FILE_ATTRIBUTE_NORMAL));
  EXPECT_EQ(GetTempFileNameA("C:\\", "ab", 0x1A2B, buffer), 0x1A2Bu);
  EXPECT_STREQ(buffer, "C:\\ab1A2B.TMP");
  EXPECT_FALSE(exists(dir_.file("ab1A2B.TMP")));
}

TEST_F(FileCalls, TheWFormsTakeAndGiveUtf16) {
  const std::u16string dir = u"" + std::u16string(dir_.path().begin(), dir_.path().end());
  const std::u16string name = dir + u"/\u00e9t\u00e9.txt";
  HANDLE file = CreateFileW(reinterpret_cast<LPCWSTR>(name.c_str()), GENERIC_WRITE, 0, nullptr,
                            CREATE_NEW, 0, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  CloseHandle(file);
  EXPECT_TRUE(exists(dir_.file("\xc3\xa9t\xc3\xa9.txt")));
  WIN32_FIND_DATAW data;
  const std::u16string pattern = dir + u"/\u00c9T*";
  HANDLE search = FindFirstFileW(pattern.c_str(), &data);
  ASSERT_NE(search, INVALID_HANDLE_VALUE);
  EXPECT_EQ(std::u16string(data.cFileName), u"\u00e9t\u00e9.txt");
  FindClose(search);
  const std::u16string moved = dir + u"/\u4e2d.txt";
  EXPECT_TRUE(MoveFileW(name.c_str(), moved.c_str()));
  EXPECT_TRUE(exists(dir_.file("\xe4\xb8\xad.txt")));
  const char16_t lone[] = {u'a', 0xD800, u'\0'};
  EXPECT_EQ(GetFileAttributesW(lone), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_UNICODE_TRANSLATION));
  WCHAR current[MAX_PATH];
  char narrow[MAX_PATH];
  EXPECT_EQ(GetCurrentDirectoryW(MAX_PATH, current), GetCurrentDirectoryA(MAX_PATH, narrow));
  // Text the system gives back arrives whole, however many units it takes.
  WCHAR found[MAX_PATH];
  WCHAR *part = nullptr;
  const std::u16string list = dir;
  EXPECT_EQ(SearchPathW(list.c_str(), u"\u4e2d.txt", nullptr, MAX_PATH, found, &part),
            moved.size());
  EXPECT_EQ(std::u16string(found), moved);
  EXPECT_EQ(std::u16string(part), u"\u4e2d.txt");
  EXPECT_EQ(GetModuleFileNameW(nullptr, found, 2), 2u);
  EXPECT_EQ(found[1], u'\0');
  EXPECT_TRUE(DeleteFileW(moved.c_str()));
}

// A name with no UTF-8 form, in any place of a W call, fails it before the A call acts.
TEST_F(FileCalls, AnUnpairedSurrogateInAnyNameFailsTheWForm) {
  const std::u16string dir(dir_.path().begin(), dir_.path().end());
  const std::u16string doc = dir + u"/doc.txt";
  const std::u16string lone = dir + u"/a" + char16_t(0xD800);
  const std::u16string link = dir + u"/link.txt";
  const struct {
    const char *call;
    std::function<BOOL()> run;
  } cases[] = {
      {"CopyFileW from", [&] { return CopyFileW(lone.c_str(), doc.c_str(), FALSE); }},
      {"CopyFileW to", [&] { return CopyFileW(doc.c_str(), lone.c_str(), FALSE); }},
      {"MoveFileExW to", [&] { return MoveFileExW(doc.c_str(), lone.c_str(), 0); }},
      {"ReplaceFileW backup",
       [&] { return ReplaceFileW(doc.c_str(), doc.c_str(), lone.c_str(), 0, nullptr, nullptr); }},
      {"CreateHardLinkW existing",
       [&] { return CreateHardLinkW(link.c_str(), lone.c_str(), nullptr); }},
      {"CreateDirectoryW", [&] { return CreateDirectoryW(lone.c_str(), nullptr); }},
  };
  for (const auto &c : cases) {
    SetLastError(0);
    EXPECT_FALSE(c.run()) << c.call;
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_UNICODE_TRANSLATION)) << c.call;
  }
  EXPECT_EQ(readFile(dir_.file("doc.txt")), "old");
  EXPECT_FALSE(exists(dir_.file("link.txt")));
  EXPECT_EQ(CreateFileW(lone.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr),
            INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_UNICODE_TRANSLATION));
}

} // namespace
