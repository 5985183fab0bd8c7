// Moving .reg text in and out of the registry through the Win32 calls: keys read and exported
// (reg_export.cpp), and operations checked whole and imported (reg_import.cpp).
#pragma once

#include "vlx/formats/reg_file.h"
#include "vlx/store/snapshot.h"

#include <velmora/hive.h>
#include <velmora/win32.h>

#include <unistd.h>

#include <functional>
#include <ostream>
#include <string>
#include <vector>

namespace vlx::cli {

// "HKEY_CURRENT_USER", "HKEY_LOCAL_MACHINE" or "HKEY_USERS\\.DEFAULT".
const char *hiveName(Hive hive);

// The predefined handle of a root.
HKEY rootHandle(reg::Root root);

// An open key, closed when it goes.
class Key {
public:
  Key() = default;
  explicit Key(HKEY h) : h_(h) {}
  ~Key() { reset(); }
  Key(const Key &) = delete;
  Key &operator=(const Key &) = delete;
  HKEY get() const { return h_; }
  HKEY *out() {
    reset();
    return &h_;
  }
  void reset();

private:
  HKEY h_ = nullptr;
};

// Opens `subKey` below `root` ("" gives a handle to the root's own key).
LONG openKey(HKEY root, const std::string &subKey, REGSAM access, Key &key);

// Names of all subkeys, fetched before anything below them changes or is read.
LONG subKeyNames(HKEY key, std::vector<std::string> &names);
// Every value of the key, in its order.
LONG readValues(HKEY key, std::vector<reg::Value> &values);

// Runs `body` with its reads of the hives behind `root` seeing one committed state of each,
// whatever other processes write meanwhile. Keep slow output out of it: in network mode other
// processes' writes wait for it.
void readInOneState(reg::Root root, const std::function<void()> &body);

// Opens the key for reading; false when it does not exist, Failure when it cannot be opened.
bool openToRead(const reg::KeyPath &path, Key &key);
// Whether the key exists; throws Failure when it cannot be told.
bool keyExists(const reg::KeyPath &path);

// Appends the key and its whole subtree as .reg sections, depth-first, hex text data in the
// form `format` holds it; throws Failure, also for names and text that are not UTF-8.
// `eachKey` (when set) is called after each key is written.
void exportKey(std::string &out, const reg::KeyPath &path,
               reg::Format format = reg::Format::Regedit4,
               const std::function<void()> &eachKey = nullptr);
// The keys an export of `path` writes: the key and all below it (0 when it is not there).
uint64_t countKeys(const reg::KeyPath &path);

struct ImportOptions {
  bool dryRun = false;                    // roll every change back at the end
  std::ostream *listing = nullptr;        // one line per value added, changed or removed
  std::vector<Change> *changes = nullptr; // gets the same, for --json
  const char *done = "imported"; // what a failure says did not happen: "(nothing imported)"
};

// Why a write to `hive` was refused: for ERROR_ACCESS_DENIED, the hive's file, and for a user
// other than root (`user`) writing a hive of the machine, that it needs root.
std::string writeErrorText(Hive hive, LONG code, uid_t user = ::geteuid());

struct ImportResult {
  size_t operations = 0; // lines of the file applied: keys, values set, deletions
  ChangeCounts counts;   // what they changed, each value and key once per operation
  size_t unchanged = 0;  // values set to what they held already
  // "3 values added, 1 changed, 0 unchanged, 2 removed; 1 key added, 0 removed"
  std::string summary() const;
};

// Calls its argument for each operation in order, from the first each time it is called: the
// import reads its source twice, once to check and once to apply.
using OperationSource =
    std::function<void(const std::function<void(const reg::Operation &)> &each)>;

// Applies parsed operations: refuses, changing nothing, any that breaks a registry limit (name
// lengths, nesting, value size, roots and the keys a hive keeps); then makes every change with a
// transaction open on each hive concerned, so they land together. `fileName` prefixes the
// messages of failures.
ImportResult importOperations(const OperationSource &source, const std::string &fileName,
                              const ImportOptions &options = {});
ImportResult importOperations(const std::vector<reg::Operation> &operations,
                              const std::string &fileName, const ImportOptions &options = {});

} // namespace vlx::cli
