// The 38 exported wrapper members: one dispatch call each, by fixed DISPID.
#include <velmora/automation.h>

#include "automation/invoke_named.h"

namespace {

// Every method call lets the spreadsheet resolve the DISPID as a method or a property.
constexpr WORD kMethod = DISPATCH_METHOD | DISPATCH_PROPERTYGET;

// Parameter type strings: one VARTYPE byte per parameter; 0x0E is narrow text.
const BYTE kText[] = {0x0E, 0};
const BYTE kTextText[] = {0x0E, 0x0E, 0};
const BYTE kTextBool[] = {0x0E, VT_BOOL, 0};
const BYTE kInt[] = {VT_I4, 0};
const BYTE kIntInt[] = {VT_I4, VT_I4, 0};
const BYTE kVariant[] = {VT_VARIANT, 0};
const BYTE kVariantVariant[] = {VT_VARIANT, VT_VARIANT, 0};

// The shapes every member takes; each starts from the result it gives when nothing is called.
LPDISPATCH getDispatch(const COleDispatchDriver &driver, DISPID id) {
  LPDISPATCH result = nullptr;
  driver.GetProperty(id, VT_DISPATCH, &result);
  return result;
}

VARIANT getVariant(const COleDispatchDriver &driver, DISPID id) {
  VARIANT result;
  VariantInit(&result);
  driver.GetProperty(id, VT_VARIANT, &result);
  return result;
}

CString getString(const COleDispatchDriver &driver, DISPID id) {
  CString result;
  driver.GetProperty(id, VT_BSTR, &result);
  return result;
}

// A method call that gives an object or a truth; `args` follow the parameter string `params`.
template <typename... Args>
LPDISPATCH callDispatch(COleDispatchDriver &driver, DISPID id, const BYTE *params, Args... args) {
  LPDISPATCH result = nullptr;
  driver.InvokeHelper(id, kMethod, VT_DISPATCH, &result, params, args...);
  return result;
}

template <typename... Args>
int callBool(COleDispatchDriver &driver, DISPID id, const BYTE *params, Args... args) {
  BOOL result = 0;
  driver.InvokeHelper(id, kMethod, VT_BOOL, &result, params, args...);
  return result;
}

} // namespace

// ---- Application

LPDISPATCH Application::GetActiveCell() { return getDispatch(*this, 0x131); }

LPDISPATCH Application::GetActiveWindow() { return getDispatch(*this, 0x2F7); }

LPDISPATCH Application::GetActiveWorkbook() { return getDispatch(*this, 0x134); }

void Application::SetVisible(int bNewValue) { SetProperty(0x22E, VT_BOOL, bNewValue); }

int Application::Goto(char *const Reference, int const &Scroll) {
  return callBool(*this, 0x1DB, kTextBool, Reference, Scroll);
}

LPDISPATCH Application::Names() { return callDispatch(*this, 0x1BA, nullptr); }

LPDISPATCH Application::Range(char *const Cell1, char *const Cell2) {
  return callDispatch(*this, 0xC5, kTextText, Cell1, Cell2);
}

LPDISPATCH Application::Range(char *const Cell1) { return callDispatch(*this, 0xC5, kText, Cell1); }

// The index is not sent, as the host has always relied on.
LPDISPATCH Application::Workbooks(int) { return callDispatch(*this, 0x23C, nullptr); }

// ---- Range

VARIANT Range::GetColumnWidth() { return getVariant(*this, 0xF2); }

VARIANT Range::GetCount() { return getVariant(*this, 0x76); }

VARIANT Range::GetHeight() { return getVariant(*this, 0x7B); }

// Read as a method that answers an interface, though SetName writes the same DISPID as text.
LPDISPATCH Range::GetName() { return callDispatch(*this, 0x6E, nullptr); }

void Range::SetName(char *const lpszNewValue) { SetProperty(0x6E, VT_BSTR, lpszNewValue); }

VARIANT Range::GetRowHeight() { return getVariant(*this, 0x110); }

VARIANT Range::GetValue() { return getVariant(*this, 0x6); }

void Range::SetValue(char *const lpszNewValue) { SetProperty(0x6, VT_BSTR, lpszNewValue); }

VARIANT Range::GetWidth() { return getVariant(*this, 0x7A); }

int Range::Activate() { return callBool(*this, 0x130, nullptr); }

LPDISPATCH Range::Cells(const VARIANT &RowIndex, const VARIANT &ColumnIndex) {
  return callDispatch(*this, 0xEE, kVariantVariant, &RowIndex, &ColumnIndex);
}

LPDISPATCH Range::Columns(int Index) { return callDispatch(*this, 0xF1, kInt, Index); }

LPDISPATCH Range::Columns() { return callDispatch(*this, 0xF1, nullptr); }

VARIANT Range::Delete(int Shift) {
  VARIANT result;
  VariantInit(&result);
  InvokeHelper(0x75, kMethod, VT_VARIANT, &result, kInt, Shift);
  return result;
}

LPDISPATCH Range::Offset(int RowOffset, int ColumnOffset) {
  return callDispatch(*this, 0xFE, kIntInt, RowOffset, ColumnOffset);
}

LPDISPATCH Range::Rows(const VARIANT &Index) {
  return callDispatch(*this, 0x102, kVariant, &Index);
}

LPDISPATCH Range::Rows() { return callDispatch(*this, 0x102, nullptr); }

// ---- Worksheet

CString Worksheet::GetName() { return getString(*this, 0x6E); }

LPDISPATCH Worksheet::GetNext() { return getDispatch(*this, 0x1F6); }

int Worksheet::Activate() { return callBool(*this, 0x130, nullptr); }

LPDISPATCH Worksheet::Application() { return callDispatch(*this, 0x94, nullptr); }

LPDISPATCH Worksheet::Rows(int Index) { return callDispatch(*this, 0x102, kInt, Index); }

// ---- Names, Name

int Names::GetCount() {
  LONG result = 0;
  GetProperty(0x76, VT_I4, &result);
  return result;
}

LPDISPATCH Names::Item(const VARIANT &Index) {
  static const DISPID named[] = {0};
  LPDISPATCH result = nullptr;
  vlx::InvokeNamedHelper(*this, 0xAA, kMethod, VT_DISPATCH, &result, named, kVariant, &Index);
  return result;
}

CString Name::GetName() { return getString(*this, 0x6E); }

// ---- windows and panes

LPDISPATCH excelWindow_c::GetActivePane() { return getDispatch(*this, 0x282); }

VARIANT excelWindow_c::GetUsableHeight() { return getVariant(*this, 0x185); }

LPDISPATCH excelWindow_c::GetVisibleRange() { return getDispatch(*this, 0x45E); }

LPDISPATCH excelPane_c::GetVisibleRange() { return getDispatch(*this, 0x45E); }
