// An owned registry key handle, closed when it goes out of scope.
#pragma once

#include <velmora/win32.h>

namespace vlx {

class Key {
public:
  Key() = default;
  ~Key() { close(); }
  Key(const Key &) = delete;
  Key &operator=(const Key &) = delete;

  // Where an open or create call stores the new handle.
  HKEY *out() {
    close();
    return &handle_;
  }
  operator HKEY() const { return handle_; }

  bool open(HKEY parent, const char *name, REGSAM access) {
    return RegOpenKeyExA(parent, name, 0, access, out()) == ERROR_SUCCESS;
  }
  // Creates the key where it is missing.
  bool create(HKEY parent, const char *name, REGSAM access) {
    return RegCreateKeyExA(parent, name, 0, nullptr, REG_OPTION_NON_VOLATILE, access, nullptr,
                           out(), nullptr) == ERROR_SUCCESS;
  }

private:
  void close() {
    if (handle_)
      RegCloseKey(handle_);
    handle_ = nullptr;
  }
  HKEY handle_ = nullptr;
};

} // namespace vlx
