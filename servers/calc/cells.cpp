// Cell values through LibreOffice's sheet API: its Excel objects give dates as a struct the host
// cannot take, Boolean and error results as numbers, and texts with their format's decoration.
#include "cells.h"

#include "office.h"
#include "variant.h"

#include <com/sun/star/beans/XPropertySet.hpp>
#include <com/sun/star/bridge/oleautomation/Currency.hpp>
#include <com/sun/star/bridge/oleautomation/Date.hpp>
#include <com/sun/star/bridge/oleautomation/SCode.hpp>
#include <com/sun/star/container/XIndexAccess.hpp>
#include <com/sun/star/lang/DisposedException.hpp>
#include <com/sun/star/lang/Locale.hpp>
#include <com/sun/star/sheet/CellFlags.hpp>
#include <com/sun/star/sheet/FormulaResult.hpp>
#include <com/sun/star/sheet/XCalculatable.hpp>
#include <com/sun/star/sheet/XCellRangeAddressable.hpp>
#include <com/sun/star/sheet/XCellRangeData.hpp>
#include <com/sun/star/sheet/XCellRangeFormula.hpp>
#include <com/sun/star/sheet/XCellRangesQuery.hpp>
#include <com/sun/star/sheet/XSpreadsheetDocument.hpp>
#include <com/sun/star/table/XCell.hpp>
#include <com/sun/star/table/XCellRange.hpp>
#include <com/sun/star/text/XText.hpp>
#include <com/sun/star/util/Date.hpp>
#include <com/sun/star/util/NumberFormat.hpp>
#include <com/sun/star/util/XModifiable.hpp>
#include <com/sun/star/util/XNumberFormatTypes.hpp>
#include <com/sun/star/util/XNumberFormatsSupplier.hpp>
#include <ooo/vba/excel/XWorksheet.hpp>

#include <cmath>
#include <cstring>
#include <set>
#include <vector>

namespace vlx::calc {

namespace {

using css::uno::Any;
using css::uno::Reference;
using css::uno::UNO_QUERY;
using css::uno::UNO_QUERY_THROW;
namespace ole = css::bridge::oleautomation;
namespace NumberFormat = css::util::NumberFormat;

// The seven cell errors: the spreadsheet's number, its text, and LibreOffice's codes for it.
struct CellError {
  int number;
  const char *text;
  std::initializer_list<sal_uInt16> codes;
};
const CellError kErrors[] = {
    {2000, "#NULL!", {521}},
    {2007, "#DIV/0!", {532}},
    {2015, "#VALUE!", {519, 504, 507, 508, 509, 510, 511, 512, 513, 522, 523}},
    {2023, "#REF!", {524}},
    {2029, "#NAME?", {525, 530, 531}},
    // LibreOffice's "invalid argument" is what the spreadsheet calls #NUM! (SQRT(-1), LN(0)).
    {2036, "#NUM!", {502, 503}},
    {2042, "#N/A", {32767}},
};

SCODE errorCode(sal_Int32 libreOfficeError) {
  for (const auto &error : kErrors)
    for (sal_uInt16 code : error.codes)
      if (code == libreOfficeError)
        return static_cast<SCODE>(kCellErrorBase + static_cast<unsigned>(error.number));
  return static_cast<SCODE>(kCellErrorBase + 2015u);
}

// Days from 1 January 1970 to a date of the proleptic Gregorian calendar.
long daysFromCivil(long y, unsigned m, unsigned d) {
  y -= m <= 2;
  const long era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<long>(doe) - 719468;
}

// What an OLE date counts from (30 December 1899) to the workbook's day 0: 1462 in a 1904
// workbook.
double dateOffset(const Reference<css::uno::XInterface> &document) {
  css::util::Date nullDate;
  Reference<css::beans::XPropertySet> props(document, UNO_QUERY);
  if (!props.is() || !(props->getPropertyValue("NullDate") >>= nullDate))
    return 0;
  return static_cast<double>(daysFromCivil(nullDate.Year, nullDate.Month, nullDate.Day) -
                             daysFromCivil(1899, 12, 30));
}

// Whether a format code shows a currency: a currency symbol outside brackets, or a bracketed
// [$symbol-locale] (not a bare [$-locale]).
bool showsCurrency(const OUString &code) {
  bool quoted = false;
  for (sal_Int32 i = 0; i < code.getLength(); ++i) {
    sal_Unicode c = code[i];
    if (c == '"') {
      quoted = !quoted;
    } else if (!quoted && c == '\\') {
      ++i;
      if (i < code.getLength() && (code[i] == '$' || code[i] > 0x7F))
        return true;
    } else if (!quoted && c == '[') {
      if (i + 2 < code.getLength() && code[i + 1] == '$' && code[i + 2] != '-' &&
          code[i + 2] != ']')
        return true;
      sal_Int32 end = code.indexOf(']', i);
      i = end < 0 ? code.getLength() : end;
    } else if (c == '$' || c == 0x00A3 || c == 0x00A5 || c == 0x20AC || c == 0x20B9) {
      return true;
    }
  }
  return false;
}

enum class Shape { Number, Boolean, Date, Currency };

struct Format {
  Shape shape = Shape::Number;
  bool general = false;
  css::lang::Locale locale;
};

Format formatOf(const Reference<css::uno::XInterface> &document,
                const Reference<css::beans::XPropertySet> &cell) {
  Format format;
  sal_Int32 key = 0;
  cell->getPropertyValue("NumberFormat") >>= key;
  Reference<css::util::XNumberFormatsSupplier> supplier(document, UNO_QUERY_THROW);
  auto formats = supplier->getNumberFormats();
  auto props = formats->getByKey(key);
  sal_Int16 type = 0;
  OUString code;
  props->getPropertyValue("Type") >>= type;
  props->getPropertyValue("FormatString") >>= code;
  props->getPropertyValue("Locale") >>= format.locale;
  if (type & NumberFormat::LOGICAL)
    format.shape = Shape::Boolean;
  else if (type & NumberFormat::DATE)
    format.shape = Shape::Date;
  else if ((type & NumberFormat::CURRENCY) || showsCurrency(code))
    format.shape = Shape::Currency;
  Reference<css::util::XNumberFormatTypes> types(formats, UNO_QUERY);
  format.general = types.is() && types->getStandardIndex(format.locale) == key;
  return format;
}

// A cell's text as typed, without what a text format adds around it.
OUString typedText(const Reference<css::table::XCell> &cell) {
  Reference<css::text::XText> text(cell, UNO_QUERY_THROW);
  auto cursor = text->createTextCursor();
  cursor->gotoStart(false);
  cursor->gotoEnd(true);
  return cursor->getString();
}

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

const int kMostCells = 4096;

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

void holdCalculationOf(const Reference<css::uno::XInterface> &document) {
  Reference<css::sheet::XCalculatable> calculation(document, UNO_QUERY);
  Reference<css::sheet::XSpreadsheetDocument> doc(document, UNO_QUERY);
  Reference<css::util::XModifiable> modifiable(document, UNO_QUERY);
  if (!calculation.is() || !doc.is() || !calculation->isAutomaticCalculationEnabled())
    return;
  bool modified = modifiable.is() && modifiable->isModified();
  // Reading a result computes it (and what it needs) and nothing else; calculation is turned off
  // after, as turning it on again would compute the volatile formulas. Blocks without a volatile
  // formula are read at once, the other cells one by one.
  Reference<css::container::XIndexAccess> sheets(doc->getSheets(), UNO_QUERY_THROW);
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
    }
  }
  calculation->enableAutomaticCalculation(false);
  if (modifiable.is() && !modified)
    modifiable->setModified(false);
  heldDocuments().insert(Reference<css::uno::XInterface>(document, UNO_QUERY));
}

} // namespace

std::optional<Any> cellValue(const Reference<css::uno::XInterface> &document,
                             const Reference<ooo::vba::excel::XRange> &range, bool value2) {
  OUString address;
  auto cells = unoCells(document, range, address);
  if (!cells.is() || address.indexOf(':') >= 0)
    return std::nullopt;
  Reference<css::table::XCell> cell = cells->getCellByPosition(0, 0);
  Reference<css::beans::XPropertySet> props(cell, UNO_QUERY_THROW);
  switch (cell->getType()) {
  case css::table::CellContentType_EMPTY:
    return Any();
  case css::table::CellContentType_TEXT:
    return Any(typedText(cell));
  case css::table::CellContentType_FORMULA: {
    sal_Int32 result = css::sheet::FormulaResult::VALUE;
    props->getPropertyValue("FormulaResultType2") >>= result;
    if (result == css::sheet::FormulaResult::ERROR)
      return Any(ole::SCode(errorCode(cell->getError())));
    if (result == css::sheet::FormulaResult::STRING)
      return Any(typedText(cell));
    break;
  }
  default:
    break;
  }
  double number = cell->getValue();
  Shape shape = formatOf(document, props).shape;
  // LibreOffice reads a file's typed Boolean as this formula, keeping the cell's format, which
  // may be a date's.
  if (shape != Shape::Boolean && cell->getType() == css::table::CellContentType_FORMULA) {
    OUString formula = cell->getFormula();
    if (formula.equalsIgnoreAsciiCase("=TRUE()") || formula.equalsIgnoreAsciiCase("=FALSE()"))
      shape = Shape::Boolean;
  }
  switch (shape) {
  case Shape::Boolean:
    return Any(number != 0);
  case Shape::Date:
    return value2 ? Any(number) : Any(ole::Date(number + dateOffset(document)));
  case Shape::Currency:
    if (!value2 && std::fabs(number) < 9.2e14)
      return Any(ole::Currency(static_cast<sal_Int64>(std::llround(number * 10000))));
    return Any(number);
  case Shape::Number:
    break;
  }
  return Any(number);
}

bool putCellValue(const Reference<css::uno::XInterface> &document,
                  const Reference<ooo::vba::excel::XRange> &range, const Any &value, bool value2) {
  ole::Date date;
  ole::Currency money;
  ole::SCode error;
  bool isDate = value >>= date, isMoney = value >>= money, isError = value >>= error;
  if (!isDate && !isMoney && !isError)
    return false;
  OUString address;
  auto cells = unoCells(document, range, address);
  if (!cells.is())
    throw CalcError(Fault::BadArgument, "a date, currency or error value goes to one area");
  auto area =
      Reference<css::sheet::XCellRangeAddressable>(cells, UNO_QUERY_THROW)->getRangeAddress();
  // One call a cell: a large area takes dates and currency as plain numbers.
  double size = (area.EndRow - area.StartRow + 1.0) * (area.EndColumn - area.StartColumn + 1.0);
  if (size > kMostCells) {
    if (isError)
      throw CalcError(Fault::BadArgument, "an error value goes to at most " +
                                              std::to_string(kMostCells) + " cells here");
    return false;
  }
  OUString formula;
  double number = 0;
  if (isError) {
    for (const auto &known : kErrors)
      if (error.Value == static_cast<SCODE>(kCellErrorBase + static_cast<unsigned>(known.number)))
        formula = "=" + OUString::createFromAscii(known.text);
  } else if (isDate) {
    // Value2 takes the workbook's own serial, as it gives it.
    number = date.Value - (value2 ? 0 : dateOffset(document));
  } else {
    number = static_cast<double>(money.Value) / 10000.0;
  }
  for (sal_Int32 row = 0; row <= area.EndRow - area.StartRow; ++row)
    for (sal_Int32 column = 0; column <= area.EndColumn - area.StartColumn; ++column) {
      Reference<css::table::XCell> cell = cells->getCellByPosition(column, row);
      if (isError) {
        cell->setFormula(formula);
        continue;
      }
      cell->setValue(number);
      Reference<css::beans::XPropertySet> props(cell, UNO_QUERY_THROW);
      Format format = formatOf(document, props);
      if (!format.general || value2)
        continue;
      sal_Int16 type = isMoney                                ? NumberFormat::CURRENCY
                       : date.Value != std::floor(date.Value) ? NumberFormat::DATETIME
                                                              : NumberFormat::DATE;
      Reference<css::util::XNumberFormatsSupplier> supplier(document, UNO_QUERY_THROW);
      Reference<css::util::XNumberFormatTypes> types(supplier->getNumberFormats(), UNO_QUERY_THROW);
      props->setPropertyValue("NumberFormat", Any(types->getStandardFormat(type, format.locale)));
    }
  return true;
}

void holdCalculation(const Reference<css::uno::XInterface> &document) {
  try {
    holdCalculationOf(document);
  } catch (const css::lang::DisposedException &) {
    throw;
  } catch (const css::uno::Exception &) {
    // The workbook still opens, calculated as LibreOffice calculates it.
  }
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
