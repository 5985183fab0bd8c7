// HKEY_CLASSES_ROOT: the user's Software\Classes over the machine's, merged into one view.
#include "platform/posix/name_fold.h"
#include "platform/posix/registry/key_names.h"
#include "platform/posix/registry/reg_calls.h"

#include <algorithm>
#include <iterator>

namespace vlx {
namespace {

// One side (user or machine) of a Classes key: its id, or 0 when that hive has no such key.
LONG classesSide(HiveDb &db, KeyId cached, const Parts &below, KeyId *out) {
  *out = 0;
  LONG error = db.beginRead();
  if (error != ERROR_SUCCESS)
    return error;
  if (cached != 0) {
    bool exists = false;
    error = db.keyExists(cached, &exists);
    if (error != ERROR_SUCCESS)
      return error;
    if (exists) {
      *out = cached;
      return ERROR_SUCCESS;
    }
  }
  static const Parts kClasses = {"Software", "Classes"};
  KeyId id = 0;
  error = walk(db, kRootKey, kClasses, &id);
  if (error == ERROR_SUCCESS)
    error = walk(db, id, below, &id);
  if (error == ERROR_FILE_NOT_FOUND)
    return ERROR_SUCCESS;
  if (error == ERROR_SUCCESS)
    *out = id;
  return error;
}

} // namespace

LONG classesSides(KeyRef &key, const Parts &more, Sides *sides) {
  Store &s = Store::get();
  Parts below = splitStored(key.classPath);
  bool same = more.empty();
  below.insert(below.end(), more.begin(), more.end());
  if (key.userBound) {
    bool exists = false;
    LONG error = s.user.beginRead();
    if (error == ERROR_SUCCESS)
      error = s.user.keyExists(key.userId, &exists);
    if (error != ERROR_SUCCESS || !exists)
      return error != ERROR_SUCCESS ? error : ERROR_KEY_DELETED;
  }
  LONG error = classesSide(s.user, same ? key.userId : 0, below, &sides->user);
  if (error == ERROR_SUCCESS)
    error = classesSide(s.machine, same ? key.machineId : 0, below, &sides->machine);
  if (error == ERROR_SUCCESS && same) {
    key.userId = sides->user;
    key.machineId = sides->machine;
  }
  return error;
}

LONG presentSides(KeyHandle &h, Sides *sides) {
  LONG error = classesSides(h.key, {}, sides);
  if (error == ERROR_SUCCESS && !sides->user && !sides->machine)
    return ERROR_KEY_DELETED;
  return error;
}

LONG openClasses(KeyHandle &base, const Parts &parts, bool create, OpenResult *out) {
  Store &s = Store::get();
  Sides baseSides;
  LONG error = classesSides(base.key, {}, &baseSides);
  if (error != ERROR_SUCCESS)
    return error;
  if (!base.key.classPath.empty() && !baseSides.user && !baseSides.machine)
    return ERROR_KEY_DELETED;
  Sides sides;
  error = classesSides(base.key, parts, &sides);
  if (error != ERROR_SUCCESS)
    return error;
  std::string path = joinPath(base.key.classPath, parts);
  size_t depth = 2 + splitStored(path).size();
  if (!sides.user && !sides.machine) {
    if (!create)
      return ERROR_FILE_NOT_FOUND;
    if (depth > kMaxKeyDepth)
      return ERROR_INVALID_PARAMETER;
    // New keys under HKEY_CLASSES_ROOT go to the machine's classes.
    OpenResult made;
    error = openPlain(s.machine, kMachineClassesKey, 2, splitStored(path), true, &made);
    if (error != ERROR_SUCCESS)
      return error;
    sides.machine = made.key.id;
    out->created = made.created;
  }
  out->key =
      KeyRef{KeyKind::Classes, nullptr, 0, depth, path, sides.user, sides.machine, sides.user != 0};
  return ERROR_SUCCESS;
}

LONG mergedSubkeys(KeyHandle &h, const std::vector<SubkeyRow> **rows) {
  Store &s = Store::get();
  Sides sides;
  LONG error = presentSides(h, &sides);
  if (error != ERROR_SUCCESS)
    return error;
  if (h.mergedUserGen != s.user.generation() || h.mergedMachineGen != s.machine.generation()) {
    std::vector<SubkeyRow> mine, theirs;
    if (sides.user && (error = s.user.subkeys(sides.user, &mine)) != ERROR_SUCCESS)
      return error;
    if (sides.machine && (error = s.machine.subkeys(sides.machine, &theirs)) != ERROR_SUCCESS)
      return error;
    // The user's key wins where both have one.
    h.merged.clear();
    std::merge(mine.begin(), mine.end(), theirs.begin(), theirs.end(), std::back_inserter(h.merged),
               [](const SubkeyRow &a, const SubkeyRow &b) { return a.folded < b.folded; });
    h.merged.erase(
        std::unique(h.merged.begin(), h.merged.end(),
                    [](const SubkeyRow &a, const SubkeyRow &b) { return a.folded == b.folded; }),
        h.merged.end());
    h.mergedUserGen = s.user.generation();
    h.mergedMachineGen = s.machine.generation();
  }
  *rows = &h.merged;
  return ERROR_SUCCESS;
}

LONG mergedValues(KeyHandle &h, std::vector<ValueRow> *rows) {
  Store &s = Store::get();
  Sides sides;
  LONG error = presentSides(h, &sides);
  if (error != ERROR_SUCCESS)
    return error;
  rows->clear();
  ValueRow row;
  for (DWORD i = 0; sides.user && (error = s.user.valueAt(sides.user, i, &row)) == ERROR_SUCCESS;
       ++i)
    rows->push_back(row);
  if (error != ERROR_SUCCESS && error != ERROR_NO_MORE_ITEMS)
    return error;
  const size_t mine = rows->size();
  error = ERROR_SUCCESS;
  for (DWORD i = 0;
       sides.machine && (error = s.machine.valueAt(sides.machine, i, &row)) == ERROR_SUCCESS; ++i)
    if (std::none_of(rows->begin(), rows->begin() + static_cast<std::ptrdiff_t>(mine),
                     [&](const ValueRow &r) { return sameFolded(r.name, row.name); }))
      rows->push_back(row);
  return error == ERROR_NO_MORE_ITEMS ? ERROR_SUCCESS : error;
}

} // namespace vlx
