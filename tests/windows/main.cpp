// The check program of the Windows build: runs every group and exits non-zero on a failure.
#include "check.h"

#include <windows.h>

#include <cstdio>
#include <fstream>
#include <iterator>

namespace vlx::check {

namespace {
int failures = 0;
}

bool expect(bool ok, const char *file, int line, const std::string &what) {
  if (!ok) {
    std::printf("%s:%d: %s\n", std::filesystem::path(file).filename().string().c_str(), line,
                what.c_str());
    ++failures;
  }
  return ok;
}

bool underWine() {
  HMODULE ntdll = GetModuleHandleA("ntdll.dll");
  return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

std::string makeScratch(const char *stem) {
  char base[MAX_PATH];
  GetTempPathA(MAX_PATH, base);
  std::string path =
      std::string(base) + "vlxcheck" + std::to_string(GetCurrentProcessId()) + "-" + stem;
  EXPECT(CreateDirectoryA(path.c_str(), nullptr), "cannot make the scratch directory " + path);
  return path;
}

// Read-only entries are made writable first, as the system refuses to delete them.
void removeTree(const std::filesystem::path &path) {
  std::error_code error;
  for (const auto &entry : std::filesystem::recursive_directory_iterator(path, error))
    std::filesystem::permissions(entry.path(), std::filesystem::perms::owner_write,
                                 std::filesystem::perm_options::add, error);
  std::filesystem::remove_all(path, error);
}

bool writeFile(const std::filesystem::path &path, const std::string &content) {
  return EXPECT(static_cast<bool>(std::ofstream(path, std::ios::binary) << content),
                "cannot write " + path.u8string());
}

std::string readFile(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  return in ? std::string(std::istreambuf_iterator<char>(in), {}) : "(missing)";
}

} // namespace vlx::check

// No arguments: every group. "language ID SUBDIR": the user's language only, which the run's
// locale decides.
int main(int argc, char **argv) {
  std::setvbuf(stdout, nullptr, _IONBF, 0);
  if (argc == 4 && std::string(argv[1]) == "language") {
    vlx::check::checkLanguage(argv[2], argv[3]);
  } else {
    vlx::check::checkLibrary();
    vlx::check::checkWildcards();
    vlx::check::checkFiles();
    vlx::check::checkClassIdentifiers();
    vlx::check::checkVariants();
    vlx::check::checkVarFamily();
    vlx::check::checkSafeArrays();
    vlx::check::checkRegistry();
  }
  const int failures = vlx::check::failures;
  if (failures != 0)
    std::printf("%d failed\n", failures);
  else
    std::printf("all passed%s\n", vlx::check::underWine() ? " (under Wine)" : "");
  return failures != 0 ? 1 : 0;
}
