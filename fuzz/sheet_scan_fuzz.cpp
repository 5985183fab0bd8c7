// The Calc server's scan of an .xlsx worksheet part on any bytes: never a crash, the same cells
// found whether the part comes whole or in pieces (the first byte gives their size), and every
// cell found inside the sheet.
#include "servers/calc/sheet_scan.h"

#include <cstdint>
#include <cstdlib>
#include <vector>

namespace {

using vlx::calc::CellPosition;

bool same(const std::vector<CellPosition> &a, const std::vector<CellPosition> &b) {
  if (a.size() != b.size())
    return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (a[i].column != b[i].column || a[i].row != b[i].row)
      return false;
  return true;
}

bool inside(const std::vector<CellPosition> &cells) {
  for (const auto &cell : cells)
    if (cell.column < 0 || cell.column >= 16384 || cell.row < 0 || cell.row >= 1048576)
      return false;
  return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size == 0)
    return 0;
  const size_t piece = data[0] % 64 + 1;
  const char *xml = reinterpret_cast<const char *>(data + 1);
  const size_t length = size - 1;
  const std::vector<bool> styles = {true, false, true};
  vlx::calc::SheetScan whole(styles), cut(styles);
  whole.feed(xml, length);
  for (size_t at = 0; at < length; at += piece)
    cut.feed(xml + at, length - at < piece ? length - at : piece);
  auto a = whole.finish(), b = cut.finish();
  if (!same(a.generalFormulas, b.generalFormulas) || !same(a.booleans, b.booleans) ||
      !inside(a.generalFormulas) || !inside(a.booleans))
    std::abort();
  return 0;
}
