// One hive's SQLite connection: location, schema, read views, write transactions.
//
// Read views. Keys and values read are kept in memory and serve later calls while no process
// has committed to the hive since: every commit moves SQLite's wal-index header, which all
// processes share, and checking it costs no lock. A read that memory cannot answer starts a
// snapshot lazily. The store ends a snapshot at the end of every call but an open that leaves a
// handle, when a call starts from a predefined root, before any write, once another commit has
// moved the header and once it is older than about a millisecond; so a look-up "open, open,
// open, query" pays for at most one snapshot, and no process keeps one while it is idle.
// Handles hold key row ids, which are never reused (AUTOINCREMENT), so they outlive views and a
// deleted key is found by its id. Writes run in their own BEGIN IMMEDIATE transaction, or join
// the batch of inHiveTransaction.
#include "platform/posix/registry/hive_db.h"

#include "platform/posix/name_fold.h"
#include "platform/posix/registry/key_names.h"
#include "platform/posix/registry/name_migration.h"
#include "platform/posix/registry/sqlite_errors.h"

#include <sqlite3.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <initializer_list>
#include <pwd.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace vlx {
namespace {

constexpr int kApplicationId = 0x564c5852; // "VLXR"
// 2: `folded` is foldName's form. Files of version 1 hold foldNameAsciiOnly's.
constexpr int kSchemaVersion = 2;
constexpr int kAsciiFoldingVersion = 1;
constexpr int kBusyTimeoutMs = 10000;
// Rows an enumeration step reads ahead (the LIMIT of the value queries).
constexpr size_t kValuesAhead = 8;

// Why the latest write on this thread was refused, for takeRegistryWriteError().
thread_local LONG lastWriteError = ERROR_SUCCESS;

const char *const kSchema = R"sql(
CREATE TABLE keys(
  id INTEGER PRIMARY KEY AUTOINCREMENT,
  parent INTEGER NOT NULL,
  name BLOB NOT NULL,
  folded BLOB NOT NULL,
  written INTEGER NOT NULL DEFAULT 0);
CREATE UNIQUE INDEX keys_by_name ON keys(parent, folded);
CREATE TABLE vals(
  id INTEGER PRIMARY KEY AUTOINCREMENT,
  key INTEGER NOT NULL,
  name BLOB NOT NULL,
  folded BLOB NOT NULL,
  type INTEGER NOT NULL,
  data BLOB NOT NULL);
CREATE UNIQUE INDEX vals_by_name ON vals(key, folded);
CREATE INDEX vals_in_order ON vals(key, id);
INSERT INTO keys(id, parent, name, folded) VALUES(1, 0, x'', x'');
INSERT INTO keys(id, parent, name, folded)
  VALUES(2, 1, CAST('Software' AS BLOB), x'0053004F004600540057004100520045');
)sql";

const char *const kMachineSkeleton =
    "INSERT INTO keys(id, parent, name, folded) "
    "VALUES(3, 2, CAST('Classes' AS BLOB), x'0043004C00410053005300450053');";

const char *const kStmtSql[] = {
    "BEGIN",
    "BEGIN IMMEDIATE",
    "COMMIT",
    "ROLLBACK",
    "SELECT written FROM keys WHERE id=?1",
    "SELECT id FROM keys WHERE parent=?1 AND folded=?2",
    "SELECT name, folded, written FROM keys WHERE parent=?1 ORDER BY folded LIMIT 1 OFFSET ?2",
    "SELECT name, folded, written FROM keys WHERE parent=?1 AND folded>?2 ORDER BY folded LIMIT 1",
    "SELECT name, folded, written FROM keys WHERE parent=?1 ORDER BY folded",
    "SELECT type, data FROM vals WHERE key=?1 AND folded=?2",
    "SELECT id, name, type, data FROM vals WHERE key=?1 ORDER BY id LIMIT 8 OFFSET ?2",
    "SELECT id, name, type, data FROM vals WHERE key=?1 AND id>?2 ORDER BY id LIMIT 8",
    "SELECT count(*), coalesce(max(length(name)), 0) FROM keys WHERE parent=?1",
    ("SELECT count(*), coalesce(max(length(name)), 0), "
     "coalesce(max(CASE WHEN type IN (1, 2, 7) THEN 0 ELSE length(data) END), 0), "
     "coalesce(max(CASE WHEN type IN (1, 2, 7) THEN length(data) ELSE 0 END), 0) "
     "FROM vals WHERE key=?1"),
    "SELECT id, name, type, data FROM vals WHERE key=?1 AND type IN (1, 2, 7) ORDER BY id",
    "INSERT INTO keys(parent, name, folded, written) VALUES(?1, ?2, ?3, ?4)",
    ("INSERT INTO vals(key, name, folded, type, data) VALUES(?1, ?2, ?3, ?4, ?5) "
     "ON CONFLICT(key, folded) DO UPDATE SET type=excluded.type, data=excluded.data"),
    "DELETE FROM vals WHERE key=?1 AND folded=?2",
    "DELETE FROM keys WHERE id=?1",
    "DELETE FROM vals WHERE key=?1",
    "SELECT 1 FROM keys WHERE parent=?1 LIMIT 1",
    "UPDATE keys SET written=?2 WHERE id=?1",
    "SELECT parent FROM keys WHERE id=?1",
    "UPDATE keys SET name=?2, folded=?3 WHERE id=?1",
    "PRAGMA data_version",
};

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

// FILETIME: 100 ns units since 1601-01-01.
int64_t nowFileTime() {
  timespec ts{};
  clock_gettime(CLOCK_REALTIME, &ts);
  return (static_cast<int64_t>(ts.tv_sec) + 11644473600LL) * 10000000LL + ts.tv_nsec / 100;
}

const char *hiveFileName(Hive hive) {
  switch (hive) {
  case Hive::User:
    return "user.db";
  case Hive::Machine:
    return "machine.db";
  case Hive::DefaultUser:
    break;
  }
  return "default-user.db";
}

std::string homeDirectory() {
  const char *home = std::getenv("HOME");
  if (home && *home)
    return home;
  if (const passwd *pw = getpwuid(getuid()); pw && pw->pw_dir)
    return pw->pw_dir;
  return "/";
}

FileId fileId(const std::string &path) {
  FileId id;
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) {
    id.error = errno;
    return id;
  }
  id.device = st.st_dev;
  id.inode = st.st_ino;
  id.size = static_cast<uint64_t>(st.st_size);
  id.modified = static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
  return id;
}

bool missing(const FileId &id) { return id.error == ENOENT || id.error == ENOTDIR; }

// A look at the hive's location that cannot block: SQLite's own read-only open of a FIFO
// would wait for a writer forever.
struct Probe {
  FileId id;
  LONG error = ERROR_SUCCESS; // why the file cannot be a hive
  std::string why;
};

Probe probeFile(const std::string &path) {
  Probe p;
  int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) {
    int openError = errno;
    p.id = fileId(path);
    if (openError == ENOENT || openError == ENOTDIR) {
      p.id.error = openError;
      return p;
    }
    p.error = openError == EACCES || openError == EPERM ? ERROR_ACCESS_DENIED : ERROR_BADDB;
    p.why = std::string("cannot be opened: ") + std::strerror(openError);
    return p;
  }
  struct stat st {};
  int statted = ::fstat(fd, &st);
  ::close(fd);
  p.id = fileId(path);
  if (statted != 0) {
    p.error = ERROR_BADDB;
    p.why = std::string("cannot be examined: ") + std::strerror(errno);
  } else if (!S_ISREG(st.st_mode)) {
    p.error = ERROR_BADDB;
    p.why = S_ISDIR(st.st_mode) ? "is a directory" : "is not a regular file";
  }
  return p;
}

// mkdir -p; the user's own hive directory is private to the user.
bool makeDirectories(const std::string &dir, mode_t mode) {
  if (dir.empty())
    return true;
  std::string partial;
  size_t pos = 0;
  while (pos != std::string::npos) {
    pos = dir.find('/', pos + 1);
    partial = dir.substr(0, pos);
    if (partial.empty())
      continue;
    if (::mkdir(partial.c_str(), mode) != 0 && errno != EEXIST)
      return false;
  }
  struct stat st {};
  return ::stat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// Runs a one-row query and reads its integer columns.
int queryInts(sqlite3 *db, const char *sql, std::initializer_list<int *> values) {
  sqlite3_stmt *s = nullptr;
  int rc = sqlite3_prepare_v2(db, sql, -1, &s, nullptr);
  if (rc != SQLITE_OK)
    return rc;
  rc = sqlite3_step(s);
  int col = 0;
  for (int *v : values)
    *v = rc == SQLITE_ROW ? sqlite3_column_int(s, col++) : 0;
  if (rc == SQLITE_ROW || rc == SQLITE_DONE)
    rc = SQLITE_OK;
  sqlite3_finalize(s);
  return rc;
}

// What the file holds, read in one statement so that a hive being created by another
// process is seen either before or after its creation commits.
const char *const kShapeQuery =
    "SELECT (SELECT application_id FROM pragma_application_id),"
    " (SELECT user_version FROM pragma_user_version),"
    " (SELECT count(*) FROM sqlite_master),"
    " (SELECT count(*) FROM sqlite_master WHERE name IN ('keys','vals'))";

} // namespace

std::vector<HiveCheck> &unusableHiveNotes() {
  static auto *notes = new std::vector<HiveCheck>; // never destroyed: calls may come during exit
  return *notes;
}

LONG takeRegistryWriteError() {
  LONG error = lastWriteError;
  lastWriteError = ERROR_SUCCESS;
  return error;
}

std::string resolveHivePath(Hive hive) {
  const char *dir = std::getenv("VELMORA_REGISTRY_DIR");
  if (dir && *dir)
    return std::string(dir) + "/" + hiveFileName(hive);
  if (hive == Hive::User) {
    const char *config = std::getenv("XDG_CONFIG_HOME");
    std::string base = config && config[0] == '/' ? config : homeDirectory() + "/.config";
    return base + "/velmora/registry/" + hiveFileName(hive);
  }
  return std::string("/etc/velmora/registry/") + hiveFileName(hive);
}

HiveDb::~HiveDb() { close(); }

const std::string &HiveDb::path() {
  if (!pathResolved_) {
    path_ = resolveHivePath(hive_);
    pathResolved_ = true;
  }
  return path_;
}

void HiveDb::refreshLocation() {
  if (handles > 0 || batchDepth_ > 0)
    return;
  // Compared in place: this runs at the start of every operation.
  static const char *const kVars[] = {"VELMORA_REGISTRY_DIR", "XDG_CONFIG_HOME", "HOME"};
  bool changed = !pathResolved_;
  for (size_t i = 0; i < 3; ++i) {
    const char *value = std::getenv(kVars[i]);
    if (env_[i] != (value ? value : "")) {
      env_[i] = value ? value : "";
      changed = true;
    }
  }
  if (!changed)
    return;
  std::string now = resolveHivePath(hive_);
  if (now != path_) {
    close();
    path_ = std::move(now);
  }
  pathResolved_ = true;
}

void HiveDb::finalizeAll() {
  for (sqlite3_stmt *&s : stmts_) {
    sqlite3_finalize(s);
    s = nullptr;
  }
}

void HiveDb::close() {
  if (db_) {
    finalizeAll();
    sqlite3_close_v2(db_);
  }
  db_ = nullptr;
  skeleton_ = false;
  readOnly_ = false;
  unusable_ = ERROR_SUCCESS;
  behindSkeleton_ = FileId{};
  checked_ = false;
  damageSeen_ = false;
  asciiFolding_ = false;
  commitHeader_ = nullptr;
  snapshot_ = false;
  batchDepth_ = 0;
  batchError_ = ERROR_SUCCESS;
  forgetKeys();
  ++generation_;
}

void HiveDb::forgetKeys() {
  children_.clear();
  existing_.clear();
  values_.clear();
  valueBytes_ = 0;
  stamp_ = CommitStamp{};
}

void HiveDb::rememberValue(KeyId key, std::string folded, bool found, DWORD type,
                           const std::string &data) {
  // Bounded, and large data is read again each time rather than held.
  constexpr size_t kMaxEntry = 64 * 1024, kMaxTotal = 1024 * 1024;
  if (data.size() > kMaxEntry)
    return;
  if (valueBytes_ + data.size() + folded.size() > kMaxTotal) {
    values_.clear();
    valueBytes_ = 0;
  }
  valueBytes_ += data.size() + folded.size();
  values_.insert_or_assign(std::make_pair(key, std::move(folded)), KnownValue{found, type, data});
}

namespace {

// The rows of a file of version 1 in the current form and order, as those of other hives that
// they are merged with.
void refoldSubkeys(std::vector<SubkeyRow> *rows) {
  for (SubkeyRow &row : *rows)
    row.folded = foldName(row.name);
  std::sort(rows->begin(), rows->end(),
            [](const SubkeyRow &a, const SubkeyRow &b) { return a.folded < b.folded; });
}

} // namespace

std::string HiveDb::fold(std::string_view name) const {
  return asciiFolding_ ? foldNameAsciiOnly(name) : foldName(name);
}

bool HiveDb::sameName(std::string_view a, std::string_view b) const {
  return asciiFolding_ ? foldNameAsciiOnly(a) == foldNameAsciiOnly(b) : sameFolded(a, b);
}

// In a transaction of its own, so that it stands whatever becomes of the write that asked for it.
LONG HiveDb::moveToCurrentFolding() {
  int rc = exec(kBeginImmediate);
  int version = 0;
  if (rc == SQLITE_OK)
    rc = queryInts(db_, "PRAGMA user_version", {&version});
  if (rc == SQLITE_OK && version == kAsciiFoldingVersion)
    rc = migrateNames(db_, kSchemaVersion);
  if (rc == SQLITE_OK)
    rc = exec(kCommit);
  if (rc != SQLITE_OK)
    return fail(rc);
  asciiFolding_ = false;
  forgetKeys();
  ++generation_;
  return ERROR_SUCCESS;
}

LONG HiveDb::followFolding() {
  int version = 0;
  int rc = queryInts(db_, "PRAGMA user_version", {&version});
  if (rc != SQLITE_OK)
    return fail(rc);
  asciiFolding_ = version == kAsciiFoldingVersion;
  return ERROR_SUCCESS;
}

void HiveDb::abandonAfterFork() {
  // The parent's locks are not ours; closing through SQLite releases only this process's
  // (none) and leaves the parent's WAL alone, as it holds its shared lock on the file.
  close();
}

sqlite3_stmt *HiveDb::stmt(Stmt which) {
  if (!stmts_[which])
    sqlite3_prepare_v3(db_, kStmtSql[which], -1, SQLITE_PREPARE_PERSISTENT, &stmts_[which],
                       nullptr);
  return stmts_[which];
}

int HiveDb::exec(Stmt which) {
  sqlite3_stmt *s = stmt(which);
  if (!s)
    return sqlite3_errcode(db_);
  int rc = sqlite3_step(s);
  sqlite3_reset(s);
  return rc == SQLITE_DONE || rc == SQLITE_ROW ? SQLITE_OK : rc;
}

LONG HiveDb::refused(LONG error) {
  if (error != ERROR_SUCCESS)
    lastWriteError = error;
  return error;
}

// A failed statement: drop the read snapshot, note a batch SQLite already undid, and remember
// a damaged file: a batch on it is undone, and the next operation reads the skeleton instead.
LONG HiveDb::fail(int rc) {
  const bool damage = isDamageResult(rc);
  LONG error = damage ? ERROR_BADDB : errorFromSqlite(rc);
  if (damage && db_) {
    damageSeen_ = true;
    // Closing must not checkpoint the log into a damaged file.
    sqlite3_db_config(db_, SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 1, nullptr);
  }
  if (db_) {
    if (batchDepth_ > 0) {
      if (sqlite3_get_autocommit(db_) || damage)
        batchError_ = error;
    } else if (!sqlite3_get_autocommit(db_)) {
      exec(kRollback);
    }
  }
  snapshot_ = false;
  forgetKeys();
  ++generation_;
  return error;
}

LONG HiveDb::openSkeleton() {
  if (sqlite3_open_v2(":memory:", &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr) !=
      SQLITE_OK) {
    close();
    return ERROR_NOT_ENOUGH_MEMORY;
  }
  int rc = sqlite3_exec(db_, kSchema, nullptr, nullptr, nullptr);
  if (rc == SQLITE_OK && hive_ == Hive::Machine)
    rc = sqlite3_exec(db_, kMachineSkeleton, nullptr, nullptr, nullptr);
  if (rc != SQLITE_OK) {
    close();
    return errorFromSqlite(rc);
  }
  skeleton_ = true;
  behindSkeleton_ = fileId(path());
  return ERROR_SUCCESS;
}

// Puts the skeleton in place of a file that cannot be used, without touching the file.
LONG HiveDb::becomeUnusable(LONG error, const std::string &why) {
  if (db_)
    sqlite3_db_config(db_, SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 1, nullptr);
  close();
  LONG opened = openSkeleton();
  if (opened != ERROR_SUCCESS)
    return opened;
  unusable_ = error;
  std::vector<HiveCheck> &notes = unusableHiveNotes();
  if (std::none_of(notes.begin(), notes.end(),
                   [&](const HiveCheck &c) { return c.hive == hive_ && c.path == path(); }))
    notes.push_back(HiveCheck{hive_, path(), true, false, why, false, {}});
  return error;
}

// Damage that SQLite notices only on reaching the damaged pages: looked for before this
// connection's first write, so that nothing is written on top of it.
LONG HiveDb::checkBeforeWriting() {
  sqlite3_stmt *s = nullptr;
  int rc = sqlite3_prepare_v2(db_, "PRAGMA quick_check(1)", -1, &s, nullptr);
  std::string line;
  if (rc == SQLITE_OK && (rc = sqlite3_step(s)) == SQLITE_ROW) {
    const unsigned char *text = sqlite3_column_text(s, 0);
    line = text ? reinterpret_cast<const char *>(text) : "";
    rc = SQLITE_OK;
  }
  sqlite3_finalize(s);
  if (rc == SQLITE_OK && line == "ok") {
    checked_ = true;
    return ERROR_SUCCESS;
  }
  if (rc != SQLITE_OK && !isDamageResult(rc))
    return errorFromSqlite(rc); // busy or out of memory: the next write checks again
  return becomeUnusable(ERROR_BADDB, rc == SQLITE_OK ? line : sqlite3_errmsg(db_));
}

// Opens an existing file. A file that is empty (or holds an unfinished creation) reads as the
// skeleton; one that is not a hive is unusable and is never written.
LONG HiveDb::openFile(bool create) {
  int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX | (create ? SQLITE_OPEN_CREATE : 0);
  int rc = sqlite3_open_v2(path().c_str(), &db_, flags, nullptr);
  if (rc != SQLITE_OK) {
    // SQLite falls back to read-only by itself; this is the case where even that failed.
    std::string why = sqlite3_errmsg(db_);
    close();
    LONG error = errorFromSqlite(rc);
    if (create || error == ERROR_NOT_ENOUGH_MEMORY || error == ERROR_BUSY)
      return error;
    return becomeUnusable(error, why);
  }
  readOnly_ = sqlite3_db_readonly(db_, "main") == 1;
  sqlite3_busy_timeout(db_, kBusyTimeoutMs);
  sqlite3_extended_result_codes(db_, 1);

  int appId = 0, version = 0, entries = 0, tables = 0;
  rc = queryInts(db_, kShapeQuery, {&appId, &version, &entries, &tables});
  if (rc != SQLITE_OK) {
    LONG error = errorFromSqlite(rc);
    // Busy or out of memory passes; a file that cannot be read is unusable.
    if (isDamageResult(rc) || error == ERROR_ACCESS_DENIED || error == ERROR_REGISTRY_IO_FAILED)
      return becomeUnusable(isDamageResult(rc) ? ERROR_BADDB : error, sqlite3_errmsg(db_));
    close();
    return error;
  }
  // No schema objects at all: a creation that has not committed yet, or never will.
  bool empty = entries == 0;
  if (!empty && (appId != kApplicationId || tables != 2))
    return becomeUnusable(ERROR_BADDB, "not a registry hive");
  asciiFolding_ = !empty && version == kAsciiFoldingVersion;
  if (!readOnly_) {
    // Keep the -wal and -shm files after the last close: readers that may not create them
    // (a read-only directory) can still open the hive.
    int persist = 1;
    sqlite3_file_control(db_, "main", SQLITE_FCNTL_PERSIST_WAL, &persist);
    sqlite3_exec(db_, "PRAGMA synchronous=NORMAL; PRAGMA journal_size_limit=4194304", nullptr,
                 nullptr, nullptr);
  }
  if (empty) {
    if (create)
      return ERROR_SUCCESS;
    // Nothing in it yet: read the skeleton until the first write creates the schema.
    close();
    return openSkeleton();
  }
  return ERROR_SUCCESS;
}

// Looks at the location afresh: a missing file reads as the skeleton, and so does one that
// cannot be used.
LONG HiveDb::openFromDisk() {
  Probe probe = probeFile(path());
  if (missing(probe.id))
    return openSkeleton();
  LONG error =
      probe.error != ERROR_SUCCESS ? becomeUnusable(probe.error, probe.why) : openFile(false);
  return unusable_ != ERROR_SUCCESS && db_ ? ERROR_SUCCESS : error;
}

LONG HiveDb::ensureOpen() {
  if (db_ && !skeleton_) {
    if (!damageSeen_)
      return ERROR_SUCCESS;
    becomeUnusable(ERROR_BADDB, sqlite3_errstr(SQLITE_CORRUPT));
    return db_ ? ERROR_SUCCESS : ERROR_NOT_ENOUGH_MEMORY;
  }
  if (db_ && skeleton_) {
    // Stands in until the location changes: a missing file is created, an unusable one
    // replaced, or an empty one filled (whose creation may land in its log only).
    if (snapshot_)
      return ERROR_SUCCESS;
    FileId now = fileId(path());
    if (unusable_ != ERROR_SUCCESS ? now == behindSkeleton_ : missing(now))
      return ERROR_SUCCESS;
    close();
  }
  return openFromDisk();
}

LONG HiveDb::createFile() {
  // Processes creating the hive at the same time can meet SQLite's deadlock guard while the
  // file changes to WAL (SQLITE_BUSY with no wait); by the next try the other one is done.
  for (int attempt = 0;; ++attempt) {
    LONG error = createFileOnce();
    if (error != ERROR_BUSY || attempt == 200)
      return error;
    std::this_thread::sleep_for(std::chrono::milliseconds(1 + attempt % 5));
  }
}

LONG HiveDb::createFileOnce() {
  close();
  std::string dir = path().substr(0, path().rfind('/'));
  mode_t mode = hive_ == Hive::User && !std::getenv("VELMORA_REGISTRY_DIR") ? 0700 : 0755;
  if (!makeDirectories(dir, mode))
    return errno == ENOSPC ? ERROR_DISK_FULL : ERROR_ACCESS_DENIED;
  LONG error = openFile(true);
  if (error != ERROR_SUCCESS)
    return error;
  if (readOnly_) {
    close();
    return ERROR_ACCESS_DENIED;
  }
  int tables = 0;
  int rc = queryInts(db_, "SELECT count(*) FROM sqlite_master WHERE name='keys'", {&tables});
  if (rc == SQLITE_OK && tables == 1)
    return ERROR_SUCCESS;
  // Set WAL before the first table exists; a racing creator does the same, and the check
  // inside the write transaction makes sure only one of us creates the schema.
  if (rc == SQLITE_OK)
    rc = sqlite3_exec(db_, "PRAGMA journal_mode=WAL", nullptr, nullptr, nullptr);
  if (rc == SQLITE_OK)
    rc = sqlite3_exec(db_, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
  if (rc == SQLITE_OK)
    rc = queryInts(db_, "SELECT count(*) FROM sqlite_master WHERE name='keys'", {&tables});
  if (rc == SQLITE_OK && tables == 0) {
    std::string sql = kSchema;
    if (hive_ == Hive::Machine)
      sql += kMachineSkeleton;
    sql += "PRAGMA application_id=" + std::to_string(kApplicationId) +
           "; PRAGMA user_version=" + std::to_string(kSchemaVersion) + ";";
    rc = sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, nullptr);
  }
  if (rc == SQLITE_OK)
    rc = sqlite3_exec(db_, "COMMIT", nullptr, nullptr, nullptr);
  if (rc != SQLITE_OK) {
    if (!sqlite3_get_autocommit(db_))
      sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
    close();
    return errorFromSqlite(rc);
  }
  return ERROR_SUCCESS;
}

void HiveDb::endSnapshot() {
  if (!snapshot_)
    return;
  snapshot_ = false;
  if (db_ && !sqlite3_get_autocommit(db_) && exec(kCommit) != SQLITE_OK)
    exec(kRollback);
}

void HiveDb::expireSnapshot(Clock::time_point now, Clock::duration maxAge) {
  if (snapshot_ && (now - snapshotStart_ > maxAge ||
                    (commitHeader_ && !(stamp_ == readCommitStamp(commitHeader_)))))
    endSnapshot();
}

LONG HiveDb::beginRead() {
  if (batchDepth_ > 0)
    return batchError_ != ERROR_SUCCESS ? batchError_ : ERROR_SUCCESS;
  if (snapshot_)
    return ERROR_SUCCESS;
  if (commitHeader_ && stamp_ == readCommitStamp(commitHeader_))
    return ERROR_SUCCESS; // nothing committed since: memory answers, or a miss starts a snapshot
  return startSnapshot();
}

LONG HiveDb::needSnapshot() {
  if (batchDepth_ > 0)
    return batchError_;
  if (snapshot_ || (db_ && !sqlite3_get_autocommit(db_)))
    return ERROR_SUCCESS; // a snapshot or this connection's write transaction
  return startSnapshot();
}

LONG HiveDb::startSnapshot() {
  LONG error = ensureOpen();
  if (error != ERROR_SUCCESS)
    return error;
  // Taken before the snapshot starts: a commit after it moves the header on, so what this
  // snapshot reads is kept only until then.
  CommitStamp before = commitHeader_ ? readCommitStamp(commitHeader_) : CommitStamp{};
  int rc = exec(kBegin);
  if (rc != SQLITE_OK)
    return fail(rc);
  snapshot_ = true;
  snapshotStart_ = Clock::now();
  if (!(before == stamp_)) {
    forgetKeys();
    stamp_ = before;
  }
  // Reading the version starts the snapshot. Only another connection's commit moves it (ours
  // move the generation themselves), so enumeration cursors and merged lists outlive snapshots
  // that saw no change.
  Query version(db_, stmt(kDataVersion));
  rc = version.step();
  if (rc != SQLITE_ROW)
    return fail(rc);
  if (version.integer(0) != dataVersion_) {
    dataVersion_ = version.integer(0);
    ++generation_;
    if (asciiFolding_)
      if (LONG followed = followFolding(); followed != ERROR_SUCCESS)
        return followed;
  }
  // The shared header exists once a snapshot has started; a read-only connection may only
  // have a private copy of it, which no other process updates.
  if (!commitHeader_ && !skeleton_ && !readOnly_)
    commitHeader_ = sharedCommitHeader(db_);
  return ERROR_SUCCESS;
}

LONG HiveDb::beginWrite() {
  if (batchDepth_ > 0)
    return refused(batchError_);
  endSnapshot();
  LONG error = ensureOpen();
  if (error == ERROR_SUCCESS && unusable_ != ERROR_SUCCESS)
    error = unusable_;
  else if (error == ERROR_SUCCESS && skeleton_)
    error = createFile();
  if (error == ERROR_SUCCESS && readOnly_)
    error = ERROR_ACCESS_DENIED;
  if (error == ERROR_SUCCESS && !checked_)
    error = checkBeforeWriting();
  if (error == ERROR_SUCCESS && asciiFolding_)
    error = moveToCurrentFolding();
  if (error != ERROR_SUCCESS)
    return refused(error);
  int rc = exec(kBeginImmediate);
  if (rc != SQLITE_OK)
    return refused(fail(rc));
  forgetKeys();
  ++generation_;
  return ERROR_SUCCESS;
}

LONG HiveDb::finishWrite(LONG result) {
  ++generation_;
  if (batchDepth_ > 0)
    return refused(result);
  if (!db_ || sqlite3_get_autocommit(db_))
    return refused(result); // fail() already undid it
  if (result == ERROR_SUCCESS) {
    int rc = exec(kCommit);
    if (rc == SQLITE_OK)
      return ERROR_SUCCESS;
    return refused(fail(rc));
  }
  exec(kRollback);
  return refused(result);
}

LONG HiveDb::beginBatch() {
  if (batchDepth_ > 0) {
    ++batchDepth_; // nested: joins the outer batch
    return ERROR_SUCCESS;
  }
  LONG error = beginWrite();
  if (error != ERROR_SUCCESS)
    return error;
  batchDepth_ = 1;
  batchError_ = ERROR_SUCCESS;
  touched_.clear();
  return ERROR_SUCCESS;
}

LONG HiveDb::endBatch(bool commit) {
  if (batchDepth_ == 0)
    return ERROR_INVALID_FUNCTION;
  if (--batchDepth_ > 0)
    return commit ? batchError_ : ERROR_SUCCESS;
  LONG undone = batchError_;
  batchError_ = ERROR_SUCCESS;
  std::unordered_set<KeyId> touched;
  touched.swap(touched_);
  ++generation_;
  if (!db_ || sqlite3_get_autocommit(db_))
    return commit ? (undone != ERROR_SUCCESS ? undone : ERROR_REGISTRY_IO_FAILED) : ERROR_SUCCESS;
  if (!commit || undone != ERROR_SUCCESS) {
    exec(kRollback);
    return commit ? refused(undone) : ERROR_SUCCESS;
  }
  for (KeyId key : touched)
    if (LONG error = touch(key); error != ERROR_SUCCESS)
      return error;
  int rc = exec(kCommit);
  return rc == SQLITE_OK ? ERROR_SUCCESS : refused(fail(rc));
}

LONG HiveDb::keyExists(KeyId id, bool *exists, int64_t *written) {
  if (!written && existing_.count(id)) {
    *exists = true;
    return ERROR_SUCCESS;
  }
  if (LONG error = needSnapshot(); error != ERROR_SUCCESS)
    return error;
  Query q(db_, stmt(kKeyExists), id);
  int rc = q.step();
  if (rc == SQLITE_ROW) {
    *exists = true;
    existing_.insert(id);
    if (written)
      *written = q.integer(0);
    return ERROR_SUCCESS;
  }
  if (rc == SQLITE_DONE) {
    *exists = false;
    return ERROR_SUCCESS;
  }
  return fail(rc);
}

LONG HiveDb::findChild(KeyId parent, std::string_view name, KeyId *child) {
  std::pair<KeyId, std::string> key(parent, fold(name));
  if (auto known = children_.find(key); known != children_.end()) {
    if (known->second == 0)
      return ERROR_FILE_NOT_FOUND; // *child untouched, as after a query that found nothing
    *child = known->second;
    return ERROR_SUCCESS;
  }
  if (LONG error = needSnapshot(); error != ERROR_SUCCESS)
    return error;
  Query q(db_, stmt(kFindChild), parent, key.second);
  int rc = q.step();
  if (rc == SQLITE_ROW) {
    *child = q.integer(0);
    children_.emplace(std::move(key), *child);
    existing_.insert(*child);
    return ERROR_SUCCESS;
  }
  if (rc != SQLITE_DONE)
    return fail(rc);
  children_.emplace(std::move(key), 0);
  return ERROR_FILE_NOT_FOUND;
}

LONG HiveDb::subkeyAt(KeyId parent, DWORD index, SubkeyRow *row) {
  if (LONG error = needSnapshot(); error != ERROR_SUCCESS)
    return error;
  bool next = subkeyCursorGen_ == generation_ && subkeyCursorKey_ == parent &&
              index == subkeyCursorIndex_ + 1 && index > 0;
  Query q(db_, stmt(next ? kSubkeyAfter : kSubkeyAt), parent);
  if (next)
    q.bind(2, std::string_view(subkeyCursorName_));
  else
    q.bind(2, static_cast<int64_t>(index));
  int rc = q.step();
  if (rc == SQLITE_DONE)
    return ERROR_NO_MORE_ITEMS;
  if (rc != SQLITE_ROW)
    return fail(rc);
  row->name = q.blob(0);
  row->folded = q.blob(1);
  row->written = q.integer(2);
  subkeyCursorKey_ = parent;
  subkeyCursorIndex_ = index;
  subkeyCursorName_ = row->folded;
  subkeyCursorGen_ = generation_;
  return ERROR_SUCCESS;
}

LONG HiveDb::subkeys(KeyId parent, std::vector<SubkeyRow> *rows) {
  if (LONG error = needSnapshot(); error != ERROR_SUCCESS)
    return error;
  rows->clear();
  Query q(db_, stmt(kSubkeys), parent);
  int rc;
  while ((rc = q.step()) == SQLITE_ROW)
    rows->push_back(SubkeyRow{q.blob(0), q.blob(1), q.integer(2)});
  if (rc != SQLITE_DONE)
    return fail(rc);
  if (asciiFolding_)
    refoldSubkeys(rows);
  return ERROR_SUCCESS;
}

LONG HiveDb::findValue(KeyId key, std::string_view name, DWORD *type, std::string *data) {
  if (valueCursorGen_ == generation_ && valueCursorKey_ == key &&
      valueLast_ < valuesAhead_.size() && sameName(name, valuesAhead_[valueLast_].name)) {
    *type = valuesAhead_[valueLast_].type;
    *data = valuesAhead_[valueLast_].data;
    return ERROR_SUCCESS;
  }
  std::string folded = fold(name);
  if (auto known = values_.find(std::make_pair(key, folded)); known != values_.end()) {
    *type = known->second.type;
    *data = known->second.data;
    return known->second.found ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND;
  }
  if (LONG error = needSnapshot(); error != ERROR_SUCCESS)
    return error;
  Query q(db_, stmt(kFindValue), key, folded);
  int rc = q.step();
  if (rc != SQLITE_ROW && rc != SQLITE_DONE)
    return fail(rc);
  const bool found = rc == SQLITE_ROW;
  *type = found ? static_cast<DWORD>(q.integer(0)) : REG_NONE;
  *data = found ? q.blob(1) : std::string();
  rememberValue(key, std::move(folded), found, *type, *data);
  return found ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND;
}

LONG HiveDb::valueAt(KeyId key, DWORD index, ValueRow *row) {
  if (LONG error = needSnapshot(); error != ERROR_SUCCESS)
    return error;
  const bool current = valueCursorGen_ == generation_ && valueCursorKey_ == key;
  const size_t fetched = valuesAhead_.size();
  if (!current || index < valueCursorFirst_ || index >= valueCursorFirst_ + fetched) {
    // Fewer rows than asked for: the key has no more after them.
    if (current && index >= valueCursorFirst_ + fetched && fetched < kValuesAhead)
      return ERROR_NO_MORE_ITEMS;
    // Past the rows read ahead: go on after the last of them, else count from the start.
    bool next = current && fetched > 0 && index == valueCursorFirst_ + fetched;
    Query q(db_, stmt(next ? kValueAfter : kValueAt), key,
            next ? valuesAhead_.back().id : static_cast<int64_t>(index));
    std::vector<ValueRow> rows;
    int rc;
    while ((rc = q.step()) == SQLITE_ROW)
      rows.push_back(
          ValueRow{q.integer(0), q.blob(1), static_cast<DWORD>(q.integer(2)), q.blob(3)});
    if (rc != SQLITE_DONE)
      return fail(rc);
    valuesAhead_ = std::move(rows);
    valueCursorFirst_ = index;
    valueCursorKey_ = key;
    valueCursorGen_ = generation_;
    if (valuesAhead_.empty())
      return ERROR_NO_MORE_ITEMS;
  }
  valueLast_ = index - valueCursorFirst_;
  *row = valuesAhead_[valueLast_];
  return ERROR_SUCCESS;
}

LONG HiveDb::counts(KeyId key, KeyCounts *out) {
  if (LONG error = needSnapshot(); error != ERROR_SUCCESS)
    return error;
  {
    Query q(db_, stmt(kSubkeyCounts), key);
    int rc = q.step();
    if (rc != SQLITE_ROW)
      return fail(rc);
    out->subkeys = static_cast<DWORD>(q.integer(0));
    out->maxSubkeyName = static_cast<DWORD>(q.integer(1));
  }
  // Name lengths in bytes: the size an A call's buffer needs, one byte per character.
  Query q(db_, stmt(kValueCounts), key);
  int rc = q.step();
  if (rc != SQLITE_ROW)
    return fail(rc);
  out->values = static_cast<DWORD>(q.integer(0));
  out->maxValueName = static_cast<DWORD>(q.integer(1));
  out->maxValueData = static_cast<DWORD>(q.integer(2));
  out->maxStringData = static_cast<DWORD>(q.integer(3));
  return ERROR_SUCCESS;
}

LONG HiveDb::stringValues(KeyId key, std::vector<ValueRow> *rows) {
  if (LONG error = needSnapshot(); error != ERROR_SUCCESS)
    return error;
  rows->clear();
  Query q(db_, stmt(kStringValues), key);
  int rc;
  while ((rc = q.step()) == SQLITE_ROW)
    rows->push_back(ValueRow{q.integer(0), q.blob(1), static_cast<DWORD>(q.integer(2)), q.blob(3)});
  return rc == SQLITE_DONE ? ERROR_SUCCESS : fail(rc);
}

LONG HiveDb::touch(KeyId key) {
  // A batch stamps each key once, when it commits.
  if (batchDepth_ > 0) {
    touched_.insert(key);
    return ERROR_SUCCESS;
  }
  Query q(db_, stmt(kTouch), key, nowFileTime());
  int rc = q.step();
  return rc == SQLITE_DONE ? ERROR_SUCCESS : fail(rc);
}

LONG HiveDb::createChild(KeyId parent, std::string_view name, KeyId *child) {
  std::string folded = fold(name);
  {
    Query q(db_, stmt(kInsertKey), parent, name, folded, nowFileTime());
    int rc = q.step();
    if (rc != SQLITE_DONE)
      return fail(rc);
  }
  *child = sqlite3_last_insert_rowid(db_);
  children_.insert_or_assign(std::make_pair(parent, std::move(folded)), *child);
  existing_.insert(*child);
  return touch(parent);
}

LONG HiveDb::setValue(KeyId key, std::string_view name, DWORD type, const BYTE *data, DWORD size) {
  std::string folded = fold(name);
  {
    Query q(db_, stmt(kSetValue), key, name, folded, static_cast<int64_t>(type),
            std::string_view(reinterpret_cast<const char *>(data), size));
    int rc = q.step();
    if (rc != SQLITE_DONE)
      return fail(rc);
  }
  values_.erase(std::make_pair(key, std::move(folded)));
  return touch(key);
}

LONG HiveDb::deleteValue(KeyId key, std::string_view name) {
  std::string folded = fold(name);
  {
    Query q(db_, stmt(kDeleteValue), key, folded);
    int rc = q.step();
    if (rc != SQLITE_DONE)
      return fail(rc);
  }
  values_.erase(std::make_pair(key, std::move(folded)));
  if (sqlite3_changes(db_) == 0)
    return ERROR_FILE_NOT_FOUND;
  return touch(key);
}

LONG HiveDb::hasSubkeys(KeyId key, bool *any) {
  if (LONG error = needSnapshot(); error != ERROR_SUCCESS)
    return error;
  Query q(db_, stmt(kHasSubkeys), key);
  int rc = q.step();
  if (rc == SQLITE_ROW || rc == SQLITE_DONE) {
    *any = rc == SQLITE_ROW;
    return ERROR_SUCCESS;
  }
  return fail(rc);
}

LONG HiveDb::deleteKey(KeyId key) {
  forgetKeys();
  for (Stmt which : {kDeleteKeyValues, kDeleteKey}) {
    Query q(db_, stmt(which), key);
    int rc = q.step();
    if (rc != SQLITE_DONE)
      return fail(rc);
  }
  return ERROR_SUCCESS;
}

LONG HiveDb::renameKey(KeyId key, std::string_view name) {
  KeyId parent = 0;
  {
    Query q(db_, stmt(kParentOf), key);
    int rc = q.step();
    if (rc != SQLITE_ROW)
      return rc == SQLITE_DONE ? ERROR_KEY_DELETED : fail(rc);
    parent = q.integer(0);
  }
  KeyId existing = 0;
  LONG error = findChild(parent, name, &existing);
  if (error == ERROR_SUCCESS && existing != key)
    return ERROR_ACCESS_DENIED; // a sibling has the name
  if (error != ERROR_SUCCESS && error != ERROR_FILE_NOT_FOUND)
    return error;
  forgetKeys();
  const std::string folded = fold(name); // bound by reference: it must outlive the query
  Query q(db_, stmt(kRenameKey), key, name, folded);
  int rc = q.step();
  if (rc != SQLITE_DONE)
    return fail(rc);
  return touch(parent);
}

LONG HiveDb::flush() {
  if (batchDepth_ > 0)
    return ERROR_SUCCESS; // the batch's commit is what will need flushing
  LONG error = ensureOpen();
  if (error != ERROR_SUCCESS)
    return error;
  if (skeleton_ || readOnly_)
    return ERROR_SUCCESS; // nothing of ours to make durable
  endSnapshot();
  // Copy what readers allow into the database file, then sync both files: with
  // synchronous=NORMAL, commits reach the WAL without an fsync.
  int rc = sqlite3_wal_checkpoint_v2(db_, "main", SQLITE_CHECKPOINT_PASSIVE, nullptr, nullptr);
  if (rc != SQLITE_OK && rc != SQLITE_BUSY)
    return fail(rc);
  for (int op : {SQLITE_FCNTL_JOURNAL_POINTER, SQLITE_FCNTL_FILE_POINTER}) {
    sqlite3_file *file = nullptr;
    if (sqlite3_file_control(db_, "main", op, &file) != SQLITE_OK || !file || !file->pMethods)
      continue;
    rc = file->pMethods->xSync(file, SQLITE_SYNC_FULL);
    if (rc != SQLITE_OK)
      return errorFromSqlite(rc);
  }
  return ERROR_SUCCESS;
}

HiveCheck HiveDb::check() {
  HiveCheck result{hive_, resolveHivePath(hive_), false, true, {}, false, {}};
  Probe probe = probeFile(result.path);
  result.exists = !missing(probe.id);
  if (!result.exists)
    return result;
  if (probe.error != ERROR_SUCCESS) {
    result.ok = false;
    result.what = probe.why;
    return result;
  }
  sqlite3 *db = nullptr;
  int rc = sqlite3_open_v2(result.path.c_str(), &db, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX,
                           nullptr);
  int version = 0, entries = 0, tables = 0;
  if (rc == SQLITE_OK) {
    sqlite3_db_config(db, SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 1, nullptr);
    sqlite3_busy_timeout(db, kBusyTimeoutMs);
    int appId = 0;
    rc = queryInts(db, kShapeQuery, {&appId, &version, &entries, &tables});
    if (rc == SQLITE_OK && entries > 0 && (appId != kApplicationId || tables != 2)) {
      result.ok = false;
      result.what = "not a registry hive";
    }
  }
  if (rc == SQLITE_OK && result.ok) {
    sqlite3_stmt *s = nullptr;
    rc = sqlite3_prepare_v2(db, "PRAGMA integrity_check(1)", -1, &s, nullptr);
    if (rc == SQLITE_OK) {
      rc = sqlite3_step(s);
      if (rc == SQLITE_ROW) {
        const unsigned char *text = sqlite3_column_text(s, 0);
        std::string line = text ? reinterpret_cast<const char *>(text) : "";
        if (line != "ok") {
          result.ok = false;
          result.what = line;
        }
        rc = SQLITE_OK;
      }
    }
    sqlite3_finalize(s);
  }
  if (rc == SQLITE_OK && result.ok && entries > 0 && version == kAsciiFoldingVersion) {
    result.oldNames = true;
    rc = plannedMerges(db, &result.merges);
  } else if (rc == SQLITE_OK && result.ok && entries > 0) {
    rc = recordedMerges(db, &result.merges);
  }
  if (rc != SQLITE_OK) {
    result.ok = false;
    result.what = db ? sqlite3_errmsg(db) : sqlite3_errstr(rc);
  }
  sqlite3_close_v2(db);
  return result;
}

} // namespace vlx
