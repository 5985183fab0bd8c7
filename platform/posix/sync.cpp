// Win32 events on a mutex and a condition variable.
#include "platform/posix/never_destroyed.h"
#include "platform/posix/sync.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

namespace vlx {
namespace {

struct Event {
  std::mutex mutex;
  std::condition_variable changed;
  bool signaled = false;
  bool manualReset = false;
};

// Waits on several events sleep here; every signal wakes them to look. Never destroyed: a thread
// may be waiting while the process exits.
NeverDestroyed<std::mutex> anyMutexStorage;
std::mutex &anyMutex = anyMutexStorage.get();
NeverDestroyed<std::condition_variable> anySignaledStorage;
std::condition_variable &anySignaled = anySignaledStorage.get();

std::mutex eventsMutex;
std::map<uintptr_t, std::shared_ptr<Event>> events;
uintptr_t lastEvent = 0;

// Handle values are odd, so they never equal a file handle (an allocation), and never reused,
// so a late SetEvent on a closed handle cannot reach a newer event.
std::shared_ptr<Event> findEvent(HANDLE handle) {
  std::lock_guard<std::mutex> lock(eventsMutex);
  auto it = events.find(reinterpret_cast<uintptr_t>(handle));
  return it == events.end() ? nullptr : it->second;
}

BOOL setSignal(HANDLE handle, bool on) {
  std::shared_ptr<Event> event = findEvent(handle);
  if (!event) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  {
    std::lock_guard<std::mutex> lock(event->mutex);
    event->signaled = on;
    if (on)
      event->changed.notify_all();
  }
  if (on) {
    // Taken after the flag is set: a waiter looking at the flags holds it until it sleeps.
    std::lock_guard<std::mutex> lock(anyMutex);
    anySignaled.notify_all();
  }
  return TRUE;
}

} // namespace

bool closeEvent(HANDLE handle) {
  std::lock_guard<std::mutex> lock(eventsMutex);
  return events.erase(reinterpret_cast<uintptr_t>(handle)) > 0;
}

} // namespace vlx

using namespace vlx;

extern "C" {

HANDLE WINAPI CreateEventA(LPSECURITY_ATTRIBUTES /*lpEventAttributes*/, BOOL bManualReset,
                           BOOL bInitialState, LPCSTR lpName) {
  if (lpName) {
    SetLastError(ERROR_NOT_SUPPORTED);
    return nullptr;
  }
  auto event = std::make_shared<Event>();
  event->manualReset = bManualReset != FALSE;
  event->signaled = bInitialState != FALSE;
  std::lock_guard<std::mutex> lock(eventsMutex);
  lastEvent += 2;
  events.emplace(lastEvent | 1, std::move(event));
  return reinterpret_cast<HANDLE>(lastEvent | 1);
}

BOOL WINAPI SetEvent(HANDLE hEvent) { return setSignal(hEvent, true); }

BOOL WINAPI ResetEvent(HANDLE hEvent) { return setSignal(hEvent, false); }

DWORD WINAPI WaitForSingleObject(HANDLE hHandle, DWORD dwMilliseconds) {
  std::shared_ptr<Event> event = findEvent(hHandle);
  if (!event) {
    SetLastError(ERROR_INVALID_HANDLE);
    return WAIT_FAILED;
  }
  std::unique_lock<std::mutex> lock(event->mutex);
  auto signaled = [&] { return event->signaled; };
  if (dwMilliseconds == INFINITE)
    event->changed.wait(lock, signaled);
  else if (!event->changed.wait_for(lock, std::chrono::milliseconds(dwMilliseconds), signaled))
    return WAIT_TIMEOUT;
  if (!event->manualReset)
    event->signaled = false;
  return WAIT_OBJECT_0;
}

DWORD WINAPI WaitForMultipleObjects(DWORD nCount, const HANDLE *lpHandles, BOOL bWaitAll,
                                    DWORD dwMilliseconds) {
  if (nCount == 0 || nCount > MAXIMUM_WAIT_OBJECTS || !lpHandles) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return WAIT_FAILED;
  }
  if (bWaitAll) {
    SetLastError(ERROR_NOT_SUPPORTED);
    return WAIT_FAILED;
  }
  std::vector<std::shared_ptr<Event>> waited;
  for (DWORD i = 0; i < nCount; ++i) {
    waited.push_back(findEvent(lpHandles[i]));
    if (!waited.back()) {
      SetLastError(ERROR_INVALID_HANDLE);
      return WAIT_FAILED;
    }
  }
  const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(dwMilliseconds);
  std::unique_lock<std::mutex> lock(anyMutex);
  for (;;) {
    for (DWORD i = 0; i < nCount; ++i) {
      std::lock_guard<std::mutex> held(waited[i]->mutex);
      if (waited[i]->signaled) {
        if (!waited[i]->manualReset)
          waited[i]->signaled = false;
        return WAIT_OBJECT_0 + i;
      }
    }
    if (dwMilliseconds == INFINITE)
      anySignaled.wait(lock);
    else if (anySignaled.wait_until(lock, until) == std::cv_status::timeout &&
             std::chrono::steady_clock::now() >= until)
      return WAIT_TIMEOUT;
  }
}

} // extern "C"
