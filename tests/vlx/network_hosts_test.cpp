// One hive shared by several hosts, imitated by FUSE mounts of one folder (bindfs, locks
// forwarded to the folder, kernel caching off), one process per mount as one NFS client would
// run: writers killed at random lose no acknowledged write, another host's write is read within
// the bound, and a watcher hears of it.
#include "platform/registry/support.h"
#include "support/expect_text.h"
#include "vlx/vlx_fixture.h"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <map>
#include <poll.h>
#include <random>
#include <set>
#include <thread>

namespace vlx::cli {
namespace {

using namespace regtest;
using Clock = std::chrono::steady_clock;

constexpr int kHosts = 6, kWrites = 5000, kKills = 20;
const char *const kHostsKey = "Software\\Velmora\\Hosts";

std::string onPath(const std::string &program) {
  const char *path = std::getenv("PATH");
  std::string dirs = path ? path : "/usr/bin:/bin";
  for (size_t start = 0; start <= dirs.size();) {
    size_t end = std::min(dirs.find(':', start), dirs.size());
    std::string candidate = dirs.substr(start, end - start) + "/" + program;
    if (access(candidate.c_str(), X_OK) == 0)
      return candidate;
    start = end + 1;
  }
  return "";
}

class HostsTest : public VlxTest {
protected:
  void SetUp() override {
    if (access("/dev/fuse", R_OK | W_OK) != 0)
      GTEST_SKIP() << "/dev/fuse is missing or not usable: no FUSE mounts to imitate hosts";
    const std::string bindfs = onPath("bindfs");
    if (bindfs.empty())
      GTEST_SKIP() << "bindfs is not installed: no FUSE mounts to imitate hosts";
    // The folder the hosts share: in memory where it can be, as a file server's cache would
    // keep it, so that the test waits on no disk syncs.
    char memory[] = "/dev/shm/vlx-hosts-XXXXXX";
    shared_ = mkdtemp(memory) ? memory : dir_.file("shared");
    std::filesystem::create_directories(shared_);
    for (int h = 0; h < kHosts; ++h) {
      std::string mount = dir_.file("host" + std::to_string(h));
      std::filesystem::create_directory(mount);
      RunResult r = test::runCommand({bindfs, "--multithreaded", "--enable-lock-forwarding", "-o",
                                      "attr_timeout=0,entry_timeout=0,negative_timeout=0,direct_io",
                                      shared_, mount});
      if (r.status != 0)
        GTEST_SKIP() << "bindfs cannot mount here: " << r.output;
      mounts_.push_back(mount);
    }
  }
  void TearDown() override {
    const std::string fusermount = onPath("fusermount3"), umount = onPath("umount");
    for (const std::string &m : mounts_)
      if (fusermount.empty() || test::runCommand({fusermount, "-u", m}).status != 0)
        test::runCommand({umount, "-l", m});
    if (shared_.rfind("/dev/shm/", 0) == 0)
      std::filesystem::remove_all(shared_);
  }

  // Runs vlx as a process of the host that mounts `mount`.
  RunResult vlxOn(const std::string &mount, const std::vector<std::string> &args) {
    test::ScopedEnv dir("VELMORA_REGISTRY_DIR", mount.c_str());
    return vlx(args);
  }

  std::string shared_;
  std::vector<std::string> mounts_;
};

// A child process of the host of `mount`.
pid_t onHost(const std::string &mount, const std::function<int()> &body) {
  return spawn([&] {
    setenv("VELMORA_REGISTRY_DIR", mount.c_str(), 1);
    return body();
  });
}

// Writes `count` values from `first` on, reporting each acknowledged one on `out`.
int writer(int host, uint32_t first, uint32_t count, int out) {
  Key key;
  if (createKey(HKCU, kHostsKey, key) != ERROR_SUCCESS)
    return 1;
  for (uint32_t seq = first; seq < first + count; ++seq) {
    std::string name = "h" + std::to_string(host) + "_" + std::to_string(seq);
    uint32_t report = setDword(key, name, seq) == ERROR_SUCCESS ? seq : seq | 0x80000000u;
    if (write(out, &report, sizeof report) != sizeof report)
      return 1;
  }
  return 0;
}

TEST_F(HostsTest, KilledWritersOnSixHostsLoseNoAcknowledgedWrite) {
  struct Host {
    uint32_t next = 0, left = kWrites / kHosts;
    pid_t pid = -1;
    int pipe = -1;
    std::set<uint32_t> acked;
  };
  std::vector<Host> hosts(kHosts);
  hosts[0].left += kWrites % kHosts;
  std::mt19937 random(28);
  std::vector<int> killAt;
  for (int k = 0; k < kKills; ++k)
    killAt.push_back(std::uniform_int_distribution<int>(100, kWrites - 300)(random));
  std::sort(killAt.begin(), killAt.end());

  auto start = [&](int h) {
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    Host &host = hosts[h];
    host.pid = onHost(mounts_[h], [&, h, fds] {
      close(fds[0]);
      return writer(h, host.next, host.left, fds[1]);
    });
    close(fds[1]);
    host.pipe = fds[0];
  };
  for (int h = 0; h < kHosts; ++h)
    start(h);
  int events = 0, failed = 0, killed = 0;
  size_t nextKill = 0;
  for (;;) {
    std::vector<pollfd> fds;
    std::vector<int> which;
    for (int h = 0; h < kHosts; ++h)
      if (hosts[h].pipe >= 0) {
        fds.push_back({hosts[h].pipe, POLLIN, 0});
        which.push_back(h);
      }
    if (fds.empty())
      break;
    ASSERT_GT(poll(fds.data(), fds.size(), 60000), 0) << "the writers stalled";
    for (size_t i = 0; i < fds.size(); ++i) {
      if (!fds[i].revents)
        continue;
      Host &host = hosts[which[i]];
      uint32_t report = 0;
      if (read(host.pipe, &report, sizeof report) != sizeof report) {
        close(host.pipe);
        host.pipe = -1;
        EXPECT_EQ(reap(host.pid), 0);
        continue;
      }
      ++events;
      uint32_t seq = report & 0x7fffffffu;
      if (report & 0x80000000u)
        ++failed;
      else
        host.acked.insert(seq);
      host.next = seq + 1;
      --host.left;
    }
    if (nextKill < killAt.size() && events >= killAt[nextKill]) {
      ++nextKill;
      std::vector<int> live;
      for (int h = 0; h < kHosts; ++h)
        if (hosts[h].pipe >= 0 && hosts[h].left > 1)
          live.push_back(h);
      if (live.empty())
        continue;
      Host &victim = hosts[live[random() % live.size()]];
      kill(victim.pid, SIGKILL);
      reap(victim.pid);
      // What the pipe still holds was acknowledged before the kill.
      for (uint32_t report; read(victim.pipe, &report, sizeof report) == sizeof report;) {
        ++events;
        if (!(report & 0x80000000u))
          victim.acked.insert(report);
        victim.next = (report & 0x7fffffffu) + 1;
        --victim.left;
      }
      close(victim.pipe);
      ++killed;
      ++victim.next; // the write in flight: its fate is unknown
      --victim.left;
      start(static_cast<int>(&victim - hosts.data()));
    }
  }
  size_t acked = 0;
  for (const Host &h : hosts)
    acked += h.acked.size();
  EXPECT_EQ(killed, kKills);
  EXPECT_GE(acked, kWrites * 95 / 100) << failed << " writes failed";

  // Every acknowledged write, read back through every host.
  for (const std::string &mount : mounts_) {
    pid_t reader = onHost(mount, [&] {
      Key key;
      if (openKey(HKCU, kHostsKey, key) != ERROR_SUCCESS)
        return 2;
      for (int h = 0; h < kHosts; ++h)
        for (uint32_t seq : hosts[h].acked)
          if (getDword(key, "h" + std::to_string(h) + "_" + std::to_string(seq)) != seq)
            return 3;
      return 0;
    });
    EXPECT_EQ(reap(reader), 0) << mount;
  }
  RunResult check = vlxOn(mounts_[0], {"reg", "check"});
  EXPECT_EQ(check.status, 0) << check.output;
  EXPECT_HAS(check.output, "mode: network: the folder is on fuse");
}

// A host that keeps reading a value sees another host's change within the bound.
TEST_F(HostsTest, AWriteOnOneHostIsReadOnAnotherWithinTheBound) {
  ASSERT_EQ(vlxOn(mounts_[0], {"pref", "set", "General", "X", "1"}).status, 0);
  int seen[2];
  ASSERT_EQ(pipe(seen), 0);
  pid_t reader = onHost(mounts_[1], [&] {
    auto read = [] {
      Key key;
      char text[16] = {};
      DWORD size = sizeof text - 1;
      if (openKey(HKCU, "Software\\Velmora\\General", key) == ERROR_SUCCESS)
        RegQueryValueExA(key, "X", nullptr, nullptr, reinterpret_cast<BYTE *>(text), &size);
      return std::string(text);
    };
    for (const char *want : {"1", "2"}) {
      auto deadline = Clock::now() + std::chrono::seconds(10);
      while (read() != want)
        if (Clock::now() > deadline)
          return 1;
      char byte = 1;
      if (::write(seen[1], &byte, 1) != 1)
        return 2;
    }
    return 0;
  });
  char byte = 0;
  ASSERT_EQ(::read(seen[0], &byte, 1), 1); // the reader has "1" in memory
  ASSERT_EQ(vlxOn(mounts_[0], {"pref", "set", "General", "X", "2"}).status, 0);
  auto written = Clock::now();
  ASSERT_EQ(::read(seen[0], &byte, 1), 1);
  auto delay = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - written);
  EXPECT_LE(delay.count(), 2000);
  EXPECT_EQ(reap(reader), 0);
}

// A watcher on one host is told of a change made on another.
TEST_F(HostsTest, AWatcherHearsOfAnotherHostsChange) {
  ASSERT_EQ(vlxOn(mounts_[0], {"pref", "set", "General", "Y", "1"}).status, 0);
  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  pid_t watcher = onHost(mounts_[1], [&] {
    Key key;
    if (openKey(HKCU, "Software\\Velmora\\General", key, KEY_NOTIFY | KEY_READ) != ERROR_SUCCESS)
      return 1;
    HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (RegNotifyChangeKeyValue(key, FALSE, REG_NOTIFY_CHANGE_LAST_SET, event, TRUE) !=
        ERROR_SUCCESS)
      return 2;
    char byte = 1;
    if (::write(ready[1], &byte, 1) != 1)
      return 3;
    return WaitForSingleObject(event, 5000) == WAIT_OBJECT_0 ? 0 : 4;
  });
  char byte = 0;
  ASSERT_EQ(::read(ready[0], &byte, 1), 1);
  ASSERT_EQ(vlxOn(mounts_[0], {"pref", "set", "General", "Y", "2"}).status, 0);
  EXPECT_EQ(reap(watcher), 0);
}

} // namespace
} // namespace vlx::cli
