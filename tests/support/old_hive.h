// A hive file as the store wrote it when names folded ASCII letters only (schema version 1), or
// when values were kept by a rowid (versions 1 and 2), made through SQLite from one the library
// wrote: for the tests of reading and moving such files.
#pragma once

#include "support/rowid_values.h"

#include <sqlite3.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <string_view>

namespace vlx::test {

class OldHive {
public:
  // Turns the hive file at `path`, which no connection may hold, into the format of `version`:
  // the values table of a rowid and an index for the order; for version 1, every `folded` in
  // that rule's form too.
  explicit OldHive(const std::string &path, int version = 1) {
    EXPECT_EQ(sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READWRITE, nullptr), SQLITE_OK);
    exec(std::string("BEGIN;") + kRowidValuesSql);
    exec("PRAGMA user_version=" + std::to_string(version));
    if (version != 1)
      return;
    exec("UPDATE keys SET folded=id; UPDATE vals SET folded=id");
    for (const char *table : {"keys", "vals"}) {
      sqlite3_stmt *rows = prepare("SELECT id, name FROM " + std::string(table));
      sqlite3_stmt *set = prepare("UPDATE " + std::string(table) + " SET folded=?2 WHERE id=?1");
      while (sqlite3_step(rows) == SQLITE_ROW) {
        sqlite3_bind_int64(set, 1, sqlite3_column_int64(rows, 0));
        bind(set, 2, folded(blob(rows, 1)));
        EXPECT_EQ(sqlite3_step(set), SQLITE_DONE) << sqlite3_errmsg(db_);
        sqlite3_reset(set);
      }
      sqlite3_finalize(rows);
      sqlite3_finalize(set);
    }
  }
  // Everything lands together, when the hive is closed.
  ~OldHive() {
    exec("COMMIT");
    sqlite3_close(db_);
  }
  OldHive(const OldHive &) = delete;
  OldHive &operator=(const OldHive &) = delete;

  // The key at `path` below the root, its components matched by their exact names; missing ones
  // are made, stamped `written`. Siblings that differ beyond ASCII case are distinct keys here.
  int64_t key(std::string_view path, int64_t written = 0) {
    int64_t id = 1;
    while (!path.empty()) {
      const size_t cut = path.find('\\');
      const std::string name(path.substr(0, cut));
      path = cut == std::string_view::npos ? std::string_view() : path.substr(cut + 1);
      sqlite3_stmt *find = prepare("SELECT id FROM keys WHERE parent=?1 AND name=?2");
      sqlite3_bind_int64(find, 1, id);
      bind(find, 2, name);
      const bool found = sqlite3_step(find) == SQLITE_ROW;
      const int64_t existing = found ? sqlite3_column_int64(find, 0) : 0;
      sqlite3_finalize(find);
      if (found) {
        id = existing;
        continue;
      }
      sqlite3_stmt *add =
          prepare("INSERT INTO keys(parent, name, folded, written) VALUES(?1, ?2, ?3, ?4)");
      sqlite3_bind_int64(add, 1, id);
      bind(add, 2, name);
      bind(add, 3, folded(name));
      sqlite3_bind_int64(add, 4, written);
      EXPECT_EQ(sqlite3_step(add), SQLITE_DONE) << sqlite3_errmsg(db_);
      sqlite3_finalize(add);
      id = sqlite3_last_insert_rowid(db_);
    }
    return id;
  }

  // A REG_DWORD value of the key at `path`.
  void value(std::string_view path, const std::string &name, uint32_t data) {
    const int64_t owner = key(path);
    sqlite3_stmt *add =
        prepare("INSERT INTO vals(key, name, folded, type, data) VALUES(?1, ?2, ?3, 4, ?4)");
    sqlite3_bind_int64(add, 1, owner);
    bind(add, 2, name);
    bind(add, 3, folded(name));
    sqlite3_bind_blob(add, 4, &data, sizeof data, SQLITE_TRANSIENT);
    EXPECT_EQ(sqlite3_step(add), SQLITE_DONE) << sqlite3_errmsg(db_);
    sqlite3_finalize(add);
  }

  // The former rule: ASCII letters upper-cased, every other byte as it is.
  static std::string folded(std::string name) {
    for (char &c : name)
      if (c >= 'a' && c <= 'z')
        c = static_cast<char>(c - 'a' + 'A');
    return name;
  }

private:
  void exec(const std::string &sql) {
    EXPECT_EQ(sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK)
        << sqlite3_errmsg(db_);
  }
  sqlite3_stmt *prepare(const std::string &sql) {
    sqlite3_stmt *s = nullptr;
    EXPECT_EQ(sqlite3_prepare_v2(db_, sql.c_str(), -1, &s, nullptr), SQLITE_OK)
        << sqlite3_errmsg(db_);
    return s;
  }
  static void bind(sqlite3_stmt *s, int i, const std::string &v) {
    sqlite3_bind_blob(s, i, v.data(), static_cast<int>(v.size()), SQLITE_TRANSIENT);
  }
  static std::string blob(sqlite3_stmt *s, int col) {
    const void *p = sqlite3_column_blob(s, col);
    return p ? std::string(static_cast<const char *>(p),
                           static_cast<size_t>(sqlite3_column_bytes(s, col)))
             : std::string();
  }

  sqlite3 *db_ = nullptr;
};

// The hive file's user_version: the rule its names were written under.
inline int hiveVersion(const std::string &path) {
  sqlite3 *db = nullptr;
  int version = -1;
  if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
    sqlite3_stmt *s = nullptr;
    if (sqlite3_prepare_v2(db, "PRAGMA user_version", -1, &s, nullptr) == SQLITE_OK &&
        sqlite3_step(s) == SQLITE_ROW)
      version = sqlite3_column_int(s, 0);
    sqlite3_finalize(s);
  }
  sqlite3_close(db);
  return version;
}

} // namespace vlx::test
