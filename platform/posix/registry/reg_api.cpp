// The Win32 registry calls (Reg*A) on top of the SQLite hives.
#include "platform/posix/caller_memory.h"
#include "platform/posix/name_fold.h"
#include "platform/posix/registry/key_names.h"
#include "platform/posix/registry/reg_shared.h"
#include "platform/posix/registry/store.h"

#include <velmora/hive.h>

#include <algorithm>
#include <cstring>

namespace vlx {
namespace {

using Parts = std::vector<std::string_view>;

REGSAM effectiveAccess(REGSAM sam) {
  if (sam & MAXIMUM_ALLOWED)
    return KEY_ALL_ACCESS;
  REGSAM out = sam;
  if (sam & GENERIC_READ)
    out |= KEY_READ;
  if (sam & GENERIC_WRITE)
    out |= KEY_WRITE;
  if (sam & GENERIC_EXECUTE)
    out |= KEY_EXECUTE;
  if (sam & GENERIC_ALL)
    out |= KEY_ALL_ACCESS;
  return out & KEY_ALL_ACCESS;
}

bool isSkeleton(const HiveDb &db, KeyId id) {
  return id == kRootKey || id == kSoftwareKey ||
         (db.hive() == Hive::Machine && id == kMachineClassesKey);
}

bool componentsFit(const Parts &parts) {
  for (std::string_view p : parts)
    if (nameChars(p) > kMaxKeyNameChars)
      return false;
  return true;
}

std::string joinPath(const std::string &base, const Parts &parts) {
  std::string out = base;
  for (std::string_view p : parts) {
    if (!out.empty())
      out += '\\';
    out.append(p.data(), p.size());
  }
  return out;
}

Parts splitStored(const std::string &path) {
  Parts parts;
  splitKeyPath(path.c_str(), &parts);
  return parts;
}

// A read of a key that may have been deleted under its handle: a miss is KEY_DELETED when
// the key itself is gone.
LONG missOrDeleted(HiveDb &db, KeyId key, LONG miss) {
  bool exists = false;
  LONG error = db.keyExists(key, &exists);
  if (error != ERROR_SUCCESS)
    return error;
  return exists ? miss : ERROR_KEY_DELETED;
}

// Follows `parts` down from `from`, in the current read view.
LONG walk(HiveDb &db, KeyId from, const Parts &parts, KeyId *out) {
  KeyId at = from;
  for (std::string_view p : parts) {
    LONG error = db.findChild(at, p, &at);
    if (error == ERROR_FILE_NOT_FOUND)
      return missOrDeleted(db, from, ERROR_FILE_NOT_FOUND);
    if (error != ERROR_SUCCESS)
      return error;
  }
  if (parts.empty()) {
    bool exists = false;
    LONG error = db.keyExists(from, &exists);
    if (error != ERROR_SUCCESS)
      return error;
    if (!exists)
      return ERROR_KEY_DELETED;
  }
  *out = at;
  return ERROR_SUCCESS;
}

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

struct Sides {
  KeyId user = 0;
  KeyId machine = 0;
};

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

// Where a handle's values live: a key of one hive. HKEY_USERS itself has none.
struct Target {
  HiveDb *db = nullptr;
  KeyId id = 0;
};

LONG valueTarget(KeyHandle &h, Target *t) {
  switch (h.key.kind) {
  case KeyKind::Plain: {
    t->db = h.key.db;
    t->id = h.key.id;
    return t->db->beginRead();
  }
  case KeyKind::Users:
    return ERROR_FILE_NOT_FOUND;
  case KeyKind::Classes:
    break;
  }
  Sides sides;
  LONG error = classesSides(h.key, {}, &sides);
  if (error != ERROR_SUCCESS)
    return error;
  Store &s = Store::get();
  if (sides.user) {
    *t = {&s.user, sides.user};
  } else if (sides.machine) {
    *t = {&s.machine, sides.machine};
  } else {
    return ERROR_KEY_DELETED;
  }
  return ERROR_SUCCESS;
}

// A value of the key `h` stands for, whole; the caller has checked the right to query it.
LONG queryValue(KeyHandle &h, const char *valueName, DWORD *type, std::string *data) {
  std::string_view name = valueName ? valueName : "";
  if (nameChars(name) > kMaxValueNameChars)
    return ERROR_FILE_NOT_FOUND;
  Target t;
  LONG error = valueTarget(h, &t);
  if (error == ERROR_SUCCESS)
    error = t.db->findValue(t.id, name, type, data);
  if (error == ERROR_FILE_NOT_FOUND && t.db)
    error = missOrDeleted(*t.db, t.id, error);
  return error;
}

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

void copyName(const std::string &name, LPSTR out) {
  std::memcpy(out, name.data(), name.size());
  out[name.size()] = '\0';
}

// A value's data into the caller's buffer of `room` bytes: the size always, the bytes when
// they fit. A string stored without its zero gets one when there is room, as on Windows.
LONG copyData(const std::string &data, DWORD type, LPBYTE out, DWORD room, LPDWORD size) {
  const auto needed = static_cast<DWORD>(data.size());
  if (out) {
    if (needed > room) {
      *size = needed;
      return ERROR_MORE_DATA;
    }
    std::memcpy(out, data.data(), needed);
    if (isStringType(type) && room > needed && (data.empty() || data.back() != '\0'))
      out[needed] = 0;
  }
  if (size)
    *size = needed;
  return ERROR_SUCCESS;
}

// What RegQueryInfoKey reports as a key's security descriptor: the size of a self-relative one
// naming the owner and group, though the store keeps none (POSIX file modes guard the hives).
constexpr DWORD kSecurityDescriptorSize = 20 + 2 * 28;

// The old calls hand a root back for an empty sub-key path.
bool rootForEmptyPath(HKEY key, LPCSTR subKey, PHKEY result) {
  if ((subKey && *subKey) || !isPredefinedKey(key))
    return false;
  *result = key;
  return true;
}

void setFileTime(PFILETIME ft, int64_t value) {
  if (!ft)
    return;
  auto v = static_cast<uint64_t>(value);
  ft->dwLowDateTime = static_cast<DWORD>(v & 0xffffffffu);
  ft->dwHighDateTime = static_cast<DWORD>(v >> 32);
}

// ---- opening and creating ----

struct OpenResult {
  KeyRef key;
  bool created = false;
};

// The parent handle's rights do not matter when creating: Windows checks the new key's.
// `text`: the path `parts` were split from, under which a key found is remembered.
LONG openPlain(HiveDb &db, KeyId base, size_t depth, const Parts &parts, bool create,
               OpenResult *out, std::string_view text = {}) {
  LONG error = db.beginRead();
  if (error != ERROR_SUCCESS)
    return error;
  KeyId id = 0;
  error = walk(db, base, parts, &id);
  if (error == ERROR_SUCCESS || !create || error != ERROR_FILE_NOT_FOUND) {
    if (error == ERROR_SUCCESS) {
      out->key = KeyRef{KeyKind::Plain, &db, id, depth + parts.size(), {}, 0, 0, false};
      if (!text.empty() && !parts.empty())
        db.rememberPath(base, text, id, parts.size());
    }
    return error;
  }
  if (depth + parts.size() > kMaxKeyDepth)
    return ERROR_INVALID_PARAMETER;
  bool created = false;
  error = writeTo(Target{&db, base}, [&](HiveDb &w, KeyId from) -> LONG {
    KeyId at = from;
    for (std::string_view p : parts) {
      LONG e = w.findChild(at, p, &at);
      if (e == ERROR_FILE_NOT_FOUND) {
        e = w.createChild(at, p, &at);
        created = true;
      } else {
        created = false;
      }
      if (e != ERROR_SUCCESS)
        return e;
    }
    id = at;
    return ERROR_SUCCESS;
  });
  if (error != ERROR_SUCCESS)
    return error;
  out->key = KeyRef{KeyKind::Plain, &db, id, depth + parts.size(), {}, 0, 0, false};
  out->created = created;
  return ERROR_SUCCESS;
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

// A path found before in the current read view, as every preference read opens the same
// few: not split, checked and walked again. False when the path must take the long way.
bool openKnown(KeyHandle &base, const char *subKey, OpenResult *out, LONG *error) {
  HiveDb *db = base.key.db;
  KeyId from = base.key.id;
  size_t depth = base.key.depth;
  const char *rest = subKey;
  if (base.key.kind == KeyKind::Users) {
    // Only ASCII spellings: any other that folds the same takes the long way.
    static constexpr std::string_view kDefault = ".DEFAULT\\";
    for (size_t i = 0; i < kDefault.size(); ++i)
      if (upperAscii(subKey[i]) != kDefault[i])
        return false;
    db = &Store::get().defaultUser;
    from = kRootKey;
    depth = 0;
    rest += kDefault.size();
  } else if (base.key.kind != KeyKind::Plain) {
    return false;
  }
  KeyId id = 0;
  size_t components = 0;
  if (!*rest || !db->knownPath(from, rest, &id, &components))
    return false;
  // A read view that has moved on forgets every path, this one with them.
  *error = db->beginRead();
  if (*error == ERROR_SUCCESS && !db->remembersPaths())
    return false;
  if (*error == ERROR_SUCCESS)
    out->key = KeyRef{KeyKind::Plain, db, id, depth + components, {}, 0, 0, false};
  return true;
}

LONG openFrom(KeyHandle &base, const char *subKey, bool create, OpenResult *out) {
  LONG known = ERROR_SUCCESS;
  if (!create && subKey && *subKey && openKnown(base, subKey, out, &known))
    return known;
  static Parts parts; // reused under the store's mutex: opening is the hot path
  parts.clear();
  // HKEY_CLASSES_ROOT takes one leading backslash, as Windows does.
  if (base.key.kind == KeyKind::Classes && base.key.classPath.empty() && subKey && *subKey == '\\')
    ++subKey;
  LONG error = splitKeyPath(subKey, &parts);
  if (error != ERROR_SUCCESS)
    return error;
  if (!componentsFit(parts))
    return create ? ERROR_INVALID_PARAMETER : ERROR_FILE_NOT_FOUND;
  switch (base.key.kind) {
  case KeyKind::Plain:
    return openPlain(*base.key.db, base.key.id, base.key.depth, parts, create, out,
                     subKey ? subKey : "");
  case KeyKind::Classes:
    return openClasses(base, parts, create, out);
  case KeyKind::Users:
    break;
  }
  if (parts.empty()) {
    out->key = base.key;
    return ERROR_SUCCESS;
  }
  if (!sameFolded(parts.front(), ".DEFAULT"))
    return create ? ERROR_ACCESS_DENIED : ERROR_FILE_NOT_FOUND;
  Parts rest(parts.begin() + 1, parts.end());
  // The text after ".DEFAULT" and its backslash, under which openKnown looks it up.
  std::string_view restText = rest.empty() ? std::string_view() : std::string_view(rest[0].data());
  return openPlain(Store::get().defaultUser, kRootKey, 0, rest, create, out, restText);
}

LONG openOrCreate(HKEY hKey, const char *subKey, REGSAM sam, bool create, PHKEY result,
                  LPDWORD disposition) {
  Call call(hKey);
  if (call.status() != ERROR_SUCCESS)
    return call.status();
  OpenResult opened;
  LONG error = openFrom(call.handle(), subKey, create, &opened);
  if (error != ERROR_SUCCESS)
    return error;
  KeyHandle h;
  h.key = std::move(opened.key);
  h.access = effectiveAccess(sam);
  *result = Store::get().add(std::move(h));
  call.keepSnapshot();
  if (disposition)
    *disposition = opened.created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
  return ERROR_SUCCESS;
}

// ---- subkey lists ----

LONG mergedSubkeys(KeyHandle &h, const std::vector<SubkeyRow> **rows) {
  Store &s = Store::get();
  Sides sides;
  LONG error = classesSides(h.key, {}, &sides);
  if (error != ERROR_SUCCESS)
    return error;
  if (!sides.user && !sides.machine)
    return ERROR_KEY_DELETED;
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

// The values of a Classes key: the user's, then the machine's that the user has not set.
LONG mergedValues(KeyHandle &h, std::vector<ValueRow> *rows) {
  Store &s = Store::get();
  Sides sides;
  LONG error = classesSides(h.key, {}, &sides);
  if (error != ERROR_SUCCESS)
    return error;
  if (!sides.user && !sides.machine)
    return ERROR_KEY_DELETED;
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

// The size a value's data has where Windows keeps it: strings in UTF-16.
DWORD storedSize(const ValueRow &row) {
  if (!isStringType(row.type) || row.data.empty())
    return static_cast<DWORD>(row.data.size());
  int units = MultiByteToWideChar(CP_UTF8, 0, row.data.data(), static_cast<int>(row.data.size()),
                                  nullptr, 0);
  return static_cast<DWORD>(units) * sizeof(WCHAR);
}

LONG subkeyAt(KeyHandle &h, DWORD index, SubkeyRow *row) {
  switch (h.key.kind) {
  case KeyKind::Plain: {
    HiveDb &db = *h.key.db;
    LONG error = db.beginRead();
    if (error == ERROR_SUCCESS)
      error = db.subkeyAt(h.key.id, index, row);
    if (error == ERROR_NO_MORE_ITEMS)
      return missOrDeleted(db, h.key.id, error);
    return error;
  }
  case KeyKind::Users:
    if (index > 0)
      return ERROR_NO_MORE_ITEMS;
    *row = SubkeyRow{".DEFAULT", ".DEFAULT", 0};
    return ERROR_SUCCESS;
  case KeyKind::Classes:
    break;
  }
  const std::vector<SubkeyRow> *rows = nullptr;
  LONG error = mergedSubkeys(h, &rows);
  if (error != ERROR_SUCCESS)
    return error;
  if (index >= rows->size())
    return ERROR_NO_MORE_ITEMS;
  *row = (*rows)[index];
  return ERROR_SUCCESS;
}

LONG enumKey(HKEY hKey, DWORD index, LPSTR name, LPDWORD nameChars, PFILETIME written) {
  Call call(hKey, KEY_ENUMERATE_SUB_KEYS);
  if (call.status() != ERROR_SUCCESS)
    return call.status();
  SubkeyRow row;
  LONG error = subkeyAt(call.handle(), index, &row);
  if (error != ERROR_SUCCESS)
    return error;
  if (row.name.size() + 1 > *nameChars)
    return ERROR_MORE_DATA;
  copyName(row.name, name);
  *nameChars = static_cast<DWORD>(row.name.size());
  setFileTime(written, row.written);
  return ERROR_SUCCESS;
}

LONG deleteKeyIn(HiveDb &db, KeyId base, const Parts &parts) {
  LONG error = db.beginRead();
  KeyId id = 0;
  if (error == ERROR_SUCCESS)
    error = walk(db, base, parts, &id);
  if (error != ERROR_SUCCESS)
    return error;
  if (isSkeleton(db, id))
    return ERROR_ACCESS_DENIED;
  error = db.beginWrite();
  if (error != ERROR_SUCCESS)
    return error;
  bool exists = false, children = false;
  error = db.keyExists(id, &exists);
  if (error == ERROR_SUCCESS && !exists)
    error = ERROR_FILE_NOT_FOUND;
  if (error == ERROR_SUCCESS)
    error = db.hasSubkeys(id, &children);
  if (error == ERROR_SUCCESS && children)
    error = ERROR_ACCESS_DENIED;
  if (error == ERROR_SUCCESS)
    error = db.deleteKey(id);
  return db.finishWrite(error);
}

} // namespace

LONG callerData(const BYTE *data, DWORD size, DWORD type, size_t unit, std::string *bytes) {
  if (!data)
    return size > 0 ? ERROR_NOACCESS : ERROR_SUCCESS;
  if (!posix::copyCallerBytes(data, size, bytes))
    return ERROR_NOACCESS;
  // A string whose count left out its terminator gets it when the terminator follows in
  // memory, as on Windows; one that stops short of it is stored as given.
  const size_t units = size / unit;
  if (!isStringType(type) || units == 0)
    return ERROR_SUCCESS;
  const std::string_view last(bytes->data() + (units - 1) * unit, unit);
  std::string next;
  if (last.find_first_not_of('\0') != std::string_view::npos &&
      posix::copyCallerBytes(data + units * unit, unit, &next) &&
      next.find_first_not_of('\0') == std::string::npos) {
    bytes->resize(units * unit);
    bytes->append(unit, '\0');
  }
  return ERROR_SUCCESS;
}

LONG setValueAsGiven(HKEY key, const char *name, DWORD type, const BYTE *data, DWORD size) {
  if (!data && size > 0)
    return ERROR_NOACCESS;
  Call call(key, KEY_SET_VALUE, ERROR_ACCESS_DENIED);
  if (call.status() != ERROR_SUCCESS)
    return call.status();
  std::string_view valueName = name ? name : "";
  if (nameChars(valueName) > kMaxValueNameChars)
    return ERROR_INVALID_PARAMETER;
  Target t;
  LONG error = valueTarget(call.handle(), &t);
  if (error != ERROR_SUCCESS)
    return error;
  static const BYTE kNothing = 0;
  return writeTo(t, [&](HiveDb &db, KeyId id) -> LONG {
    return db.setValue(id, valueName, type, data ? data : &kNothing, size);
  });
}

LONG readValue(HKEY key, const char *subKey, const char *name, DWORD *type, std::string *data) {
  // A subkey is looked at under this one call, opened for querying with no handle made for
  // it: the key itself needs no right then.
  const bool below = subKey && *subKey;
  Call call(key, below ? 0 : KEY_QUERY_VALUE);
  if (call.status() != ERROR_SUCCESS)
    return call.status();
  if (!below)
    return queryValue(call.handle(), name, type, data);
  OpenResult opened;
  LONG error = openFrom(call.handle(), subKey, false, &opened);
  if (error != ERROR_SUCCESS)
    return error;
  KeyHandle sub;
  sub.key = std::move(opened.key);
  return queryValue(sub, name, type, data);
}

LONG keyAllows(HKEY key, REGSAM access) { return Call(key, access).status(); }

} // namespace vlx

using namespace vlx;

extern "C" {

VLX_WIN32_API LSTATUS WINAPI RegOpenKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD ulOptions,
                                           REGSAM samDesired, PHKEY phkResult) {
  if (!phkResult)
    return ERROR_INVALID_PARAMETER;
  // No key at all leaves the result as it was; the W call clears it first.
  if (!hKey)
    return ERROR_INVALID_HANDLE;
  *phkResult = nullptr;
  if (ulOptions & ~static_cast<DWORD>(REG_OPTION_OPEN_LINK))
    return ERROR_INVALID_PARAMETER;
  // HKEY_CLASSES_ROOT itself is handed back rather than a new handle to it.
  if (predefinedKey(hKey) == HKEY_CLASSES_ROOT && (!lpSubKey || !*lpSubKey)) {
    *phkResult = HKEY_CLASSES_ROOT;
    return ERROR_SUCCESS;
  }
  return openOrCreate(hKey, lpSubKey, samDesired, false, phkResult, nullptr);
}

VLX_WIN32_API LSTATUS WINAPI RegOpenKeyA(HKEY hKey, LPCSTR lpSubKey, PHKEY phkResult) {
  if (!phkResult)
    return ERROR_INVALID_PARAMETER;
  // An empty path hands back the very handle passed in, unchecked, as Windows does.
  if (!lpSubKey || !*lpSubKey) {
    *phkResult = hKey;
    return ERROR_SUCCESS;
  }
  return RegOpenKeyExA(hKey, lpSubKey, 0, MAXIMUM_ALLOWED, phkResult);
}

VLX_WIN32_API LSTATUS WINAPI RegCreateKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD /*Reserved*/,
                                             LPSTR /*lpClass*/, DWORD dwOptions, REGSAM samDesired,
                                             const LPSECURITY_ATTRIBUTES /*lpSecurityAttributes*/,
                                             PHKEY phkResult, LPDWORD lpdwDisposition) {
  // Windows' answer for a missing result, before it looks at anything else.
  if (!phkResult)
    return ERROR_BADKEY;
  if (!lpSubKey)
    return ERROR_INVALID_PARAMETER;
  *phkResult = nullptr;
  // Volatile keys are kept like the others; links are not supported.
  const DWORD known = REG_OPTION_VOLATILE | REG_OPTION_BACKUP_RESTORE | REG_OPTION_OPEN_LINK;
  if (dwOptions & REG_OPTION_CREATE_LINK)
    return ERROR_NOT_SUPPORTED;
  if (dwOptions & ~known)
    return ERROR_INVALID_PARAMETER;
  return openOrCreate(hKey, lpSubKey, samDesired, true, phkResult, lpdwDisposition);
}

VLX_WIN32_API LSTATUS WINAPI RegCreateKeyA(HKEY hKey, LPCSTR lpSubKey, PHKEY phkResult) {
  if (!phkResult)
    return ERROR_INVALID_PARAMETER;
  if (rootForEmptyPath(hKey, lpSubKey, phkResult))
    return ERROR_SUCCESS;
  return RegCreateKeyExA(hKey, lpSubKey ? lpSubKey : "", 0, nullptr, 0, MAXIMUM_ALLOWED, nullptr,
                         phkResult, nullptr);
}

VLX_WIN32_API LSTATUS WINAPI RegCloseKey(HKEY hKey) {
  if (isPredefinedKey(hKey))
    return ERROR_SUCCESS;
  Call call(hKey);
  if (call.status() != ERROR_SUCCESS)
    return call.status();
  Store::get().remove(hKey);
  pokeChangeWatcher();
  return ERROR_SUCCESS;
}

VLX_WIN32_API LSTATUS WINAPI RegQueryValueExA(HKEY hKey, LPCSTR lpValueName, LPDWORD lpReserved,
                                              LPDWORD lpType, LPBYTE lpData, LPDWORD lpcbData) {
  if (lpReserved || (lpData && !lpcbData))
    return ERROR_INVALID_PARAMETER;
  Call call(hKey, KEY_QUERY_VALUE);
  if (call.status() != ERROR_SUCCESS)
    return call.status();
  DWORD type = REG_NONE;
  std::string data;
  LONG error = queryValue(call.handle(), lpValueName, &type, &data);
  if (error == ERROR_FILE_NOT_FOUND && !lpData && lpcbData)
    *lpcbData = 0;
  if (error != ERROR_SUCCESS)
    return error;
  // Read the room first: a caller may pass one variable for both type and size.
  const DWORD room = lpcbData ? *lpcbData : 0;
  if (lpType)
    *lpType = type;
  return copyData(data, type, lpData, room, lpcbData);
}

VLX_WIN32_API LSTATUS WINAPI RegSetValueExA(HKEY hKey, LPCSTR lpValueName, DWORD /*Reserved*/,
                                            DWORD dwType, const BYTE *lpData, DWORD cbData) {
  std::string bytes;
  LONG error = callerData(lpData, cbData, dwType, 1, &bytes);
  if (error != ERROR_SUCCESS)
    return error;
  return setValueAsGiven(hKey, lpValueName, dwType,
                         lpData ? reinterpret_cast<const BYTE *>(bytes.data()) : nullptr,
                         static_cast<DWORD>(bytes.size()));
}

VLX_WIN32_API LSTATUS WINAPI RegDeleteValueA(HKEY hKey, LPCSTR lpValueName) {
  Call call(hKey, KEY_SET_VALUE);
  if (call.status() != ERROR_SUCCESS)
    return call.status();
  std::string_view name = lpValueName ? lpValueName : "";
  Target t;
  LONG error = valueTarget(call.handle(), &t);
  if (error != ERROR_SUCCESS)
    return error;
  // A missing value needs no write transaction.
  DWORD type = 0;
  std::string data;
  error = t.db->findValue(t.id, name, &type, &data);
  if (error == ERROR_FILE_NOT_FOUND)
    return missOrDeleted(*t.db, t.id, error);
  if (error != ERROR_SUCCESS)
    return error;
  return writeTo(t, [&](HiveDb &db, KeyId id) -> LONG { return db.deleteValue(id, name); });
}

VLX_WIN32_API LSTATUS WINAPI RegDeleteKeyA(HKEY hKey, LPCSTR lpSubKey) {
  if (!lpSubKey)
    return ERROR_INVALID_PARAMETER;
  Call call(hKey);
  if (call.status() != ERROR_SUCCESS)
    return call.status();
  KeyHandle &h = call.handle();
  Parts parts;
  LONG error = splitKeyPath(lpSubKey, &parts);
  if (error != ERROR_SUCCESS)
    return error;
  if (!componentsFit(parts))
    return ERROR_FILE_NOT_FOUND;
  // The handle's own access does not matter: deleting opens the subkey for DELETE.
  switch (h.key.kind) {
  case KeyKind::Plain:
    return deleteKeyIn(*h.key.db, h.key.id, parts);
  case KeyKind::Users: {
    if (parts.empty() || !sameFolded(parts.front(), ".DEFAULT"))
      return parts.empty() ? ERROR_ACCESS_DENIED : ERROR_FILE_NOT_FOUND;
    Parts rest(parts.begin() + 1, parts.end());
    if (rest.empty())
      return ERROR_ACCESS_DENIED;
    return deleteKeyIn(Store::get().defaultUser, kRootKey, rest);
  }
  case KeyKind::Classes:
    break;
  }
  std::string path = joinPath(h.key.classPath, parts);
  if (path.empty())
    return ERROR_ACCESS_DENIED;
  Sides sides;
  error = classesSides(h.key, parts, &sides);
  if (error != ERROR_SUCCESS)
    return error;
  Store &s = Store::get();
  if (sides.user)
    return deleteKeyIn(s.user, sides.user, {});
  if (sides.machine)
    return deleteKeyIn(s.machine, sides.machine, {});
  return ERROR_FILE_NOT_FOUND;
}

VLX_WIN32_API LSTATUS WINAPI RegEnumKeyExA(HKEY hKey, DWORD dwIndex, LPSTR lpName,
                                           LPDWORD lpcchName, LPDWORD lpReserved, LPSTR lpClass,
                                           LPDWORD lpcchClass, PFILETIME lpftLastWriteTime) {
  if (!lpName || !lpcchName || lpReserved || (lpClass && !lpcchClass))
    return ERROR_INVALID_PARAMETER;
  LONG error = enumKey(hKey, dwIndex, lpName, lpcchName, lpftLastWriteTime);
  if (error == ERROR_SUCCESS && lpClass) {
    // Keys carry no class name.
    if (*lpcchClass == 0)
      return ERROR_MORE_DATA;
    lpClass[0] = '\0';
    *lpcchClass = 0;
  }
  return error;
}

VLX_WIN32_API LSTATUS WINAPI RegEnumKeyA(HKEY hKey, DWORD dwIndex, LPSTR lpName, DWORD cchName) {
  if (!lpName)
    return ERROR_INVALID_PARAMETER;
  return enumKey(hKey, dwIndex, lpName, &cchName, nullptr);
}

VLX_WIN32_API LSTATUS WINAPI RegEnumValueA(HKEY hKey, DWORD dwIndex, LPSTR lpValueName,
                                           LPDWORD lpcchValueName, LPDWORD lpReserved,
                                           LPDWORD lpType, LPBYTE lpData, LPDWORD lpcbData) {
  if (!lpValueName || !lpcchValueName || lpReserved || (lpData && !lpcbData))
    return ERROR_INVALID_PARAMETER;
  Call call(hKey, KEY_QUERY_VALUE, ERROR_NO_MORE_ITEMS);
  if (call.status() != ERROR_SUCCESS)
    return call.status();
  KeyHandle &h = call.handle();
  ValueRow row;
  LONG error = ERROR_SUCCESS;
  if (h.key.kind == KeyKind::Classes) {
    std::vector<ValueRow> rows;
    error = mergedValues(h, &rows);
    if (error == ERROR_SUCCESS && dwIndex >= rows.size())
      error = ERROR_NO_MORE_ITEMS;
    if (error == ERROR_SUCCESS)
      row = std::move(rows[dwIndex]);
  } else {
    Target t;
    error = valueTarget(h, &t);
    if (error == ERROR_SUCCESS)
      error = t.db->valueAt(t.id, dwIndex, &row);
    if (error == ERROR_NO_MORE_ITEMS)
      error = missOrDeleted(*t.db, t.id, error);
  }
  if (error != ERROR_SUCCESS)
    return error;
  // Too small a name buffer still reports the type and the data size, and the data when it fits;
  // too small a data buffer leaves the name alone. The count of characters is kept either way.
  const DWORD room = lpcbData ? *lpcbData : 0;
  const auto needed = static_cast<DWORD>(row.data.size());
  const bool nameFits = row.name.size() + 1 <= *lpcchValueName;
  if (!nameFits || (lpData && needed > room)) {
    if (lpType)
      *lpType = row.type;
    if (!nameFits && (!lpData || needed <= room))
      copyData(row.data, row.type, lpData, room, lpcbData);
    else if (lpcbData)
      *lpcbData = needed;
    return ERROR_MORE_DATA;
  }
  copyName(row.name, lpValueName);
  *lpcchValueName = static_cast<DWORD>(row.name.size());
  if (lpType)
    *lpType = row.type;
  return copyData(row.data, row.type, lpData, room, lpcbData);
}

VLX_WIN32_API LSTATUS WINAPI RegQueryInfoKeyA(HKEY hKey, LPSTR lpClass, LPDWORD lpcchClass,
                                              LPDWORD lpReserved, LPDWORD lpcSubKeys,
                                              LPDWORD lpcbMaxSubKeyLen, LPDWORD lpcbMaxClassLen,
                                              LPDWORD lpcValues, LPDWORD lpcbMaxValueNameLen,
                                              LPDWORD lpcbMaxValueLen,
                                              LPDWORD lpcbSecurityDescriptor,
                                              PFILETIME lpftLastWriteTime) {
  if (lpReserved || (lpClass && !lpcchClass))
    return ERROR_INVALID_PARAMETER;
  Call call(hKey, KEY_QUERY_VALUE);
  if (call.status() != ERROR_SUCCESS)
    return call.status();
  KeyHandle &h = call.handle();
  KeyCounts counts;
  LONG error = ERROR_SUCCESS;
  if (h.key.kind == KeyKind::Users) {
    counts.subkeys = 1;
    counts.maxSubkeyName = 8; // ".DEFAULT"
  } else {
    Target t;
    error = valueTarget(h, &t);
    bool exists = false;
    if (error == ERROR_SUCCESS)
      error = t.db->keyExists(t.id, &exists, &counts.written);
    if (error == ERROR_SUCCESS && !exists)
      error = ERROR_KEY_DELETED;
    if (error == ERROR_SUCCESS)
      error = t.db->counts(t.id, &counts);
    // Strings count at their UTF-16 size; a Classes key counts the merged values.
    std::vector<ValueRow> values;
    if (error == ERROR_SUCCESS && h.key.kind == KeyKind::Classes) {
      error = mergedValues(h, &values);
      counts.values = static_cast<DWORD>(values.size());
      counts.maxValueName = 0;
      counts.maxValueData = 0;
    } else if (error == ERROR_SUCCESS && counts.maxStringData > 0) {
      error = t.db->stringValues(t.id, &values);
    }
    for (const ValueRow &r : values) {
      counts.maxValueName = std::max(counts.maxValueName, static_cast<DWORD>(r.name.size()));
      counts.maxValueData = std::max(counts.maxValueData, storedSize(r));
    }
    if (error == ERROR_SUCCESS && h.key.kind == KeyKind::Classes) {
      const std::vector<SubkeyRow> *rows = nullptr;
      error = mergedSubkeys(h, &rows);
      if (error == ERROR_SUCCESS) {
        counts.subkeys = static_cast<DWORD>(rows->size());
        counts.maxSubkeyName = 0;
        for (const SubkeyRow &r : *rows)
          counts.maxSubkeyName = std::max(counts.maxSubkeyName, static_cast<DWORD>(r.name.size()));
      }
    }
  }
  if (error != ERROR_SUCCESS)
    return error;
  // Keys carry no class name: an empty one fits any buffer, even one of no characters.
  if (lpClass && *lpcchClass > 0)
    lpClass[0] = '\0';
  if (lpcchClass)
    *lpcchClass = 0;
  if (lpcSubKeys)
    *lpcSubKeys = counts.subkeys;
  if (lpcbMaxSubKeyLen)
    *lpcbMaxSubKeyLen = counts.maxSubkeyName;
  if (lpcbMaxClassLen)
    *lpcbMaxClassLen = 0;
  if (lpcValues)
    *lpcValues = counts.values;
  if (lpcbMaxValueNameLen)
    *lpcbMaxValueNameLen = counts.maxValueName;
  if (lpcbMaxValueLen)
    *lpcbMaxValueLen = counts.maxValueData;
  if (lpcbSecurityDescriptor)
    *lpcbSecurityDescriptor = kSecurityDescriptorSize;
  setFileTime(lpftLastWriteTime, counts.written);
  return ERROR_SUCCESS;
}

VLX_WIN32_API LSTATUS WINAPI RegQueryValueA(HKEY hKey, LPCSTR lpSubKey, LPSTR lpData,
                                            PLONG lpcbData) {
  if (lpData && !lpcbData)
    return ERROR_INVALID_PARAMETER;
  HKEY key = hKey;
  bool opened = lpSubKey && *lpSubKey;
  if (opened) {
    LONG error = RegOpenKeyExA(hKey, lpSubKey, 0, KEY_QUERY_VALUE, &key);
    if (error != ERROR_SUCCESS)
      return error;
  }
  DWORD type = REG_NONE;
  DWORD size = lpcbData ? static_cast<DWORD>(*lpcbData) : 0;
  LONG error = RegQueryValueExA(key, nullptr, nullptr, &type, reinterpret_cast<LPBYTE>(lpData),
                                lpcbData ? &size : nullptr);
  if (error == ERROR_FILE_NOT_FOUND) {
    // A key without a default value reads as the empty string.
    type = REG_SZ;
    size = 1;
    error = ERROR_SUCCESS;
    if (lpData) {
      if (*lpcbData < 1)
        error = ERROR_MORE_DATA;
      else
        lpData[0] = '\0';
    }
  } else if ((error == ERROR_SUCCESS || error == ERROR_MORE_DATA) && type != REG_SZ &&
             type != REG_EXPAND_SZ) {
    error = ERROR_INVALID_DATA;
  }
  if (opened)
    RegCloseKey(key);
  if ((error == ERROR_SUCCESS || error == ERROR_MORE_DATA) && lpcbData)
    *lpcbData = static_cast<LONG>(size);
  return error;
}

VLX_WIN32_API LSTATUS WINAPI RegSetValueA(HKEY hKey, LPCSTR lpSubKey, DWORD dwType, LPCSTR lpData,
                                          DWORD /*cbData*/) {
  if (dwType != REG_SZ || !lpData)
    return ERROR_INVALID_PARAMETER;
  HKEY key = hKey;
  bool opened = lpSubKey && *lpSubKey;
  if (opened) {
    LONG error =
        RegCreateKeyExA(hKey, lpSubKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr);
    if (error != ERROR_SUCCESS)
      return error;
  }
  // The length comes from the string; cbData is ignored, as on Windows.
  LONG error = RegSetValueExA(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE *>(lpData),
                              static_cast<DWORD>(std::strlen(lpData) + 1));
  if (opened)
    RegCloseKey(key);
  return error;
}

VLX_WIN32_API LSTATUS WINAPI RegRenameKey(HKEY hKey, LPCWSTR lpSubKeyName, LPCWSTR lpNewKeyName) {
  // A subkey is opened first, so its failures come before the new name's; the key renamed
  // must have been opened for writing, as the kernel's rename requires.
  SubKey sub(hKey, Utf8Arg(lpSubKeyName).get(), KEY_WRITE);
  if (sub.status() != ERROR_SUCCESS)
    return sub.status();
  if (!lpNewKeyName)
    return ERROR_INVALID_PARAMETER;
  Call call(sub.get(), KEY_WRITE, ERROR_ACCESS_DENIED);
  if (call.status() != ERROR_SUCCESS)
    return call.status();
  if (call.predefined())
    return ERROR_ACCESS_DENIED;
  const std::string name = Utf8Arg(lpNewKeyName).get();
  if (name.empty() || name.find('\\') != std::string::npos || nameChars(name) > kMaxKeyNameChars)
    return ERROR_INVALID_PARAMETER;
  // A Classes key is renamed where its values live: the user's side, else the machine's.
  Target t;
  LONG error = valueTarget(call.handle(), &t);
  if (error != ERROR_SUCCESS)
    return error;
  if (isSkeleton(*t.db, t.id))
    return ERROR_ACCESS_DENIED;
  return writeTo(t, [&](HiveDb &db, KeyId id) -> LONG { return db.renameKey(id, name); });
}

VLX_WIN32_API LSTATUS WINAPI RegFlushKey(HKEY hKey) {
  Call call(hKey);
  if (call.status() != ERROR_SUCCESS)
    return call.status();
  KeyHandle &h = call.handle();
  Store &s = Store::get();
  switch (h.key.kind) {
  case KeyKind::Plain: {
    HiveDb &db = *h.key.db;
    LONG error = db.beginRead();
    bool exists = false;
    if (error == ERROR_SUCCESS)
      error = db.keyExists(h.key.id, &exists);
    if (error == ERROR_SUCCESS && !exists)
      error = ERROR_KEY_DELETED;
    return error == ERROR_SUCCESS ? db.flush() : error;
  }
  case KeyKind::Users:
    return s.defaultUser.flush();
  case KeyKind::Classes:
    break;
  }
  LONG error = s.user.flush();
  return error == ERROR_SUCCESS ? s.machine.flush() : error;
}

} // extern "C"
