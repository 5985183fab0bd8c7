// Detection of network and cluster file systems by statfs magic numbers and, for FUSE, by the
// mount's type in /proc/self/mountinfo.
#include "platform/posix/registry/network_mode.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <iterator>
#include <sstream>
#include <sys/sysmacros.h>

namespace vlx {
namespace {

struct Magic {
  unsigned long value;
  const char *name;
};

// Every type here keeps no memory mapping coherent between hosts, or is shared by several.
constexpr Magic kNetworkMagics[] = {
    {0x6969, "nfs"},       {0xFF534D42, "cifs"},  {0x517B, "smb"},        {0xFE534D42, "smb2"},
    {0x5346414F, "afs"},   {0x6B414653, "afs"},   {0x0BD00BD0, "lustre"}, {0x47504653, "gpfs"},
    {0x00C36400, "ceph"},  {0x01021997, "9p"},    {0x73757245, "coda"},   {0x564C, "ncp"},
    {0x01161970, "gfs2"},  {0x7461636F, "ocfs2"}, {0x19830326, "beegfs"}, {0x013111A8, "ibrix"},
    {0xAAD7AAEA, "panfs"},
};
constexpr unsigned long kFuseMagic = 0x65735546;

// FUSE types that keep their files on this host; any other FUSE mount counts as network.
constexpr const char *kLocalFuse[] = {
    "fuseblk",    "fuse.ntfs-3g",    "fuse.exfat",     "fuse.fuse-overlayfs", "fuse.portal",
    "fuse.lxcfs", "fuse.squashfuse", "fuse.gocryptfs", "fuse.encfs"};

const NetworkFsCalls kSystem = {
    [](const char *path, struct statfs *out) { return ::statfs(path, out); },
    [](const char *path, struct stat *out) { return ::stat(path, out); },
    [](std::string *out) {
      std::ifstream in("/proc/self/mountinfo");
      out->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
      return !in.bad() && !out->empty();
    },
};

// The type of the mount whose device is `device`: mountinfo's third field is its major:minor,
// and the type follows the " - " separator.
std::string mountType(dev_t device) {
  std::string text;
  if (!networkFsCalls().mountInfo(&text))
    return "";
  const std::string id = std::to_string(major(device)) + ":" + std::to_string(minor(device));
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) {
    std::istringstream fields(line);
    std::string mountId, parentId, majorMinor;
    fields >> mountId >> parentId >> majorMinor;
    size_t dash = line.find(" - ");
    if (majorMinor != id || dash == std::string::npos)
      continue;
    std::istringstream rest(line.substr(dash + 3));
    std::string type;
    rest >> type;
    return type;
  }
  return "";
}

} // namespace

NetworkFsCalls &networkFsCalls() {
  static NetworkFsCalls calls = kSystem;
  return calls;
}

const NetworkFsCalls &systemNetworkFsCalls() { return kSystem; }

std::string networkFileSystem(const std::string &dir, std::string *local) {
  // A hive not created yet: its folder may be missing too; the nearest one there decides.
  std::string at = dir.empty() ? "." : dir;
  struct statfs fs {};
  while (networkFsCalls().statfs(at.c_str(), &fs) != 0) {
    size_t slash = at.find_last_of('/');
    if ((errno != ENOENT && errno != ENOTDIR) || at == "/" || at == ".")
      return "";
    at = slash == std::string::npos ? "." : slash == 0 ? "/" : at.substr(0, slash);
  }
  const auto type = static_cast<unsigned long>(fs.f_type) & 0xFFFFFFFFul;
  for (const Magic &m : kNetworkMagics)
    if (type == m.value)
      return m.name;
  if (type != kFuseMagic) {
    if (local) {
      char hex[16];
      std::snprintf(hex, sizeof hex, "0x%lx", type);
      *local = hex;
    }
    return "";
  }
  struct stat st {};
  std::string fuse = networkFsCalls().stat(at.c_str(), &st) == 0 ? mountType(st.st_dev) : "";
  if (fuse.empty())
    return "fuse (type unknown)";
  for (const char *known : kLocalFuse)
    if (fuse == known) {
      if (local)
        *local = fuse;
      return "";
    }
  return fuse;
}

StoreMode storeModeFor(const std::string &hiveFile) {
  const char *setting = std::getenv("VELMORA_REGISTRY_NETWORK");
  std::string value = setting ? setting : "";
  if (value == "on")
    return {true, "network, as VELMORA_REGISTRY_NETWORK=on sets"};
  if (value == "off")
    return {false, "local, as VELMORA_REGISTRY_NETWORK=off sets"};
  std::string note = value.empty() || value == "auto"
                         ? ""
                         : " (VELMORA_REGISTRY_NETWORK=" + value + " is not auto, on or off)";
  size_t slash = hiveFile.find_last_of('/');
  std::string dir = slash == std::string::npos ? "." : slash == 0 ? "/" : hiveFile.substr(0, slash);
  std::string local;
  std::string type = networkFileSystem(dir, &local);
  if (!type.empty())
    return {true, "network: the folder is on " + type + note};
  return {false, "local: the folder is on a local file system" +
                     (local.empty() ? std::string() : " (" + local + ")") + note};
}

int64_t coarseMilliseconds() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC_COARSE, &now);
  return static_cast<int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

} // namespace vlx
