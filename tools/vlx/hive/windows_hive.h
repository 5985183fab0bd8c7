// Windows registry hive files (NTUSER.DAT, SOFTWARE) read into the operations of an import.
#pragma once

#include "vlx/formats/reg_file.h"

#include <optional>
#include <string>
#include <vector>

namespace vlx::cli {

struct HiveRead {
  std::vector<reg::Operation> operations;
  std::string key;          // the key read, as the file spells its path
  reg::KeyPath destination; // where it lands
  bool dirty = false;       // the file was not closed cleanly: its logs may hold later changes
};

// Reads `key` of the hive file `file` (a path inside the file; none: the product key) with
// everything below it, as operations that create each key and set each value, in the file's order,
// at the same place below `root`. A user's hive maps onto the root itself; a SOFTWARE hive, whose
// root is the machine's Software key, onto the root's Software. The product key is Software\Velmora
// of a user's hive and Velmora (else WOW6432Node\Velmora) of a SOFTWARE hive; it always lands at
// Software\Velmora. Text data (REG_SZ, REG_EXPAND_SZ, REG_MULTI_SZ) is turned from UTF-16LE into
// the store's UTF-8; other data keeps its bytes. Throws Failure naming the file for a file that is
// not a hive, is damaged or cut short, lacks the key, or holds text that is not UTF-16.
// Called once the file's header has passed, before hivex reads it; for tests that change what the
// name points at meanwhile. What is read is the file opened for the check, whatever the name
// names by then.
extern void (*hiveChecked)(const std::string &file);

HiveRead readWindowsHive(const std::string &file, const std::optional<std::string> &key,
                         reg::Root root);

} // namespace vlx::cli
