// RegNotifyChangeKeyValue: a key looked at again and again until what is watched changes.
#include "platform/posix/registry/key_names.h"
#include "platform/posix/registry/reg_shared.h"

#include <chrono>
#include <thread>

namespace vlx {
namespace {

// Other processes' commits leave no trace in this one, so the key is read again at this pace.
constexpr auto kPollInterval = std::chrono::milliseconds(50);

struct Watch {
  HKEY key;
  bool subtree;
  DWORD filter;
};

// What the watch looks at, as one string: subkey names, values, and the same below when asked.
LONG stateOf(HKEY key, const Watch &w, std::string *out) {
  LONG error = ERROR_SUCCESS;
  if (w.filter & REG_NOTIFY_CHANGE_LAST_SET) {
    std::string name, data;
    DWORD type = 0;
    for (DWORD i = 0; (error = readValueAt(key, i, &name, &type, &data)) == ERROR_SUCCESS; ++i) {
      out->append(name).append(1, '\0').append(std::to_string(type)).append(1, '\0');
      out->append(std::to_string(data.size())).append(1, '\0').append(data);
    }
    if (error != ERROR_NO_MORE_ITEMS)
      return error;
  }
  out->append("\n");
  char child[kMaxKeyNameChars * 4 + 1];
  for (DWORD i = 0;; ++i) {
    DWORD length = sizeof child;
    error = RegEnumKeyExA(key, i, child, &length, nullptr, nullptr, nullptr, nullptr);
    if (error == ERROR_NO_MORE_ITEMS)
      return ERROR_SUCCESS;
    if (error != ERROR_SUCCESS)
      return error;
    if (w.filter & REG_NOTIFY_CHANGE_NAME)
      out->append(child, length).append(1, '\0');
    if (w.subtree) {
      SubKey sub(key, child, KEY_READ);
      // A subkey deleted between listing and opening is a change the next look sees.
      if (sub.status() == ERROR_SUCCESS && (error = stateOf(sub.get(), w, out)) != ERROR_SUCCESS)
        return error;
    }
  }
}

// Returns once the watched state differs from `before` or the key is gone or closed.
void waitForChange(const Watch &w, const std::string &before) {
  for (;;) {
    std::this_thread::sleep_for(kPollInterval);
    std::string now;
    if (stateOf(w.key, w, &now) != ERROR_SUCCESS || now != before)
      return;
  }
}

} // namespace
} // namespace vlx

using namespace vlx;

extern "C" {

VLX_WIN32_API LSTATUS WINAPI RegNotifyChangeKeyValue(HKEY hKey, BOOL bWatchSubtree,
                                                     DWORD dwNotifyFilter, HANDLE hEvent,
                                                     BOOL fAsynchronous) {
  const DWORD known = REG_NOTIFY_CHANGE_NAME | REG_NOTIFY_CHANGE_ATTRIBUTES |
                      REG_NOTIFY_CHANGE_LAST_SET | REG_NOTIFY_CHANGE_SECURITY;
  if ((dwNotifyFilter & ~(known | REG_NOTIFY_THREAD_AGNOSTIC)) || (fAsynchronous && !hEvent))
    return ERROR_INVALID_PARAMETER;
  REGSAM access = 0;
  LONG error = keyAccess(hKey, &access);
  if (error != ERROR_SUCCESS)
    return error;
  if (!(access & KEY_NOTIFY))
    return ERROR_ACCESS_DENIED;
  const Watch watch{hKey, bWatchSubtree != FALSE, dwNotifyFilter};
  std::string before;
  if ((error = stateOf(hKey, watch, &before)) != ERROR_SUCCESS)
    return error;
  if (!fAsynchronous) {
    waitForChange(watch, before);
    return ERROR_SUCCESS;
  }
  std::thread([watch, hEvent, before = std::move(before)] {
    waitForChange(watch, before);
    SetEvent(hEvent); // the event may have been closed meanwhile: nothing to tell then
  }).detach();
  return ERROR_SUCCESS;
}

} // extern "C"
