// An object built in static storage and never destroyed, for what a thread may still be waiting
// on while the process exits. No heap: a library unloaded with it leaks nothing.
#pragma once

#include <new>
#include <utility>

namespace vlx {

template <typename T> class NeverDestroyed {
public:
  template <typename... Args> explicit NeverDestroyed(Args &&...args) {
    new (storage_) T(std::forward<Args>(args)...);
  }
  NeverDestroyed(const NeverDestroyed &) = delete;
  NeverDestroyed &operator=(const NeverDestroyed &) = delete;
  T &get() { return *std::launder(reinterpret_cast<T *>(storage_)); }

private:
  alignas(T) unsigned char storage_[sizeof(T)];
};

} // namespace vlx
