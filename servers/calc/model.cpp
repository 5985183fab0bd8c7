// The members of each spreadsheet object, each a call on LibreOffice's typed ooo.vba.excel
// interfaces, and the one place where UNO failures become CalcErrors.
#include "model.h"

#include <com/sun/star/beans/PropertyValue.hpp>
#include <com/sun/star/container/NoSuchElementException.hpp>
#include <com/sun/star/frame/XComponentLoader.hpp>
#include <com/sun/star/io/IOException.hpp>
#include <com/sun/star/lang/DisposedException.hpp>
#include <com/sun/star/lang/IllegalArgumentException.hpp>
#include <com/sun/star/lang/IndexOutOfBoundsException.hpp>
#include <com/sun/star/lang/XMultiServiceFactory.hpp>
#include <com/sun/star/script/BasicErrorException.hpp>
#include <ooo/vba/XApplicationBase.hpp>
#include <ooo/vba/XCollection.hpp>
#include <ooo/vba/XDocumentBase.hpp>
#include <ooo/vba/excel/XGlobals.hpp>
#include <ooo/vba/excel/XName.hpp>
#include <ooo/vba/excel/XNames.hpp>
#include <ooo/vba/excel/XPane.hpp>
#include <ooo/vba/excel/XRange.hpp>
#include <ooo/vba/excel/XWindow.hpp>
#include <ooo/vba/excel/XWindows.hpp>
#include <ooo/vba/excel/XWorkbook.hpp>
#include <ooo/vba/excel/XWorkbooks.hpp>
#include <ooo/vba/excel/XWorksheet.hpp>
#include <ooo/vba/excel/XWorksheets.hpp>
#include <osl/file.hxx>
#include <osl/process.h>

#include <cstring>
#include <iterator>
#include <string>
#include <strings.h>

namespace vlx::calc {

namespace {

using css::uno::Any;
using css::uno::Reference;
using css::uno::UNO_QUERY;
using css::uno::UNO_QUERY_THROW;
namespace vba = ooo::vba;
namespace xl = ooo::vba::excel;

const Any &arg(const Args &args, size_t i) {
  static const Any none;
  return i < args.size() ? args[i] : none;
}

// The object's UNO interface T; LibreOffice's objects do not all implement every base.
template <class T> Reference<T> as(const Object &self) {
  Reference<T> ref(self.ref, UNO_QUERY);
  if (!ref.is())
    throw CalcError(Fault::NoMember, std::string("LibreOffice's ") + kindName(self.kind) +
                                         " object lacks this member");
  return ref;
}

Reference<xl::XApplication> app() { return Office::instance().application(); }

void needView(const char *what) {
  if (!Office::instance().hasView())
    throw CalcError(Fault::NoView, std::string(what) +
                                       " needs a window: LibreOffice runs headless here (no "
                                       "DISPLAY and no Xvfb; apt-get install xvfb)");
}

template <class T> Any wrap(const Reference<T> &ref) { return Any(ref); }

// Loads a document as the office's Workbooks.Open and Workbooks.Add would, but hidden when
// the office has no display (a visible document aborts a headless soffice).
Any loadWorkbook(const OUString &url) {
  Office &office = Office::instance();
  Reference<css::frame::XComponentLoader> loader(office.desktop(), UNO_QUERY);
  css::uno::Sequence<css::beans::PropertyValue> props(1);
  props.getArray()[0].Name = "Hidden";
  props.getArray()[0].Value <<= !office.hasView();
  Reference<css::lang::XComponent> doc;
  try {
    doc = loader->loadComponentFromURL(url, "_blank", 0, props);
  } catch (const css::lang::IllegalArgumentException &) {
  } catch (const css::io::IOException &) {
  }
  Reference<css::lang::XMultiServiceFactory> factory(doc, UNO_QUERY);
  if (!factory.is())
    throw CalcError(Fault::Failed, "'" + toString(url) + "' could not be opened");
  Reference<xl::XGlobals> globals(factory->createInstance("ooo.vba.VBAGlobals"), UNO_QUERY);
  if (!globals.is())
    throw CalcError(Fault::NoMember, "LibreOffice has no Excel-compatible object model");
  return Any(globals->getThisWorkbook());
}

OUString fileUrl(const Any &name) {
  OUString path;
  if (!(name >>= path) || path.isEmpty())
    throw CalcError(Fault::BadArgument, "a file name is required");
  if (path.startsWith("file:") || path.startsWith("private:"))
    return path;
  OUString url, cwd, absolute;
  if (osl::FileBase::getFileURLFromSystemPath(path, url) != osl::FileBase::E_None ||
      osl_getProcessWorkingDir(&cwd.pData) != osl_Process_E_None ||
      osl::FileBase::getAbsoluteFileURL(cwd, url, absolute) != osl::FileBase::E_None)
    throw CalcError(Fault::BadArgument, "'" + toString(path) + "' is not a file name");
  return absolute;
}

// The defined name whose reference is exactly this range; LibreOffice's Range.Name reads null.
Any rangeName(const Object &self, const Args &) {
  auto range = as<xl::XRange>(self);
  auto sheet = range->getWorksheet();
  Reference<xl::XWorkbook> book(sheet->getParent(), UNO_QUERY);
  Reference<vba::XCollection> names(book->Names(Any()), UNO_QUERY);
  OUString sheetName = sheet->getName();
  OUString address = range->Address(Any(true), Any(true), Any(), Any(), Any());
  for (sal_Int32 i = 1, count = names->getCount(); i <= count; ++i) {
    Reference<xl::XName> name(names->Item(Any(i), Any()), UNO_QUERY);
    try {
      auto target = name->getRefersToRange();
      if (target.is() && target->getWorksheet()->getName() == sheetName &&
          target->Address(Any(true), Any(true), Any(), Any(), Any()) == address)
        return Any(name);
    } catch (const css::uno::RuntimeException &) {
      // A name that refers to a constant or a formula, not a range.
    }
  }
  throw CalcError(Fault::Failed, "no defined name refers to this range");
}

void setRangeName(const Object &self, const Args &, const Any &value) {
  auto range = as<xl::XRange>(self);
  Reference<xl::XWorkbook> book(range->getWorksheet()->getParent(), UNO_QUERY);
  Reference<xl::XNames> names(book->Names(Any()), UNO_QUERY);
  OUString refersTo = "=" + range->Address(Any(true), Any(true), Any(), Any(true), Any());
  Any none;
  names->Add(value, Any(refersTo), none, none, none, none, none, none, none, none, none);
}

Any count(const Object &self, const Args &) { return Any(as<vba::XCollection>(self)->getCount()); }

Any item(const Object &self, const Args &args) {
  return as<vba::XCollection>(self)->Item(arg(args, 0), arg(args, 1));
}

// The emulated Panes collection stands on its window: one pane, the active one.
Any paneItem(const Object &self, const Args &args) {
  sal_Int32 index = 0;
  if (!(arg(args, 0) >>= index) || index != 1)
    throw CalcError(Fault::NotFound, "a window has one pane here: Panes(1)");
  needView("Panes");
  return Any(as<xl::XWindow>(self)->ActivePane());
}

constexpr short kAny = 30;

// clang-format off
const Member applicationMembers[] = {
  {"ActiveCell", 0x131, Kind::Range, 0, 0,
   [](const Object &, const Args &) { needView("ActiveCell"); return wrap(app()->getActiveCell()); }, nullptr},
  {"ActiveSheet", 0x133, Kind::Worksheet, 0, 0,
   [](const Object &, const Args &) { return wrap(app()->getActiveSheet()); }, nullptr},
  {"ActiveWindow", 0x2F7, Kind::Window, 0, 0,
   [](const Object &, const Args &) { needView("ActiveWindow"); return wrap(app()->getActiveWindow()); }, nullptr},
  {"ActiveWorkbook", 0x134, Kind::Workbook, 0, 0,
   [](const Object &, const Args &) { return wrap(app()->getActiveWorkbook()); }, nullptr},
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
   [](const Object &, const Args &args) { return app()->Names(arg(args, 0)); }, nullptr},
  {"Quit", 0x12E, std::nullopt, 0, 0,
   [](const Object &, const Args &) { Office::instance().stop(); return Any(); }, nullptr},
  {"Range", 0xC5, Kind::Range, 1, 2,
   [](const Object &, const Args &args) { return app()->Range(arg(args, 0), arg(args, 1)); }, nullptr},
  {"Windows", 0x1AE, std::nullopt, 0, 1,
   [](const Object &, const Args &args) { return app()->Windows(arg(args, 0)); }, nullptr},
  {"Workbooks", 0x23C, std::nullopt, 0, 1,
   [](const Object &, const Args &args) { return app()->Workbooks(arg(args, 0)); }, nullptr},
  {"Worksheets", 0x1EE, std::nullopt, 0, 1,
   [](const Object &, const Args &args) { return app()->Worksheets(arg(args, 0)); }, nullptr},
};

const Member workbooksMembers[] = {
  {"Add", 0xB5, Kind::Workbook, 0, 1,
   [](const Object &, const Args &) { return loadWorkbook("private:factory/scalc"); }, nullptr},
  {"Close", 0x115, std::nullopt, 0, 0,
   [](const Object &self, const Args &) { as<xl::XWorkbooks>(self)->Close(); return Any(); }, nullptr},
  {"Count", 0x76, std::nullopt, 0, 0, count, nullptr},
  {"Item", 0xAA, Kind::Workbook, 1, 1, item, nullptr},
  {"Open", 0x2AA, Kind::Workbook, 1, 13,
   [](const Object &, const Args &args) { return loadWorkbook(fileUrl(arg(args, 0))); }, nullptr},
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
  {"Close", 0x115, std::nullopt, 0, 3,
   [](const Object &self, const Args &args) {
     as<vba::XDocumentBase>(self)->Close(arg(args, 0), arg(args, 1), arg(args, 2));
     return Any();
   }, nullptr},
  {"FullName", 0x121, std::nullopt, 0, 0,
   [](const Object &self, const Args &) { return Any(as<vba::XDocumentBase>(self)->getFullName()); }, nullptr},
  {"Name", 0x6E, std::nullopt, 0, 0,
   [](const Object &self, const Args &) { return Any(as<vba::XDocumentBase>(self)->getName()); }, nullptr},
  {"Names", 0x1BA, std::nullopt, 0, 1,
   [](const Object &self, const Args &args) { return as<xl::XWorkbook>(self)->Names(arg(args, 0)); }, nullptr},
  {"Save", 0x11B, std::nullopt, 0, 0,
   [](const Object &self, const Args &) { as<vba::XDocumentBase>(self)->Save(); return Any(); }, nullptr},
  {"SaveAs", 0x11C, std::nullopt, 1, 12,
   [](const Object &self, const Args &args) {
     Any none;
     as<xl::XWorkbook>(self)->SaveAs(arg(args, 0), arg(args, 1), none, none, none, none, none, none,
                                     none, none, none, none);
     return Any();
   }, nullptr},
  {"Saved", 0x12A, std::nullopt, 0, 0,
   [](const Object &self, const Args &) { return Any(as<vba::XDocumentBase>(self)->getSaved()); },
   [](const Object &self, const Args &, const Any &value) {
     bool saved = false;
     if (!(value >>= saved))
       throw CalcError(Fault::BadArgument, "Saved takes a Boolean");
     as<vba::XDocumentBase>(self)->setSaved(saved);
   }},
  {"Windows", 0x1AE, std::nullopt, 0, 1,
   [](const Object &self, const Args &args) { return as<xl::XWorkbook>(self)->Windows(arg(args, 0)); }, nullptr},
  {"Worksheets", 0x1EE, std::nullopt, 0, 1,
   [](const Object &self, const Args &args) { return as<xl::XWorkbook>(self)->Worksheets(arg(args, 0)); }, nullptr},
};

const Member worksheetsMembers[] = {
  {"Add", 0xB5, Kind::Worksheet, 0, 4,
   [](const Object &self, const Args &args) {
     return as<xl::XWorksheets>(self)->Add(arg(args, 0), arg(args, 1), arg(args, 2), arg(args, 3));
   }, nullptr},
  {"Count", 0x76, std::nullopt, 0, 0, count, nullptr},
  {"Item", 0xAA, Kind::Worksheet, 1, 1, item, nullptr},
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
   [](const Object &self, const Args &args) { return as<xl::XWorksheet>(self)->Names(arg(args, 0)); }, nullptr},
  {"Next", 0x1F6, Kind::Worksheet, 0, 0,
   [](const Object &self, const Args &) { return wrap(as<xl::XWorksheet>(self)->getNext()); }, nullptr},
  {"Previous", 0x1F7, Kind::Worksheet, 0, 0,
   [](const Object &self, const Args &) { return wrap(as<xl::XWorksheet>(self)->getPrevious()); }, nullptr},
  {"Range", 0xC5, Kind::Range, 1, 2,
   [](const Object &self, const Args &args) { return wrap(as<xl::XWorksheet>(self)->Range(arg(args, 0), arg(args, 1))); }, nullptr},
  {"Rows", 0x102, Kind::Range, 0, 1,
   [](const Object &self, const Args &args) { return wrap(as<xl::XWorksheet>(self)->Rows(arg(args, 0))); }, nullptr},
};

Any rangeValue(const Object &self, const Args &) { return as<xl::XRange>(self)->getValue(); }

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
   [](const Object &self, const Args &) { return as<xl::XRange>(self)->getFormula(); },
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
  {"Value", 0x6, std::nullopt, 0, 0, rangeValue,
   [](const Object &self, const Args &, const Any &value) { as<xl::XRange>(self)->setValue(value); }},
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
  };
  return kinds[static_cast<int>(kind)];
}

std::string describe(const Member &member, const Object &self, const OUString &message) {
  std::string text = std::string(kindName(self.kind)) + "." + member.name;
  return message.isEmpty() ? "LibreOffice refused " + text : text + ": " + toString(message);
}

} // namespace

const char *kindName(Kind kind) { return kindInfo(kind).name; }

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

Any invoke(const Member &member, const Object &self, const Args &args, const Any *value) {
  std::string what = std::string(kindName(self.kind)) + "." + member.name;
  if (value ? !member.put : !member.get)
    throw CalcError(Fault::NoMember, what + (value ? " cannot be written" : " cannot be read"));
  if (args.size() < static_cast<size_t>(member.minArgs) ||
      args.size() > static_cast<size_t>(member.maxArgs))
    throw CalcError(Fault::BadArgument,
                    what + " takes " + std::to_string(member.minArgs) +
                        (member.maxArgs > member.minArgs ? " to " + std::to_string(member.maxArgs)
                                                         : std::string()) +
                        " arguments");
  try {
    if (value) {
      member.put(self, args, *value);
      return Any();
    }
    return member.get(self, args);
  } catch (const CalcError &e) {
    throw CalcError(e.fault(), what + ": " + e.what());
  } catch (const css::lang::DisposedException &) {
    if (Office::instance().checkLost())
      throw CalcError(Fault::OfficeLost,
                      what +
                          ": LibreOffice stopped during the call; the next call starts it again");
    throw CalcError(Fault::Disconnected, what + ": the object's workbook was closed");
  } catch (const css::lang::IndexOutOfBoundsException &e) {
    throw CalcError(Fault::NotFound, describe(member, self, e.Message));
  } catch (const css::container::NoSuchElementException &e) {
    throw CalcError(Fault::NotFound, describe(member, self, e.Message));
  } catch (const css::lang::IllegalArgumentException &e) {
    throw CalcError(Fault::BadArgument, describe(member, self, e.Message));
  } catch (const css::uno::Exception &e) {
    throw CalcError(Fault::Failed, describe(member, self, e.Message));
  }
}

Object answerObject(const Member &member, const Any &answer) {
  Reference<css::uno::XInterface> ref;
  answer >>= ref;
  if (member.answers)
    return {*member.answers, ref};
  // Collections answer themselves without an index and an item with one.
  static const std::pair<css::uno::Type, Kind> kinds[] = {
      {cppu::UnoType<xl::XRange>::get(), Kind::Range},
      {cppu::UnoType<xl::XWorksheet>::get(), Kind::Worksheet},
      {cppu::UnoType<xl::XWorkbook>::get(), Kind::Workbook},
      {cppu::UnoType<xl::XName>::get(), Kind::Name},
      {cppu::UnoType<xl::XWindow>::get(), Kind::Window},
      {cppu::UnoType<xl::XNames>::get(), Kind::Names},
      {cppu::UnoType<xl::XWorksheets>::get(), Kind::Worksheets},
      {cppu::UnoType<xl::XWindows>::get(), Kind::Windows},
      {cppu::UnoType<xl::XWorkbooks>::get(), Kind::Workbooks},
      {cppu::UnoType<xl::XPane>::get(), Kind::Pane},
      {cppu::UnoType<xl::XApplication>::get(), Kind::Application},
  };
  for (const auto &[type, kind] : kinds)
    if (ref.is() && ref->queryInterface(type).hasValue())
      return {kind, ref};
  return {Kind::Application, nullptr};
}

} // namespace vlx::calc
