// Stamping a date code into a copy of the built library, and what a process loading it reads.
#include "support/expect_text.h"
#include "support/files.h"
#include "support/temp_env.h"

#include <gtest/gtest.h>

#include <dlfcn.h>
#include <filesystem>
#include <sys/wait.h>
#include <unistd.h>

using namespace vlx::test;

namespace {

const char tag[] = "$?153#548834?$";

std::string copyOfLibrary(const TempDir &dir) {
  std::string copy = dir.file("libvelmora_util_copy.so");
  std::filesystem::copy_file(VLX_LIBRARY_FILE, copy);
  return copy;
}

RunResult stamp(const std::string &library, const std::string &code) {
  return runCommand({VLX_BINARY, "datecode", "stamp", library, code});
}

// True when a child that loads `library` afresh reads these short and full codes.
bool loadedCopyReads(const std::string &library, unsigned tagged, unsigned full) {
  pid_t pid = fork();
  if (pid == 0) {
    void *handle = dlopen(library.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle)
      _exit(10);
    auto taggedCode = reinterpret_cast<unsigned (*)()>(dlsym(handle, "_Z20su_getTaggedDateCodev"));
    auto fullCode = reinterpret_cast<unsigned (*)()>(dlsym(handle, "_Z18su_getFullDateCodev"));
    if (!taggedCode || !fullCode)
      _exit(11);
    _exit(taggedCode() == tagged && fullCode() == full ? 0 : 1);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// The library reads the digits as a 32-bit long, which saturates as Windows' atol does; the
// stamper warns about a code that reads back otherwise.
TEST(DateCodeStamp, LoadedCopyReadsTheStampedCode) {
  TempDir dir;
  std::string library = copyOfLibrary(dir);
  auto mode = std::filesystem::status(library).permissions();
  const struct {
    const char *code;
    unsigned tagged, full;
    bool warned;
  } cases[] = {
      {"01032", 1032, 2001032, false},
      {"2147483647", 2147483647, 2147483647, false},
      {"000002147483648", 2147483647, 2147483647, true},
      {"4294967296", 2147483647, 2147483647, true},
      {"123456789012345678901234567890", 2147483647, 2147483647, true},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.code);
    RunResult result = stamp(library, c.code);
    ASSERT_EQ(result.status, 0) << result.output;
    EXPECT_EQ(result.output.find("warning: date code " + std::string(c.code) +
                                 " does not fit in 32 bits; the library reads it as 2147483647") !=
                  std::string::npos,
              c.warned)
        << result.output;
    EXPECT_TRUE(loadedCopyReads(library, c.tagged, c.full));
  }
  EXPECT_EQ(std::filesystem::status(library).permissions(), mode);
  EXPECT_HAS(readFile(library),
             std::string(tag) + "123456789012345678901234567890" + std::string(15, ' ') + '\0');
}

TEST(DateCodeStamp, RefusalsChangeNothing) {
  TempDir dir;
  std::string library = copyOfLibrary(dir);
  const std::string original = readFile(library);
  for (const char *code : {"", "12a", "-5", "1234567890123456789012345678901234567890123456"}) {
    SCOPED_TRACE(code);
    RunResult result = stamp(library, code);
    EXPECT_NE(result.status, 0);
    EXPECT_HAS(result.output, "vlx: ");
  }
  EXPECT_EQ(readFile(library), original);

  std::string twice = dir.file("twice.so");
  writeFile(twice, original + tag + "97257" + std::string(40, ' ') + '\0');
  EXPECT_NE(stamp(twice, "1").status, 0);
}

} // namespace
