// Administration of the registry store on POSIX: where the hives live, batches, integrity, the
// hives found unusable and why a write was refused.
#pragma once

#include <velmora/export.h>
#include <velmora/win32.h>

#include <functional>
#include <string>
#include <vector>

namespace vlx {

enum class Hive { User, Machine, DefaultUser };

// Path of the SQLite file that holds the hive (it may not exist yet).
VLX_API std::string hivePath(Hive hive);

// Runs `body` as one transaction on `hive`: every Reg* change it makes to that hive lands
// together when it returns ERROR_SUCCESS, and none lands otherwise (or when it throws).
VLX_API LONG inHiveTransaction(Hive hive, const std::function<LONG()> &body);

// Runs `body` with every registry read it makes seeing one committed state of `hive`, the
// latest when it starts, however other processes write meanwhile: for reading a whole tree.
// Other threads' registry calls wait until it returns. A write inside `body` ends the snapshot,
// and so does a fork: the child starts with none.
// In network mode other processes' writes wait for it too, so keep `body` short. Returns what
// `body` returns.
VLX_API LONG inHiveSnapshot(Hive hive, const std::function<LONG()> &body);

// A key or value that the move of a hive's names to the current folding (every letter, not
// ASCII only) merged with another of the same name.
struct NameMerge {
  std::string from;    // the key merged away, or the key the value was in
  std::string into;    // the key that took it over
  bool value = false;  // a value whose name was taken: it was kept under `renamed`
  std::string name;    // the value's name
  std::string renamed; // its name now
};

struct HiveCheck {
  Hive hive;
  std::string path;
  bool exists;      // false: the hive reads as its skeleton
  bool ok;          // the file passed SQLite's integrity check
  std::string what; // the first problem found, when !ok
  // The file's names are folded by the earlier rule (ASCII letters only): the first write moves
  // them to the current one, and `merges` is what that will merge.
  bool oldNames = false;
  std::vector<NameMerge> merges; // what the move merged, or will merge
  // Network mode (no WAL, others' changes seen within a bound) or local, and what decided it;
  // `modeNote` says what stands in its way, when something does.
  bool network = false;
  std::string mode;
  std::string modeNote;
};

// Checks every hive file through SQLite, changing nothing.
VLX_API std::vector<HiveCheck> checkHives();

// Copies the hive into `file` (replaced whole, never left half-written) with SQLite's online
// backup: one consistent state even while other processes read and write the hive. A copy of
// the hive file by other means can miss what is still in its log. `why` gets a failure's reason.
VLX_API LONG backupHive(Hive hive, const std::string &file, std::string *why = nullptr);

// Replaces the whole content of the hive with that of `file`, a hive file such as backupHive
// writes, after checking it. It lands as one commit: running processes see it as any change.
VLX_API LONG restoreHive(Hive hive, const std::string &file, std::string *why = nullptr);

// The hive files this process has found unusable (damaged, unreadable, not a regular file),
// each location once, in the order found; `what` says why. Such a hive reads as an empty hive,
// refuses every write with ERROR_BADDB or ERROR_ACCESS_DENIED, and its file is left as it is.
VLX_API std::vector<HiveCheck> unusableHives();

// The code with which the latest refused registry write on this thread failed, or
// ERROR_SUCCESS; taking it forgets it. Tells why a library call that only returns 0 failed.
VLX_API LONG takeRegistryWriteError();

// RegSetValueExA without the terminating zero it adds to strings: the data is stored exactly as
// given, as the 16-bit call does. For tools that restore what was exported.
VLX_API LONG setValueAsGiven(HKEY key, const char *name, DWORD type, const BYTE *data, DWORD size);

} // namespace vlx
