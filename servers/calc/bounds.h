// How long this process waits for the office and for the other processes that share it, and
// the watch that ends a wait on an office that does not answer.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <string>

namespace vlx::calc {

// VELMORA_CALC_WAIT_SECONDS: how long a process waits for another one's turn in the shared
// office (default 60; `vlx sheet` passes its --wait).
std::chrono::milliseconds turnWait();
// VELMORA_CALC_CALL_SECONDS: how long the office may take to answer one call (default 120).
std::chrono::milliseconds answerWait();
// VELMORA_CALC_START_SECONDS: how long an office may take to start and answer its first call;
// also the bound on waiting for another process that starts the shared one (default 90).
std::chrono::milliseconds startWait();

// "90 s", "2.5 s": a bound as messages give it.
std::string secondsText(std::chrono::milliseconds bound);

// Watches one wait for the office's answer: when `bound` passes first, `cut` runs once, from a
// thread of the watch's own, to end the wait (it closes the connection or ends the office, so
// that the call fails). Watches nest in a thread: while an inner one lives (a wait with a bound
// of its own, such as another process's turn), the outer one's time stands still.
class AnswerWatch {
public:
  AnswerWatch(std::chrono::milliseconds bound, std::function<void()> cut);
  ~AnswerWatch() { finish(); }
  AnswerWatch(const AnswerWatch &) = delete;
  AnswerWatch &operator=(const AnswerWatch &) = delete;

  // Ends the watch (after a cut that ran, never during one): whether the bound passed and the
  // wait was cut.
  bool finish();
  std::chrono::milliseconds bound() const { return bound_; }

  struct Entry;

private:
  std::chrono::milliseconds bound_;
  std::shared_ptr<Entry> entry_;
  bool expired_ = false;
};

} // namespace vlx::calc
