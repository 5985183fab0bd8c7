// Stamping a date code into a copy of the built library, and what a process loading it reads.
#include "support/temp_env.h"

#include <gtest/gtest.h>

#include <cstring>
#include <dlfcn.h>
#include <filesystem>
#include <fstream>
#include <link.h>
#include <sstream>
#include <sys/wait.h>
#include <unistd.h>

using namespace vlx::test;

namespace {

const char tag[] = "$?153#548834?$";

std::string readAll(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

void writeAll(const std::string &path, const std::string &text) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

std::string copyOfLibrary(const TempDir &dir) {
  std::string copy = dir.file("libvelmora_util_copy.so");
  std::filesystem::copy_file(VLX_LIBRARY_FILE, copy);
  return copy;
}

RunResult stamp(const std::string &library, const std::string &code) {
  return runCommand({VLX_BINARY, "datecode", "stamp", library, code});
}

// Scans raw memory, redzones between globals included, so the sanitizer must not look.
#if defined(__clang__) || defined(__GNUC__)
__attribute__((no_sanitize("address")))
#endif
char *findTag(char *start, size_t size) {
  const size_t length = std::strlen(tag);
  for (size_t i = 0; i + length <= size; ++i) {
    size_t j = 0;
    while (j < length && start[i + j] == tag[j])
      ++j;
    if (j == length)
      return start + i;
  }
  return nullptr;
}

// The slot of a loaded copy, found by its tag in the copy's writable segment.
char *loadedSlot(const char *library) {
  struct Search {
    const char *library;
    char *slot;
  } search{library, nullptr};
  dl_iterate_phdr(
      [](dl_phdr_info *info, size_t, void *data) {
        auto *s = static_cast<Search *>(data);
        if (std::strcmp(info->dlpi_name, s->library) != 0)
          return 0;
        for (int i = 0; i < info->dlpi_phnum; ++i) {
          const auto &ph = info->dlpi_phdr[i];
          if (ph.p_type != PT_LOAD || !(ph.p_flags & PF_W))
            continue;
          auto *start = reinterpret_cast<char *>(info->dlpi_addr + ph.p_vaddr);
          if (char *hit = findTag(start, ph.p_memsz))
            s->slot = hit;
        }
        return 1;
      },
      &search);
  return search.slot;
}

// Runs `check` in a child that loads `library` afresh; true when the child exits 0.
template <typename Check> bool inLoadingChild(const std::string &library, Check check) {
  pid_t pid = fork();
  if (pid == 0) {
    void *handle = dlopen(library.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle)
      _exit(10);
    auto tagged = reinterpret_cast<unsigned (*)()>(dlsym(handle, "_Z20su_getTaggedDateCodev"));
    auto full = reinterpret_cast<unsigned (*)()>(dlsym(handle, "_Z18su_getFullDateCodev"));
    if (!tagged || !full)
      _exit(11);
    _exit(check(tagged, full, [&] { return loadedSlot(library.c_str()); }) ? 0 : 1);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

TEST(DateCodeStamp, LoadedCopyReadsTheStampedCode) {
  TempDir dir;
  std::string library = copyOfLibrary(dir);
  auto mode = std::filesystem::status(library).permissions();
  RunResult result = stamp(library, "01032");
  ASSERT_EQ(result.status, 0) << result.output;
  EXPECT_EQ(std::filesystem::status(library).permissions(), mode);
  EXPECT_NE(readAll(library).find(std::string(tag) + "01032" + std::string(40, ' ') + '\0'),
            std::string::npos);
  EXPECT_TRUE(inLoadingChild(library, [](auto tagged, auto full, auto) {
    return tagged() == 1032 && full() == 2001032;
  }));
}

TEST(DateCodeStamp, SlotWithoutDigitsReadsZeroAndIsReadAgain) {
  TempDir dir;
  std::string library = copyOfLibrary(dir);
  std::string image = readAll(library);
  size_t at = image.find(tag);
  ASSERT_NE(at, std::string::npos);
  image.replace(at + std::strlen(tag), 45, std::string(45, ' '));
  writeAll(library, image);
  EXPECT_TRUE(inLoadingChild(library, [](auto tagged, auto full, auto findSlot) {
    char *slot = findSlot();
    if (!slot || tagged() != 0 || full() != 0)
      return false;
    std::memcpy(slot + std::strlen(tag), "98001", 5);
    return tagged() == 98001 && full() == 1998001;
  }));
}

TEST(DateCodeStamp, RefusalsChangeNothing) {
  TempDir dir;
  std::string library = copyOfLibrary(dir);
  const std::string original = readAll(library);
  for (const char *code : {"", "12a", "-5", "1234567890123456789012345678901234567890123456"}) {
    SCOPED_TRACE(code);
    RunResult result = stamp(library, code);
    EXPECT_NE(result.status, 0);
    EXPECT_NE(result.output.find("vlx: "), std::string::npos);
  }
  EXPECT_EQ(readAll(library), original);

  std::string twice = dir.file("twice.so");
  writeAll(twice, original + tag + "97257" + std::string(40, ' ') + '\0');
  EXPECT_NE(stamp(twice, "1").status, 0);
  std::string none = dir.file("none.so");
  writeAll(none, "no tag here");
  EXPECT_NE(stamp(none, "1").status, 0);
  EXPECT_EQ(readAll(none), "no tag here");
  EXPECT_NE(stamp(dir.file("missing.so"), "1").status, 0);
}

} // namespace
