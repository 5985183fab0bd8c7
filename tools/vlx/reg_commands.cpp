// `vlx reg`: .reg export and import, and the integrity check of the hive files.
#include "commands.h"
#include "errors.h"
#include "escape.h"
#include "file_io.h"
#include "reg_store.h"

#include <velmora/hive.h>

#include <algorithm>

namespace vlx::cli {
namespace {

// The product key of each hive, in the order a default export lists them.
const reg::KeyPath kProductKeys[] = {
    {reg::Root::LocalMachine, "Software\\Velmora"},
    {reg::Root::Users, ".DEFAULT\\Software\\Velmora"},
    {reg::Root::CurrentUser, "Software\\Velmora"},
};

} // namespace

void regExport(std::ostream &out, const std::optional<std::string> &key,
               const std::optional<std::string> &file) {
  std::string text;
  reg::writeHeader(text);
  if (key) {
    reg::KeyPath path;
    std::string why;
    if (!reg::parseKeyPath(*key, path, why))
      throw Failure("bad key '" + *key + "': " + why, 2);
    exportKey(text, path);
  } else {
    for (const auto &path : kProductKeys)
      if (keyExists(path))
        exportKey(text, path);
  }
  if (file)
    writeFileAtomically(*file, text);
  else
    out << text << std::flush;
}

void regImport(std::ostream &out, const std::string &file) {
  reg::ParseResult parsed = reg::parse(readFile(file));
  if (!parsed.ok())
    throw Failure(file + ":" + std::to_string(parsed.errorLine) + ": " + parsed.error);
  size_t count = importOperations(parsed.operations, file);
  out << "imported " << count << (count == 1 ? " change" : " changes") << " from "
      << printable(file) << '\n';
}

void regCheck(std::ostream &out) {
  int damaged = 0;
  for (const auto &check : checkHives()) {
    std::string label = hiveName(check.hive);
    label.resize(std::max<size_t>(label.size(), 20), ' ');
    out << label << ' ' << printable(check.path) << ": ";
    if (!check.exists)
      out << "missing (reads as skeleton)\n";
    else if (check.ok)
      out << "ok\n";
    else {
      out << "DAMAGED: " << check.what << '\n';
      ++damaged;
    }
  }
  out << std::flush;
  if (damaged)
    throw Failure(std::to_string(damaged) + (damaged == 1 ? " hive is" : " hives are") +
                  " damaged");
}

} // namespace vlx::cli
