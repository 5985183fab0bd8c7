// The vlx commands; each throws Failure for the one line that reports what went wrong.
#pragma once

#include <velmora/hive.h>

#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

namespace vlx::cli {

enum class PrefType { Int, Double, String };

// "int", "double" or "string".
std::optional<PrefType> prefTypeNamed(std::string_view name);
// The names prefTypeNamed reads, for checks.
std::vector<std::string> prefTypeNames();

// The shortest text that reads back as the same double ("0.1", "1e+300").
std::string formatDouble(double value);

// Strict text-to-number checks for `pref set`; throw Failure with exit status 2.
int parseIntValue(const std::string &text);
double parseDoubleValue(const std::string &text);

// The root whose value `regGetUserValue` takes for `type` ("HKEY_CURRENT_USER", ...), found by
// following its fall-back; none when no hive holds a value of that type.
std::optional<std::string> prefSource(const std::string &section, const std::string &name,
                                      PrefType type);

// A text that an earlier hive holds but the library passes over as too long is noted on `err`.
// `showOrigin`: the hive first, a tab, then the value; `json`: one object with both.
// `trace`: first, on `err`, every hive of the fall-back in order with its file, what it holds and
// which one answers.
void prefGet(std::ostream &out, std::ostream &err, const std::string &section,
             const std::string &name, std::optional<PrefType> type, bool showOrigin = false,
             bool json = false, bool trace = false);
// Writes into `hive`; `dryRun` lists the changes it would make and changes nothing; `json`
// prints them as one document (changesJson), whether done or not.
void prefSet(std::ostream &out, const std::string &section, const std::string &name,
             const std::string &value, PrefType type, Hive hive, bool dryRun = false,
             bool json = false);
// `pref delete` and `pref reset` end with a one-line summary; with `dryRun` they list what they
// would add, change and remove, one value a line, and change nothing.
void prefDelete(std::ostream &out, const std::string &section,
                const std::optional<std::string> &name, bool dryRun = false);
void prefReset(std::ostream &out, bool dryRun = false);
// The merged view the host reads: each value of SECTION (or of every section) from the first
// hive of the fall-back that holds it, with its type, data and hive; `all`: the values it hides
// too.
void prefList(std::ostream &out, const std::optional<std::string> &section, bool all, bool json);
// Prints each change below the product key (or SECTION) of every hive as it lands; `count` > 0
// stops after that many. `json`: one JSON object a line (changeJson) instead.
void prefWatch(std::ostream &out, const std::optional<std::string> &section, long count,
               bool json = false);

// `key`: one key; none: the product key of every hive that has one. `file`: written atomically.
// `unicode`: regedit's version 5 form (UTF-16LE, byte-order mark, CRLF) instead of REGEDIT4 UTF-8.
// A progress bar counts the keys on `err` when it is a terminal and the work lasts over a second.
void regExport(std::ostream &out, std::ostream &err, const std::optional<std::string> &key,
               const std::optional<std::string> &file, bool unicode = false);
// Imports end with a summary of what they added, changed and removed; `dryRun` lists it per
// value and changes nothing.
// The file is read in pieces, twice (checked whole, then applied), with a progress bar on `err`
// when it is a terminal and the work lasts over a second.
// `json`: the changes as one document (changesJson) instead of the listing and summary.
void regImport(std::ostream &out, std::ostream &err, const std::string &file, bool dryRun = false,
               bool json = false);
void regCheck(std::ostream &out, bool json = false);
// `key`: a path inside the hive file; none: its product key. A file not closed cleanly is noted
// on `err`, where a progress bar counts the entries as regImport's does.
void regImportHive(std::ostream &out, std::ostream &err, const std::string &file,
                   const std::optional<std::string> &key, bool machine, bool dryRun = false);
// reg.exe's verbs: a key's values and subkeys (with `recursive` the whole subtree); a key, or a
// value of any type; removal of a key with its subtree, or of one value.
// `name`: that value alone (reg.exe's /v), a failure when there is none; `find`: keys, value
// names and data that hold the text, in any letter case (/f, narrowed by /k /v /d as inKeys,
// inNames, inData), ending with the count; `type`: values of that type only (/t).
struct QueryFilter {
  std::optional<std::string> name;
  std::optional<std::string> find;
  bool inKeys = true, inNames = true, inData = true;
  std::optional<uint32_t> type;
};
void regQuery(std::ostream &out, const std::string &key, bool recursive, bool json,
              const QueryFilter &filter = {});
// `dryRun` and `json` as for regImport; reg add prints nothing done for real without `json`.
void regAdd(std::ostream &out, const std::string &key, const std::optional<std::string> &name,
            const std::optional<std::string> &type, const std::optional<std::string> &data,
            bool dryRun = false, bool json = false);
// `ifExists`: a key or value that is not there is no failure; nothing changes.
void regDelete(std::ostream &out, const std::string &key, const std::optional<std::string> &name,
               bool dryRun, bool json = false, bool ifExists = false);

// `dir`: where the scratch store goes; none: a fresh directory under $TMPDIR or /tmp.
void demo(std::ostream &out, const std::optional<std::string> &dir);

// `datecode`: the codes of the library the tool loaded; widening any short code; stamping a
// built library file in place.
void dateCodeShow(std::ostream &out);
void dateCodeWiden(std::ostream &out, const std::string &code);
// A code the library cannot give back (over 32 bits) is stamped, with a warning on `err`.
void dateCodeStamp(std::ostream &out, std::ostream &err, const std::string &library,
                   const std::string &code);

// What `vlx --version` prints: vlx and its library, SQLite, ICU and, where the spreadsheet
// server is built, LibreOffice.
std::string versionText();

// The tool's string table (the backup prefix); registered before any command runs.
void registerToolStrings();

// `path` splits its text exactly as given. `ls` and `backup` take paths with `/` (or `\`), which
// reach the library with `\`; they and `temp` print paths with `/`.
void pathShow(std::ostream &out, const std::string &path);
// `nullEnded`: raw names each ended by a zero byte; else one shell word (see shellWord) a line.
void listFiles(std::ostream &out, const std::string &dir, const std::string &extension,
               bool nullEnded);
void tempShow(std::ostream &out, const std::optional<std::string> &fileName);
void backupMake(std::ostream &out, const std::string &file);
void backupResolve(std::ostream &out, const std::string &file);

// `variant convert`: VALUE read as type `from` (one of variantTypeNames()), converted to `to`
// with VariantChangeTypeEx under `lcid`; prints the result, or fails with the error's name.
std::vector<std::string> variantTypeNames();
void variantConvert(std::ostream &out, const std::string &value, const std::string &from,
                    const std::string &to, unsigned long lcid);
// `sheet`: a workbook through the spreadsheet wrappers and the server registered for
// Excel.Application. RANGE is "B3" (first sheet) or "Sheet2!B3"; `set` saves the file.
// `json`: the value as a JSON number or string; the names and sheets as JSON arrays.
void sheetGet(std::ostream &out, const std::string &file, const std::string &reference,
              bool json = false);
// Waits up to lockWait seconds while another process writes FILE.
void sheetSet(const std::string &file, const std::string &reference, const std::string &value,
              double lockWait);
void sheetNames(std::ostream &out, const std::string &file, bool json = false);
void sheetSheets(std::ostream &out, const std::string &file, bool json = false);
// The server library installed beside the tool, or "" when there is none.
std::string installedCalcServer();
// What keeps an office from starting that the user can mend (the office, the server package,
// the registration), with the one command that does; "" when all are there.
std::string sheetAdvice();
// Registers: calls the server library's DllRegisterServer, as regsvr32 does. Unregisters without
// loading anything: the classes whose InprocServer32 names `server`, or without it the class
// Excel.Application names; nothing to remove is no failure.
void sheetRegister(std::ostream &out, const std::optional<std::string> &server, bool unregister);

} // namespace vlx::cli
