// Cells of an .xlsx that LibreOffice changes as it loads it, put back as the file has them.
// A formula in a General cell takes the format its result suggests when LibreOffice computes it
// (a date's for a reference to a date), where the spreadsheet keeps General, which is what Value
// types the result by and what a save writes. A typed Boolean becomes an =TRUE() or =FALSE()
// formula, which a save writes as a formula.
#pragma once

#include "uno_names.h"

#include <com/sun/star/beans/XPropertySet.hpp>
#include <com/sun/star/table/CellRangeAddress.hpp>
#include <com/sun/star/uno/XInterface.hpp>
#include <sal/types.h>

#include <string>
#include <vector>

namespace vlx::calc {

struct CellPosition {
  sal_Int32 column = 0, row = 0; // from 0
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

// Lets this server change a document opened read-only while it lives: LibreOffice ignores every
// change to such a document without a word. The document's own setting comes back after.
class ServerChanges {
public:
  explicit ServerChanges(const Reference<css::uno::XInterface> &document);
  ~ServerChanges();
  ServerChanges(const ServerChanges &) = delete;
  ServerChanges &operator=(const ServerChanges &) = delete;

private:
  Reference<css::beans::XPropertySet> document_; // null: nothing to restore
};

// Makes the typed Booleans values again, in the Boolean format (which a save writes as Booleans);
// puts the General format back on the formulas that LibreOffice gave another (a Boolean's
// excepted: without it a Boolean result would read as a number), and keeps them with the
// document: LibreOffice gives a cell its result's format the first time it computes it, which for
// a cached result is after a change it depends on. The document stays unmodified.
void keepFileCells(const Reference<css::uno::XInterface> &document,
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
