// Hive files written when names folded ASCII letters only: their move to the current folding, and
// the merges of keys and values that the move makes.
#pragma once

#include <velmora/hive.h>

#include <vector>

struct sqlite3;

namespace vlx {

// Inside a write transaction the caller holds: recomputes every `folded` of `db`, merges what the
// current rule makes equal, records each merge and sets the file's user_version to `version`.
// Sibling keys: the one written last (then the newer) keeps its name and takes the others' values
// and subkeys, which merge the same way. Values of one key: the one whose key was written last
// (then the newer) keeps the name; each other is renamed "NAME (merged)", "NAME (merged 2)", ...
// Returns an SQLite result code.
int migrateNames(sqlite3 *db, int version);

// What migrateNames would merge in `db`; changes nothing.
int plannedMerges(sqlite3 *db, std::vector<NameMerge> *merges);

// What the migration of `db` merged; none for a file created under the current rule.
int recordedMerges(sqlite3 *db, std::vector<NameMerge> *merges);

} // namespace vlx
