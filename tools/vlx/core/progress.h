// A progress bar on standard error for long work: shown only on a terminal, and only once the
// work has lasted a second, so that scripts and quick commands see nothing.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <ostream>
#include <string>
#include <thread>

namespace vlx::cli {

// How commands decide on their bar: whether standard error is a terminal, and how long the work
// lasts before the bar shows. Tests put their own in.
struct ProgressPolicy {
  std::function<bool()> terminal;
  std::chrono::milliseconds delay = std::chrono::seconds(1);
};
ProgressPolicy &progressPolicy();

class Progress {
public:
  // `shown`: whether a bar may appear at all (standard error is a terminal); `delay`: how long
  // the work lasts before it does. `unit` names what is counted ("keys"); none: bytes, shown
  // in MB.
  Progress(std::ostream &err, uint64_t total, bool shown,
           std::chrono::milliseconds delay = std::chrono::seconds(1), const char *unit = nullptr);
  // The bar for standard error, by progressPolicy().
  explicit Progress(std::ostream &err, uint64_t total, const char *unit = nullptr);
  ~Progress(); // clears the bar
  Progress(const Progress &) = delete;
  Progress &operator=(const Progress &) = delete;

  // Whether a bar may appear: work worth counting ahead only for it is skipped otherwise.
  bool shown() const { return shown_; }
  void setTotal(uint64_t total) { total_ = total; }

  // `what` is the step ("checking", "importing"); `done` of the total.
  void update(const std::string &what, uint64_t done);

private:
  std::ostream &err_;
  uint64_t total_;
  bool shown_;
  const char *unit_;
  bool drawn_ = false;
  int lastPercent_ = -1;
  std::string lastWhat_;
  std::chrono::steady_clock::time_point showFrom_;
};

// One line on standard error while something without measurable steps is awaited (an office
// starting): shown once the wait has lasted `delay`, only when `shown`, and cleared at the end.
class WaitLine {
public:
  WaitLine(std::ostream &err, std::string text, bool shown,
           std::chrono::milliseconds delay = std::chrono::seconds(1));
  // The line for standard error, by progressPolicy().
  WaitLine(std::ostream &err, std::string text);
  ~WaitLine(); // clears the line
  WaitLine(const WaitLine &) = delete;
  WaitLine &operator=(const WaitLine &) = delete;

private:
  std::ostream &err_;
  std::mutex mutex_;
  std::condition_variable done_;
  bool finished_ = false;
  bool drawn_ = false;
  std::thread shower_;
};

} // namespace vlx::cli
