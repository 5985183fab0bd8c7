#include "zip_tail.h"

#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

namespace vlx::calc {

namespace {

uint32_t le32(const unsigned char *p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

uint16_t le16(const unsigned char *p) { return uint16_t(p[0] | p[1] << 8); }

// Bytes of the file's end searched for the end record: LibreOffice searches 64 KB, and what
// follows the record is rarely more than a disk block or two.
const long kTail = 1 << 20;

} // namespace

uint64_t bytesAfterZip(const std::string &path) {
  std::unique_ptr<FILE, int (*)(FILE *)> file(std::fopen(path.c_str(), "rb"), std::fclose);
  if (!file || std::fseek(file.get(), 0, SEEK_END) != 0)
    return 0;
  long size = std::ftell(file.get());
  long start = size > kTail ? size - kTail : 0;
  if (size < 22 || std::fseek(file.get(), start, SEEK_SET) != 0)
    return 0;
  std::vector<unsigned char> tail(size_t(size - start));
  if (std::fread(tail.data(), 1, tail.size(), file.get()) != tail.size())
    return 0;
  // The last end record whose central directory ends where it starts; its own comment counts as
  // part of the zip.
  for (size_t at = tail.size() - 22 + 1; at-- > 0;) {
    const unsigned char *record = tail.data() + at;
    if (std::memcmp(record, "PK\5\6", 4) != 0)
      continue;
    uint64_t position = uint64_t(start) + at;
    uint64_t directory = le32(record + 16), directorySize = le32(record + 12);
    if (directory + directorySize != position)
      continue;
    uint64_t end = position + 22 + le16(record + 20);
    return end < uint64_t(size) ? uint64_t(size) - end : 0;
  }
  return 0;
}

} // namespace vlx::calc
