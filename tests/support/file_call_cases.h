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

// What a handle opened with `access` on a file holding "0123456789" does: a read of 4 bytes
// from the start, then a write of "ab" at the start, and what the file holds afterwards.
struct RightsCase {
  const char *what;
  unsigned access;
  bool reads, writes;
  const char *content;
};

inline const std::vector<RightsCase> &rightsCases() {
  constexpr unsigned readData = 0x0001, writeData = 0x0002, appendData = 0x0004;
  constexpr unsigned genericRead = 0x80000000u, genericWrite = 0x40000000u;
  constexpr unsigned fileGenericRead = 0x120089, fileGenericWrite = 0x120116;
  static const std::vector<RightsCase> cases = {
      {"FILE_READ_DATA", readData, true, false, "0123456789"},
      {"FILE_WRITE_DATA", writeData, false, true, "ab23456789"},
      // Appending alone never overwrites: the write lands at the end.
      {"FILE_APPEND_DATA", appendData, false, true, "0123456789ab"},
      {"FILE_READ_DATA | FILE_APPEND_DATA", readData | appendData, true, true, "0123456789ab"},
      {"FILE_GENERIC_READ", fileGenericRead, true, false, "0123456789"},
      {"FILE_GENERIC_WRITE", fileGenericWrite, false, true, "ab23456789"},
      {"GENERIC_READ | GENERIC_WRITE", genericRead | genericWrite, true, true, "ab23456789"},
  };
  return cases;
}

} // namespace vlx::test
