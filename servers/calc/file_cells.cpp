// Cells LibreOffice changes as it loads an .xlsx: found in the file's sheet parts, and put back as
// the file has them. See file_cells.h.
#include "file_cells.h"

#include "cell_formats.h"

#include <com/sun/star/beans/XPropertySet.hpp>
#include <com/sun/star/container/NoSuchElementException.hpp>
#include <com/sun/star/container/XIndexAccess.hpp>
#include <com/sun/star/container/XNameAccess.hpp>
#include <com/sun/star/lang/DisposedException.hpp>
#include <com/sun/star/lang/XMultiServiceFactory.hpp>
#include <com/sun/star/sheet/XCellRangeAddressable.hpp>
#include <com/sun/star/sheet/XCellRangeData.hpp>
#include <com/sun/star/sheet/XCellRangeFormula.hpp>
#include <com/sun/star/sheet/XCellRangesQuery.hpp>
#include <com/sun/star/sheet/XSheetCellRangeContainer.hpp>
#include <com/sun/star/sheet/XSheetCellRanges.hpp>
#include <com/sun/star/sheet/XSpreadsheetDocument.hpp>
#include <com/sun/star/sheet/XUniqueCellFormatRangesSupplier.hpp>
#include <com/sun/star/table/XCell.hpp>
#include <com/sun/star/table/XCellRange.hpp>
#include <com/sun/star/util/NumberFormat.hpp>
#include <com/sun/star/util/XModifiable.hpp>
#include <com/sun/star/util/XNumberFormatTypes.hpp>
#include <com/sun/star/util/XNumberFormatsSupplier.hpp>

#include <algorithm>
#include <map>

namespace vlx::calc {

namespace {

// Cells as runs down their columns, in one sheet.
std::vector<css::table::CellRangeAddress> runsOf(sal_Int16 sheet, std::vector<CellPosition> cells) {
  std::sort(cells.begin(), cells.end(), [](const CellPosition &a, const CellPosition &b) {
    return a.column != b.column ? a.column < b.column : a.row < b.row;
  });
  std::vector<css::table::CellRangeAddress> runs;
  for (const auto &cell : cells)
    if (!runs.empty() && runs.back().StartColumn == cell.column &&
        cell.row <= runs.back().EndRow + 1)
      runs.back().EndRow = std::max(runs.back().EndRow, cell.row);
    else
      runs.push_back({sheet, cell.column, cell.row, cell.column, cell.row});
  return runs;
}

// A container of the document's that holds the ranges.
Reference<css::beans::XPropertySet>
rangesOf(const Reference<css::lang::XMultiServiceFactory> &factory,
         const std::vector<css::table::CellRangeAddress> &ranges) {
  Reference<css::sheet::XSheetCellRangeContainer> container(
      factory->createInstance("com.sun.star.sheet.SheetCellRanges"), UNO_QUERY_THROW);
  container->addRangeAddresses(
      css::uno::Sequence<css::table::CellRangeAddress>(ranges.data(), sal_Int32(ranges.size())),
      false);
  return Reference<css::beans::XPropertySet>(container, UNO_QUERY_THROW);
}

// The typed Booleans LibreOffice loaded as =TRUE() and =FALSE() formulas made values again, a
// run at a time; the cells made so are added to `done`.
void valuesAgain(const Reference<css::table::XCellRange> &sheet,
                 const std::vector<css::table::CellRangeAddress> &runs,
                 std::vector<css::table::CellRangeAddress> &done) {
  for (const auto &run : runs) {
    auto block =
        sheet->getCellRangeByPosition(run.StartColumn, run.StartRow, run.EndColumn, run.EndRow);
    const auto formulas =
        Reference<css::sheet::XCellRangeFormula>(block, UNO_QUERY_THROW)->getFormulaArray();
    css::uno::Sequence<css::uno::Sequence<Any>> values(formulas.getLength());
    std::vector<sal_Int32> rows;
    for (sal_Int32 row = 0; row < formulas.getLength(); ++row) {
      const rtl::OUString formula = formulas[row].hasElements() ? formulas[row][0] : "";
      bool truth = formula.equalsIgnoreAsciiCase("=TRUE()");
      if (truth || formula.equalsIgnoreAsciiCase("=FALSE()"))
        rows.push_back(row);
      const Any value(truth ? 1.0 : 0.0);
      values.getArray()[row] = css::uno::Sequence<Any>(&value, 1);
    }
    if (rows.size() == size_t(formulas.getLength())) {
      Reference<css::sheet::XCellRangeData>(block, UNO_QUERY_THROW)->setDataArray(values);
      done.push_back(run);
      continue;
    }
    // Some other cell: the Booleans one by one.
    for (sal_Int32 row : rows) {
      block->getCellByPosition(0, row)->setValue(values[row][0].get<double>());
      done.push_back(
          {run.Sheet, run.StartColumn, run.StartRow + row, run.StartColumn, run.StartRow + row});
    }
  }
}

// The parts of `range` outside `area` (as many as four), added to `rest`.
void outside(const css::table::CellRangeAddress &range, const css::table::CellRangeAddress &area,
             std::vector<css::table::CellRangeAddress> &rest) {
  if (range.Sheet != area.Sheet || range.EndColumn < area.StartColumn ||
      range.StartColumn > area.EndColumn || range.EndRow < area.StartRow ||
      range.StartRow > area.EndRow) {
    rest.push_back(range);
    return;
  }
  auto piece = [&](sal_Int32 left, sal_Int32 top, sal_Int32 right, sal_Int32 bottom) {
    if (left <= right && top <= bottom)
      rest.push_back({range.Sheet, left, top, right, bottom});
  };
  sal_Int32 top = std::max(range.StartRow, area.StartRow);
  sal_Int32 bottom = std::min(range.EndRow, area.EndRow);
  piece(range.StartColumn, range.StartRow, range.EndColumn, area.StartRow - 1);
  piece(range.StartColumn, area.EndRow + 1, range.EndColumn, range.EndRow);
  piece(range.StartColumn, top, area.StartColumn - 1, bottom);
  piece(area.EndColumn + 1, top, range.EndColumn, bottom);
}

// The kept cells of each document, in a cell range container: LibreOffice moves its ranges
// with the cells when rows, columns or sheets are inserted or deleted.
std::map<Reference<css::uno::XInterface>, Reference<css::sheet::XSheetCellRangeContainer>> &
keptCells() {
  static std::map<Reference<css::uno::XInterface>, Reference<css::sheet::XSheetCellRangeContainer>>
      kept;
  return kept;
}

Reference<css::uno::XInterface> identity(const Reference<css::uno::XInterface> &document) {
  return Reference<css::uno::XInterface>(document, UNO_QUERY);
}

// Runs of rows by column; the runs of a column do not overlap.
using Runs = std::map<sal_Int32, std::vector<std::pair<sal_Int32, sal_Int32>>>;

// The General format back on the kept cells of one sheet whose format LibreOffice changed.
void restoreIn(const Reference<css::uno::XInterface> &document,
               const Reference<css::table::XCellRange> &sheet,
               const std::vector<css::table::CellRangeAddress> &kept) {
  Runs runs;
  css::table::CellRangeAddress box = kept.front();
  for (const auto &area : kept) {
    for (sal_Int32 column = area.StartColumn; column <= area.EndColumn; ++column)
      runs[column].emplace_back(area.StartRow, area.EndRow);
    box.StartColumn = std::min(box.StartColumn, area.StartColumn);
    box.StartRow = std::min(box.StartRow, area.StartRow);
    box.EndColumn = std::max(box.EndColumn, area.EndColumn);
    box.EndRow = std::max(box.EndRow, area.EndRow);
  }
  for (auto &[column, rows] : runs)
    std::sort(rows.begin(), rows.end());
  // Groups of cells formatted alike over the cells' bounds: as many as the sheet has runs of
  // formats there, not cells.
  auto groups =
      Reference<css::sheet::XUniqueCellFormatRangesSupplier>(
          sheet->getCellRangeByPosition(box.StartColumn, box.StartRow, box.EndColumn, box.EndRow),
          UNO_QUERY_THROW)
          ->getUniqueCellFormatRanges();
  Reference<css::util::XNumberFormatsSupplier> supplier(document, UNO_QUERY_THROW);
  Reference<css::util::XNumberFormatTypes> types(supplier->getNumberFormats(), UNO_QUERY_THROW);
  Reference<css::lang::XMultiServiceFactory> factory(document, UNO_QUERY_THROW);
  for (sal_Int32 i = 0, n = groups->getCount(); i < n; ++i) {
    Reference<css::sheet::XSheetCellRanges> group(groups->getByIndex(i), UNO_QUERY_THROW);
    sal_Int32 key = 0;
    Reference<css::beans::XPropertySet>(group, UNO_QUERY_THROW)
        ->getPropertyValue("NumberFormat") >>= key;
    const Format &format = formatFor(document, key);
    if (format.general || format.shape == Shape::Boolean)
      continue;
    std::vector<css::table::CellRangeAddress> changed;
    for (const auto &area : group->getRangeAddresses())
      for (auto column = runs.lower_bound(area.StartColumn);
           column != runs.end() && column->first <= area.EndColumn; ++column) {
        const auto &rows = column->second;
        auto run = std::lower_bound(rows.begin(), rows.end(), area.StartRow,
                                    [](const auto &r, sal_Int32 row) { return r.second < row; });
        for (; run != rows.end() && run->first <= area.EndRow; ++run)
          changed.push_back({kept.front().Sheet, column->first, std::max(run->first, area.StartRow),
                             column->first, std::min(run->second, area.EndRow)});
      }
    if (changed.empty())
      continue;
    rangesOf(factory, changed)
        ->setPropertyValue("NumberFormat", Any(types->getStandardIndex(format.locale)));
  }
}

} // namespace

KeepUnmodified::KeepUnmodified(const Reference<css::uno::XInterface> &document) {
  Reference<css::util::XModifiable> modifiable(document, UNO_QUERY);
  if (modifiable.is() && !modifiable->isModified())
    document_ = modifiable;
}

KeepUnmodified::~KeepUnmodified() {
  try {
    if (document_.is())
      document_->setModified(false);
  } catch (const css::uno::Exception &) {
    // The document or its office went away.
  }
}

// Members are made in order: the document is seen unmodified before any change is allowed, and
// made unmodified again while changes still are.
ServerChanges::ServerChanges(const Reference<css::uno::XInterface> &document)
    : unmodified_(document) {
  const rtl::OUString name("IsChangeReadOnlyEnabled");
  Reference<css::beans::XPropertySet> props(document, UNO_QUERY);
  if (!props.is() || props->getPropertyValue(name).get<bool>())
    return;
  props->setPropertyValue(name, Any(true));
  document_ = props;
}

ServerChanges::~ServerChanges() {
  try {
    if (document_.is())
      document_->setPropertyValue("IsChangeReadOnlyEnabled", Any(false));
  } catch (const css::uno::Exception &) {
    // The document or its office went away.
  }
}

void formatAsBooleans(const Reference<css::uno::XInterface> &document,
                      const std::vector<css::table::CellRangeAddress> &cells) {
  Reference<css::lang::XMultiServiceFactory> factory(document, UNO_QUERY_THROW);
  Reference<css::util::XNumberFormatsSupplier> supplier(document, UNO_QUERY_THROW);
  Reference<css::util::XNumberFormatTypes> types(supplier->getNumberFormats(), UNO_QUERY_THROW);
  rangesOf(factory, cells)
      ->setPropertyValue("NumberFormat",
                         Any(types->getStandardFormat(css::util::NumberFormat::LOGICAL,
                                                      formatFor(document, 0).locale)));
}

void keepFileCells(const Reference<css::uno::XInterface> &document,
                   const std::vector<SheetCells> &sheets) {
  Reference<css::sheet::XSpreadsheetDocument> doc(document, UNO_QUERY);
  Reference<css::lang::XMultiServiceFactory> factory(document, UNO_QUERY);
  if (!doc.is() || !factory.is())
    return;
  try {
    ServerChanges allowed(document);
    Reference<css::container::XNameAccess> names(doc->getSheets(), UNO_QUERY_THROW);
    std::vector<css::table::CellRangeAddress> general, booleans;
    for (const auto &sheet : sheets) {
      rtl::OUString name(sheet.sheet.data(), sal_Int32(sheet.sheet.size()), RTL_TEXTENCODING_UTF8);
      if ((sheet.generalFormulas.empty() && sheet.booleans.empty()) || !names->hasByName(name))
        continue;
      Reference<css::table::XCellRange> cells(names->getByName(name), UNO_QUERY_THROW);
      sal_Int16 index = Reference<css::sheet::XCellRangeAddressable>(cells, UNO_QUERY_THROW)
                            ->getRangeAddress()
                            .Sheet;
      auto runs = runsOf(index, sheet.generalFormulas);
      general.insert(general.end(), runs.begin(), runs.end());
      valuesAgain(cells, runsOf(index, sheet.booleans), booleans);
    }
    if (!booleans.empty())
      formatAsBooleans(document, booleans);
    if (general.empty())
      return;
    keptCells()[identity(document)].set(rangesOf(factory, general), UNO_QUERY_THROW);
  } catch (const css::lang::DisposedException &) {
    throw;
  } catch (const css::uno::Exception &) {
    return; // as LibreOffice loaded it
  }
  restoreGeneral(document, nullptr);
}

void restoreGeneral(const Reference<css::uno::XInterface> &document,
                    const css::table::CellRangeAddress *area) {
  auto found = keptCells().find(identity(document));
  if (found == keptCells().end())
    return;
  try {
    const auto addresses =
        area ? Reference<css::sheet::XCellRangesQuery>(found->second, UNO_QUERY_THROW)
                   ->queryIntersection(*area)
                   ->getRangeAddresses()
             : Reference<css::sheet::XSheetCellRanges>(found->second, UNO_QUERY_THROW)
                   ->getRangeAddresses();
    if (!addresses.hasElements())
      return;
    std::map<sal_Int16, std::vector<css::table::CellRangeAddress>> bySheet;
    for (const auto &address : addresses)
      bySheet[address.Sheet].push_back(address);
    ServerChanges allowed(document);
    Reference<css::container::XIndexAccess> sheets(
        Reference<css::sheet::XSpreadsheetDocument>(document, UNO_QUERY_THROW)->getSheets(),
        UNO_QUERY_THROW);
    for (const auto &[sheet, kept] : bySheet)
      restoreIn(document,
                Reference<css::table::XCellRange>(sheets->getByIndex(sheet), UNO_QUERY_THROW),
                kept);
  } catch (const css::lang::DisposedException &) {
    throw;
  } catch (const css::uno::Exception &) {
    // Formatted as LibreOffice formats it.
  }
}

void releaseGeneral(const Reference<css::uno::XInterface> &document,
                    const css::table::CellRangeAddress &area) {
  auto found = keptCells().find(identity(document));
  if (found == keptCells().end())
    return;
  try {
    auto kept = found->second;
    const auto hits = Reference<css::sheet::XCellRangesQuery>(kept, UNO_QUERY_THROW)
                          ->queryIntersection(area)
                          ->getRangeAddresses();
    // LibreOffice rebuilds the whole container for each range taken out: past a few, the rest is
    // made here and put in a new one. It takes out only a range it holds as such, not a part of
    // one it joined with others: then too.
    if (hits.getLength() <= 16) {
      try {
        for (const auto &address : hits)
          kept->removeRangeAddress(address);
        return;
      } catch (const css::container::NoSuchElementException &) {
      }
    }
    std::vector<css::table::CellRangeAddress> rest;
    for (const auto &address :
         Reference<css::sheet::XSheetCellRanges>(kept, UNO_QUERY_THROW)->getRangeAddresses())
      outside(address, area, rest);
    Reference<css::lang::XMultiServiceFactory> factory(document, UNO_QUERY_THROW);
    if (rest.empty())
      keptCells().erase(found);
    else
      found->second.set(rangesOf(factory, rest), UNO_QUERY_THROW);
  } catch (const css::lang::DisposedException &) {
    throw;
  } catch (const css::uno::Exception &) {
    // Kept: at worst a cell the host formatted reads as General again.
  }
}

void forgetGeneral(const Reference<css::uno::XInterface> &document) {
  keptCells().erase(identity(document));
}

} // namespace vlx::calc
