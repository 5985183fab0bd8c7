// Windows hive files read with libhivex: the base block checked first, then the chosen key walked
// depth-first into import operations.
#include "vlx/hive/windows_hive.h"

#include "vlx/core/errors.h"
#include "vlx/formats/reg_text.h"

#include "platform/posix/registry/key_names.h"

#include <hivex.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <set>

namespace vlx::cli {
namespace {

static_assert(sizeof(hive_type) == sizeof(uint32_t), "a value's type is read as its 32 bits");

struct FreeDeleter {
  void operator()(void *p) const { std::free(p); }
};
template <class T> using Allocated = std::unique_ptr<T, FreeDeleter>;

struct HiveCloser {
  void operator()(hive_h *h) const { hivex_close(h); }
};

uint32_t le32(const unsigned char *p) {
  return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}

// hivex reports a structure it cannot follow with these; anything else is the system's error.
std::string why(int err) {
  const std::string text = std::strerror(err);
  if (err == ENOTSUP || err == EINVAL || err == EFAULT || err == ERANGE || err == EILSEQ ||
      err == HIVEX_NO_KEY)
    return "the file is damaged (" + text + ")";
  return text;
}

class Descriptor {
public:
  explicit Descriptor(int fd) : fd_(fd) {}
  ~Descriptor() {
    if (fd_ >= 0)
      close(fd_);
  }
  Descriptor(const Descriptor &) = delete;
  Descriptor &operator=(const Descriptor &) = delete;
  int get() const { return fd_; }

private:
  int fd_;
};

// The file, opened once: the header is checked and hivex reads through this descriptor, so that
// nothing swapped in under the name meanwhile (a FIFO, another file) is read instead.
int openHive(const std::string &file, struct stat &st) {
  // Non-blocking, so that a FIFO given by mistake is refused rather than waited on.
  const int fd = open(file.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0 || fstat(fd, &st) != 0) {
    const int err = errno;
    if (fd >= 0)
      close(fd);
    throw Failure("cannot read " + file + ": " + std::strerror(err));
  }
  if (!S_ISREG(st.st_mode)) {
    close(fd);
    throw Failure("cannot read " + file + ": not a regular file");
  }
  return fd;
}

// The base block, checked before hivex reads the file: hivex takes a file cut at a bin boundary for
// a smaller hive, and names neither a file that is no hive nor a damaged header. Returns whether
// the file was closed cleanly (its two sequence numbers agree).
bool checkBaseBlock(int fd, const struct stat &st, const std::string &file) {
  unsigned char block[512];
  const ssize_t got = pread(fd, block, sizeof block, 0);
  if (got < 0)
    throw Failure("cannot read " + file + ": " + std::strerror(errno));
  if (static_cast<size_t>(got) < sizeof block || std::memcmp(block, "regf", 4) != 0)
    throw Failure(file + " is not a Windows registry hive file");
  // Windows' rule: the XOR of the first 127 words, with 0 and ~0 moved off the values they mean.
  uint32_t sum = 0;
  for (size_t i = 0; i < 508; i += 4)
    sum ^= le32(block + i);
  sum = sum == 0xFFFFFFFF ? 0xFFFFFFFE : sum == 0 ? 1 : sum;
  if (sum != le32(block + 508))
    throw Failure(file + ": the file is damaged (its header's checksum is wrong)");
  const uint64_t length = 4096 + uint64_t{le32(block + 0x28)};
  if (static_cast<uint64_t>(st.st_size) < length)
    throw Failure(file + ": the file is cut short (" + std::to_string(st.st_size) + " of the " +
                  std::to_string(length) + " bytes its header counts)");
  return le32(block + 4) == le32(block + 8);
}

// hivex opens by name: the name of the open file in /proc, or where there is no /proc, a private
// copy of it (removed once hivex has read it into memory).
std::string nameForHivex(int fd, const struct stat &st, const std::string &file, bool &copied) {
  copied = false;
  const std::string proc = "/proc/self/fd/" + std::to_string(fd);
  struct stat seen;
  if (stat(proc.c_str(), &seen) == 0 && seen.st_dev == st.st_dev && seen.st_ino == st.st_ino)
    return proc;
  const char *tmp = std::getenv("TMPDIR");
  std::string name = std::string(tmp && *tmp ? tmp : "/tmp") + "/vlx-hive-XXXXXX";
  Descriptor copy(mkstemp(name.data()));
  if (copy.get() < 0)
    throw Failure("cannot copy " + file + " to read it: " + std::strerror(errno));
  copied = true;
  char buffer[65536];
  for (off_t at = 0;;) {
    const ssize_t got = pread(fd, buffer, sizeof buffer, at);
    if (got == 0)
      break;
    if (got < 0 || write(copy.get(), buffer, static_cast<size_t>(got)) != got) {
      const int err = errno;
      unlink(name.c_str());
      throw Failure("cannot copy " + file + " to read it: " + std::strerror(err));
    }
    at += got;
  }
  return name;
}

// What hivex reads at most of one value.
constexpr size_t kHivexMaxValueBytes = 8000000;

std::string withSeparators(uint64_t n) {
  std::string digits = std::to_string(n);
  for (size_t at = digits.size(); at > 3; at -= 3)
    digits.insert(at - 3, ",");
  return digits;
}

// Turns a hive's keys into operations below one destination.
class Walker {
public:
  Walker(hive_h *hive, const std::string &file, reg::Root root,
         std::vector<reg::Operation> &operations)
      : hive_(hive), file_(file), root_(root), operations_(operations) {}

  hive_node_h root() {
    errno = 0;
    const hive_node_h node = hivex_root(hive_);
    if (node == 0)
      throw Failure(file_ + ": cannot read the root key: " + why(errno));
    return node;
  }

  // The key at `path` below the hive's root, with the path spelled as the file spells it; 0 when
  // there is none.
  hive_node_h find(const std::vector<std::string_view> &path, std::string &spelled) {
    hive_node_h node = root();
    spelled.clear();
    for (std::string_view part : path) {
      const std::string parent = spelled.empty() ? std::string("the root") : spelled;
      bool found = false;
      for (const auto &[childNode, childName, cut] : children(node, parent))
        if ((found = !cut && foldName(childName) == foldName(part))) {
          node = childNode;
          spelled += (spelled.empty() ? "" : "\\") + childName;
          break;
        }
      if (!found)
        return 0;
    }
    return node;
  }

  // `node` and everything below it, landing at `dest`; `source` names it in messages.
  void walk(hive_node_h node, const std::string &source, const std::string &dest, size_t depth) {
    if (!seen_.insert(node).second)
      throw Failure(file_ + ": the file is damaged (key " + source + " appears twice in the tree)");
    if (depth > kMaxKeyDepth)
      throw Failure(file_ + ": key " + source + " is nested deeper than 512 levels");
    operations_.push_back({reg::Operation::Kind::CreateKey, {root_, dest}, {}, 0});

    errno = 0;
    Allocated<hive_value_h> values(hivex_node_values(hive_, node));
    if (!values)
      throw Failure(file_ + ": cannot read the values of " + source + ": " + why(errno));
    for (const hive_value_h *v = values.get(); *v; ++v)
      operations_.push_back({reg::Operation::Kind::SetValue, {root_, dest}, value(*v, source), 0});

    std::string unwritable;
    for (const auto &[childNode, name, cut] : children(node, source)) {
      if (cut)
        throw Failure(file_ + ": key " + below(source, name) +
                      "...: its name goes on past a zero byte, which no registry name can hold");
      if (name.empty() || name.find('\\') != std::string::npos)
        throw Failure(file_ + ": the file is damaged (a key below " + source + " is named '" +
                      name + "')");
      // The store holds nothing that its own export could not write.
      if (!reg::writable(name, unwritable))
        throw Failure(file_ + ": key " + below(source, name) + ": " + unwritable);
      walk(childNode, source + "\\" + name, dest + "\\" + name, depth + 1);
    }
  }

private:
  static std::string below(const std::string &source, const std::string &name) {
    return source.empty() ? name : source + "\\" + name;
  }

  struct Child {
    hive_node_h node;
    std::string name;
    bool cut; // the name went on past a zero byte
  };

  std::vector<Child> children(hive_node_h node, const std::string &source) {
    errno = 0;
    Allocated<hive_node_h> nodes(hivex_node_children(hive_, node));
    if (!nodes)
      throw Failure(file_ + ": cannot read the subkeys of " + source + ": " + why(errno));
    std::vector<Child> out;
    for (const hive_node_h *n = nodes.get(); *n; ++n) {
      errno = 0;
      Allocated<char> name(hivex_node_name(hive_, *n));
      if (!name)
        throw Failure(file_ + ": cannot read a subkey name of " + source + ": " + why(errno));
      // hivex gives names as C text: one that goes on past a zero byte comes cut, and two keys
      // cut alike would be merged.
      const bool cut = hivex_node_name_len(hive_, *n) > std::strlen(name.get());
      out.push_back({*n, name.get(), cut});
    }
    return out;
  }

  reg::Value value(hive_value_h handle, const std::string &source) {
    errno = 0;
    Allocated<char> name(hivex_value_key(hive_, handle));
    if (!name)
      throw Failure(file_ + ": cannot read a value name of " + source + ": " + why(errno));
    std::string unwritable;
    if (hivex_value_key_len(hive_, handle) > std::strlen(name.get()))
      throw Failure(file_ + ": value '" + name.get() + "...' of " + source +
                    ": its name goes on past a zero byte, which no registry name can hold");
    if (!reg::writable(name.get(), unwritable))
      throw Failure(file_ + ": value of " + source + ": " + unwritable);
    uint32_t type = 0;
    size_t length = 0;
    if (hivex_value_type(hive_, handle, reinterpret_cast<hive_type *>(&type), &length) == 0 &&
        length > kHivexMaxValueBytes)
      throw Failure(file_ + ": value '" + name.get() + "' of " + source + " holds " +
                    withSeparators(length) + " bytes, more than the " +
                    withSeparators(kHivexMaxValueBytes) + " that libhivex reads");
    length = 0;
    errno = 0;
    Allocated<char> data(
        hivex_value_value(hive_, handle, reinterpret_cast<hive_type *>(&type), &length));
    if (!data && (length != 0 || errno != 0))
      throw Failure(file_ + ": cannot read value '" + name.get() + "' of " + source + ": " +
                    why(errno));
    reg::Value v{name.get(), type, data ? std::string(data.get(), length) : std::string()};
    // The store keeps text narrow, as the narrow calls read it.
    if (reg::isTextType(type) && !readHexText(reg::Format::Version5, v.data))
      throw Failure(file_ + ": value '" + v.name + "' of " + source +
                    " is not UTF-16 text (an odd byte count or a lone surrogate)");
    return v;
  }

  hive_h *hive_;
  const std::string &file_;
  reg::Root root_;
  std::vector<reg::Operation> &operations_;
  std::set<hive_node_h> seen_;
};

} // namespace

void (*hiveChecked)(const std::string &file) = nullptr;

HiveRead readWindowsHive(const std::string &file, const std::optional<std::string> &key,
                         reg::Root root) {
  std::vector<std::string_view> keyParts;
  if (key && (splitKeyPath(key->c_str(), &keyParts) != ERROR_SUCCESS || keyParts.empty()))
    throw Failure("bad key '" + *key + "': expected a path such as Software\\Velmora", 2);

  HiveRead read;
  struct stat st {};
  const Descriptor fd(openHive(file, st));
  read.dirty = !checkBaseBlock(fd.get(), st, file);
  if (hiveChecked)
    hiveChecked(file);
  bool copied = false;
  const std::string name = nameForHivex(fd.get(), st, file, copied);
  // Read into memory rather than mapped: a file cut short meanwhile cannot fault the reads.
  errno = 0;
  std::unique_ptr<hive_h, HiveCloser> hive(hivex_open(name.c_str(), HIVEX_OPEN_WRITE));
  const int openError = errno;
  if (copied)
    unlink(name.c_str());
  if (!hive)
    throw Failure(file + ": cannot read the hive: " + why(openError));

  Walker walker(hive.get(), file, root, read.operations);
  // A user's hive holds Software; a SOFTWARE hive is the machine's Software key itself.
  std::string spelled;
  const bool userHive = walker.find({"Software"}, spelled) != 0;
  hive_node_h start = 0;
  std::string dest;
  if (key) {
    start = walker.find(keyParts, read.key);
    if (start == 0)
      throw Failure(file + ": the hive has no key " + *key);
    dest = (userHive ? "" : "Software\\") + read.key;
  } else {
    const std::vector<std::vector<std::string_view>> productKeys =
        userHive
            ? std::vector<std::vector<std::string_view>>{{"Software", "Velmora"}}
            : std::vector<std::vector<std::string_view>>{{"Velmora"}, {"WOW6432Node", "Velmora"}};
    for (const auto &path : productKeys)
      if ((start = walker.find(path, read.key)) != 0)
        break;
    if (start == 0)
      throw Failure(file +
                    (userHive ? ": the hive has no key Software\\Velmora"
                              : ": the hive has no key Velmora or WOW6432Node\\Velmora") +
                    " (name the key to import with --key)");
    dest = "Software\\Velmora";
  }
  read.destination = {root, dest};
  std::vector<std::string_view> destParts;
  splitKeyPath(dest.c_str(), &destParts);
  walker.walk(start, read.key, dest, destParts.size());
  return read;
}

} // namespace vlx::cli
