// Moving .reg text in and out of the registry through the Win32 calls.
#pragma once

#include "reg_file.h"

#include <velmora/hive.h>
#include <velmora/win32.h>

#include <string>
#include <vector>

namespace vlx::cli {

// "HKEY_CURRENT_USER", "HKEY_LOCAL_MACHINE" or "HKEY_USERS\\.DEFAULT".
const char *hiveName(Hive hive);

// The predefined handle of a root.
HKEY rootHandle(reg::Root root);

// An open key, closed when it goes.
class Key {
public:
  Key() = default;
  explicit Key(HKEY h) : h_(h) {}
  ~Key() { reset(); }
  Key(const Key &) = delete;
  Key &operator=(const Key &) = delete;
  HKEY get() const { return h_; }
  HKEY *out() {
    reset();
    return &h_;
  }
  void reset();

private:
  HKEY h_ = nullptr;
};

// Opens `subKey` below `root` ("" gives a handle to the root's own key).
LONG openKey(HKEY root, const std::string &subKey, REGSAM access, Key &key);

// Whether the key exists; throws Failure when it cannot be told.
bool keyExists(const reg::KeyPath &path);

// Appends the key and its whole subtree as .reg sections, depth-first; throws Failure.
void exportKey(std::string &out, const reg::KeyPath &path);

// Applies parsed operations: refuses, changing nothing, any that breaks a registry limit (name
// lengths, nesting, value size, roots and the keys a hive keeps); then makes every change with a
// transaction open on each hive concerned, so they land together. `fileName` prefixes the
// messages of failures. Returns the number of operations applied.
size_t importOperations(const std::vector<reg::Operation> &operations, const std::string &fileName);

} // namespace vlx::cli
