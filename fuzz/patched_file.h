// The mutation the file fuzzers share: a known-good file patched by the input, so that most
// inputs get past the format's first checks.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace vlx::fuzz {

// An input whose first byte is even patches `valid`: (offset, byte) triples XOR bytes in, then a
// last byte below 64 cuts the file short by that many 64ths. Any other input is the whole file.
inline std::string patchedFile(const std::string &valid, const uint8_t *data, size_t size) {
  if (size == 0 || data[0] % 2 != 0 || valid.empty())
    return std::string(reinterpret_cast<const char *>(data), size);
  std::string file = valid;
  size_t i = 1;
  for (; i + 3 <= size; i += 3) {
    const size_t offset = (static_cast<size_t>(data[i]) << 8 | data[i + 1]) * 7 % file.size();
    file[offset] = static_cast<char>(file[offset] ^ data[i + 2]);
  }
  if (i < size && data[i] < 64)
    file.resize(file.size() - file.size() * data[i] / 64);
  return file;
}

} // namespace vlx::fuzz
