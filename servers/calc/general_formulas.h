// Formulas an .xlsx keeps in General cells. LibreOffice gives such a formula the format its
// result suggests when it computes it (a date's for a reference to a date); the spreadsheet keeps
// General, which is what Value types the result by and what a save writes.
#pragma once

#include "uno_names.h"

#include <com/sun/star/table/CellRangeAddress.hpp>
#include <com/sun/star/uno/XInterface.hpp>
#include <sal/types.h>

#include <string>
#include <utility>
#include <vector>

namespace vlx::calc {

struct CellPosition {
  sal_Int32 column = 0, row = 0; // from 0
};

// The cells of one sheet, by the sheet's name in the file.
struct SheetCells {
  std::string sheet;
  std::vector<CellPosition> cells;
};

// Finds the formula cells of one worksheet part, fed a piece at a time as it is inflated, whose
// cell style (an index into styles.xml's cellXfs) has the General number format.
class GeneralFormulaScan {
public:
  // generalStyles[i]: whether cell style i has the General format.
  explicit GeneralFormulaScan(std::vector<bool> generalStyles);
  void feed(const char *data, size_t size);
  // The cells found, once the whole part has been fed.
  std::vector<CellPosition> finish();

private:
  void element(const char *begin, const char *end);

  std::vector<bool> generalStyles_;
  std::string pending_; // an element not yet whole
  std::vector<CellPosition> found_;
  CellPosition at_{-1, -1};
  bool inGeneralCell_ = false, formula_ = false;
};

// Puts the General format back on those cells that LibreOffice gave another (a Boolean's
// excepted: without it a Boolean result would read as a number), and keeps them with the
// document: LibreOffice gives a cell its result's format the first time it computes it, which for
// a cached result is after a change it depends on. The document stays unmodified.
void keepGeneral(const Reference<css::uno::XInterface> &document,
                 const std::vector<SheetCells> &sheets);
// Puts General back again on the kept cells within `area` (all of them when null) that were
// computed since.
void restoreGeneral(const Reference<css::uno::XInterface> &document,
                    const css::table::CellRangeAddress *area);
// The host wrote the cells of `area` (a value, a formula, a format): they are its own now.
void releaseGeneral(const Reference<css::uno::XInterface> &document,
                    const css::table::CellRangeAddress &area);
// The document was closed.
void forgetGeneral(const Reference<css::uno::XInterface> &document);

} // namespace vlx::calc
