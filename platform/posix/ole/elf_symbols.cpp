// The dynamic symbol table of an ELF shared library, read piece by piece with every offset and
// count checked against the file, as a damaged file must give an answer, not a fault.
#include "platform/posix/ole/elf_symbols.h"

#include <cstring>
#include <link.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace vlx::posix {
namespace {

using Ehdr = ElfW(Ehdr);
using Shdr = ElfW(Shdr);
using Phdr = ElfW(Phdr);
using Dyn = ElfW(Dyn);
using Sym = ElfW(Sym);
using Addr = ElfW(Addr);

#if __SIZEOF_POINTER__ == 8
constexpr unsigned char kClass = ELFCLASS64;
#else
constexpr unsigned char kClass = ELFCLASS32;
#endif
#if __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
constexpr unsigned char kData = ELFDATA2LSB;
#else
constexpr unsigned char kData = ELFDATA2MSB;
#endif

// Longest chain walked in a hash table: far more symbols than any library has.
constexpr uint64_t kMaxChain = uint64_t{1} << 24;

class Reader {
public:
  explicit Reader(const ElfSource &source) : source_(source) {}

  template <class T> bool get(uint64_t offset, T &out) const {
    return within(offset, sizeof(T)) && source_.read(source_.context, offset, &out, sizeof(T));
  }
  bool bytes(uint64_t offset, void *out, size_t size) const {
    return within(offset, size) && source_.read(source_.context, offset, out, size);
  }
  bool within(uint64_t offset, uint64_t size) const {
    return offset <= source_.size && size <= source_.size - offset;
  }

private:
  const ElfSource &source_;
};

// Whether `sym` defines `name` for dlsym: a global or weak function, not hidden, whose name in
// the string table at [strtab, strtab + strSize) is `name`. (The ELF32 macros read the same bits
// in both classes.)
bool defines(const Reader &file, const Sym &sym, uint64_t strtab, uint64_t strSize,
             std::string_view name) {
  const unsigned type = ELF32_ST_TYPE(sym.st_info), bind = ELF32_ST_BIND(sym.st_info);
  const unsigned visibility = ELF32_ST_VISIBILITY(sym.st_other);
  if (sym.st_shndx == SHN_UNDEF || (type != STT_FUNC && type != STT_GNU_IFUNC) ||
      (bind != STB_GLOBAL && bind != STB_WEAK && bind != STB_GNU_UNIQUE) ||
      (visibility != STV_DEFAULT && visibility != STV_PROTECTED))
    return false;
  if (sym.st_name >= strSize || name.size() + 1 > strSize - sym.st_name)
    return false;
  std::string text(name.size() + 1, '\0');
  return file.bytes(strtab + sym.st_name, text.data(), text.size()) && text.back() == '\0' &&
         std::string_view(text.data(), name.size()) == name;
}

// Through the section headers: the SHT_DYNSYM section and the string table it links to. Absent
// when the file has no such section.
ElfExport fromSections(const Reader &file, const Ehdr &header, std::string_view name,
                       std::string &why, bool &found) {
  found = false;
  if (header.e_shoff == 0 || header.e_shnum == 0)
    return ElfExport::Absent;
  if (header.e_shentsize != sizeof(Shdr) ||
      !file.within(header.e_shoff, uint64_t{header.e_shnum} * sizeof(Shdr))) {
    why = "its section table lies outside the file";
    return ElfExport::Unreadable;
  }
  for (uint16_t i = 0; i < header.e_shnum; ++i) {
    Shdr section;
    Shdr strings;
    if (!file.get(header.e_shoff + uint64_t{i} * sizeof(Shdr), section))
      return ElfExport::Unreadable;
    if (section.sh_type != SHT_DYNSYM)
      continue;
    found = true;
    if (section.sh_entsize != sizeof(Sym) || !file.within(section.sh_offset, section.sh_size) ||
        section.sh_link >= header.e_shnum ||
        !file.get(header.e_shoff + uint64_t{section.sh_link} * sizeof(Shdr), strings) ||
        strings.sh_type != SHT_STRTAB || !file.within(strings.sh_offset, strings.sh_size)) {
      why = "its dynamic symbol table is damaged";
      return ElfExport::Unreadable;
    }
    for (uint64_t at = 0; at + sizeof(Sym) <= section.sh_size; at += sizeof(Sym)) {
      Sym sym;
      if (!file.get(section.sh_offset + at, sym))
        return ElfExport::Unreadable;
      if (defines(file, sym, strings.sh_offset, strings.sh_size, name))
        return ElfExport::Found;
    }
    return ElfExport::Absent;
  }
  return ElfExport::Absent;
}

uint32_t gnuHash(std::string_view name) {
  uint32_t h = 5381;
  for (unsigned char c : name)
    h = h * 33 + c;
  return h;
}

uint32_t sysvHash(std::string_view name) {
  uint32_t h = 0;
  for (unsigned char c : name) {
    h = (h << 4) + c;
    const uint32_t g = h & 0xF0000000u;
    h ^= g >> 24;
    h &= ~g;
  }
  return h;
}

// Through the PT_DYNAMIC segment, as the dynamic linker finds symbols: the table's addresses
// turned into file offsets by the loaded segments, the name looked up in the hash table.
ElfExport fromDynamic(const Reader &file, const Ehdr &header, std::string_view name,
                      std::string &why) {
  why = "it has no dynamic symbol table";
  if (header.e_phentsize != sizeof(Phdr) ||
      !file.within(header.e_phoff, uint64_t{header.e_phnum} * sizeof(Phdr)))
    return ElfExport::Unreadable;
  std::vector<Phdr> loads;
  Phdr dynamic{};
  for (uint16_t i = 0; i < header.e_phnum; ++i) {
    Phdr segment;
    if (!file.get(header.e_phoff + uint64_t{i} * sizeof(Phdr), segment))
      return ElfExport::Unreadable;
    if (segment.p_type == PT_LOAD)
      loads.push_back(segment);
    else if (segment.p_type == PT_DYNAMIC)
      dynamic = segment;
  }
  if (dynamic.p_type != PT_DYNAMIC || !file.within(dynamic.p_offset, dynamic.p_filesz))
    return ElfExport::Unreadable;
  auto offsetOf = [&loads](Addr address, uint64_t &offset) {
    for (const Phdr &load : loads)
      if (address >= load.p_vaddr && address - load.p_vaddr < load.p_filesz) {
        offset = load.p_offset + (address - load.p_vaddr);
        return true;
      }
    return false;
  };
  Addr strtab = 0, symtab = 0, gnuHashAt = 0, sysvHashAt = 0;
  uint64_t strSize = 0;
  for (uint64_t at = 0; at + sizeof(Dyn) <= dynamic.p_filesz; at += sizeof(Dyn)) {
    Dyn entry;
    if (!file.get(dynamic.p_offset + at, entry) || entry.d_tag == DT_NULL)
      break;
    switch (entry.d_tag) {
    case DT_STRTAB:
      strtab = entry.d_un.d_ptr;
      break;
    case DT_STRSZ:
      strSize = entry.d_un.d_val;
      break;
    case DT_SYMTAB:
      symtab = entry.d_un.d_ptr;
      break;
    case DT_SYMENT:
      if (entry.d_un.d_val != sizeof(Sym))
        return ElfExport::Unreadable;
      break;
    case DT_GNU_HASH:
      gnuHashAt = entry.d_un.d_ptr;
      break;
    case DT_HASH:
      sysvHashAt = entry.d_un.d_ptr;
      break;
    default:
      break;
    }
  }
  uint64_t strOffset = 0, symOffset = 0, hashOffset = 0;
  if (!offsetOf(strtab, strOffset) || !offsetOf(symtab, symOffset) ||
      !file.within(strOffset, strSize))
    return ElfExport::Unreadable;
  auto symbolDefines = [&](uint64_t index) {
    Sym sym;
    return index < kMaxChain && file.get(symOffset + index * sizeof(Sym), sym) &&
           defines(file, sym, strOffset, strSize, name);
  };
  why = "its symbol hash table is damaged";
  if (gnuHashAt != 0 && offsetOf(gnuHashAt, hashOffset)) {
    uint32_t head[4]; // buckets, first hashed symbol, bloom words, bloom shift
    if (!file.get(hashOffset, head) || head[0] == 0)
      return ElfExport::Unreadable;
    const uint64_t buckets = hashOffset + sizeof head + uint64_t{head[2]} * sizeof(Addr);
    const uint64_t chains = buckets + uint64_t{head[0]} * 4;
    const uint32_t hash = gnuHash(name);
    uint32_t index = 0;
    if (!file.get(buckets + uint64_t{hash % head[0]} * 4, index))
      return ElfExport::Unreadable;
    if (index == 0 || index < head[1])
      return ElfExport::Absent;
    for (uint64_t i = index; i < kMaxChain; ++i) {
      uint32_t chained = 0;
      if (!file.get(chains + (i - head[1]) * 4, chained))
        return ElfExport::Unreadable;
      if ((chained | 1) == (hash | 1) && symbolDefines(i))
        return ElfExport::Found;
      if (chained & 1)
        return ElfExport::Absent;
    }
    return ElfExport::Unreadable;
  }
  if (sysvHashAt != 0 && offsetOf(sysvHashAt, hashOffset)) {
    uint32_t head[2]; // buckets, chain length
    if (!file.get(hashOffset, head) || head[0] == 0)
      return ElfExport::Unreadable;
    const uint64_t chains = hashOffset + sizeof head + uint64_t{head[0]} * 4;
    uint32_t index = 0;
    if (!file.get(hashOffset + sizeof head + uint64_t{sysvHash(name) % head[0]} * 4, index))
      return ElfExport::Unreadable;
    for (uint64_t steps = 0; index != STN_UNDEF; ++steps) {
      if (steps > head[1] || index >= head[1])
        return ElfExport::Unreadable;
      if (symbolDefines(index))
        return ElfExport::Found;
      if (!file.get(chains + uint64_t{index} * 4, index))
        return ElfExport::Unreadable;
    }
    return ElfExport::Absent;
  }
  why = "it has no symbol hash table";
  return ElfExport::Unreadable;
}

bool readFd(const void *context, uint64_t offset, void *buffer, size_t size) {
  const int fd = *static_cast<const int *>(context);
  auto *out = static_cast<char *>(buffer);
  while (size > 0) {
    const ssize_t got = pread(fd, out, size, static_cast<off_t>(offset));
    if (got <= 0)
      return false;
    out += got;
    size -= static_cast<size_t>(got);
    offset += static_cast<uint64_t>(got);
  }
  return true;
}

bool readMemory(const void *context, uint64_t offset, void *buffer, size_t size) {
  std::memcpy(buffer, static_cast<const std::string_view *>(context)->data() + offset, size);
  return true;
}

} // namespace

ElfExport elfExports(const ElfSource &source, std::string_view name, std::string &why) {
  const Reader file(source);
  Ehdr header;
  if (!file.get(0, header) || std::memcmp(header.e_ident, ELFMAG, SELFMAG) != 0) {
    why = "it is not an ELF file";
    return ElfExport::Unreadable;
  }
  if (header.e_ident[EI_CLASS] != kClass || header.e_ident[EI_DATA] != kData ||
      header.e_type != ET_DYN) {
    why = "it is not a shared library of this system's word size and byte order";
    return ElfExport::Unreadable;
  }
  bool hasDynsym = false;
  const ElfExport viaSections = fromSections(file, header, name, why, hasDynsym);
  if (viaSections != ElfExport::Absent || hasDynsym)
    return viaSections;
  return fromDynamic(file, header, name, why);
}

ElfExport elfExports(int fd, std::string_view name, std::string &why) {
  struct stat st;
  if (fstat(fd, &st) != 0) {
    why = "it cannot be read";
    return ElfExport::Unreadable;
  }
  return elfExports({static_cast<uint64_t>(st.st_size), readFd, &fd}, name, why);
}

ElfExport elfExports(std::string_view image, std::string_view name, std::string &why) {
  return elfExports({image.size(), readMemory, &image}, name, why);
}

} // namespace vlx::posix
