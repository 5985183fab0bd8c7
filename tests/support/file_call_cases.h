// How the file calls answer where Windows has rules of its own: the tables the POSIX file calls'
// tests and the check run on Windows (tests/windows/) both read. The call cases at the end run
// the same Win32 calls on both systems.
#pragma once

#ifdef _WIN32
#include <windows.h>
#else
#include <velmora/win32.h>

#include <sys/mman.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

namespace vlx::test {

// How CreateFile answers names that Windows reads its own way, relative to a folder that holds
// the file "gear.txt" and the folder "temp".
struct OpenCase {
  const char *name;     // below the folder, after "\\" (or after "\\\\?\\" and the folder)
  bool verbatim;        // with the long-path prefix
  unsigned disposition; // OPEN_EXISTING 3, CREATE_NEW 1, OPEN_ALWAYS 4
  unsigned flags;       // 0 or FILE_FLAG_BACKUP_SEMANTICS
  unsigned error;       // ERROR_SUCCESS (and ERROR_ALREADY_EXISTS for OPEN_ALWAYS): a handle
};

inline const std::vector<OpenCase> &openCases() {
  constexpr unsigned openExisting = 3;
  constexpr unsigned createNew = 1;
  constexpr unsigned openAlways = 4;
  constexpr unsigned backup = 0x02000000;
  static const std::vector<OpenCase> cases = {
      // A folder opens only with backup semantics.
      {"temp", false, openExisting, 0, 5},
      {"temp", false, createNew, 0, 5},
      {"temp", false, openExisting, backup, 0},
      {"temp\\", true, openExisting, backup, 0},
      // Without them, a folder named with a final separator is no file's path.
      {"temp\\", false, openExisting, 0, 3},
      {"temp\\", true, openExisting, 0, 3},
      // Trailing dots and spaces go, but not after the prefix.
      {"gear.txt.", false, openExisting, 0, 0},
      {"gear.txt . ", false, openExisting, 0, 0},
      {"gear.txt.", true, openExisting, 0, 2},
      // NUL in any folder and with any extension.
      {"nul", false, openExisting, 0, 0},
      {"temp\\NUL.txt", false, openExisting, 0, 0},
      // A colon in a folder's name.
      {"c:\\gear.txt", false, openExisting, 0, 123},
      {"temp\\..\\gear.txt", true, openExisting, 0, 123},
      // Names are found without regard to case, after the prefix too; a name that exists in
      // another case is that file, never a second one.
      {"GEAR.TXT", false, openExisting, 0, 0},
      {"Gear.Txt", false, createNew, 0, 80},
      {"GEAR.txt", false, openAlways, 0, 183},
      {"TEMP", false, openExisting, backup, 0},
      {"Temp\\NEW.txt", false, createNew, 0, 0},
      {"TEMP\\new.TXT", true, openExisting, 0, 0},
      {"TEMP\\missing.txt", false, openExisting, 0, 2},
  };
  return cases;
}

// The calls on names, applied in order in the same folder (holding "gear.txt" and "temp"),
// with names in other cases than the entries have.
enum class NameCall { Attributes, CreateFolder, RemoveFolder, Move, CopyNew, Delete, Find };

struct NameStep {
  NameCall call;
  const char *name;  // below the folder, after "\\"
  const char *other; // Move and CopyNew: the new name; Find: the name the first match has
  unsigned error;
};

inline const std::vector<NameStep> &nameSteps() {
  using C = NameCall;
  static const std::vector<NameStep> steps = {
      {C::Attributes, "GEAR.TXT", nullptr, 0},
      {C::CreateFolder, "TEMP", nullptr, 183},
      {C::CreateFolder, "Temp\\Sub", nullptr, 0},
      {C::Find, "TEMP\\s*", "Sub", 0},
      {C::Find, "temp\\SUB", "Sub", 0},
      {C::CopyNew, "Gear.txt", "TEMP\\SUB\\copy.txt", 0},
      {C::CopyNew, "gear.txt", "temp\\sub\\COPY.TXT", 80},
      {C::Move, "temp\\sub\\copy.txt", "GEAR.TXT", 183},
      // Another case of its own name renames the file.
      {C::Move, "TEMP\\SUB\\COPY.TXT", "temp\\sub\\Copy.Txt", 0},
      {C::Find, "temp\\sub\\copy.txt", "Copy.Txt", 0},
      {C::Delete, "TEMP\\Sub\\COPY.TXT", nullptr, 0},
      {C::Delete, "TEMP\\Sub\\COPY.TXT", nullptr, 2},
      {C::RemoveFolder, "TEMP\\SUB", nullptr, 0},
      {C::Attributes, "temp\\sub", nullptr, 2},
  };
  return steps;
}

// What a handle opened with `access` on a file holding "0123456789" does: a read of 4 bytes
// from the start, then a write of "ab" at the start, and what the file holds afterwards.
struct RightsCase {
  const char *what;
  unsigned access;
  bool reads, writes;
  const char *content;
};

inline const std::vector<RightsCase> &rightsCases() {
  constexpr unsigned readData = 0x0001, writeData = 0x0002, appendData = 0x0004;
  constexpr unsigned genericRead = 0x80000000u, genericWrite = 0x40000000u;
  constexpr unsigned fileGenericRead = 0x120089, fileGenericWrite = 0x120116;
  static const std::vector<RightsCase> cases = {
      {"FILE_READ_DATA", readData, true, false, "0123456789"},
      {"FILE_WRITE_DATA", writeData, false, true, "ab23456789"},
      // Appending alone never overwrites: the write lands at the end.
      {"FILE_APPEND_DATA", appendData, false, true, "0123456789ab"},
      {"FILE_READ_DATA | FILE_APPEND_DATA", readData | appendData, true, true, "0123456789ab"},
      {"FILE_GENERIC_READ", fileGenericRead, true, false, "0123456789"},
      {"FILE_GENERIC_WRITE", fileGenericWrite, false, true, "ab23456789"},
      {"GENERIC_READ | GENERIC_WRITE", genericRead | genericWrite, true, true, "ab23456789"},
  };
  return cases;
}

// A few calls in a fresh folder (a Windows path), told as one line of what they answered and
// what the files then hold, compared with the line Windows gives.
struct CallCase {
  const char *what;
  std::string (*run)(const std::string &dir, unsigned arg);
  unsigned arg;
  const char *expected;
};

namespace calls {

inline std::string lastError() { return "error " + std::to_string(GetLastError()); }

inline bool put(const std::string &path, const char *text) {
  HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  DWORD done = 0;
  const bool ok = h != INVALID_HANDLE_VALUE &&
                  WriteFile(h, text, static_cast<DWORD>(std::string(text).size()), &done, nullptr);
  if (h != INVALID_HANDLE_VALUE)
    CloseHandle(h);
  return ok;
}

// The file's text, "(folder)" or "(missing)".
inline std::string get(const std::string &path) {
  const DWORD attributes = GetFileAttributesA(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES)
    return "(missing)";
  if (attributes & FILE_ATTRIBUTE_DIRECTORY)
    return "(folder)";
  HANDLE h = CreateFileA(path.c_str(), GENERIC_READ,
                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         OPEN_EXISTING, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE)
    return "(unreadable)";
  char buffer[64];
  DWORD done = 0;
  ReadFile(h, buffer, sizeof buffer, &done, nullptr);
  CloseHandle(h);
  return std::string(buffer, done);
}

// The accesses of Wine's DuplicateHandle matrix, by short names.
struct Access {
  const char *name;
  DWORD rights;
};
inline const std::vector<Access> &accesses() {
  const DWORD gr = static_cast<DWORD>(GENERIC_READ), gw = static_cast<DWORD>(GENERIC_WRITE);
  static const std::vector<Access> list = {
      {"GR|GW", gr | gw},
      {"GW", gw},
      {"GR", gr},
      {"RD|WD", FILE_READ_DATA | FILE_WRITE_DATA},
      {"WD", FILE_WRITE_DATA},
      {"RD", FILE_READ_DATA},
      {"AD", FILE_APPEND_DATA},
      {"RD|AD", FILE_READ_DATA | FILE_APPEND_DATA},
      {"WD|AD", FILE_WRITE_DATA | FILE_APPEND_DATA},
      {"0", 0},
  };
  return list;
}

// The accesses a handle opened with accesses()[arg] may be duplicated with.
inline std::string duplicates(const std::string &dir, unsigned arg) {
  const std::string path = dir + "\\dup.txt";
  put(path, "");
  HANDLE h = CreateFileA(path.c_str(), accesses()[arg].rights,
                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         OPEN_EXISTING, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE)
    return "open: " + lastError();
  std::string granted;
  for (const Access &wanted : accesses()) {
    HANDLE copy = nullptr;
    SetLastError(0);
    if (DuplicateHandle(GetCurrentProcess(), h, GetCurrentProcess(), &copy, wanted.rights, FALSE,
                        0)) {
      granted += (granted.empty() ? "" : " ") + std::string(wanted.name);
      CloseHandle(copy);
    } else if (GetLastError() != ERROR_ACCESS_DENIED) {
      granted += " (" + std::string(wanted.name) + ": " + lastError() + ")";
    }
  }
  CloseHandle(h);
  return granted;
}

// MoveFileExA with MOVEFILE_REPLACE_EXISTING onto a file open with every share mode, then after
// the handle is closed.
inline std::string moveOntoOpenFile(const std::string &dir, unsigned) {
  const std::string from = dir + "\\a.txt", to = dir + "\\b.txt";
  put(from, "a");
  put(to, "b");
  HANDLE h =
      CreateFileA(to.c_str(), GENERIC_ALL, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                  nullptr, OPEN_EXISTING, 0, nullptr);
  std::string out = MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING)
                        ? std::string("moved")
                        : lastError();
  out += ", b.txt " + get(to);
  CloseHandle(h);
  out += MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING)
             ? "; closed: moved"
             : "; closed: " + lastError();
  return out + ", b.txt " + get(to);
}

// MoveFileExA with MOVEFILE_REPLACE_EXISTING between files and folders.
inline std::string moveFolders(const std::string &dir, unsigned) {
  const std::string file = dir + "\\f.txt", one = dir + "\\one", two = dir + "\\two";
  put(file, "f");
  CreateDirectoryA(one.c_str(), nullptr);
  CreateDirectoryA(two.c_str(), nullptr);
  const DWORD replace = MOVEFILE_REPLACE_EXISTING;
  std::string out = "file onto folder: ";
  out += MoveFileExA(file.c_str(), one.c_str(), replace) ? "moved" : lastError();
  out += "; folder onto folder: ";
  out += MoveFileExA(one.c_str(), two.c_str(), replace) ? "moved" : lastError();
  out += "; folder onto file: ";
  out += MoveFileExA(one.c_str(), file.c_str(), replace) ? "moved" : lastError();
  return out + ", f.txt " + get(file);
}

// FILE_FLAG_DELETE_ON_CLOSE on a read-only file and on a writable one.
inline std::string deleteOnClose(const std::string &dir, unsigned) {
  const std::string path = dir + "\\ro.txt";
  const DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
  put(path, "ro");
  SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_READONLY);
  auto open = [&](DWORD flags) {
    HANDLE h = CreateFileA(path.c_str(), DELETE, share, nullptr, OPEN_EXISTING, flags, nullptr);
    if (h == INVALID_HANDLE_VALUE)
      return lastError();
    CloseHandle(h);
    return std::string("opens");
  };
  std::string out = "read-only: " + open(FILE_FLAG_DELETE_ON_CLOSE);
  out += ", without the flag " + open(0);
  out += ", DeleteFileA " + (DeleteFileA(path.c_str()) ? std::string("deletes") : lastError());
  out += ", ro.txt " + get(path);
  SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
  out += "; writable: " + open(FILE_FLAG_DELETE_ON_CLOSE);
  return out + ", ro.txt " + get(path);
}

// ReplaceFileA where the replaced file (arg 0) or the replacement (arg 1) is read-only.
inline std::string replaceReadOnly(const std::string &dir, unsigned arg) {
  const std::string doc = dir + "\\doc.txt", fresh = dir + "\\doc.tmp", backup = dir + "\\doc.bak";
  put(doc, "old");
  put(fresh, "new");
  const std::string &locked = arg == 0 ? doc : fresh;
  SetFileAttributesA(locked.c_str(), FILE_ATTRIBUTE_READONLY);
  std::string out = ReplaceFileA(doc.c_str(), fresh.c_str(), arg == 0 ? backup.c_str() : nullptr, 0,
                                 nullptr, nullptr)
                        ? std::string("replaced")
                        : lastError();
  SetFileAttributesA(locked.c_str(), FILE_ATTRIBUTE_NORMAL);
  return out + ", doc.txt " + get(doc) + ", doc.tmp " + get(fresh);
}

inline DWORD CALLBACK answerAtOnce(LARGE_INTEGER, LARGE_INTEGER, LARGE_INTEGER, LARGE_INTEGER,
                                   DWORD, DWORD, HANDLE, HANDLE, LPVOID data) {
  return *static_cast<DWORD *>(data);
}

// CopyFileExA onto a file holding "old", whose progress routine answers `arg` at once.
inline std::string copyAnswered(const std::string &dir, unsigned arg) {
  const std::string from = dir + "\\src.txt", to = dir + "\\dst.txt";
  put(from, "new");
  put(to, "old");
  DWORD answer = arg;
  std::string out = CopyFileExA(from.c_str(), to.c_str(), answerAtOnce, &answer, nullptr, 0)
                        ? std::string("copied")
                        : lastError();
  const std::string now = get(to);
  // What a stopped copy leaves may be cut short anywhere.
  return out + ", dst.txt " + (now == "(missing)" || arg != PROGRESS_STOP ? now : "(there)");
}

// GetFileAttributesExW on names that are no file's: Wine's test_GetFileAttributesExW.
inline std::string attributesOfOddNames(const std::string &, unsigned) {
  std::string out;
  for (const char *name : {"\\\\?\\", "\\??\\", "\\DosDevices\\"}) {
    std::basic_string<WCHAR> wide(name, name + std::string(name).size());
    WIN32_FILE_ATTRIBUTE_DATA data;
    SetLastError(0);
    const BOOL found = GetFileAttributesExW(wide.c_str(), GetFileExInfoStandard, &data);
    out += (out.empty() ? "" : ", ") + std::string(name) + " " +
           (found ? std::string("found") : lastError());
  }
  return out;
}

// Two pages of which only the first may be touched; `page` is set to their size.
inline char *pagesWithHole(size_t *page) {
#ifdef _WIN32
  SYSTEM_INFO info;
  GetSystemInfo(&info);
  *page = info.dwPageSize;
  auto *pages = static_cast<char *>(
      VirtualAlloc(nullptr, 2 * *page, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
  DWORD old = 0;
  VirtualProtect(pages + *page, *page, PAGE_NOACCESS, &old);
  return pages;
#else
  *page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
  void *pages =
      mmap(nullptr, 2 * *page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  mprotect(static_cast<char *>(pages) + *page, *page, PROT_NONE);
  return static_cast<char *>(pages);
#endif
}

inline void freePages(char *pages, size_t page) {
#ifdef _WIN32
  (void)page;
  VirtualFree(pages, 0, MEM_RELEASE);
#else
  munmap(pages, 2 * page);
#endif
}

inline std::string done(BOOL ok, const char *what) { return ok ? std::string(what) : lastError(); }

// A handle for reading and writing, shared with no one, on a new file holding `text`.
inline HANDLE putAndOpen(const std::string &path, const char *text) {
  put(path, text);
  return CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0,
                     nullptr);
}

// A file this process maps is cut, replaced and deleted by no call while a view shows it
// (Wine's test_file_sharing, test_CopyFileA, test_DeleteFileA).
inline std::string mappedFileKept(const std::string &dir, unsigned) {
  const std::string path = dir + "\\m.txt", other = dir + "\\o.txt";
  put(path, "0123456789");
  put(other, "other");
  const DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
  HANDLE h = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, share, nullptr, OPEN_EXISTING,
                         0, nullptr);
  HANDLE mapping = CreateFileMappingA(h, nullptr, PAGE_READWRITE, 0, 0, nullptr);
  const auto *view = static_cast<const char *>(MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0));
  if (!view)
    return "map: " + lastError();
  SetFilePointer(h, 4, nullptr, FILE_BEGIN);
  std::string out = "SetEndOfFile " + done(SetEndOfFile(h), "cuts");
  CloseHandle(h);
  auto opens = [&](DWORD disposition) {
    HANDLE again =
        CreateFileA(path.c_str(), GENERIC_WRITE, share, nullptr, disposition, 0, nullptr);
    if (again == INVALID_HANDLE_VALUE)
      return lastError();
    CloseHandle(again);
    return std::string("opens");
  };
  out += ", CREATE_ALWAYS " + opens(CREATE_ALWAYS);
  out += ", TRUNCATE_EXISTING " + opens(TRUNCATE_EXISTING);
  out += ", CopyFileA " + done(CopyFileA(other.c_str(), path.c_str(), FALSE), "copies");
  out += ", MoveFileExA onto it " +
         done(MoveFileExA(other.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING), "moves");
  out += ", DeleteFileA " + done(DeleteFileA(path.c_str()), "deletes");
  out += ", view " + std::string(view, 10);
  UnmapViewOfFile(view);
  CloseHandle(mapping);
  return out + "; closed: DeleteFileA " + done(DeleteFileA(path.c_str()), "deletes");
}

// PAGE_WRITECOPY on a read-only handle: read views, and copy views whose writes stay here; views
// of the whole mapping and no more.
inline std::string copyOnWrite(const std::string &dir, unsigned) {
  const std::string path = dir + "\\c.txt";
  put(path, "0123456789");
  HANDLE h =
      CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  HANDLE mapping = CreateFileMappingA(h, nullptr, PAGE_WRITECOPY, 0, 0, nullptr);
  CloseHandle(h);
  if (!mapping)
    return "mapping: " + lastError();
  const auto *read = static_cast<const char *>(MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 10));
  auto *copy = static_cast<char *>(MapViewOfFile(mapping, FILE_MAP_COPY, 0, 0, 0));
  if (!read || !copy)
    return "view: " + lastError();
  copy[0] = 'X';
  std::string out = "read view " + std::string(read, 10) + ", copy view " + std::string(copy, 10);
  void *write = MapViewOfFile(mapping, FILE_MAP_WRITE, 0, 0, 0);
  out += ", write view " + done(write != nullptr, "maps");
  void *more = MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 11);
  out += ", 11 of 10 bytes " + done(more != nullptr, "maps");
  const void *views[] = {read, copy, write, more};
  for (const void *view : views)
    if (view)
      UnmapViewOfFile(view);
  CloseHandle(mapping);
  return out + ", c.txt " + get(path);
}

// A synchronous handle given an OVERLAPPED moves data at its offset (test_offset_in_overlapped_
// structure); a read there at the end is ERROR_HANDLE_EOF (test_overlapped_read).
inline std::string atOffsets(const std::string &dir, unsigned) {
  const std::string path = dir + "\\f.txt";
  HANDLE h = putAndOpen(path, "0123456789");
  OVERLAPPED at = {};
  at.Offset = 2;
  char buffer[4];
  DWORD moved = 99;
  std::string out = ReadFile(h, buffer, 2, &moved, &at) ? "read " + std::string(buffer, moved)
                                                        : "read " + lastError();
  out += ", pointer " + std::to_string(SetFilePointer(h, 0, nullptr, FILE_CURRENT));
  at.Offset = 10;
  out += ", at the end " + done(ReadFile(h, buffer, 2, &moved, &at), "reads");
  out += " " + std::to_string(moved);
  out += ", write there " + done(WriteFile(h, "ab", 2, &moved, &at), "writes");
  out += ", pointer " + std::to_string(SetFilePointer(h, 0, nullptr, FILE_CURRENT));
  CloseHandle(h);
  return out + ", f.txt " + get(path);
}

// Null buffers, and buffers whose end cannot be touched, move nothing (test_read_write).
inline std::string unusableBuffers(const std::string &dir, unsigned) {
  const std::string path = dir + "\\f.txt";
  HANDLE h = putAndOpen(path, "0123456789");
  DWORD moved = 99;
  std::string out = "WriteFile null 0 " + done(WriteFile(h, nullptr, 0, &moved, nullptr), "writes");
  out += ", null 10 " + done(WriteFile(h, nullptr, 10, &moved, nullptr), "writes");
  out += " " + std::to_string(moved);
  out += ", ReadFile null 10 " + done(ReadFile(h, nullptr, 10, &moved, nullptr), "reads");
  size_t page = 0;
  char *pages = pagesWithHole(&page);
  std::memcpy(pages + page - 4, "wxyz", 4);
  out += ", WriteFile over the hole " +
         done(WriteFile(h, pages + page - 4, 8, &moved, nullptr), "writes");
  out += " " + std::to_string(moved);
  out += ", ReadFile into it " + done(ReadFile(h, pages + page - 4, 8, &moved, nullptr), "reads");
  out += " " + std::to_string(moved) + " " + std::string(pages + page - 4, 4);
  out += ", pointer " + std::to_string(SetFilePointer(h, 0, nullptr, FILE_CURRENT));
  freePages(pages, page);
  CloseHandle(h);
  return out + ", f.txt " + get(path);
}

// Locks next to a lock of no bytes, as test_LockFile takes them.
inline std::string zeroLengthLocks(const std::string &dir, unsigned) {
  const std::string path = dir + "\\l.txt";
  HANDLE h = putAndOpen(path, "0123456789");
  std::string out = "100,0 " + done(LockFile(h, 100, 0, 0, 0), "locks");
  out += ", 98,4 " + done(LockFile(h, 98, 0, 4, 0), "locks");
  out += ", 90,10 " + done(LockFile(h, 90, 0, 10, 0), "locks");
  out += ", 100,10 " + done(LockFile(h, 100, 0, 10, 0), "locks");
  out += ", unlock 90,10 " + done(UnlockFile(h, 90, 0, 10, 0), "unlocks");
  out += ", 100,10 " + done(UnlockFile(h, 100, 0, 10, 0), "unlocks");
  out += ", 100,0 " + done(UnlockFile(h, 100, 0, 0, 0), "unlocks");
  CloseHandle(h);
  return out;
}

// FindFirstFileA through the device NUL (test_FindFirstFileA).
inline std::string findThroughNul(const std::string &dir, unsigned) {
  std::string out;
  for (const char *name : {"nul\\*", "missing\\nul\\bar", "nul*", "missing\\bar\\nul"}) {
    WIN32_FIND_DATAA data;
    HANDLE found = FindFirstFileA((dir + "\\" + name).c_str(), &data);
    out += (out.empty() ? "" : ", ") + std::string(name) + " " +
           (found == INVALID_HANDLE_VALUE ? lastError() : std::string("found"));
    if (found != INVALID_HANDLE_VALUE)
      FindClose(found);
  }
  return out;
}

// Sizes no address space holds (test_MapFile), and TRUNCATE_EXISTING without GENERIC_WRITE
// (test_CreateFile).
inline std::string sizesAndRights(const std::string &dir, unsigned) {
  const std::string path = dir + "\\f.txt";
  HANDLE h = putAndOpen(path, "x");
  HANDLE mapping = CreateFileMappingA(h, nullptr, PAGE_READWRITE, 0x8000000, 0x10000, nullptr);
  std::string out = "2^59 bytes " + done(mapping != nullptr, "map");
  if (mapping)
    CloseHandle(mapping);
  CloseHandle(h);
  HANDLE cut =
      CreateFileA(path.c_str(), FILE_WRITE_DATA, 0, nullptr, TRUNCATE_EXISTING, 0, nullptr);
  out += ", TRUNCATE_EXISTING with FILE_WRITE_DATA " + done(cut != INVALID_HANDLE_VALUE, "opens");
  if (cut != INVALID_HANDLE_VALUE)
    CloseHandle(cut);
  return out + ", f.txt " + get(path);
}

// The name and priority classes, and the final path's size when the buffer is short
// (test_GetFileInformationByHandleEx, test_SetFileInformationByHandle,
// test_GetFinalPathNameByHandleA).
inline std::string namesAndHints(const std::string &dir, unsigned) {
  const std::string path = dir + "\\f.txt";
  HANDLE h = putAndOpen(path, "x");
  char full[1024];
  const DWORD length = GetFinalPathNameByHandleA(h, full, sizeof full, VOLUME_NAME_DOS);
  char shortBuffer[1024];
  std::memset(shortBuffer, 'q', sizeof shortBuffer);
  const DWORD answer = GetFinalPathNameByHandleA(h, shortBuffer, length, VOLUME_NAME_DOS);
  std::string out = "short buffer " + std::string(answer == length ? "length" : "other") +
                    (shortBuffer[0] == 'q' ? ", untouched" : ", written");
  char below[1024];
  const DWORD belowLength = GetFinalPathNameByHandleA(h, below, sizeof below, VOLUME_NAME_NONE);
  alignas(8) char buffer[2048];
  auto *name = reinterpret_cast<FILE_NAME_INFO *>(buffer);
  if (GetFileInformationByHandleEx(h, FileNameInfo, name, sizeof buffer)) {
    const std::basic_string<WCHAR> wide(name->FileName, name->FileNameLength / sizeof(WCHAR));
    const std::string text(wide.begin(), wide.end());
    out +=
        ", FileNameInfo " +
        std::string(text == std::string(below, belowLength) ? "the path below the volume" : text);
  } else {
    out += ", FileNameInfo " + lastError();
  }
  FILE_IO_PRIORITY_HINT_INFO hint = {};
  out += ", priority: read " +
         done(GetFileInformationByHandleEx(h, FileIoPriorityHintInfo, &hint, sizeof hint), "reads");
  hint.PriorityHint = IoPriorityHintNormal;
  out += ", normal " +
         done(SetFileInformationByHandle(h, FileIoPriorityHintInfo, &hint, sizeof hint), "set");
  out += ", short " +
         done(SetFileInformationByHandle(h, FileIoPriorityHintInfo, &hint, sizeof hint - 1), "set");
  hint.PriorityHint = MaximumIoPriorityHintType;
  out += ", maximum " +
         done(SetFileInformationByHandle(h, FileIoPriorityHintInfo, &hint, sizeof hint), "set");
  CloseHandle(h);
  return out;
}

// A folder's entries through FileIdBothDirectoryInfo, one a call in a buffer that holds one.
inline std::string folderEntries(const std::string &dir, unsigned) {
  put(dir + "\\a.txt", "a");
  CreateDirectoryA((dir + "\\sub").c_str(), nullptr);
  HANDLE h = CreateFileA(dir.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                         OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (h == INVALID_HANDLE_VALUE)
    return "open: " + lastError();
  alignas(8) char buffer[sizeof(FILE_ID_BOTH_DIR_INFO) + 32];
  std::string out =
      "no room " +
      done(GetFileInformationByHandleEx(h, FileIdBothDirectoryInfo, nullptr, 0), "reads");
  out += ", null " +
         done(GetFileInformationByHandleEx(h, FileIdBothDirectoryInfo, nullptr, sizeof buffer),
              "reads");
  std::vector<std::string> names;
  while (GetFileInformationByHandleEx(h, FileIdBothDirectoryInfo, buffer, sizeof buffer)) {
    for (const char *at = buffer;;) {
      const auto *entry = reinterpret_cast<const FILE_ID_BOTH_DIR_INFO *>(at);
      const std::basic_string<WCHAR> wide(entry->FileName, entry->FileNameLength / sizeof(WCHAR));
      names.emplace_back(wide.begin(), wide.end());
      if (!entry->NextEntryOffset)
        break;
      at += entry->NextEntryOffset;
    }
  }
  out += ", then " + lastError() + ", entries";
  std::sort(names.begin(), names.end());
  for (const std::string &name : names)
    out += " " + name;
  CloseHandle(h);
  return out;
}

} // namespace calls

inline const std::vector<CallCase> &callCases() {
  using namespace calls;
  static const std::vector<CallCase> cases = {
      // A duplicate gets no right its source lacks: ERROR_ACCESS_DENIED, as in Wine's
      // test_file_access, where the generic rights stand for all their specific ones.
      {"DuplicateHandle from GR|GW", duplicates, 0, "GR|GW GW GR RD|WD WD RD AD RD|AD WD|AD 0"},
      {"DuplicateHandle from GW", duplicates, 1, "GW WD AD WD|AD 0"},
      {"DuplicateHandle from GR", duplicates, 2, "GR RD 0"},
      {"DuplicateHandle from RD|WD", duplicates, 3, "RD|WD WD RD 0"},
      {"DuplicateHandle from WD", duplicates, 4, "WD 0"},
      {"DuplicateHandle from RD", duplicates, 5, "RD 0"},
      {"DuplicateHandle from AD", duplicates, 6, "AD 0"},
      {"DuplicateHandle from RD|AD", duplicates, 7, "RD AD RD|AD 0"},
      {"DuplicateHandle from WD|AD", duplicates, 8, "WD AD WD|AD 0"},
      {"DuplicateHandle from 0", duplicates, 9, "0"},
      // Windows renames over no open file, whatever it shares (Wine's test_move_file).
      {"MoveFileExA onto an open file", moveOntoOpenFile, 0,
       "error 5, b.txt b; closed: moved, b.txt a"},
      {"MoveFileExA with folders", moveFolders, 0,
       "file onto folder: error 5; folder onto folder: error 5; folder onto file: moved, f.txt "
       "(folder)"},
      // test_file_readonly_access: a read-only file is deleted neither way.
      {"FILE_FLAG_DELETE_ON_CLOSE", deleteOnClose, 0,
       "read-only: error 5, without the flag opens, DeleteFileA error 5, ro.txt ro; writable: "
       "opens, ro.txt (missing)"},
      // test_ReplaceFileA: either file read-only is ERROR_ACCESS_DENIED, and nothing moves.
      {"ReplaceFileA, read-only replaced file", replaceReadOnly, 0,
       "error 5, doc.txt old, doc.tmp new"},
      {"ReplaceFileA, read-only replacement", replaceReadOnly, 1,
       "error 5, doc.txt old, doc.tmp new"},
      // PROGRESS_CANCEL deletes the target (test_CopyFileEx); PROGRESS_STOP leaves it for a
      // restart.
      {"CopyFileExA, PROGRESS_CANCEL", copyAnswered, PROGRESS_CANCEL,
       "error 1235, dst.txt (missing)"},
      {"CopyFileExA, PROGRESS_STOP", copyAnswered, PROGRESS_STOP, "error 1235, dst.txt (there)"},
      {"GetFileAttributesExW of odd names", attributesOfOddNames, 0,
       "\\\\?\\ error 123, \\??\\ error 123, \\DosDevices\\ error 2"},
      {"A mapped file", mappedFileKept, 0,
       "SetEndOfFile error 1224, CREATE_ALWAYS error 1224, TRUNCATE_EXISTING error 1224, "
       "CopyFileA error 1224, MoveFileExA onto it error 5, DeleteFileA error 5, view 0123456789; "
       "closed: DeleteFileA deletes"},
      {"PAGE_WRITECOPY", copyOnWrite, 0,
       "read view 0123456789, copy view X123456789, write view error 5, 11 of 10 bytes error 5, "
       "c.txt 0123456789"},
      {"ReadFile and WriteFile at offsets", atOffsets, 0,
       "read 23, pointer 4, at the end error 38 0, write there writes, pointer 12, f.txt "
       "0123456789ab"},
      {"Unusable buffers", unusableBuffers, 0,
       "WriteFile null 0 writes, null 10 error 1784 0, ReadFile null 10 error 998, WriteFile over "
       "the hole error 1784 0, ReadFile into it error 998 0 wxyz, pointer 0, f.txt 0123456789"},
      {"LockFile beside a lock of no bytes", zeroLengthLocks, 0,
       "100,0 locks, 98,4 error 33, 90,10 locks, 100,10 error 33, unlock 90,10 unlocks, 100,10 "
       "error 158, 100,0 unlocks"},
      {"FindFirstFileA through NUL", findThroughNul, 0,
       "nul\\* error 3, missing\\nul\\bar error 3, nul* error 2, missing\\bar\\nul error 3"},
      {"Sizes and rights", sizesAndRights, 0,
       "2^59 bytes error 8, TRUNCATE_EXISTING with FILE_WRITE_DATA error 87, f.txt x"},
      {"Name and priority classes", namesAndHints, 0,
       "short buffer length, untouched, FileNameInfo the path below the volume, priority: read "
       "error 87, normal set, short error 24, maximum error 87"},
      {"FileIdBothDirectoryInfo", folderEntries, 0,
       "no room error 24, null error 998, then error 18, entries . .. a.txt sub"},
  };
  return cases;
}

} // namespace vlx::test
