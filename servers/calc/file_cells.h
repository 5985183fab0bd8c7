// Cells of an .xlsx that LibreOffice changes as it loads it, put back as the file has them.
// A formula in a General cell takes the format its result suggests when LibreOffice computes it
// (a date's for a reference to a date), where the spreadsheet keeps General, which is what Value
// types the result by and what a save writes. A typed Boolean becomes an =TRUE() or =FALSE()
// formula, which a save writes as a formula.
#pragma once

#include "sheet_scan.h"
#include "uno_names.h"

#include <com/sun/star/beans/XPropertySet.hpp>
#include <com/sun/star/table/CellRangeAddress.hpp>
#include <com/sun/star/uno/XInterface.hpp>
#include <com/sun/star/util/XModifiable.hpp>

#include <vector>

namespace vlx::calc {

// A change of this server's own leaves the document unmodified, as it found it: nothing asks
// whether to save it.
class KeepUnmodified {
public:
  explicit KeepUnmodified(const Reference<css::uno::XInterface> &document);
  ~KeepUnmodified();
  KeepUnmodified(const KeepUnmodified &) = delete;
  KeepUnmodified &operator=(const KeepUnmodified &) = delete;

private:
  Reference<css::util::XModifiable> document_; // null: it was modified already
};

// Lets this server change a document opened read-only while it lives: LibreOffice ignores every
// change to such a document without a word. The document's own setting comes back after, and
// the document is left unmodified.
class ServerChanges {
public:
  explicit ServerChanges(const Reference<css::uno::XInterface> &document);
  ~ServerChanges();
  ServerChanges(const ServerChanges &) = delete;
  ServerChanges &operator=(const ServerChanges &) = delete;

private:
  Reference<css::beans::XPropertySet> document_; // null: nothing to restore
  KeepUnmodified unmodified_;
};

// Gives the cells LibreOffice's Boolean format, in which they show and save as Booleans.
void formatAsBooleans(const Reference<css::uno::XInterface> &document,
                      const std::vector<css::table::CellRangeAddress> &cells);

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
