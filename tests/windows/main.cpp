// The check program of the Windows build: runs every group and exits non-zero on a failure.
#include "check.h"

#include <windows.h>

#include <cstdio>
#include <cstring>

namespace vlx::check {

namespace {
int failures = 0;
}

bool expect(bool ok, const char *file, int line, const std::string &what) {
  if (!ok) {
    const char *base = std::strrchr(file, '/');
    const char *back = std::strrchr(file, '\\');
    base = back > base ? back : base;
    std::printf("%s:%d: %s\n", base ? base + 1 : file, line, what.c_str());
    ++failures;
  }
  return ok;
}

int failureCount() { return failures; }

bool underWine() {
  HMODULE ntdll = GetModuleHandleA("ntdll.dll");
  return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

std::string makeScratch(const char *stem) {
  char base[MAX_PATH];
  GetTempPathA(MAX_PATH, base);
  std::string path =
      std::string(base) + "vlxcheck" + std::to_string(GetCurrentProcessId()) + "-" + stem;
  if (!CreateDirectoryA(path.c_str(), nullptr))
    expect(false, __FILE__, __LINE__, "cannot make the scratch directory " + path);
  return path;
}

void removeTree(const std::wstring &path) {
  WIN32_FIND_DATAW data;
  HANDLE search = FindFirstFileW((path + L"\\*").c_str(), &data);
  if (search != INVALID_HANDLE_VALUE) {
    do {
      std::wstring name = data.cFileName;
      if (name == L"." || name == L"..")
        continue;
      std::wstring entry = path + L"\\" + name;
      SetFileAttributesW(entry.c_str(), FILE_ATTRIBUTE_NORMAL);
      if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
        removeTree(entry);
      else
        DeleteFileW(entry.c_str());
    } while (FindNextFileW(search, &data));
    FindClose(search);
  }
  RemoveDirectoryW(path.c_str());
}

std::wstring widen(const std::string &text, unsigned codePage) {
  int size =
      MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring wide(static_cast<size_t>(size), L'\0');
  MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), wide.data(), size);
  return wide;
}

void writeFile(const std::string &path, const std::string &content) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  DWORD written = 0;
  if (file == INVALID_HANDLE_VALUE ||
      !WriteFile(file, content.data(), static_cast<DWORD>(content.size()), &written, nullptr))
    expect(false, __FILE__, __LINE__, "cannot write " + path);
  if (file != INVALID_HANDLE_VALUE)
    CloseHandle(file);
}

std::string readFile(const std::string &path) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE)
    return "(missing)";
  std::string content(GetFileSize(file, nullptr), '\0');
  DWORD got = 0;
  ReadFile(file, content.data(), static_cast<DWORD>(content.size()), &got, nullptr);
  CloseHandle(file);
  content.resize(got);
  return content;
}

} // namespace vlx::check

int main() {
  std::setvbuf(stdout, nullptr, _IONBF, 0);
  vlx::check::checkLibrary();
  vlx::check::checkWildcards();
  int failures = vlx::check::failureCount();
  if (failures != 0)
    std::printf("%d failed\n", failures);
  else
    std::printf("all passed%s\n", vlx::check::underWine() ? " (under Wine)" : "");
  return failures != 0 ? 1 : 0;
}
