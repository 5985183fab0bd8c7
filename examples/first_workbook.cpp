// first_workbook BOOK COPY: reads and writes cells of BOOK, saves it, then saves it as COPY.
#include <velmora/automation.h>

#include <cstdio>

// Members the wrappers lack, written as Windows hosts write them: DISPID, kind of call, result
// type and where it goes, the parameters' types (VTS_*), the arguments.
const BYTE kText[] = VTS_BSTR, kVariant[] = VTS_VARIANT;
struct Spreadsheet : Application {
  using Application::Application;
  void Quit() { InvokeHelper(0x12E, DISPATCH_METHOD, VT_EMPTY, nullptr, VTS_NONE); }
};
struct Books : Workbooks {
  using Workbooks::Workbooks;
  LPDISPATCH Open(const char *path) {
    LPDISPATCH book = nullptr;
    InvokeHelper(0x2AA, DISPATCH_METHOD, VT_DISPATCH, &book, kText, path);
    return book;
  }
};
struct Book : Workbook {
  using Workbook::Workbook;
  void Save() { InvokeHelper(0x11B, DISPATCH_METHOD, VT_EMPTY, nullptr, VTS_NONE); }
  void SaveAs(const char *path) {
    InvokeHelper(0x11C, DISPATCH_METHOD, VT_EMPTY, nullptr, kText, path);
  }
  void Close() { InvokeHelper(0x115, DISPATCH_METHOD, VT_EMPTY, nullptr, VTS_NONE); }
};
struct Cells : Range {
  using Range::Range;
  void SetValue(const VARIANT &v) {
    InvokeHelper(0x6, DISPATCH_PROPERTYPUT, VT_EMPTY, nullptr, kVariant, &v);
  }
};

int main(int argc, char **argv) {
  if (argc != 3)
    return std::fprintf(stderr, "usage: first_workbook BOOK COPY\n"), 2;
  CoInitialize(nullptr);
  int status = 0;
  try {
    Spreadsheet app;
    COleException why; // keeps the real cause: not registered, not loadable, no office...
    if (!app.CreateDispatch("Excel.Application", &why))
      AfxThrowOleException(why.m_sc);
    Books books(app.Workbooks(0));
    Book book(books.Open(argv[1]));
    Range a1(app.Range(const_cast<char *>("A1")));
    COleVariant value;
    VARIANT got = a1.GetValue(); // the caller's to clear: value takes it over
    value.Attach(got);
    value.ChangeType(VT_R8);
    std::printf("A1 held %g\n", V_R8(&value));
    a1.SetValue(const_cast<char *>("42")); // text, read as typed: a number

    // A date cell comes back as VT_DATE: COleDateTime reads it, and the next day goes to A5.
    got = Range(app.Range(const_cast<char *>("A4"))).GetValue();
    COleVariant dateCell;
    dateCell.Attach(got);
    COleDateTime when(dateCell);
    std::printf("A4 holds %s\n", static_cast<const char *>(when.Format("%Y-%m-%d")));
    Cells(app.Range(const_cast<char *>("A5"))).SetValue(COleVariant(when + COleDateTimeSpan(1.0)));

    // A block is a 2-D array of VARIANTs, rows first, read with bounds from 1.
    got = Range(app.Range(const_cast<char *>("A2"), const_cast<char *>("B3"))).GetValue();
    COleSafeArray block;
    block.Attach(got);
    for (long row = 1; row <= 2; ++row)
      for (long column = 1; column <= 2; ++column) {
        long at[2] = {row, column};
        COleVariant cell;
        block.GetElement(at, &cell);
        cell.ChangeType(VT_R8);
        V_R8(&cell) *= 2;
        block.PutElement(at, &cell);
      }
    Cells(app.Range(const_cast<char *>("C2"), const_cast<char *>("D3"))).SetValue(block);
    book.Save();
    book.SaveAs(argv[2]);
    book.Close();
    try { // a file that is not there: the server describes the fault
      Book missing(books.Open("no-such-book.xlsx"));
    } catch (COleDispatchException *e) {
      std::printf("Open failed: %s\n", static_cast<const char *>(e->m_strDescription));
      e->Delete();
    }
    app.Quit();
  } catch (CException *e) { // any other fault: COleException*, CMemoryException*...
    char message[512];
    e->GetErrorMessage(message, sizeof message);
    std::fprintf(stderr, "first_workbook: %s\n", message);
    e->Delete();
    status = 1;
  }
  CoUninitialize();
  return status;
}
