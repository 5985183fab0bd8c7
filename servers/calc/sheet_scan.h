// The scan of an .xlsx worksheet part for the cells LibreOffice changes as it loads them (see
// file_cells.h): a pass over the XML as it is inflated, with no XML parser and nothing of the
// office, so that any bytes do no harm.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace vlx::calc {

struct CellPosition {
  std::int32_t column = 0, row = 0; // from 0
};

// Those cells of one sheet, by the sheet's name in the file.
struct SheetCells {
  std::string sheet;
  std::vector<CellPosition> generalFormulas; // formulas whose cell has the General format
  std::vector<CellPosition> booleans;        // typed Booleans
};

// Finds them in one worksheet part, fed a piece at a time as it is inflated.
class SheetScan {
public:
  // generalStyles[i]: whether cell style i (an index into styles.xml's cellXfs) has the General
  // number format.
  explicit SheetScan(std::vector<bool> generalStyles);
  void feed(const char *data, size_t size);
  // The cells found, once the whole part has been fed.
  SheetCells finish();

private:
  void element(const char *begin, const char *end);

  std::vector<bool> generalStyles_;
  std::string pending_; // an element not yet whole
  SheetCells found_;
  CellPosition at_{-1, -1};
  bool inCell_ = false, general_ = false, boolean_ = false, formula_ = false, value_ = false;
};

} // namespace vlx::calc
