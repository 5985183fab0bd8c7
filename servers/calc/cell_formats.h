// What a cell's number format and content say of its value: the seven cell errors, the
// workbook's date system, and number formats by key, each read from the document once.
#pragma once

#include "uno_names.h"

#include <velmora/win32.h>

#include <com/sun/star/bridge/oleautomation/SCode.hpp>
#include <com/sun/star/lang/Locale.hpp>
#include <com/sun/star/table/CellRangeAddress.hpp>
#include <com/sun/star/table/XCellRange.hpp>
#include <com/sun/star/uno/Sequence.hxx>
#include <com/sun/star/uno/XInterface.hpp>
#include <rtl/ustring.hxx>

#include <algorithm>
#include <optional>
#include <vector>

namespace vlx::calc {

// The spreadsheet's code (SCODE, as VT_ERROR carries it) of one of LibreOffice's cell errors;
// #VALUE!'s for a code it does not know.
SCODE errorCode(sal_Int32 libreOfficeError);
// The formula that writes a cell error.
rtl::OUString errorFormula(const css::bridge::oleautomation::SCode &error);

// How a workbook counts its days: what an OLE date counts from (30 December 1899) to its day 0
// (1462 in a 1904 workbook), and whether it has the spreadsheet's 29 February 1900 (serial 60),
// as a 1900 workbook from a file of the spreadsheet's own formats, or a new one, does: its
// serials 1 to 59 are one day later in an OLE date. OpenDocument files store dates as dates.
struct DateSystem {
  double offset = 0;
  bool leap1900 = false;
};

enum class Shape { Number, Boolean, Date, Currency };

struct Format {
  Shape shape = Shape::Number;
  bool general = false;
  css::lang::Locale locale;
};

DateSystem dateSystem(const Reference<css::uno::XInterface> &document);
// The OLE date of a serial; none for the spreadsheet's 29 February 1900.
std::optional<double> oleDate(double serial, const DateSystem &system);
// The serial of an OLE date. 31 December 1899 has none in a workbook with 29 February 1900: it
// becomes day 0, which the spreadsheet shows as 0 January 1900 and reads as 30 December.
double serialOf(double date, const DateSystem &system);

// A number format's key read once per document: a key's format never changes.
const Format &formatFor(const Reference<css::uno::XInterface> &document, sal_Int32 key);
// The number format of every cell of the block, one pair of calls per group of cells formatted
// alike.
std::vector<const Format *> blockFormats(const Reference<css::uno::XInterface> &document,
                                         const Reference<css::table::XCellRange> &cells,
                                         const css::table::CellRangeAddress &origin, sal_Int32 rows,
                                         sal_Int32 columns);
// A closed document's number formats are forgotten.
void forgetDocument(const Reference<css::uno::XInterface> &document);

// Calls fn(row, column) for each cell of each area, relative to the block at origin.
template <class Fn>
void eachCell(const css::uno::Sequence<css::table::CellRangeAddress> &areas,
              const css::table::CellRangeAddress &origin, sal_Int32 rows, sal_Int32 columns,
              Fn fn) {
  for (const auto &area : areas)
    for (sal_Int32 row = std::max(area.StartRow - origin.StartRow, sal_Int32(0));
         row <= std::min(area.EndRow - origin.StartRow, rows - 1); ++row)
      for (sal_Int32 column = std::max(area.StartColumn - origin.StartColumn, sal_Int32(0));
           column <= std::min(area.EndColumn - origin.StartColumn, columns - 1); ++column)
        fn(row, column);
}

} // namespace vlx::calc
