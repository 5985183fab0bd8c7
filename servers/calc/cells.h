// Cell values as the spreadsheet's object model gives them, read and written through
// LibreOffice's sheet API rather than its Excel objects: typed by the cell's number format
// (dates, currency, Booleans), errors with their codes, texts as typed, and formula results as
// the file holds them.
#pragma once

#include <com/sun/star/uno/Any.hxx>
#include <com/sun/star/uno/XInterface.hpp>
#include <ooo/vba/excel/XRange.hpp>

#include <memory>
#include <optional>

namespace vlx::calc {

// The sheet-API cells behind one range object, found at its first value read or write and kept
// with the object, and the types of its cells as its last read learnt them.
struct HeldCells;

// The value of a range as Value (value2 false) or Value2 reads it: for one cell empty, a text, a
// Boolean, a number, or the OLE bridge's Date, Currency or SCode (VT_DATE, VT_CY, VT_ERROR);
// for several cells rows of these (Sequence<Sequence<Any>>). Dates count from 30 December 1899
// whatever the workbook's date system; Value2 gives dates and currency as the workbook's own
// numbers. One call for the values, and only while the types are unknown (the range's first
// read, or the first after a change made here) a few block calls for them. Nothing for a range
// of several areas.
std::optional<css::uno::Any> rangeValue(const css::uno::Reference<css::uno::XInterface> &document,
                                        const css::uno::Reference<ooo::vba::excel::XRange> &range,
                                        std::shared_ptr<HeldCells> &held, bool value2);

// Writes rows of values (Sequence<Sequence<Any>> from variantToAny), or one Date, Currency or
// SCode, into the range as the spreadsheet does: an array smaller than the range repeats a single
// row or column and fills the cells beyond it with #N/A, a larger one is cut; dates and currency
// get a date or currency format where the cell had none (not through Value2), Booleans a
// Boolean format. False for any other single value, which LibreOffice's own Value writes.
bool putRangeValue(const css::uno::Reference<css::uno::XInterface> &document,
                   const css::uno::Reference<ooo::vba::excel::XRange> &range,
                   std::shared_ptr<HeldCells> &held, const css::uno::Any &value, bool value2);

// Whether the range is one cell that holds a number in a Boolean format: a Boolean constant.
bool isBooleanConstant(const css::uno::Reference<css::uno::XInterface> &document,
                       const css::uno::Reference<ooo::vba::excel::XRange> &range);

// The host writes the range's cells (see releaseGeneral).
void rangeWritten(const css::uno::Reference<css::uno::XInterface> &document,
                  const css::uno::Reference<ooo::vba::excel::XRange> &range);

// A change made through this server: the cell types ranges learnt are learnt again.
void cellsChanged();

} // namespace vlx::calc
