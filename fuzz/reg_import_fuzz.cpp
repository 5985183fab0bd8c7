// libFuzzer target: a .reg import end to end. What the parser accepts is checked and applied to
// a scratch store; a refusal must leave the store as it was, and what lands must export, import
// into a second store and export again unchanged.
#include "vlx/core/errors.h"
#include "vlx/formats/reg_file.h"
#include "vlx/store/reg_store.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>

namespace fs = std::filesystem;
using namespace vlx;

namespace {

const reg::KeyPath kRoots[] = {
    {reg::Root::LocalMachine, ""}, {reg::Root::Users, ""}, {reg::Root::CurrentUser, ""}};

// A fresh, empty store for each use, under a name never used before: the store reopens when the
// variable changes, and a hive that an export did not reach may still be open on an old one.
void useFreshStore() {
  static const fs::path base = [] {
    const char *tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/vlx-fuzz-XXXXXX";
    if (!mkdtemp(pattern.data()))
      std::abort();
    return fs::path(pattern);
  }();
  static unsigned long turn = 0;
  if (turn >= 3)
    fs::remove_all(base / std::to_string(turn - 3));
  const fs::path dir = base / std::to_string(turn++);
  fs::create_directory(dir);
  setenv("VELMORA_REGISTRY_DIR", dir.c_str(), 1);
}

std::string exportAll() {
  std::string text;
  reg::writeHeader(text);
  for (const auto &root : kRoots)
    cli::exportKey(text, root);
  return text;
}

// The refusals of the check that runs before anything is written; any other failure is one the
// check should have found.
bool refusedByCheck(std::string_view message) {
  for (std::string_view known :
       {"key name longer than", "value name longer than", "value data longer than",
        "key nested deeper than", "can be imported, not", "HKEY_USERS itself holds no values",
        "the hive always keeps this key"})
    if (message.find(known) != std::string_view::npos)
      return true;
  return false;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  const reg::ParseResult parsed =
      reg::parse(std::string_view(reinterpret_cast<const char *>(data), size));
  if (!parsed.ok())
    return 0;

  useFreshStore();
  static const std::string empty = exportAll();
  // A store left open by the input before (a handle never closed) would still hold its keys.
  static std::string previous;
  if (exportAll() != empty) {
    std::fputs("a fresh store is not empty; the input before was:\n", stderr);
    std::fwrite(previous.data(), 1, previous.size(), stderr);
    std::abort();
  }
  previous.assign(reinterpret_cast<const char *>(data), size);
  try {
    cli::importOperations(parsed.operations, "fuzz.reg");
  } catch (const cli::Failure &f) {
    if (!refusedByCheck(f.what())) {
      std::fprintf(stderr, "import failed while applying: %s\n", f.what());
      std::abort();
    }
    if (exportAll() != empty)
      std::abort(); // a refused file changed the store
    return 0;
  }

  std::string first;
  try {
    first = exportAll();
  } catch (const cli::Failure &) {
    return 0; // names that .reg text cannot hold (line breaks)
  }
  const reg::ParseResult again = reg::parse(first);
  if (!again.ok())
    std::abort();
  useFreshStore();
  cli::importOperations(again.operations, "first.reg");
  if (exportAll() != first)
    std::abort();
  return 0;
}
