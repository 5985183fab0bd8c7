// Administration of the hives: where they live, batched changes, integrity checks, and the
// hives found unusable.
#include "platform/posix/registry/store.h"

#include <velmora/hive.h>

namespace vlx {

std::string hivePath(Hive hive) { return resolveHivePath(hive); }

LONG inHiveTransaction(Hive hive, const std::function<LONG()> &body) {
  Store &s = Store::get();
  // Held for the whole body: other threads' calls wait instead of joining the batch.
  auto lock = s.enter();
  HiveDb &db = s.hive(hive);
  db.refreshLocation();
  LONG error = db.beginBatch();
  if (error != ERROR_SUCCESS)
    return error;
  LONG result;
  try {
    result = body();
  } catch (...) {
    db.endBatch(false);
    throw;
  }
  LONG ended = db.endBatch(result == ERROR_SUCCESS);
  signalWatchersOfCommits();
  return result != ERROR_SUCCESS ? result : ended;
}

LONG inHiveSnapshot(Hive hive, const std::function<LONG()> &body) {
  Store &s = Store::get();
  auto lock = s.enter();
  HiveDb &db = s.hive(hive);
  db.refreshLocation();
  LONG result;
  {
    OneSnapshot group;
    // Begun now rather than at the first read memory cannot answer: an answer from memory, then
    // another process's commit, then a snapshot would mix two states. A hive that cannot begin
    // one says so at the body's own reads.
    db.needSnapshot();
    result = body();
  }
  // The calls inside told this process's watchers of no write the body made.
  signalWatchersOfCommits();
  return result;
}

void groupRegistryChanges(HKEY root, void (*body)(void *), void *context) {
  if (root != HKEY_CURRENT_USER && root != HKEY_LOCAL_MACHINE) {
    body(context);
    return;
  }
  Store &s = Store::get();
  auto lock = s.enter();
  HiveDb &db = root == HKEY_CURRENT_USER ? s.user : s.machine;
  db.refreshLocation();
  const bool grouped = db.beginBatch() == ERROR_SUCCESS;
  auto end = [&] {
    if (--s.grouping == 0)
      s.endSnapshots();
    if (grouped)
      db.endBatch(true);
    signalWatchersOfCommits();
  };
  ++s.grouping;
  try {
    body(context);
  } catch (...) {
    end();
    throw;
  }
  end();
}

std::vector<HiveCheck> checkHives() {
  Store &s = Store::get();
  auto lock = s.enter();
  std::vector<HiveCheck> out;
  for (HiveDb *h : s.all)
    out.push_back(h->check());
  return out;
}

std::vector<HiveCheck> unusableHives() {
  auto lock = Store::get().enter();
  return unusableHiveNotes();
}

} // namespace vlx
