// vlx's replacing write, in process: the order of its file calls that makes the new file last.
#include "support/files.h"
#include "support/temp_env.h"

#include <vlx/core/file_io.h>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <map>
#include <string>
#include <vector>

namespace vlx::cli {
namespace {

// The file calls of a replacing write, as the table sees them.
std::vector<std::string> calls;
std::map<int, std::string> opened;

TEST(FileWrite, WritesSyncsRenamesThenSyncsTheFolder) {
  test::TempDir dir;
  test::SyscallGuard guard;
  auto &sys = posix::fileSyscalls();
  calls.clear();
  sys.open = [](const char *path, int flags, mode_t mode) {
    const int fd = posix::systemFileSyscalls().open(path, flags, mode);
    opened[fd] = flags & O_DIRECTORY ? "folder" : "file";
    return fd;
  };
  sys.write = [](int fd, const void *data, size_t size) {
    calls.push_back("write " + opened[fd]);
    return posix::systemFileSyscalls().write(fd, data, size);
  };
  sys.fsync = [](int fd) {
    calls.push_back("fsync " + opened[fd]);
    return posix::systemFileSyscalls().fsync(fd);
  };
  sys.rename = [](const char *from, const char *to) {
    calls.push_back("rename");
    return posix::systemFileSyscalls().rename(from, to);
  };
  writeFileAtomically(dir.file("out.reg"), "text");
  EXPECT_EQ(calls,
            (std::vector<std::string>{"write file", "fsync file", "rename", "fsync folder"}));
  EXPECT_EQ(test::readFile(dir.file("out.reg")), "text");
}

} // namespace
} // namespace vlx::cli
