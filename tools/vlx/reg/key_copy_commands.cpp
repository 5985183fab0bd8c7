// `vlx reg copy SRC DST` copies a key's values (and subtree) through one import, all or nothing;
// `vlx reg compare A B` lists what differs, as reg.exe's copy and compare do.
#include "vlx/reg/reg_commands.h"

#include "vlx/core/errors.h"
#include "vlx/core/flags.h"
#include "vlx/formats/value_text.h"
#include "vlx/store/reg_store.h"
#include "vlx/store/snapshot.h"

#include "platform/posix/name_fold.h"

#include <map>
#include <memory>
#include <string>

namespace vlx::cli {
namespace {

// The key's subtree (or the key alone) by path below it ("" for the key), folded as the store
// compares names.
std::map<std::u32string, KeyState> relative(const reg::KeyPath &key, bool recursive) {
  const Snapshot whole = takeSnapshot(key);
  if (whole.empty())
    throw Failure(key.full() + " does not exist");
  std::map<std::u32string, KeyState> out;
  const size_t skip = key.full().size();
  for (const auto &[folded, state] : whole) {
    KeyState below{state.path.substr(skip), state.values};
    if (recursive || below.path.empty())
      out.emplace(foldedUnits(below.path), std::move(below));
  }
  return out;
}

void copyKey(std::ostream &out, const reg::KeyPath &from, const reg::KeyPath &to, bool recursive,
             bool dryRun) {
  const bool inside = from.root == to.root &&
                      foldedUnits(to.subKey + "\\").rfind(foldedUnits(from.subKey + "\\"), 0) == 0;
  if (recursive && inside)
    throw Failure("cannot copy " + from.full() + " into itself (" + to.full() + ")", 2);
  std::vector<reg::Operation> operations;
  for (const auto &[folded, state] : relative(from, recursive)) {
    reg::Operation op;
    op.key = {to.root, to.subKey + state.path};
    operations.push_back(op);
    op.kind = reg::Operation::Kind::SetValue;
    for (const reg::Value &v : state.values) {
      op.value = v;
      operations.push_back(op);
    }
  }
  ImportOptions options;
  options.dryRun = dryRun;
  options.listing = dryRun ? &out : nullptr;
  options.done = "copied";
  const ImportResult result = importOperations(operations, "reg copy", options);
  out << (dryRun ? "copy (dry run, nothing changed): " : "copy: ") << result.summary() << '\n';
}

std::string valueLine(const std::string &key, const reg::Value &v) {
  return printable(key) + "  " + valueNameText(v.name) + "  " + typeText(v.type) + "  " +
         dataText(v.type, v.data);
}

void compareKeys(std::ostream &out, const reg::KeyPath &a, const reg::KeyPath &b, bool recursive) {
  const auto left = relative(a, recursive), right = relative(b, recursive);
  size_t differences = 0;
  auto side = [&](char mark, const std::string &line) {
    out << mark << ' ' << line << '\n';
    ++differences;
  };
  std::map<std::u32string, std::pair<const KeyState *, const KeyState *>> keys;
  for (const auto &[folded, state] : left)
    keys[folded].first = &state;
  for (const auto &[folded, state] : right)
    keys[folded].second = &state;
  for (const auto &[folded, pair] : keys) {
    const auto [l, r] = pair;
    if (!l || !r) {
      side(l ? '<' : '>', "key " + printable((l ? a.full() + l->path : b.full() + r->path)));
      continue;
    }
    std::map<std::u32string, std::pair<const reg::Value *, const reg::Value *>> values;
    for (const reg::Value &v : l->values)
      values[foldedUnits(v.name)].first = &v;
    for (const reg::Value &v : r->values)
      values[foldedUnits(v.name)].second = &v;
    for (const auto &[name, found] : values) {
      const auto [lv, rv] = found;
      if (lv && rv && lv->type == rv->type && lv->data == rv->data)
        continue;
      if (lv)
        side('<', valueLine(a.full() + l->path, *lv));
      if (rv)
        side('>', valueLine(b.full() + r->path, *rv));
    }
  }
  out << "Result compared: " << (differences ? "different" : "identical") << '\n' << std::flush;
  if (differences)
    throw Failure(a.full() + " and " + b.full() + " differ");
}

} // namespace

RunParsed addKeyCopyCommands(CLI::App &reg) {
  struct Args {
    std::string from, to;
    bool recursive = false, dryRun = false;
  };
  auto args = std::make_shared<Args>();
  auto *copy = reg.add_subcommand(
      "copy", "Copy the values of SRC into DST (made when missing; values of the same name "
              "replaced), with --recursive every key below it too, as reg copy does. Checked "
              "whole first; lands all at once or not at all.");
  copy->add_option("SRC", args->from, "The key to copy, e.g. HKCU\\Software\\Velmora")->required();
  copy->add_option("DST", args->to, "Where it goes, e.g. HKLM\\Software\\Velmora")->required();
  addRecursiveFlag(copy, args->recursive, "SRC");
  addDryRunFlag(copy, args->dryRun);
  auto *compare = reg.add_subcommand(
      "compare", "List what differs between the values of A and B ('<' A's side, '>' B's), "
                 "with --recursive of every key below them too, as reg compare does; exit 1 "
                 "when they differ.");
  compare->add_option("A", args->from, "The first key")->required();
  compare->add_option("B", args->to, "The second key")->required();
  addRecursiveFlag(compare, args->recursive, "A and B");

  return [=](std::ostream &out, std::ostream &) {
    if (*copy)
      copyKey(out, parsedKey(args->from), parsedKey(args->to), args->recursive, args->dryRun);
    else if (*compare)
      compareKeys(out, parsedKey(args->from), parsedKey(args->to), args->recursive);
  };
}

} // namespace vlx::cli
