// Registry hives shared between processes: concurrent writers, a writer killed mid-write,
// changes of other processes becoming visible.
#include "platform/registry_support.h"
#include "support/temp_env.h"

#include <velmora/hive.h>
#include <velmora/win32.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <functional>
#include <random>
#include <set>
#include <sqlite3.h>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using namespace regtest;

using ProcessTest = vlx::test::TempEnvTest;

// Runs `body` in a child process; returns its exit status.
int inChild(const std::function<int()> &body) {
  pid_t pid = fork();
  if (pid == 0)
    _exit(body());
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

TEST_F(ProcessTest, ConcurrentWritersLoseNothing) {
  constexpr int kChildren = 4;
  constexpr DWORD kWrites = 40;
  ASSERT_EQ(setIn(HKEY_CURRENT_USER, "Software\\Shared", "counter", 0), ERROR_SUCCESS);

  int start[2];
  ASSERT_EQ(pipe(start), 0);
  std::vector<pid_t> children;
  for (int c = 0; c < kChildren; ++c) {
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      close(start[1]);
      char go;
      if (read(start[0], &go, 1) != 0) // released together when the parent closes the pipe
        _exit(20);
      // The machine hive does not exist yet: every child races to create it.
      if (setIn(HKEY_LOCAL_MACHINE, "Software\\Race", "c" + std::to_string(c), 1) != 0)
        _exit(21);
      for (DWORD i = 0; i < kWrites; ++i) {
        std::string name = "c" + std::to_string(c) + "_" + std::to_string(i);
        if (setIn(HKEY_CURRENT_USER, "Software\\Shared", name, i) != ERROR_SUCCESS)
          _exit(22);
        LONG rc = vlx::inHiveTransaction(vlx::Hive::User, [] {
          Key k;
          DWORD n = 0;
          LONG e = RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Shared", 0, KEY_ALL_ACCESS, k.out());
          if (e == ERROR_SUCCESS)
            e = queryDword(k.h, "counter", &n);
          if (e == ERROR_SUCCESS)
            e = setDword(k.h, "counter", n + 1);
          return e;
        });
        if (rc != ERROR_SUCCESS)
          _exit(23);
      }
      _exit(0);
    }
    children.push_back(pid);
  }
  close(start[0]);
  close(start[1]);
  for (pid_t pid : children) {
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "child status " << status;
  }

  Key shared, race;
  ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Shared", 0, KEY_READ, shared.out()),
            ERROR_SUCCESS);
  DWORD counter = 0;
  ASSERT_EQ(queryDword(shared.h, "counter", &counter), ERROR_SUCCESS);
  EXPECT_EQ(counter, kChildren * kWrites);
  DWORD values = 0;
  ASSERT_EQ(RegQueryInfoKeyA(shared.h, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                             &values, nullptr, nullptr, nullptr, nullptr),
            ERROR_SUCCESS);
  EXPECT_EQ(values, kChildren * kWrites + 1);
  ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\Race", 0, KEY_READ, race.out()),
            ERROR_SUCCESS);
  for (int c = 0; c < kChildren; ++c) {
    DWORD v = 0;
    EXPECT_EQ(queryDword(race.h, "c" + std::to_string(c), &v), ERROR_SUCCESS) << c;
  }
  for (const vlx::HiveCheck &check : vlx::checkHives())
    EXPECT_TRUE(check.ok) << check.path << ": " << check.what;
}

TEST_F(ProcessTest, KilledWriterLosesNoAcknowledgedChange) {
  std::mt19937 random(std::random_device{}());
  for (int round = 0; round < 3; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    std::string path = "Software\\Killed\\R" + std::to_string(round);
    int acks[2];
    ASSERT_EQ(pipe(acks), 0);
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      close(acks[0]);
      for (uint32_t i = 0;; ++i) {
        LONG rc;
        if (i % 5 == 4) {
          // Some changes go in batches of two values.
          rc = vlx::inHiveTransaction(vlx::Hive::User, [&] {
            LONG e = setIn(HKEY_CURRENT_USER, path.c_str(), "v" + std::to_string(i), i);
            return e == ERROR_SUCCESS
                       ? setIn(HKEY_CURRENT_USER, path.c_str(), "w" + std::to_string(i), i)
                       : e;
          });
        } else {
          rc = setIn(HKEY_CURRENT_USER, path.c_str(), "v" + std::to_string(i), i);
        }
        if (rc != ERROR_SUCCESS || write(acks[1], &i, sizeof i) != sizeof i)
          _exit(1);
      }
    }
    close(acks[1]);
    // Kill it after a random number of acknowledged writes plus a random fraction of one.
    uint32_t target = std::uniform_int_distribution<uint32_t>(10, 300)(random);
    std::set<uint32_t> acknowledged;
    uint32_t i = 0;
    while (acknowledged.size() < target && read(acks[0], &i, sizeof i) == sizeof i)
      acknowledged.insert(i);
    std::this_thread::sleep_for(
        std::chrono::microseconds(std::uniform_int_distribution<int>(0, 3000)(random)));
    kill(pid, SIGKILL);
    while (read(acks[0], &i, sizeof i) == sizeof i)
      acknowledged.insert(i);
    close(acks[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFSIGNALED(status)) << "the writer stopped by itself: " << status;
    ASSERT_GE(acknowledged.size(), target);

    for (const vlx::HiveCheck &check : vlx::checkHives())
      ASSERT_TRUE(check.ok) << check.path << ": " << check.what;
    Key k;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, KEY_READ, k.out()), ERROR_SUCCESS);
    size_t missing = 0;
    for (uint32_t n : acknowledged) {
      DWORD v = 0;
      if (queryDword(k.h, "v" + std::to_string(n), &v) != ERROR_SUCCESS || v != n)
        ++missing;
      if (n % 5 == 4 && (queryDword(k.h, "w" + std::to_string(n), &v) != ERROR_SUCCESS || v != n))
        ++missing;
    }
    EXPECT_EQ(missing, 0u) << "of " << acknowledged.size() << " acknowledged writes";
  }
}

TEST_F(ProcessTest, ChangesOfOtherProcessesBecomeVisible) {
  ASSERT_EQ(setIn(HKEY_CURRENT_USER, "Software\\Seen", "v", 1), ERROR_SUCCESS);
  Key held;
  ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Seen", 0, KEY_READ, held.out()),
            ERROR_SUCCESS);
  DWORD v = 0;
  ASSERT_EQ(queryDword(held.h, "v", &v), ERROR_SUCCESS);
  ASSERT_EQ(v, 1u);

  // A handle held open catches up within a few milliseconds, with no root call in between.
  ASSERT_EQ(inChild([] { return setIn(HKEY_CURRENT_USER, "Software\\Seen", "v", 2); }), 0);
  std::this_thread::sleep_for(std::chrono::milliseconds(5));
  ASSERT_EQ(queryDword(held.h, "v", &v), ERROR_SUCCESS);
  EXPECT_EQ(v, 2u);

  // An operation from a root sees the other process's change at once.
  ASSERT_EQ(queryDword(held.h, "v", &v), ERROR_SUCCESS); // a fresh snapshot on the old state
  ASSERT_EQ(inChild([] { return setIn(HKEY_CURRENT_USER, "Software\\Seen", "v", 3); }), 0);
  Key fresh;
  ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Seen", 0, KEY_READ, fresh.out()),
            ERROR_SUCCESS);
  ASSERT_EQ(queryDword(fresh.h, "v", &v), ERROR_SUCCESS);
  EXPECT_EQ(v, 3u);

  // A key deleted by another process is deleted for the handles of this one.
  ASSERT_EQ(
      inChild([] { return static_cast<int>(RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\Seen")); }),
      0);
  Key probe;
  EXPECT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Seen", 0, KEY_READ, probe.out()),
            ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(queryDword(held.h, "v", &v), ERROR_KEY_DELETED);
}

TEST_F(ProcessTest, IdleHandleDoesNotHoldBackCheckpoints) {
  ASSERT_EQ(setIn(HKEY_CURRENT_USER, "Software\\Idle", "v", 1), ERROR_SUCCESS);
  ASSERT_EQ(setIn(HKEY_CURRENT_USER, "Software\\Idle", "v", 2), ERROR_SUCCESS);
  Key held;
  ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Idle", 0, KEY_READ, held.out()),
            ERROR_SUCCESS);
  DWORD v = 0;
  ASSERT_EQ(queryDword(held.h, "v", &v), ERROR_SUCCESS); // starts a read snapshot
  // No further call here: the query must not leave its snapshot open, or a checkpoint that
  // resets the log has to wait for this reader.
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  sqlite3 *db = nullptr;
  ASSERT_EQ(sqlite3_open(vlx::hivePath(vlx::Hive::User).c_str(), &db), SQLITE_OK);
  int busy = -1;
  sqlite3_stmt *s = nullptr;
  ASSERT_EQ(sqlite3_prepare_v2(db, "PRAGMA wal_checkpoint(TRUNCATE)", -1, &s, nullptr), SQLITE_OK);
  if (sqlite3_step(s) == SQLITE_ROW)
    busy = sqlite3_column_int(s, 0);
  sqlite3_finalize(s);
  sqlite3_close(db);
  EXPECT_EQ(busy, 0);
  ASSERT_EQ(queryDword(held.h, "v", &v), ERROR_SUCCESS);
  EXPECT_EQ(v, 2u);
}

TEST_F(ProcessTest, ThreadsShareTheStore) {
  constexpr int kThreads = 4;
  std::atomic<int> failures{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t)
    threads.emplace_back([t, &failures] {
      std::string path = "Software\\Threads\\T" + std::to_string(t);
      for (DWORD i = 0; i < 50; ++i) {
        Key k;
        DWORD v = 0;
        if (createKey(HKEY_CURRENT_USER, path.c_str(), k.out()) != ERROR_SUCCESS ||
            setDword(k.h, "v" + std::to_string(i), i) != ERROR_SUCCESS ||
            queryDword(k.h, "v" + std::to_string(i), &v) != ERROR_SUCCESS || v != i)
          ++failures;
      }
    });
  for (std::thread &t : threads)
    t.join();
  EXPECT_EQ(failures.load(), 0);
  Key parent;
  ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Threads", 0, KEY_READ, parent.out()),
            ERROR_SUCCESS);
  DWORD subkeys = 0;
  ASSERT_EQ(RegQueryInfoKeyA(parent.h, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr,
                             nullptr, nullptr, nullptr, nullptr, nullptr),
            ERROR_SUCCESS);
  EXPECT_EQ(subkeys, static_cast<DWORD>(kThreads));
}

} // namespace
