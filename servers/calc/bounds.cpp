// The bounds on this process's waits: see bounds.h.
#include "bounds.h"

#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <list>
#include <mutex>
#include <thread>
#include <unistd.h>

namespace vlx::calc {

namespace {

using Clock = std::chrono::steady_clock;

std::chrono::milliseconds secondsFrom(const char *name, double fallback) {
  double seconds = fallback;
  if (const char *value = std::getenv(name); value && *value) {
    char *end = nullptr;
    double given = std::strtod(value, &end);
    if (*end == '\0' && given >= 0 && given <= 86400)
      seconds = given;
  }
  return std::chrono::milliseconds(static_cast<long long>(seconds * 1000));
}

} // namespace

struct AnswerWatch::Entry {
  Clock::time_point deadline, since;
  std::function<void()> cut;
  Entry *outer = nullptr;
  bool inner = false; // an inner watch lives: this one's time stands still
  bool expired = false;
};

namespace {

// One thread watches every armed wait of the process; made again in a forked child.
struct Watcher {
  std::mutex mutex;
  std::condition_variable changed;
  std::list<std::shared_ptr<AnswerWatch::Entry>> armed;

  void run() {
    std::unique_lock<std::mutex> lock(mutex);
    for (;;) {
      auto next = Clock::time_point::max();
      for (const auto &entry : armed)
        if (!entry->expired && !entry->inner && entry->deadline < next)
          next = entry->deadline;
      if (next == Clock::time_point::max())
        changed.wait(lock);
      else
        changed.wait_until(lock, next);
      for (const auto &entry : armed)
        if (!entry->expired && !entry->inner && Clock::now() >= entry->deadline) {
          entry->expired = true;
          entry->cut(); // under the lock: the watched wait cannot end and free what it cuts
        }
    }
  }
};

Watcher &watcher() {
  static Watcher *current = nullptr;
  static pid_t owner = -1;
  static std::mutex making;
  std::lock_guard<std::mutex> guard(making);
  if (owner != ::getpid()) {
    // Never destroyed: its thread lives as long as the process.
    current = new Watcher;
    owner = ::getpid();
    std::thread([w = current] { w->run(); }).detach();
  }
  return *current;
}

thread_local AnswerWatch::Entry *innermost = nullptr;

} // namespace

std::chrono::milliseconds turnWait() { return secondsFrom("VELMORA_CALC_WAIT_SECONDS", 60); }

std::chrono::milliseconds startWait() { return secondsFrom("VELMORA_CALC_START_SECONDS", 90); }

std::chrono::milliseconds answerWait() { return secondsFrom("VELMORA_CALC_CALL_SECONDS", 120); }

std::string secondsText(std::chrono::milliseconds bound) {
  char text[32];
  std::snprintf(text, sizeof text, "%g s", static_cast<double>(bound.count()) / 1000);
  return text;
}

AnswerWatch::AnswerWatch(std::chrono::milliseconds bound, std::function<void()> cut)
    : bound_(bound), entry_(std::make_shared<Entry>()) {
  entry_->since = Clock::now();
  entry_->deadline = entry_->since + bound;
  entry_->cut = std::move(cut);
  entry_->outer = innermost;
  Watcher &w = watcher();
  {
    std::lock_guard<std::mutex> guard(w.mutex);
    if (entry_->outer)
      entry_->outer->inner = true;
    w.armed.push_back(entry_);
  }
  w.changed.notify_one();
  innermost = entry_.get();
}

bool AnswerWatch::finish() {
  if (!entry_)
    return expired_;
  Watcher &w = watcher();
  {
    std::lock_guard<std::mutex> guard(w.mutex);
    w.armed.remove(entry_);
    expired_ = entry_->expired;
    if (Entry *outer = entry_->outer) {
      outer->inner = false;
      outer->deadline += Clock::now() - entry_->since;
    }
  }
  w.changed.notify_one();
  innermost = entry_->outer;
  entry_.reset();
  return expired_;
}

} // namespace vlx::calc
