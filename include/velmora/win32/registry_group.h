// Grouping one library call's registry changes: one transaction in the POSIX store, nothing on
// Windows, where every change commits by itself.
#pragma once

#if defined(_WIN32)
#include <windows.h>
#else
#include <velmora/win32/registry.h>
#endif

#include <type_traits>

namespace vlx {

#if defined(_WIN32)
template <typename Body> void groupRegistryChanges(HKEY, Body &&body) { body(); }
#else
// For the library's own calls. Runs `body` with the changes it makes to the hive behind `root`
// (HKEY_CURRENT_USER or HKEY_LOCAL_MACHINE) in one transaction, committed when `body` returns or
// throws: what it did stays, as without grouping, but a process that dies inside `body` leaves
// the hive as it was. Where the hive takes no transaction (damaged, read-only, busy), `body`
// runs with its changes one by one, and they fail or succeed as they would.
void groupRegistryChanges(HKEY root, void (*body)(void *), void *context);

template <typename Body> void groupRegistryChanges(HKEY root, Body &&body) {
  using Callable = std::remove_reference_t<Body>;
  groupRegistryChanges(
      root, [](void *callable) { (*static_cast<Callable *>(callable))(); }, &body);
}
#endif

} // namespace vlx
