// A workbook's file: Workbooks.Open with the arguments LibreOffice can honour, Save, and SaveAs
// in the format the file name's extension names.
#pragma once

#include "model.h"

#include <com/sun/star/frame/XStorable.hpp>

namespace vlx::calc {

// Workbooks.Open(FileName, UpdateLinks, ReadOnly, Format, Password, WriteResPassword,
// IgnoreReadOnlyRecommended, Origin, Delimiter, Editable, Notify, Converter, AddToMru, Local,
// CorruptLoad): the ones LibreOffice can honour.
css::uno::Any openWorkbook(const Args &args);

// The document of a workbook, as the file it is stored in.
css::uno::Reference<css::frame::XStorable> storable(const Object &self);

// Workbook.Save and Workbook.SaveAs(FileName, ...).
css::uno::Any saveWorkbook(const Object &self, const Args &args);
css::uno::Any saveWorkbookAs(const Object &self, const Args &args);

// Workbook.Close(SaveChanges, FileName, RouteWorkbook): saved as Save or SaveAs(FileName) would
// when SaveChanges is true, then closed before the call returns.
css::uno::Any closeWorkbook(const Object &self, const Args &args);

} // namespace vlx::calc
