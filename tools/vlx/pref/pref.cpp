// `vlx pref`: typed preferences through the library's read, write, delete and reset calls.
#include "vlx/core/commands.h"
#include "vlx/core/errors.h"
#include "vlx/core/named.h"
#include "vlx/formats/value_text.h"
#include "vlx/pref/pref_hives.h"
#include "vlx/store/reg_store.h"
#include "vlx/store/snapshot.h"

#include <velmora/hive.h>
#include <velmora/registry.h>

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>

namespace vlx::cli {

const std::array<PrefHive, 3> &prefHives() {
  static const std::array<PrefHive, 3> hives{{
      {HKEY_CURRENT_USER, reg::Root::CurrentUser, "Software\\Velmora", "HKEY_CURRENT_USER",
       "Software"},
      {HKEY_LOCAL_MACHINE, reg::Root::LocalMachine, "Software\\Velmora", "HKEY_LOCAL_MACHINE",
       "Software"},
      {HKEY_USERS, reg::Root::Users, ".DEFAULT\\Software\\Velmora", "HKEY_USERS\\.DEFAULT",
       ".DEFAULT\\Software"},
  }};
  return hives;
}

namespace {

std::string sectionPath(const PrefHive &hive, const std::string &section) {
  return std::string(reg::rootName(hive.store)) + "\\" + hive.prefix + "\\" + section;
}

// Longest REG_SZ data (with its zero) the library reads back.
constexpr DWORD kMaxReadableString = 256;

struct Found {
  const PrefHive *hive;
  DWORD type;
  DWORD size;
};

// The value `name` in `hive`'s section, when there is one.
std::optional<Found> valueIn(const PrefHive &hive, const std::string &section,
                             const std::string &name) {
  Key key;
  std::string sub = std::string(hive.prefix) + "\\" + section;
  LONG rc = openKey(hive.root, sub, KEY_QUERY_VALUE, key);
  if (rc == ERROR_FILE_NOT_FOUND)
    return std::nullopt;
  if (rc != ERROR_SUCCESS)
    throw Failure("cannot read " + sectionPath(hive, section) + ": " + errorText(rc));
  DWORD valueType = 0, size = 0;
  rc = RegQueryValueExA(key.get(), name.c_str(), nullptr, &valueType, nullptr, &size);
  if (rc == ERROR_FILE_NOT_FOUND)
    return std::nullopt;
  if (rc != ERROR_SUCCESS && rc != ERROR_MORE_DATA)
    throw Failure("cannot read " + sectionPath(hive, section) + ": " + errorText(rc));
  return Found{&hive, valueType, size};
}

bool tooLongToRead(const Found &found) {
  return found.type == REG_SZ && found.size > kMaxReadableString;
}

// The first hive whose section holds `name` (of a type `type` reads, when given), and in
// `skipped` the first text before it that the library passes over as too long.
std::optional<Found> locate(const std::string &section, const std::string &name,
                            std::optional<PrefType> type, std::optional<Found> *skipped = nullptr) {
  for (const auto &hive : prefHives()) {
    auto found = valueIn(hive, section, name);
    if (!found)
      continue;
    bool fits = !type || (*type == PrefType::Int ? found->type == REG_DWORD
                                                 : found->type == REG_SZ && !tooLongToRead(*found));
    if (fits)
      return found;
    if (skipped && !*skipped && tooLongToRead(*found))
      *skipped = found;
  }
  return std::nullopt;
}

// Why the library passes over a stored text.
std::string tooLongText(const Found &found, const std::string &section, const std::string &name) {
  return sectionPath(*found.hive, section) + " holds '" + name + "' as a text of " +
         std::to_string(found.size - 1) + " bytes, longer than the " +
         std::to_string(kMaxReadableString - 1) + " the library reads";
}

constexpr Named<PrefType> kPrefTypes[] = {
    {PrefType::Int, "int"}, {PrefType::Double, "double"}, {PrefType::String, "string"}};

// Every type has its name in the table.
const char *prefTypeName(PrefType type) { return nameOf(kPrefTypes, type); }

valueTypes libraryType(PrefType type) {
  switch (type) {
  case PrefType::Int:
    return intType;
  case PrefType::Double:
    return doubleType;
  case PrefType::String:
    return stringType;
  }
  return stringType;
}

std::string prefName(const std::string &section, const std::string &name) {
  return section + "\\" + name;
}

} // namespace

std::optional<PrefType> prefTypeNamed(std::string_view name) { return codeNamed(kPrefTypes, name); }

std::vector<std::string> prefTypeNames() { return namesOf(kPrefTypes); }

std::string formatDouble(double value) {
  char buf[64];
  auto r = std::to_chars(buf, buf + sizeof buf, value);
  return std::string(buf, r.ptr);
}

namespace {

// A number of type T spelled exactly by `text`, which may start with '+'.
template <typename T>
T parseNumber(const std::string &text, const std::string &kind, const std::string &range,
              const char *expected) {
  std::string_view s = text;
  if (!s.empty() && s[0] == '+' && s.size() > 1 && s[1] != '-')
    s.remove_prefix(1);
  T value{};
  auto r = std::from_chars(s.data(), s.data() + s.size(), value);
  const bool whole = r.ptr == s.data() + s.size();
  if (r.ec == std::errc::result_out_of_range && whole)
    throw Failure(kind + " value '" + text + "' is out of range" + range, 2);
  if (r.ec != std::errc() || !whole)
    throw Failure("invalid " + kind + " value '" + text + "': expected " + expected, 2);
  return value;
}

} // namespace

int parseIntValue(const std::string &text) {
  return parseNumber<int>(text, "int", " (-2147483648 to 2147483647)", "a decimal integer");
}

double parseDoubleValue(const std::string &text) {
  const auto value = parseNumber<double>(text, "double", "", "a decimal number");
  if (!std::isfinite(value))
    throw Failure("double value '" + text + "' is not a finite number", 2);
  return value;
}

std::optional<std::string> prefSource(const std::string &section, const std::string &name,
                                      PrefType type) {
  auto found = locate(section, name, type);
  if (!found)
    return std::nullopt;
  return std::string(found->hive->name);
}

// Without --type, a text that is exactly how a double is stored ("0.100000000000000006") is
// shown in its shortest form ("0.1"); any other text is shown as it is.
std::string asStoredDouble(const std::string &text) {
  char *end = nullptr;
  double value = std::strtod(text.c_str(), &end);
  char stored[32];
  if (text.empty() || *end != '\0' || std::snprintf(stored, sizeof stored, "%.18g", value) <= 0 ||
      text != stored)
    return text;
  return formatDouble(value);
}

// Every hive of the fall-back in order, the file it lives in, what it holds and which answers.
void printTrace(std::ostream &err, const std::string &section, const std::string &name,
                std::optional<PrefType> type) {
  const Hive hives[] = {Hive::User, Hive::Machine, Hive::DefaultUser};
  const auto answer = locate(section, name, type);
  bool answered = false;
  for (size_t i = 0; i < prefHives().size(); ++i) {
    const PrefHive &hive = prefHives()[i];
    err << "vlx: trace: " << printable(sectionPath(hive, section) + "\\" + name) << " ("
        << printable(hivePath(hives[i])) << "): ";
    if (answered) {
      err << "not read\n";
      continue;
    }
    const auto found = valueIn(hive, section, name);
    if (!found) {
      err << "not set\n";
      continue;
    }
    err << typeText(found->type) << " of " << found->size << " bytes";
    answered = answer && answer->hive == &hive;
    err << (answered ? ": answers\n" : ": passed over\n");
  }
  if (!answer)
    err << "vlx: trace: no hive answers\n";
}

void prefGet(std::ostream &out, std::ostream &err, const std::string &section,
             const std::string &name, std::optional<PrefType> type, bool showOrigin, bool json,
             bool trace) {
  if (trace)
    printTrace(err, section, name, type);
  const bool typeGiven = type.has_value();
  if (!type) {
    // Without --type the first value of the fall-back decides: a DWORD reads as int.
    auto found = locate(section, name, std::nullopt);
    if (!found)
      throw Failure(prefName(section, name) + " is not set");
    type = found->type == REG_DWORD ? PrefType::Int : PrefType::String;
  }
  CString text;
  int intValue = 0;
  double doubleValue = 0;
  std::optional<Found> skipped;
  if (!regGetUserValue(CString(section.c_str()), CString(name.c_str()), libraryType(*type), text,
                       &intValue, &doubleValue)) {
    auto found = locate(section, name, std::nullopt);
    if (!found)
      throw Failure(prefName(section, name) + " is not set");
    locate(section, name, type, &skipped);
    if (skipped)
      throw Failure(prefName(section, name) +
                    " is not set: " + tooLongText(*skipped, section, name));
    throw Failure(prefName(section, name) + " is not set as " + prefTypeName(*type) + " (" +
                  found->hive->name + " holds " + typeText(found->type) + " of " +
                  std::to_string(found->size) + " bytes)");
  }
  if (*type != PrefType::Int) {
    auto source = locate(section, name, type, &skipped);
    if (skipped && source)
      err << "vlx: note: " << printable(tooLongText(*skipped, section, name)) << "; shown is the "
          << "value of " << source->hive->name << std::endl;
  }
  const auto origin = locate(section, name, type);
  const std::string from = origin ? origin->hive->name : "";
  if (json) {
    nlohmann::json document = {{"section", section}, {"name", name}, {"type", prefTypeName(*type)}};
    if (*type == PrefType::Int)
      document["value"] = intValue;
    else if (*type == PrefType::Double)
      document["value"] = doubleValue;
    else
      document["value"] = typeGiven ? std::string(text) : asStoredDouble(std::string(text));
    document["origin"] = from;
    printJson(out, document);
    return;
  }
  if (showOrigin)
    out << from << '\t';
  switch (*type) {
  case PrefType::Int:
    out << intValue << '\n';
    break;
  case PrefType::Double:
    out << formatDouble(doubleValue) << '\n';
    break;
  case PrefType::String:
    out << printable(typeGiven ? std::string(text) : asStoredDouble(std::string(text))) << '\n';
    break;
  }
}

namespace {

// The library writes only the user's and the machine's preferences; the default user's get what
// it would store: the DWORD, or the text (a double as "%.18g").
LONG writeDefaultUser(const std::string &section, const std::string &name, PrefType type,
                      const std::string &text, int intValue, double doubleValue) {
  const PrefHive &hive = prefHives()[static_cast<size_t>(Hive::DefaultUser)];
  Key key;
  LONG rc = RegCreateKeyExA(hive.root, (std::string(hive.prefix) + "\\" + section).c_str(), 0,
                            nullptr, 0, KEY_WRITE, nullptr, key.out(), nullptr);
  if (rc != ERROR_SUCCESS)
    return rc;
  if (type == PrefType::Int)
    return RegSetValueExA(key.get(), name.c_str(), 0, REG_DWORD,
                          reinterpret_cast<const BYTE *>(&intValue), sizeof intValue);
  char number[32];
  std::string data = text;
  if (type == PrefType::Double) {
    std::snprintf(number, sizeof number, "%.18g", doubleValue);
    data = number;
  }
  return RegSetValueExA(key.get(), name.c_str(), 0, REG_SZ,
                        reinterpret_cast<const BYTE *>(data.c_str()),
                        static_cast<DWORD>(data.size() + 1));
}

} // namespace

void prefSet(std::ostream &out, const std::string &section, const std::string &name,
             const std::string &value, PrefType type, Hive hive, bool dryRun, bool json) {
  int intValue = 0;
  double doubleValue = 0;
  if (type == PrefType::Int)
    intValue = parseIntValue(value);
  else if (type == PrefType::Double)
    doubleValue = parseDoubleValue(value);
  // The library would store it, but read it as not set and fall back to another hive.
  else if (value.size() >= kMaxReadableString)
    throw Failure("text of " + std::to_string(value.size()) + " bytes is longer than the " +
                      std::to_string(kMaxReadableString - 1) +
                      " the library reads back; nothing written",
                  2);
  const PrefHive &target = prefHives()[static_cast<size_t>(hive)];
  const std::string path = sectionPath(target, section);
  const auto write = [&] {
    CString s(section.c_str()), n(name.c_str()), v(value.c_str());
    takeRegistryWriteError(); // an older refusal is not this write's
    LONG rc = ERROR_SUCCESS;
    if (hive == Hive::DefaultUser) {
      rc = writeDefaultUser(section, name, type, value, intValue, doubleValue);
    } else if (!(hive == Hive::Machine
                     ? regSetLocMachineValue(s, n, libraryType(type), v, &intValue, &doubleValue)
                     : regSetUserValue(s, n, libraryType(type), v, &intValue, &doubleValue))) {
      rc = takeRegistryWriteError();
      if (rc == ERROR_SUCCESS)
        throw Failure("cannot write " + path + ": write refused");
    }
    if (rc != ERROR_SUCCESS)
      throw Failure("cannot write " + path + ": " + writeErrorText(hive, rc));
  };
  // One transaction: a new section lands with its value, as a watcher should see them, and a
  // refused value leaves no new section behind.
  const Outcome outcome =
      changesMadeBy(hive, target.product(section), dryRun, "cannot write " + path, write);
  if (json)
    printJson(out, changesJson(outcome.changes));
  else if (dryRun)
    for (const Change &c : outcome.changes)
      printChange(out, c);
}

namespace {

void deleteOrFail(const std::string &section, const std::optional<std::string> &name) {
  const PrefHive &user = prefHives()[0];
  std::string path = sectionPath(user, section);
  std::string sub = std::string(user.prefix) + "\\" + section;
  if (name) {
    if (regDelSoftwareValue(CString(section.c_str()), CString(name->c_str())))
      return;
    Key key;
    LONG rc = openKey(HKEY_CURRENT_USER, sub, KEY_QUERY_VALUE, key);
    if (rc == ERROR_SUCCESS)
      rc = RegQueryValueExA(key.get(), name->c_str(), nullptr, nullptr, nullptr, nullptr);
    if (rc == ERROR_FILE_NOT_FOUND)
      throw Failure(prefName(section, *name) + " is not set for the user (" + path +
                    " has no such value)");
    throw Failure("cannot delete '" + *name + "' in " + path + ": " +
                  (rc == ERROR_SUCCESS ? "deletion refused" : errorText(rc)));
  }
  if (regDelSoftwareKey(HKEY_CURRENT_USER, CString(section.c_str()), CString("")))
    return;
  Key key;
  LONG rc = openKey(HKEY_CURRENT_USER, sub, KEY_READ, key);
  if (rc == ERROR_FILE_NOT_FOUND)
    throw Failure(path + " does not exist");
  DWORD subKeys = 0;
  if (rc == ERROR_SUCCESS)
    rc = RegQueryInfoKeyA(key.get(), nullptr, nullptr, nullptr, &subKeys, nullptr, nullptr, nullptr,
                          nullptr, nullptr, nullptr, nullptr);
  if (rc == ERROR_SUCCESS && subKeys > 0)
    throw Failure("cannot delete " + path + ": it has subkeys");
  throw Failure("cannot delete " + path + ": " +
                (rc == ERROR_SUCCESS ? "deletion refused" : errorText(rc)));
}

void resetOrFail() {
  takeRegistryWriteError();
  if (regResetUserPrefInfo())
    return;
  LONG rc = takeRegistryWriteError();
  if (!keyExists({reg::Root::LocalMachine, "Software\\Velmora"}))
    throw Failure("nothing to reset from: HKEY_LOCAL_MACHINE\\Software\\Velmora does not exist");
  if (rc != ERROR_SUCCESS)
    throw Failure("cannot reset HKEY_CURRENT_USER\\Software\\Velmora: " + errorText(rc));
  throw Failure("reset of HKEY_CURRENT_USER\\Software\\Velmora stopped part-way (a machine name "
                "or value too long to copy, or the user's hive refused a write)");
}

std::string plural(size_t n, const char *one, const char *many) {
  return std::to_string(n) + " " + (n == 1 ? one : many);
}

const reg::KeyPath kUserProduct{reg::Root::CurrentUser, "Software\\Velmora"};

} // namespace

void prefDelete(std::ostream &out, const std::string &section,
                const std::optional<std::string> &name, bool dryRun) {
  const std::string path = sectionPath(prefHives()[0], section);
  const Outcome outcome =
      changesMadeBy(Hive::User, {reg::Root::CurrentUser, "Software\\Velmora\\" + section}, dryRun,
                    "cannot delete " + path, [&] { deleteOrFail(section, name); });
  if (dryRun)
    for (const Change &c : outcome.changes)
      printChange(out, c);
  const ChangeCounts counts = countChanges(outcome.changes);
  out << "delete" << (dryRun ? " (dry run, nothing changed)" : "") << ": "
      << printable(path + (name ? " \"" + *name + "\"" : "")) << ", "
      << plural(counts.removed, "value", "values") << " removed\n";
}

void prefReset(std::ostream &out, bool dryRun) {
  const Outcome outcome = changesMadeBy(Hive::User, kUserProduct, dryRun,
                                        "cannot reset " + kUserProduct.full(), resetOrFail);
  if (dryRun)
    for (const Change &c : outcome.changes)
      printChange(out, c);
  // Every value the user holds afterwards is a copy of the machine's.
  size_t sections = 0, values = 0;
  const std::string product = kUserProduct.full();
  const auto depth = std::count(product.begin(), product.end(), '\\');
  for (const auto &[folded, key] : outcome.after) {
    values += key.values.size();
    if (std::count(key.path.begin(), key.path.end(), '\\') == depth + 1)
      ++sections;
  }
  const ChangeCounts counts = countChanges(outcome.changes);
  out << "reset" << (dryRun ? " (dry run, nothing changed)" : "") << ": "
      << plural(sections, "section", "sections") << ", " << plural(values, "value", "values")
      << " copied, " << counts.removed << " removed\n";
}

} // namespace vlx::cli
