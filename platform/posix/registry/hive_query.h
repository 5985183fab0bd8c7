// One use of a prepared statement of a hive connection.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <string>
#include <string_view>

namespace vlx {

// Resets its statement however the caller leaves, so no read keeps a lock by accident.
// One use of a prepared statement, its parameters bound in order. A statement that could not be
// prepared steps to the preparation's error, so callers handle both through step().
class Query {
public:
  template <typename... Args>
  Query(sqlite3 *db, sqlite3_stmt *s, const Args &...args)
      : s_(s), prepareError_(s ? SQLITE_OK : sqlite3_errcode(db)) {
    if (prepareError_ == SQLITE_OK && !s_)
      prepareError_ = SQLITE_ERROR;
    [[maybe_unused]] int i = 0;
    (bind(++i, args), ...);
  }
  ~Query() {
    if (s_)
      sqlite3_reset(s_); // bindings stay: every use binds all parameters again
  }
  Query(const Query &) = delete;
  Query &operator=(const Query &) = delete;
  void bind(int i, int64_t v) {
    if (s_)
      sqlite3_bind_int64(s_, i, v);
  }
  // A non-null pointer even for "" keeps empty names and data as empty blobs, not NULL.
  void bind(int i, std::string_view v) {
    if (s_)
      sqlite3_bind_blob(s_, i, v.empty() ? "" : v.data(), static_cast<int>(v.size()),
                        SQLITE_STATIC);
  }
  int step() { return s_ ? sqlite3_step(s_) : prepareError_; }
  int64_t integer(int col) const { return sqlite3_column_int64(s_, col); }
  std::string blob(int col) const {
    const void *p = sqlite3_column_blob(s_, col);
    int n = sqlite3_column_bytes(s_, col);
    return p ? std::string(static_cast<const char *>(p), static_cast<size_t>(n)) : std::string();
  }

private:
  sqlite3_stmt *s_;
  int prepareError_;
};

} // namespace vlx
