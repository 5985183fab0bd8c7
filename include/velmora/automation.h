// Spreadsheet wrapper classes: each stands for one spreadsheet object and each member is one
// IDispatch call by a fixed DISPID. A member whose object holds no dispatch pointer calls nothing
// and returns a null pointer, an empty VARIANT, an empty string or 0; faults arrive as the
// framework's COleException* and COleDispatchException*. A returned IDispatch* carries one
// reference for the caller; a returned VARIANT belongs to the caller.
#pragma once

#include <velmora/afx.h>
#include <velmora/export.h>

// The constructors are the framework driver's; the classes add no data.
#define VLX_DISPATCH_WRAPPER(name)                                                                 \
public:                                                                                            \
  name() noexcept {}                                                                               \
  name(LPDISPATCH pDispatch) noexcept : COleDispatchDriver(pDispatch) {}                           \
  name(const name &dispatchSrc) noexcept : COleDispatchDriver(dispatchSrc) {}                      \
  name &operator=(const name &dispatchSrc) {                                                       \
    COleDispatchDriver::operator=(dispatchSrc);                                                    \
    return *this;                                                                                  \
  }

class Application : public COleDispatchDriver {
  VLX_DISPATCH_WRAPPER(Application)
  VLX_API LPDISPATCH GetActiveCell();
  VLX_API LPDISPATCH GetActiveWindow();
  VLX_API LPDISPATCH GetActiveWorkbook();
  VLX_API void SetVisible(int bNewValue);
  // The referenced integer travels as a Boolean, non-zero meaning true; returns 1 or 0.
  VLX_API int Goto(char *const Reference, int const &Scroll);
  VLX_API LPDISPATCH Names();
  VLX_API LPDISPATCH Range(char *const Cell1, char *const Cell2);
  VLX_API LPDISPATCH Range(char *const Cell1);
  // The index is not sent: the result is the workbooks collection.
  VLX_API LPDISPATCH Workbooks(int Index);
};

class Workbook : public COleDispatchDriver {
  VLX_DISPATCH_WRAPPER(Workbook)
};

class Workbooks : public COleDispatchDriver {
  VLX_DISPATCH_WRAPPER(Workbooks)
};

class Range : public COleDispatchDriver {
  VLX_DISPATCH_WRAPPER(Range)
  VLX_API VARIANT GetColumnWidth();
  VLX_API VARIANT GetCount();
  VLX_API VARIANT GetHeight();
  // The range's defined name, reached as a method.
  VLX_API LPDISPATCH GetName();
  VLX_API void SetName(char *const lpszNewValue);
  VLX_API VARIANT GetRowHeight();
  VLX_API VARIANT GetValue();
  VLX_API void SetValue(char *const lpszNewValue);
  VLX_API VARIANT GetWidth();
  VLX_API int Activate();
  VLX_API LPDISPATCH Cells(const VARIANT &RowIndex, const VARIANT &ColumnIndex);
  VLX_API LPDISPATCH Columns(int Index);
  VLX_API LPDISPATCH Columns();
  VLX_API VARIANT Delete(int Shift);
  VLX_API LPDISPATCH Offset(int RowOffset, int ColumnOffset);
  VLX_API LPDISPATCH Rows(const VARIANT &Index);
  VLX_API LPDISPATCH Rows();
};

class Worksheet : public COleDispatchDriver {
  VLX_DISPATCH_WRAPPER(Worksheet)
  VLX_API CString GetName();
  VLX_API LPDISPATCH GetNext();
  VLX_API int Activate();
  VLX_API LPDISPATCH Application();
  VLX_API LPDISPATCH Rows(int Index);
};

class Names : public COleDispatchDriver {
  VLX_DISPATCH_WRAPPER(Names)
  VLX_API int GetCount();
  // The index travels as a named argument with identifier 0.
  VLX_API LPDISPATCH Item(const VARIANT &Index);
};

class Name : public COleDispatchDriver {
  VLX_DISPATCH_WRAPPER(Name)
  VLX_API CString GetName();
};

class excelWindow_c : public COleDispatchDriver {
  VLX_DISPATCH_WRAPPER(excelWindow_c)
  VLX_API LPDISPATCH GetActivePane();
  VLX_API VARIANT GetUsableHeight();
  VLX_API LPDISPATCH GetVisibleRange();
};

class excelWindows_c : public COleDispatchDriver {
  VLX_DISPATCH_WRAPPER(excelWindows_c)
};

class excelPane_c : public COleDispatchDriver {
  VLX_DISPATCH_WRAPPER(excelPane_c)
  VLX_API LPDISPATCH GetVisibleRange();
};

class excelPanes_c : public COleDispatchDriver {
  VLX_DISPATCH_WRAPPER(excelPanes_c)
};

#undef VLX_DISPATCH_WRAPPER
