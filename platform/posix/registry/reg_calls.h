// What the files of the narrow registry calls share: paths and the walk down them, the two sides
// of a Classes key, and where a handle's values live.
#pragma once

#include "platform/posix/registry/store.h"

#include <string>
#include <string_view>
#include <vector>

namespace vlx {

using Parts = std::vector<std::string_view>;

// reg_keys.cpp: paths, the walk down them, opening and creating.

// The keys every hive keeps (its root, Software, the machine's Classes and the key of
// HKEY_CURRENT_CONFIG with its parents): none is deleted or renamed.
bool isSkeleton(HiveDb &db, KeyId id);
bool componentsFit(const Parts &parts);
std::string joinPath(const std::string &base, const Parts &parts);
// A path kept in a handle, split into its components.
Parts splitStored(const std::string &path);
// A read of a key that may have been deleted under its handle: a miss is KEY_DELETED when
// the key itself is gone.
LONG missOrDeleted(HiveDb &db, KeyId key, LONG miss);
// Follows `parts` down from `from`, in the current read view.
LONG walk(HiveDb &db, KeyId from, const Parts &parts, KeyId *out);

struct OpenResult {
  KeyRef key;
  bool created = false;
};

// The parent handle's rights do not matter when creating: Windows checks the new key's.
// `text`: the path `parts` were split from, under which a key found is remembered.
LONG openPlain(HiveDb &db, KeyId base, size_t depth, const Parts &parts, bool create,
               OpenResult *out, std::string_view text = {});
// The subkey `subKey` of `base`, opened or created, without a handle made for it.
LONG openFrom(KeyHandle &base, const char *subKey, bool create, OpenResult *out);

// reg_classes.cpp: HKEY_CLASSES_ROOT, the user's classes over the machine's.

// The ids of a Classes key on each side, 0 where that side has no such key.
struct Sides {
  KeyId user = 0;
  KeyId machine = 0;
};

// The sides of `key`'s subkey `more`; with no `more`, of the key itself, whose ids are kept.
LONG classesSides(KeyRef &key, const Parts &more, Sides *sides);
// The sides of the key itself, which must still be on one of them (ERROR_KEY_DELETED).
LONG presentSides(KeyHandle &h, Sides *sides);
LONG openClasses(KeyHandle &base, const Parts &parts, bool create, OpenResult *out);
// The subkeys of a Classes key, the user's winning where both sides have one; kept in the
// handle while neither hive changes.
LONG mergedSubkeys(KeyHandle &h, const std::vector<SubkeyRow> **rows);
// The values of a Classes key: the user's, then the machine's that the user has not set.
LONG mergedValues(KeyHandle &h, std::vector<ValueRow> *rows);

// reg_values.cpp: where a handle's values live, and the caller's buffer.

// A key of one hive. HKEY_USERS itself has none.
struct Target {
  HiveDb *db = nullptr;
  KeyId id = 0;
};

LONG valueTarget(KeyHandle &h, Target *t);
// A value's data into the caller's buffer of `room` bytes: the size always, the bytes when
// they fit. A string stored without its zero gets one when there is room, as on Windows.
LONG copyData(const std::string &data, DWORD type, LPBYTE out, DWORD room, LPDWORD size);

// Runs `change` in a write transaction on `t`, after checking the key still exists.
template <typename Change> LONG writeTo(const Target &t, Change change) {
  LONG error = t.db->beginWrite();
  if (error != ERROR_SUCCESS)
    return error;
  bool exists = false;
  error = t.db->keyExists(t.id, &exists);
  if (error == ERROR_SUCCESS)
    error = exists ? change(*t.db, t.id) : ERROR_KEY_DELETED;
  return t.db->finishWrite(error);
}

} // namespace vlx
