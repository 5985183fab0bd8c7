// How many backup copies the user asked for, read by the library and by vlx's explanation of a
// failed backup alike.
#pragma once

#include <velmora/registry.h>

namespace vlx {

// "Backup Copies" of section "General"; a missing or unreadable value counts as 1.
inline int backupCount() {
  int count = 0;
  CString unused;
  if (!regGetUserValue("General", "Backup Copies", intType, unused, &count, nullptr))
    count = 1;
  return count;
}

} // namespace vlx
