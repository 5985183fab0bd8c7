// CopyFileA and CopyFileExA: a copy beside the target renamed into place, so the target is whole
// or untouched.
#include "platform/posix/files/copy.h"
#include "platform/posix/files/caseless.h"
#include "platform/posix/files/file_errors.h"
#include "platform/posix/files/handle_access.h"
#include "platform/posix/files/path_map.h"
#include "platform/posix/files/syscalls.h"

#include <velmora/win32.h>

#include <atomic>
#include <cerrno>
#include <fcntl.h>
#include <memory>
#include <string>
#include <unistd.h>

namespace vlx::posix {
namespace {

// Large enough that the read/write fallback is not bound by call overhead.
constexpr std::size_t kBufferSize = 1 << 20;
// copy_file_range moves this much per call; the kernel may do less.
constexpr std::size_t kRangeChunk = 1 << 30;

class Descriptor {
public:
  explicit Descriptor(int fd = -1) : fd_(fd) {}
  ~Descriptor() {
    if (fd_ >= 0)
      fileSyscalls().close(fd_);
  }
  Descriptor(const Descriptor &) = delete;
  Descriptor &operator=(const Descriptor &) = delete;
  int get() const { return fd_; }
  void reset(int fd) {
    if (fd_ >= 0)
      fileSyscalls().close(fd_);
    fd_ = fd;
  }
  // Closes now, so that a late write error is seen.
  bool close() {
    int fd = fd_;
    fd_ = -1;
    return fileSyscalls().close(fd) == 0;
  }

private:
  int fd_;
};

// The temporary copy; removed unless it was renamed into place.
class TempFile {
public:
  ~TempFile() {
    if (!path_.empty())
      fileSyscalls().unlink(path_.c_str());
  }
  // Creates a new private file beside `target`. Hidden, and ending in `~` so that no listing by
  // the target's extension sees it.
  int create(const std::string &target) {
    static std::atomic<unsigned> counter{0};
    std::string directory = parentDirectory(target);
    std::string base = target.substr(target.find_last_of('/') + 1);
    // Room for the decoration within NAME_MAX.
    if (base.size() > 200)
      base.resize(200);
    for (int attempt = 0; attempt < 100; ++attempt) {
      std::string candidate = directory + "/." + base + ".vlx" + std::to_string(getpid()) + "-" +
                              std::to_string(counter++) + "~";
      int fd =
          fileSyscalls().open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
      if (fd >= 0) {
        path_ = candidate;
        return fd;
      }
      if (errno != EEXIST)
        return -1;
    }
    return -1;
  }
  const std::string &path() const { return path_; }
  void keep() { path_.clear(); }

private:
  std::string path_;
};

bool writeAll(int fd, const char *data, std::size_t size) {
  while (size > 0) {
    ssize_t written = fileSyscalls().write(fd, data, size);
    if (written < 0)
      return false;
    data += written;
    size -= static_cast<std::size_t>(written);
  }
  return true;
}

// The progress routine of CopyFileExA, told of the stream and of each chunk.
class Progress {
public:
  Progress(LPPROGRESS_ROUTINE routine, LPVOID data, LPBOOL cancel, uint64_t total)
      : routine_(routine), data_(data), cancel_(cancel), total_(total) {}
  // Chunks small enough that the routine is heard often; one large one without it.
  std::size_t chunk() const { return routine_ || cancel_ ? kBufferSize : kRangeChunk; }
  // Reports `bytes` more copied; false when the copy is to stop (ERROR_REQUEST_ABORTED).
  bool report(uint64_t bytes, DWORD reason = CALLBACK_CHUNK_FINISHED) {
    done_ += bytes;
    if (cancel_ && *cancel_)
      return false;
    if (!routine_ || quiet_)
      return true;
    LARGE_INTEGER total;
    LARGE_INTEGER done;
    total.QuadPart = static_cast<LONGLONG>(total_);
    done.QuadPart = static_cast<LONGLONG>(done_);
    // No Win32 handles stand for the descriptors: the routine gets none.
    switch (routine_(total, done, total, done, 1, reason, nullptr, nullptr, data_)) {
    case PROGRESS_CONTINUE:
      return true;
    case PROGRESS_QUIET:
      quiet_ = true;
      return true;
    case PROGRESS_STOP:
      stopped_ = true;
      return false;
    default: // PROGRESS_CANCEL
      cancelled_ = true;
      return false;
    }
  }
  // How the routine ended the copy: stopped (what was copied stays at the target, for a
  // restart) or cancelled (the target is deleted).
  bool stopped() const { return stopped_; }
  bool cancelled() const { return cancelled_; }

private:
  LPPROGRESS_ROUTINE routine_;
  LPVOID data_;
  LPBOOL cancel_;
  uint64_t total_;
  uint64_t done_ = 0;
  bool quiet_ = false;
  bool stopped_ = false;
  bool cancelled_ = false;
};

// Copies all data of `in` to `out`, in the kernel (reflinks where the file system has them)
// when it can. On failure errno holds the cause and `site` where it arose; a stop asked for by
// `progress` is ECANCELED.
bool copyData(int in, int out, ErrnoSite &site, Progress &progress) {
  const FileSyscalls &sys = fileSyscalls();
  bool copiedAny = false;
  for (;;) {
    ssize_t n = sys.copyFileRange(in, out, progress.chunk());
    if (n > 0) {
      copiedAny = true;
      if (!progress.report(static_cast<uint64_t>(n))) {
        errno = ECANCELED;
        return false;
      }
      continue;
    }
    if (n == 0 && copiedAny)
      return true;
    // Nothing copied (a file system that copies nothing this way, or an empty file), or no
    // kernel copy between these files: read and write from where the offsets stand.
    if (n == 0 || errno == EXDEV || errno == ENOSYS || errno == EOPNOTSUPP || errno == EINVAL)
      break;
    site = ErrnoSite::Write;
    return false;
  }
  std::unique_ptr<char[]> buffer(new char[kBufferSize]);
  for (;;) {
    ssize_t n = sys.read(in, buffer.get(), kBufferSize);
    if (n == 0)
      return true;
    if (n < 0) {
      site = ErrnoSite::Read;
      return false;
    }
    if (!writeAll(out, buffer.get(), static_cast<std::size_t>(n))) {
      site = ErrnoSite::Write;
      return false;
    }
    if (!progress.report(static_cast<uint64_t>(n))) {
      errno = ECANCELED;
      return false;
    }
  }
}

// File systems without POSIX modes or times refuse these; the copy stands without them.
bool tolerable(int err) { return err == EPERM || err == EOPNOTSUPP; }

// Puts the copy at `to`; with `noReplace` an existing `to` is kept and EEXIST returned.
int moveIntoPlace(const std::string &from, const std::string &to, bool noReplace) {
  const FileSyscalls &sys = fileSyscalls();
  if (!noReplace)
    return sys.rename(from.c_str(), to.c_str());
  if (sys.renameNoReplace(from.c_str(), to.c_str()) == 0)
    return 0;
  if (errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP)
    return -1;
  // A file system without the exclusive rename: a hard link fails on an existing name as well.
  if (sys.link(from.c_str(), to.c_str()) != 0)
    return -1;
  sys.unlink(from.c_str());
  return 0;
}

} // namespace

BOOL copyFile(LPCSTR lpExistingFileName, LPCSTR lpNewFileName, BOOL bFailIfExists,
              LPPROGRESS_ROUTINE routine, LPVOID data, LPBOOL cancel) {
  std::string from;
  std::string to;
  PathFacts fromFacts;
  PathFacts toFacts;
  if (DWORD error = mapFilePath(lpExistingFileName, from, &fromFacts))
    return fail(error, FALSE);
  if (DWORD error = mapFilePath(lpNewFileName, to, &toFacts))
    return fail(error, FALSE);

  const FileSyscalls &sys = fileSyscalls();
  // Non-blocking so that a FIFO in the source's place cannot hang the call.
  const int sourceFlags = O_RDONLY | O_NONBLOCK | O_CLOEXEC;
  Descriptor in(sys.open(from.c_str(), sourceFlags, 0));
  if (in.get() < 0 && retryCaseless(errno, from, fromFacts))
    in.reset(sys.open(from.c_str(), sourceFlags, 0));
  if (in.get() < 0)
    return fail(fileError(errno, from), FALSE);
  struct stat source;
  if (sys.fstat(in.get(), &source) != 0)
    return fail(win32Error(errno, ErrnoSite::Read), FALSE);
  // Directories and devices are not files to copy.
  if (!S_ISREG(source.st_mode))
    return fail(ERROR_ACCESS_DENIED, FALSE);

  // Copied into NUL is discarded; nothing may be renamed over the device.
  if (toFacts.device)
    return TRUE;
  struct stat target;
  // The target in another case is the one copied over (or kept).
  if (statCaseless(to, toFacts, target, StatMode::NoFollow) == 0) {
    if (bFailIfExists)
      return fail(ERROR_FILE_EXISTS, FALSE);
    if (S_ISDIR(target.st_mode))
      return fail(ERROR_ACCESS_DENIED, FALSE);
    if (target.st_dev == source.st_dev && target.st_ino == source.st_ino)
      return fail(ERROR_SHARING_VIOLATION, FALSE);
    // Read-only means no write bit for the owner; checked here because root passes any mode.
    if (!S_ISLNK(target.st_mode) && !(target.st_mode & S_IWUSR))
      return fail(ERROR_ACCESS_DENIED, FALSE);
    // Windows keeps a mapped file's data in place; the copy would not land where its views are.
    if (S_ISREG(target.st_mode) && mappedPast(target, 0))
      return fail(ERROR_USER_MAPPED_FILE, FALSE);
  }

  TempFile temp;
  Descriptor out(temp.create(to));
  if (out.get() < 0)
    return fail(win32Error(errno, ErrnoSite::Directory), FALSE);
  ErrnoSite site = ErrnoSite::Write;
  Progress progress(routine, data, cancel, static_cast<uint64_t>(source.st_size));
  bool copied = progress.report(0, CALLBACK_STREAM_SWITCH);
  if (!copied)
    errno = ECANCELED;
  else
    copied = copyData(in.get(), out.get(), site, progress);
  if (!copied && errno != ECANCELED)
    return fail(win32Error(errno, site), FALSE);
  if (!copied) {
    // As on Windows: a stopped copy leaves what it copied at the target, a cancelled one
    // deletes the target; a copy ended through the flag leaves the target as it was.
    if (progress.stopped() && out.close() && moveIntoPlace(temp.path(), to, bFailIfExists) == 0)
      temp.keep();
    else if (progress.cancelled())
      sys.unlink(to.c_str());
    return fail(ERROR_REQUEST_ABORTED, FALSE);
  }
  if (sys.fchmod(out.get(), source.st_mode & 0777) != 0 && !tolerable(errno))
    return fail(win32Error(errno, ErrnoSite::Write), FALSE);
  const struct timespec times[2] = {{0, UTIME_OMIT}, source.st_mtim};
  if (sys.futimens(out.get(), times) != 0 && !tolerable(errno))
    return fail(win32Error(errno, ErrnoSite::Write), FALSE);
  // Some file systems report a failed write only at close.
  if (!out.close())
    return fail(win32Error(errno, ErrnoSite::Write), FALSE);
  // Without a flush a power loss may still lose the new data, as with CopyFile on Windows; the
  // rename guarantees that no reader and no crashed process sees a partial target.
  if (moveIntoPlace(temp.path(), to, bFailIfExists) != 0)
    return fail(win32Error(errno, ErrnoSite::File), FALSE);
  temp.keep();
  // Windows clears the last error on a copy that succeeds.
  SetLastError(ERROR_SUCCESS);
  return TRUE;
}

} // namespace vlx::posix

using namespace vlx::posix;

BOOL WINAPI CopyFileA(LPCSTR lpExistingFileName, LPCSTR lpNewFileName, BOOL bFailIfExists) {
  return copyFile(lpExistingFileName, lpNewFileName, bFailIfExists, nullptr, nullptr, nullptr);
}

BOOL WINAPI CopyFileExA(LPCSTR lpExistingFileName, LPCSTR lpNewFileName,
                        LPPROGRESS_ROUTINE lpProgressRoutine, LPVOID lpData, LPBOOL pbCancel,
                        DWORD dwCopyFlags) {
  return copyFile(lpExistingFileName, lpNewFileName, (dwCopyFlags & COPY_FILE_FAIL_IF_EXISTS) != 0,
                  lpProgressRoutine, lpData, pbCancel);
}
