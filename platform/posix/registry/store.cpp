// The registry store of this process: hives, handle table, call guard, fork.
#include "platform/posix/registry/store.h"

#include "platform/posix/registry/key_names.h"

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <new>
#include <pthread.h>

namespace vlx {
namespace {

using namespace std::chrono_literals;

// A snapshot kept across opening calls is ended at the next call once it is older than this.
constexpr auto kSnapshotMaxAge = 1ms;

// Set in a forked child: the connections it inherited are the parent's and must not be used.
std::atomic<bool> forkedChild{false};

void prepareFork() {
  Store &s = Store::get();
  s.mutex.lock();
  for (HiveDb *h : s.all)
    h->endSnapshot();
  holdChangeWatcherForFork();
  holdHiveUpkeepForFork();
}

void parentAfterFork() {
  releaseHiveUpkeepAfterFork(false);
  releaseChangeWatcherAfterFork(false);
  Store::get().mutex.unlock();
}

void childAfterFork() {
  forkedChild.store(true);
  // The mutex records its owner by thread id, which the child's thread no longer has, so
  // it cannot be unlocked here: start the child with a fresh one.
  Store &s = Store::get();
  new (&s.mutex) std::recursive_mutex();
  releaseHiveUpkeepAfterFork(true);
  releaseChangeWatcherAfterFork(true);
}

// A process that ends puts its hives' logs into their files, so that the file alone holds
// the hive; a child that never used the store leaves its parent's connections alone.
void closeHivesAtExit() {
  if (forkedChild.load())
    return;
  Store &s = Store::get();
  std::lock_guard<std::recursive_mutex> lock(s.mutex);
  for (HiveDb *h : s.all)
    h->closeForExit();
}

} // namespace

Store::Store() {
  pthread_atfork(prepareFork, parentAfterFork, childAfterFork);
  std::atexit(closeHivesAtExit);
}

Store &Store::get() {
  // Never destroyed: late callers may still use it during exit.
  static Store *store = new Store;
  return *store;
}

HiveDb &Store::hive(Hive which) {
  switch (which) {
  case Hive::User:
    return user;
  case Hive::Machine:
    return machine;
  case Hive::DefaultUser:
    break;
  }
  return defaultUser;
}

static void countHandle(KeyRef &key, int delta, Store &s) {
  if (key.kind == KeyKind::Plain) {
    key.db->handles += delta;
  } else if (key.kind == KeyKind::Classes) {
    s.user.handles += delta;
    s.machine.handles += delta;
  }
}

static_assert(sizeof(uintptr_t) == 8, "handle values carry a generation in the upper half");

void Store::endSnapshots() {
  for (HiveDb *h : all)
    if (!h->inBatch())
      h->endSnapshot();
}

HKEY Store::add(KeyHandle handle) {
  uint32_t index;
  if (!free_.empty()) {
    index = free_.back();
    free_.pop_back();
  } else {
    index = static_cast<uint32_t>(slots_.size());
    slots_.emplace_back();
  }
  Slot &slot = slots_[index];
  slot.handle = std::move(handle);
  slot.used = true;
  slot.generation = (slot.generation + 1) & 0x7fffffffu; // stays clear of the predefined keys
  if (slot.generation == 0)
    slot.generation = 1;
  countHandle(slot.handle.key, 1, *this);
  uintptr_t value =
      (static_cast<uintptr_t>(slot.generation) << 32) | (static_cast<uintptr_t>(index + 1) << 2);
  // A key of the merged classes view is marked in its low bits as Windows marks it (hosts test
  // `(ULONG_PTR)key & 3 == 2`).
  if (slot.handle.key.kind == KeyKind::Classes)
    value |= 2;
  return reinterpret_cast<HKEY>(value);
}

KeyHandle *Store::find(HKEY key) {
  auto value = reinterpret_cast<uintptr_t>(key);
  uintptr_t index = ((value & 0xffffffffu) >> 2);
  if (index == 0 || index > slots_.size() || (value & 1) != 0)
    return nullptr;
  Slot &slot = slots_[index - 1];
  const bool classes = (value & 2) != 0;
  if (!slot.used || slot.generation != (value >> 32) ||
      classes != (slot.handle.key.kind == KeyKind::Classes))
    return nullptr;
  return &slot.handle;
}

bool Store::remove(HKEY key) {
  KeyHandle *h = find(key);
  if (!h)
    return false;
  uint32_t index =
      static_cast<uint32_t>(((reinterpret_cast<uintptr_t>(key) & 0xffffffffu) >> 2) - 1);
  countHandle(h->key, -1, *this);
  slots_[index].used = false;
  slots_[index].handle.merged.clear();
  free_.push_back(index);
  return true;
}

HKEY predefinedKey(HKEY key) {
  // Only the low 32 bits count: hosts that kept a root in a DWORD hand it back widened.
  auto low = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(key));
  for (HKEY root :
       {HKEY_CLASSES_ROOT, HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE, HKEY_USERS, HKEY_CURRENT_CONFIG})
    if (low == static_cast<uint32_t>(reinterpret_cast<uintptr_t>(root)))
      return root;
  return nullptr;
}

bool isPredefinedKey(HKEY key) { return predefinedKey(key) != nullptr; }

std::unique_lock<std::recursive_mutex> Store::enter() {
  std::unique_lock<std::recursive_mutex> lock(mutex);
  if (forkedChild.load(std::memory_order_relaxed) && forkedChild.exchange(false))
    for (HiveDb *h : all)
      h->abandonAfterFork();
  return lock;
}

Call::Call(HKEY key, REGSAM access, LONG onUsers) : lock_(Store::get().enter()) {
  Store &s = Store::get();
  ++HiveDb::callNumber;
  wakeHiveUpkeep();
  if (s.grouping == 0 &&
      (s.user.hasSnapshot() || s.machine.hasSnapshot() || s.defaultUser.hasSnapshot())) {
    auto now = HiveDb::Clock::now();
    for (HiveDb *h : s.all)
      if (!h->inBatch())
        h->expireSnapshot(now, kSnapshotMaxAge);
  }

  if (HKEY root = predefinedKey(key))
    status_ = openRoot(root);
  else
    handle_ = s.find(key);
  if (status_ != ERROR_SUCCESS)
    return;
  if (!handle_)
    status_ = ERROR_INVALID_HANDLE;
  else if ((handle_->access & access) != access)
    status_ = ERROR_ACCESS_DENIED;
  else if (handle_->key.kind == KeyKind::Users)
    status_ = onUsers;
}

LONG Call::openRoot(HKEY key) {
  Store &s = Store::get();
  predefined_ = true;
  handle_ = &root_;
  root_.access = KEY_ALL_ACCESS;
  // A call from a root starts a library operation: it sees the latest committed state.
  auto fresh = [&s](HiveDb &h) {
    h.refreshLocation();
    if (!h.inBatch() && s.grouping == 0)
      h.endSnapshot();
  };
  if (key == HKEY_CURRENT_USER || key == HKEY_LOCAL_MACHINE) {
    HiveDb &h = key == HKEY_CURRENT_USER ? s.user : s.machine;
    fresh(h);
    root_.key.kind = KeyKind::Plain;
    root_.key.db = &h;
    root_.key.id = kRootKey;
  } else if (key == HKEY_CURRENT_CONFIG) {
    fresh(s.machine);
    root_.key.kind = KeyKind::Plain;
    root_.key.db = &s.machine;
    root_.key.depth = kCurrentConfigDepth;
    return currentConfigKey(&root_.key.id);
  } else if (key == HKEY_USERS) {
    fresh(s.defaultUser);
    root_.key.kind = KeyKind::Users;
  } else {
    fresh(s.user);
    fresh(s.machine);
    root_.key.kind = KeyKind::Classes;
    root_.key.depth = 2;
  }
  return ERROR_SUCCESS;
}

// Only an opening call that leaves handles keeps its snapshot, for the calls that follow it on
// those handles; any other call ends it, so an idle process never holds back a checkpoint.
Call::~Call() {
  Store &s = Store::get();
  if (s.grouping > 0)
    return;
  for (HiveDb *h : s.all)
    if ((h->handles == 0 || !keep_) && !h->inBatch())
      h->endSnapshot();
  signalWatchersOfCommits();
}

namespace detail {
void closeIdleHives() {
  Store &s = Store::get();
  auto lock = s.enter();
  for (HiveDb *h : s.all)
    if (h->handles == 0 && !h->inBatch())
      h->close();
}
} // namespace detail

} // namespace vlx
