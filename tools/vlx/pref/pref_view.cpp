// `vlx pref list` and `pref watch`: what the host reads and where it comes from, and its changes
// as they land.
#include "vlx/core/commands.h"
#include "vlx/core/errors.h"
#include "vlx/formats/value_text.h"
#include "vlx/pref/pref_hives.h"
#include "vlx/store/reg_store.h"
#include "vlx/store/snapshot.h"

#include "platform/posix/name_fold.h"

#include <map>

namespace vlx::cli {
void prefList(std::ostream &out, const std::optional<std::string> &section, bool all, bool json) {
  struct Entry {
    std::string section;
    reg::Value value;
    const char *origin;
    bool hidden;
  };
  // By folded section and name: the first hive of the fall-back gives what the host reads.
  std::map<std::pair<std::u32string, std::u32string>, std::vector<Entry>> entries;
  for (const PrefHive &hive : prefHives()) {
    const reg::KeyPath scope = hive.product(section.value_or(""));
    const size_t prefix = hive.product().full().size() + 1;
    for (const auto &[folded, state] : takeSnapshot(scope)) {
      const std::string name = state.path.size() > prefix ? state.path.substr(prefix) : "";
      for (const auto &v : state.values) {
        auto &list = entries[{foldedUnits(name), foldedUnits(v.name)}];
        list.push_back({name, v, hive.name, !list.empty()});
      }
    }
  }
  nlohmann::json document = nlohmann::json::array();
  for (const auto &[names, list] : entries)
    for (const Entry &e : list) {
      if (e.hidden && !all)
        break;
      if (json) {
        nlohmann::json item = valueJson(e.value);
        item["section"] = e.section;
        item["origin"] = e.origin;
        if (all)
          item["hidden"] = e.hidden;
        document.push_back(item);
        continue;
      }
      out << printable(e.section) << '\\' << valueNameText(e.value.name) << " = "
          << typeText(e.value.type) << ' ' << dataText(e.value.type, e.value.data) << "  ["
          << e.origin << (e.hidden ? ", hidden by " + std::string(list.front().origin) : "")
          << "]\n";
    }
  if (json)
    printJson(out, document);
}

void prefWatch(std::ostream &out, const std::optional<std::string> &section, long count,
               bool json) {
  struct Watched {
    const PrefHive *hive;
    Key key;
    HANDLE event = nullptr;
    Snapshot seen;
  };
  std::vector<Watched> watched(prefHives().size());
  auto arm = [](Watched &w) {
    LONG rc = RegNotifyChangeKeyValue(
        w.key.get(), TRUE, REG_NOTIFY_CHANGE_NAME | REG_NOTIFY_CHANGE_LAST_SET, w.event, TRUE);
    if (rc != ERROR_SUCCESS)
      throw Failure(std::string("cannot watch ") + w.hive->name + ": " + errorText(rc));
  };
  for (size_t i = 0; i < watched.size(); ++i) {
    Watched &w = watched[i];
    w.hive = &prefHives()[i];
    // The hive's Software key always exists, so a section made later is seen too.
    LONG rc = openKey(w.hive->root, w.hive->software, KEY_READ, w.key);
    if (rc != ERROR_SUCCESS)
      throw Failure(std::string("cannot watch ") + w.hive->name + ": " + errorText(rc));
    w.event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    if (!w.event)
      throw Failure("cannot create an event: " + errorText(static_cast<LONG>(GetLastError())));
    arm(w);
    w.seen = takeSnapshot(w.hive->product(section.value_or("")));
  }
  std::vector<HANDLE> events;
  for (const Watched &w : watched)
    events.push_back(w.event);
  long printed = 0;
  while (count <= 0 || printed < count) {
    // Asleep until a hive changes: an idle watch costs no processor time.
    const DWORD which =
        WaitForMultipleObjects(static_cast<DWORD>(events.size()), events.data(), FALSE, INFINITE);
    if (which >= WAIT_OBJECT_0 + events.size())
      throw Failure("cannot wait for changes: " + errorText(static_cast<LONG>(GetLastError())));
    Watched &w = watched[which - WAIT_OBJECT_0];
    arm(w);
    Snapshot now = takeSnapshot(w.hive->product(section.value_or("")));
    for (const Change &change : changesBetween(w.seen, now)) {
      if (json)
        printJsonLine(out, changeJson(change));
      else
        printChange(out, change);
      ++printed;
    }
    w.seen = std::move(now);
    out.flush();
    if (!out)
      return; // the caller names the output's failure
  }
  for (Watched &w : watched)
    CloseHandle(w.event);
}

} // namespace vlx::cli
