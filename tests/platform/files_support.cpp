// Helpers for the file personality tests.
#include "files_support.h"

#include <dirent.h>

namespace vlx::test {

std::set<std::string> entries(const std::string &directory) {
  std::set<std::string> names;
  if (DIR *dir = opendir(directory.c_str())) {
    while (const dirent *entry = readdir(dir)) {
      std::string name = entry->d_name;
      if (name != "." && name != "..")
        names.insert(name);
    }
    closedir(dir);
  }
  return names;
}

} // namespace vlx::test
