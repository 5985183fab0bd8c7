// File handles: creation dispositions, their Windows errors, pointer moves and stale handles.
#include "files_support.h"
#include "support/temp_env.h"

#include <velmora/win32.h>

#include <gtest/gtest.h>

#include <cerrno>

using namespace vlx::test;

namespace {

class FileHandles : public TempEnvTest {
protected:
  FileHandles() { writeFile(existing_, "content"); }

  static HANDLE open(const std::string &path, DWORD access, DWORD disposition) {
    return CreateFileA(path.c_str(), access, 0, nullptr, disposition, FILE_ATTRIBUTE_NORMAL,
                       nullptr);
  }

  std::string existing_ = dir_.file("existing.txt");
  std::string fresh_ = dir_.file("fresh.txt");
  SyscallGuard guard_;
};

constexpr DWORD kRead = static_cast<DWORD>(GENERIC_READ);
constexpr DWORD kWrite = static_cast<DWORD>(GENERIC_WRITE);

TEST_F(FileHandles, Dispositions) {
  writeFile(dir_.file("readonly.txt"), "fixed");
  chmod(dir_.file("readonly.txt").c_str(), 0444);
  const struct {
    std::string path;
    DWORD access;
    DWORD disposition;
    DWORD error; // after success: ERROR_ALREADY_EXISTS when an existing file was opened
    bool opened;
    const char *contentAfter; // null: no file
  } cases[] = {
      {existing_, kRead, OPEN_EXISTING, ERROR_SUCCESS, true, "content"},
      {existing_, kWrite, OPEN_ALWAYS, ERROR_ALREADY_EXISTS, true, "content"},
      {existing_, kWrite, CREATE_ALWAYS, ERROR_ALREADY_EXISTS, true, ""},
      {existing_, kWrite, TRUNCATE_EXISTING, ERROR_SUCCESS, true, ""},
      {existing_, kRead, TRUNCATE_EXISTING, ERROR_INVALID_PARAMETER, false, "content"},
      {existing_, kWrite, CREATE_NEW, ERROR_FILE_EXISTS, false, "content"},
      {existing_, kRead, 99, ERROR_INVALID_PARAMETER, false, "content"},
      {fresh_, kWrite, CREATE_NEW, ERROR_SUCCESS, true, ""},
      {fresh_, kWrite, OPEN_ALWAYS, ERROR_SUCCESS, true, ""},
      {fresh_, kRead, OPEN_EXISTING, ERROR_FILE_NOT_FOUND, false, nullptr},
      {dir_.file("none/x"), kWrite, CREATE_ALWAYS, ERROR_PATH_NOT_FOUND, false, nullptr},
      {dir_.file("readonly.txt"), kRead | kWrite, OPEN_EXISTING, ERROR_ACCESS_DENIED, false,
       "fixed"},
      {dir_.file("readonly.txt"), kRead, CREATE_ALWAYS, ERROR_ACCESS_DENIED, false, "fixed"},
      {dir_.path(), kRead, OPEN_EXISTING, ERROR_ACCESS_DENIED, false, nullptr},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.path + " " + std::to_string(c.disposition));
    writeFile(existing_, "content");
    unlink(fresh_.c_str());
    HANDLE h = open(c.path, c.access, c.disposition);
    EXPECT_EQ(h != INVALID_HANDLE_VALUE, c.opened);
    EXPECT_EQ(GetLastError(), c.error);
    if (h != INVALID_HANDLE_VALUE) {
      EXPECT_TRUE(CloseHandle(h));
    }
    if (c.contentAfter) {
      EXPECT_EQ(readFile(c.path), c.contentAfter);
    } else if (c.path != dir_.path()) {
      EXPECT_FALSE(exists(c.path));
    }
  }
}

TEST_F(FileHandles, FilePointerAndSize) {
  HANDLE h = open(existing_, kRead, OPEN_EXISTING);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  EXPECT_EQ(SetFilePointer(h, -2, nullptr, FILE_END), 5u);
  EXPECT_EQ(SetFilePointer(h, -6, nullptr, FILE_CURRENT), INVALID_SET_FILE_POINTER);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NEGATIVE_SEEK));
  EXPECT_EQ(SetFilePointer(h, 0, nullptr, FILE_CURRENT), 5u); // unmoved
  // A distance with a high part: -1 in 64 bits.
  LONG high = -1;
  EXPECT_EQ(SetFilePointer(h, -1, &high, FILE_CURRENT), 4u);
  EXPECT_EQ(high, 0);
  DWORD sizeHigh = 7;
  EXPECT_EQ(GetFileSize(h, &sizeHigh), 7u);
  EXPECT_EQ(sizeHigh, 0u);
  char buffer[8] = {};
  DWORD got = 0;
  EXPECT_TRUE(ReadFile(h, buffer, sizeof buffer, &got, nullptr));
  EXPECT_EQ(got, 3u);
  EXPECT_STREQ(buffer, "ent");
  EXPECT_FALSE(WriteFile(h, "x", 1, &got, nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_FALSE(SetEndOfFile(h));
  EXPECT_TRUE(CloseHandle(h));
  // A closed handle is refused, not followed.
  EXPECT_FALSE(CloseHandle(h));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  EXPECT_FALSE(ReadFile(h, buffer, 1, &got, nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
}

TEST_F(FileHandles, AFullDiskIsReported) {
  HANDLE h = open(fresh_, kWrite, CREATE_NEW);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  vlx::posix::fileSyscalls().write = [](int, const void *, size_t) -> ssize_t {
    errno = ENOSPC;
    return -1;
  };
  DWORD written = 9;
  EXPECT_FALSE(WriteFile(h, "data", 4, &written, nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_DISK_FULL));
  EXPECT_EQ(written, 0u);
  EXPECT_TRUE(CloseHandle(h));
}

} // namespace
