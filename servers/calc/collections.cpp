// Look-ups in the object model's collections: see collections.h.
#include "collections.h"
#include "uno_names.h"
#include "load.h"
#include "office.h"
#include "workbook_documents.h"

#include <com/sun/star/beans/XPropertySet.hpp>
#include <com/sun/star/container/XIndexAccess.hpp>
#include <com/sun/star/drawing/XDrawPageSupplier.hpp>
#include <com/sun/star/frame/XModel.hpp>
#include <com/sun/star/sheet/CellFlags.hpp>
#include <com/sun/star/sheet/XCellRangesQuery.hpp>
#include <com/sun/star/sheet/XSheetCellRanges.hpp>
#include <com/sun/star/sheet/XSpreadsheetDocument.hpp>
#include <ooo/vba/XDocumentBase.hpp>
#include <ooo/vba/excel/XName.hpp>
#include <ooo/vba/excel/XWorksheet.hpp>

namespace vlx::calc {

namespace vba = ooo::vba;
namespace xl = ooo::vba::excel;

namespace {

// The name of a collection's item, whatever its kind.
OUString itemName(const Reference<css::uno::XInterface> &item) {
  if (Reference<xl::XWorksheet> sheet{item, UNO_QUERY}; sheet.is())
    return sheet->getName();
  if (Reference<xl::XName> name{item, UNO_QUERY}; name.is())
    return name->getName();
  if (Reference<vba::XDocumentBase> doc{item, UNO_QUERY}; doc.is())
    return doc->getName();
  return OUString();
}

} // namespace

Any guardedItem(const Reference<vba::XCollection> &items, const Any &index) {
  sal_Int32 count = items->getCount();
  OUString name;
  if (index >>= name) {
    for (sal_Int32 i = 1; i <= count; ++i) {
      Any found = items->Item(Any(i), Any());
      Reference<css::uno::XInterface> item(found, UNO_QUERY);
      if (itemName(item).equalsIgnoreAsciiCase(name))
        return found;
    }
    throw CalcError(Fault::NotFound, "no item is named '" + toString(name) + "'");
  }
  double position = 0;
  if (!(index >>= position))
    throw CalcError(Fault::BadArgument, "an index is a number or a name");
  if (position < 1 || position > count)
    throw CalcError(Fault::NotFound, "no item " + toString(OUString::number(position)) + " among " +
                                         std::to_string(count));
  return items->Item(Any(static_cast<sal_Int32>(position)), Any());
}

Any ownWorkbook(const Any &index) {
  auto own = ownDocuments();
  OUString name;
  if (index >>= name) {
    for (const auto &document : own) {
      Any book = bookOf(Reference<css::frame::XModel>(document, UNO_QUERY));
      if (itemName(Reference<css::uno::XInterface>(book, UNO_QUERY)).equalsIgnoreAsciiCase(name))
        return book;
    }
    throw CalcError(Fault::NotFound, "no item is named '" + toString(name) + "'");
  }
  double position = 0;
  if (!(index >>= position))
    throw CalcError(Fault::BadArgument, "an index is a number or a name");
  if (position < 1 || position > static_cast<double>(own.size()))
    throw CalcError(Fault::NotFound, "no item " + toString(OUString::number(position)) + " among " +
                                         std::to_string(own.size()));
  return bookOf(Reference<css::frame::XModel>(own[static_cast<size_t>(position) - 1], UNO_QUERY));
}

Any indexed(const Any &collection, const Any &index) {
  if (!index.hasValue())
    return collection;
  return guardedItem(Reference<vba::XCollection>(collection, UNO_QUERY_THROW), index);
}

std::vector<sal_Int32> sheetPositions(const Reference<css::uno::XInterface> &document,
                                      bool charts) {
  static const OUString chartClass("12dcae26-281f-416f-a234-c3086127382e");
  std::vector<sal_Int32> positions;
  Reference<css::sheet::XSpreadsheetDocument> doc(document, UNO_QUERY);
  if (!doc.is())
    throw CalcError(Fault::NoMember, "the workbook's document is unknown");
  Reference<css::container::XIndexAccess> sheets(doc->getSheets(), UNO_QUERY_THROW);
  for (sal_Int32 i = 0, n = sheets->getCount(); i < n; ++i) {
    Any sheet = sheets->getByIndex(i);
    bool chart = false;
    Reference<css::drawing::XDrawPageSupplier> page(sheet, UNO_QUERY);
    // A sheet's drawing objects have no other way in than this deprecated one.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    Reference<css::container::XIndexAccess> shapes(page.is() ? page->getDrawPage() : nullptr,
                                                   UNO_QUERY);
#pragma GCC diagnostic pop
    if (shapes.is() && shapes->getCount() == 1) {
      Reference<css::beans::XPropertySet> shape(shapes->getByIndex(0), UNO_QUERY);
      OUString kind;
      if (shape.is() && shape->getPropertySetInfo()->hasPropertyByName("CLSID") &&
          (shape->getPropertyValue("CLSID") >>= kind) && kind.equalsIgnoreAsciiCase(chartClass)) {
        namespace flags = css::sheet::CellFlags;
        Reference<css::sheet::XCellRangesQuery> query(sheet, UNO_QUERY_THROW);
        chart =
            query
                ->queryContentCells(flags::VALUE | flags::DATETIME | flags::STRING | flags::FORMULA)
                ->getCount() == 0;
      }
    }
    if (chart == charts)
      positions.push_back(i + 1);
  }
  return positions;
}

Any sheetItem(const Reference<vba::XCollection> &items, const std::vector<sal_Int32> &positions,
              const Any &index) {
  OUString name;
  if (index >>= name) {
    for (sal_Int32 position : positions) {
      Any found = items->Item(Any(position), Any());
      if (itemName(Reference<css::uno::XInterface>(found, UNO_QUERY)).equalsIgnoreAsciiCase(name))
        return found;
    }
    throw CalcError(Fault::NotFound, "no item is named '" + toString(name) + "'");
  }
  double position = 0;
  if (!(index >>= position))
    throw CalcError(Fault::BadArgument, "an index is a number or a name");
  if (position < 1 || position > static_cast<double>(positions.size()))
    throw CalcError(Fault::NotFound, "no item " + toString(OUString::number(position)) + " among " +
                                         std::to_string(positions.size()));
  return items->Item(Any(positions[static_cast<size_t>(position) - 1]), Any());
}

Any sheetsOfKind(const Reference<css::uno::XInterface> &document, const Any &collection,
                 const Any &index, bool charts) {
  if (!index.hasValue())
    return collection;
  return sheetItem(Reference<vba::XCollection>(collection, UNO_QUERY_THROW),
                   sheetPositions(document, charts), index);
}

} // namespace vlx::calc
