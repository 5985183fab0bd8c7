// The registry store of this process: the three hives, the open key handles, the call guard.
#pragma once

#include "platform/posix/registry/hive_db.h"

#include <velmora/win32.h>

#include <deque>
#include <mutex>
#include <string>
#include <vector>

namespace vlx {

enum class KeyKind {
  Plain,   // a key of one hive
  Users,   // HKEY_USERS itself, whose only subkey is .DEFAULT
  Classes, // HKEY_CLASSES_ROOT: a key of the user's and the machine's Software\Classes
};

struct KeyRef {
  KeyKind kind = KeyKind::Plain;
  HiveDb *db = nullptr; // Plain
  KeyId id = 0;
  size_t depth = 0; // components below the hive's root
  // Classes: the key's path below Software\Classes, and its ids there when last found
  // (0: not present on that side).
  std::string classPath;
  KeyId userId = 0;
  KeyId machineId = 0;
  // Classes: the user's key existed at open; its deletion ends the handle, as on Windows.
  bool userBound = false;
};

struct KeyHandle {
  KeyRef key;
  REGSAM access = 0;
  // Merged subkey list of a Classes key, valid while both hives' generations match.
  std::vector<SubkeyRow> merged;
  uint64_t mergedUserGen = 0;
  uint64_t mergedMachineGen = 0;
};

class Store {
public:
  static Store &get();

  // Locks the mutex for a library operation. The first in a forked child lets go of the
  // connections inherited from the parent, which must never be used.
  std::unique_lock<std::recursive_mutex> enter();

  std::recursive_mutex mutex;
  HiveDb user{Hive::User};
  HiveDb machine{Hive::Machine};
  HiveDb defaultUser{Hive::DefaultUser};

  // Inside groupRegistryChanges: read snapshots last until the group ends, so the group reads
  // one state of every hive and pays for one snapshot per hive.
  int grouping = 0;

  HiveDb &hive(Hive which);
  HiveDb *all[3] = {&user, &machine, &defaultUser};
  // Ends the read snapshot of every hive outside a batch: the next read sees the latest commit.
  void endSnapshots();

  HKEY add(KeyHandle handle);
  KeyHandle *find(HKEY key);
  bool remove(HKEY key);

private:
  Store();
  // Slots are reused, so opening and closing allocate nothing in the steady state; the
  // generation in the handle value keeps a closed handle invalid.
  struct Slot {
    KeyHandle handle;
    uint32_t generation = 0;
    bool used = false;
  };
  std::deque<Slot> slots_; // a deque: a Call keeps pointing into it while handles are added
  std::vector<uint32_t> free_;
};

// While one lives, the calls read one snapshot per hive, from the latest commit when the
// outermost began; it ends them when the outermost goes. The store's mutex held.
class OneSnapshot {
public:
  OneSnapshot() : store_(Store::get()) {
    if (store_.grouping++ == 0)
      store_.endSnapshots();
  }
  ~OneSnapshot() {
    if (--store_.grouping == 0)
      store_.endSnapshots();
  }
  OneSnapshot(const OneSnapshot &) = delete;
  OneSnapshot &operator=(const OneSnapshot &) = delete;

private:
  Store &store_;
};

// reg_keys.cpp: the key of the machine's hive that HKEY_CURRENT_CONFIG stands for. A hive written
// before that key was part of every machine hive is given it here, which needs the right to
// write the hive.
LONG currentConfigKey(KeyId *id);

// The root a handle value names, compared on its low 32 bits, or null.
HKEY predefinedKey(HKEY key);
bool isPredefinedKey(HKEY key);

// Every Reg* call runs inside one: it holds the store's mutex, lets stale snapshots go,
// refreshes the hives a predefined root starts from, and resolves the handle. When it ends,
// a hive left with no open handles ends its snapshot.
class Call {
public:
  // The prologue every entry point shares, in Windows' order: a bad handle, then a handle
  // lacking a right of `access`, then `onUsers` where the key is HKEY_USERS itself (success:
  // the call takes that key too). status() is the first that fails.
  explicit Call(HKEY key, REGSAM access = 0, LONG onUsers = ERROR_SUCCESS);
  ~Call();
  Call(const Call &) = delete;
  Call &operator=(const Call &) = delete;

  LONG status() const { return status_; }
  KeyHandle &handle() { return *handle_; }
  bool predefined() const { return predefined_; }
  // An open that leaves a handle: the snapshot may serve the calls on it that follow.
  void keepSnapshot() { keep_ = true; }

private:
  // A predefined root: its handle, made for this call, starting from the latest state.
  LONG openRoot(HKEY key);

  std::unique_lock<std::recursive_mutex> lock_;
  KeyHandle root_;
  KeyHandle *handle_ = nullptr;
  bool predefined_ = false;
  bool keep_ = false;
  LONG status_ = ERROR_SUCCESS;
};

} // namespace vlx
