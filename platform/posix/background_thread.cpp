// Background threads that are running by the time their start returns.
#include "platform/posix/background_thread.h"

#include <condition_variable>
#include <mutex>
#include <thread>

namespace vlx {

void startBackgroundThread(std::function<void()> body) {
  std::mutex mutex;
  std::condition_variable started;
  bool running = false;
  std::thread([&, body = std::move(body)]() mutable {
    std::function<void()> run = std::move(body);
    {
      // Notified under the lock: the starter cannot return, and end these, before it is done.
      std::lock_guard<std::mutex> lock(mutex);
      running = true;
      started.notify_one();
    }
    run();
  }).detach();
  std::unique_lock<std::mutex> lock(mutex);
  started.wait(lock, [&] { return running; });
}

} // namespace vlx
