// Import of parsed .reg operations: checked whole before anything is written, then applied
// to every hive at once.
#include "vlx/store/reg_store.h"

#include "vlx/core/errors.h"
#include "vlx/store/snapshot.h"

#include "platform/posix/name_fold.h"
#include "platform/posix/registry/key_names.h"

#include <velmora/hive.h>

#include <algorithm>
#include <functional>
#include <optional>
#include <unordered_set>

namespace vlx::cli {
namespace {

std::string joinPath(const std::string &a, const std::string &b) {
  return a.empty() ? b : b.empty() ? a : a + "\\" + b;
}

// Where an operation lands: the hive, the root handle and the path below it.
struct Target {
  Hive hive;
  HKEY root;
  std::string subKey;
};

// Largest value data an import writes: far beyond what a preference needs, well inside what one
// row of a hive's database holds.
constexpr size_t kMaxValueBytes = size_t{256} << 20;

// The keys of the machine's hive that HKEY_CURRENT_CONFIG stands for and lies under.
bool currentConfigLine(const std::vector<std::string_view> &path) {
  std::vector<std::string_view> kept;
  splitKeyPath(kCurrentConfigPath.data(), &kept);
  return path.size() <= kept.size() &&
         std::equal(path.begin(), path.end(), kept.begin(),
                    [](std::string_view a, std::string_view b) { return sameFolded(a, b); });
}

// The keys a hive always keeps: its root, Software, and the machine's Software\Classes and the
// key of HKEY_CURRENT_CONFIG with its parents.
bool keptKey(Hive hive, const std::vector<std::string_view> &path) {
  return path.empty() ||
         (path.size() <= 2 && sameFolded(path[0], "Software") &&
          (path.size() == 1 || (hive == Hive::Machine && sameFolded(path[1], "Classes")))) ||
         (hive == Hive::Machine && currentConfigLine(path));
}

// Where an operation lands, with every refusal the registry would give while applying found
// here, before anything is written: a file that the registry would stop half-way is refused
// whole. The limits are the registry's own. A file's values come key by key, so what depends on
// the key alone is worked out once for a run of operations on it.
class TargetChecker {
public:
  const Target &operator()(const reg::Operation &op) {
    using Kind = reg::Operation::Kind;
    if (!valid_ || op.key.root != root_ || op.key.subKey != subKey_)
      examine(op.key);
    if (!nameError_.empty())
      throw Failure(nameError_);
    if (op.kind == Kind::SetValue || op.kind == Kind::DeleteValue) {
      if (nameChars(op.value.name) > kMaxValueNameChars)
        throw Failure("value name longer than 16,383 characters");
      if (op.value.data.size() > kMaxValueBytes)
        throw Failure("value data longer than " + std::to_string(kMaxValueBytes) + " bytes");
    }
    // What an export of HKEY_USERS writes first: the key line alone, which changes nothing.
    if (usersItself_ && op.kind != Kind::CreateKey)
      throw Failure("HKEY_USERS itself holds no values");
    if (!keyError_.empty())
      throw Failure(keyError_);
    if (op.kind == Kind::DeleteKey && kept_)
      throw Failure("cannot delete " + op.key.full() + ": the hive always keeps this key");
    return target_;
  }

private:
  // Everything about the key, each refusal kept for the operations that meet it.
  void examine(const reg::KeyPath &key) {
    valid_ = true;
    root_ = key.root;
    subKey_ = key.subKey;
    nameError_.clear();
    keyError_.clear();
    usersItself_ = kept_ = false;
    std::vector<std::string_view> parts;
    splitKeyPath(subKey_.c_str(), &parts);
    for (std::string_view part : parts)
      if (nameChars(part) > kMaxKeyNameChars)
        nameError_ = "key name longer than 255 characters";
    target_ = {Hive::User, HKEY_CURRENT_USER, key.subKey};
    std::vector<std::string_view> inHive = parts; // the path from the hive's root
    switch (key.root) {
    case reg::Root::CurrentUser:
      break;
    case reg::Root::LocalMachine:
      target_ = {Hive::Machine, HKEY_LOCAL_MACHINE, key.subKey};
      break;
    case reg::Root::ClassesRoot: // merged view; writes go to the machine's classes
      target_ = {Hive::Machine, HKEY_LOCAL_MACHINE, joinPath("Software\\Classes", key.subKey)};
      inHive.insert(inHive.begin(), {"Software", "Classes"});
      break;
    case reg::Root::CurrentConfig: {
      const std::string profile(kCurrentConfigPath);
      target_ = {Hive::Machine, HKEY_LOCAL_MACHINE, joinPath(profile, key.subKey)};
      std::vector<std::string_view> above;
      splitKeyPath(kCurrentConfigPath.data(), &above);
      inHive.insert(inHive.begin(), above.begin(), above.end());
      break;
    }
    case reg::Root::Users:
      if (parts.empty()) {
        usersItself_ = true;
        target_ = {Hive::DefaultUser, HKEY_USERS, ""};
        return;
      }
      if (!sameFolded(parts[0], ".DEFAULT")) {
        keyError_ = "only HKEY_USERS\\.DEFAULT can be imported, not " + key.full();
        return;
      }
      target_ = {Hive::DefaultUser, HKEY_USERS, key.subKey};
      inHive.erase(inHive.begin());
      break;
    }
    if (inHive.size() > kMaxKeyDepth)
      keyError_ = "key nested deeper than 512 levels";
    kept_ = keptKey(target_.hive, inHive);
  }

  bool valid_ = false;
  reg::Root root_ = reg::Root::CurrentUser;
  std::string subKey_;
  Target target_;
  std::string nameError_, keyError_; // a key name too long; the key cannot be imported
  bool usersItself_ = false, kept_ = false;
};

// What a message points at: the line of a .reg file; the key names itself for sources without
// lines.
std::string where(const std::string &fileName, const reg::Operation &op) {
  return op.line ? fileName + ":" + std::to_string(op.line) : fileName;
}

LONG deleteTree(HKEY parent, const std::string &name) {
  Key key;
  LONG rc = openKey(parent, name, KEY_ALL_ACCESS, key);
  if (rc != ERROR_SUCCESS)
    return rc;
  std::vector<std::string> children;
  rc = subKeyNames(key.get(), children);
  if (rc != ERROR_SUCCESS)
    return rc;
  for (const auto &child : children)
    if ((rc = deleteTree(key.get(), child)) != ERROR_SUCCESS)
      return rc;
  key.reset();
  return RegDeleteKeyA(parent, name.c_str());
}

// A key and its subtree; one that is not there is no error.
LONG deleteKey(HKEY root, const std::string &subKey) {
  size_t cut = subKey.rfind('\\');
  std::string parentPath = cut == std::string::npos ? "" : subKey.substr(0, cut);
  std::string name = cut == std::string::npos ? subKey : subKey.substr(cut + 1);
  Key parent;
  LONG rc = openKey(root, parentPath, KEY_ALL_ACCESS, parent);
  if (rc == ERROR_SUCCESS)
    rc = deleteTree(parent.get(), name);
  return rc == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : rc;
}

LONG createKey(HKEY root, const std::string &subKey, REGSAM access, Key &key) {
  if (subKey.empty())
    return openKey(root, subKey, access, key);
  return RegCreateKeyExA(root, subKey.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, access, nullptr,
                         key.out(), nullptr);
}

// The key the operation before wrote to, kept open: a file's values come key by key, and opening
// the key again for each of them cost most of an import's time.
class KeyCache {
public:
  // The key for reading and writing (made when `create`); an error when it cannot be had.
  LONG get(const Target &t, bool create, HKEY &out) {
    if (!valid_ || root_ != t.root || subKey_ != t.subKey) {
      forget();
      LONG rc = create ? createKey(t.root, t.subKey, KEY_READ | KEY_WRITE, key_)
                       : openKey(t.root, t.subKey, KEY_READ | KEY_WRITE, key_);
      if (rc != ERROR_SUCCESS)
        return rc;
      valid_ = true;
      root_ = t.root;
      subKey_ = t.subKey;
    }
    out = key_.get();
    return ERROR_SUCCESS;
  }
  // After a deletion, which may have taken the key.
  void forget() {
    key_.reset();
    valid_ = false;
  }

private:
  Key key_;
  bool valid_ = false;
  HKEY root_ = nullptr;
  std::string subKey_;
};

// Applies one operation; on failure `what` names the step that failed.
LONG apply(const reg::Operation &op, const Target &t, std::string &what, KeyCache &keys) {
  using Kind = reg::Operation::Kind;
  Key key;
  HKEY open = nullptr;
  LONG rc = ERROR_SUCCESS;
  switch (op.kind) {
  case Kind::CreateKey:
    rc = t.subKey.empty() ? ERROR_SUCCESS : createKey(t.root, t.subKey, KEY_WRITE, key);
    if (rc != ERROR_SUCCESS)
      what = "cannot create " + op.key.full();
    return rc;
  case Kind::DeleteKey:
    keys.forget();
    rc = deleteKey(t.root, t.subKey);
    if (rc != ERROR_SUCCESS)
      what = "cannot delete " + op.key.full();
    return rc;
  case Kind::SetValue:
    rc = keys.get(t, true, open);
    if (rc == ERROR_SUCCESS)
      rc = vlx::setValueAsGiven(open, op.value.name.c_str(), op.value.type,
                                reinterpret_cast<const BYTE *>(op.value.data.data()),
                                static_cast<DWORD>(op.value.data.size()));
    if (rc != ERROR_SUCCESS)
      what = "cannot write " + op.key.full();
    return rc;
  case Kind::DeleteValue:
    rc = keys.get(t, false, open);
    if (rc == ERROR_SUCCESS)
      rc = RegDeleteValueA(open, op.value.name.c_str());
    if (rc == ERROR_FILE_NOT_FOUND)
      return ERROR_SUCCESS;
    if (rc != ERROR_SUCCESS)
      what = "cannot delete a value of " + op.key.full();
    return rc;
  }
  return ERROR_INVALID_PARAMETER;
}

// What one operation will change, found before it is applied: counted, and listed on a dry run.
class Inspector {
public:
  Inspector(ImportResult &result, const ImportOptions &options)
      : result_(result), listing_(options.listing), changes_(options.changes) {}

  void before(const reg::Operation &op, const Target &t, KeyCache &keys) {
    using Kind = reg::Operation::Kind;
    ++result_.operations;
    if (op.kind == Kind::DeleteKey || op.kind == Kind::DeleteValue || !isFresh(t))
      fresh_ = false;
    if (op.kind == Kind::SetValue && fresh_ && !isAscii(op.value.name))
      fresh_ = false; // "ſ" is "S" to the store: such names are left to it
    if (op.kind == Kind::SetValue && fresh_) {
      // A key this import made holds only the values it set: no need to ask the store.
      if (freshNames_.insert(asciiFolded(op.value.name)).second) {
        note(Change::Kind::Added, op, nullptr, &op.value);
        return;
      }
    }
    if (op.kind == Kind::DeleteKey)
      keys.forget();
    HKEY key = nullptr;
    const bool exists = keys.get(t, false, key) == ERROR_SUCCESS;
    switch (op.kind) {
    case Kind::CreateKey:
      if (!exists) {
        note(Change::Kind::KeyAdded, op, nullptr, nullptr);
        makeFresh(t, nullptr);
      }
      return;
    case Kind::DeleteKey:
      if (exists)
        for (const Change &c : changesBetween(takeSnapshot(op.key), {}))
          note(c);
      return;
    case Kind::SetValue: {
      if (!exists) {
        note(Change::Kind::KeyAdded, op, nullptr, nullptr);
        note(Change::Kind::Added, op, nullptr, &op.value);
        makeFresh(t, &op.value.name);
        return;
      }
      if (!valueOf(key, op.value.name, old_))
        note(Change::Kind::Added, op, nullptr, &op.value);
      else if (old_.type != op.value.type || old_.data != op.value.data)
        note(Change::Kind::Changed, op, &old_, &op.value);
      else
        ++result_.unchanged;
      return;
    }
    case Kind::DeleteValue:
      if (exists && valueOf(key, op.value.name, old_))
        note(Change::Kind::Removed, op, &old_, nullptr);
      return;
    }
  }

private:
  // Reads the value into `out`, reusing its buffer; false when there is none.
  static bool valueOf(HKEY key, const std::string &name, reg::Value &out) {
    DWORD type = 0;
    out.data.resize(std::max<size_t>(out.data.capacity(), 256));
    DWORD size = static_cast<DWORD>(out.data.size());
    LONG rc = RegQueryValueExA(key, name.c_str(), nullptr, &type,
                               reinterpret_cast<LPBYTE>(out.data.data()), &size);
    if (rc == ERROR_MORE_DATA) {
      out.data.resize(size);
      rc = RegQueryValueExA(key, name.c_str(), nullptr, &type,
                            reinterpret_cast<LPBYTE>(out.data.data()), &size);
    }
    if (rc != ERROR_SUCCESS)
      return false;
    out.data.resize(size);
    out.name = name;
    out.type = type;
    return true;
  }

  // Names compare as the store compares them; for ASCII that is upper-casing its letters.
  static std::string asciiFolded(const std::string &name) {
    std::string folded = name;
    for (char &c : folded)
      c = upperAscii(c);
    return folded;
  }

  bool isFresh(const Target &t) const {
    return fresh_ && t.root == freshRoot_ && t.subKey == freshSubKey_;
  }

  // The key did not exist before this operation, which makes it (with the value named).
  void makeFresh(const Target &t, const std::string *name) {
    freshNames_.clear();
    fresh_ = !name || isAscii(*name);
    freshRoot_ = t.root;
    freshSubKey_ = t.subKey;
    if (fresh_ && name)
      freshNames_.insert(asciiFolded(*name));
  }

  void note(Change::Kind kind, const reg::Operation &op, const reg::Value *before,
            const reg::Value *after) {
    if (listing_ || changes_)
      note({kind, op.key.full(), before ? *before : reg::Value{}, after ? *after : reg::Value{}});
    else
      count(kind);
  }

  void note(const Change &c) {
    count(c.kind);
    if (listing_)
      printChange(*listing_, c);
    if (changes_)
      changes_->push_back(c);
  }

  void count(Change::Kind kind) {
    switch (kind) {
    case Change::Kind::KeyAdded:
      ++result_.counts.keysAdded;
      break;
    case Change::Kind::KeyRemoved:
      ++result_.counts.keysRemoved;
      break;
    case Change::Kind::Added:
      ++result_.counts.added;
      break;
    case Change::Kind::Changed:
      ++result_.counts.changed;
      break;
    case Change::Kind::Removed:
      ++result_.counts.removed;
      break;
    }
  }

  ImportResult &result_;
  std::ostream *listing_;
  std::vector<Change> *changes_;
  reg::Value old_; // the value an operation replaces or removes
  // The key the latest operations wrote to, when this import made it, and the names of the
  // values they set there (upper-cased ASCII); while it lasts, values set there are new ones.
  bool fresh_ = false;
  HKEY freshRoot_ = nullptr;
  std::string freshSubKey_;
  std::unordered_set<std::string> freshNames_;
};

} // namespace

ImportResult importOperations(const OperationSource &source, const std::string &fileName,
                              const ImportOptions &options) {
  // First pass: every operation checked, and the hives concerned found, before anything lands.
  std::vector<Hive> hives;
  TargetChecker check;
  source([&](const reg::Operation &op) {
    Hive hive;
    try {
      hive = check(op).hive;
    } catch (const Failure &f) {
      throw Failure(where(fileName, op) + ": " + (op.line ? "" : op.key.full() + ": ") + f.what() +
                    " (nothing " + options.done + ")");
    }
    if (std::find(hives.begin(), hives.end(), hive) == hives.end())
      hives.push_back(hive);
  });
  // Every importer takes the hives' write locks in one order, so two never wait on each other.
  std::sort(hives.begin(), hives.end());

  // All changes are made with a transaction open on every hive concerned, so a failing change
  // undoes them all; only a commit that fails after another hive's has landed splits the file.
  ImportResult result;
  std::string what, failedAt;
  LONG failed = ERROR_SUCCESS;
  Hive failedHive = Hive::User;
  auto applyAll = [&]() -> LONG {
    result = {};
    if (options.changes)
      options.changes->clear();
    Inspector inspector(result, options);
    try {
      KeyCache keys;
      TargetChecker target;
      source([&](const reg::Operation &op) {
        const Target &t = target(op);
        // Only a file changed since the check reaches a hive outside the transactions.
        if (std::find(hives.begin(), hives.end(), t.hive) == hives.end())
          throw Failure(fileName + ": changed while it was imported (nothing imported)");
        inspector.before(op, t, keys);
        failed = apply(op, t, what, keys);
        if (failed != ERROR_SUCCESS) {
          failedAt = where(fileName, op);
          failedHive = t.hive;
          throw failed;
        }
      });
    } catch (LONG) {
      return failed;
    }
    return options.dryRun ? kDryRunEnd : ERROR_SUCCESS;
  };
  std::vector<Hive> landed;
  std::optional<Hive> refused; // the hive whose transaction could not begin or commit
  std::function<LONG(size_t)> nest = [&](size_t i) -> LONG {
    if (i == hives.size())
      return applyAll();
    LONG rc = inHiveTransaction(hives[i], [&] { return nest(i + 1); });
    if (rc == ERROR_SUCCESS)
      landed.push_back(hives[i]);
    else if (failed == ERROR_SUCCESS && !refused && rc != kDryRunEnd)
      refused = hives[i];
    return rc;
  };
  LONG rc = nest(0);
  if (rc == ERROR_SUCCESS || (options.dryRun && rc == kDryRunEnd && failed == ERROR_SUCCESS))
    return result;

  const std::string done = options.done;
  std::string note = landed.empty() ? " (nothing " + done + ")" : " (" + done + " into ";
  for (size_t i = 0; i < landed.size(); ++i)
    note += std::string(i == 0 ? "" : ", ") + hiveName(landed[i]) +
            (i + 1 == landed.size() ? " only)" : "");
  if (failed != ERROR_SUCCESS)
    throw Failure(failedAt + ": " + what + ": " + writeErrorText(failedHive, failed) + note);
  throw Failure(fileName + ": cannot apply the changes to " +
                (refused ? hiveName(*refused) : "the registry") + ": " +
                (refused ? writeErrorText(*refused, rc) : errorText(rc)) + note);
}

ImportResult importOperations(const std::vector<reg::Operation> &operations,
                              const std::string &fileName, const ImportOptions &options) {
  return importOperations(
      [&operations](const std::function<void(const reg::Operation &)> &each) {
        for (const auto &op : operations)
          each(op);
      },
      fileName, options);
}

std::string ImportResult::summary() const {
  auto n = [](size_t count, const char *one, const char *many) {
    return std::to_string(count) + " " + (count == 1 ? one : many);
  };
  return n(counts.added, "value", "values") + " added, " + std::to_string(counts.changed) +
         " changed, " + std::to_string(unchanged) + " unchanged, " +
         std::to_string(counts.removed) + " removed; " + n(counts.keysAdded, "key", "keys") +
         " added, " + std::to_string(counts.keysRemoved) + " removed";
}

std::string writeErrorText(Hive hive, LONG code, uid_t user) {
  if (code != ERROR_ACCESS_DENIED)
    return errorText(code);
  return std::string("access denied to ") + hiveName(hive) + ", the file " + hivePath(hive) +
         (hive != Hive::User && user != 0 ? ": writing it needs root (sudo vlx ...)" : "");
}

} // namespace vlx::cli
