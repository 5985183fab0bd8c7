// A progress bar on standard error for long work: shown only on a terminal, and only once the
// work has lasted a second, so that scripts and quick commands see nothing.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <ostream>
#include <string>
#include <thread>

namespace vlx::cli {

class Progress {
public:
  // `shown`: whether a bar may appear at all (standard error is a terminal); `delay`: how long
  // the work lasts before it does.
  Progress(std::ostream &err, uint64_t total, bool shown,
           std::chrono::milliseconds delay = std::chrono::seconds(1));
  // The bar for standard error when it is a terminal.
  Progress(std::ostream &err, uint64_t total);
  ~Progress(); // clears the bar
  Progress(const Progress &) = delete;
  Progress &operator=(const Progress &) = delete;

  // `what` is the step ("checking", "importing"); `done` of the total.
  void update(const std::string &what, uint64_t done);

private:
  std::ostream &err_;
  uint64_t total_;
  bool shown_;
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
  // The line for standard error when it is a terminal.
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
