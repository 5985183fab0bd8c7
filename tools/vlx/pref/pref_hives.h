// The hives of the preference fall-back, which `pref get`, `list` and `watch` walk in order.
#pragma once

#include "vlx/formats/reg_file.h"

#include <velmora/win32.h>

#include <array>
#include <string>

namespace vlx::cli {

struct PrefHive {
  HKEY root;
  reg::Root store;
  const char *prefix; // below the root, up to the product key
  const char *name;
  const char *software; // the key below the root that the hive always keeps

  // The product key, or its `section` when one is given.
  reg::KeyPath product(const std::string &section = "") const {
    return {store, section.empty() ? prefix : std::string(prefix) + "\\" + section};
  }
};

// The fall-back order of regGetUserValue, which is also the order of Hive.
const std::array<PrefHive, 3> &prefHives();

} // namespace vlx::cli
