// The soffice process that a host process owns, and the UNO connection to it.
#pragma once

#include "office_pipe.h"

#include <com/sun/star/frame/XDesktop2.hpp>
#include <com/sun/star/lang/XComponent.hpp>
#include <com/sun/star/uno/XComponentContext.hpp>
#include <ooo/vba/excel/XApplication.hpp>

#include <chrono>
#include <stdexcept>
#include <string>
#include <sys/types.h>

namespace vlx::calc {

using rtl::OUString;

inline std::string toString(const OUString &text) {
  return rtl::OUStringToOString(text, RTL_TEXTENCODING_UTF8).getStr();
}

// What went wrong, in the terms the dispatch layer reports to the host.
enum class Fault {
  NoOffice,     // no office could be started or reached
  OfficeLost,   // the office died or went away during the call
  Disconnected, // the object's document was closed
  NotFound,     // no such item in a collection
  BadArgument,  // an argument of the wrong kind or count
  NoView,       // the member needs a window and the office has none
  NoMember,     // LibreOffice has no such member
  Failed,       // LibreOffice refused the call
};

class CalcError : public std::runtime_error {
public:
  CalcError(Fault fault, const std::string &description)
      : std::runtime_error(description), fault_(fault) {}
  Fault fault() const { return fault_; }

private:
  Fault fault_;
};

// One office per host process: started on first use with a private profile in a private
// scratch directory (or reached through VELMORA_CALC_CONNECT, a UNO connection description such
// as "pipe,name=calc"), ended by stop() or when the host exits. With VELMORA_CALC_KEEP_SECONDS
// set, the office shared by the user's processes instead (see shared_office.h): stop() then
// closes this process's documents and leaves it running.
class Office {
public:
  static Office &instance();

  // The office's component context; starts or reaches an office when none is up.
  css::uno::Reference<css::uno::XComponentContext> context();
  css::uno::Reference<css::frame::XDesktop2> desktop();
  css::uno::Reference<ooo::vba::excel::XApplication> application();
  // Whether documents get a window: false when only a headless office could be started.
  bool hasView();
  // Ends an office this process started (unsaved changes are lost) and removes its profile; from an
  // office reached through VELMORA_CALC_CONNECT it only disconnects.
  void stop();
  // Called after a UNO call failed as disposed: true when the office is gone, which is then
  // forgotten so that the next call starts a new one.
  bool checkLost();
  // Ends the wait of a call the office does not answer, from another thread: the office this
  // process started is killed, the shared one's connection closed and its keeper asked to end
  // it, the connection to an office named by VELMORA_CALC_CONNECT closed. The call then fails.
  void cut();
  // The end of the lost office's log (LibreOffice reports a crash there), or empty.
  const std::string &lastWords() const { return lastWords_; }
  // Whether this process uses the shared office.
  bool shared() const { return shared_; }
  // The soffice this process started, or -1.
  pid_t pid() const { return soffice_; }
  // The private directory of the office this process started (which the office may write), or
  // empty.
  const std::string &scratch() const { return scratch_; }
  // Removes what hosts that were killed left: their scratch directories and pipe sockets.
  static void removeStale(const std::string &base);

  Office(const Office &) = delete;
  Office &operator=(const Office &) = delete;

  // Held around what opens, saves or closes a document. In the shared office it is one process's
  // turn among all: LibreOffice does not survive such calls from several connections at once.
  class Turn {
  public:
    Turn();
    ~Turn();
    Turn(const Turn &) = delete;
    Turn &operator=(const Turn &) = delete;

  private:
    bool held_;
  };

private:
  Office() = default;
  static void atExit();
  void start();
  void connect(const std::string &description, bool owned);
  void startDisplay();
  pid_t spawnOffice(const std::string &pipeName);
  void startShared();
  // Joins the shared office through its keeper, reached before deadline; the office's first
  // answer is waited for `answer`.
  bool joinShared(const std::string &socketPath, std::chrono::steady_clock::time_point deadline,
                  std::chrono::milliseconds answer);
  void leaveShared();
  void forget();
  void disposeBridges();
  void endChildren();

  css::uno::Reference<css::uno::XComponentContext> local_;
  css::uno::Reference<css::uno::XComponentContext> remote_;
  css::uno::Reference<css::frame::XDesktop2> desktop_;
  css::uno::Reference<ooo::vba::excel::XApplication> application_;
  pid_t owner_ = -1; // the process that started the children; a forked child owns nothing
  pid_t soffice_ = -1;
  pid_t xvfb_ = -1;
  std::string display_;
  std::string scratch_;
  OfficePipe pipe_;
  int ownerLock_ = -1; // held while this process owns scratch_
  bool view_ = true;
  bool shared_ = false;
  int control_ = -1;     // open while this process uses the shared office
  int connection_ = -1;  // the shared office's UNO connection
  std::string turnPath_; // the shared office's lock of turns
  std::string lastWords_;
  css::uno::Reference<css::lang::XComponent> bridge_; // to the shared office
};

} // namespace vlx::calc
