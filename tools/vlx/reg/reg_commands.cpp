// `vlx reg`: .reg export and import, and the integrity check of the hive files.
#include "vlx/reg/reg_commands.h"

#include "vlx/core/commands.h"
#include "vlx/core/errors.h"
#include "vlx/core/file_io.h"
#include "vlx/core/progress.h"
#include "vlx/formats/escape.h"
#include "vlx/formats/reg_text.h"
#include "vlx/formats/value_text.h"
#include "vlx/hive/windows_hive.h"
#include "vlx/store/reg_store.h"

#include <velmora/hive.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <sstream>

#include <filesystem>
#include <unistd.h>

namespace vlx::cli {
namespace {

// The product key of each hive, in the order a default export lists them.
const reg::KeyPath kProductKeys[] = {
    {reg::Root::LocalMachine, "Software\\Velmora"},
    {reg::Root::Users, ".DEFAULT\\Software\\Velmora"},
    {reg::Root::CurrentUser, "Software\\Velmora"},
};

// What moving the hive's names to the current case rule merged, or will merge, one line each.
void printMerges(std::ostream &out, const HiveCheck &check) {
  const char *keyVerb = check.oldNames ? "will merge" : "merged";
  const char *valueVerb = check.oldNames ? "will keep" : "kept";
  auto quoted = [](const std::string &name) { return '"' + printable(name) + '"'; };
  for (const NameMerge &m : check.merges) {
    out << "  ";
    if (m.value)
      out << valueVerb << " value " << quoted(m.name) << " of " << quoted(m.from) << " as "
          << quoted(m.renamed) << " in " << quoted(m.into) << '\n';
    else
      out << keyVerb << " key " << quoted(m.from) << " into " << quoted(m.into) << '\n';
  }
}

} // namespace

void regExport(std::ostream &out, std::ostream &err, const std::optional<std::string> &key,
               const std::optional<std::string> &file, bool unicode) {
  const reg::Format format = unicode ? reg::Format::Version5 : reg::Format::Regedit4;
  std::vector<reg::KeyPath> paths;
  if (key) {
    paths.push_back(parsedKey(*key));
  } else {
    for (const auto &path : kProductKeys)
      if (keyExists(path))
        paths.push_back(path);
  }
  Progress progress(err, 0, "keys");
  if (progress.shown()) {
    // Counted only for the bar: scripts do not pay for the walk.
    uint64_t total = 0;
    for (const auto &path : paths)
      total += countKeys(path);
    progress.setTotal(total);
  }
  uint64_t done = 0;
  std::string text;
  reg::writeHeader(text, format);
  for (const auto &path : paths)
    exportKey(text, path, format, [&] { progress.update("exporting", ++done); });
  if (unicode)
    text = unicodeRegFile(text);
  if (file)
    writeFileAtomically(*file, text);
  else
    out << text << std::flush;
}

namespace {

ImportOptions importOptions(std::ostream &out, bool dryRun) {
  ImportOptions options;
  options.dryRun = dryRun;
  options.listing = dryRun ? &out : nullptr;
  return options;
}

std::string importSummary(bool dryRun, const ImportResult &result, const std::string &file) {
  return std::string(dryRun ? "import (dry run, nothing changed): " : "import: ") +
         result.summary() + " (" + std::to_string(result.operations) +
         (result.operations == 1 ? " entry" : " entries") + " of " + printable(file) + ")\n";
}

} // namespace

namespace {

// Standard input kept in a private file of the temporary directory, for reading twice; removed
// when done.
class SpooledInput {
public:
  SpooledInput() {
    const char *tmp = std::getenv("TMPDIR");
    path_ = std::string(tmp && *tmp ? tmp : "/tmp") + "/vlx-import-XXXXXX";
    const int fd = ::mkstemp(path_.data());
    if (fd < 0)
      throw Failure("cannot keep standard input in " + path_ + ": " + std::strerror(errno));
    // Each read, write and the close are checked: a full disk fails here, not as a short import.
    auto fail = [&](const std::string &what) {
      const std::string why = std::strerror(errno);
      ::close(fd);
      ::unlink(path_.c_str());
      throw Failure(what + ": " + why);
    };
    char buffer[65536];
    for (ssize_t got; (got = ::read(0, buffer, sizeof buffer)) != 0;) {
      if (got < 0 && errno == EINTR)
        continue;
      if (got < 0)
        fail("cannot read standard input");
      for (ssize_t at = 0; at < got;) {
        const ssize_t put = ::write(fd, buffer + at, static_cast<size_t>(got - at));
        if (put < 0 && errno != EINTR)
          fail("cannot keep standard input in " + path_);
        at += put > 0 ? put : 0;
      }
    }
    if (::close(fd) != 0) {
      const std::string why = std::strerror(errno);
      ::unlink(path_.c_str());
      throw Failure("cannot keep standard input in " + path_ + ": " + why);
    }
  }
  ~SpooledInput() { ::unlink(path_.c_str()); }
  SpooledInput(const SpooledInput &) = delete;
  SpooledInput &operator=(const SpooledInput &) = delete;
  const std::string &path() const { return path_; }

private:
  std::string path_;
};

void importFile(std::ostream &out, std::ostream &err, const std::string &file, bool dryRun,
                bool json);

} // namespace

// "-" is standard input: its messages say "-" where a file's name its path.
void regImport(std::ostream &out, std::ostream &err, const std::string &file, bool dryRun,
               bool json) {
  if (file != "-")
    return importFile(out, err, file, dryRun, json);
  SpooledInput input;
  std::ostringstream summary;
  try {
    importFile(summary, err, input.path(), dryRun, json);
  } catch (const Failure &f) {
    std::string what = f.what();
    for (size_t at; (at = what.find(input.path())) != std::string::npos;)
      what.replace(at, input.path().size(), "-");
    throw Failure(what, f.exitStatus);
  }
  std::string text = summary.str();
  if (size_t at = text.rfind(input.path()); at != std::string::npos)
    text.replace(at, input.path().size(), "-");
  out << text;
}

namespace {

void importFile(std::ostream &out, std::ostream &err, const std::string &file, bool dryRun,
                bool json) {
  // Read in pieces twice, to check and to apply, so that memory stays bounded whatever the size.
  RegFilePieces pieces(file);
  std::error_code ec;
  const auto size = std::filesystem::file_size(file, ec);
  Progress progress(err, ec ? 0 : size);
  int pass = 0;
  const OperationSource source = [&](const std::function<void(const reg::Operation &)> &each) {
    const std::string step = ++pass == 1 ? "checking" : dryRun ? "listing" : "importing";
    pieces.read(
        [&](std::string_view text, int firstLine) {
          // Handed on as parsed: a piece's operations are never held all at once.
          const reg::ParseResult parsed = reg::parse(text, readHexText, [&](reg::Operation &op) {
            op.line += firstLine - 1;
            each(op);
          });
          if (!parsed.ok())
            throw Failure(file + ":" + std::to_string(parsed.errorLine + firstLine - 1) + ": " +
                          parsed.error);
        },
        [&](uint64_t bytes) { progress.update(step, bytes); });
  };
  ImportOptions options = importOptions(out, dryRun);
  std::vector<Change> changes;
  if (json) {
    options.listing = nullptr;
    options.changes = &changes;
  }
  const ImportResult result = importOperations(source, file, options);
  if (json)
    printJson(out, changesJson(changes));
  else
    out << importSummary(dryRun, result, file);
}

} // namespace

void regImportHive(std::ostream &out, std::ostream &err, const std::string &file,
                   const std::optional<std::string> &key, bool machine, bool dryRun) {
  // Made first, so that the second before the bar shows counts the hive's reading too.
  Progress progress(err, 0, "entries");
  const HiveRead read =
      readWindowsHive(file, key, machine ? reg::Root::LocalMachine : reg::Root::CurrentUser);
  if (read.dirty)
    err << "vlx: warning: " << printable(file)
        << " was not closed cleanly; changes still in its .LOG1/.LOG2 files are not imported\n";
  progress.setTotal(read.operations.size());
  int pass = 0;
  const OperationSource source = [&](const std::function<void(const reg::Operation &)> &each) {
    const std::string step = ++pass == 1 ? "checking" : dryRun ? "listing" : "importing";
    uint64_t done = 0;
    for (const reg::Operation &op : read.operations) {
      each(op);
      progress.update(step, ++done);
    }
  };
  const ImportResult result = importOperations(source, file, importOptions(out, dryRun));
  out << importSummary(dryRun, result, file + ": " + read.key + " into " + read.destination.full());
}

namespace {

// Whether the calling user may write the hive (as gsettings writable tells for a key): a sound
// file and its directory, which holds its journal, writable to them; for a missing file, the
// nearest directory that exists, where it would be made.
bool writableHive(const HiveCheck &check) {
  if (check.exists && !check.ok)
    return false; // a damaged hive refuses every write
  std::filesystem::path place = check.path;
  if (check.exists && ::access(place.c_str(), W_OK) != 0)
    return false;
  std::error_code ec;
  for (place = place.parent_path(); !place.empty() && !std::filesystem::exists(place, ec);
       place = place.parent_path())
    if (place == place.root_path())
      break;
  return ::access(place.empty() ? "." : place.c_str(), W_OK | X_OK) == 0;
}

} // namespace

void regCheck(std::ostream &out, bool json) {
  int damaged = 0;
  nlohmann::json list = nlohmann::json::array();
  for (const auto &check : checkHives()) {
    if (check.exists && !check.ok)
      ++damaged;
    const bool writable = writableHive(check);
    if (json) {
      nlohmann::json hive = {{"hive", hiveName(check.hive)},
                             {"path", check.path},
                             {"writable", writable},
                             {"state", !check.exists ? "missing"
                                       : check.ok    ? "ok"
                                                     : "damaged"}};
      if (check.exists && !check.ok)
        hive["problem"] = check.what;
      if (check.oldNames)
        hive["old_names"] = true;
      hive["mode"] = check.network ? "network" : "local";
      hive["mode_reason"] = check.mode;
      if (!check.modeNote.empty())
        hive["mode_note"] = check.modeNote;
      for (const NameMerge &m : check.merges)
        hive["merges"].push_back({{"from", m.from},
                                  {"into", m.into},
                                  {"value", m.value ? nlohmann::json(m.name) : nullptr},
                                  {"renamed", m.value ? nlohmann::json(m.renamed) : nullptr}});
      list.push_back(hive);
      continue;
    }
    std::string label = hiveName(check.hive);
    label.resize(std::max<size_t>(label.size(), 20), ' ');
    out << label << ' ' << (writable ? "writable " : "read-only") << ' ' << printable(check.path)
        << ": ";
    if (!check.exists)
      out << "missing (reads as empty)\n";
    else if (check.ok) {
      out << (check.oldNames ? "ok; names ignore ASCII case only until the first write\n" : "ok\n");
      printMerges(out, check);
    } else {
      out << "DAMAGED: " << printable(oneLine(check.what)) << '\n';
    }
    out << "  mode: " << printable(check.mode) << '\n';
    if (!check.modeNote.empty())
      out << "  " << printable(check.modeNote) << '\n';
  }
  if (json)
    printJson(out, list);
  out << std::flush;
  if (damaged)
    throw Failure(std::to_string(damaged) + (damaged == 1 ? " hive is" : " hives are") +
                  " damaged");
}

RunParsed addRegCommands(CLI::App &reg, bool &json) {
  struct Args {
    std::string key, file;
    bool unicode = false, dryRun = false, machine = false;
  };
  auto args = std::make_shared<Args>();

  auto *exp = reg.add_subcommand(
      "export", "Write REGEDIT4 text of KEY and everything below it. Without KEY: "
                "Software\\Velmora of the machine, the default user and the user, where present. "
                "On a terminal, an export that lasts over a second shows a progress bar on "
                "standard error.");
  auto *expKey = exp->add_option(
      "KEY", args->key, "Full key path, e.g. HKEY_CURRENT_USER\\Software\\Velmora (or HKCU\\...)");
  auto *expFile = exp->add_option("-o,--output", args->file,
                                  "Write to FILE (atomically) instead; - is standard output");
  exp->add_flag("--unicode", args->unicode,
                "Write what regedit writes: version 5.00, UTF-16LE with a byte-order mark, CRLF");

  auto *imp = reg.add_subcommand(
      "import", "Apply a .reg file (REGEDIT4 or version 5.00; UTF-8, UTF-16LE or Windows-1252). "
                "The whole file is checked "
                "first; each hive's changes land together or not at all. On a terminal, an "
                "import that lasts over a second shows a progress bar on standard error.");
  imp->add_option("FILE", args->file, "The .reg file; - reads standard input")->required();
  addDryRunFlag(imp, args->dryRun);
  addChangesJsonFlag(imp, json);

  auto *impHive = reg.add_subcommand(
      "import-hive",
      "Import the product key of a Windows registry hive file (a user's NTUSER.DAT, or a "
      "SOFTWARE hive) with everything below it into the user's Software\\Velmora (the machine's "
      "with --machine), keeping value types, data and order. Keys already there are merged: a "
      "value of the same name is replaced, others are kept. Checked whole first, as reg import "
      "does; lands all at once or not at all. On a terminal, an import that lasts over a "
      "second shows a progress bar on standard error.");
  impHive->add_option("FILE", args->file, "The hive file")->required();
  auto *hiveKey = impHive->add_option(
      "--key,-k", args->key,
      "Import this key of the file instead, e.g. Software\\Velmora\\Startup; it lands at the "
      "same path (below Software for a SOFTWARE hive)");
  addMachineFlag(impHive, args->machine);
  addDryRunFlag(impHive, args->dryRun);

  auto runQuery = addQueryCommands(reg, json);

  auto *check = reg.add_subcommand("check", "Check every hive file; exit 1 when any is damaged.");
  addJsonFlag(check, json);

  return [=, &json](std::ostream &out, std::ostream &err) {
    const Args &a = *args;
    if (*exp)
      regExport(out, err, ifGiven(expKey, a.key),
                a.file != "-" ? ifGiven(expFile, a.file) : std::nullopt, a.unicode);
    else if (*imp)
      regImport(out, err, a.file, a.dryRun, json);
    else if (*impHive)
      regImportHive(out, err, a.file, ifGiven(hiveKey, a.key), a.machine, a.dryRun);
    else if (*check)
      regCheck(out, json);
    else
      runQuery(out, err);
  };
}

} // namespace vlx::cli
