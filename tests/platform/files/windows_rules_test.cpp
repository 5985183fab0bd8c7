// Where the file calls follow Windows rather than POSIX: the long-path prefix, folder handles,
// DOS devices, trailing dots and spaces, and the errors of odd arguments.
#include "support/file_call_cases.h"
#include "support/files.h"
#include "support/name_steps.h"
#include "support/temp_env.h"

#include <velmora/win32.h>

#include <gtest/gtest.h>

#include <functional>
#include <tuple>
#include <utility>
#include <vector>

using namespace vlx::test;

namespace {

class WindowsRules : public TempEnvTest {
protected:
  WindowsRules() {
    writeFile(dir_.file("gear.txt"), "gear");
    mkdir(dir_.file("temp").c_str(), 0755);
  }
  ScopedEnv driveC_{"VELMORA_DRIVE_C", dir_.path().c_str()};
};

HANDLE open(const char *path, DWORD disposition, DWORD flags = 0) {
  return CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, disposition, flags, nullptr);
}

TEST_F(WindowsRules, CreateFileReadsNamesAsWindowsDoes) {
  const DWORD backup = FILE_FLAG_BACKUP_SEMANTICS;
  // path, disposition, flags, the error (ERROR_SUCCESS: a handle)
  // The rows of the shared table (file_call_cases.h) first.
  std::vector<std::tuple<std::string, DWORD, DWORD, DWORD>> cases;
  for (const OpenCase &row : openCases())
    cases.emplace_back((row.verbatim ? "\\\\?\\C:\\" : "C:\\") + std::string(row.name),
                       row.disposition, row.flags, row.error);
  cases.insert(cases.end(), {{"C:\\temp", CREATE_NEW, backup, ERROR_FILE_EXISTS},
                             {"C:\\temp", CREATE_ALWAYS, backup, ERROR_ACCESS_DENIED},
                             {"C:\\temp", OPEN_ALWAYS, backup, ERROR_ALREADY_EXISTS},
                             {"C:\\gear.txt", OPEN_EXISTING, backup, ERROR_SUCCESS},
                             // The rows of Wine's test_CreateFileA that a drive's root answers:
                             // a folder named with its final separator is no file's path, and
                             // "\\?\C:" is a volume, which a user without the right to open
                             // one is refused.
                             {"C:\\", OPEN_EXISTING, 0, ERROR_PATH_NOT_FOUND},
                             {"C:\\", OPEN_EXISTING, backup, ERROR_SUCCESS},
                             {"C:", OPEN_EXISTING, 0, ERROR_ACCESS_DENIED},
                             {"C:", OPEN_EXISTING, backup, ERROR_SUCCESS},
                             {"\\\\?\\C:\\", OPEN_EXISTING, 0, ERROR_PATH_NOT_FOUND},
                             {"\\\\?\\C:", OPEN_EXISTING, 0, ERROR_ACCESS_DENIED},
                             {"C:\\a\\", OPEN_EXISTING, 0, ERROR_FILE_NOT_FOUND},
                             {"C:c:\\windows", OPEN_EXISTING, 0, ERROR_INVALID_NAME}});
  for (const auto &[path, disposition, flags, error] : cases) {
    SCOPED_TRACE(path + " " + std::to_string(disposition));
    HANDLE handle = open(path.c_str(), disposition, flags);
    EXPECT_EQ(GetLastError(), error);
    EXPECT_EQ(handle != INVALID_HANDLE_VALUE,
              error == ERROR_SUCCESS || error == ERROR_ALREADY_EXISTS);
    if (handle != INVALID_HANDLE_VALUE) {
      EXPECT_TRUE(CloseHandle(handle));
    }
  }
  // A folder handle has no data to read or write.
  HANDLE folder = open("C:\\temp", OPEN_EXISTING, backup);
  char byte;
  DWORD done;
  EXPECT_FALSE(ReadFile(folder, &byte, 1, &done, nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_FUNCTION));
  EXPECT_FALSE(WriteFile(folder, "x", 1, &done, nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_FUNCTION));
  CloseHandle(folder);
}

TEST_F(WindowsRules, NamesAreFoundWithoutRegardToCase) {
  // The shared table's steps, in order, as the Windows check runs them.
  int row = 0;
  for (const NameStep &step : nameSteps()) {
    SCOPED_TRACE(std::to_string(row++) + " " + step.name);
    std::string found;
    EXPECT_EQ(runNameStep(step, "C:\\", found), step.error);
    if (step.call == NameCall::Find) {
      EXPECT_EQ(found, step.other);
    }
  }
  // No step made a second name of one folding.
  EXPECT_EQ(entries(dir_.path()), (std::set<std::string>{"gear.txt", "temp"}));
}

TEST_F(WindowsRules, NulDiscardsAndTheOtherDevicesDoNotExist) {
  // Any folder, any extension, any case: writing to NUL creates nothing.
  for (const char *path : {"nul", "C:\\NUL.txt", "C:\\temp\\Nul"}) {
    SCOPED_TRACE(path);
    HANDLE handle = open(path, CREATE_ALWAYS);
    ASSERT_NE(handle, INVALID_HANDLE_VALUE);
    DWORD done = 0;
    EXPECT_TRUE(WriteFile(handle, "discarded", 9, &done, nullptr));
    EXPECT_EQ(done, 9u);
    CloseHandle(handle);
    EXPECT_EQ(GetFileAttributesA(path), static_cast<DWORD>(FILE_ATTRIBUTE_ARCHIVE));
    // Neither deleted nor replaced by a copy: the device stays.
    EXPECT_FALSE(DeleteFileA(path));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_TRUE(CopyFileA("C:\\gear.txt", path, FALSE));
  }
  EXPECT_EQ(entries(dir_.path()), (std::set<std::string>{"gear.txt", "temp"}));
  EXPECT_EQ(entries(dir_.file("temp")), std::set<std::string>{});
  for (const char *path : {"C:\\con", "com1.txt", "C:\\temp\\LPT3", "aux", "prn.log"}) {
    SCOPED_TRACE(path);
    EXPECT_EQ(open(path, OPEN_ALWAYS), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  }
}

TEST_F(WindowsRules, TrailingDotsAndSpacesNameTheFileWithoutThem) {
  for (const char *path : {"C:\\gear.txt.", "C:\\gear.txt ", "C:\\gear.txt. .."}) {
    SCOPED_TRACE(path);
    EXPECT_EQ(GetFileAttributesA(path), static_cast<DWORD>(FILE_ATTRIBUTE_NORMAL));
    WIN32_FIND_DATAA data;
    HANDLE search = FindFirstFileA(path, &data);
    ASSERT_NE(search, INVALID_HANDLE_VALUE);
    EXPECT_STREQ(data.cFileName, "gear.txt");
    FindClose(search);
  }
  // After the long-path prefix the name is taken as it stands.
  HANDLE handle = open("\\\\?\\C:\\gear.txt.", CREATE_NEW);
  ASSERT_NE(handle, INVALID_HANDLE_VALUE);
  CloseHandle(handle);
  EXPECT_EQ(entries(dir_.path()), (std::set<std::string>{"gear.txt", "gear.txt.", "temp"}));
  EXPECT_TRUE(CopyFileA("C:\\gear.txt ", "C:\\temp\\copy.txt..", TRUE));
  EXPECT_EQ(readFile(dir_.file("temp/copy.txt")), "gear");
}

TEST_F(WindowsRules, OddArgumentsGiveWindowsErrors) {
  const auto opens = [](const char *path) {
    HANDLE handle = open(path, OPEN_ALWAYS);
    return handle != INVALID_HANDLE_VALUE && CloseHandle(handle);
  };
  // the call, the error it fails with
  const std::pair<std::function<bool()>, DWORD> cases[] = {
      {[] { return CopyFileA(nullptr, "C:\\copy", FALSE) != FALSE; }, ERROR_PATH_NOT_FOUND},
      {[] { return CopyFileA("C:\\gear.txt", nullptr, FALSE) != FALSE; }, ERROR_PATH_NOT_FOUND},
      {[&] { return opens("C:c:\\windows"); }, ERROR_INVALID_NAME},
      {[&] { return opens("\\\\?\\UNC\\server\\share\\x"); }, ERROR_BAD_NETPATH},
      {[&] { return opens("\\\\?\\C:\\a/b"); }, ERROR_INVALID_NAME},
  };
  int row = 0;
  for (const auto &[call, error] : cases) {
    SCOPED_TRACE(row++);
    EXPECT_FALSE(call());
    EXPECT_EQ(GetLastError(), error);
  }
  EXPECT_EQ(entries(dir_.path()), (std::set<std::string>{"gear.txt", "temp"}));
}

TEST_F(WindowsRules, TheModuleFileNameIsAPathTheFileCallsTake) {
  char name[MAX_PATH];
  const DWORD length = GetModuleFileNameA(nullptr, name, MAX_PATH);
  ASSERT_GT(length, 0u);
  // The POSIX path, which the file calls read as rooted at `/`.
  EXPECT_EQ(name[0], '/');
  EXPECT_NE(GetFileAttributesA(name), INVALID_FILE_ATTRIBUTES);
  EXPECT_NE(GetFileAttributesA(winPath(name).c_str()), INVALID_FILE_ATTRIBUTES);
}

} // namespace
