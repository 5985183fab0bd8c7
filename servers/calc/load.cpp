// Documents opened with an interaction handler that never shows a dialog, and saved so that a
// killed save changes nothing; an OFD write lock on each workbook file this process writes.
#include "load.h"
#include "calculation.h"
#include "file_cells.h"
#include "package_check.h"
#include "quiet_handler.h"
#include "save_target.h"
#include "uno_names.h"

#include <com/sun/star/awt/XWindow.hpp>
#include <com/sun/star/beans/PropertyValue.hpp>
#include <com/sun/star/beans/PropertyVetoException.hpp>
#include <com/sun/star/frame/XComponentLoader.hpp>
#include <com/sun/star/frame/XController.hpp>
#include <com/sun/star/frame/XFrame.hpp>
#include <com/sun/star/frame/XStorable.hpp>
#include <com/sun/star/io/IOException.hpp>
#include <com/sun/star/io/SequenceInputStream.hpp>
#include <com/sun/star/lang/DisposedException.hpp>
#include <com/sun/star/lang/IllegalArgumentException.hpp>
#include <com/sun/star/lang/XServiceInfo.hpp>
#include <com/sun/star/sheet/XCalculatable.hpp>
#include <com/sun/star/util/CloseVetoException.hpp>
#include <com/sun/star/util/XCloseable.hpp>
#include <com/sun/star/util/XModifiable.hpp>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace vlx::calc {

namespace {

std::string absolutePath(const OUString &path) {
  std::string text = toString(path);
  if (text.empty() || text.find('\0') != std::string::npos)
    throw CalcError(Fault::BadArgument, "a file name is required");
  if (text.front() == '/')
    return text;
  std::vector<char> cwd(4096);
  while (!::getcwd(cwd.data(), cwd.size())) {
    if (errno != ERANGE)
      throw CalcError(Fault::Failed,
                      std::string("cannot tell the working directory: ") + std::strerror(errno));
    cwd.resize(cwd.size() * 2);
  }
  std::string dir = cwd.data();
  return dir + (dir.back() == '/' ? "" : "/") + text;
}

OUString urlOf(const std::string &absolute) {
  static const char hex[] = "0123456789ABCDEF";
  std::string url = "file://";
  for (unsigned char c : absolute) {
    if (std::isalnum(c) || c == '/' || c == '-' || c == '.' || c == '_' || c == '~') {
      url += static_cast<char>(c);
    } else {
      url += '%';
      url += hex[c >> 4];
      url += hex[c & 15];
    }
  }
  return OUString::createFromAscii(url.c_str());
}

std::string inQuotes(const std::string &path) { return "'" + path + "'"; }

// Whether this process may write the file: as root too, a file without write permission is
// read-only, as it is for its owner.
bool writable(const std::string &path, const struct stat &st) {
  return (st.st_mode & 0222) != 0 && ::access(path.c_str(), W_OK) == 0;
}

std::string savingName(const std::string &path) {
  size_t slash = path.rfind('/');
  return path.substr(0, slash + 1) + ".~" + path.substr(slash + 1) + ".saving";
}

bool lockFd(int fd) {
  struct flock lock {};
  lock.l_type = F_WRLCK;
  lock.l_whence = SEEK_SET;
  return ::fcntl(fd, F_OFD_SETLK, &lock) == 0;
}

// The write lock on a workbook file, or -1 when another process holds it. The file may be
// replaced by its writer's save while this one waits: the lock counts only on the file the
// name still names.
int acquireLock(const std::string &path) {
  for (int attempt = 0; attempt < 8; ++attempt) {
    int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0)
      return -1;
    struct stat held, named;
    if (!lockFd(fd)) {
      ::close(fd);
      return -1;
    }
    if (::fstat(fd, &held) == 0 && ::stat(path.c_str(), &named) == 0 &&
        held.st_dev == named.st_dev && held.st_ino == named.st_ino) {
      // A save killed between its two renames left its file: nobody else writes it now.
      ::unlink(savingName(path).c_str());
      return fd;
    }
    ::close(fd);
  }
  return -1;
}

struct Opened {
  std::string path; // empty: a new workbook that has no file yet
  int lock = -1;
  bool readOnly = false;
  std::string damage;                  // what is damaged in the file, which then opens read-only
  unsigned long serial = nextSerial(); // the order of opening
  static unsigned long nextSerial() {
    static std::atomic<unsigned long> next{0};
    return ++next;
  }
  ~Opened() {
    if (lock >= 0)
      ::close(lock);
  }
};

std::mutex &openedMutex() {
  static std::mutex mutex;
  return mutex;
}

std::map<Reference<css::uno::XInterface>, std::shared_ptr<Opened>> &opened() {
  static auto *documents = new std::map<Reference<css::uno::XInterface>, std::shared_ptr<Opened>>;
  return *documents;
}

Reference<css::uno::XInterface> identity(const Reference<css::uno::XInterface> &document) {
  return Reference<css::uno::XInterface>(document, UNO_QUERY);
}

std::shared_ptr<Opened> find(const Reference<css::uno::XInterface> &document) {
  std::lock_guard<std::mutex> guard(openedMutex());
  auto found = opened().find(identity(document));
  return found == opened().end() ? nullptr : found->second;
}

void add(std::vector<css::beans::PropertyValue> &props, const char *name, const Any &value) {
  props.emplace_back(OUString::createFromAscii(name), 0, value,
                     css::beans::PropertyState_DIRECT_VALUE);
}

css::uno::Sequence<css::beans::PropertyValue>
sequence(const std::vector<css::beans::PropertyValue> &props) {
  return css::uno::Sequence<css::beans::PropertyValue>(props.data(),
                                                       static_cast<sal_Int32>(props.size()));
}

// Properties of every load: no dialog, no macro, no link update.
std::vector<css::beans::PropertyValue> loadProperties(const Reference<QuietHandler> &handler) {
  std::vector<css::beans::PropertyValue> props;
  // Shown only once its calculation is held (a window computes the formulas it shows), and only
  // when the office has a display (a visible document aborts a headless soffice).
  add(props, "Hidden", Any(true));
  add(props, "MacroExecutionMode", Any(sal_Int16(0))); // NEVER_EXECUTE
  add(props, "UpdateDocMode", Any(sal_Int16(0)));      // NO_UPDATE
  add(props, "InteractionHandler", Any(Reference<css::task::XInteractionHandler>(handler.get())));
  return props;
}

// The text import options for .csv and .txt: field separators, quote, UTF-8, from line 1.
std::optional<OUString> textOptions(const std::string &path, const OpenRequest &request) {
  std::string lower;
  for (char c : path.substr(path.size() > 4 ? path.size() - 4 : 0))
    lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (lower != ".csv" && lower != ".txt")
    return std::nullopt;
  std::string separator = lower == ".csv" ? "44" : "9";
  switch (request.format) {
  case 1:
    separator = "9";
    break;
  case 2:
    separator = "44";
    break;
  case 3:
    separator = "32";
    break;
  case 4:
    separator = "59";
    break;
  case 5:
    separator = "";
    break;
  case 6:
    if (request.delimiter.isEmpty())
      throw CalcError(Fault::BadArgument, "Format 6 needs a Delimiter");
    separator = std::to_string(request.delimiter[0]);
    break;
  default:
    break;
  }
  return OUString::createFromAscii((separator + ",34,76,1").c_str());
}

Reference<css::frame::XModel> load(const OUString &url,
                                   std::vector<css::beans::PropertyValue> props,
                                   const Reference<QuietHandler> &handler,
                                   const std::string &name) {
  Reference<css::frame::XComponentLoader> loader(Office::instance().desktop(), UNO_QUERY);
  Office::Turn turn; // once the office is reached: only then is it known to be shared
  Reference<css::lang::XComponent> doc;
  std::string refusal;
  try {
    doc = loader->loadComponentFromURL(url, "_blank", 0, sequence(props));
  } catch (const css::lang::IllegalArgumentException &e) {
    refusal = toString(e.Message);
  } catch (const css::io::IOException &e) {
    refusal = toString(e.Message);
  }
  Reference<css::frame::XModel> model(doc, UNO_QUERY);
  Reference<css::lang::XServiceInfo> info(doc, UNO_QUERY);
  if (model.is() && info.is() && info->supportsService("com.sun.star.sheet.SpreadsheetDocument")) {
    if (!url.startsWith("private:"))
      holdCalculation(model);
    // The new workbook is the active one, as on Windows, before the call returns: the office
    // would make it so later, from its own event loop.
    if (Office::instance().hasView())
      if (auto controller = model->getCurrentController(); controller.is())
        if (auto frame = controller->getFrame(); frame.is()) {
          frame->getContainerWindow()->setVisible(true);
          frame->activate();
        }
    return model;
  }
  if (Reference<css::util::XCloseable> closeable{doc, UNO_QUERY}; closeable.is())
    closeable->close(true);
  std::string cause = handler->cause();
  if (cause.empty())
    cause = doc.is() ? "is not a workbook" : "could not be opened";
  if (cause.rfind("is damaged;", 0) != 0 && !refusal.empty() && refusal.find(" at ./") != 0)
    cause += " (" + refusal.substr(0, refusal.find(" at ./")) + ")";
  throw CalcError(Fault::Failed, inQuotes(name) + " " + cause);
}

// The filter and its options a document was loaded or last saved with.
std::vector<css::beans::PropertyValue> storeProperties(const Reference<css::frame::XModel> &model) {
  std::vector<css::beans::PropertyValue> props;
  for (const auto &arg : model->getArgs())
    if (arg.Name == "FilterName" || arg.Name == "FilterOptions")
      props.push_back(arg);
  return props;
}

void fail(const std::string &what) {
  throw CalcError(Fault::Failed, what + ": " + std::strerror(errno));
}

// Puts the file `from` in the place of the locked `target` in one rename; the new file is
// locked before it has a name, so no other writer can take it in between.
int install(const std::string &from, const std::string &given, int oldLock) {
  // Through a link, the workbook it names is replaced and the link kept.
  const std::string target = saveTarget(given);
  size_t slash = target.rfind('/');
  std::string dir = target.substr(0, slash == 0 ? 1 : slash);
  std::string saving = savingName(target);
  struct stat old;
  if (::fstat(oldLock, &old) != 0)
    fail("cannot save " + inQuotes(target));
  int in = ::open(from.c_str(), O_RDONLY | O_CLOEXEC);
  if (in < 0)
    fail("cannot read the saved copy of " + inQuotes(target));
  // Nameless until complete: a save killed before the rename leaves nothing.
  int out = ::open(dir.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
  bool named = out < 0;
  if (named)
    out = ::open(saving.c_str(), O_CREAT | O_EXCL | O_RDWR | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (out < 0) {
    ::close(in);
    fail("cannot save " + inQuotes(target));
  }
  bool ok = true;
  char buffer[65536];
  for (ssize_t got; ok && (got = ::read(in, buffer, sizeof buffer)) != 0;) {
    if (got < 0) {
      ok = errno == EINTR;
      continue;
    }
    for (ssize_t done = 0; ok && done < got;) {
      ssize_t put = ::write(out, buffer + done, got - done);
      ok = put > 0 || (put < 0 && errno == EINTR);
      done += put > 0 ? put : 0;
    }
  }
  ::close(in);
  if (ok && ::geteuid() == 0)
    (void)!::fchown(out, old.st_uid, old.st_gid);
  ok = ok && ::fchmod(out, old.st_mode & 07777) == 0 && ::fsync(out) == 0 && lockFd(out);
  if (ok && !named) {
    std::string proc = "/proc/self/fd/" + std::to_string(out);
    ::unlink(saving.c_str());
    ok = ::linkat(AT_FDCWD, proc.c_str(), AT_FDCWD, saving.c_str(), AT_SYMLINK_FOLLOW) == 0;
    named = ok;
  }
  ok = ok && ::rename(saving.c_str(), target.c_str()) == 0;
  if (!ok) {
    int error = errno;
    if (named)
      ::unlink(saving.c_str());
    ::close(out);
    errno = error;
    fail("cannot save " + inQuotes(target));
  }
  if (int dirFd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); dirFd >= 0) {
    ::fsync(dirFd);
    ::close(dirFd);
  }
  return out;
}

// Formulas computed since the load (after a change) are computed now, and those the file kept in
// General cells take General again, so that a copy writes them so.
void settleFormats(const Reference<css::uno::XInterface> &document) {
  if (calculationHeld(document))
    return;
  if (Reference<css::sheet::XCalculatable> calculation{document, UNO_QUERY}; calculation.is())
    calculation->calculate();
  restoreGeneral(document, nullptr);
}

} // namespace

OUString fileUrl(const OUString &path) { return urlOf(absolutePath(path)); }

Reference<css::frame::XModel> newDocument() {
  Reference<QuietHandler> handler(new QuietHandler(false, false));
  auto model = load("private:factory/scalc", loadProperties(handler), handler, "a new workbook");
  std::lock_guard<std::mutex> guard(openedMutex());
  opened()[identity(model)] = std::make_shared<Opened>();
  return model;
}

// The first `size` bytes of the file, as a stream the office loads from.
Reference<css::io::XInputStream> zipStream(const std::string &path, uint64_t size) {
  if (size > uint64_t(SAL_MAX_INT32))
    throw CalcError(Fault::Failed, inQuotes(path) + " is too large to read without its damage");
  std::ifstream in(path, std::ios::binary);
  css::uno::Sequence<sal_Int8> bytes(static_cast<sal_Int32>(size));
  if (!in.read(reinterpret_cast<char *>(bytes.getArray()), std::streamsize(size)))
    throw CalcError(Fault::Failed, inQuotes(path) + " could not be read again");
  return Reference<css::io::XInputStream>(
      css::io::SequenceInputStream::createStreamFromSequence(Office::instance().context(), bytes),
      UNO_QUERY_THROW);
}

Reference<css::frame::XModel> openDocument(const OpenRequest &request) {
  std::string path = absolutePath(request.path);
  struct stat st;
  if (::stat(path.c_str(), &st) != 0)
    throw CalcError(Fault::Failed, inQuotes(path) + " could not be found: " + std::strerror(errno));
  if (!S_ISREG(st.st_mode))
    throw CalcError(Fault::Failed, inQuotes(path) + " is not a file");
  auto options = textOptions(path, request);
  // The office would open an empty file as a new workbook.
  if (st.st_size == 0 && !options)
    throw CalcError(Fault::Failed, inQuotes(path) + " is empty: not a workbook");
  auto entry = std::make_shared<Opened>();
  entry->path = path;
  entry->readOnly = request.readOnly || !writable(path, st);
  if (!entry->readOnly) {
    // Another process of this library writes it: this one only reads, as a second opener does
    // on Windows.
    entry->lock = acquireLock(path);
    entry->readOnly = entry->lock < 0;
  }

  Reference<css::frame::XModel> model;
  uint64_t extra = 0; // bytes after the zip, left out of a second load
  for (int attempt = 1;; ++attempt) {
    Reference<QuietHandler> handler(new QuietHandler(
        request.corruptLoad == 1 || request.corruptLoad == 2, request.password.has_value(), path));
    auto props = loadProperties(handler);
    add(props, "ReadOnly", Any(entry->readOnly));
    add(props, "DocumentService", Any(OUString("com.sun.star.sheet.SpreadsheetDocument")));
    if (request.password)
      add(props, "Password", Any(*request.password));
    if (options) {
      add(props, "FilterName", Any(OUString("Text - txt - csv (StarCalc)")));
      add(props, "FilterOptions", Any(*options));
    }
    if (extra)
      add(props, "InputStream", Any(zipStream(path, uint64_t(st.st_size) - extra)));
    try {
      model = load(urlOf(path), props, handler, path);
      if (extra)
        std::fprintf(stderr, "%s: warning: %s has %llu bytes after the end of its zip, ignored\n",
                     program_invocation_short_name, inQuotes(path).c_str(),
                     static_cast<unsigned long long>(extra));
      break;
    } catch (const CalcError &) {
      if (!extra && handler->extraBytes()) {
        extra = handler->extraBytes();
        continue;
      }
      // An office shared with other processes fails one of two loads of a file at the same
      // moment with a general input/output error; the file itself may be fine.
      if (!Office::instance().shared() || !handler->generalError() || attempt == 5)
        throw;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50 * attempt + std::rand() % 50));
  }
  // A sheet the office passed over in silence: read-only, as the office opens a repaired file.
  if (!options) {
    auto check = checkPackage(Office::instance().context(), urlOf(path), path);
    entry->damage = check.damage;
    keepFileCells(model, check.cells);
  }
  if (!entry->damage.empty()) {
    entry->readOnly = true;
    if (entry->lock >= 0)
      ::close(entry->lock);
    entry->lock = -1;
  }
  std::lock_guard<std::mutex> guard(openedMutex());
  opened()[identity(model)] = entry;
  return model;
}

std::string damageOf(const Reference<css::uno::XInterface> &document) {
  auto entry = find(document);
  return entry ? entry->damage : std::string();
}

bool isReadOnly(const Reference<css::uno::XInterface> &document) {
  auto entry = find(document);
  if (entry && entry->readOnly)
    return true;
  Reference<css::frame::XStorable> storable(document, UNO_QUERY);
  return storable.is() && storable->isReadonly();
}

void saveDocument(const Reference<css::uno::XInterface> &document) {
  Office::Turn turn;
  Reference<css::frame::XStorable> storable(document, UNO_QUERY);
  Reference<css::frame::XModel> model(document, UNO_QUERY);
  if (!storable.is() || !model.is())
    throw CalcError(Fault::NoMember, "the workbook's document is unknown");
  auto entry = find(document);
  if (!storable->hasLocation() || (entry && entry->path.empty()))
    throw CalcError(Fault::Failed, "the workbook has no file yet: use SaveAs");
  if (isReadOnly(document))
    throw CalcError(Fault::Failed,
                    inQuotes(entry ? entry->path : toString(model->getURL())) +
                        (entry && !entry->damage.empty()
                             ? " is read-only: it is damaged (" + entry->damage + ")"
                             : std::string(" is read-only (the file is, or another process "
                                           "writes it)")) +
                        ": save it under another name with SaveAs");
  settleFormats(document);
  std::string scratch = Office::instance().scratch();
  if (!entry || entry->lock < 0 || scratch.empty()) {
    // An office this process did not start cannot write into its private directory.
    storable->store();
    return;
  }
  static std::atomic<unsigned> count{0};
  std::string copy = scratch + "/save-" + std::to_string(++count);
  auto props = storeProperties(model);
  storable->storeToURL(urlOf(copy), sequence(props));
  try {
    int lock = install(copy, entry->path, entry->lock);
    ::close(entry->lock);
    entry->lock = lock;
  } catch (...) {
    ::unlink(copy.c_str());
    throw;
  }
  ::unlink(copy.c_str());
  if (Reference<css::util::XModifiable> modifiable{document, UNO_QUERY}; modifiable.is())
    modifiable->setModified(false);
}

void saveDocumentAs(const Reference<css::uno::XInterface> &document, const OUString &name,
                    const OUString &filter) {
  Office::Turn turn;
  Reference<css::frame::XStorable> storable(document, UNO_QUERY);
  if (!storable.is())
    throw CalcError(Fault::NoMember, "the workbook's document is unknown");
  std::string path = absolutePath(name);
  auto entry = find(document);
  bool same = entry && entry->path == path;
  if (same && isReadOnly(document))
    throw CalcError(Fault::Failed, inQuotes(path) + " is read-only: save it under another name");
  int lock = -1;
  struct stat st;
  if (!same && ::stat(path.c_str(), &st) == 0) {
    if (!S_ISREG(st.st_mode) || !writable(path, st))
      throw CalcError(Fault::Failed, inQuotes(path) + " is read-only or not a file");
    lock = acquireLock(path);
    if (lock < 0)
      throw CalcError(Fault::Failed, inQuotes(path) + " is open for writing in another process");
  }
  settleFormats(document);
  std::vector<css::beans::PropertyValue> props;
  add(props, "FilterName", Any(filter));
  add(props, "Overwrite", Any(true));
  try {
    storable->storeAsURL(urlOf(path), sequence(props));
  } catch (...) {
    if (lock >= 0)
      ::close(lock);
    throw;
  }
  // The office wrote a new file in the old one's place: the lock goes to it.
  if (lock >= 0)
    ::close(lock);
  auto now = std::make_shared<Opened>();
  now->path = path;
  now->lock = acquireLock(path);
  std::lock_guard<std::mutex> guard(openedMutex());
  opened()[identity(document)] = now;
}

void releaseDocument(const Reference<css::uno::XInterface> &document) {
  std::lock_guard<std::mutex> guard(openedMutex());
  opened().erase(identity(document));
}

void releaseAllDocuments() {
  std::lock_guard<std::mutex> guard(openedMutex());
  opened().clear();
}

std::vector<Reference<css::uno::XInterface>> ownDocuments() {
  std::vector<std::pair<unsigned long, Reference<css::uno::XInterface>>> found;
  {
    std::lock_guard<std::mutex> guard(openedMutex());
    for (const auto &[document, entry] : opened())
      found.emplace_back(entry->serial, document);
  }
  std::sort(found.begin(), found.end(),
            [](const auto &a, const auto &b) { return a.first < b.first; });
  std::vector<Reference<css::uno::XInterface>> out;
  for (const auto &item : found) {
    try {
      // A document closed by other means refuses as disposed.
      Reference<css::frame::XModel>(item.second, css::uno::UNO_QUERY_THROW)->getURL();
      out.push_back(item.second);
    } catch (const css::uno::RuntimeException &) {
    }
  }
  return out;
}

void closeDocument(const Reference<css::uno::XInterface> &document) {
  Office::Turn turn;
  try {
    if (Reference<css::util::XModifiable> modifiable{document, UNO_QUERY}; modifiable.is()) {
      try {
        modifiable->setModified(false); // so that nothing asks whether to save it
      } catch (const css::beans::PropertyVetoException &) {
        // Closing with ownership given away drops the changes all the same.
      }
    }
    Reference<css::util::XCloseable>(document, css::uno::UNO_QUERY_THROW)->close(true);
  } catch (const css::lang::DisposedException &) {
    // Closed already, or the office is gone: the caller's next call finds that.
  } catch (const css::util::CloseVetoException &) {
    // Busy: with ownership given away, it closes itself when done.
  }
  forgetGeneral(document);
  releaseDocument(document);
}

void closeOwnDocuments() {
  Office::Turn turn;
  for (const auto &document : ownDocuments()) {
    try {
      closeDocument(document);
    } catch (const css::uno::Exception &) {
      // Gone: it goes with the office.
    }
  }
}

} // namespace vlx::calc
