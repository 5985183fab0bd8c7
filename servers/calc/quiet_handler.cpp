// What LibreOffice asks while it loads a document, and the answer given without a dialog.
#include "quiet_handler.h"

#include "office.h"
#include "zip_tail.h"

#include <com/sun/star/document/BrokenPackageRequest.hpp>
#include <com/sun/star/document/FilterOptionsRequest.hpp>
#include <com/sun/star/document/NoSuchFilterRequest.hpp>
#include <com/sun/star/task/ErrorCodeRequest.hpp>
#include <com/sun/star/task/PasswordRequest.hpp>
#include <com/sun/star/task/XInteractionAbort.hpp>
#include <com/sun/star/task/XInteractionApprove.hpp>
#include <com/sun/star/task/XInteractionDisapprove.hpp>
#include <com/sun/star/ucb/InteractiveIOException.hpp>

#include <cstdio>

namespace vlx::calc {

namespace {

// LibreOffice's error codes with this bit are notices, not failures.
const sal_Int32 kWarning = static_cast<sal_Int32>(0x80000000u);
const sal_Int32 kGeneralIoError = 0x20D; // the input/output area's general error

} // namespace

void SAL_CALL QuietHandler::handle(const Reference<css::task::XInteractionRequest> &request) {
  Any what = request->getRequest();
  bool approve = false;
  std::string cause;
  css::task::PasswordRequest password;
  css::ucb::InteractiveIOException io;
  css::task::ErrorCodeRequest code;
  if (what.isExtractableTo(cppu::UnoType<css::document::BrokenPackageRequest>::get())) {
    // Bytes after the end of a whole zip are no damage: the file is read again without them.
    if (!path_.empty())
      extra_ = bytesAfterZip(path_);
    approve = repair_;
    cause = repair_ ? "is damaged beyond what LibreOffice repairs"
                    : "is damaged; open it with CorruptLoad 1 (xlRepairFile) to repair it";
  } else if (what >>= password) {
    cause = passwordGiven_ || password.Mode == css::task::PasswordRequestMode_PASSWORD_REENTER
                ? "is protected by a password, and the password given is wrong"
                : "is protected by a password: give it as Password";
  } else if (what.isExtractableTo(cppu::UnoType<css::document::FilterOptionsRequest>::get())) {
    cause = "is not a workbook (LibreOffice reads it as text)";
  } else if (what.isExtractableTo(cppu::UnoType<css::document::NoSuchFilterRequest>::get())) {
    cause = "is not a workbook: LibreOffice knows no format for it";
  } else if (what >>= io) {
    cause = "cannot be read (input/output error " + std::to_string(static_cast<int>(io.Code)) + ")";
  } else if ((what >>= code) && (code.ErrCode & kWarning)) {
    // A notice, such as that the file was repaired: loading goes on.
    approve = true;
  } else if (what >>= code) {
    general_ = general_ || code.ErrCode == kGeneralIoError;
    char text[16];
    std::snprintf(text, sizeof text, "0x%X", static_cast<unsigned>(code.ErrCode));
    cause = std::string("could not be read: LibreOffice error ") + text +
            " (a damaged file, or not a workbook)";
  } else {
    cause = "needs an answer LibreOffice asked for (" + toString(what.getValueTypeName()) + ")";
  }
  if (!cause.empty()) {
    std::lock_guard<std::mutex> guard(mutex_);
    if (cause_.empty())
      cause_ = cause;
  }
  Reference<css::task::XInteractionContinuation> chosen;
  for (const auto &option : request->getContinuations()) {
    bool fits = approve ? Reference<css::task::XInteractionApprove>(option, UNO_QUERY).is()
                        : Reference<css::task::XInteractionAbort>(option, UNO_QUERY).is() ||
                              Reference<css::task::XInteractionDisapprove>(option, UNO_QUERY).is();
    if (fits && !chosen.is())
      chosen = option;
  }
  if (chosen.is())
    chosen->select();
}

} // namespace vlx::calc
