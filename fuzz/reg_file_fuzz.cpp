// libFuzzer target: the .reg parser must take any bytes without crashing, and what it accepts
// must survive a write and a second parse unchanged.
#include "vlx/formats/reg_file.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  std::string_view text(reinterpret_cast<const char *>(data), size);
  vlx::reg::ParseResult first = vlx::reg::parse(text);
  if (!first.ok())
    return 0;

  // Values of one key, written back and read again, keep their names, types and bytes.
  std::vector<vlx::reg::Value> values;
  for (const auto &op : first.operations) {
    std::string why;
    if (op.kind == vlx::reg::Operation::Kind::SetValue && vlx::reg::writable(op.value.name, why))
      values.push_back(op.value);
  }
  std::string out;
  vlx::reg::writeHeader(out);
  vlx::reg::writeKey(out, "HKEY_CURRENT_USER\\Software\\Fuzz", values);
  vlx::reg::ParseResult second = vlx::reg::parse(out);
  if (!second.ok() || second.operations.size() != values.size() + 1)
    std::abort();
  for (size_t i = 0; i < values.size(); ++i) {
    const auto &v = second.operations[i + 1].value;
    if (v.name != values[i].name || v.type != values[i].type || v.data != values[i].data)
      std::abort();
  }
  return 0;
}
