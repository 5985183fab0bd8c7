// The library's own threads (change watcher, file events, hive care), started so that a host may
// fork at any moment after the call that started one.
#pragma once

#include <functional>

namespace vlx {

// Runs `body` on a detached thread, and returns once that thread runs it: the thread's start-up,
// which allocates, is over before the caller (who holds the store's lock, which a fork takes)
// goes on. `body` must allocate only under the store's lock.
void startBackgroundThread(std::function<void()> body);

} // namespace vlx
