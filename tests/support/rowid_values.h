// The values table as hive files up to version 2 kept it (a rowid table with an index by name and
// one in order), rebuilt from the current one inside an open transaction: OldHive makes such files
// for the tests, the registry bench for its moves.
#pragma once

namespace vlx::test {

inline constexpr const char *kRowidValuesSql =
    "CREATE TABLE rowid_vals(id INTEGER PRIMARY KEY AUTOINCREMENT, key INTEGER NOT NULL,"
    " name BLOB NOT NULL, folded BLOB NOT NULL, type INTEGER NOT NULL, data BLOB NOT NULL);"
    "INSERT INTO rowid_vals(key, name, folded, type, data)"
    " SELECT key, name, folded, type, data FROM vals ORDER BY key, id;"
    "DROP TABLE vals; ALTER TABLE rowid_vals RENAME TO vals;"
    "CREATE UNIQUE INDEX vals_by_name ON vals(key, folded);"
    "CREATE INDEX vals_in_order ON vals(key, id);";

} // namespace vlx::test
