// Cell values as the spreadsheet's object model gives them, read and written through
// LibreOffice's sheet API rather than its Excel objects: typed by the cell's number format
// (dates, currency, Booleans), errors with their codes, texts as typed, and formula results as
// the file holds them.
#pragma once

#include <com/sun/star/uno/Any.hxx>
#include <com/sun/star/uno/XInterface.hpp>
#include <ooo/vba/excel/XRange.hpp>

#include <optional>

namespace vlx::calc {

// The value of a one-cell range as Value (value2 false) or Value2 reads it: empty, a text, a
// Boolean, a number, or the OLE bridge's Date, Currency or SCode (VT_DATE, VT_CY, VT_ERROR);
// dates counted from 30 December 1899 whatever the workbook's date system; Value2 gives dates
// and currency as the workbook's own numbers. Nothing for a range of several cells.
std::optional<css::uno::Any> cellValue(const css::uno::Reference<css::uno::XInterface> &document,
                                       const css::uno::Reference<ooo::vba::excel::XRange> &range,
                                       bool value2);

// Writes a Date, Currency or SCode (from variantToAny) into every cell of the range as the
// spreadsheet does: the number, with a date or currency format where the cell had none, or the
// error. False for any other value, which LibreOffice's own Value writes.
bool putCellValue(const css::uno::Reference<css::uno::XInterface> &document,
                  const css::uno::Reference<ooo::vba::excel::XRange> &range,
                  const css::uno::Any &value, bool value2);

// A document just loaded keeps the formula results its file holds: automatic calculation stays
// off (volatile formulas such as NOW keep the file's value) once every other formula has its
// result (LibreOffice keeps only numbers from a file and computes Booleans, texts and errors
// again).
void holdCalculation(const css::uno::Reference<css::uno::XInterface> &document);
// Turns calculation back on before the first change the host makes, as the spreadsheet
// recalculates on a change; a no-op for a document not held.
void resumeCalculation(const css::uno::Reference<css::uno::XInterface> &document);

} // namespace vlx::calc
