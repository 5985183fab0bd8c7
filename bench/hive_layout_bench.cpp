// What SQLite spends writing a bulk import's rows, by the layout of the values table: that of hive
// files up to version 2 (a rowid table with an index by name and one in order, three b-trees per
// value) beside the current one, the values kept in (key, id) order by the table itself (two
// b-trees). Both write the rows `vlx reg import` writes for the 48 MB file of reg_import_bench, a
// quarter of them, in one transaction, then checkpoint, as the store does.
#include "bench_support.h"

#include <benchmark/benchmark.h>

#include <sqlite3.h>

#include <string>

namespace {

const char *const kKeys =
    "CREATE TABLE keys(id INTEGER PRIMARY KEY AUTOINCREMENT, parent INTEGER NOT NULL,"
    " name BLOB NOT NULL, folded BLOB NOT NULL, written INTEGER NOT NULL DEFAULT 0);"
    "CREATE UNIQUE INDEX keys_by_name ON keys(parent, folded);";

// As hive files of versions 1 and 2 have it.
const char *const kThreeTrees =
    "CREATE TABLE vals(id INTEGER PRIMARY KEY AUTOINCREMENT, key INTEGER NOT NULL,"
    " name BLOB NOT NULL, folded BLOB NOT NULL, type INTEGER NOT NULL, data BLOB NOT NULL);"
    "CREATE UNIQUE INDEX vals_by_name ON vals(key, folded);"
    "CREATE INDEX vals_in_order ON vals(key, id);";
const char *const kThreeTreesInsert =
    "INSERT INTO vals(key, name, folded, type, data) VALUES(?1, ?2, ?3, ?4, ?5) "
    "ON CONFLICT(key, folded) DO UPDATE SET type=excluded.type, data=excluded.data";

// As hive_schema.cpp has it.
const char *const kKeyOrdered =
    "CREATE TABLE vals(key INTEGER NOT NULL, id INTEGER NOT NULL, name BLOB NOT NULL,"
    " folded BLOB NOT NULL, type INTEGER NOT NULL, data BLOB NOT NULL, PRIMARY KEY(key, id))"
    " WITHOUT ROWID;"
    "CREATE UNIQUE INDEX vals_by_name ON vals(key, folded);";
// A key's next id is known to the writer that made the key in the same transaction.
const char *const kKeyOrderedInsert =
    "INSERT INTO vals(key, id, name, folded, type, data) VALUES(?1, ?6, ?2, ?3, ?4, ?5) "
    "ON CONFLICT(key, folded) DO UPDATE SET type=excluded.type, data=excluded.data";

constexpr int kKeyCount = 5000; // of 41 values each
constexpr int kValuesPerKey = 41;

vlx::bench::ScratchDir *scratch = nullptr;

double cpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  auto seconds = [](const timeval &t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; };
  return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// The names' comparison form as the store keeps it: UTF-16BE, upper-cased.
std::string folded(const std::string &name) {
  std::string out;
  for (char c : name) {
    out += '\0';
    out += c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
  }
  return out;
}

void bind(sqlite3_stmt *s, int at, const std::string &blob) {
  sqlite3_bind_blob(s, at, blob.data(), static_cast<int>(blob.size()), SQLITE_TRANSIENT);
}

// Writes the rows into a new file; false on any SQLite error.
bool writeRows(const std::string &file, const char *layout, const char *insert) {
  sqlite3 *db = nullptr;
  bool ok = sqlite3_open(file.c_str(), &db) == SQLITE_OK &&
            sqlite3_exec(db, "PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL", nullptr, nullptr,
                         nullptr) == SQLITE_OK &&
            sqlite3_exec(db, (std::string(kKeys) + layout).c_str(), nullptr, nullptr, nullptr) ==
                SQLITE_OK;
  sqlite3_wal_autocheckpoint(db, 0);
  sqlite3_stmt *key = nullptr, *value = nullptr;
  ok =
      ok &&
      sqlite3_prepare_v2(db, "INSERT INTO keys(parent, name, folded, written) VALUES(1, ?1, ?2, 0)",
                         -1, &key, nullptr) == SQLITE_OK &&
      sqlite3_prepare_v2(db, insert, -1, &value, nullptr) == SQLITE_OK &&
      sqlite3_exec(db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) == SQLITE_OK;
  const std::string blob(200, '\x0f');
  for (int k = 0; ok && k < kKeyCount; ++k) {
    const std::string keyName = "Key" + std::to_string(k);
    bind(key, 1, keyName);
    bind(key, 2, folded(keyName));
    ok = sqlite3_step(key) == SQLITE_DONE;
    sqlite3_reset(key);
    const sqlite3_int64 id = sqlite3_last_insert_rowid(db);
    for (int v = 0; ok && v < kValuesPerKey; ++v) {
      std::string name, data;
      int type = 3;
      if (v == kValuesPerKey - 1) {
        name = "Blob";
        data = blob;
      } else if (v % 2 == 0) {
        name = "Text" + std::to_string(v / 2);
        data = "value " + std::to_string(k) + "." + std::to_string(v / 2) +
               " with a path C:\\Program Files\\Velmora\\bin";
        data += '\0';
        type = 1;
      } else {
        name = "Count" + std::to_string(v / 2);
        data = std::string(4, static_cast<char>(v));
        type = 4;
      }
      sqlite3_bind_int64(value, 1, id);
      bind(value, 2, name);
      bind(value, 3, folded(name));
      sqlite3_bind_int(value, 4, type);
      bind(value, 5, data);
      if (sqlite3_bind_parameter_count(value) == 6)
        sqlite3_bind_int(value, 6, v + 1);
      ok = sqlite3_step(value) == SQLITE_DONE;
      sqlite3_reset(value);
    }
  }
  ok = ok && sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr) == SQLITE_OK &&
       sqlite3_wal_checkpoint_v2(db, "main", SQLITE_CHECKPOINT_PASSIVE, nullptr, nullptr) ==
           SQLITE_OK;
  sqlite3_finalize(key);
  sqlite3_finalize(value);
  sqlite3_close(db);
  return ok;
}

void measure(benchmark::State &state, const char *layout, const char *insert) {
  double cpu = 0;
  int round = 0;
  for (auto _ : state) {
    state.PauseTiming();
    const std::string file = scratch->dir + "/hive" + std::to_string(round++) + ".db";
    state.ResumeTiming();
    const double start = cpuSeconds();
    if (!writeRows(file, layout, insert)) {
      state.SkipWithError("SQLite failed");
      break;
    }
    cpu += cpuSeconds() - start;
    state.PauseTiming();
    for (const char *suffix : {"", "-wal", "-shm"})
      std::remove((file + suffix).c_str());
    state.ResumeTiming();
  }
  // On a loaded machine, wall time mostly measures the others.
  if (cpu > 0)
    state.counters["cpu_rows_per_s"] =
        static_cast<double>(state.iterations()) * kKeyCount * kValuesPerKey / cpu;
}

void BM_ValsThreeTrees(benchmark::State &state) { measure(state, kThreeTrees, kThreeTreesInsert); }
void BM_ValsKeyOrdered(benchmark::State &state) { measure(state, kKeyOrdered, kKeyOrderedInsert); }

BENCHMARK(BM_ValsThreeTrees)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);
BENCHMARK(BM_ValsKeyOrdered)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);

} // namespace

int main(int argc, char **argv) { return vlx::bench::runWithScratch(argc, argv, scratch); }
