// Cell values through LibreOffice's sheet API: its Excel objects give dates as a struct the host
// cannot take, Boolean and error results as numbers, and texts with their format's decoration.
#include "cells.h"
#include "uno_names.h"

#include "cell_formats.h"
#include "file_cells.h"

#include "office.h"
#include "variant.h"

#include <com/sun/star/beans/XPropertySet.hpp>
#include <com/sun/star/bridge/oleautomation/Currency.hpp>
#include <com/sun/star/bridge/oleautomation/Date.hpp>
#include <com/sun/star/bridge/oleautomation/SCode.hpp>
#include <com/sun/star/lang/XMultiServiceFactory.hpp>
#include <com/sun/star/sheet/CellFlags.hpp>
#include <com/sun/star/sheet/XCellRangeAddressable.hpp>
#include <com/sun/star/sheet/XCellRangeData.hpp>
#include <com/sun/star/sheet/XCellRangeFormula.hpp>
#include <com/sun/star/sheet/XCellRangesQuery.hpp>
#include <com/sun/star/sheet/XSheetCellRangeContainer.hpp>
#include <com/sun/star/sheet/XSpreadsheetDocument.hpp>
#include <com/sun/star/table/XCell.hpp>
#include <com/sun/star/table/XCellRange.hpp>
#include <com/sun/star/util/NumberFormat.hpp>
#include <com/sun/star/util/XNumberFormatTypes.hpp>
#include <com/sun/star/util/XNumberFormatsSupplier.hpp>
#include <ooo/vba/excel/XWorksheet.hpp>
#include <rtl/ustrbuf.hxx>

#include <algorithm>
#include <cmath>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace vlx::calc {

namespace {

namespace ole = css::bridge::oleautomation;
namespace NumberFormat = css::util::NumberFormat;

// The cells of a range object in its document's sheet API; null for several areas.
Reference<css::table::XCellRange> unoCells(const Reference<css::uno::XInterface> &document,
                                           const Reference<ooo::vba::excel::XRange> &range,
                                           OUString &address) {
  Reference<css::sheet::XSpreadsheetDocument> doc(document, UNO_QUERY);
  if (!doc.is())
    throw CalcError(Fault::NoMember, "the range's workbook is unknown");
  address = range->Address(Any(false), Any(false), Any(), Any(), Any());
  if (address.indexOf(',') >= 0)
    return nullptr;
  Reference<css::table::XCellRange> sheet(
      doc->getSheets()->getByName(range->getWorksheet()->getName()), UNO_QUERY_THROW);
  return sheet->getCellRangeByName(address);
}

// Bumped by every change made through this server: types learnt before it are learnt again.
unsigned long changes = 1;

// What a value read needs to know of a cell besides its content: an empty cell and an empty
// text read alike in a block, and a number's kind is its format's.
struct CellType {
  Shape shape = Shape::Number;
  bool empty = false;
  bool formula = false;
};

using Rows = css::uno::Sequence<css::uno::Sequence<Any>>;

} // namespace

struct HeldCells {
  bool found = false;
  css::uno::Reference<css::table::XCellRange> cells; // null for a range of several areas
  css::uno::Reference<css::sheet::XCellRangeData> data;
  double size = 0; // cells, when found
  // The types as learnt at change count `learnt`, rows first.
  unsigned long learnt = 0;
  sal_Int32 rows = 0, columns = 0;
  std::vector<CellType> types;
  DateSystem dates; // the workbook's, where a cell is a date
};

namespace {

HeldCells &holdCells(const Reference<css::uno::XInterface> &document,
                     const Reference<ooo::vba::excel::XRange> &range,
                     std::shared_ptr<HeldCells> &held) {
  if (!held)
    held = std::make_shared<HeldCells>();
  if (held->found)
    return *held;
  OUString address;
  held->cells = unoCells(document, range, address);
  if (held->cells.is()) {
    held->data.set(held->cells, UNO_QUERY_THROW);
    auto area = Reference<css::sheet::XCellRangeAddressable>(held->cells, UNO_QUERY_THROW)
                    ->getRangeAddress();
    held->size = (area.EndRow - area.StartRow + 1.0) * (area.EndColumn - area.StartColumn + 1.0);
  }
  held->found = true;
  return *held;
}

void checkSize(const HeldCells &held, const char *verb = "move") {
  if (held.size > static_cast<double>(kMostBlockCells))
    throw CalcError(Fault::Failed, "the range has more than " + std::to_string(kMostBlockCells) +
                                       " cells to " + verb + " at once");
}

// The types of the block's cells in block calls: its empty cells, its formats, and the formulas
// LibreOffice reads a file's typed Boolean as (=TRUE(), keeping the cell's format, which may be a
// date's). Read after the values, which calculates formulas, which may set their cell's format.
void learnTypes(const Reference<css::uno::XInterface> &document, HeldCells &held, sal_Int32 rows,
                sal_Int32 columns) {
  const auto &cells = held.cells;
  auto origin =
      Reference<css::sheet::XCellRangeAddressable>(cells, UNO_QUERY_THROW)->getRangeAddress();
  std::vector<CellType> types(size_t(rows) * size_t(columns));
  auto at = [&](sal_Int32 row, sal_Int32 column) -> CellType & {
    return types[size_t(row) * size_t(columns) + size_t(column)];
  };
  // Formulas computed since the load take their file's General format again.
  restoreGeneral(document, &origin);
  auto formats = blockFormats(document, cells, origin, rows, columns);
  bool dates = false;
  for (size_t i = 0; i < types.size(); ++i) {
    types[i].shape = formats[i]->shape;
    dates = dates || types[i].shape == Shape::Date;
  }
  Reference<css::sheet::XCellRangesQuery> query(cells, UNO_QUERY_THROW);
  eachCell(query->queryEmptyCells()->getRangeAddresses(), origin, rows, columns,
           [&](sal_Int32 row, sal_Int32 column) { at(row, column).empty = true; });
  auto formulas = query->queryContentCells(css::sheet::CellFlags::FORMULA)->getRangeAddresses();
  eachCell(formulas, origin, rows, columns,
           [&](sal_Int32 row, sal_Int32 column) { at(row, column).formula = true; });
  bool unsure = false;
  eachCell(formulas, origin, rows, columns, [&](sal_Int32 row, sal_Int32 column) {
    unsure = unsure || at(row, column).shape != Shape::Boolean;
  });
  if (unsure) {
    auto texts =
        Reference<css::sheet::XCellRangeFormula>(cells, UNO_QUERY_THROW)->getFormulaArray();
    eachCell(formulas, origin, rows, columns, [&](sal_Int32 row, sal_Int32 column) {
      if (row < texts.getLength() && column < texts[row].getLength()) {
        const OUString &formula = texts[row][column];
        if (formula.equalsIgnoreAsciiCase("=TRUE()") || formula.equalsIgnoreAsciiCase("=FALSE()"))
          at(row, column).shape = Shape::Boolean;
      }
    });
  }
  held.dates = dates ? dateSystem(document) : DateSystem();
  held.types = std::move(types);
  held.rows = rows;
  held.columns = columns;
  held.learnt = changes;
}

// A text result an .xlsx file cached for a formula, as LibreOffice keeps it: with the file
// format's escapes of control characters (_x000D_ a carriage return) undone.
OUString unescaped(const OUString &text) {
  if (text.indexOf("_x") < 0)
    return text;
  rtl::OUStringBuffer out(text.getLength());
  for (sal_Int32 i = 0; i < text.getLength(); ++i) {
    sal_Int32 code = 0;
    bool escape =
        i + 6 < text.getLength() && text[i] == '_' && text[i + 1] == 'x' && text[i + 6] == '_';
    for (sal_Int32 k = 2; escape && k < 6; ++k) {
      sal_Unicode c = text[i + k];
      int digit = c >= '0' && c <= '9'   ? c - '0'
                  : c >= 'A' && c <= 'F' ? c - 'A' + 10
                  : c >= 'a' && c <= 'f' ? c - 'a' + 10
                                         : -1;
      escape = digit >= 0;
      code = code * 16 + digit;
    }
    if (escape) {
      out.append(static_cast<sal_Unicode>(code));
      i += 6;
    } else {
      out.append(text[i]);
    }
  }
  return out.makeStringAndClear();
}

// The day fraction of an ISO 8601 time of day (hh:mm, hh:mm:ss, hh:mm:ss.fff), which an .xlsx
// date cell may hold and LibreOffice keeps as text.
std::optional<double> isoTime(const OUString &text) {
  auto digits = [&](sal_Int32 at, sal_Int32 count) {
    int value = 0;
    for (sal_Int32 i = at; i < at + count; ++i) {
      if (i >= text.getLength() || text[i] < '0' || text[i] > '9')
        return -1;
      value = value * 10 + (text[i] - '0');
    }
    return value;
  };
  sal_Int32 length = text.getLength();
  if (length < 5 || text[2] != ':')
    return std::nullopt;
  int hours = digits(0, 2), minutes = digits(3, 2), seconds = 0;
  double fraction = 0;
  if (length > 5) {
    if (text[5] != ':' || (seconds = digits(6, 2)) < 0)
      return std::nullopt;
    if (length > 8) {
      if (text[8] != '.' || length == 9)
        return std::nullopt;
      double scale = 0.1;
      for (sal_Int32 i = 9; i < length; ++i, scale /= 10) {
        if (text[i] < '0' || text[i] > '9')
          return std::nullopt;
        fraction += (text[i] - '0') * scale;
      }
    }
  }
  if (hours < 0 || hours > 23 || minutes < 0 || minutes > 59 || seconds > 59)
    return std::nullopt;
  return ((hours * 60.0 + minutes) * 60.0 + seconds + fraction) / 86400.0;
}

// Types one cell's value as the block read gave it (a number, a text, or nothing for an error,
// typed elsewhere): the spreadsheet's typing, the same for a cell and a block. Plain numbers and
// texts stay as they came, which keeps a large block cheap.
void typeValue(Any &value, const CellType &type, bool value2, const DateSystem &dates) {
  if (value.getValueTypeClass() == css::uno::TypeClass_STRING) {
    const OUString &text = *static_cast<const OUString *>(value.getValue());
    if (type.empty && text.isEmpty())
      value.clear();
    else if (type.formula)
      value <<= unescaped(text);
    else if (auto time = type.shape == Shape::Date ? isoTime(text) : std::nullopt)
      value <<= *time;
    else
      return;
    if (!value.has<double>())
      return;
  }
  double number = 0;
  if (type.shape == Shape::Number || !(value >>= number))
    return;
  switch (type.shape) {
  case Shape::Boolean:
    value <<= number != 0;
    break;
  case Shape::Date:
    // The spreadsheet's 29 February 1900 stays a number: no OLE date names it.
    if (auto date = oleDate(number, dates); !value2 && date)
      value <<= ole::Date(*date);
    break;
  case Shape::Currency:
    if (!value2 && std::fabs(number) < 9.2e14)
      value <<= ole::Currency(static_cast<sal_Int64>(std::llround(number * 10000)));
    break;
  case Shape::Number:
    break;
  }
}

// An error cell's value (a block read gives nothing for it): one call for the cell and one for
// its error.
Any errorValue(const HeldCells &held, sal_Int32 row, sal_Int32 column) {
  if (held.types[size_t(row) * size_t(held.columns) + size_t(column)].empty)
    return Any();
  sal_Int32 code = held.cells->getCellByPosition(column, row)->getError();
  return code == 0 ? Any() : Any(ole::SCode(errorCode(code)));
}

// The number format a written value asks for, where its cell has none (Booleans: always).
enum class Needs : unsigned char { Nothing, Boolean, Date, DateTime, Currency };

struct Written {
  Rows data;
  std::vector<Needs> needs; // rows first
  // What goes in as if typed (formulas, and texts that may read as something else), by cell,
  // rows first; null where the block write's value stands.
  std::vector<std::optional<OUString>> typed;
};

// Whether LibreOffice's reading of a typed text may differ from the text: a formula, a number,
// a date, a text marked as one with a leading apostrophe.
bool readsAsTyped(const OUString &text) {
  if (text.isEmpty())
    return false;
  sal_Unicode first = text[0];
  if (first == '=' || first == '+' || first == '-' || first == '\'' || first == '(' ||
      first == '.' || first == '$')
    return true;
  for (sal_Int32 i = 0; i < text.getLength(); ++i)
    if (text[i] >= '0' && text[i] <= '9')
      return true;
  return false;
}

// A host's value for one cell: what the block write takes (a number, a text, or nothing), or
// what goes in as typed after it.
void writeCell(const Any &value, bool value2, const DateSystem &dates, Any &cell, Needs &needs,
               std::optional<OUString> &typed) {
  ole::Date date;
  ole::Currency money;
  ole::SCode error;
  OUString text;
  bool flag = false;
  double number = 0;
  if (!value.hasValue()) {
    cell <<= OUString(); // nothing there means #N/A to the block write
  } else if (value.getValueTypeClass() == css::uno::TypeClass_BOOLEAN && (value >>= flag)) {
    cell <<= flag ? 1.0 : 0.0;
    needs = Needs::Boolean;
  } else if (value >>= date) {
    cell <<= value2 ? date.Value : serialOf(date.Value, dates);
    if (!value2)
      needs = date.Value != std::floor(date.Value) ? Needs::DateTime : Needs::Date;
  } else if (value >>= money) {
    cell <<= static_cast<double>(money.Value) / 10000.0;
    if (!value2)
      needs = Needs::Currency;
  } else if (value >>= error) {
    // #N/A is what the block write makes of nothing; other errors are formulas.
    if (error.Value != static_cast<SCODE>(kCellErrorBase + 2042u))
      typed = errorFormula(error);
  } else if (value >>= text) {
    // Texts are read as typed, as Excel reads them: "42" a number, "=A1" a formula, "TRUE" a
    // Boolean (which LibreOffice would enter as 1 without its format).
    if (text.equalsIgnoreAsciiCase("TRUE") || text.equalsIgnoreAsciiCase("FALSE")) {
      cell <<= text.equalsIgnoreAsciiCase("TRUE") ? 1.0 : 0.0;
      needs = Needs::Boolean;
    } else if (readsAsTyped(text))
      typed = text;
    else
      cell <<= text;
  } else if (value >>= number) {
    cell <<= number;
  } else {
    throw CalcError(Fault::BadArgument, "a cell takes no " + toString(value.getValueTypeName()));
  }
}

// Gives the cells that asked for a format the standard one of its kind, one call per format for
// all of them; dates and currency only where the cell's format is General.
void applyFormats(const Reference<css::uno::XInterface> &document, const HeldCells &held,
                  const css::table::CellRangeAddress &origin, sal_Int32 rows, sal_Int32 columns,
                  const std::vector<Needs> &needs) {
  auto formats = blockFormats(document, held.cells, origin, rows, columns);
  Reference<css::util::XNumberFormatsSupplier> supplier(document, UNO_QUERY_THROW);
  Reference<css::util::XNumberFormatTypes> types(supplier->getNumberFormats(), UNO_QUERY_THROW);
  std::map<std::pair<Needs, const Format *>, sal_Int32> standard;
  std::map<sal_Int32, std::vector<css::table::CellRangeAddress>> groups;
  for (sal_Int32 row = 0; row < rows; ++row)
    for (sal_Int32 column = 0; column < columns; ++column) {
      size_t i = size_t(row) * size_t(columns) + size_t(column);
      if (needs[i] == Needs::Nothing || (needs[i] != Needs::Boolean && !formats[i]->general))
        continue;
      auto known = standard.find({needs[i], formats[i]});
      if (known == standard.end()) {
        sal_Int16 type = needs[i] == Needs::Boolean    ? NumberFormat::LOGICAL
                         : needs[i] == Needs::Currency ? NumberFormat::CURRENCY
                         : needs[i] == Needs::DateTime ? NumberFormat::DATETIME
                                                       : NumberFormat::DATE;
        known = standard
                    .emplace(std::make_pair(needs[i], formats[i]),
                             types->getStandardFormat(type, formats[i]->locale))
                    .first;
      }
      auto &areas = groups[known->second];
      sal_Int32 sheetRow = origin.StartRow + row, sheetColumn = origin.StartColumn + column;
      // Runs along a row are one area.
      if (!areas.empty() && areas.back().StartRow == sheetRow &&
          areas.back().EndColumn + 1 == sheetColumn) {
        areas.back().EndColumn = sheetColumn;
        continue;
      }
      areas.push_back({origin.Sheet, sheetColumn, sheetRow, sheetColumn, sheetRow});
    }
  Reference<css::lang::XMultiServiceFactory> factory(document, UNO_QUERY_THROW);
  for (const auto &[key, areas] : groups) {
    Reference<css::sheet::XSheetCellRangeContainer> ranges(
        factory->createInstance("com.sun.star.sheet.SheetCellRanges"), UNO_QUERY_THROW);
    ranges->addRangeAddresses(
        css::uno::Sequence<css::table::CellRangeAddress>(areas.data(), sal_Int32(areas.size())),
        false);
    Reference<css::beans::XPropertySet>(ranges, UNO_QUERY_THROW)
        ->setPropertyValue("NumberFormat", Any(key));
  }
}

// Writes one formula into every cell of the block in one call.
void fillFormula(const HeldCells &held, sal_Int32 rows, sal_Int32 columns,
                 const OUString &formula) {
  css::uno::Sequence<css::uno::Sequence<OUString>> texts(rows);
  for (sal_Int32 row = 0; row < rows; ++row) {
    auto &line = texts.getArray()[row];
    line.realloc(columns);
    for (sal_Int32 column = 0; column < columns; ++column)
      line.getArray()[column] = formula;
  }
  Reference<css::sheet::XCellRangeFormula>(held.cells, UNO_QUERY_THROW)->setFormulaArray(texts);
}

// Enters the cells that go in as typed (LibreOffice's block write takes values only), one call
// for each rectangle of them: runs along a row, joined down the rows while they span the same
// columns.
void typeIn(const HeldCells &held, sal_Int32 rows, sal_Int32 columns,
            const std::vector<std::optional<OUString>> &typed) {
  struct Area {
    sal_Int32 top, bottom, left, right;
  };
  std::vector<Area> done, open;
  for (sal_Int32 row = 0; row < rows; ++row) {
    std::vector<Area> next;
    for (sal_Int32 column = 0; column < columns; ++column) {
      if (!typed[size_t(row) * size_t(columns) + size_t(column)])
        continue;
      if (!next.empty() && next.back().top == row && next.back().right + 1 == column)
        next.back().right = column;
      else
        next.push_back({row, row, column, column});
    }
    // A run under an area of the same columns makes it one row taller.
    for (auto &run : next) {
      auto above = std::find_if(open.begin(), open.end(), [&](const Area &area) {
        return area.left == run.left && area.right == run.right;
      });
      if (above != open.end()) {
        run.top = above->top;
        open.erase(above);
      }
    }
    done.insert(done.end(), open.begin(), open.end());
    open = std::move(next);
  }
  done.insert(done.end(), open.begin(), open.end());
  for (const auto &area : done) {
    css::uno::Sequence<css::uno::Sequence<OUString>> texts(area.bottom - area.top + 1);
    for (sal_Int32 row = area.top; row <= area.bottom; ++row) {
      auto &line = texts.getArray()[row - area.top];
      line.realloc(area.right - area.left + 1);
      for (sal_Int32 column = area.left; column <= area.right; ++column)
        line.getArray()[column - area.left] =
            *typed[size_t(row) * size_t(columns) + size_t(column)];
    }
    Reference<css::sheet::XCellRangeFormula>(
        held.cells->getCellRangeByPosition(area.left, area.top, area.right, area.bottom),
        UNO_QUERY_THROW)
        ->setFormulaArray(texts);
  }
}

} // namespace

std::optional<Any> rangeValue(const Reference<css::uno::XInterface> &document,
                              const Reference<ooo::vba::excel::XRange> &range,
                              std::shared_ptr<HeldCells> &kept, bool value2) {
  HeldCells &held = holdCells(document, range, kept);
  if (!held.cells.is())
    return std::nullopt;
  checkSize(held);
  Rows data = held.data->getDataArray();
  sal_Int32 rows = data.getLength(), columns = rows ? data[0].getLength() : 0;
  if (rows == 0 || columns == 0 || std::any_of(data.begin(), data.end(), [&](const auto &line) {
        return line.getLength() != columns;
      }))
    throw CalcError(Fault::Failed, "LibreOffice gave the range's values in rows of unlike length");
  if (held.learnt != changes || held.rows != rows || held.columns != columns)
    learnTypes(document, held, rows, columns);
  const CellType *type = held.types.data();
  for (sal_Int32 row = 0; row < rows; ++row) {
    Any *line = data.getArray()[row].getArray();
    for (sal_Int32 column = 0; column < columns; ++column, ++type) {
      if (line[column].hasValue())
        typeValue(line[column], *type, value2, held.dates);
      else
        line[column] = errorValue(held, row, column);
    }
  }
  if (rows == 1 && columns == 1)
    return data[0][0];
  return Any(data);
}

bool putRangeValue(const Reference<css::uno::XInterface> &document,
                   const Reference<ooo::vba::excel::XRange> &range,
                   std::shared_ptr<HeldCells> &kept, const Any &value, bool value2) {
  Rows source;
  if (!(value >>= source)) {
    ole::Date date;
    ole::Currency money;
    ole::SCode error;
    if (!(value >>= date) && !(value >>= money) && !(value >>= error)) {
      // LibreOffice's own put fills cell by cell: the whole sheet would take days.
      checkSize(holdCells(document, range, kept), "fill");
      return false;
    }
    css::uno::Sequence<Any> row(&value, 1);
    source = Rows(&row, 1);
  }
  sal_Int32 sourceRows = source.getLength(), sourceColumns = sourceRows ? source[0].getLength() : 0;
  for (const auto &line : source)
    if (line.getLength() != sourceColumns || sourceColumns == 0)
      throw CalcError(Fault::BadArgument, "an array of values needs rows of one length");
  HeldCells &held = holdCells(document, range, kept);
  if (!held.cells.is())
    throw CalcError(Fault::BadArgument, "an array, date, currency or error value goes to one area");
  checkSize(held);
  auto origin =
      Reference<css::sheet::XCellRangeAddressable>(held.cells, UNO_QUERY_THROW)->getRangeAddress();
  sal_Int32 rows = origin.EndRow - origin.StartRow + 1,
            columns = origin.EndColumn - origin.StartColumn + 1;
  // A single row or column repeats; an array too small for the range leaves #N/A beyond it.
  sal_Int32 usedRows = sourceRows == 1 ? rows : std::min(rows, sourceRows),
            usedColumns = sourceColumns == 1 ? columns : std::min(columns, sourceColumns);
  ole::SCode single;
  OUString formula;
  if (sourceRows == 1 && sourceColumns == 1 &&
      ((source[0][0] >>= single) ||
       ((source[0][0] >>= formula) && formula.getLength() > 1 && formula[0] == '='))) {
    // One error or formula for the whole range: one call.
    fillFormula(held, rows, columns, formula.isEmpty() ? errorFormula(single) : formula);
    return true;
  }
  // Value2 takes the workbook's own serial, as it gives it.
  bool dates = false;
  for (const auto &line : source)
    for (const Any &element : line)
      dates = dates || element.getValueType() == cppu::UnoType<ole::Date>::get();
  DateSystem system = value2 || !dates ? DateSystem() : dateSystem(document);
  Written written;
  written.data.realloc(rows);
  written.needs.assign(size_t(rows) * size_t(columns), Needs::Nothing);
  written.typed.resize(size_t(rows) * size_t(columns));
  bool formats = false;
  for (sal_Int32 row = 0; row < usedRows; ++row) {
    auto &line = written.data.getArray()[row];
    line.realloc(columns);
    for (sal_Int32 column = 0; column < usedColumns; ++column) {
      size_t at = size_t(row) * size_t(columns) + size_t(column);
      Needs &needs = written.needs[at];
      writeCell(source[sourceRows == 1 ? 0 : row][sourceColumns == 1 ? 0 : column], value2, system,
                line.getArray()[column], needs, written.typed[at]);
      formats = formats || needs != Needs::Nothing;
    }
  }
  // The cells beyond the array are left with nothing: #N/A.
  for (sal_Int32 row = usedRows; row < rows; ++row)
    written.data.getArray()[row].realloc(columns);
  held.data->setDataArray(written.data);
  typeIn(held, rows, columns, written.typed);
  if (formats)
    applyFormats(document, held, origin, rows, columns, written.needs);
  return true;
}

bool isBooleanConstant(const Reference<css::uno::XInterface> &document,
                       const Reference<ooo::vba::excel::XRange> &range) {
  OUString address;
  auto cells = unoCells(document, range, address);
  if (!cells.is() || address.indexOf(':') >= 0)
    return false;
  auto cell = cells->getCellByPosition(0, 0);
  sal_Int32 key = 0;
  return cell->getType() == css::table::CellContentType_VALUE &&
         (Reference<css::beans::XPropertySet>(cell, UNO_QUERY_THROW)
              ->getPropertyValue("NumberFormat") >>= key) &&
         formatFor(document, key).shape == Shape::Boolean;
}

void rangeWritten(const Reference<css::uno::XInterface> &document,
                  const Reference<ooo::vba::excel::XRange> &range) {
  OUString address;
  if (auto cells = unoCells(document, range, address); cells.is())
    releaseGeneral(
        document,
        Reference<css::sheet::XCellRangeAddressable>(cells, UNO_QUERY_THROW)->getRangeAddress());
}

void cellsChanged() { ++changes; }

} // namespace vlx::calc
