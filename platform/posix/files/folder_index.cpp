// Per-folder indexes of folded names. A folder's index is built by one listing and then follows
// the folder through inotify: every entry made, removed or renamed in it, by this process or any
// other, is queued by the kernel before the call that made it returns, and the queue is read
// before every look-up. So an index never answers from a state older than the call's start, which
// time stamps cannot promise (several changes within one tick of the file system's clock).
#include "platform/posix/files/folder_index.h"

#include "platform/posix/files/syscalls.h"
#include "platform/posix/name_fold.h"

#include <algorithm>
#include <cstddef>
#include <list>
#include <map>
#include <mutex>
#include <new>
#include <pthread.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>
#include <unordered_map>
#include <utility>

namespace vlx::posix {
namespace {

// Bounds: the folders kept, least recently searched first to go, and the names of all of them.
constexpr size_t kMaxFolders = 32;
constexpr size_t kMaxNames = 1000000;

constexpr uint32_t kEvents =
    IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_DELETE_SELF | IN_ONLYDIR;

// File systems whose other clients' changes raise no event here: their folders are listed.
bool remote(long type) {
  for (unsigned long magic :
       {0x6969UL /* NFS */, 0x517BUL /* SMB */, 0xFF534D42UL /* CIFS */, 0xFE534D42UL /* SMB2 */,
        0x65735546UL /* FUSE */, 0x00C36400UL /* Ceph */, 0x01021997UL /* 9P */,
        0x5346414FUL /* AFS */, 0x73757245UL /* Coda */, 0x01161970UL /* GFS2 */,
        0x7461636FUL /* OCFS2 */, 0x0BD00BD0UL /* Lustre */, 0x564CUL /* NCP */})
    if (static_cast<unsigned long>(type) == magic)
      return true;
  return false;
}

// A name's folded form as bytes: an ASCII unit as itself, any other as 0xFF and three bytes
// (no unit needs more). Two keys are equal exactly when the names' foldedUnits are.
std::string foldKey(std::string_view name) {
  std::string key;
  if (isAscii(name)) {
    key.resize(name.size());
    std::transform(name.begin(), name.end(), key.begin(), upperAscii);
    return key;
  }
  for (char32_t unit : foldedUnits(name)) {
    if (unit < 0x80) {
      key += static_cast<char>(unit);
      continue;
    }
    key += '\xff';
    for (int shift : {16, 8, 0})
      key += static_cast<char>((unit >> shift) & 0xff);
  }
  return key;
}

bool isDotName(std::string_view name) { return name == "." || name == ".."; }

struct Folder {
  dev_t device = 0;
  ino_t inode = 0;
  std::unordered_multimap<std::string, std::string> names; // folded key -> entry name
  std::list<int>::iterator recent;

  void add(std::string_view name) {
    std::string key = foldKey(name);
    auto [from, to] = names.equal_range(key);
    if (std::none_of(from, to, [&](const auto &entry) { return entry.second == name; }))
      names.emplace(std::move(key), std::string(name));
  }
  void remove(std::string_view name) {
    auto [from, to] = names.equal_range(foldKey(name));
    for (auto it = from; it != to; ++it)
      if (it->second == name) {
        names.erase(it);
        return;
      }
  }
};

class Indexes {
public:
  static Indexes &get() {
    static auto *indexes = new Indexes; // never destroyed: calls may come during exit
    return *indexes;
  }

  bool entry(int dirFd, std::string_view name, std::string *found) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!ready())
      return false;
    drain();
    struct stat st;
    if (fileSyscalls().fstat(dirFd, &st) != 0)
      return false;
    Folder *folder = find(st);
    if (!folder && !(folder = add(dirFd, st)))
      return false;
    recent_.splice(recent_.begin(), recent_, folder->recent);
    found->clear();
    auto [from, to] = folder->names.equal_range(foldKey(name));
    for (auto it = from; it != to; ++it)
      if (found->empty() || it->second < *found)
        *found = it->second;
    return true;
  }

private:
  Indexes() {
    pthread_atfork([] { get().mutex_.lock(); }, [] { get().mutex_.unlock(); },
                   [] {
                     // The child's thread does not own the parent's lock; the queue is shared
                     // with the parent, whose events the child must not take.
                     Indexes &i = get();
                     new (&i.mutex_) std::mutex();
                     i.forget();
                   });
  }

  // The event queue of this process, made on first use; false when the system gives none.
  bool ready() {
    if (events_ < 0 && !unavailable_) {
      events_ = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
      unavailable_ = events_ < 0;
    }
    return events_ >= 0;
  }

  void forget() {
    if (events_ >= 0)
      ::close(events_);
    events_ = -1;
    unavailable_ = false;
    folders_.clear();
    byFile_.clear();
    recent_.clear();
    names_ = 0;
  }

  Folder *find(const struct stat &st) {
    auto at = byFile_.find({st.st_dev, st.st_ino});
    return at == byFile_.end() ? nullptr : &folders_.at(at->second);
  }

  // Lists the folder into a new index. Events of changes made while it is listed wait in the
  // queue and are applied after: replaying them over the listing gives the state after them.
  Folder *add(int dirFd, const struct stat &st) {
    struct statfs fs;
    if (::fstatfs(dirFd, &fs) != 0 || remote(fs.f_type))
      return nullptr;
    const std::string self = "/proc/self/fd/" + std::to_string(dirFd);
    const int watch = inotify_add_watch(events_, self.c_str(), kEvents);
    if (watch < 0)
      return nullptr;
    Folder folder;
    folder.device = st.st_dev;
    folder.inode = st.st_ino;
    if (!list(dirFd, &folder)) {
      inotify_rm_watch(events_, watch);
      return nullptr;
    }
    while (!recent_.empty() &&
           (recent_.size() >= kMaxFolders || names_ + folder.names.size() > kMaxNames))
      drop(recent_.back(), true);
    drop(watch, false); // the watch of a folder gone under another identity
    names_ += folder.names.size();
    recent_.push_front(watch);
    folder.recent = recent_.begin();
    byFile_[{st.st_dev, st.st_ino}] = watch;
    folders_[watch] = std::move(folder);
    drain();
    auto still = folders_.find(watch);
    return still == folders_.end() ? nullptr : &still->second;
  }

  bool list(int dirFd, Folder *folder) {
    const FileSyscalls &sys = fileSyscalls();
    // A descriptor that may only be searched cannot be listed: the listing opens its own.
    const int fd = sys.openAt(dirFd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC, 0);
    if (fd < 0)
      return false;
    DIR *dir = sys.openDirFd(fd);
    if (!dir)
      return false;
    bool whole = true;
    while (const struct dirent *entry = sys.readDir(dir)) {
      if (isDotName(entry->d_name))
        continue;
      if (folder->names.size() >= kMaxNames) {
        whole = false;
        break;
      }
      folder->add(entry->d_name);
    }
    sys.closeDir(dir);
    return whole;
  }

  void drop(int watch, bool unwatch) {
    auto at = folders_.find(watch);
    if (at == folders_.end())
      return;
    if (unwatch)
      inotify_rm_watch(events_, watch);
    names_ -= at->second.names.size();
    byFile_.erase({at->second.device, at->second.inode});
    recent_.erase(at->second.recent);
    folders_.erase(at);
  }

  void drain() {
    alignas(inotify_event) char buffer[64 * 1024];
    for (;;) {
      const ssize_t n = ::read(events_, buffer, sizeof buffer);
      if (n <= 0)
        return;
      for (size_t at = 0; at + sizeof(inotify_event) <= static_cast<size_t>(n);) {
        const auto *event = reinterpret_cast<const inotify_event *>(buffer + at);
        apply(*event);
        at += sizeof(inotify_event) + event->len;
      }
    }
  }

  void apply(const inotify_event &event) {
    if (event.mask & IN_Q_OVERFLOW) {
      // Changes were lost: every folder is listed again when next searched.
      while (!recent_.empty())
        drop(recent_.back(), true);
      return;
    }
    auto at = folders_.find(event.wd);
    if (at == folders_.end())
      return;
    if (event.mask & (IN_IGNORED | IN_DELETE_SELF | IN_UNMOUNT)) {
      drop(event.wd, false);
      return;
    }
    if (event.len == 0)
      return;
    const std::string_view name(event.name);
    const size_t before = at->second.names.size();
    if (event.mask & (IN_CREATE | IN_MOVED_TO))
      at->second.add(name);
    else if (event.mask & (IN_DELETE | IN_MOVED_FROM))
      at->second.remove(name);
    names_ += at->second.names.size() - before;
  }

  std::mutex mutex_;
  int events_ = -1;
  bool unavailable_ = false;
  std::unordered_map<int, Folder> folders_; // by watch descriptor
  std::map<std::pair<dev_t, ino_t>, int> byFile_;
  std::list<int> recent_; // watch descriptors, the most recently searched first
  size_t names_ = 0;
};

} // namespace

bool indexedCaselessEntry(int dirFd, std::string_view name, std::string *found) {
  return Indexes::get().entry(dirFd, name, found);
}

} // namespace vlx::posix
