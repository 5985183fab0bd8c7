// fileAccess line reads and opening, the directory test and the listing by extension.
#include <velmora/files.h>

namespace {

// Room the line buffer is given, and the size handed to the read: one read brings at most 258
// characters and the terminator.
constexpr int kLineBuffer = 260;
constexpr UINT kReadSize = 259;

// The text without one final backslash.
CString withoutFinalBackslash(CString copy) {
  int length = copy.GetLength();
  if (length > 0 && copy.GetString()[length - 1] == '\\')
    copy = copy.Left(length - 1);
  return copy;
}

// Closes a directory search however the walk ends (a list can throw its memory exception).
class Search {
public:
  Search(LPCSTR pattern, WIN32_FIND_DATAA &data) : handle_(FindFirstFileA(pattern, &data)) {}
  ~Search() {
    if (found())
      FindClose(handle_);
  }
  Search(const Search &) = delete;
  Search &operator=(const Search &) = delete;
  bool found() const { return handle_ != INVALID_HANDLE_VALUE; }
  bool next(WIN32_FIND_DATAA &data) { return FindNextFileA(handle_, &data) != FALSE; }

private:
  HANDLE handle_;
};

} // namespace

int fileAccess::ReadLine(CString &line) {
  const int previous = line.GetLength();
  LPTSTR buffer = line.GetBuffer(kLineBuffer);
  if (ReadString(buffer, kReadSize) == nullptr) {
    // Nothing was read: the buffer still holds the old text.
    line.ReleaseBuffer(previous);
    return 0;
  }
  line.ReleaseBuffer();
  return line.GetLength();
}

int fileAccess::SafeOpen(const CString &path, unsigned flags) {
  return Open(path, flags, nullptr) ? 1 : 0;
}

int su_DirectoryExists(const char *path) {
  CString target = withoutFinalBackslash(path);
  WIN32_FIND_DATAA data;
  Search search(target, data);
  if (!search.found())
    return 0;
  do {
    if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
      return 1;
  } while (search.next(data));
  return 0;
}

void su_FindFilesWithExt(const CString &directory, const CString &extension, CStringList &names) {
  CString pattern = withoutFinalBackslash(directory) + "\\*." + extension;
  // Names are all the list takes: the listing makes no status call per entry.
  vlx::findNames(
      pattern,
      [](void *list, const char *name) { static_cast<CStringList *>(list)->AddTail(name); },
      &names);
}
