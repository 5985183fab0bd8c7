// How CreateFile answers names that Windows reads its own way, relative to a folder that holds
// the file "gear.txt" and the folder "temp": the table the POSIX file calls' test and the check
// run on Windows (tests/windows/) both read.
#pragma once

#include <vector>

namespace vlx::test {

struct OpenCase {
  const char *name;     // below the folder, after "\\" (or after "\\\\?\\" and the folder)
  bool verbatim;        // with the long-path prefix
  unsigned disposition; // OPEN_EXISTING 3, CREATE_NEW 1
  unsigned flags;       // 0 or FILE_FLAG_BACKUP_SEMANTICS
  unsigned error;       // ERROR_SUCCESS: a handle
};

inline const std::vector<OpenCase> &openCases() {
  constexpr unsigned openExisting = 3;
  constexpr unsigned createNew = 1;
  constexpr unsigned backup = 0x02000000;
  static const std::vector<OpenCase> cases = {
      // A folder opens only with backup semantics.
      {"temp", false, openExisting, 0, 5},
      {"temp", false, createNew, 0, 5},
      {"temp", false, openExisting, backup, 0},
      {"temp\\", true, openExisting, backup, 0},
      // Trailing dots and spaces go, but not after the prefix.
      {"gear.txt.", false, openExisting, 0, 0},
      {"gear.txt . ", false, openExisting, 0, 0},
      {"gear.txt.", true, openExisting, 0, 2},
      // NUL in any folder and with any extension.
      {"nul", false, openExisting, 0, 0},
      {"temp\\NUL.txt", false, openExisting, 0, 0},
      // A colon in a folder's name.
      {"c:\\gear.txt", false, openExisting, 0, 123},
      {"temp\\..\\gear.txt", true, openExisting, 0, 123},
  };
  return cases;
}

} // namespace vlx::test
