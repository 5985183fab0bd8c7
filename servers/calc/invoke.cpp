// Calling a spreadsheet object's member: its arguments checked, the office watched for an answer,
// every UNO failure turned into a CalcError, and the kind of the object it answers.
#include "model.h"

#include "bounds.h"
#include "calculation.h"
#include "cells.h"
#include "file_cells.h"
#include "uno_names.h"
#include "variant.h"
#include "workbook_documents.h"

#include <com/sun/star/container/NoSuchElementException.hpp>
#include <com/sun/star/frame/XDesktop2.hpp>
#include <com/sun/star/lang/DisposedException.hpp>
#include <com/sun/star/lang/IllegalArgumentException.hpp>
#include <com/sun/star/lang/IndexOutOfBoundsException.hpp>
#include <ooo/vba/XDocumentBase.hpp>
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

#include <algorithm>
#include <cstring>
#include <iterator>
#include <string>

namespace vlx::calc {

namespace {

namespace vba = ooo::vba;
namespace xl = ooo::vba::excel;

std::string describe(const Member &member, const Object &self, const OUString &message) {
  std::string text = std::string(kindName(self.kind)) + "." + member.name;
  // LibreOffice appends where it threw ("at ./sc/source/...:1244"); that says nothing to a host.
  sal_Int32 at = message.startsWith("at ./") ? 0 : message.indexOf(" at ./");
  OUString reason = (at >= 0 ? message.copy(0, at) : message).trim();
  return reason.isEmpty() ? "LibreOffice refused " + text : text + ": " + toString(reason);
}

// Whether calling a member leaves every cell's content and format as they were: a range keeps
// the types it learnt over these.
bool readsOnly(const Member &member) {
  static const char *const reads[] = {
      "ActiveCell", "ActiveSheet", "ActiveWorkbook", "Address",   "Cells",         "Charts",
      "Column",     "ColumnWidth", "Columns",        "Count",     "Damage",        "Formula",
      "FullName",   "Height",      "Index",          "Item",      "Name",          "Names",
      "Next",       "Previous",    "Range",          "RefersTo",  "RefersToRange", "Row",
      "RowHeight",  "Rows",        "Sheets",         "Text",      "Value",         "Value2",
      "Width",      "Workbooks",   "Worksheet",      "Worksheets"};
  return std::any_of(std::begin(reads), std::end(reads),
                     [&](const char *name) { return std::strcmp(name, member.name) == 0; });
}

// Cells the host writes (a value, a formula) or deletes are its own: the General format of the
// file's formulas is no longer kept for them. A deleted sheet takes its cells with it; the
// kept cells are let go rather than trusted to move right.
void cellsWritten(const Object &self, const Member &member) {
  if (self.kind == Kind::Worksheet && std::strcmp(member.name, "Delete") == 0)
    forgetGeneral(self.document);
  if (self.kind != Kind::Range)
    return;
  for (const char *name : {"Value", "Value2", "Formula", "Delete"})
    if (std::strcmp(member.name, name) == 0)
      rangeWritten(rangeDocument(self), Reference<xl::XRange>(self.ref, UNO_QUERY));
}

} // namespace

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
  if (self.document.is() && closedDocuments().count(self.document))
    throw CalcError(Fault::Disconnected, what + ": the object's workbook was closed");
  // Dates and currency keep their kind only for the cell values, and arrays go only there.
  bool typed = writesCellValues(member);
  auto isArray = [](const Any &a) { return a.getValueTypeClass() == css::uno::TypeClass_SEQUENCE; };
  if ((value && !typed && isArray(*value)) || std::any_of(args.begin(), args.end(), isArray))
    throw CalcError(Fault::BadArgument, what + " takes no array");
  if (value || !readsOnly(member))
    cellsChanged();
  Args plain;
  for (const Any &a : args)
    plain.push_back(plainValue(a));
  // An office that is stopped or stuck would keep the host waiting for ever.
  AnswerWatch watch(answerWait(), [] { Office::instance().cut(); });
  auto unanswered = [&] {
    return CalcError(Fault::OfficeLost, what + ": LibreOffice did not answer within " +
                                            secondsText(watch.bound()) +
                                            " (VELMORA_CALC_CALL_SECONDS): it is stopped or "
                                            "stuck, and was let go; the next call starts it again");
  };
  try {
    if (value || std::strcmp(member.name, "Delete") == 0 || std::strcmp(member.name, "Add") == 0)
      resumeCalculation(self.kind == Kind::Range ? rangeDocument(self) : self.document);
    if (value || !readsOnly(member))
      cellsWritten(self, member);
    if (value) {
      member.put(self, plain, typed ? *value : plainValue(*value));
      return Any();
    }
    if (!self.document.is() && readsOnly(member)) {
      // The office's own collections can still list a workbook that is just being closed, and
      // refuse as disposed for it: asked again, they no longer list it.
      try {
        return member.get(self, plain);
      } catch (const css::lang::DisposedException &) {
        if (Office::instance().checkLost())
          throw;
      }
    }
    return member.get(self, plain);
  } catch (const CalcError &e) {
    throw CalcError(e.fault(), what + ": " + e.what());
  } catch (const css::lang::DisposedException &) {
    const bool late = watch.finish();
    if (Office::instance().checkLost()) {
      if (late)
        throw unanswered();
      const std::string &log = Office::instance().lastWords();
      throw CalcError(Fault::OfficeLost, what + ": LibreOffice stopped during the call" +
                                             (log.empty() ? "" : " (its log ends: " + log + ")") +
                                             "; the next call starts it again");
    }
    throw CalcError(Fault::Disconnected, what + ": the object's workbook was closed");
  } catch (const css::lang::IndexOutOfBoundsException &e) {
    throw CalcError(Fault::NotFound, describe(member, self, e.Message));
  } catch (const css::container::NoSuchElementException &e) {
    throw CalcError(Fault::NotFound, describe(member, self, e.Message));
  } catch (const css::lang::IllegalArgumentException &e) {
    throw CalcError(Fault::BadArgument, describe(member, self, e.Message));
  } catch (const css::uno::Exception &e) {
    if (watch.finish()) {
      Office::instance().checkLost();
      throw unanswered();
    }
    if (self.document.is() && isClosed(self.document))
      throw CalcError(Fault::Disconnected, what + ": the object's workbook was closed");
    throw CalcError(Fault::Failed, describe(member, self, e.Message));
  }
}

// The kind of an answered object: collections answer themselves without an index and an item
// with one, so it is asked for where the member does not fix it.
Kind answerKind(const Member &member, const Reference<css::uno::XInterface> &ref) {
  if (member.answers || !ref.is())
    return member.answers.value_or(Kind::Application);
  // LibreOffice has one collection for every sheet, chart sheets and worksheets alike.
  if (ref->queryInterface(cppu::UnoType<xl::XWorksheets>::get()).hasValue()) {
    if (std::strcmp(member.name, "Sheets") == 0)
      return Kind::Sheets;
    if (std::strcmp(member.name, "Charts") == 0)
      return Kind::Charts;
  }
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
  };
  for (const auto &[type, kind] : kinds)
    if (ref->queryInterface(type).hasValue())
      return kind;
  return Kind::Application;
}

Object answerObject(const Member &member, const Object &self, const Any &answer) {
  Reference<css::uno::XInterface> ref;
  answer >>= ref;
  Kind kind = answerKind(member, ref);
  Reference<css::uno::XInterface> document = self.document;
  if (kind == Kind::Workbook) {
    auto opened = documents().find(ref);
    document = opened != documents().end()
                   ? opened->second
                   : findDocument(Reference<vba::XDocumentBase>(ref, UNO_QUERY_THROW));
  } else if (kind == Kind::Application || kind == Kind::Workbooks || kind == Kind::Windows) {
    document.clear();
  } else if (self.kind == Kind::Application && ref.is()) {
    // The application's ranges, sheets and windows are the active document's.
    document = Office::instance().desktop()->getCurrentComponent();
  }
  return {kind, ref, document};
}

} // namespace vlx::calc
