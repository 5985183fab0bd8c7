// VARIANT <-> UNO Any: the one place where values cross between the host and LibreOffice.
#pragma once

#include <velmora/win32.h>

#include <com/sun/star/uno/Any.hxx>
#include <rtl/ustring.hxx>

#include <cstdint>

namespace vlx::calc {

// 16-bit text both sides: OLECHAR is char16_t, LibreOffice's sal_Unicode an unsigned short.
rtl::OUString fromOle(const OLECHAR *text, UINT length);
// A new BSTR of the text, or null when memory ran out.
BSTR toBstr(const rtl::OUString &text);

// A cell error's VARIANT code: this base plus the spreadsheet's error number (2007 #DIV/0!).
const SCODE kCellErrorBase = static_cast<SCODE>(0x800A0000u);
// The most cells a block read or write moves at once (16 bytes a VARIANT: 64 MB).
const int64_t kMostBlockCells = int64_t(1) << 22;

// Whether a VT_ERROR code is one of the seven cell errors (#NULL! 2000 to #N/A 2042).
bool isCellError(SCODE code);

// A host's argument as LibreOffice's Basic would pass it: integers in the smallest of 16, 32
// and 64 bits that holds them (its Excel objects misread a 32-bit integer where Basic sends a
// 16-bit one), texts as strings, a missing optional argument (VT_ERROR DISP_E_PARAMNOTFOUND) as
// nothing; by-reference values are read through. Dates, currency and cell errors keep their
// kind as the OLE bridge's structs (oleautomation Date, Currency, SCode), for the cell values
// that need it; plainValue() makes numbers of the first two. Interfaces are left to the caller:
// DISP_E_TYPEMISMATCH. A one- or two-dimensional array of values is rows of values
// (Sequence<Sequence<Any>>; one dimension is one row), whatever its bounds; more dimensions,
// nested arrays or elements of another type: DISP_E_TYPEMISMATCH, more than kMostBlockCells
// elements: E_OUTOFMEMORY. Other types: DISP_E_BADVARTYPE.
HRESULT variantToAny(const VARIANT &value, css::uno::Any &out);

// A date or currency from variantToAny as the number Basic passes; anything else unchanged.
css::uno::Any plainValue(const css::uno::Any &value);

// LibreOffice's answer as the host gets it from Excel: numbers as VT_R8 (integers as VT_I4 or
// VT_I2 as LibreOffice typed them), texts as VT_BSTR, nothing as VT_EMPTY, the OLE bridge's
// Date, Currency and SCode as VT_DATE, VT_CY and VT_ERROR, rows of values as a two-dimensional
// VT_ARRAY | VT_VARIANT (rows first, bounds from 1). Interfaces are left to the caller:
// DISP_E_TYPEMISMATCH. Other sequences: DISP_E_BADVARTYPE. out is written only on success and needs
// no clearing before.
HRESULT anyToVariant(const css::uno::Any &value, VARIANT &out);

} // namespace vlx::calc
