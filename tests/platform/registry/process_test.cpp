// Registry hives shared between processes and threads: concurrent writers, a writer killed
// mid-write, changes of other processes seen by the next read.
#include "platform/registry/support.h"

#include <chrono>
#include <csignal>
#include <random>
#include <set>
#include <stdexcept>
#include <sys/stat.h>
#include <thread>

namespace {

using namespace regtest;

using ProcessTest = vlx::test::TempEnvTest;

constexpr DWORD kProcesses = 4, kThreads = 2, kWrites = 40;

// Sets values of its own in Software\Shared, each followed by a batch that increments a shared
// counter; returns 0 or the step that failed.
int writer(DWORD w) {
  for (DWORD i = 0; i < kWrites; ++i) {
    std::string name = "w" + std::to_string(w) + "_" + std::to_string(i);
    if (setIn(HKCU, "Software\\Shared", name, i) != ERROR_SUCCESS ||
        getIn(HKCU, "Software\\Shared", name) != i)
      return 22;
    LONG rc = vlx::inHiveTransaction(vlx::Hive::User, [] {
      DWORD n = getIn(HKCU, "Software\\Shared", "counter");
      return n >= (kProcesses + kThreads) * kWrites
                 ? ERROR_INVALID_DATA
                 : setIn(HKCU, "Software\\Shared", "counter", n + 1);
    });
    if (rc != ERROR_SUCCESS)
      return 23;
  }
  return 0;
}

TEST_F(ProcessTest, ConcurrentWritersLoseNothing) {
  ASSERT_EQ(setIn(HKCU, "Software\\Shared", "counter", 0), ERROR_SUCCESS);
  int start[2];
  ASSERT_EQ(pipe(start), 0);
  std::vector<pid_t> children;
  for (DWORD c = 0; c < kProcesses; ++c)
    children.push_back(spawn([&, c] {
      close(start[1]);
      char go;
      if (read(start[0], &go, 1) != 0) // released together when the parent closes the pipe
        return 20;
      // The machine hive does not exist yet: every child races to create it.
      if (setIn(HKLM, "Software\\Race", "c" + std::to_string(c), 1) != ERROR_SUCCESS)
        return 21;
      return writer(c);
    }));
  // Threads of this process join in, started after the forks so that no child inherits a lock.
  int inThreads[kThreads] = {};
  std::vector<std::thread> threads;
  for (DWORD t = 0; t < kThreads; ++t)
    threads.emplace_back([&, t] { inThreads[t] = writer(kProcesses + t); });
  close(start[0]);
  close(start[1]);
  for (pid_t pid : children)
    EXPECT_EQ(reap(pid), 0);
  for (DWORD t = 0; t < kThreads; ++t) {
    threads[t].join();
    EXPECT_EQ(inThreads[t], 0);
  }

  EXPECT_EQ(getIn(HKCU, "Software\\Shared", "counter"), (kProcesses + kThreads) * kWrites);
  Key shared;
  ASSERT_EQ(openKey(HKCU, "Software\\Shared", shared), ERROR_SUCCESS);
  EXPECT_EQ(names(shared, true).size(), (kProcesses + kThreads) * kWrites + 1);
  for (DWORD c = 0; c < kProcesses; ++c)
    EXPECT_EQ(getIn(HKLM, "Software\\Race", "c" + std::to_string(c)), 1u) << c;
}

TEST_F(ProcessTest, KilledWriterLosesNoAcknowledgedChange) {
  std::mt19937 random(std::random_device{}());
  for (int round = 0; round < 3; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    std::string path = "Software\\Killed\\R" + std::to_string(round);
    int acks[2];
    ASSERT_EQ(pipe(acks), 0);
    pid_t pid = spawn([&] {
      close(acks[0]);
      for (uint32_t i = 0;; ++i) {
        auto set = [&](const char *prefix) {
          return setIn(HKCU, path.c_str(), prefix + std::to_string(i), i);
        };
        // Every fifth change is a batch of two values.
        LONG rc = i % 5 != 4 ? set("v") : vlx::inHiveTransaction(vlx::Hive::User, [&] {
          LONG e = set("v");
          return e == ERROR_SUCCESS ? set("w") : e;
        });
        if (rc != ERROR_SUCCESS || write(acks[1], &i, sizeof i) != sizeof i)
          return 1;
      }
    });
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
    ASSERT_EQ(reap(pid), 128 + SIGKILL) << "the writer stopped by itself";

    for (const vlx::HiveCheck &check : vlx::checkHives())
      ASSERT_TRUE(check.ok) << check.path << ": " << check.what;
    size_t missing = 0;
    for (uint32_t n : acknowledged) {
      missing += getIn(HKCU, path.c_str(), "v" + std::to_string(n)) != n;
      missing += n % 5 == 4 && getIn(HKCU, path.c_str(), "w" + std::to_string(n)) != n;
    }
    EXPECT_EQ(missing, 0u) << "of " << acknowledged.size() << " acknowledged writes";
  }
}

TEST_F(ProcessTest, ChangesOfOtherProcessesAreSeenByTheNextRead) {
  ASSERT_EQ(setIn(HKCU, "Software\\Seen", "v", 0), ERROR_SUCCESS);
  Key held;
  ASSERT_EQ(openKey(HKCU, "Software\\Seen", held), ERROR_SUCCESS);
  // Each round first reads twice, so that the answer is held in memory, then another process
  // writes: both a fresh look-up and a handle held open see it at once.
  for (DWORD round = 1; round <= 20; ++round) {
    SCOPED_TRACE(round);
    ASSERT_EQ(getIn(HKCU, "Software\\Seen", "v"), round - 1);
    ASSERT_EQ(getDword(held, "v"), round - 1);
    ASSERT_EQ(reap(spawn([round] { return setIn(HKCU, "Software\\Seen", "v", round); })), 0);
    EXPECT_EQ(getIn(HKCU, "Software\\Seen", "v"), round);
    EXPECT_EQ(getDword(held, "v"), round);
  }
  // A key deleted by another process is deleted for the handles of this one.
  ASSERT_EQ(reap(spawn([] { return static_cast<int>(RegDeleteKeyA(HKCU, "Software\\Seen")); })), 0);
  Key probe;
  EXPECT_EQ(openKey(HKCU, "Software\\Seen", probe), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(queryDword(held, "v"), ERROR_KEY_DELETED);
}

// A host that may only read the machine's hive keeps its answers in memory, and still sees an
// administrator's change at its next read.
TEST_F(ProcessTest, AHiveReadOnlyForThisProcessSeesOtherProcessesCommits) {
  const std::string machine = vlx::hivePath(vlx::Hive::Machine);
  ASSERT_EQ(setIn(HKLM, "Software\\Admin", "v", 0), ERROR_SUCCESS);
  ASSERT_EQ(chmod(dir_.path().c_str(), 0755), 0);
  for (const char *suffix : {"", "-wal", "-shm"})
    chmod((machine + suffix).c_str(), 0444);
  int ask[2], told[2];
  ASSERT_EQ(pipe(ask), 0);
  ASSERT_EQ(pipe(told), 0);
  pid_t host = spawn([&] {
    // Root writes whatever the modes say: the host runs as another user then.
    if (geteuid() == 0 && setuid(65534) != 0)
      return 30;
    if (setIn(HKLM, "Software\\Admin", "w", 1) != ERROR_ACCESS_DENIED)
      return 31;
    Key held;
    if (openKey(HKLM, "Software\\Admin", held) != ERROR_SUCCESS)
      return 32;
    for (DWORD round = 0; round < 10; ++round) {
      // Read twice, so that the answer is held in memory, then let the admin write.
      if (getIn(HKLM, "Software\\Admin", "v") != round || getDword(held, "v") != round ||
          getIn(HKLM, "Software\\Admin", "v") != round)
        return 40 + static_cast<int>(round);
      char c = 0;
      if (write(ask[1], &c, 1) != 1 || read(told[0], &c, 1) != 1)
        return 33;
    }
    return getIn(HKLM, "Software\\Admin", "v") == 10 && getDword(held, "v") == 10 ? 0 : 34;
  });
  for (DWORD round = 1; round <= 10; ++round) {
    char c = 0;
    ASSERT_EQ(read(ask[0], &c, 1), 1);
    for (const char *suffix : {"", "-wal", "-shm"})
      chmod((machine + suffix).c_str(), 0644);
    ASSERT_EQ(setIn(HKLM, "Software\\Admin", "v", round), ERROR_SUCCESS);
    ASSERT_EQ(write(told[1], &c, 1), 1);
  }
  EXPECT_EQ(reap(host), 0);
  for (int fd : {ask[0], ask[1], told[0], told[1]})
    close(fd);
}

TEST_F(ProcessTest, KilledWriterNeverLeavesAStaleAnswer) {
  std::mt19937 random(std::random_device{}());
  ASSERT_EQ(setIn(HKCU, "Software\\Race", "v", 0), ERROR_SUCCESS);
  for (int round = 0; round < 10; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    pid_t pid = spawn([] {
      for (DWORD i = getIn(HKCU, "Software\\Race", "v") + 1;; ++i)
        if (setIn(HKCU, "Software\\Race", "v", i) != ERROR_SUCCESS)
          return 1;
    });
    // Reads race the writer, and the last of them leaves an answer in memory.
    auto until = std::chrono::steady_clock::now() +
                 std::chrono::microseconds(std::uniform_int_distribution<int>(500, 5000)(random));
    while (std::chrono::steady_clock::now() < until)
      getIn(HKCU, "Software\\Race", "v");
    kill(pid, SIGKILL);
    ASSERT_EQ(reap(pid), 128 + SIGKILL);
    // A process that never read the hive before tells what is committed.
    int answer[2];
    ASSERT_EQ(pipe(answer), 0);
    ASSERT_EQ(reap(spawn([&] {
                DWORD v = getIn(HKCU, "Software\\Race", "v");
                return write(answer[1], &v, sizeof v) == sizeof v ? 0 : 1;
              })),
              0);
    DWORD committed = 0;
    ASSERT_EQ(read(answer[0], &committed, sizeof committed),
              static_cast<ssize_t>(sizeof committed));
    close(answer[0]);
    close(answer[1]);
    EXPECT_EQ(getIn(HKCU, "Software\\Race", "v"), committed);
  }
}

TEST_F(ProcessTest, EnumerationSeesAnotherProcessesNewKey) {
  // A walk index by index keeps its list between calls; another process's commit renews it.
  ASSERT_EQ(setIn(HKLM, "Software\\Classes\\CLSID\\{1}", "v", 1), ERROR_SUCCESS);
  ASSERT_EQ(setIn(HKCU, "Software\\Classes\\CLSID\\{2}", "v", 1), ERROR_SUCCESS);
  Key classes;
  ASSERT_EQ(openKey(HKCR, "CLSID", classes), ERROR_SUCCESS);
  char name[16];
  ASSERT_EQ(RegEnumKeyA(classes, 0, name, sizeof name), ERROR_SUCCESS);
  ASSERT_EQ(RegEnumKeyA(classes, 1, name, sizeof name), ERROR_SUCCESS);
  ASSERT_EQ(reap(spawn([] { return setIn(HKLM, "Software\\Classes\\CLSID\\{3}", "v", 1); })), 0);
  ASSERT_EQ(RegEnumKeyA(classes, 2, name, sizeof name), ERROR_SUCCESS);
  EXPECT_STREQ(name, "{3}");
}

// The connections a child inherits are let go of by whichever call comes first, a transaction
// included: beginning one on the parent's connection lost it at the child's first write.
TEST_F(ProcessTest, AForkedChildMayBeginWithATransaction) {
  ASSERT_EQ(setIn(HKCU, "Software\\Forked", "v", 1), ERROR_SUCCESS);
  EXPECT_EQ(reap(spawn([] {
              return static_cast<int>(vlx::inHiveTransaction(
                  vlx::Hive::User, [] { return setIn(HKCU, "Software\\Forked", "v", 2); }));
            })),
            0);
  EXPECT_EQ(getIn(HKCU, "Software\\Forked", "v"), 2u);
}

// A tree read in one snapshot never sees half of another process's change: here a value moved
// from one key to another in one transaction.
TEST_F(ProcessTest, ASnapshotReadsOneStateWhileAnotherProcessCommits) {
  ASSERT_EQ(setIn(HKCU, "Software\\Moved\\A", "v", 1), ERROR_SUCCESS);
  ASSERT_EQ(setIn(HKCU, "Software\\Moved\\B", "w", 1), ERROR_SUCCESS);
  auto move = [] {
    return static_cast<int>(vlx::inHiveTransaction(vlx::Hive::User, [] {
      LONG rc = RegDeleteKeyValueA(HKCU, "Software\\Moved\\A", "v");
      return rc != ERROR_SUCCESS ? rc : setIn(HKCU, "Software\\Moved\\B", "v", 1);
    }));
  };
  // Forked beforehand: a fork ends this process's snapshots.
  int go[2];
  ASSERT_EQ(pipe(go), 0);
  pid_t mover = spawn([&] {
    char c;
    return read(go[0], &c, 1) == 1 ? move() : 99;
  });
  close(go[0]);
  LONG rc = vlx::inHiveSnapshot(vlx::Hive::User, [&] {
    EXPECT_EQ(getIn(HKCU, "Software\\Moved\\A", "v"), 1u);
    EXPECT_EQ(write(go[1], "x", 1), 1);
    EXPECT_EQ(reap(mover), 0);
    EXPECT_EQ(getIn(HKCU, "Software\\Moved\\B", "v"), 0xdeadbeefu);
    Key b;
    EXPECT_EQ(openKey(HKCU, "Software\\Moved\\B", b), ERROR_SUCCESS);
    EXPECT_EQ(names(b, true), Names{"w"});
    EXPECT_EQ(getIn(HKCU, "Software\\Moved\\A", "v"), 1u);
    return ERROR_INVALID_DATA;
  });
  close(go[1]);
  EXPECT_EQ(rc, ERROR_INVALID_DATA);
  EXPECT_EQ(getIn(HKCU, "Software\\Moved\\A", "v"), 0xdeadbeefu);
  EXPECT_EQ(getIn(HKCU, "Software\\Moved\\B", "v"), 1u);

  // One that throws leaves no snapshot behind: the next read sees the next commit.
  EXPECT_THROW(
      vlx::inHiveSnapshot(vlx::Hive::User, []() -> LONG { throw std::runtime_error("x"); }),
      std::runtime_error);
  ASSERT_EQ(reap(spawn([] { return setIn(HKCU, "Software\\Moved\\B", "v", 2); })), 0);
  EXPECT_EQ(getIn(HKCU, "Software\\Moved\\B", "v"), 2u);
}

} // namespace
