// `vlx addins`, `vlx clsid` and `vlx lang`: the add-in lists, a class's registered strings and
// the language directory, through the library's calls.
#include "vlx/library/library_commands.h"

#include "vlx/core/errors.h"
#include "vlx/core/flags.h"
#include "vlx/formats/escape.h"
#include "vlx/formats/value_text.h"
#include "vlx/store/reg_store.h"

#include <velmora/addins.h>
#include <velmora/afx.h>
#include <velmora/lang.h>

#include <cstdio>
#include <memory>
#include <optional>
#include <string>

namespace vlx::cli {
namespace {

const char kInstalledPath[] = "Software\\Velmora\\Applications";
const char kStartupPath[] = "Software\\Velmora\\Startup\\Applications";
const char kSiblingPath[] = "SOFTWARE\\Velmora\\Applications\\Lumivane";
constexpr DWORD kTextBytes = 261; // the library's buffers: 260 characters and the zero

std::string classText(const GUID &clsid) {
  OLECHAR wide[39];
  StringFromGUID2(clsid, wide, 39);
  std::string text;
  for (int i = 0; wide[i]; ++i)
    text += static_cast<char>(wide[i]);
  return text;
}

// A class given as braced text or a ProgID, read as the library reads it.
GUID parseClass(const std::string &text) {
  GUID clsid;
  if (AfxGetClassIDFromString(text.c_str(), &clsid) == S_OK)
    return clsid;
  if (!text.empty() && text[0] == '{')
    throw Failure("malformed class identifier '" + text +
                      "' (expected {XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX})",
                  2);
  throw Failure("unknown ProgID '" + text + "' (no HKEY_CLASSES_ROOT\\" + text + "\\CLSID)");
}

// Why a list entry's class text does not read as a class identifier, as the library reads it
// (`valueName` null: the default value); none when it does.
std::optional<std::string> unreadableClass(HKEY entry, const char *valueName) {
  const std::string shown =
      valueName ? std::string("its ") + valueName + " value" : std::string("its default value");
  char text[kTextBytes + 1] = {};
  DWORD type = REG_NONE, size = kTextBytes;
  LONG rc =
      RegQueryValueExA(entry, valueName, nullptr, &type, reinterpret_cast<LPBYTE>(text), &size);
  if (rc == ERROR_FILE_NOT_FOUND)
    return shown + " is missing";
  if (rc == ERROR_MORE_DATA)
    return shown + " is longer than 260 characters";
  if (rc != ERROR_SUCCESS)
    return shown + " cannot be read: " + errorText(rc);
  if (type != REG_SZ)
    return shown + " is not of type REG_SZ";
  GUID clsid;
  if (AfxGetClassIDFromString(text, &clsid) != S_OK)
    return shown + " '" + text + "' is not a class identifier or known ProgID";
  return std::nullopt;
}

std::vector<std::string> subkeyNames(HKEY list) {
  std::vector<std::string> names;
  char name[kTextBytes];
  for (DWORD i = 0;; ++i) {
    DWORD chars = sizeof name;
    LONG rc = RegEnumKeyExA(list, i, name, &chars, nullptr, nullptr, nullptr, nullptr);
    if (rc == ERROR_NO_MORE_ITEMS)
      return names;
    if (rc != ERROR_SUCCESS)
      throw Failure("cannot list the entries: " + errorText(rc));
    names.emplace_back(name, chars);
  }
}

// Rows of position, name and class text; printed as lines as they come, or gathered for one
// JSON document.
class EntryList {
public:
  EntryList(std::ostream &out, bool json) : out_(out), json_(json) {}
  void add(int position, const std::string &name, const std::string &text, bool readable = true) {
    if (!json_) {
      out_ << position << '\t' << printable(name) << '\t' << printable(text) << '\n';
      return;
    }
    nlohmann::json entry = {{"position", position}, {"name", name}};
    entry[readable ? "clsid" : "problem"] = text;
    list_.push_back(entry);
  }
  // An empty list is an empty document, never prose.
  void finish() {
    if (json_)
      printJson(out_, list_);
  }

private:
  std::ostream &out_;
  bool json_;
  nlohmann::json list_ = nlohmann::json::array();
};

void listInstalled(std::ostream &out, bool json) {
  EntryList rows(out, json);
  int position = 0;
  GUID clsid;
  CString name;
  for (; regEnumApplications(position, clsid, &name); ++position)
    rows.add(position, name.GetString(), classText(clsid));
  // The library's listing ends at the first entry it cannot read; say which one and why.
  Key list;
  if (openKey(HKEY_LOCAL_MACHINE, kInstalledPath, KEY_READ, list) != ERROR_SUCCESS) {
    rows.finish();
    return;
  }
  const std::vector<std::string> names = subkeyNames(list.get());
  if (static_cast<size_t>(position) >= names.size()) {
    rows.finish();
    return;
  }
  Key entry;
  LONG rc = openKey(list.get(), names[position], KEY_READ, entry);
  std::string why = rc != ERROR_SUCCESS
                        ? "it cannot be opened: " + errorText(rc)
                        : unreadableClass(entry.get(), "CLSID").value_or("it cannot be read");
  throw Failure("listing stopped at position " + std::to_string(position) + " of " +
                std::to_string(names.size()) + " ('" + names[position] + "'): " + why);
}

void listStartup(std::ostream &out, bool json) {
  EntryList rows(out, json);
  Key list;
  if (openKey(HKEY_CURRENT_USER, kStartupPath, KEY_READ, list) != ERROR_SUCCESS) {
    rows.finish();
    return;
  }
  const std::vector<std::string> names = subkeyNames(list.get());
  for (size_t i = 0; i < names.size(); ++i) {
    Key entry;
    std::string text;
    bool readable = false;
    if (openKey(list.get(), names[i], KEY_READ, entry) != ERROR_SUCCESS) {
      text = json ? "cannot be opened" : "(cannot be opened)";
    } else if (auto why = unreadableClass(entry.get(), nullptr)) {
      text = json ? *why : "(" + *why + ")";
    } else {
      readable = true;
      char value[kTextBytes + 1] = {};
      LONG size = kTextBytes;
      RegQueryValueA(entry.get(), nullptr, value, &size);
      text = classText(parseClass(value));
    }
    rows.add(static_cast<int>(i), names[i], text, readable);
  }
  rows.finish();
}

struct StartupEntry {
  int position;
  std::string name; // as stored
};

// The entry named `name` (letter case ignored) and its position in enumeration order.
std::optional<StartupEntry> startupEntry(const std::string &name) {
  Key list;
  if (openKey(HKEY_CURRENT_USER, kStartupPath, KEY_READ, list) != ERROR_SUCCESS)
    return std::nullopt;
  const std::vector<std::string> names = subkeyNames(list.get());
  for (size_t i = 0; i < names.size(); ++i)
    if (_mbsicmp(reinterpret_cast<const unsigned char *>(names[i].c_str()),
                 reinterpret_cast<const unsigned char *>(name.c_str())) == 0)
      return StartupEntry{static_cast<int>(i), names[i]};
  return std::nullopt;
}

void enable(std::ostream &out, const std::string &name, const std::string &classArg) {
  if (name.empty() || name.size() >= kTextBytes || name.find('\\') != std::string::npos)
    throw Failure("NAME must be 1 to 260 characters without '\\'", 2);
  const GUID clsid = parseClass(classArg);
  regAddToStartupList(clsid, name.c_str());
  // The library reports nothing: read the entry back.
  Key entry;
  char value[kTextBytes + 1] = {};
  LONG size = kTextBytes;
  if (openKey(HKEY_CURRENT_USER, std::string(kStartupPath) + "\\" + name, KEY_READ, entry) !=
          ERROR_SUCCESS ||
      RegQueryValueA(entry.get(), nullptr, value, &size) != ERROR_SUCCESS ||
      classText(clsid) != value)
    throw Failure("could not write the start-up entry '" + name + "'");
  out << "enabled " << printable(name) << ' ' << classText(clsid) << " at position "
      << startupEntry(name).value_or(StartupEntry{-1, name}).position << '\n';
}

void disable(std::ostream &out, const std::string &name) {
  std::optional<StartupEntry> entry = startupEntry(name);
  if (!entry)
    throw Failure("no start-up entry '" + name + "'");
  regDeleteFromStartupList(entry->position);
  if (startupEntry(name))
    throw Failure("could not remove the start-up entry '" + entry->name + "'");
  out << "disabled " << printable(entry->name) << " (was at position " << entry->position << ")\n";
}

void firstRun(std::ostream &out) {
  if (regFirstTimeAddInLumivane()) {
    out << "enabled Lumivane: the user had no start-up list; it now holds the entry Lumivane\n";
    return;
  }
  Key sibling;
  if (openKey(HKEY_LOCAL_MACHINE, kSiblingPath, KEY_QUERY_VALUE, sibling) != ERROR_SUCCESS)
    out << "nothing done: Lumivane is not installed (no HKEY_LOCAL_MACHINE\\" << kSiblingPath
        << ")\n";
  else if (auto why = unreadableClass(sibling.get(), "CLSID"))
    out << "nothing done: Lumivane's class cannot be read: " << printable(*why) << '\n';
  else
    out << "nothing done: the user already has a start-up list (HKEY_CURRENT_USER\\" << kStartupPath
        << "), so first-run enabling was done before\n";
}

void showClass(std::ostream &out, const std::string &classArg,
               const std::optional<std::string> &subKey, bool json) {
  const GUID clsid = parseClass(classArg);
  std::string sub = subKey.value_or("");
  CString value;
  if (!regFromCLSIDKey(clsid, subKey ? sub.data() : nullptr, value))
    throw Failure("no value for " + classText(clsid) + (subKey ? "\\" + sub : std::string()) +
                  " in HKEY_CLASSES_ROOT\\CLSID (not registered, no such subkey, or longer than "
                  "260 characters)");
  if (json)
    printJson(out, {{"clsid", classText(clsid)}, {"subkey", sub}, {"value", value.GetString()}});
  else
    out << printable(value.GetString()) << '\n';
}

void showLang(std::ostream &out, bool json) {
  const UserLocale locale = userLocale();
  char id[8];
  std::snprintf(id, sizeof id, "0x%04X", GetUserDefaultLangID());
  const std::string subdir = su_GetLangSubdir().GetString();
  // The library tells the user through a message box; here it becomes the failure's line.
  std::string message;
  MessageBoxHandler previous = setMessageBoxHandler([&message](const char *text, unsigned) {
    message = text;
    return IDOK;
  });
  const CString &dir = su_GetLangDirForDLL();
  setMessageBoxHandler(previous);
  if (json) {
    nlohmann::json document = {
        {"locale_variable", locale.variable.empty() ? nullptr : nlohmann::json(locale.variable)},
        {"locale", locale.variable.empty() ? nullptr : nlohmann::json(locale.value)},
        {"language", id},
        {"subdir", subdir},
        {"directory", dir.IsEmpty() ? nullptr : nlohmann::json(dir.GetString())}};
    printJson(out, document);
  } else {
    out << "locale:    "
        << (locale.variable.empty() ? "none of LC_ALL, LC_MESSAGES, LANG is set"
                                    : printable(locale.variable + "=" + locale.value))
        << '\n';
    out << "language:  " << id << '\n';
    out << "subdir:    " << printable(subdir) << '\n';
    if (!dir.IsEmpty())
      out << "directory: " << printable(dir.GetString()) << '\n';
  }
  if (dir.IsEmpty())
    throw Failure(oneLine(message));
}

const char *const kClassHelp = "Braced class identifier or ProgID";

} // namespace

RunParsed addAddinCommands(CLI::App &app, bool &json) {
  struct Args {
    std::string name, classArg, subKey;
  };
  auto args = std::make_shared<Args>();

  auto *addins =
      addCommandGroup(app, "addins", "The installed add-ins and the user's start-up list");
  auto *list = addins->add_subcommand(
      "list", "Print the installed add-ins of HKEY_LOCAL_MACHINE\\Software\\Velmora\\Applications "
              "(position, name, class identifier) as the library lists them; exit 1 naming the "
              "entry, and why, when one cannot be read and the listing stops there. No add-ins: "
              "nothing is printed.");
  addJsonFlag(list, json);
  auto *startup = addins->add_subcommand(
      "startup", "Print the user's start-up list, HKEY_CURRENT_USER\\Software\\Velmora\\Startup\\"
                 "Applications (position, name, class identifier); nothing when there is none.");
  addJsonFlag(startup, json);
  auto *enableCmd = addins->add_subcommand(
      "enable", "Add NAME to the user's start-up list with class CLASS, or give an existing entry "
                "that class (the list is created when missing).");
  enableCmd->add_option("NAME", args->name, "The add-in's name, e.g. its installed name")
      ->required();
  enableCmd->add_option("CLASS", args->classArg, kClassHelp)->required();
  auto *disableCmd = addins->add_subcommand(
      "disable", "Remove the entry NAME (letter case ignored) from the user's start-up list.");
  disableCmd->add_option("NAME", args->name, "The entry's name")->required();
  auto *firstRunCmd = addins->add_subcommand(
      "first-run", "Enable the installed Lumivane add-in for a user who has no start-up list "
                   "yet, and say what was done and why.");

  auto *clsid = app.add_subcommand(
      "clsid", "Print the default value of SUBKEY (without it, of the class key itself) below "
               "HKEY_CLASSES_ROOT\\CLSID\\{class}; exit 1 when there is none.");
  clsid->add_option("CLASS", args->classArg, kClassHelp)->required();
  auto *clsidSub = clsid->add_option("SUBKEY", args->subKey, "e.g. InprocServer32 or ProgID");
  addJsonFlag(clsid, json);

  auto *lang = app.add_subcommand(
      "lang", "Print the locale variable that decides the user's language, the language "
              "identifier, the language subdirectory and the language directory a host "
              "installed beside vlx would get (exit 1 when neither it nor the English one "
              "exists).");
  addJsonFlag(lang, json);

  return [=, &json](std::ostream &out, std::ostream &) {
    if (*list)
      listInstalled(out, json);
    else if (*startup)
      listStartup(out, json);
    else if (*enableCmd)
      enable(out, args->name, args->classArg);
    else if (*disableCmd)
      disable(out, args->name);
    else if (*firstRunCmd)
      firstRun(out);
    else if (*clsid)
      showClass(out, args->classArg, ifGiven(clsidSub, args->subKey), json);
    else if (*lang)
      showLang(out, json);
  };
}

} // namespace vlx::cli
