// libFuzzer target: the ELF symbol-table reader that vets server libraries, fed damaged copies of
// a real shared library. Every input gets an answer, read within the bytes given.
#include "fuzz/patched_file.h"
#include "platform/posix/ole/elf_symbols.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <fstream>
#include <iterator>
#include <link.h>
#include <string>

namespace {

std::string validLibrary; // the math library this program runs with

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  Dl_info info{};
  double (*cosine)(double) = std::cos;
  if (dladdr(reinterpret_cast<void *>(cosine), &info) == 0 || info.dli_fname == nullptr)
    std::abort();
  std::ifstream in(info.dli_fname, std::ios::binary);
  validLibrary.assign(std::istreambuf_iterator<char>(in), {});
  return 0;
}

// Inputs patch the library (see patched_file.h); an input whose second byte is odd also drops its
// section table, so that the dynamic segment's hash tables are read instead.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  std::string file = vlx::fuzz::patchedFile(validLibrary, data, size);
  if (size > 1 && data[0] % 2 == 0 && data[1] % 2 == 1 && file.size() >= sizeof(ElfW(Ehdr))) {
    ElfW(Ehdr) header;
    std::memcpy(&header, file.data(), sizeof header);
    header.e_shoff = 0;
    header.e_shnum = 0;
    std::memcpy(file.data(), &header, sizeof header);
  }
  std::string why;
  for (const char *name : {"DllGetClassObject", "cos"})
    if (vlx::posix::elfExports(std::string_view(file), name, why) ==
            vlx::posix::ElfExport::Unreadable &&
        why.empty())
      std::abort();
  return 0;
}
