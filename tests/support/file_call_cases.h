// How CreateFile answers names that Windows reads its own way, relative to a folder that holds
// the file "gear.txt" and the folder "temp": the table the POSIX file calls' test and the check
// run on Windows (tests/windows/) both read.
#pragma once

#include <vector>

namespace vlx::test {

struct OpenCase {
  const char *name;     // below the folder, after "\\" (or after "\\\\?\\" and the folder)
  bool verbatim;        // with the long-path prefix
  unsigned disposition; // OPEN_EXISTING 3, CREATE_NEW 1, OPEN_ALWAYS 4
  unsigned flags;       // 0 or FILE_FLAG_BACKUP_SEMANTICS
  unsigned error;       // ERROR_SUCCESS (and ERROR_ALREADY_EXISTS for OPEN_ALWAYS): a handle
};

inline const std::vector<OpenCase> &openCases() {
  constexpr unsigned openExisting = 3;
  constexpr unsigned createNew = 1;
  constexpr unsigned openAlways = 4;
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
      // Names are found without regard to case, after the prefix too; a name that exists in
      // another case is that file, never a second one.
      {"GEAR.TXT", false, openExisting, 0, 0},
      {"Gear.Txt", false, createNew, 0, 80},
      {"GEAR.txt", false, openAlways, 0, 183},
      {"TEMP", false, openExisting, backup, 0},
      {"Temp\\NEW.txt", false, createNew, 0, 0},
      {"TEMP\\new.TXT", true, openExisting, 0, 0},
      {"TEMP\\missing.txt", false, openExisting, 0, 2},
  };
  return cases;
}

// The calls on names, applied in order in the same folder (holding "gear.txt" and "temp"),
// with names in other cases than the entries have.
enum class NameCall { Attributes, CreateFolder, RemoveFolder, Move, CopyNew, Delete, Find };

struct NameStep {
  NameCall call;
  const char *name;  // below the folder, after "\\"
  const char *other; // Move and CopyNew: the new name; Find: the name the first match has
  unsigned error;
};

inline const std::vector<NameStep> &nameSteps() {
  using C = NameCall;
  static const std::vector<NameStep> steps = {
      {C::Attributes, "GEAR.TXT", nullptr, 0},
      {C::CreateFolder, "TEMP", nullptr, 183},
      {C::CreateFolder, "Temp\\Sub", nullptr, 0},
      {C::Find, "TEMP\\s*", "Sub", 0},
      {C::Find, "temp\\SUB", "Sub", 0},
      {C::CopyNew, "Gear.txt", "TEMP\\SUB\\copy.txt", 0},
      {C::CopyNew, "gear.txt", "temp\\sub\\COPY.TXT", 80},
      {C::Move, "temp\\sub\\copy.txt", "GEAR.TXT", 183},
      // Another case of its own name renames the file.
      {C::Move, "TEMP\\SUB\\COPY.TXT", "temp\\sub\\Copy.Txt", 0},
      {C::Find, "temp\\sub\\copy.txt", "Copy.Txt", 0},
      {C::Delete, "TEMP\\Sub\\COPY.TXT", nullptr, 0},
      {C::Delete, "TEMP\\Sub\\COPY.TXT", nullptr, 2},
      {C::RemoveFolder, "TEMP\\SUB", nullptr, 0},
      {C::Attributes, "temp\\sub", nullptr, 2},
  };
  return steps;
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
