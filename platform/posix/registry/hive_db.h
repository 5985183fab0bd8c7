// One hive's SQLite connection: location, schema, read snapshots, write transactions.
#pragma once

#include "platform/posix/registry/commit_stamp.h"
#include "platform/posix/registry/hive_location.h"
#include "platform/posix/registry/network_mode.h"

#include <velmora/hive.h>
#include <velmora/win32.h>

#include <chrono>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;

namespace vlx {

using KeyId = int64_t;

// Fixed row ids of the skeleton, the same in every hive file and in the in-memory stand-in
// for a hive that does not exist yet, so handles stay valid when the file appears.
constexpr KeyId kRootKey = 1;
constexpr KeyId kSoftwareKey = 2;
constexpr KeyId kMachineClassesKey = 3;

struct SubkeyRow {
  std::string name;
  std::string folded;
  int64_t written = 0;
};

struct ValueRow {
  int64_t id = 0;
  std::string name;
  DWORD type = REG_NONE;
  std::string data;
};

struct KeyCounts {
  DWORD subkeys = 0;
  DWORD maxSubkeyName = 0;
  DWORD values = 0;
  DWORD maxValueName = 0;
  DWORD maxValueData = 0;  // of the values that are not strings
  DWORD maxStringData = 0; // narrow bytes; 0 when there are no strings
  int64_t written = 0;
};

// hive_damage.cpp: the hive files this process found unusable, each location once (the store's
// mutex held).
std::vector<HiveCheck> &unusableHiveNotes();

// All members are called with the store's mutex held. Reads run in the current read view
// (a snapshot or the open write transaction), writes inside beginWrite()/finishWrite().
// The members are grouped by the file that defines them; the state they share comes last.
class HiveDb {
public:
  using Clock = std::chrono::steady_clock;

  // hive_db.cpp: the connection, opening and closing it, write transactions and batches.
  explicit HiveDb(Hive hive) : hive_(hive) {}
  ~HiveDb();
  HiveDb(const HiveDb &) = delete;
  HiveDb &operator=(const HiveDb &) = delete;

  Hive hive() const { return hive_; }
  // Open handles into this hive; while there are none the location may change.
  int handles = 0;
  bool inBatch() const { return batchDepth_ > 0; }
  // Drops the connection (it belongs to the parent after a fork, or the hive is going away).
  void close();
  void abandonAfterFork();
  LONG beginWrite();
  LONG finishWrite(LONG result);
  LONG beginBatch();
  LONG endBatch(bool commit);
  // Makes every committed change durable against power loss.
  LONG flush();
  bool inUse() const { return db_ != nullptr; }

private:
  LONG ensureOpen();
  LONG openFromDisk();

public:
  // hive_location.cpp: where the file lives.
  const std::string &path();
  // With no handles open and no batch, follows a changed location.
  void refreshLocation();

  // hive_cache.cpp: read views, and the answers kept in memory while no commit lands.
  // Ends the read snapshot so that the next read sees the latest committed state.
  void endSnapshot();
  // Ends a snapshot older than `maxAge`, or one that a commit since has overtaken.
  void expireSnapshot(Clock::time_point now, Clock::duration maxAge);
  bool hasSnapshot() const { return snapshot_; }
  // Changes whenever what reads may return can have changed: a write, or a new snapshot that
  // sees another connection's commit.
  uint64_t generation() const { return generation_; }
  // Starts a read view: the answers kept in memory while no commit has landed since they were
  // read (checked in the shared header, without SQLite), else a snapshot.
  LONG beginRead();
  // Begins a snapshot unless one (or this connection's write transaction) is open: for a read
  // that memory cannot answer, or to fix from now on the state that reads see.
  LONG needSnapshot();
  // Numbers the store's calls: within one call the shared header is read once per hive.
  static inline uint64_t callNumber = 0;
  // Key paths found in the current read view, by their text as given: the key `path` names below
  // `from` and the number of its components. Only keys found are kept, so they stay true for
  // as long as the keys found one by one do.
  bool knownPath(KeyId from, std::string_view path, KeyId *id, size_t *components);
  void rememberPath(KeyId from, std::string_view path, KeyId id, size_t components);
  // False once they are forgotten, which happens to all of them at once.
  bool remembersPaths() const { return !paths_.empty(); }

private:
  LONG startSnapshot();
  void rememberValue(KeyId key, std::string folded, bool found, DWORD type,
                     const std::string &data);
  void forgetKeys();
  // In a transaction: follows what other connections committed since the last look.
  LONG followOtherCommits();
  const std::string &pathKey(KeyId from, std::string_view path);

public:
  // hive_statements.cpp: the prepared statements, and the reads and writes made with them.
  // Reads.
  LONG keyExists(KeyId id, bool *exists, int64_t *written = nullptr);
  LONG findChild(KeyId parent, std::string_view name, KeyId *child);
  LONG subkeyAt(KeyId parent, DWORD index, SubkeyRow *row);
  LONG subkeys(KeyId parent, std::vector<SubkeyRow> *rows);
  LONG findValue(KeyId key, std::string_view name, DWORD *type, std::string *data);
  LONG valueAt(KeyId key, DWORD index, ValueRow *row);
  LONG counts(KeyId key, KeyCounts *out);
  // The key's REG_SZ, REG_EXPAND_SZ and REG_MULTI_SZ values, in order.
  LONG stringValues(KeyId key, std::vector<ValueRow> *rows);
  // Writes (inside beginWrite).
  LONG createChild(KeyId parent, std::string_view name, KeyId *child);
  LONG setValue(KeyId key, std::string_view name, DWORD type, const BYTE *data, DWORD size);
  LONG deleteValue(KeyId key, std::string_view name);
  LONG deleteKey(KeyId key);
  // ERROR_ACCESS_DENIED when a sibling already has the name.
  LONG renameKey(KeyId key, std::string_view name);
  LONG hasSubkeys(KeyId key, bool *any);

private:
  enum Stmt {
    kBegin,
    kBeginImmediate,
    kCommit,
    kRollback,
    kKeyExists,
    kFindChild,
    kSubkeyAt,
    kSubkeyAfter,
    kSubkeys,
    kFindValue,
    kValueAt,
    kValueAfter,
    kSubkeyCounts,
    kValueCounts,
    kStringValues,
    kInsertKey,
    kSetValue,
    kDeleteValue,
    kDeleteKey,
    kDeleteKeyValues,
    kHasSubkeys,
    kTouch,
    kParentOf,
    kRenameKey,
    kDataVersion,
    kLastValueId,
    kStmtCount
  };

  int exec(Stmt which);
  sqlite3_stmt *stmt(Stmt which);
  void finalizeAll();
  LONG touch(KeyId key);

  // hive_schema.cpp: the file's layout and its moves, the skeleton, the rule that folds names.
  LONG openFile(bool create);
  LONG openSkeleton();
  LONG createFile();
  LONG createFileOnce();
  // A name's comparison form, and equality of names, by the rule the file was written with.
  std::string fold(std::string_view name) const;
  // The same, valid until the next call of it.
  std::string_view foldedView(std::string_view name);
  bool sameName(std::string_view a, std::string_view b) const;
  // Moves a file of an older version to the current one: names to the current folding (merging
  // what it makes equal), values into the current table.
  LONG moveToCurrentSchema();
  // Reads the file's version again: another connection moved it, or put another file in place.
  LONG followSchema();

public:
  // hive_upkeep.cpp: checkpoints, replaced files, and the change signal commits move.
  // Copies the log into the hive file and empties it, without waiting for other processes'
  // readers or writers: what they hold back is copied by a later try.
  void checkpoint();
  // Background care (the store's mutex held): checkpoints once the process has been idle for
  // `idle` after a commit, and lets go of a file that was replaced or removed, so that the next
  // call opens what is there now.
  void upkeep(Clock::time_point now, Clock::duration idle);
  // At exit: the log goes into the file and the connection closes.
  void closeForExit();
  // Whether the background care has work left: a log to checkpoint, or a snapshot to end.
  bool needsUpkeep() const { return db_ && !skeleton_ && (unsaved_ || snapshot_); }
  // Appends what the hive's change signal shows now: it moves with every commit of any
  // process. False when the hive has no signal to read (no file yet, or not read yet).
  bool changeSignal(std::vector<uint64_t> *out) const;
  // The word of the shared header that every commit changes and wakes (commitCounter), or null
  // while the hive has no header to wait on (no file yet, not read yet).
  const volatile uint32_t *commitWord() const {
    return commitHeader_ ? commitCounter(commitHeader_) : nullptr;
  }

private:
  void noteCommit();
  static int onCommit(void *self, sqlite3 *db, const char *name, int logPages);

public:
  // hive_damage.cpp: files that cannot be used, failed statements, integrity checks.
  // Integrity check of the file through SQLite, read-only; the store's connection is untouched.
  HiveCheck check();
  // Why the hive's file cannot be used (damaged, unreadable, not a regular file), or
  // ERROR_SUCCESS. Such a hive reads as its skeleton and refuses every write with this code;
  // the file is left as it is until it changes.
  LONG unusable() const { return unusable_; }

private:
  LONG becomeUnusable(LONG error, const std::string &why);
  LONG checkBeforeWriting();
  LONG refused(LONG error);
  LONG fail(int rc);

public:
  // hive_network.cpp: network mode, decided at each open of the file.
  const StoreMode &mode() const { return mode_; }
  // For change notification: looks at the file for another process's commit once the answers in
  // memory are due for a re-check; true when it found one.
  bool pollOtherProcesses();
  // How often a change watcher reads the signal of this hive, where neither file events nor the
  // wake-up of committers reach it (a hive shared by several hosts); zero: never, it waits.
  Clock::duration signalPoll{};

private:
  // In openFile, network mode: the rollback journal, and a file still in WAL taken out of it.
  LONG openForNetwork();
  // Network mode: the answers in memory were checked against the file recently enough.
  bool checkedRecently() const;
  void noteNetworkSnapshot(bool otherCommit);

  // The state the files above share.
  Hive hive_;
  std::string path_;
  bool pathResolved_ = false;
  std::string env_[3]; // the variables path_ was resolved from
  sqlite3 *db_ = nullptr;
  bool skeleton_ = false; // db_ is the in-memory stand-in for a missing file
  bool readOnly_ = false;
  LONG unusable_ = ERROR_SUCCESS;
  FileId behindSkeleton_;     // the location as it was when the skeleton stood in for it
  bool checked_ = false;      // the open file passed the check before the first write
  bool damageSeen_ = false;   // a statement found the open file damaged
  bool asciiFolding_ = false; // the file's names are folded by the rule of schema version 1
  bool oldSchema_ = false;    // the file was of an older version when opened
  FileId opened_;             // the file the connection has open
  bool unsaved_ = false;      // commits that may still be in the log only
  bool leftoverLog_ = false;  // ... found in the log at open, none of them this process's
  Clock::time_point lastCommit_;
  sqlite3_stmt *stmts_[kStmtCount] = {};
  // The id the next value added to `idKey_` takes, known in the current write transaction.
  KeyId idKey_ = 0;
  int64_t nextValueId_ = 0;

  bool snapshot_ = false;
  Clock::time_point snapshotStart_;
  int batchDepth_ = 0;
  LONG batchError_ = ERROR_SUCCESS;   // a failure that already undid the batch
  std::unordered_set<KeyId> touched_; // keys the batch changed, stamped at its commit
  uint64_t generation_ = 1;
  int64_t dataVersion_ = -1; // PRAGMA data_version at the last snapshot's start

  // Keys found (0: found missing) or made in the current read view, and values read in it, so
  // that opening the same keys again, as every preference read does, costs no query. The view
  // lasts while `stamp_` matches the shared header: until any process commits. Emptied too
  // when a write starts and when a key is deleted.
  // Keyed by a key and a folded name; looked up by a view of the name, which copies nothing.
  using NameKey = std::pair<KeyId, std::string>;
  using NameView = std::pair<KeyId, std::string_view>;
  struct NameLess {
    using is_transparent = void;
    template <typename A, typename B> bool operator()(const A &a, const B &b) const {
      return a.first != b.first ? a.first < b.first
                                : std::string_view(a.second) < std::string_view(b.second);
    }
  };
  std::map<NameKey, KeyId, NameLess> children_;
  std::unordered_set<KeyId> existing_;
  struct KnownValue {
    bool found = false;
    DWORD type = REG_NONE;
    std::string data;
  };
  std::map<NameKey, KnownValue, NameLess> values_;
  std::string folded_; // foldedView()'s, its room reused
  size_t valueBytes_ = 0;
  struct KnownPath {
    KeyId id = 0;
    size_t components = 0;
  };
  std::unordered_map<std::string, KnownPath> paths_; // keyed by pathKey()
  std::string pathKey_;                              // reused: looking up allocates nothing
  const volatile uint32_t *commitHeader_ = nullptr;  // SQLite's mapping; null: always query
  CommitStamp stamp_;
  uint64_t stampCheckedIn_ = 0;   // the call that last found stamp_ current
  ReadOnlyHeader readOnlyHeader_; // where commitHeader_ points for a read-only connection

  StoreMode mode_;
  int64_t freshUntil_ = 0;    // network mode: memory answers until then (coarse ms)
  uint64_t otherCommits_ = 0; // network mode: commits of other processes seen
  int64_t walRetryAt_ = 0;    // network mode: when to try again to take the file out of WAL

  // Position of the last enumeration step, so that walking index by index stays linear.
  KeyId subkeyCursorKey_ = 0;
  DWORD subkeyCursorIndex_ = 0;
  std::string subkeyCursorName_;
  uint64_t subkeyCursorGen_ = 0;
  // Values are read a few rows ahead: those from index valueCursorFirst_ on; the one returned
  // last is also what a read by its name right after (as a reset does) gets without a query.
  KeyId valueCursorKey_ = 0;
  DWORD valueCursorFirst_ = 0;
  std::vector<ValueRow> valuesAhead_;
  size_t valueLast_ = 0;
  uint64_t valueCursorGen_ = 0;
};

// hive_upkeep.cpp: the process's background care of its hives, and its count of commits.
// Commits this process has made to any hive.
uint64_t localCommitCount();
// Starts the process's background care of its hives once (again after a fork).
void startHiveUpkeep();
// Called by every call (the store's mutex held): a background care that went to sleep in an idle
// process looks at the hives first, as it would have meanwhile, and runs again.
void wakeHiveUpkeep();
// Looks at every hive as the background care does, now (the store's mutex held).
void careForHivesNow();
// Around a fork (the store's mutex held): the locks of the change watcher and of the background
// care are taken, so that no thread holds them at the fork; the child, which has none of those
// threads, starts with fresh ones.
void holdHiveUpkeepForFork();
void releaseHiveUpkeepAfterFork(bool child);

// reg_notify.cpp: the change watcher.
// Signals the change notifications that this process's commits since the last call concern
// (the store's mutex held).
void signalWatchersOfCommits();
// A key handle or a hive's connection closed: the change watcher, if any, looks again.
void pokeChangeWatcher();
// Around a fork, as the background care's above.
void holdChangeWatcherForFork();
void releaseChangeWatcherAfterFork(bool child);

// store.cpp: test hooks.
namespace detail {
// Closes every hive connection that has no open handles, so the next use reopens the file.
void closeIdleHives();
} // namespace detail

} // namespace vlx
