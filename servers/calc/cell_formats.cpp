// Cell errors, the workbook's date system and number formats, as the cells' values need them.
#include "cell_formats.h"

#include "office.h"
#include "variant.h"

#include <com/sun/star/beans/XPropertySet.hpp>
#include <com/sun/star/frame/XModel.hpp>
#include <com/sun/star/sheet/XSheetCellRanges.hpp>
#include <com/sun/star/sheet/XUniqueCellFormatRangesSupplier.hpp>
#include <com/sun/star/util/Date.hpp>
#include <com/sun/star/util/NumberFormat.hpp>
#include <com/sun/star/util/XNumberFormatTypes.hpp>
#include <com/sun/star/util/XNumberFormatsSupplier.hpp>

#include <cmath>
#include <map>

namespace vlx::calc {

namespace {

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

// Days from 1 January 1970 to a date of the proleptic Gregorian calendar.
long daysFromCivil(long y, unsigned m, unsigned d) {
  y -= m <= 2;
  const long era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<long>(doe) - 719468;
}

// An OLE date before day 0 holds its time of day as a positive fraction (-1.25 is 29 December
// 1899, 06:00); a serial counts on (-1.25 is 28 December, 18:00).
double oleFromDays(double days) {
  double day = std::floor(days), time = days - day;
  return days >= 0 || time == 0 ? days : day - time;
}

double daysFromOle(double date) {
  double day = std::ceil(date), time = day - date;
  return date >= 0 || time == 0 ? date : day + time;
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

Format describeFormat(const Reference<css::uno::XInterface> &document, sal_Int32 key) {
  Format format;
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
  else if (type & (NumberFormat::DATE | NumberFormat::TIME))
    format.shape = Shape::Date;
  else if ((type & NumberFormat::CURRENCY) || showsCurrency(code))
    format.shape = Shape::Currency;
  Reference<css::util::XNumberFormatTypes> types(formats, UNO_QUERY);
  format.general = types.is() && types->getStandardIndex(format.locale) == key;
  return format;
}

// A document's number formats by key, as read: a key's format never changes.
std::map<Reference<css::uno::XInterface>, std::map<sal_Int32, Format>> &knownFormats() {
  static std::map<Reference<css::uno::XInterface>, std::map<sal_Int32, Format>> known;
  return known;
}

} // namespace

SCODE errorCode(sal_Int32 libreOfficeError) {
  for (const auto &error : kErrors)
    for (sal_uInt16 code : error.codes)
      if (code == libreOfficeError)
        return static_cast<SCODE>(kCellErrorBase + static_cast<unsigned>(error.number));
  return static_cast<SCODE>(kCellErrorBase + 2015u);
}

OUString errorFormula(const ole::SCode &error) {
  for (const auto &known : kErrors)
    if (error.Value == static_cast<SCODE>(kCellErrorBase + static_cast<unsigned>(known.number)))
      return "=" + OUString::createFromAscii(known.text);
  throw CalcError(Fault::BadArgument, "not a cell error");
}

DateSystem dateSystem(const Reference<css::uno::XInterface> &document) {
  DateSystem system;
  css::util::Date nullDate;
  Reference<css::beans::XPropertySet> props(document, UNO_QUERY);
  if (!props.is() || !(props->getPropertyValue("NullDate") >>= nullDate))
    return system;
  system.offset = static_cast<double>(daysFromCivil(nullDate.Year, nullDate.Month, nullDate.Day) -
                                      daysFromCivil(1899, 12, 30));
  // A new workbook comes from an OpenDocument template, but has no file yet.
  OUString filter;
  Reference<css::frame::XModel> model(document, UNO_QUERY);
  if (model.is() && !model->getURL().isEmpty())
    for (const auto &arg : model->getArgs())
      if (arg.Name == "FilterName")
        arg.Value >>= filter;
  system.leap1900 = system.offset == 0 && !filter.startsWith("calc8") &&
                    !filter.startsWith("StarOffice XML") && !filter.startsWith("calc_StarOffice");
  return system;
}

std::optional<double> oleDate(double serial, const DateSystem &system) {
  if (system.leap1900 && serial >= 1 && serial < 61) {
    if (serial >= 60)
      return std::nullopt;
    serial += 1;
  }
  return oleFromDays(serial + system.offset);
}

double serialOf(double date, const DateSystem &system) {
  double serial = daysFromOle(date) - system.offset;
  return system.leap1900 && serial >= 1 && serial < 61 ? serial - 1 : serial;
}

const Format &formatFor(const Reference<css::uno::XInterface> &document, sal_Int32 key) {
  auto &formats = knownFormats()[Reference<css::uno::XInterface>(document, UNO_QUERY)];
  auto found = formats.find(key);
  if (found == formats.end())
    found = formats.emplace(key, describeFormat(document, key)).first;
  return found->second;
}

std::vector<const Format *> blockFormats(const Reference<css::uno::XInterface> &document,
                                         const Reference<css::table::XCellRange> &cells,
                                         const css::table::CellRangeAddress &origin, sal_Int32 rows,
                                         sal_Int32 columns) {
  const Format &general = formatFor(document, 0);
  std::vector<const Format *> formats(size_t(rows) * size_t(columns), &general);
  auto groups = Reference<css::sheet::XUniqueCellFormatRangesSupplier>(cells, UNO_QUERY_THROW)
                    ->getUniqueCellFormatRanges();
  for (sal_Int32 i = 0, n = groups->getCount(); i < n; ++i) {
    Reference<css::sheet::XSheetCellRanges> group(groups->getByIndex(i), UNO_QUERY_THROW);
    sal_Int32 key = 0;
    Reference<css::beans::XPropertySet>(group, UNO_QUERY_THROW)
        ->getPropertyValue("NumberFormat") >>= key;
    const Format *format = &formatFor(document, key);
    eachCell(group->getRangeAddresses(), origin, rows, columns,
             [&](sal_Int32 row, sal_Int32 column) {
               formats[size_t(row) * size_t(columns) + size_t(column)] = format;
             });
  }
  return formats;
}

void forgetDocument(const Reference<css::uno::XInterface> &document) {
  knownFormats().erase(Reference<css::uno::XInterface>(document, UNO_QUERY));
}

} // namespace vlx::calc
