// A key's subtree as it stands, and what changed between two such pictures: what a dry run
// would do, what a command did, what a watch saw.
#pragma once

#include "vlx/formats/reg_file.h"

#include <velmora/hive.h>

#include <nlohmann/json.hpp>

#include <functional>

#include <map>
#include <ostream>
#include <string>
#include <vector>

namespace vlx::cli {

struct KeyState {
  std::string path; // full, as stored
  std::vector<reg::Value> values;
};

// Keys by their folded full path (names ignore letter case).
using Snapshot = std::map<std::u32string, KeyState>;

// The key and everything below it; empty when it does not exist. Throws Failure when it cannot
// be read.
Snapshot takeSnapshot(const reg::KeyPath &key);

struct Change {
  enum class Kind { KeyAdded, KeyRemoved, Added, Changed, Removed };
  Kind kind;
  std::string key;
  reg::Value before, after; // the value's side that exists
};

struct ChangeCounts {
  size_t keysAdded = 0, keysRemoved = 0, added = 0, changed = 0, removed = 0;
};

std::vector<Change> changesBetween(const Snapshot &before, const Snapshot &after);
ChangeCounts countChanges(const std::vector<Change> &changes);

// One line a change: "add KEY "NAME" = REG_SZ data", "change ...: old -> new", "remove ...",
// "add key KEY", "remove key KEY"; every name and datum escaped.
void printChange(std::ostream &out, const Change &change);
// The same as one JSON object: {"change": "add" | "change" | "remove" | "add key" |
// "remove key", "key": KEY}, with "value" (the value as it is after the change, or as it was
// before its removal) and, for "change", "before".
nlohmann::json changeJson(const Change &change);
// What a command's --json prints: {"changed": whether any, "changes": [changeJson, ...]}.
nlohmann::json changesJson(const std::vector<Change> &changes);

// Runs `body` as one transaction on `hive` and gives the changes it made below `scope`. With
// `dryRun`, or when `body` throws, nothing lands.
struct Outcome {
  std::vector<Change> changes;
  Snapshot after; // the scope as the body left it
};
// `what` ("cannot reset ...") begins the message when the transaction cannot begin or end.
Outcome changesMadeBy(Hive hive, const reg::KeyPath &scope, bool dryRun, const std::string &what,
                      const std::function<void()> &body);

// The one code a dry run ends its transactions with, so that they roll back.
constexpr LONG kDryRunEnd = 1223; // ERROR_CANCELLED

} // namespace vlx::cli
