// Change notification on registry keys, for changes made here and by other processes; the
// events it signals.
#include "platform/registry/support.h"

#include <csignal>
#include <cstdio>
#include <sqlite3.h>
#include <sys/resource.h>
#include <thread>

namespace {

using namespace regtest;
using RegistryNotifyTest = vlx::test::TempEnvTest;

// Long enough for any change of another process to be seen, short enough for a test that
// expects no signal.
constexpr DWORD kSeen = 5000, kQuiet = 300;

struct Event {
  HANDLE h = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  ~Event() { CloseHandle(h); }
  Event() = default;
  Event(const Event &) = delete;
  Event &operator=(const Event &) = delete;
};

// Asks for `event` to be signalled when a value of `key` changes (with `subtree`, a value of any
// key below it too).
LONG watchValues(HKEY key, const Event &event, BOOL subtree = FALSE) {
  return RegNotifyChangeKeyValue(key, subtree, REG_NOTIFY_CHANGE_LAST_SET, event.h, TRUE);
}

TEST(Events, SignalWaitAndReset) {
  HANDLE manual = CreateEventA(nullptr, TRUE, TRUE, nullptr);
  Event automatic;
  ASSERT_NE(manual, nullptr);
  EXPECT_EQ(WaitForSingleObject(manual, 0), static_cast<DWORD>(WAIT_OBJECT_0));
  EXPECT_EQ(WaitForSingleObject(manual, 0), static_cast<DWORD>(WAIT_OBJECT_0)); // stays set
  EXPECT_TRUE(ResetEvent(manual));
  EXPECT_EQ(WaitForSingleObject(manual, 10), static_cast<DWORD>(WAIT_TIMEOUT));
  ASSERT_TRUE(SetEvent(automatic.h));
  EXPECT_EQ(WaitForSingleObject(automatic.h, 0), static_cast<DWORD>(WAIT_OBJECT_0));
  EXPECT_EQ(WaitForSingleObject(automatic.h, 0), static_cast<DWORD>(WAIT_TIMEOUT)); // consumed
  std::thread later([&] { SetEvent(automatic.h); });
  EXPECT_EQ(WaitForSingleObject(automatic.h, INFINITE), static_cast<DWORD>(WAIT_OBJECT_0));
  later.join();
  EXPECT_TRUE(CloseHandle(manual));
  EXPECT_FALSE(SetEvent(manual));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  EXPECT_EQ(WaitForSingleObject(manual, 0), WAIT_FAILED);
  EXPECT_EQ(CreateEventA(nullptr, FALSE, FALSE, "Global\\shared"), nullptr);
}

TEST(Events, WaitForTheFirstOfSeveral) {
  Event a, b, c;
  const HANDLE all[] = {a.h, b.h, c.h};
  EXPECT_EQ(WaitForMultipleObjects(3, all, FALSE, 10), static_cast<DWORD>(WAIT_TIMEOUT));
  ASSERT_TRUE(SetEvent(c.h));
  ASSERT_TRUE(SetEvent(b.h));
  EXPECT_EQ(WaitForMultipleObjects(3, all, FALSE, 0), static_cast<DWORD>(WAIT_OBJECT_0 + 1));
  EXPECT_EQ(WaitForMultipleObjects(3, all, FALSE, 0), static_cast<DWORD>(WAIT_OBJECT_0 + 2));
  EXPECT_EQ(WaitForMultipleObjects(3, all, FALSE, 0), static_cast<DWORD>(WAIT_TIMEOUT));
  std::thread later([&] { SetEvent(a.h); });
  EXPECT_EQ(WaitForMultipleObjects(3, all, FALSE, INFINITE), static_cast<DWORD>(WAIT_OBJECT_0));
  later.join();
  const HANDLE bad[] = {a.h, nullptr};
  EXPECT_EQ(WaitForMultipleObjects(2, bad, FALSE, 0), WAIT_FAILED);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  EXPECT_EQ(WaitForMultipleObjects(0, all, FALSE, 0), WAIT_FAILED);
  EXPECT_EQ(WaitForMultipleObjects(3, all, TRUE, 0), WAIT_FAILED);
}

TEST_F(RegistryNotifyTest, ArgumentsAndAccess) {
  Key k, readOnly;
  ASSERT_EQ(createKey(HKCU, "Software\\Watched", k), ERROR_SUCCESS);
  ASSERT_EQ(openKey(HKCU, "Software\\Watched", readOnly, KEY_QUERY_VALUE), ERROR_SUCCESS);
  Event e;
  const std::tuple<HKEY, DWORD, HANDLE, BOOL, LONG> cases[] = {
      {k, REG_NOTIFY_CHANGE_LAST_SET, nullptr, TRUE, ERROR_INVALID_PARAMETER},
      {k, 0x40, e.h, TRUE, ERROR_INVALID_PARAMETER},
      {readOnly, REG_NOTIFY_CHANGE_LAST_SET, e.h, TRUE, ERROR_ACCESS_DENIED},
      {reinterpret_cast<HKEY>(uintptr_t{0x1234}), REG_NOTIFY_CHANGE_NAME, e.h, TRUE,
       ERROR_INVALID_HANDLE},
  };
  for (auto [key, filter, event, async, result] : cases) {
    SCOPED_TRACE(filter);
    EXPECT_EQ(RegNotifyChangeKeyValue(key, FALSE, filter, event, async), result);
  }
}

TEST_F(RegistryNotifyTest, EventSignalsWhatTheFilterWatches) {
  struct Case {
    const char *what;
    DWORD filter;
    BOOL subtree;
    std::function<LONG(HKEY)> change;
    bool signaled;
  } cases[] = {
      {"value set", REG_NOTIFY_CHANGE_LAST_SET, FALSE, [](HKEY k) { return setDword(k, "v", 2); },
       true},
      {"value deleted", REG_NOTIFY_CHANGE_LAST_SET, FALSE,
       [](HKEY k) { return RegDeleteValueA(k, "old"); }, true},
      {"subkey made", REG_NOTIFY_CHANGE_NAME, FALSE, [](HKEY k) { return setIn(k, "New", "v", 1); },
       true},
      {"subkey made, values watched", REG_NOTIFY_CHANGE_LAST_SET, FALSE,
       [](HKEY k) { return setIn(k, "New", "v", 1); }, false},
      {"value below, subtree", REG_NOTIFY_CHANGE_LAST_SET, TRUE,
       [](HKEY k) { return setIn(k, "Inner", "w", 5); }, true},
      {"value below, key only", REG_NOTIFY_CHANGE_LAST_SET, FALSE,
       [](HKEY k) { return setIn(k, "Inner", "w", 5); }, false},
      {"another key", REG_NOTIFY_CHANGE_NAME | REG_NOTIFY_CHANGE_LAST_SET, TRUE,
       [](HKEY) { return setIn(HKCU, "Software\\Elsewhere", "v", 1); }, false},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    Key k;
    ASSERT_EQ(createKey(HKCU, "Software\\Watched", k), ERROR_SUCCESS);
    ASSERT_EQ(RegDeleteTreeA(k, nullptr), ERROR_SUCCESS);
    ASSERT_EQ(setDword(k, "old", 1), ERROR_SUCCESS);
    ASSERT_EQ(setIn(k, "Inner", "w", 1), ERROR_SUCCESS);
    Event e;
    ASSERT_EQ(RegNotifyChangeKeyValue(k, c.subtree, c.filter, e.h, TRUE), ERROR_SUCCESS);
    ASSERT_EQ(c.change(k), ERROR_SUCCESS);
    EXPECT_EQ(WaitForSingleObject(e.h, c.signaled ? kSeen : kQuiet),
              static_cast<DWORD>(c.signaled ? WAIT_OBJECT_0 : WAIT_TIMEOUT));
  }
}

TEST_F(RegistryNotifyTest, SignalsAsWindowsDoes) {
  Key k;
  ASSERT_EQ(createKey(HKCU, "Software\\Watched", k), ERROR_SUCCESS);
  Event e;
  // Registering resets the event; a change of this process signals before its call returns.
  ASSERT_TRUE(SetEvent(e.h));
  ASSERT_EQ(watchValues(k, e), ERROR_SUCCESS);
  EXPECT_EQ(WaitForSingleObject(e.h, 0), static_cast<DWORD>(WAIT_TIMEOUT));
  ASSERT_EQ(setDword(k, "v", 1), ERROR_SUCCESS);
  EXPECT_EQ(WaitForSingleObject(e.h, 0), static_cast<DWORD>(WAIT_OBJECT_0));

  // A batch signals when it lands, and not when it is undone.
  ASSERT_EQ(watchValues(k, e), ERROR_SUCCESS);
  EXPECT_EQ(vlx::inHiveTransaction(vlx::Hive::User,
                                   [&] {
                                     setDword(k, "v", 2);
                                     return ERROR_INVALID_DATA;
                                   }),
            ERROR_INVALID_DATA);
  EXPECT_EQ(WaitForSingleObject(e.h, 0), static_cast<DWORD>(WAIT_TIMEOUT));
  DWORD inBatch = 0;
  EXPECT_EQ(vlx::inHiveTransaction(vlx::Hive::User,
                                   [&] {
                                     LONG rc = setDword(k, "v", 3);
                                     inBatch = WaitForSingleObject(e.h, 0);
                                     return rc;
                                   }),
            ERROR_SUCCESS);
  EXPECT_EQ(inBatch, static_cast<DWORD>(WAIT_TIMEOUT));
  EXPECT_EQ(WaitForSingleObject(e.h, 0), static_cast<DWORD>(WAIT_OBJECT_0));

  // The registering thread's exit signals, unless the registration is not tied to it.
  Event tied, agnostic;
  std::thread([&] {
    watchValues(k, tied);
    RegNotifyChangeKeyValue(k, FALSE, REG_NOTIFY_CHANGE_LAST_SET | REG_NOTIFY_THREAD_AGNOSTIC,
                            agnostic.h, TRUE);
  }).join();
  EXPECT_EQ(WaitForSingleObject(tied.h, 0), static_cast<DWORD>(WAIT_OBJECT_0));
  EXPECT_EQ(WaitForSingleObject(agnostic.h, kQuiet), static_cast<DWORD>(WAIT_TIMEOUT));
  ASSERT_EQ(setDword(k, "v", 4), ERROR_SUCCESS);
  EXPECT_EQ(WaitForSingleObject(agnostic.h, 0), static_cast<DWORD>(WAIT_OBJECT_0));
}

TEST_F(RegistryNotifyTest, ClosingOrDeletingTheKeySignals) {
  Event closed, deleted;
  {
    Key k;
    ASSERT_EQ(createKey(HKCU, "Software\\Short", k), ERROR_SUCCESS);
    ASSERT_EQ(RegNotifyChangeKeyValue(k, TRUE, REG_NOTIFY_CHANGE_NAME, closed.h, TRUE),
              ERROR_SUCCESS);
  }
  EXPECT_EQ(WaitForSingleObject(closed.h, kSeen), static_cast<DWORD>(WAIT_OBJECT_0));
  Key k;
  ASSERT_EQ(createKey(HKCU, "Software\\Short", k), ERROR_SUCCESS);
  ASSERT_EQ(watchValues(k, deleted), ERROR_SUCCESS);
  ASSERT_EQ(RegDeleteKeyA(HKCU, "Software\\Short"), ERROR_SUCCESS);
  EXPECT_EQ(WaitForSingleObject(deleted.h, kSeen), static_cast<DWORD>(WAIT_OBJECT_0));
}

TEST_F(RegistryNotifyTest, ChangesByAnotherProcessAreSeen) {
  Key k;
  ASSERT_EQ(createKey(HKCU, "Software\\Shared", k), ERROR_SUCCESS);
  Event e;
  ASSERT_EQ(watchValues(k, e), ERROR_SUCCESS);
  pid_t child =
      spawn([] { return setIn(HKCU, "Software\\Shared", "admin", 1) == ERROR_SUCCESS ? 0 : 1; });
  EXPECT_EQ(reap(child), 0);
  EXPECT_EQ(WaitForSingleObject(e.h, kSeen), static_cast<DWORD>(WAIT_OBJECT_0));

  // Synchronous: the call returns once the other process has changed the key.
  child = spawn([] {
    usleep(200 * 1000);
    return setIn(HKCU, "Software\\Shared", "later", 2) == ERROR_SUCCESS ? 0 : 1;
  });
  EXPECT_EQ(RegNotifyChangeKeyValue(k, FALSE, REG_NOTIFY_CHANGE_LAST_SET, nullptr, FALSE),
            ERROR_SUCCESS);
  EXPECT_EQ(getDword(k, "later"), 2u);
  EXPECT_EQ(reap(child), 0);
}

// A program that writes the hive without waking anyone (here SQLite itself) is seen through the
// file events once its writes have settled.
TEST_F(RegistryNotifyTest, AWriterThatWakesNoOneIsSeen) {
  ASSERT_EQ(setIn(HKCU, "Software\\Foreign", "v", 1), ERROR_SUCCESS);
  Key k;
  ASSERT_EQ(openKey(HKCU, "Software\\Foreign", k), ERROR_SUCCESS);
  Event e;
  ASSERT_EQ(watchValues(k, e), ERROR_SUCCESS);
  EXPECT_EQ(WaitForSingleObject(e.h, kQuiet), static_cast<DWORD>(WAIT_TIMEOUT));
  const std::string file = vlx::hivePath(vlx::Hive::User);
  pid_t child = spawn([&file] {
    sqlite3 *db = nullptr;
    const bool done =
        sqlite3_open(file.c_str(), &db) == SQLITE_OK &&
        sqlite3_exec(db, "UPDATE vals SET data = X'02000000' WHERE name = CAST('v' AS BLOB)",
                     nullptr, nullptr, nullptr) == SQLITE_OK &&
        sqlite3_changes(db) == 1;
    sqlite3_close(db);
    return done ? 0 : 1;
  });
  EXPECT_EQ(reap(child), 0);
  EXPECT_EQ(WaitForSingleObject(e.h, kSeen), static_cast<DWORD>(WAIT_OBJECT_0));
  EXPECT_EQ(getDword(k, "v"), 2u);
}

// Another program puts an older copy of the hive file in its place: the watch sees the values
// the new file holds, with no call of this process in between.
TEST_F(RegistryNotifyTest, AHiveFileReplacedIsSeen) {
  ASSERT_EQ(setIn(HKCU, "Software\\Swapped", "v", 1), ERROR_SUCCESS);
  const std::string copy = dir_.file("copy.db");
  ASSERT_EQ(vlx::backupHive(vlx::Hive::User, copy), ERROR_SUCCESS);
  ASSERT_EQ(setIn(HKCU, "Software\\Swapped", "v", 2), ERROR_SUCCESS);
  Key k;
  ASSERT_EQ(openKey(HKCU, "Software\\Swapped", k), ERROR_SUCCESS);
  Event e;
  ASSERT_EQ(watchValues(k, e), ERROR_SUCCESS);
  ASSERT_EQ(std::rename(copy.c_str(), vlx::hivePath(vlx::Hive::User).c_str()), 0);
  EXPECT_EQ(WaitForSingleObject(e.h, kSeen), static_cast<DWORD>(WAIT_OBJECT_0));
}

// A host may fork at any moment: right after its first watch starts the library's threads, or
// while they work on a stream of commits. Each child can still use the registry and watch.
TEST_F(RegistryNotifyTest, ForksWhileTheWatcherWorksLeaveChildrenThatWork) {
  Key k;
  ASSERT_EQ(createKey(HKCU, "Software\\Forked", k), ERROR_SUCCESS);
  Event e;
  ASSERT_EQ(watchValues(k, e, TRUE), ERROR_SUCCESS);
  // The commits come from another process: a thread of this one that allocates while it forks
  // would hang the child in the sanitizers' allocator, which is not fork-safe.
  pid_t writer = spawn([] {
    for (DWORD i = 0;; ++i)
      setIn(HKCU, "Software\\Forked", "busy", i);
    return 0;
  });
  struct Stop {
    pid_t pid;
    ~Stop() { kill(pid, SIGKILL), reap(pid); }
  } stop{writer};
  // A child that hangs is a failure, not a hung test.
  auto reapWithin = [](pid_t pid) {
    for (int waited = 0; waited < 2000; ++waited) {
      int status = 0;
      if (waitpid(pid, &status, WNOHANG) == pid)
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      usleep(10 * 1000);
    }
    kill(pid, SIGKILL);
    return reap(pid), -2;
  };
  for (DWORD i = 0; i < 40; ++i) {
    pid_t child = spawn([&reapWithin, i] {
      Key mine;
      Event changed;
      if (createKey(HKCU, "Software\\Forked\\Child", mine) != ERROR_SUCCESS ||
          watchValues(mine, changed))
        return 10;
      // Forked at once: the child's own threads have just started.
      pid_t grandchild =
          spawn([i] { return setIn(HKCU, "Software\\Forked\\Child", "v", i) ? 1 : 0; });
      if (reapWithin(grandchild) != 0)
        return 11;
      return WaitForSingleObject(changed.h, kSeen) == WAIT_OBJECT_0 ? 0 : 12;
    });
    ASSERT_EQ(reapWithin(child), 0) << "child " << i;
  }
  EXPECT_EQ(WaitForSingleObject(e.h, kSeen), static_cast<DWORD>(WAIT_OBJECT_0));
}

// A process that only waits for changes sleeps in the kernel: none of its threads wakes while
// nothing changes, also for a hive that does not exist yet; then each change reaches it.
TEST_F(RegistryNotifyTest, AnIdleWatcherNeverWakesUntilAChange) {
  ASSERT_EQ(setIn(HKCU, "Software\\Idle", "v", 1), ERROR_SUCCESS);
  int counted[2], go[2];
  ASSERT_EQ(pipe(counted), 0);
  ASSERT_EQ(pipe(go), 0);
  pid_t watcher = spawn([&] {
    Key user, machine;
    Event userChanged, machineChanged;
    if (openKey(HKCU, "Software\\Idle", user) != ERROR_SUCCESS ||
        openKey(HKLM, "Software", machine) != ERROR_SUCCESS || watchValues(user, userChanged) ||
        RegNotifyChangeKeyValue(machine, TRUE, REG_NOTIFY_CHANGE_NAME, machineChanged.h, TRUE))
      return 10;
    usleep(4000 * 1000); // past the background care's work after the calls above
    rusage before{}, after{};
    getrusage(RUSAGE_SELF, &before);
    usleep(1000 * 1000);
    getrusage(RUSAGE_SELF, &after);
    const long wakes = (after.ru_nvcsw - before.ru_nvcsw) + (after.ru_nivcsw - before.ru_nivcsw);
    char c = 0;
    if (write(counted[1], &wakes, sizeof wakes) != sizeof wakes || read(go[0], &c, 1) != 1)
      return 11;
    return WaitForSingleObject(userChanged.h, kSeen) == WAIT_OBJECT_0 &&
                   WaitForSingleObject(machineChanged.h, kSeen) == WAIT_OBJECT_0
               ? 0
               : 12;
  });
  close(counted[1]); // a watcher that fails closes the last writer
  long wakes = -1;
  if (read(counted[0], &wakes, sizeof wakes) != static_cast<ssize_t>(sizeof wakes)) {
    ADD_FAILURE() << "the watcher ended with " << reap(watcher);
    return;
  }
  EXPECT_LE(wakes, 2); // the sleep of the measure itself
  // The user hive changes; the machine hive is made.
  ASSERT_EQ(setIn(HKCU, "Software\\Idle", "v", 2), ERROR_SUCCESS);
  ASSERT_EQ(setIn(HKLM, "Software\\Made", "v", 1), ERROR_SUCCESS);
  char c = 1;
  ASSERT_EQ(write(go[1], &c, 1), 1);
  EXPECT_EQ(reap(watcher), 0);
  for (int fd : {counted[0], go[0], go[1]})
    close(fd);
}

} // namespace
