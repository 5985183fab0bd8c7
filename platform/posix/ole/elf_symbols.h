// Whether a shared library exports a function, read from its file without loading it: loading
// runs the library's constructors, which a library that is no server must not get to do.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace vlx::posix {

enum class ElfExport {
  Found,     // defined and visible to dlsym
  Absent,    // the dynamic symbol table has no such definition
  Unreadable // not a shared library of this machine's word size and byte order, or damaged
};

// `read(offset, buffer, size)` fills `buffer` with the file's bytes at `offset` and returns
// whether all of them were there. `size` is the file's length; nothing is read beyond it.
struct ElfSource {
  uint64_t size;
  bool (*read)(const void *context, uint64_t offset, void *buffer, size_t size);
  const void *context;
};

// Looks `name` up in the dynamic symbol table (.dynsym through the section headers, else through
// the PT_DYNAMIC segment's hash table). `why` says what made a file unreadable.
ElfExport elfExports(const ElfSource &file, std::string_view name, std::string &why);

// The same for the file open on `fd` (read with pread) and for bytes in memory.
ElfExport elfExports(int fd, std::string_view name, std::string &why);
ElfExport elfExports(std::string_view image, std::string_view name, std::string &why);

} // namespace vlx::posix
