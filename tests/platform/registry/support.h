// Helpers shared by the registry tests: scoped keys, DWORD values, enumeration, child processes.
#pragma once

#include "support/temp_env.h"

#include <velmora/hive.h>
#include <velmora/win32.h>

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <tuple>
#include <vector>
#ifndef _WIN32
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace regtest {

using Names = std::vector<std::string>;
const HKEY HKCU = HKEY_CURRENT_USER, HKLM = HKEY_LOCAL_MACHINE, HKU = HKEY_USERS,
           HKCR = HKEY_CLASSES_ROOT;

// Closes a key at the end of a scope.
struct Key {
  HKEY h = nullptr;
  Key() = default;
  Key(const Key &) = delete;
  Key &operator=(const Key &) = delete;
  ~Key() {
    if (h)
      RegCloseKey(h);
  }
  operator HKEY() const { return h; }
};

inline LONG openKey(HKEY base, const char *path, Key &key, REGSAM sam = KEY_READ) {
  return RegOpenKeyExA(base, path, 0, sam, &key.h);
}

inline LONG createKey(HKEY base, const char *path, Key &key, DWORD *disposition = nullptr) {
  return RegCreateKeyExA(base, path, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key.h, disposition);
}

inline LONG setDword(HKEY key, const std::string &name, DWORD value) {
  return RegSetValueExA(key, name.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE *>(&value),
                        sizeof value);
}

inline LONG queryDword(HKEY key, const std::string &name, DWORD *value = nullptr) {
  DWORD v = 0, size = sizeof v;
  return RegQueryValueExA(key, name.c_str(), nullptr, nullptr,
                          reinterpret_cast<BYTE *>(value ? value : &v), &size);
}

// The value, or a marker no test writes.
inline DWORD getDword(HKEY key, const std::string &name) {
  DWORD value = 0;
  return queryDword(key, name, &value) == ERROR_SUCCESS ? value : 0xdeadbeef;
}

// Stores `bytes` as given.
inline LONG setRaw(HKEY key, const char *name, DWORD type, const std::string &bytes) {
  return RegSetValueExA(key, name, 0, type, reinterpret_cast<const BYTE *>(bytes.data()),
                        static_cast<DWORD>(bytes.size()));
}

// Sets or reads `name` in root\path through a handle of its own, as one library operation does.
inline LONG setIn(HKEY root, const char *path, const std::string &name, DWORD value) {
  Key k;
  LONG rc = createKey(root, path, k);
  return rc == ERROR_SUCCESS ? setDword(k, name, value) : rc;
}
inline DWORD getIn(HKEY root, const char *path, const std::string &name) {
  Key k;
  return openKey(root, path, k) == ERROR_SUCCESS ? getDword(k, name) : 0xdeadbeef;
}

// The subkey (or value) names in enumeration order.
inline Names names(HKEY key, bool values = false) {
  Names out;
  char name[256];
  for (DWORD i = 0;; ++i) {
    DWORD len = sizeof name;
    LONG rc = values ? RegEnumValueA(key, i, name, &len, nullptr, nullptr, nullptr, nullptr)
                     : RegEnumKeyExA(key, i, name, &len, nullptr, nullptr, nullptr, nullptr);
    if (rc != ERROR_SUCCESS) {
      EXPECT_EQ(rc, ERROR_NO_MORE_ITEMS);
      return out;
    }
    out.emplace_back(name, len);
  }
}

#ifndef _WIN32
// Runs `body` in a child process that exits with its result.
inline pid_t spawn(const std::function<int()> &body) {
  pid_t pid = fork();
  if (pid == 0)
    _exit(body());
  return pid;
}

// The child's exit status, 128 + the signal that ended it, or -1 when there is no such child.
inline int reap(pid_t pid) {
  int status = 0;
  if (pid <= 0 || waitpid(pid, &status, 0) != pid)
    return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}
#endif

} // namespace regtest
