// Windows hive files made at run time: an empty regf file written here, keys and values added by
// hivex, so that no binary hive is kept in the repository.
#include "support/windows_hive_file.h"

#include <hivex.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <memory>

namespace vlx::test {
namespace {

constexpr size_t kBlock = 4096;

void put16(std::string &out, size_t at, uint16_t v) {
  out[at] = static_cast<char>(v & 0xFF);
  out[at + 1] = static_cast<char>(v >> 8);
}

void put32(std::string &out, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i)
    out[at + i] = static_cast<char>(v >> (8 * i) & 0xFF);
}

uint32_t get32(const std::string &in, size_t at) {
  uint32_t v = 0;
  for (int i = 3; i >= 0; --i)
    v = v << 8 | static_cast<unsigned char>(in[at + i]);
  return v;
}

struct HiveCloser {
  void operator()(hive_h *h) const { hivex_close(h); }
};

std::string failure(const std::string &what) { return what + ": " + std::strerror(errno); }

} // namespace

std::string emptyHiveFile() {
  std::string file(2 * kBlock, '\0');
  // Base block: signature, equal sequence numbers (closed cleanly), version 1.5, a primary file in
  // direct memory-load format, the root cell's offset and the size of the bins.
  file.replace(0, 4, "regf");
  put32(file, 0x04, 1);
  put32(file, 0x08, 1);
  put32(file, 0x14, 1);
  put32(file, 0x18, 5);
  put32(file, 0x20, 1);
  put32(file, 0x24, 0x20);
  put32(file, 0x28, kBlock);
  put32(file, 0x2C, 1);
  uint32_t sum = 0;
  for (size_t i = 0; i < 0x1FC; i += 4)
    sum ^= get32(file, i);
  put32(file, 0x1FC, sum);

  // The bin; cell offsets count from its start, and a cell's size is negative while in use.
  const size_t bin = kBlock;
  file.replace(bin, 4, "hbin");
  put32(file, bin + 0x08, kBlock);

  const size_t nk = bin + 0x20, nkSize = 88;  // 4 + 76 fixed bytes + the 4-byte name, rounded to 8
  const size_t sk = nk + nkSize, skSize = 48; // 4 + 20 fixed bytes + a 20-byte descriptor, rounded
  put32(file, nk, static_cast<uint32_t>(-static_cast<int32_t>(nkSize)));
  file.replace(nk + 4, 2, "nk");
  put16(file, nk + 6, 0x2C);          // the hive's entry key, not deletable, name in Latin-1
  put32(file, nk + 0x14, 0xFFFFFFFF); // no parent
  put32(file, nk + 0x20, 0xFFFFFFFF); // no subkey lists
  put32(file, nk + 0x24, 0xFFFFFFFF);
  put32(file, nk + 0x2C, 0xFFFFFFFF); // no value list
  put32(file, nk + 0x30, static_cast<uint32_t>(sk - bin));
  put32(file, nk + 0x34, 0xFFFFFFFF); // no class name
  put16(file, nk + 0x4C, 4);
  file.replace(nk + 0x50, 4, "ROOT");

  // hivex gives every new key its parent's security cell: a self-relative descriptor with a null
  // DACL (everyone may do everything), in a list of its own.
  put32(file, sk, static_cast<uint32_t>(-static_cast<int32_t>(skSize)));
  file.replace(sk + 4, 2, "sk");
  put32(file, sk + 0x08, static_cast<uint32_t>(sk - bin));
  put32(file, sk + 0x0C, static_cast<uint32_t>(sk - bin));
  put32(file, sk + 0x10, 1);
  put32(file, sk + 0x14, 20);
  put32(file, sk + 0x18, 0x80040001); // revision 1; self-relative, DACL present

  const size_t freeCell = sk + skSize;
  put32(file, freeCell, static_cast<uint32_t>(bin + kBlock - freeCell));
  return file;
}

std::string writeHiveFile(const std::string &path, const std::vector<HiveKey> &keys) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << emptyHiveFile();
  std::unique_ptr<hive_h, HiveCloser> hive(hivex_open(path.c_str(), HIVEX_OPEN_WRITE));
  if (!hive)
    return failure("hivex_open " + path);
  for (const HiveKey &key : keys) {
    hive_node_h node = hivex_root(hive.get());
    for (size_t start = 0; start < key.path.size();) {
      size_t end = key.path.find('\\', start);
      if (end == std::string::npos)
        end = key.path.size();
      const std::string name = key.path.substr(start, end - start);
      hive_node_h child = hivex_node_get_child(hive.get(), node, name.c_str());
      if (child == 0)
        child = hivex_node_add_child(hive.get(), node, name.c_str());
      if (child == 0)
        return failure("adding " + key.path);
      node = child;
      start = end + 1;
    }
    std::vector<hive_set_value> values;
    for (const HiveValue &v : key.values)
      values.push_back({const_cast<char *>(v.name.c_str()), static_cast<hive_type>(v.type),
                        v.data.size(), const_cast<char *>(v.data.data())});
    if (hivex_node_set_values(hive.get(), node, values.size(), values.data(), 0) != 0)
      return failure("setting the values of " + key.path);
  }
  if (hivex_commit(hive.get(), nullptr, 0) != 0)
    return failure("committing " + path);
  return "";
}

std::string utf16le(std::u16string_view text) {
  std::string out;
  for (char16_t c : text) {
    out += static_cast<char>(c & 0xFF);
    out += static_cast<char>(c >> 8);
  }
  return out;
}

} // namespace vlx::test
