// Temporary directories, scoped environment variables, registry hives and child processes for
// tests, on POSIX and on Windows.
#include "support/temp_env.h"

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <stdexcept>

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace vlx::test {

namespace {

void setVariable(const std::string &name, const char *value) {
#ifdef _WIN32
  // The C run-time's copy and the process environment, which child processes inherit. Windows
  // keeps no empty variable: an empty value removes it, which the library reads the same way.
  _putenv_s(name.c_str(), value ? value : "");
#else
  if (value)
    setenv(name.c_str(), value, 1);
  else
    unsetenv(name.c_str());
#endif
}

} // namespace

ScopedEnv::ScopedEnv(const std::string &name, const char *value) : name_(name) {
  if (const char *old = std::getenv(name.c_str()))
    old_ = old;
  setVariable(name_, value);
}

ScopedEnv::~ScopedEnv() { setVariable(name_, old_ ? old_->c_str() : nullptr); }

#ifdef _WIN32

TempDir::TempDir() {
  char base[MAX_PATH + 1];
  DWORD length = GetTempPathA(sizeof base, base);
  if (length == 0 || length > MAX_PATH)
    throw std::runtime_error("no temporary directory");
  // The path GetTempPathA gives ends in a backslash.
  for (unsigned attempt = 0; attempt < 100; ++attempt) {
    std::string candidate = std::string(base) + "vlx-test-" +
                            std::to_string(GetCurrentProcessId()) + "-" +
                            std::to_string(GetTickCount() + attempt);
    if (CreateDirectoryA(candidate.c_str(), nullptr)) {
      path_ = candidate;
      return;
    }
    if (GetLastError() != ERROR_ALREADY_EXISTS)
      break;
  }
  throw std::runtime_error("cannot create a temporary directory");
}

#else

TempDir::TempDir() {
  const char *base = std::getenv("TMPDIR");
  std::string pattern = std::string(base && *base ? base : "/tmp") + "/vlx-test-XXXXXX";
  if (!mkdtemp(pattern.data()))
    throw std::runtime_error("cannot create a temporary directory");
  path_ = pattern;
}

#endif

TempDir::~TempDir() {
  std::error_code ec;
  // Undo any read-only modes a test left so that the removal can finish.
  for (auto it = std::filesystem::recursive_directory_iterator(path_, ec);
       it != std::filesystem::recursive_directory_iterator(); it.increment(ec))
    std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ec);
  std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                               std::filesystem::perm_options::add, ec);
  std::filesystem::remove_all(path_, ec);
}

#ifdef _WIN32

namespace {

const char kHivesKey[] = "Software\\Velmora test hives";

// A fresh key below the test hives, holding `skeleton` (NUL-separated, double-NUL-terminated).
HKEY freshRoot(const std::string &path, const char *skeleton) {
  HKEY key = nullptr;
  if (RegCreateKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                      nullptr) != ERROR_SUCCESS)
    throw std::runtime_error("cannot create the test hive " + path);
  for (const char *sub = skeleton; *sub; sub += std::strlen(sub) + 1) {
    HKEY child;
    if (RegCreateKeyExA(key, sub, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &child, nullptr) ==
        ERROR_SUCCESS)
      RegCloseKey(child);
  }
  return key;
}

} // namespace

ScopedHives::ScopedHives(const std::string &directory) {
  base_ = std::string(kHivesKey) + "\\" + std::filesystem::path(directory).filename().string();
  // The roots are opened before any is redirected: the user root itself is redirected below.
  HKEY user = freshRoot(base_ + "\\user", "Software\0");
  HKEY machine = freshRoot(base_ + "\\machine", "Software\0Software\\Classes\0");
  HKEY users = freshRoot(base_ + "\\users", ".DEFAULT\0.DEFAULT\\Software\0");
  // The classes root merges the user's classes over the machine's; one key can only be the
  // user's half, which takes precedence.
  HKEY classes = freshRoot(base_ + "\\user\\Software\\Classes", "\0");
  RegOverridePredefKey(HKEY_CURRENT_USER, user);
  RegOverridePredefKey(HKEY_LOCAL_MACHINE, machine);
  RegOverridePredefKey(HKEY_USERS, users);
  RegOverridePredefKey(HKEY_CLASSES_ROOT, classes);
  for (HKEY key : {user, machine, users, classes})
    RegCloseKey(key);
}

ScopedHives::~ScopedHives() {
  for (HKEY root : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE, HKEY_USERS, HKEY_CLASSES_ROOT})
    RegOverridePredefKey(root, nullptr);
  RegDeleteTreeA(HKEY_CURRENT_USER, base_.c_str());
}

#else

ScopedHives::ScopedHives(const std::string &directory)
    : env_("VELMORA_REGISTRY_DIR", directory.c_str()) {}

ScopedHives::~ScopedHives() = default;

#endif

TempEnvTest::TempEnvTest() : registry_(dir_.path()) {}

bool underWine() {
#ifdef _WIN32
  HMODULE ntdll = GetModuleHandleA("ntdll.dll");
  return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
#else
  return false;
#endif
}

#ifdef _WIN32

RunResult runCommand(const std::vector<std::string> &argv) {
  // Output goes to a file, read once the child has ended: a pipe would not end while a process
  // the child started keeps its handle, as Wine's desktop process does.
  char dir[MAX_PATH + 1], name[MAX_PATH + 1];
  if (GetTempPathA(sizeof dir, dir) == 0 || GetTempFileNameA(dir, "out", 0, name) == 0)
    throw std::runtime_error("no file for the child's output");
  SECURITY_ATTRIBUTES inherited{sizeof inherited, nullptr, TRUE};
  HANDLE out = CreateFileA(
      name, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
      &inherited, CREATE_ALWAYS, FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
  if (out == INVALID_HANDLE_VALUE)
    throw std::runtime_error("no file for the child's output");
  std::string line;
  for (const auto &a : argv)
    line += (line.empty() ? "\"" : " \"") + a + "\"";
  STARTUPINFOA start{};
  start.cb = sizeof start;
  start.dwFlags = STARTF_USESTDHANDLES;
  start.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  start.hStdOutput = start.hStdError = out;
  PROCESS_INFORMATION process;
  RunResult result{127, {}};
  if (CreateProcessA(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &start,
                     &process)) {
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD status = 0;
    GetExitCodeProcess(process.hProcess, &status);
    result.status = int(status);
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
    SetFilePointer(out, 0, nullptr, FILE_BEGIN);
    char buf[4096];
    DWORD n;
    while (ReadFile(out, buf, sizeof buf, &n, nullptr) && n > 0)
      result.output.append(buf, n);
    // Lines as a text-mode read gives them, the same on both systems.
    for (size_t at = 0; (at = result.output.find("\r\n", at)) != std::string::npos;)
      result.output.erase(at, 1);
  }
  CloseHandle(out);
  return result;
}

#else

RunResult runCommand(const std::vector<std::string> &argv) {
  int fds[2];
  if (pipe(fds) != 0)
    throw std::runtime_error("pipe failed");
  pid_t pid = fork();
  if (pid == 0) {
    dup2(fds[1], 1);
    dup2(fds[1], 2);
    // Only the three standard descriptors: one the test has open by chance (a socket, a pipe
    // of another thread) must not reach the command under test.
    closefrom(3);
    std::vector<char *> args;
    for (const auto &a : argv)
      args.push_back(const_cast<char *>(a.c_str()));
    args.push_back(nullptr);
    execv(args[0], args.data());
    _exit(127);
  }
  close(fds[1]);
  RunResult result{0, {}};
  char buf[4096];
  ssize_t n;
  while ((n = read(fds[0], buf, sizeof buf)) > 0)
    result.output.append(buf, static_cast<size_t>(n));
  close(fds[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return result;
}

#endif

} // namespace vlx::test
