// The progress bar of long imports and exports.
#include "vlx/core/progress.h"

#include <algorithm>

#include <unistd.h>

namespace vlx::cli {

ProgressPolicy &progressPolicy() {
  static ProgressPolicy policy{[] { return ::isatty(STDERR_FILENO) == 1; }};
  return policy;
}

Progress::Progress(std::ostream &err, uint64_t total, bool shown, std::chrono::milliseconds delay,
                   const char *unit)
    : err_(err), total_(total), shown_(shown), unit_(unit),
      showFrom_(std::chrono::steady_clock::now() + delay) {}

Progress::Progress(std::ostream &err, uint64_t total, const char *unit)
    : Progress(err, total, progressPolicy().terminal && progressPolicy().terminal(),
               progressPolicy().delay, unit) {}

Progress::~Progress() {
  if (drawn_)
    err_ << "\r\x1b[K" << std::flush;
}

void Progress::update(const std::string &what, uint64_t done) {
  if (!shown_ || std::chrono::steady_clock::now() < showFrom_)
    return;
  const int percent = total_ ? static_cast<int>(std::min(done, total_) * 100 / total_) : 100;
  if (percent == lastPercent_ && what == lastWhat_)
    return;
  lastPercent_ = percent;
  lastWhat_ = what;
  constexpr int kWidth = 30;
  const int filled = percent * kWidth / 100;
  err_ << "\r" << what << " [" << std::string(static_cast<size_t>(filled), '#')
       << std::string(static_cast<size_t>(kWidth - filled), ' ') << "] " << percent << "% (";
  if (unit_)
    err_ << done << " of " << total_ << ' ' << unit_;
  else
    err_ << done / 1000000 << " of " << total_ / 1000000 << " MB";
  err_ << ")\x1b[K" << std::flush;
  drawn_ = true;
}

WaitLine::WaitLine(std::ostream &err, std::string text, bool shown, std::chrono::milliseconds delay)
    : err_(err) {
  if (!shown)
    return;
  shower_ = std::thread([this, text = std::move(text), delay] {
    std::unique_lock<std::mutex> lock(mutex_);
    if (done_.wait_for(lock, delay, [this] { return finished_; }))
      return;
    err_ << text << std::flush;
    drawn_ = true;
  });
}

WaitLine::WaitLine(std::ostream &err, std::string text)
    : WaitLine(err, std::move(text), progressPolicy().terminal && progressPolicy().terminal(),
               progressPolicy().delay) {}

WaitLine::~WaitLine() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    finished_ = true;
  }
  done_.notify_all();
  if (shower_.joinable())
    shower_.join();
  if (drawn_)
    err_ << "\r\x1b[K" << std::flush;
}

} // namespace vlx::cli
