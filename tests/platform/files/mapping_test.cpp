// File mappings, hard links, a handle's final path and the information classes of a handle.
#include "support/files.h"
#include "support/temp_env.h"

#include <velmora/win32.h>

#include <gtest/gtest.h>

#include "platform/posix/caller_memory.h"

#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

using namespace vlx::test;

namespace {

class HandleCalls : public TempEnvTest {
protected:
  std::string win(const std::string &name) const { return winPath(dir_.file(name)); }
  HANDLE open(const std::string &name, DWORD access, DWORD disposition = OPEN_EXISTING) {
    return CreateFileA(win(name).c_str(), access, 0, nullptr, disposition, 0, nullptr);
  }
};

TEST_F(HandleCalls, MappingsOfAFileShareItsData) {
  writeFile(dir_.file("data.bin"), "0123456789");
  HANDLE file = open("data.bin", GENERIC_READ | GENERIC_WRITE);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  HANDLE mapping = CreateFileMappingA(file, nullptr, PAGE_READWRITE, 0, 0, nullptr);
  ASSERT_NE(mapping, nullptr);
  auto *view = static_cast<char *>(MapViewOfFile(mapping, FILE_MAP_WRITE, 0, 0, 0));
  ASSERT_NE(view, nullptr);
  EXPECT_EQ(std::string(view, 10), "0123456789");
  std::memcpy(view, "ab", 2);
  EXPECT_TRUE(FlushViewOfFile(view + 1, 1));
  EXPECT_EQ(readFile(dir_.file("data.bin")), "ab23456789");
  // A private view keeps its writes.
  auto *copy = static_cast<char *>(MapViewOfFile(mapping, FILE_MAP_COPY, 0, 0, 4));
  ASSERT_NE(copy, nullptr);
  copy[0] = 'X';
  EXPECT_EQ(view[0], 'a');
  EXPECT_TRUE(UnmapViewOfFile(copy));
  EXPECT_TRUE(UnmapViewOfFile(view));
  EXPECT_FALSE(UnmapViewOfFile(view));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_ADDRESS));
  EXPECT_TRUE(CloseHandle(mapping));
  // A larger size grows a file the mapping may write.
  mapping = CreateFileMappingA(file, nullptr, PAGE_READWRITE, 0, 20, nullptr);
  ASSERT_NE(mapping, nullptr);
  EXPECT_EQ(GetFileSize(file, nullptr), 20u);
  CloseHandle(mapping);
  CloseHandle(file);
}

TEST_F(HandleCalls, MappingsRefuseWhatWindowsRefuses) {
  writeFile(dir_.file("data.bin"), "0123456789");
  writeFile(dir_.file("empty.bin"), "");
  HANDLE reader = open("data.bin", GENERIC_READ);
  HANDLE empty = open("empty.bin", GENERIC_READ | GENERIC_WRITE);
  const struct {
    const char *what;
    HANDLE file;
    DWORD protect, size;
    DWORD error;
  } creations[] = {
      {"writable mapping of a read-only handle", reader, PAGE_READWRITE, 0, ERROR_ACCESS_DENIED},
      {"larger than a read-only file", reader, PAGE_READONLY, 100, ERROR_NOT_ENOUGH_MEMORY},
      {"an empty file without a size", empty, PAGE_READWRITE, 0, ERROR_FILE_INVALID},
      {"memory without a size", INVALID_HANDLE_VALUE, PAGE_READWRITE, 0, ERROR_INVALID_PARAMETER},
      {"no such protection", reader, 0x1234, 0, ERROR_INVALID_PARAMETER},
  };
  for (const auto &c : creations) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(CreateFileMappingA(c.file, nullptr, c.protect, 0, c.size, nullptr), nullptr);
    EXPECT_EQ(GetLastError(), c.error);
  }
  HANDLE mapping = CreateFileMappingA(reader, nullptr, PAGE_READONLY, 0, 0, nullptr);
  ASSERT_NE(mapping, nullptr);
  const struct {
    const char *what;
    DWORD access, offset;
    SIZE_T bytes;
    DWORD error;
  } views[] = {
      {"write to a read-only mapping", FILE_MAP_WRITE, 0, 0, ERROR_ACCESS_DENIED},
      {"an offset off the 64 KB grid", FILE_MAP_READ, 4096, 0, ERROR_MAPPED_ALIGNMENT},
      {"past the mapping's end", FILE_MAP_READ, 0, 11, ERROR_ACCESS_DENIED},
  };
  for (const auto &v : views) {
    SCOPED_TRACE(v.what);
    EXPECT_EQ(MapViewOfFile(mapping, v.access, 0, v.offset, v.bytes), nullptr);
    EXPECT_EQ(GetLastError(), v.error);
  }
  // Exactly the whole mapping.
  auto *whole = static_cast<const char *>(MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 10));
  ASSERT_NE(whole, nullptr);
  EXPECT_EQ(std::string(whole, 10), "0123456789");
  EXPECT_FALSE(vlx::posix::callerMayWrite(const_cast<char *>(whole), 1));
  UnmapViewOfFile(whole);
  // A read view of a copy-on-write mapping may not be written either.
  HANDLE copyOnly = CreateFileMappingA(reader, nullptr, PAGE_WRITECOPY, 0, 0, nullptr);
  ASSERT_NE(copyOnly, nullptr);
  auto *read = static_cast<char *>(MapViewOfFile(copyOnly, FILE_MAP_READ, 0, 0, 0));
  ASSERT_NE(read, nullptr);
  EXPECT_FALSE(vlx::posix::callerMayWrite(read, 1));
  UnmapViewOfFile(read);
  CloseHandle(copyOnly);
  EXPECT_EQ(MapViewOfFile(reader, FILE_MAP_READ, 0, 0, 0), nullptr); // a file is not a mapping
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  CloseHandle(mapping);
  CloseHandle(empty);
  CloseHandle(reader);
}

// Named memory of `size` bytes that no file backs, made or opened.
HANDLE namedMemory(const std::string &name, DWORD size = 4096) {
  return CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, size, name.c_str());
}

// Named memory that begins with `text`, for another process to find; whether it was written.
bool namedMemoryHolding(const std::string &name, const char *text) {
  auto *view = static_cast<char *>(MapViewOfFile(namedMemory(name), FILE_MAP_WRITE, 0, 0, 0));
  if (view)
    std::strcpy(view, text);
  return view != nullptr;
}

TEST_F(HandleCalls, NamedMemoryIsSharedByName) {
  const std::string name = "vlx-test-" + std::to_string(getpid());
  HANDLE first = namedMemory(name);
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SUCCESS));
  HANDLE again = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 4096,
                                    std::u16string(name.begin(), name.end()).c_str());
  ASSERT_NE(again, nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
  HANDLE opened = OpenFileMappingA(FILE_MAP_ALL_ACCESS, FALSE, name.c_str());
  ASSERT_NE(opened, nullptr);
  auto *a = static_cast<char *>(MapViewOfFile(first, FILE_MAP_ALL_ACCESS, 0, 0, 0));
  auto *b = static_cast<char *>(MapViewOfFile(opened, FILE_MAP_READ, 0, 0, 16));
  ASSERT_TRUE(a && b);
  std::strcpy(a, "shared");
  EXPECT_STREQ(b, "shared");
  UnmapViewOfFile(a);
  UnmapViewOfFile(b);
  for (HANDLE h : {first, again, opened})
    EXPECT_TRUE(CloseHandle(h));
  // The last handle takes the name with it.
  EXPECT_EQ(OpenFileMappingA(FILE_MAP_READ, FALSE, name.c_str()), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

// Where the user's named memory lives.
std::string sharedPath(const std::string &name) {
  return "/dev/shm/vlx-map-" + std::to_string(geteuid()) + "-" + name;
}

TEST_F(HandleCalls, NamedMemoryRefusesAnObjectOthersCouldReach) {
  const std::string name = "vlx-test-planted-" + std::to_string(getpid());
  const std::string path = sharedPath(name);
  const std::string secret = dir_.file("secret");
  writeFile(secret, "secret");
  const struct {
    const char *what;
    bool (*plant)(const std::string &path, const std::string &secret);
  } planted[] = {
      {"readable by others",
       [](const std::string &at, const std::string &) {
         writeFile(at, "planted");
         return chmod(at.c_str(), 0644) == 0;
       }},
      {"writable by others but not the group",
       [](const std::string &at, const std::string &) {
         writeFile(at, "planted");
         return chmod(at.c_str(), 0602) == 0;
       }},
      {"a link to the user's file",
       [](const std::string &at, const std::string &to) {
         return symlink(to.c_str(), at.c_str()) == 0;
       }},
      {"owned by another user",
       [](const std::string &at, const std::string &) {
         writeFile(at, "planted");
         chmod(at.c_str(), 0600);
         return chown(at.c_str(), 65534, 65534) == 0; // only root may give a file away
       }},
  };
  for (const auto &p : planted) {
    SCOPED_TRACE(p.what);
    unlink(path.c_str());
    if (!p.plant(path, secret))
      continue;
    EXPECT_EQ(namedMemory(name), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_EQ(OpenFileMappingA(FILE_MAP_READ, FALSE, name.c_str()), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  }
  unlink(path.c_str());
  EXPECT_EQ(readFile(secret), "secret");
}

TEST_F(HandleCalls, NamedMemoryNobodyHoldsIsReplaced) {
  const std::string name = "vlx-test-stale-" + std::to_string(getpid());
  const std::string path = sharedPath(name);
  // What a killed holder leaves: the user's own object, which no process holds.
  const pid_t child = fork();
  if (child == 0) {
    namedMemoryHolding(name, "old");
    raise(SIGKILL);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(exists(path));
  HANDLE fresh = namedMemory(name, 8192);
  ASSERT_NE(fresh, nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SUCCESS));
  auto *view = static_cast<char *>(MapViewOfFile(fresh, FILE_MAP_READ, 0, 0, 0));
  ASSERT_NE(view, nullptr);
  EXPECT_EQ(std::string(view, 3), std::string(3, '\0'));
  struct stat st;
  ASSERT_EQ(stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_size, 8192);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  UnmapViewOfFile(view);
  CloseHandle(fresh);
  EXPECT_FALSE(exists(path));

  // Found by name only while someone holds it.
  writeFile(path, "old");
  chmod(path.c_str(), 0600);
  EXPECT_EQ(OpenFileMappingA(FILE_MAP_READ, FALSE, name.c_str()), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_FALSE(exists(path));
}

TEST_F(HandleCalls, NamedMemoryKeepsItsNameWhileAnotherProcessHoldsIt) {
  const std::string name = "vlx-test-held-" + std::to_string(getpid());
  int ready[2], done[2];
  ASSERT_EQ(pipe(ready), 0);
  ASSERT_EQ(pipe(done), 0);
  const pid_t child = fork();
  if (child == 0) {
    char c = namedMemoryHolding(name, "live") ? 'y' : 'n';
    if (write(ready[1], &c, 1) != 1 || read(done[0], &c, 1) != 1)
      _exit(1);
    _exit(0);
  }
  char c = 0;
  ASSERT_EQ(read(ready[0], &c, 1), 1);
  ASSERT_EQ(c, 'y');
  HANDLE opened = namedMemory(name);
  ASSERT_NE(opened, nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
  auto *view = static_cast<char *>(MapViewOfFile(opened, FILE_MAP_READ, 0, 0, 0));
  ASSERT_NE(view, nullptr);
  EXPECT_STREQ(view, "live");
  UnmapViewOfFile(view);
  CloseHandle(opened);
  // The other process still holds it: the name stays, as on Windows.
  HANDLE again = OpenFileMappingA(FILE_MAP_READ, FALSE, name.c_str());
  EXPECT_NE(again, nullptr);
  CloseHandle(again);
  ASSERT_EQ(write(done[1], "x", 1), 1);
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_EQ(WEXITSTATUS(status), 0);
  // Gone with its last holder, though the process ended without closing it.
  EXPECT_EQ(OpenFileMappingA(FILE_MAP_READ, FALSE, name.c_str()), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_FALSE(exists(sharedPath(name)));
  for (int fd : {ready[0], ready[1], done[0], done[1]})
    close(fd);
}

TEST_F(HandleCalls, HardLinksAndFinalPaths) {
  writeFile(dir_.file("a.txt"), "one");
  mkdir(dir_.file("sub").c_str(), 0755);
  EXPECT_TRUE(CreateHardLinkA(win("b.txt").c_str(), win("a.txt").c_str(), nullptr));
  const std::string c = win("c.txt"), a = win("a.txt");
  EXPECT_TRUE(CreateHardLinkW(std::u16string(c.begin(), c.end()).c_str(),
                              std::u16string(a.begin(), a.end()).c_str(), nullptr));
  const struct {
    const char *to, *from;
    DWORD error;
  } refused[] = {
      {"b.txt", "a.txt", ERROR_ALREADY_EXISTS},
      {"d.txt", "missing.txt", ERROR_FILE_NOT_FOUND},
      {"e.txt", "sub", ERROR_ACCESS_DENIED},
  };
  for (const auto &r : refused) {
    SCOPED_TRACE(r.to);
    EXPECT_FALSE(CreateHardLinkA(win(r.to).c_str(), win(r.from).c_str(), nullptr));
    EXPECT_EQ(GetLastError(), r.error);
  }
  HANDLE h = open("b.txt", GENERIC_READ);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  BY_HANDLE_FILE_INFORMATION info;
  ASSERT_TRUE(GetFileInformationByHandle(h, &info));
  EXPECT_EQ(info.nNumberOfLinks, 3u);

  // The handle's path follows the file when it moves.
  ASSERT_EQ(rename(dir_.file("b.txt").c_str(), dir_.file("moved.txt").c_str()), 0);
  const std::string moved = win("moved.txt");
  char path[1024];
  DWORD n = GetFinalPathNameByHandleA(h, path, sizeof path, VOLUME_NAME_NONE);
  EXPECT_EQ(std::string(path, n), moved);
  n = GetFinalPathNameByHandleA(h, path, sizeof path, VOLUME_NAME_DOS);
  EXPECT_EQ(std::string(path, n), "\\\\?\\Z:" + moved);
  EXPECT_EQ(GetFinalPathNameByHandleA(h, path, 4, 0), n); // the length, as the A form answers
  char16_t wide[1024];
  n = GetFinalPathNameByHandleW(h, wide, 1024, VOLUME_NAME_NONE);
  EXPECT_EQ(std::u16string(wide, n), std::u16string(moved.begin(), moved.end()));
  EXPECT_EQ(GetFinalPathNameByHandleA(h, path, sizeof path, VOLUME_NAME_NT), 0u);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  CloseHandle(h);
}

TEST_F(HandleCalls, InformationClassesReadAndSet) {
  writeFile(dir_.file("info.txt"), "0123456789");
  HANDLE h = open("info.txt", GENERIC_READ | GENERIC_WRITE);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  FILE_STANDARD_INFO standard;
  ASSERT_TRUE(GetFileInformationByHandleEx(h, FileStandardInfo, &standard, sizeof standard));
  EXPECT_EQ(standard.EndOfFile.QuadPart, 10);
  EXPECT_EQ(standard.NumberOfLinks, 1u);
  EXPECT_FALSE(standard.Directory);
  EXPECT_FALSE(GetFileInformationByHandleEx(h, FileStandardInfo, &standard, 8));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_BAD_LENGTH));

  FILE_END_OF_FILE_INFO end{};
  end.EndOfFile.QuadPart = 4;
  ASSERT_TRUE(SetFileInformationByHandle(h, FileEndOfFileInfo, &end, sizeof end));
  EXPECT_EQ(readFile(dir_.file("info.txt")), "0123");

  FILE_BASIC_INFO basic{};
  basic.LastWriteTime.QuadPart = 116444736000000000LL + 10000000LL; // 1970-01-01 00:00:01
  basic.FileAttributes = FILE_ATTRIBUTE_READONLY;
  ASSERT_TRUE(SetFileInformationByHandle(h, FileBasicInfo, &basic, sizeof basic));
  FILE_BASIC_INFO read{};
  ASSERT_TRUE(GetFileInformationByHandleEx(h, FileBasicInfo, &read, sizeof read));
  EXPECT_EQ(read.LastWriteTime.QuadPart, basic.LastWriteTime.QuadPart);
  EXPECT_EQ(read.FileAttributes & FILE_ATTRIBUTE_READONLY,
            static_cast<DWORD>(FILE_ATTRIBUTE_READONLY));
  // A read-only file cannot be marked for deletion.
  FILE_DISPOSITION_INFO disposition{1};
  EXPECT_FALSE(
      SetFileInformationByHandle(h, FileDispositionInfo, &disposition, sizeof disposition));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  basic = FILE_BASIC_INFO{};
  basic.FileAttributes = FILE_ATTRIBUTE_NORMAL;
  ASSERT_TRUE(SetFileInformationByHandle(h, FileBasicInfo, &basic, sizeof basic));

  // Renamed through the handle, then deleted when it closes.
  const std::string target = win("renamed.txt");
  const std::u16string to(target.begin(), target.end());
  std::vector<char> buffer(sizeof(FILE_RENAME_INFO) + to.size() * 2);
  auto *rename = reinterpret_cast<FILE_RENAME_INFO *>(buffer.data());
  rename->u.ReplaceIfExists = 0;
  rename->RootDirectory = nullptr;
  rename->FileNameLength = static_cast<DWORD>(to.size() * 2);
  std::memcpy(rename->FileName, to.data(), to.size() * 2);
  ASSERT_TRUE(
      SetFileInformationByHandle(h, FileRenameInfo, rename, static_cast<DWORD>(buffer.size())));
  EXPECT_FALSE(exists(dir_.file("info.txt")));
  ASSERT_TRUE(SetFileInformationByHandle(h, FileDispositionInfo, &disposition, sizeof disposition));
  ASSERT_TRUE(GetFileInformationByHandleEx(h, FileStandardInfo, &standard, sizeof standard));
  EXPECT_TRUE(standard.DeletePending);
  EXPECT_TRUE(exists(dir_.file("renamed.txt"))); // until the handle closes
  CloseHandle(h);
  EXPECT_FALSE(exists(dir_.file("renamed.txt")));

  // Setting needs a handle that may write.
  writeFile(dir_.file("ro.txt"), "x");
  HANDLE reader = open("ro.txt", GENERIC_READ);
  EXPECT_FALSE(SetFileInformationByHandle(reader, FileEndOfFileInfo, &end, sizeof end));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_FALSE(
      GetFileInformationByHandleEx(reader, FileAllocationInfo, &standard, sizeof standard));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  CloseHandle(reader);
}

// A handle that may only read neither sets nor clears the read-only mark.
TEST_F(HandleCalls, AReadOnlyHandleChangesNoAttribute) {
  // The file's mode, the attributes asked for
  const std::vector<std::pair<mode_t, DWORD>> cases = {{0644, FILE_ATTRIBUTE_READONLY},
                                                       {0444, FILE_ATTRIBUTE_NORMAL}};
  for (const auto &[mode, attributes] : cases) {
    SCOPED_TRACE(attributes);
    writeFile(dir_.file("basic.txt"), "x");
    ASSERT_EQ(chmod(dir_.file("basic.txt").c_str(), mode), 0);
    struct stat before;
    ASSERT_EQ(stat(dir_.file("basic.txt").c_str(), &before), 0);
    HANDLE reader = open("basic.txt", GENERIC_READ);
    ASSERT_NE(reader, INVALID_HANDLE_VALUE);
    FILE_BASIC_INFO basic{};
    basic.FileAttributes = attributes; // no time: the mark alone is asked for
    EXPECT_FALSE(SetFileInformationByHandle(reader, FileBasicInfo, &basic, sizeof basic));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    CloseHandle(reader);
    struct stat after;
    ASSERT_EQ(stat(dir_.file("basic.txt").c_str(), &after), 0);
    EXPECT_EQ(after.st_mode, before.st_mode);
    ASSERT_EQ(chmod(dir_.file("basic.txt").c_str(), 0644), 0);
    DeleteFileA(win("basic.txt").c_str());
  }
}

} // namespace
