// The interaction handler of every load: LibreOffice's questions answered without a dialog, and
// the first one declined kept as the cause of a failed load.
#pragma once

#include "uno_names.h"

#include <com/sun/star/task/XInteractionHandler.hpp>
#include <cppuhelper/implbase1.hxx>

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <utility>

namespace vlx::calc {

// What LibreOffice asked while it loaded a document, answered without a dialog: a damaged file
// is repaired only when the host asked for it; every other question is declined.
class QuietHandler : public cppu::WeakImplHelper1<css::task::XInteractionHandler> {
public:
  QuietHandler(bool repair, bool passwordGiven, std::string path = {})
      : repair_(repair), passwordGiven_(passwordGiven), path_(std::move(path)) {}

  void SAL_CALL handle(const Reference<css::task::XInteractionRequest> &request) override;

  // Whether loading failed with LibreOffice's general input/output error.
  bool generalError() const { return general_; }

  // The bytes after the end of the file's zip, when LibreOffice called it damaged.
  uint64_t extraBytes() const { return extra_; }

  // The first question that was declined, or empty.
  std::string cause() {
    std::lock_guard<std::mutex> guard(mutex_);
    return cause_;
  }

private:
  bool repair_;
  bool passwordGiven_;
  std::string path_;
  std::atomic<uint64_t> extra_{0};
  std::atomic<bool> general_{false};
  std::mutex mutex_;
  std::string cause_;
};

} // namespace vlx::calc
