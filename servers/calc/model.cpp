// The members of each spreadsheet object, each a call on LibreOffice's typed ooo.vba.excel
// interfaces, and their look-up by DISPID and name.
#include "model.h"
#include "arguments.h"
#include "cells.h"
#include "collections.h"
#include "load.h"
#include "uno_names.h"
#include "variant.h"
#include "workbook_documents.h"
#include "workbook_files.h"

#include <com/sun/star/awt/XWindow.hpp>
#include <com/sun/star/beans/PropertyValue.hpp>
#include <com/sun/star/frame/XComponentLoader.hpp>
#include <com/sun/star/frame/XController.hpp>
#include <com/sun/star/frame/XFrame.hpp>
#include <com/sun/star/frame/XModel.hpp>
#include <com/sun/star/frame/XStorable.hpp>
#include <com/sun/star/io/IOException.hpp>
#include <com/sun/star/lang/XMultiServiceFactory.hpp>
#include <com/sun/star/script/BasicErrorException.hpp>
#include <ooo/vba/XApplicationBase.hpp>
#include <ooo/vba/XCollection.hpp>
#include <ooo/vba/XDocumentBase.hpp>
#include <ooo/vba/excel/XName.hpp>
#include <ooo/vba/excel/XNames.hpp>
#include <ooo/vba/excel/XPane.hpp>
#include <ooo/vba/excel/XRange.hpp>
#include <ooo/vba/excel/XWindow.hpp>
#include <ooo/vba/excel/XWorkbook.hpp>
#include <ooo/vba/excel/XWorksheet.hpp>
#include <ooo/vba/excel/XWorksheets.hpp>

#include <cstring>
#include <string>
#include <strings.h>

namespace vlx::calc {

namespace {

namespace vba = ooo::vba;
namespace xl = ooo::vba::excel;

// The object's UNO interface T; LibreOffice's objects do not all implement every base.
template <class T> Reference<T> as(const Object &self) {
  Reference<T> ref(self.ref, UNO_QUERY);
  if (!ref.is())
    throw CalcError(Fault::NoMember, std::string("LibreOffice's ") + kindName(self.kind) +
                                         " object lacks this member");
  return ref;
}

Reference<xl::XApplication> app() { return Office::instance().application(); }

void needView(const char *what);

// The application's members that act on the active workbook: a headless office has no active
// document, and LibreOffice fails on them, or ends.
Reference<xl::XApplication> activeApp(const char *what) {
  needView(what);
  return app();
}

void needView(const char *what) {
  if (Office::instance().hasView())
    return;
  if (Office::instance().shared())
    throw CalcError(Fault::NoView, std::string(what) +
                                       " needs a window: the shared office runs headless (unset "
                                       "VELMORA_CALC_KEEP_SECONDS for an office of your own)");
  throw CalcError(Fault::NoView, std::string(what) +
                                     " needs a window: LibreOffice runs headless here (no "
                                     "DISPLAY and no Xvfb; apt-get install xvfb)");
}

template <class T> Any wrap(const Reference<T> &ref) { return Any(ref); }

// The names of the workbook a range lives in. (A range's worksheet has no parent workbook in
// LibreOffice, and its Names are the sheet's own.) A range reached from the application is
// the active workbook's.
Reference<vba::XCollection> workbookNames(const Object &range) {
  Reference<xl::XWorkbook> book =
      range.document.is() ? Reference<xl::XWorkbook>(workbookFor(range.document), UNO_QUERY)
                          : activeApp("Range.Name")->getActiveWorkbook();
  return Reference<vba::XCollection>(book->Names(Any()), UNO_QUERY_THROW);
}

// Compares a name's reference text ("=Sheet1!$C$3", "='My sheet'!$C$3") with a range:
// LibreOffice's Name.RefersToRange fails for names it reads back from a file.
bool refersTo(const OUString &reference, const OUString &sheet, const OUString &address) {
  OUString plain = reference.replaceAll("'", "");
  if (plain.startsWith("="))
    plain = plain.copy(1);
  return plain.equalsIgnoreAsciiCase(sheet.replaceAll("'", "") + "!" + address);
}

// The defined name whose reference is exactly this range; LibreOffice's Range.Name reads null.
Any rangeName(const Object &self, const Args &) {
  auto range = as<xl::XRange>(self);
  auto names = workbookNames(self);
  OUString sheet = range->getWorksheet()->getName();
  OUString address = range->Address(Any(true), Any(true), Any(), Any(), Any());
  for (sal_Int32 i = 1, count = names->getCount(); i <= count; ++i) {
    Reference<xl::XName> name(names->Item(Any(i), Any()), UNO_QUERY);
    if (name.is() && refersTo(name->getRefersTo(), sheet, address))
      return Any(name);
  }
  throw CalcError(Fault::Failed, "no defined name refers to this range");
}

void setRangeName(const Object &self, const Args &, const Any &value) {
  auto range = as<xl::XRange>(self);
  Reference<xl::XNames> names(workbookNames(self), UNO_QUERY_THROW);
  // LibreOffice answers a name for a range given as an object but does not keep it.
  OUString refersTo = "='" + range->getWorksheet()->getName().replaceAll("'", "''") + "'!" +
                      range->Address(Any(true), Any(true), Any(), Any(), Any());
  Any none;
  names->Add(value, Any(refersTo), none, none, none, none, none, none, none, none, none);
}

// LibreOffice's Workbooks object lists the workbooks open when it was made; on Windows it is live.
Object liveWorkbooks() {
  return {Kind::Workbooks, Reference<css::uno::XInterface>(app()->Workbooks(Any()), UNO_QUERY),
          nullptr};
}

Any count(const Object &self, const Args &) { return Any(as<vba::XCollection>(self)->getCount()); }

Any item(const Object &self, const Args &args) {
  return guardedItem(as<vba::XCollection>(self), arg(args, 0));
}

Any filteredCount(const Object &self, bool charts) {
  as<vba::XCollection>(self);
  return Any(static_cast<sal_Int32>(sheetPositions(self.document, charts).size()));
}

Any filteredItem(const Object &self, const Args &args, bool charts) {
  return sheetItem(as<vba::XCollection>(self), sheetPositions(self.document, charts), arg(args, 0));
}

// The sheet `step` places away, or nothing (Excel's Nothing) past either end: LibreOffice's own
// Next of the last sheet ends soffice.
Any neighbour(const Object &self, int step) {
  auto sheet = as<xl::XWorksheet>(self);
  Reference<xl::XWorkbook> book;
  if (self.document.is())
    book.set(workbookFor(self.document), UNO_QUERY);
  else
    book.set(sheet->getParent(), UNO_QUERY);
  if (!book.is())
    throw CalcError(Fault::NoMember, "the sheet's workbook is unknown");
  Reference<vba::XCollection> sheets(book->Worksheets(Any()), UNO_QUERY_THROW);
  sal_Int32 index = sheet->getIndex() + step;
  if (index < 1 || index > sheets->getCount())
    return Any(Reference<xl::XWorksheet>());
  return sheets->Item(Any(index), Any());
}

// The emulated Panes collection stands on its window: one pane, the active one.
Any paneItem(const Object &self, const Args &args) {
  sal_Int32 index = 0;
  if (!(arg(args, 0) >>= index) || index != 1)
    throw CalcError(Fault::NotFound, "a window has one pane here: Panes(1)");
  needView("Panes");
  return Any(as<xl::XWindow>(self)->ActivePane());
}

// clang-format off
const Member applicationMembers[] = {
  {"ActiveCell", 0x131, Kind::Range, 0, 0,
   [](const Object &, const Args &) { needView("ActiveCell"); return wrap(app()->getActiveCell()); }, nullptr},
  {"ActiveSheet", 0x133, Kind::Worksheet, 0, 0,
   [](const Object &, const Args &) { return wrap(activeApp("ActiveSheet")->getActiveSheet()); }, nullptr},
  {"ActiveWindow", 0x2F7, Kind::Window, 0, 0,
   [](const Object &, const Args &) { needView("ActiveWindow"); return wrap(app()->getActiveWindow()); }, nullptr},
  {"ActiveWorkbook", 0x134, Kind::Workbook, 0, 0,
   [](const Object &, const Args &) { return wrap(activeApp("ActiveWorkbook")->getActiveWorkbook()); }, nullptr},
  {"Name", 0x6E, std::nullopt, 0, 0,
   [](const Object &, const Args &) { return Any(app()->getName()); }, nullptr},
  {"Visible", 0x22E, std::nullopt, 0, 0,
   [](const Object &, const Args &) {
     return Any(Reference<vba::XApplicationBase>(app(), UNO_QUERY_THROW)->getVisible());
   },
   [](const Object &, const Args &, const Any &value) {
     bool visible = false;
     if (!(value >>= visible))
       throw CalcError(Fault::BadArgument, "Visible takes a Boolean");
     if (visible)
       needView("Visible");
     Reference<vba::XApplicationBase>(app(), UNO_QUERY_THROW)->setVisible(visible);
   }},
  {"Goto", 0x1DB, std::nullopt, 0, 2,
   [](const Object &, const Args &args) {
     needView("Goto");
     app()->GoTo(arg(args, 0), arg(args, 1));
     return Any();
   }, nullptr},
  {"Names", 0x1BA, std::nullopt, 0, 1,
   [](const Object &, const Args &args) { return indexed(activeApp("Names")->Names(Any()), arg(args, 0)); }, nullptr},
  {"Quit", 0x12E, std::nullopt, 0, 0,
   [](const Object &, const Args &) { Office::instance().stop(); return Any(); }, nullptr},
  {"Range", 0xC5, Kind::Range, 1, 2,
   [](const Object &, const Args &args) { return activeApp("Range")->Range(arg(args, 0), arg(args, 1)); }, nullptr},
  {"Windows", 0x1AE, std::nullopt, 0, 1,
   [](const Object &, const Args &args) { return indexed(app()->Windows(Any()), arg(args, 0)); }, nullptr},
  {"Workbooks", 0x23C, std::nullopt, 0, 1,
   [](const Object &, const Args &args) {
     if (Office::instance().shared() && arg(args, 0).hasValue())
       return ownWorkbook(arg(args, 0));
     return indexed(app()->Workbooks(Any()), arg(args, 0));
   }, nullptr},
  {"Worksheets", 0x1EE, std::nullopt, 0, 1,
   [](const Object &, const Args &args) {
     Any sheets = activeApp("Worksheets")->Worksheets(Any());
     return sheetsOfKind(Office::instance().desktop()->getCurrentComponent(), sheets, arg(args, 0), false);
   }, nullptr},
};

const Member workbooksMembers[] = {
  {"Add", 0xB5, Kind::Workbook, 0, 1,
   [](const Object &, const Args &) { return bookOf(newDocument()); }, nullptr},
  {"Close", 0x115, std::nullopt, 0, 0,
   [](const Object &, const Args &) {
     if (Office::instance().shared()) {
       for (const auto &document : ownDocuments())
         closedDocuments().insert(document);
       closeOwnDocuments();
       return Any();
     }
     closeEveryWorkbook();
     releaseAllDocuments();
     return Any();
   }, nullptr},
  {"Count", 0x76, std::nullopt, 0, 0,
   [](const Object &, const Args &args) {
     if (Office::instance().shared())
       return Any(static_cast<sal_Int32>(ownDocuments().size()));
     return count(liveWorkbooks(), args);
   }, nullptr},
  {"Item", 0xAA, Kind::Workbook, 1, 1,
   [](const Object &, const Args &args) {
     return Office::instance().shared() ? ownWorkbook(arg(args, 0)) : item(liveWorkbooks(), args);
   }, nullptr},
  {"Open", 0x2AA, Kind::Workbook, 1, 15, [](const Object &, const Args &args) { return openWorkbook(args); }, nullptr},
};

const Member workbookMembers[] = {
  {"Activate", 0x130, std::nullopt, 0, 0,
   [](const Object &self, const Args &) {
     needView("Workbook.Activate");
     as<vba::XDocumentBase>(self)->Activate();
     return Any();
   }, nullptr},
  {"ActiveSheet", 0x133, Kind::Worksheet, 0, 0,
   [](const Object &self, const Args &) { return wrap(as<xl::XWorkbook>(self)->getActiveSheet()); }, nullptr},
  {"Charts", 0x79, std::nullopt, 0, 1,
   [](const Object &self, const Args &args) {
     return sheetsOfKind(self.document, as<xl::XWorkbook>(self)->Worksheets(Any()), arg(args, 0), true);
   }, nullptr},
  {"Sheets", 0x1E5, std::nullopt, 0, 1,
   [](const Object &self, const Args &args) { return indexed(as<xl::XWorkbook>(self)->Worksheets(Any()), arg(args, 0)); }, nullptr},
  {"Close", 0x115, std::nullopt, 0, 3, closeWorkbook, nullptr},
  // The server's own (Excel shows "[Repaired]" instead): what is damaged in the file, which
  // then opens read-only; empty when it is whole.
  {"Damage", 0x7F000001, std::nullopt, 0, 0,
   [](const Object &self, const Args &) { const std::string damage = damageOf(storable(self)); return Any(OUString(damage.data(), static_cast<sal_Int32>(damage.size()), RTL_TEXTENCODING_UTF8)); }, nullptr},
  {"FullName", 0x121, std::nullopt, 0, 0,
   [](const Object &self, const Args &) { return Any(as<vba::XDocumentBase>(self)->getFullName()); }, nullptr},
  {"Name", 0x6E, std::nullopt, 0, 0,
   [](const Object &self, const Args &) { return Any(as<vba::XDocumentBase>(self)->getName()); }, nullptr},
  {"Names", 0x1BA, std::nullopt, 0, 1,
   [](const Object &self, const Args &args) { return indexed(as<xl::XWorkbook>(self)->Names(Any()), arg(args, 0)); }, nullptr},
  // True when another process writes the file, or it cannot be written: Save then fails.
  {"ReadOnly", 0x128, std::nullopt, 0, 0,
   [](const Object &self, const Args &) { return Any(isReadOnly(storable(self))); }, nullptr},
  {"Save", 0x11B, std::nullopt, 0, 0, saveWorkbook, nullptr},
  {"SaveAs", 0x11C, std::nullopt, 1, 12, saveWorkbookAs, nullptr},
  {"Saved", 0x12A, std::nullopt, 0, 0,
   [](const Object &self, const Args &) { return Any(as<vba::XDocumentBase>(self)->getSaved()); },
   [](const Object &self, const Args &, const Any &value) {
     bool saved = false;
     if (!(value >>= saved))
       throw CalcError(Fault::BadArgument, "Saved takes a Boolean");
     as<vba::XDocumentBase>(self)->setSaved(saved);
   }},
  {"Windows", 0x1AE, std::nullopt, 0, 1,
   [](const Object &self, const Args &args) { return indexed(as<xl::XWorkbook>(self)->Windows(Any()), arg(args, 0)); }, nullptr},
  {"Worksheets", 0x1EE, std::nullopt, 0, 1,
   [](const Object &self, const Args &args) {
     return sheetsOfKind(self.document, as<xl::XWorkbook>(self)->Worksheets(Any()), arg(args, 0), false);
   }, nullptr},
};

Any addSheet(const Object &self, const Args &args) {
  return as<xl::XWorksheets>(self)->Add(arg(args, 0), arg(args, 1), arg(args, 2), arg(args, 3));
}

// Worksheets leaves out chart sheets (where the document is known), Sheets holds every sheet.
const Member worksheetsMembers[] = {
  {"Add", 0xB5, Kind::Worksheet, 0, 4, addSheet, nullptr},
  {"Count", 0x76, std::nullopt, 0, 0,
   [](const Object &self, const Args &args) { return self.document.is() ? filteredCount(self, false) : count(self, args); }, nullptr},
  {"Item", 0xAA, Kind::Worksheet, 1, 1,
   [](const Object &self, const Args &args) { return self.document.is() ? filteredItem(self, args, false) : item(self, args); }, nullptr},
};

const Member sheetsMembers[] = {
  {"Add", 0xB5, Kind::Worksheet, 0, 4, addSheet, nullptr},
  {"Count", 0x76, std::nullopt, 0, 0, count, nullptr},
  {"Item", 0xAA, Kind::Worksheet, 1, 1, item, nullptr},
};

// A chart sheet answers as the sheet LibreOffice made of it.
const Member chartsMembers[] = {
  {"Count", 0x76, std::nullopt, 0, 0, [](const Object &self, const Args &) { return filteredCount(self, true); }, nullptr},
  {"Item", 0xAA, Kind::Worksheet, 1, 1,
   [](const Object &self, const Args &args) { return filteredItem(self, args, true); }, nullptr},
};

const Member worksheetMembers[] = {
  {"Activate", 0x130, std::nullopt, 0, 0,
   [](const Object &self, const Args &) {
     needView("Worksheet.Activate");
     as<xl::XWorksheet>(self)->Activate();
     return Any(true);
   }, nullptr},
  {"Application", 0x94, Kind::Application, 0, 0,
   [](const Object &, const Args &) { return wrap(app()); }, nullptr},
  {"Cells", 0xEE, Kind::Range, 0, 2,
   [](const Object &self, const Args &args) { return wrap(as<xl::XWorksheet>(self)->Cells(arg(args, 0), arg(args, 1))); }, nullptr},
  {"Columns", 0xF1, Kind::Range, 0, 1,
   [](const Object &self, const Args &args) { return wrap(as<xl::XWorksheet>(self)->Columns(arg(args, 0))); }, nullptr},
  {"Index", 0x1E6, std::nullopt, 0, 0,
   [](const Object &self, const Args &) { return Any(sal_Int32(as<xl::XWorksheet>(self)->getIndex())); }, nullptr},
  {"Name", 0x6E, std::nullopt, 0, 0,
   [](const Object &self, const Args &) { return Any(as<xl::XWorksheet>(self)->getName()); },
   [](const Object &self, const Args &, const Any &value) {
     OUString name;
     if (!(value >>= name))
       throw CalcError(Fault::BadArgument, "Name takes a text");
     as<xl::XWorksheet>(self)->setName(name);
   }},
  {"Names", 0x1BA, std::nullopt, 0, 1,
   [](const Object &self, const Args &args) { return indexed(as<xl::XWorksheet>(self)->Names(Any()), arg(args, 0)); }, nullptr},
  {"Next", 0x1F6, Kind::Worksheet, 0, 0, [](const Object &self, const Args &) { return neighbour(self, 1); }, nullptr},
  {"Previous", 0x1F7, Kind::Worksheet, 0, 0, [](const Object &self, const Args &) { return neighbour(self, -1); }, nullptr},
  {"Range", 0xC5, Kind::Range, 1, 2,
   [](const Object &self, const Args &args) { return wrap(as<xl::XWorksheet>(self)->Range(arg(args, 0), arg(args, 1))); }, nullptr},
  {"Rows", 0x102, Kind::Range, 0, 1,
   [](const Object &self, const Args &args) { return wrap(as<xl::XWorksheet>(self)->Rows(arg(args, 0))); }, nullptr},
};


// A range's value as the spreadsheet types it, a cell's or a block's; LibreOffice's own answer
// for several areas.
Any readValue(const Object &self, bool value2) {
  auto range = as<xl::XRange>(self);
  if (auto value = rangeValue(rangeDocument(self), range, self.cells, value2))
    return *value;
  return range->getValue();
}

void writeValue(const Object &self, const Any &value, bool value2) {
  auto range = as<xl::XRange>(self);
  if (!putRangeValue(rangeDocument(self), range, self.cells, value, value2))
    range->setValue(plainValue(value));
}

// A range's formula; a Boolean constant as the spreadsheet gives it (TRUE), where LibreOffice
// gives the number it holds.
Any readFormula(const Object &self, const Args &) {
  auto range = as<xl::XRange>(self);
  Any formula = range->getFormula();
  OUString text;
  if ((formula >>= text) && (text == "1" || text == "0") &&
      isBooleanConstant(rangeDocument(self), range))
    return Any(OUString::createFromAscii(text == "1" ? "TRUE" : "FALSE"));
  return formula;
}

Any readRangeValue(const Object &self, const Args &) { return readValue(self, false); }
void setRangeValue(const Object &self, const Args &, const Any &value) {
  writeValue(self, value, false);
}
Any readRangeValue2(const Object &self, const Args &) { return readValue(self, true); }
void setRangeValue2(const Object &self, const Args &, const Any &value) {
  writeValue(self, value, true);
}

const Member rangeMembers[] = {
  {"Activate", 0x130, std::nullopt, 0, 0,
   [](const Object &self, const Args &) {
     needView("Range.Activate");
     as<xl::XRange>(self)->Activate();
     return Any(true);
   }, nullptr},
  {"Address", 0xEC, std::nullopt, 0, 5,
   [](const Object &self, const Args &args) {
     return Any(as<xl::XRange>(self)->Address(arg(args, 0), arg(args, 1), arg(args, 2), arg(args, 3), arg(args, 4)));
   }, nullptr},
  {"Cells", 0xEE, Kind::Range, 0, 2,
   [](const Object &self, const Args &args) { return wrap(as<xl::XRange>(self)->Cells(arg(args, 0), arg(args, 1))); }, nullptr},
  {"Column", 0xF0, std::nullopt, 0, 0,
   [](const Object &self, const Args &) { return Any(as<xl::XRange>(self)->getColumn()); }, nullptr},
  {"ColumnWidth", 0xF2, std::nullopt, 0, 0,
   [](const Object &self, const Args &) { return as<xl::XRange>(self)->getColumnWidth(); },
   [](const Object &self, const Args &, const Any &value) { as<xl::XRange>(self)->setColumnWidth(value); }},
  {"Columns", 0xF1, Kind::Range, 0, 1,
   [](const Object &self, const Args &args) { return wrap(as<xl::XRange>(self)->Columns(arg(args, 0))); }, nullptr},
  {"Count", 0x76, std::nullopt, 0, 0,
   [](const Object &self, const Args &) { return Any(as<xl::XRange>(self)->getCount()); }, nullptr},
  {"Delete", 0x75, std::nullopt, 0, 1,
   [](const Object &self, const Args &args) { as<xl::XRange>(self)->Delete(arg(args, 0)); return Any(true); }, nullptr},
  {"Formula", 0x105, std::nullopt, 0, 0,
   readFormula,
   [](const Object &self, const Args &, const Any &value) { as<xl::XRange>(self)->setFormula(value); }},
  {"Height", 0x7B, std::nullopt, 0, 0,
   [](const Object &self, const Args &) { return as<xl::XRange>(self)->getHeight(); }, nullptr},
  {"Name", 0x6E, Kind::Name, 0, 0, rangeName, setRangeName},
  {"Offset", 0xFE, Kind::Range, 0, 2,
   [](const Object &self, const Args &args) { return wrap(as<xl::XRange>(self)->Offset(arg(args, 0), arg(args, 1))); }, nullptr},
  {"Row", 0x101, std::nullopt, 0, 0,
   [](const Object &self, const Args &) { return Any(as<xl::XRange>(self)->getRow()); }, nullptr},
  {"RowHeight", 0x110, std::nullopt, 0, 0,
   [](const Object &self, const Args &) { return as<xl::XRange>(self)->getRowHeight(); },
   [](const Object &self, const Args &, const Any &value) { as<xl::XRange>(self)->setRowHeight(value); }},
  {"Rows", 0x102, Kind::Range, 0, 1,
   [](const Object &self, const Args &args) { return wrap(as<xl::XRange>(self)->Rows(arg(args, 0))); }, nullptr},
  {"Text", 0x8A, std::nullopt, 0, 0,
   [](const Object &self, const Args &) { return Any(as<xl::XRange>(self)->getText()); }, nullptr},
  {"Value", 0x6, std::nullopt, 0, 0, readRangeValue, setRangeValue},
  {"Value2", 0x56C, std::nullopt, 0, 0, readRangeValue2, setRangeValue2},
  {"Width", 0x7A, std::nullopt, 0, 0,
   [](const Object &self, const Args &) { return as<xl::XRange>(self)->getWidth(); }, nullptr},
  {"Worksheet", 0x15C, Kind::Worksheet, 0, 0,
   [](const Object &self, const Args &) { return wrap(as<xl::XRange>(self)->getWorksheet()); }, nullptr},
};

const Member namesMembers[] = {
  {"Add", 0xB5, Kind::Name, 1, 11,
   [](const Object &self, const Args &args) {
     return as<xl::XNames>(self)->Add(arg(args, 0), arg(args, 1), arg(args, 2), arg(args, 3), arg(args, 4),
                                      arg(args, 5), arg(args, 6), arg(args, 7), arg(args, 8), arg(args, 9),
                                      arg(args, 10));
   }, nullptr},
  {"Count", 0x76, std::nullopt, 0, 0, count, nullptr},
  {"Item", 0xAA, Kind::Name, 1, 3, item, nullptr},
};

const Member nameMembers[] = {
  {"Delete", 0x75, std::nullopt, 0, 0,
   [](const Object &self, const Args &) { as<xl::XName>(self)->Delete(); return Any(); }, nullptr},
  {"Name", 0x6E, std::nullopt, 0, 0,
   [](const Object &self, const Args &) { return Any(as<xl::XName>(self)->getName()); }, nullptr},
  {"RefersTo", 0x3AA, std::nullopt, 0, 0,
   [](const Object &self, const Args &) { return Any(as<xl::XName>(self)->getRefersTo()); }, nullptr},
  {"RefersToRange", 0x488, Kind::Range, 0, 0,
   [](const Object &self, const Args &) { return wrap(as<xl::XName>(self)->getRefersToRange()); }, nullptr},
};

const Member windowsMembers[] = {
  {"Count", 0x76, std::nullopt, 0, 0, count, nullptr},
  {"Item", 0xAA, Kind::Window, 1, 1, item, nullptr},
};

const Member windowMembers[] = {
  {"ActiveCell", 0x131, Kind::Range, 0, 0,
   [](const Object &self, const Args &) { needView("ActiveCell"); return wrap(as<xl::XWindow>(self)->ActiveCell()); }, nullptr},
  {"ActivePane", 0x282, Kind::Pane, 0, 0,
   [](const Object &self, const Args &) { needView("ActivePane"); return wrap(as<xl::XWindow>(self)->ActivePane()); }, nullptr},
  {"Panes", 0x28D, Kind::Panes, 0, 0,
   [](const Object &self, const Args &) { return Any(self.ref); }, nullptr},
  // Not in LibreOffice's model: the height of the cells the window shows, in points.
  {"UsableHeight", 0x185, std::nullopt, 0, 0,
   [](const Object &self, const Args &) {
     needView("UsableHeight");
     return as<xl::XWindow>(self)->getVisibleRange()->getHeight();
   }, nullptr},
  {"VisibleRange", 0x45E, Kind::Range, 0, 0,
   [](const Object &self, const Args &) { needView("VisibleRange"); return wrap(as<xl::XWindow>(self)->getVisibleRange()); }, nullptr},
};

const Member panesMembers[] = {
  {"Count", 0x76, std::nullopt, 0, 0, [](const Object &, const Args &) { return Any(sal_Int32(1)); }, nullptr},
  {"Item", 0xAA, Kind::Pane, 1, 1, paneItem, nullptr},
};

const Member paneMembers[] = {
  {"VisibleRange", 0x45E, Kind::Range, 0, 0,
   [](const Object &self, const Args &) { needView("VisibleRange"); return wrap(as<xl::XPane>(self)->getVisibleRange()); }, nullptr},
};
// clang-format on

struct KindInfo {
  const char *name;
  const Member *begin;
  const Member *end;
};

template <size_t N> KindInfo info(const char *name, const Member (&members)[N]) {
  return {name, members, members + N};
}

const KindInfo &kindInfo(Kind kind) {
  static const KindInfo kinds[] = {
      info("Application", applicationMembers),
      info("Workbooks", workbooksMembers),
      info("Workbook", workbookMembers),
      info("Worksheets", worksheetsMembers),
      info("Worksheet", worksheetMembers),
      info("Range", rangeMembers),
      info("Names", namesMembers),
      info("Name", nameMembers),
      info("Window", windowMembers),
      info("Windows", windowsMembers),
      info("Pane", paneMembers),
      info("Panes", panesMembers),
      info("Sheets", sheetsMembers),
      info("Charts", chartsMembers),
  };
  return kinds[static_cast<int>(kind)];
}

} // namespace

const char *kindName(Kind kind) { return kindInfo(kind).name; }

Reference<css::uno::XInterface> rangeDocument(const Object &self) {
  if (self.document.is())
    return self.document;
  return Office::instance().desktop()->getCurrentComponent();
}

bool writesCellValues(const Member &member) {
  return member.put == setRangeValue || member.put == setRangeValue2;
}

const Member *findMember(Kind kind, int32_t dispid) {
  const KindInfo &k = kindInfo(kind);
  for (const Member *m = k.begin; m != k.end; ++m)
    if (m->dispid == dispid)
      return m;
  return nullptr;
}

const Member *findMember(Kind kind, std::string_view name) {
  const KindInfo &k = kindInfo(kind);
  for (const Member *m = k.begin; m != k.end; ++m)
    if (std::strlen(m->name) == name.size() &&
        ::strncasecmp(m->name, name.data(), name.size()) == 0)
      return m;
  return nullptr;
}

} // namespace vlx::calc
