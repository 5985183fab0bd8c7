// The layout of a hive file: tables, skeleton, version marks.
#pragma once

#include <initializer_list>
#include <vector>

struct sqlite3;

namespace vlx {

struct SubkeyRow;

constexpr int kApplicationId = 0x564c5852; // "VLXR"
// 3: values are kept in the table in (key, id) order. Files of version 2 keep them by a rowid,
// with an index for the order. 2: `folded` is foldName's form. Files of version 1 hold
// foldNameAsciiOnly's.
constexpr int kSchemaVersion = 3;
constexpr int kRowidValuesVersion = 2;
constexpr int kAsciiFoldingVersion = 1;
constexpr int kBusyTimeoutMs = 10000;

// The tables and the skeleton keys of every hive; the machine hive adds kMachineSkeleton.
extern const char *const kSchema;
extern const char *const kMachineSkeleton;

// What the file holds, read in one statement so that a hive being created by another
// process is seen either before or after its creation commits.
extern const char *const kShapeQuery;

// Inside a write transaction the caller holds: moves the values of a file of version 2 or older
// into the current table, each key's in their order. Returns an SQLite result code.
int migrateValuesTable(sqlite3 *db);

// Runs a one-row query and reads its integer columns.
int queryInts(sqlite3 *db, const char *sql, std::initializer_list<int *> values);

// The rows of a file of version 1 in the current form and order, as those of other hives that
// they are merged with.
void refoldSubkeys(std::vector<SubkeyRow> *rows);

} // namespace vlx
