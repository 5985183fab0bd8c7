// Calculation held in a workbook just loaded: its formulas computed once, typed Booleans shown as
// Booleans, then automatic calculation off until the host's first change.
#include "calculation.h"

#include "cell_formats.h"
#include "file_cells.h"
#include "office.h"

#include <com/sun/star/beans/XPropertySet.hpp>
#include <com/sun/star/container/XIndexAccess.hpp>
#include <com/sun/star/lang/DisposedException.hpp>
#include <com/sun/star/sheet/CellFlags.hpp>
#include <com/sun/star/sheet/XCalculatable.hpp>
#include <com/sun/star/sheet/XCellRangeData.hpp>
#include <com/sun/star/sheet/XCellRangeFormula.hpp>
#include <com/sun/star/sheet/XCellRangesQuery.hpp>
#include <com/sun/star/sheet/XSpreadsheetDocument.hpp>
#include <com/sun/star/table/XCell.hpp>

#include <cstring>
#include <set>
#include <utility>
#include <vector>

namespace vlx::calc {

namespace {

std::set<Reference<css::uno::XInterface>> &heldDocuments() {
  static std::set<Reference<css::uno::XInterface>> held;
  return held;
}

// Formulas the spreadsheet computes again on every calculation.
bool isVolatile(const OUString &formula) {
  OUString upper = formula.toAsciiUpperCase();
  for (const char *name :
       {"NOW(", "TODAY(", "RAND(", "RANDBETWEEN(", "INFO(", "OFFSET(", "INDIRECT(", "CELL("})
    if (upper.indexOfAsciiL(name, std::strlen(name)) >= 0)
      return true;
  return false;
}

// A typed Boolean of the file, which LibreOffice reads as an =TRUE() or =FALSE() formula.
struct TypedBoolean {
  Reference<css::table::XCell> cell;
  css::table::CellRangeAddress address;
  OUString formula;
};

// The typed Booleans of a block of formulas whose cell has a format other than a Boolean's.
void otherFormatBooleans(const Reference<css::uno::XInterface> &document,
                         const Reference<css::table::XCellRange> &block,
                         const css::table::CellRangeAddress &area,
                         const css::uno::Sequence<css::uno::Sequence<OUString>> &texts,
                         std::vector<TypedBoolean> &found) {
  std::vector<const Format *> formats;
  sal_Int32 columns = area.EndColumn - area.StartColumn + 1;
  for (sal_Int32 row = 0; row < texts.getLength(); ++row)
    for (sal_Int32 column = 0; column < texts[row].getLength(); ++column) {
      const OUString &formula = texts[row][column];
      if (!formula.equalsIgnoreAsciiCase("=TRUE()") && !formula.equalsIgnoreAsciiCase("=FALSE()"))
        continue;
      if (formats.empty())
        formats = blockFormats(document, block, area, texts.getLength(), columns);
      if (formats[size_t(row) * size_t(columns) + size_t(column)]->shape == Shape::Boolean)
        continue;
      sal_Int32 sheetColumn = area.StartColumn + column, sheetRow = area.StartRow + row;
      found.push_back({block->getCellByPosition(column, row),
                       {area.Sheet, sheetColumn, sheetRow, sheetColumn, sheetRow},
                       formula});
    }
}

// Gives typed Booleans in another format (a date's, say) the Boolean format, and enters them
// again: LibreOffice shows them in their format and writes them to a file as numbers. The
// spreadsheet shows a Boolean as TRUE or FALSE whatever its format.
void showAsBooleans(const Reference<css::uno::XInterface> &document,
                    const std::vector<TypedBoolean> &booleans) {
  if (booleans.empty())
    return;
  ServerChanges allowed(document);
  std::vector<css::table::CellRangeAddress> cells;
  for (const auto &boolean : booleans)
    cells.push_back(boolean.address);
  formatAsBooleans(document, cells);
  // Read once entered: a formula is computed when read, and reads after calculation is held
  // would not compute it.
  for (const auto &boolean : booleans) {
    boolean.cell->setFormula(boolean.formula);
    boolean.cell->getValue();
  }
}

void holdCalculationOf(const Reference<css::uno::XInterface> &document) {
  Reference<css::sheet::XCalculatable> calculation(document, UNO_QUERY);
  Reference<css::sheet::XSpreadsheetDocument> doc(document, UNO_QUERY);
  if (!calculation.is() || !doc.is() || !calculation->isAutomaticCalculationEnabled())
    return;
  KeepUnmodified unmodified(document);
  // Reading a result computes it (and what it needs) and nothing else; calculation is turned off
  // after, as turning it on again would compute the volatile formulas. Blocks without a volatile
  // formula are read at once, the other cells one by one.
  Reference<css::container::XIndexAccess> sheets(doc->getSheets(), UNO_QUERY_THROW);
  std::vector<TypedBoolean> booleans;
  for (sal_Int32 i = 0, n = sheets->getCount(); i < n; ++i) {
    Reference<css::sheet::XCellRangesQuery> query(sheets->getByIndex(i), UNO_QUERY);
    Reference<css::table::XCellRange> sheet(query, UNO_QUERY);
    if (!query.is() || !sheet.is())
      continue;
    auto formulas = query->queryContentCells(css::sheet::CellFlags::FORMULA);
    for (const auto &area : formulas->getRangeAddresses()) {
      auto block = sheet->getCellRangeByPosition(area.StartColumn, area.StartRow, area.EndColumn,
                                                 area.EndRow);
      auto texts =
          Reference<css::sheet::XCellRangeFormula>(block, UNO_QUERY_THROW)->getFormulaArray();
      std::vector<std::pair<sal_Int32, sal_Int32>> steady;
      bool anyVolatile = false;
      for (sal_Int32 row = 0; row < texts.getLength(); ++row)
        for (sal_Int32 column = 0; column < texts[row].getLength(); ++column) {
          if (isVolatile(texts[row][column]))
            anyVolatile = true;
          else
            steady.emplace_back(column, row);
        }
      if (!anyVolatile)
        Reference<css::sheet::XCellRangeData>(block, UNO_QUERY_THROW)->getDataArray();
      else
        for (const auto &[column, row] : steady)
          block->getCellByPosition(column, row)->getValue();
      otherFormatBooleans(document, block, area, texts, booleans);
    }
  }
  showAsBooleans(document, booleans);
  calculation->enableAutomaticCalculation(false);
  heldDocuments().insert(Reference<css::uno::XInterface>(document, UNO_QUERY));
}

} // namespace

void holdCalculation(const Reference<css::uno::XInterface> &document) {
  try {
    holdCalculationOf(document);
  } catch (const css::lang::DisposedException &) {
    throw;
  } catch (const css::uno::Exception &) {
    // The workbook still opens, calculated as LibreOffice calculates it.
  }
}

bool calculationHeld(const Reference<css::uno::XInterface> &document) {
  return heldDocuments().count(Reference<css::uno::XInterface>(document, UNO_QUERY)) != 0;
}

void resumeCalculation(const Reference<css::uno::XInterface> &document) {
  auto &held = heldDocuments();
  auto found = held.find(Reference<css::uno::XInterface>(document, UNO_QUERY));
  if (found == held.end())
    return;
  held.erase(found);
  Reference<css::sheet::XCalculatable> calculation(document, UNO_QUERY);
  if (calculation.is())
    calculation->enableAutomaticCalculation(true);
}

} // namespace vlx::calc
