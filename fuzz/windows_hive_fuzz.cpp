// libFuzzer target: the Windows hive reader fed cut and bit-flipped hive files. Whatever the file
// holds, the reader returns operations or a Failure, and what it returns is fit to import.
#include "fuzz/patched_file.h"
#include "support/windows_hive_file.h"
#include "vlx/core/errors.h"
#include "vlx/formats/reg_text.h"
#include "vlx/hive/windows_hive.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>

using namespace vlx;
using namespace std::string_literals;

namespace {

std::string path;      // where each input is written
std::string validHive; // a hive of several levels and every value type, which most inputs patch

void makeValidHive(const std::string &dir) {
  using test::utf16le;
  const std::string file = dir + "/valid.dat";
  const std::string error = test::writeHiveFile(
      file,
      {{"Software\\Velmora",
        {{"", 1, utf16le(u"Zahnräder") + "\0\0"s},
         {"Path", 2, utf16le(u"%APPDATA%\\x") + "\0\0"s},
         {"List", 7, utf16le(u"a") + "\0\0"s + utf16le(u"b") + "\0\0\0\0"s},
         {"Count", 4, "\x2a\0\0\0"s},
         {"Big", 11, std::string(8, '\x11')},
         // Beyond one cell's reach, so the data lies in a chain of big-data cells.
         {"Huge", 3, std::string(20000, '\x5a')},
         {"Nothing", 0, ""}}},
       {"Software\\Velmora\\General", {{"Backup Copies", 4, "\x01\0\0\0"s}}},
       {"Software\\Velmora\\Größe 寸法\\Deeper\\Deepest", {{"Länge", 1, utf16le(u"5") + "\0\0"s}}},
       {"Software\\Velmora\\Startup\\Applications", {{"Gears", 1, utf16le(u"G") + "\0\0"s}}},
       {"Software\\Other", {{"Stray", 3, "\x01"s}}}});
  if (!error.empty()) {
    std::fprintf(stderr, "cannot make the seed hive: %s\n", error.c_str());
    std::abort();
  }
  std::ifstream in(file, std::ios::binary);
  validHive.assign(std::istreambuf_iterator<char>(in), {});
}

// Puts the base block's checksum right, so that patches reach past the first check.
void fixChecksum(std::string &file) {
  if (file.size() < 512)
    return;
  auto word = [&file](size_t at) {
    uint32_t v = 0;
    for (int i = 3; i >= 0; --i)
      v = v << 8 | static_cast<unsigned char>(file[at + i]);
    return v;
  };
  uint32_t sum = 0;
  for (size_t i = 0; i < 508; i += 4)
    sum ^= word(i);
  sum = sum == 0xFFFFFFFF ? 0xFFFFFFFE : sum == 0 ? 1 : sum;
  for (int i = 0; i < 4; ++i)
    file[508 + i] = static_cast<char>(sum >> (8 * i) & 0xFF);
}

void read(const std::optional<std::string> &key) {
  try {
    const cli::HiveRead read = cli::readWindowsHive(path, key, reg::Root::CurrentUser);
    for (const reg::Operation &op : read.operations) {
      // Keys have names, and text reaches the store as UTF-8.
      if (op.key.subKey.empty() || op.key.subKey.back() == '\\' ||
          op.key.subKey.find("\\\\") != std::string::npos)
        std::abort();
      if (op.kind == reg::Operation::Kind::SetValue && reg::isTextType(op.value.type) &&
          !cli::isUtf8(op.value.data))
        std::abort();
    }
  } catch (const cli::Failure &) {
  }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  const char *base = std::getenv("TMPDIR");
  std::string pattern = std::string(base && *base ? base : "/tmp") + "/vlx-windows-hive-XXXXXX";
  const std::string dir = mkdtemp(pattern.data());
  std::atexit([] { std::filesystem::remove_all(std::filesystem::path(path).parent_path()); });
  path = dir + "/input.dat";
  makeValidHive(dir);
  return 0;
}

// Inputs patch the valid hive (see patched_file.h); its checksum is put right when the first
// byte is a multiple of four, so that hivex itself gets to read the damage.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  std::string file = vlx::fuzz::patchedFile(validHive, data, size);
  if (size > 0 && data[0] % 4 == 0)
    fixChecksum(file);
  std::ofstream(path, std::ios::binary | std::ios::trunc) << file;
  read(std::nullopt);
  read("Software"s);
  return 0;
}
