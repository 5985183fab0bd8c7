// The file calls' table and the errors the POSIX personality copies, against the system's own
// kernel32: Windows is the reference, Wine a second implementation written against it.
#include "check.h"
#include "support/file_call_cases.h"
#include "support/name_steps.h"

#include <windows.h>

#include <cstring>
#include <string>

namespace vlx::check {

namespace {

// Where Wine answers otherwise than Windows documents: reported under Wine, not failed.
struct Known {
  const char *what;
  const char *reason;
};
const Known wineDeviations[] = {
    {"CreateFileA temp disposition 1", "Wine: ERROR_FILE_EXISTS for CREATE_NEW on a folder"},
    {"CreateFileA c:\\gear.txt disposition 3", "Wine: ERROR_PATH_NOT_FOUND for a colon"},
    {"a cancelled CopyFileExA", "Wine: the copy runs whatever the flag says"},
    {"CreateFileA temp\\ disposition 3", "Wine: ERROR_ACCESS_DENIED for a folder's path"},
    {"CreateFileA \\\\?\\temp\\ disposition 3", "Wine: ERROR_ACCESS_DENIED for a folder's path"},
    {"DuplicateHandle from GW", "Wine: a duplicate gets any right"},
    {"DuplicateHandle from GR", "Wine: a duplicate gets any right"},
    {"DuplicateHandle from RD|WD", "Wine: a duplicate gets any right"},
    {"DuplicateHandle from WD", "Wine: a duplicate gets any right"},
    {"DuplicateHandle from RD", "Wine: a duplicate gets any right"},
    {"DuplicateHandle from AD", "Wine: a duplicate gets any right"},
    {"DuplicateHandle from RD|AD", "Wine: a duplicate gets any right"},
    {"DuplicateHandle from WD|AD", "Wine: a duplicate gets any right"},
    {"DuplicateHandle from 0", "Wine: a duplicate gets any right"},
    {"ReplaceFileA, read-only replacement", "Wine run as root writes a read-only file"},
    {"CopyFileExA, PROGRESS_CANCEL", "Wine: the copy runs whatever the routine answers"},
    {"CopyFileExA, PROGRESS_STOP", "Wine: the copy runs whatever the routine answers"},
    {"FindFirstFileExA temp\\sub\\copy.txt: name",
     "Wine: a move onto another case of the same name keeps the old case"},
    {"A mapped file", "Wine deletes a file a view shows"},
    {"LockFile beside a lock of no bytes", "Wine: a range starting at a lock of no bytes is taken"},
    {"Sizes and rights", "Wine: TRUNCATE_EXISTING opens with FILE_WRITE_DATA alone"},
};

// EXPECT, but a known Wine deviation is reported under Wine instead of failed.
void judge(bool ok, const std::string &what, const std::string &detail) {
  if (!ok && underWine())
    for (const Known &known : wineDeviations)
      if (what == known.what) {
        std::printf("differs under Wine: %s: %s (%s)\n", what.c_str(), known.reason,
                    detail.c_str());
        return;
      }
  EXPECT(ok, what + ": " + detail);
}

void openTable(const std::string &dir) {
  for (const vlx::test::OpenCase &row : vlx::test::openCases()) {
    const std::string path = (row.verbatim ? "\\\\?\\" : "") + dir + "\\" + row.name;
    SetLastError(0);
    HANDLE handle = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                row.disposition, row.flags, nullptr);
    // A handle to a file that existed says so with OPEN_ALWAYS.
    const DWORD error = handle == INVALID_HANDLE_VALUE || row.disposition == OPEN_ALWAYS
                            ? GetLastError()
                            : ERROR_SUCCESS;
    if (handle != INVALID_HANDLE_VALUE)
      CloseHandle(handle);
    const std::string what = std::string("CreateFileA ") + (row.verbatim ? "\\\\?\\" : "") +
                             row.name + " disposition " + std::to_string(row.disposition);
    judge(error == row.error, what,
          "got " + std::to_string(error) + ", expected " + std::to_string(row.error));
  }
}

void nameTable(const std::string &dir) {
  using vlx::test::NameCall;
  for (const vlx::test::NameStep &step : vlx::test::nameSteps()) {
    std::string found;
    const DWORD error = vlx::test::runNameStep(step, dir + "\\", found);
    const char *calls[] = {"GetFileAttributesA", "CreateDirectoryA", "RemoveDirectoryA",
                           "MoveFileA",          "CopyFileA",        "DeleteFileA",
                           "FindFirstFileExA"};
    const std::string what = std::string(calls[static_cast<int>(step.call)]) + " " + step.name +
                             (step.call == NameCall::Move || step.call == NameCall::CopyNew
                                  ? std::string(" ") + step.other
                                  : std::string());
    judge(error == step.error, what,
          "got " + std::to_string(error) + ", expected " + std::to_string(step.error));
    if (step.call == NameCall::Find && error == ERROR_SUCCESS)
      judge(found == step.other, what + ": name", "got " + found + ", expected " + step.other);
  }
}

void copiesMovesAndReplacements(const std::string &dir) {
  const std::string doc = dir + "\\doc.txt";
  const std::string fresh = dir + "\\doc.tmp";
  const std::string backup = dir + "\\doc.bak";
  writeFile(doc, "old");
  writeFile(fresh, "new");
  EXPECT(!CopyFileA(nullptr, doc.c_str(), FALSE) && GetLastError() == ERROR_PATH_NOT_FOUND,
         "CopyFileA(NULL, dst) fails with ERROR_PATH_NOT_FOUND");
  EXPECT(!MoveFileExA(fresh.c_str(), doc.c_str(), 0) && GetLastError() == ERROR_ALREADY_EXISTS,
         "MoveFileExA onto an existing file fails with ERROR_ALREADY_EXISTS");
  BOOL cancel = TRUE;
  const BOOL copied = CopyFileExA(fresh.c_str(), doc.c_str(), nullptr, nullptr, &cancel, 0);
  judge(!copied && GetLastError() == ERROR_REQUEST_ABORTED && readFile(doc) == "old",
        "a cancelled CopyFileExA",
        "result " + std::to_string(copied) + ", error " + std::to_string(GetLastError()));
  writeFile(doc, "old");
  EXPECT(ReplaceFileA(doc.c_str(), fresh.c_str(), backup.c_str(), 0, nullptr, nullptr),
         "ReplaceFileA with a backup");
  const std::string files = readFile(doc) + " " + readFile(backup) + " " + readFile(fresh);
  judge(files == "new old (missing)", "ReplaceFileA: document, backup, replacement",
        "got " + files);
}

// The shared call cases, each in a folder of its own.
void callTable(const std::string &dir) {
  int index = 0;
  for (const vlx::test::CallCase &row : vlx::test::callCases()) {
    const std::string folder = dir + "\\case" + std::to_string(index++);
    CreateDirectoryA(folder.c_str(), nullptr);
    const std::string got = row.run(folder, row.arg);
    judge(got == row.expected, row.what, "got \"" + got + "\", expected \"" + row.expected + "\"");
  }
}

void locks(const std::string &dir) {
  const std::string path = dir + "\\locked.txt";
  writeFile(path, "0123456789");
  auto open = [&] {
    return CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE,
                       FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
  };
  HANDLE first = open();
  HANDLE second = open();
  OVERLAPPED at = {};
  at.Offset = 2;
  const DWORD now = LOCKFILE_FAIL_IMMEDIATELY;
  EXPECT(LockFileEx(first, now | LOCKFILE_EXCLUSIVE_LOCK, 0, 3, 0, &at), "LockFileEx exclusive");
  EXPECT(!LockFileEx(second, now, 0, 3, 0, &at) && GetLastError() == ERROR_LOCK_VIOLATION,
         "a second handle's lock fails with ERROR_LOCK_VIOLATION");
  EXPECT(UnlockFileEx(first, 0, 3, 0, &at) && LockFileEx(second, now, 0, 3, 0, &at),
         "the range is free once unlocked");
  // A range may end at 2^64, not past it: the wrapping one is refused and holds nothing.
  EXPECT(LockFile(first, 0, 0x10000000, 0, 0xf0000000) &&
             UnlockFile(first, 0, 0x10000000, 0, 0xf0000000),
         "a lock ending at 2^64");
  EXPECT(!LockFile(first, 0, 0x10000000, 0, 0xf0000001), "a lock past 2^64 fails");
  EXPECT(LockFile(first, ~0u, ~0u, 1, 0) && UnlockFile(first, ~0u, ~0u, 1, 0),
         "the last byte is free after a refused wrapping lock");
  CloseHandle(second);
  CloseHandle(first);
}

void rights(const std::string &dir) {
  const std::string path = dir + "\\rights.txt";
  for (const vlx::test::RightsCase &row : vlx::test::rightsCases()) {
    const std::string what = std::string("a handle with ") + row.what;
    writeFile(path, "0123456789");
    HANDLE h = CreateFileA(path.c_str(), row.access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_EXISTING, 0, nullptr);
    if (!EXPECT(h != INVALID_HANDLE_VALUE, what + ": opens"))
      continue;
    char buf[4];
    DWORD done = 0;
    EXPECT(ReadFile(h, buf, sizeof buf, &done, nullptr) == (row.reads ? TRUE : FALSE),
           what + ": reads");
    SetFilePointer(h, 0, nullptr, FILE_BEGIN);
    EXPECT(WriteFile(h, "ab", 2, &done, nullptr) == (row.writes ? TRUE : FALSE), what + ": writes");
    CloseHandle(h);
    EXPECT_EQ(readFile(path), std::string(row.content), what + ": content");
  }
}

} // namespace

void checkFiles() {
  const std::string dir = makeScratch("files");
  writeFile(dir + "\\gear.txt", "gear");
  CreateDirectoryA((dir + "\\temp").c_str(), nullptr);
  openTable(dir);
  nameTable(dir);
  copiesMovesAndReplacements(dir);
  callTable(dir);
  locks(dir);
  rights(dir);
  removeTree(dir);
}

} // namespace vlx::check
