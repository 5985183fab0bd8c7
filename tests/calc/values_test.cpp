// Cell values as a host reads them through the wrappers, from workbooks written here with what
// files hold (typed Booleans and errors, cached results of volatile formulas, both date
// systems, chart sheets), and what a saved copy keeps.
#include "support/temp_env.h"
#include "xlsx_writer.h"

#include <velmora/automation.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <dlfcn.h>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <utility>
#include <vector>

namespace {

using vlx::calc::test::XlsxBook;
using vlx::calc::test::XlsxCell;
using vlx::calc::test::XlsxSheet;

const DISPID kAdd = 0xB5, kOpen = 0x2AA, kClose = 0x115, kSave = 0x11B, kSaveAs = 0x11C,
             kWorksheets = 0x1EE, kSheets = 0x1E5, kCharts = 0x79, kRange = 0xC5, kText = 0x8A,
             kValue = 0x6, kValue2 = 0x56C, kFormula = 0x105, kCount = 0x76, kItem = 0xAA,
             kQuit = 0x12E, kDelete = 0x75;
const WORD kCall = DISPATCH_METHOD | DISPATCH_PROPERTYGET;
const BYTE kString[] = {0x0E, 0};
const BYTE kBool[] = {VT_BOOL, 0};
const BYTE kInt[] = {VT_I4, 0};
const double k1904 = 1462; // days from the 1900 system's day 0 to the 1904 system's

// What a host receives: the type, and the number (VT_BOOL: 0 or 1; VT_ERROR: the error's
// number, 2007 for #DIV/0!; VT_CY: the amount) or the text.
struct Expected {
  VARTYPE vt;
  double number = 0;
  const char16_t *text = u"";
};

struct Row {
  XlsxCell cell;
  Expected value;
  Expected value2;
  const char16_t *shows = nullptr; // Range.Text, where the row checks it
};

Expected date(double d) { return {VT_DATE, d}; }
Expected r8(double d) { return {VT_R8, d}; }
Expected error(int number) { return {VT_ERROR, double(number)}; }
Expected boolean(bool b) { return {VT_BOOL, b ? 1.0 : 0.0}; }
Expected text(const char16_t *t) { return {VT_BSTR, 0, t}; }

// A date cell's serial as the workbook stores it.
std::string serial(double oleDate, bool date1904) {
  std::ostringstream out;
  out.precision(17);
  out << (date1904 ? oleDate - k1904 : oleDate);
  return out.str();
}

// The cells of the values fixture with what Value and Value2 give for each.
std::vector<Row> valueRows(bool date1904) {
  double shift = date1904 ? k1904 : 0;
  std::vector<Row> rows = {
      {{"B1", "", serial(45000, date1904), "", 14}, date(45000), r8(45000 - shift), u"3/15/2023"},
      {{"B2", "", serial(45000.75, date1904), "", 22}, date(45000.75), r8(45000.75 - shift)},
      // A time of day is a date too, on the workbook's day 0.
      {{"B3", "", "0.5", "", 21}, date(0.5 + shift), r8(0.5)},
      {{"B4", "", "12.3456", "", 164}, {VT_CY, 12.3456}, r8(12.3456), u"$12.35"},
      {{"B5", "b", "1", "", 0}, boolean(true), boolean(true), u"TRUE"},
      {{"B6", "b", "0", "B3>1", 0}, boolean(false), boolean(false), u"FALSE"},
      {{"B7", "e", "#NULL!", "", 0}, error(2000), error(2000), u"#NULL!"},
      {{"B8", "e", "#DIV/0!", "", 0}, error(2007), error(2007), u"#DIV/0!"},
      {{"B9", "e", "#VALUE!", "", 0}, error(2015), error(2015)},
      {{"B10", "e", "#REF!", "", 0}, error(2023), error(2023)},
      {{"B11", "e", "#NAME?", "", 0}, error(2029), error(2029)},
      {{"B12", "e", "#NUM!", "", 0}, error(2036), error(2036)},
      {{"B13", "e", "#N/A", "", 0}, error(2042), error(2042), u"#N/A"},
      {{"B14", "e", "#NULL!", "#NULL!+1", 0}, error(2000), error(2000)},
      {{"B15", "e", "#DIV/0!", "1/0", 0}, error(2007), error(2007)},
      {{"B16", "e", "#VALUE!", "\"a\"+1", 0}, error(2015), error(2015)},
      {{"B17", "e", "#REF!", "#REF!+1", 0}, error(2023), error(2023)},
      {{"B18", "e", "#NAME?", "nosuchname", 0}, error(2029), error(2029)},
      {{"B19", "e", "#NUM!", "SQRT(-1)", 0}, error(2036), error(2036)},
      {{"B20", "e", "#N/A", "NA()", 0}, error(2042), error(2042)},
      // Volatile formulas read as the file has them.
      {{"B21", "", serial(40000.5, date1904), "NOW()", 166}, date(40000.5), r8(40000.5 - shift)},
      {{"B22", "", serial(40000, date1904), "TODAY()", 14}, date(40000), r8(40000 - shift)},
      {{"B23", "", "0.25", "RAND()", 0}, r8(0.25), r8(0.25)},
      // A text format's padding is shown, not part of the value.
      {{"B24", "inlineStr", "Accounting", "", 165},
       text(u"Accounting"),
       text(u"Accounting"),
       u" Accounting "},
      {{"B25", "str", "cached", "\"cac\"&\"hed\"", 0}, text(u"cached"), text(u"cached")},
      {{"B26", "", "7", "B3*0+7", 0}, r8(7), r8(7), u"7"},
      {{"B27", "b", "1", "TRUE()", 0}, boolean(true), boolean(true)},
      // A Boolean keeps its kind whatever the cell's format.
      {{"B29", "b", "0", "", 14}, boolean(false), boolean(false), u"FALSE"},
      {{"B32", "b", "1", "", 14}, boolean(true), boolean(true), u"TRUE"},
      {{"B28", "", "", "", 0}, {VT_EMPTY}, {VT_EMPTY}, u""},
      // A date cell may hold an ISO 8601 time, which LibreOffice keeps as text.
      {{"B30", "d", "10:10:30", "", 21}, date(36630.0 / 86400 + shift), r8(36630.0 / 86400)},
      // A cached text result keeps the file's escape of a carriage return.
      {{"B31", "str", "a_x000D_\nb", "\"a\"&CHAR(13)&CHAR(10)&\"b\"", 0},
       text(u"a\r\nb"),
       text(u"a\r\nb")},
  };
  return rows;
}

XlsxBook valuesBook(bool date1904) {
  XlsxBook book;
  book.date1904 = date1904;
  book.formats = {"\"$\"#,##0.00", "_-* #,##0.00_-;-* #,##0.00_-;_-* \"-\"??_-;_-@_-",
                  "yyyy-mm-dd hh:mm"};
  XlsxSheet sheet{"Values", {}, false};
  for (const auto &row : valueRows(date1904))
    if (!row.cell.value.empty())
      sheet.cells.push_back(row.cell);
  book.sheets = {sheet, {"Chart", {}, true}, {"More", {{"A1", "", "1", "", 0}}, false}};
  return book;
}

std::string describe(const VARIANT &v) {
  std::ostringstream out;
  out << "vt " << V_VT(&v);
  VARIANT copy;
  VariantInit(&copy);
  if (VariantChangeType(&copy, &v, 0, VT_BSTR) == S_OK) {
    for (const OLECHAR *c = V_BSTR(&copy); c && *c; ++c)
      out << (*c < 0x80 ? static_cast<char>(*c) : '?');
    VariantClear(&copy);
  }
  return out.str();
}

// Compares what the host received with what it should; consumes v.
void expectVariant(VARIANT v, const Expected &expected) {
  EXPECT_EQ(V_VT(&v), expected.vt) << describe(v);
  if (V_VT(&v) == expected.vt) {
    switch (expected.vt) {
    case VT_R8:
      EXPECT_DOUBLE_EQ(V_R8(&v), expected.number);
      break;
    case VT_DATE:
      EXPECT_DOUBLE_EQ(V_DATE(&v), expected.number);
      break;
    case VT_CY:
      EXPECT_EQ(V_CY(&v).int64, static_cast<LONGLONG>(expected.number * 10000 + 0.5));
      break;
    case VT_BOOL:
      EXPECT_EQ(V_BOOL(&v), expected.number ? VARIANT_TRUE : VARIANT_FALSE);
      break;
    case VT_ERROR:
      EXPECT_EQ(V_ERROR(&v), static_cast<SCODE>(0x800A0000u + unsigned(expected.number)));
      break;
    case VT_BSTR:
      EXPECT_EQ(std::u16string(V_BSTR(&v)), expected.text);
      break;
    default:
      break;
    }
  }
  VariantClear(&v);
}

// One office for the suite: a host's Excel.Application through the registered server.
class CalcValuesTest : public ::testing::Test {
protected:
  static void SetUpTestSuite() {
    dir_ = std::make_unique<vlx::test::TempDir>();
    hives_ = std::make_unique<vlx::test::ScopedHives>(dir_->path());
    void *server = ::dlopen(VLX_CALC_SERVER, RTLD_NOW);
    ASSERT_NE(server, nullptr) << ::dlerror();
    auto registerServer = reinterpret_cast<HRESULT (*)()>(::dlsym(server, "DllRegisterServer"));
    ASSERT_EQ(registerServer(), S_OK);
    ASSERT_EQ(CoInitialize(nullptr), S_OK);
    app_ = new Application;
    ASSERT_TRUE(app_->CreateDispatch("Excel.Application"));
  }
  static void TearDownTestSuite() {
    if (app_ && app_->m_lpDispatch) {
      try {
        app_->InvokeHelper(kQuit, kCall, VT_EMPTY, nullptr, nullptr);
      } catch (CException *e) {
        e->Delete();
      }
      app_->ReleaseDispatch();
    }
    delete app_;
    app_ = nullptr;
    CoUninitialize();
    hives_.reset();
    dir_.reset();
  }

  // A framework exception fails the test with its text.
  template <class Body> static void reporting(Body body) {
    try {
      body();
    } catch (CException *e) {
      char message[512] = "";
      e->GetErrorMessage(message, sizeof message);
      ADD_FAILURE() << "uncaught: " << message;
      e->Delete();
    }
  }

  static LPDISPATCH open(const std::string &path) {
    Workbooks books(app_->Workbooks(0));
    LPDISPATCH book = nullptr;
    books.InvokeHelper(kOpen, kCall, VT_DISPATCH, &book, kString, path.c_str());
    return book;
  }
  static LPDISPATCH add() {
    Workbooks books(app_->Workbooks(0));
    LPDISPATCH book = nullptr;
    books.InvokeHelper(kAdd, kCall, VT_DISPATCH, &book, nullptr);
    return book;
  }
  static void close(COleDispatchDriver &book) {
    book.InvokeHelper(kClose, kCall, VT_EMPTY, nullptr, kBool, FALSE);
  }
  static LPDISPATCH sheet(COleDispatchDriver &book, int index) {
    LPDISPATCH found = nullptr;
    book.InvokeHelper(kWorksheets, kCall, VT_DISPATCH, &found, kInt, index);
    return found;
  }
  static LPDISPATCH range(COleDispatchDriver &sheet, const char *ref) {
    LPDISPATCH found = nullptr;
    sheet.InvokeHelper(kRange, kCall, VT_DISPATCH, &found, kString, ref);
    return found;
  }
  static VARIANT get(COleDispatchDriver &object, DISPID id) {
    VARIANT v;
    VariantInit(&v);
    object.GetProperty(id, VT_VARIANT, &v);
    return v;
  }
  static std::u16string shown(COleDispatchDriver &range) {
    VARIANT v = get(range, kText);
    std::u16string text = V_VT(&v) == VT_BSTR ? std::u16string(V_BSTR(&v)) : u"?";
    VariantClear(&v);
    return text;
  }
  // Reads every row through the wrappers; answers the number of cells compared.
  static int expectRows(COleDispatchDriver &values, const std::vector<Row> &rows) {
    int compared = 0;
    for (const auto &row : rows) {
      SCOPED_TRACE(row.cell.ref);
      Range cell(range(values, row.cell.ref.c_str()));
      expectVariant(cell.GetValue(), row.value);
      expectVariant(get(cell, kValue2), row.value2);
      compared += 2;
      if (row.shows) {
        EXPECT_EQ(shown(cell), row.shows);
        ++compared;
      }
    }
    return compared;
  }

  static LPDISPATCH member(COleDispatchDriver &object, DISPID id) {
    LPDISPATCH found = nullptr;
    object.InvokeHelper(id, kCall, VT_DISPATCH, &found, nullptr);
    return found;
  }
  static int countOf(COleDispatchDriver collection) {
    int n = -1;
    collection.GetProperty(kCount, VT_I4, &n);
    return n;
  }
  static std::string nameOf(COleDispatchDriver &collection, int index) {
    LPDISPATCH found = nullptr;
    collection.InvokeHelper(kItem, kCall, VT_DISPATCH, &found, kInt, index);
    Worksheet item(found);
    return static_cast<const char *>(item.GetName());
  }
  // The fixture's Values, Chart (a chart sheet) and More: Worksheets leaves the chart out.
  static int expectSheets(COleDispatchDriver &book) {
    COleDispatchDriver worksheets(member(book, kWorksheets)), sheets(member(book, kSheets)),
        charts(member(book, kCharts));
    EXPECT_EQ(countOf(worksheets), 2);
    EXPECT_EQ(nameOf(worksheets, 2), "More");
    EXPECT_EQ(countOf(sheets), 3);
    EXPECT_EQ(nameOf(sheets, 2), "Chart");
    EXPECT_EQ(countOf(charts), 1);
    EXPECT_EQ(nameOf(charts, 1), "Chart");
    SCODE missing = 0;
    try {
      LPDISPATCH found = nullptr;
      book.InvokeHelper(kWorksheets, kCall, VT_DISPATCH, &found, kString, "Chart");
      COleDispatchDriver release(found);
    } catch (COleDispatchException *e) {
      missing = e->m_scError;
      e->Delete();
    }
    EXPECT_EQ(missing, DISP_E_BADINDEX) << "a chart sheet is no worksheet";
    return 7;
  }

  static std::unique_ptr<vlx::test::TempDir> dir_;
  static std::unique_ptr<vlx::test::ScopedHives> hives_;
  static Application *app_;
};

std::unique_ptr<vlx::test::TempDir> CalcValuesTest::dir_;
std::unique_ptr<vlx::test::ScopedHives> CalcValuesTest::hives_;
Application *CalcValuesTest::app_;

// Both date systems: the same dates, the same VT_DATE; Value2 gives each workbook's serial. A
// copy saved as .xlsx reads the same, though its office never recalculated. The chart sheet is
// among Sheets and Charts, not Worksheets.
TEST_F(CalcValuesTest, FileValuesAndASavedCopyReadAsTheFileHasThem) {
  int compared = 0;
  for (bool date1904 : {false, true}) {
    SCOPED_TRACE(date1904 ? "1904 date system" : "1900 date system");
    reporting([&] {
      std::string path = dir_->file(date1904 ? "values1904.xlsx" : "values.xlsx");
      std::string copy = dir_->file(date1904 ? "copy1904.xlsx" : "copy.xlsx");
      vlx::calc::test::writeXlsx(path, valuesBook(date1904));
      auto rows = valueRows(date1904);
      {
        COleDispatchDriver book(open(path));
        COleDispatchDriver values(sheet(book, 1));
        compared += expectRows(values, rows) + expectSheets(book);
        book.InvokeHelper(kSaveAs, kCall, VT_EMPTY, nullptr, kString, copy.c_str());
        close(book);
      }
      COleDispatchDriver book(open(copy));
      COleDispatchDriver values(sheet(book, 1));
      SCOPED_TRACE("saved copy");
      compared += expectRows(values, rows) + expectSheets(book);
      // The first change calculates again: what depends on it, and the volatile formulas.
      Range(range(values, "B3")).SetValue(const_cast<char *>("5"));
      expectVariant(Range(range(values, "B6")).GetValue(), boolean(true));
      VARIANT now = Range(range(values, "B21")).GetValue();
      EXPECT_EQ(V_VT(&now), VT_DATE);
      EXPECT_GT(V_DATE(&now), 45000);
      close(book);
    });
  }
  RecordProperty("cells_compared", compared);
  std::printf("cells compared: %d\n", compared);
}

// What a host writes reads back as it wrote it, and so does a saved copy: the seven errors
// typed in, errors and Booleans its own formulas compute, dates and currency.
TEST_F(CalcValuesTest, HostWrittenValuesAndFormulasKeepTheirKind) {
  int compared = 0;
  reporting([&] {
    struct Written {
      const char *ref;
      VARIANT in;     // written to Value, or a formula's text (VT_BSTR) to Formula
      Expected value; // Value read back
      const char16_t *shows;
    };
    auto errorIn = [](int number) {
      VARIANT v;
      VariantInit(&v);
      V_VT(&v) = VT_ERROR;
      V_ERROR(&v) = static_cast<SCODE>(0x800A0000u + unsigned(number));
      return v;
    };
    auto formula = [](const char16_t *f) {
      VARIANT v;
      VariantInit(&v);
      V_VT(&v) = VT_BSTR;
      V_BSTR(&v) = SysAllocString(f);
      return v;
    };
    VARIANT when, money, yes;
    VariantInit(&when);
    V_VT(&when) = VT_DATE;
    V_DATE(&when) = 45000.5;
    VariantInit(&money);
    V_VT(&money) = VT_CY;
    V_CY(&money).int64 = 125000;
    VariantInit(&yes);
    V_VT(&yes) = VT_BOOL;
    V_BOOL(&yes) = VARIANT_TRUE;
    std::vector<Written> rows = {
        {"A1", errorIn(2000), error(2000), u"#NULL!"},
        {"A2", errorIn(2007), error(2007), u"#DIV/0!"},
        {"A3", errorIn(2015), error(2015), u"#VALUE!"},
        {"A4", errorIn(2023), error(2023), u"#REF!"},
        {"A5", errorIn(2029), error(2029), u"#NAME?"},
        {"A6", errorIn(2036), error(2036), u"#NUM!"},
        {"A7", errorIn(2042), error(2042), u"#N/A"},
        {"B1", formula(u"=1/0"), error(2007), u"#DIV/0!"},
        {"B2", formula(u"=SQRT(-1)"), error(2036), nullptr},
        {"B3", formula(u"=NA()"), error(2042), u"#N/A"},
        {"B4", formula(u"=\"a\"+1"), error(2015), u"#VALUE!"},
        {"B5", formula(u"=1>0"), boolean(true), u"TRUE"},
        {"B6", formula(u"=AND(1,0)"), boolean(false), u"FALSE"},
        {"C1", when, date(45000.5), nullptr},
        {"C2", money, {VT_CY, 12.5}, nullptr},
        {"C3", yes, boolean(true), u"TRUE"},
    };
    COleDispatchDriver book(add());
    COleDispatchDriver values(sheet(book, 1));
    for (auto &row : rows) {
      SCOPED_TRACE(row.ref);
      Range cell(range(values, row.ref));
      bool isFormula = V_VT(&row.in) == VT_BSTR;
      cell.SetProperty(isFormula ? kFormula : kValue, VT_VARIANT, &row.in);
      VariantClear(&row.in);
    }
    std::string copy = dir_->file("written.xlsx");
    auto check = [&](COleDispatchDriver &sheet) {
      for (const auto &row : rows) {
        SCOPED_TRACE(row.ref);
        Range cell(range(sheet, row.ref));
        expectVariant(cell.GetValue(), row.value);
        ++compared;
        if (row.shows) {
          EXPECT_EQ(shown(cell), row.shows);
          ++compared;
        }
      }
    };
    check(values);
    // Written dates and currency get the format that shows them as such.
    Range c1(range(values, "C1")), c2(range(values, "C2"));
    std::u16string whenShown = shown(c1);
    EXPECT_NE(whenShown.find(u"/15/"), std::u16string::npos)
        << std::string(whenShown.begin(), whenShown.end());
    EXPECT_NE(shown(c2).find(u"12.50"), std::u16string::npos);
    expectVariant(get(c1, kValue2), r8(45000.5));
    book.InvokeHelper(kSaveAs, kCall, VT_EMPTY, nullptr, kString, copy.c_str());
    close(book);
    COleDispatchDriver reopened(open(copy));
    COleDispatchDriver saved(sheet(reopened, 1));
    SCOPED_TRACE("saved copy");
    check(saved);
    close(reopened);
  });
  RecordProperty("cells_compared", compared);
  std::printf("cells compared: %d\n", compared);
}

// A block's element at (row, column), counted from 1 as the host counts them.
VARIANT elementOf(const VARIANT &block, LONG row, LONG column) {
  VARIANT v;
  VariantInit(&v);
  LONG at[2] = {row, column};
  EXPECT_EQ(SafeArrayGetElement(V_ARRAY(&block), at, &v), S_OK);
  return v;
}

// Expects a rows x columns block with bounds from 1, as the spreadsheet gives one.
void expectBlock(const VARIANT &block, LONG rows, LONG columns) {
  ASSERT_EQ(V_VT(&block), VT_ARRAY | VT_VARIANT);
  ASSERT_EQ(SafeArrayGetDim(V_ARRAY(&block)), 2u);
  LONG low = 0, high = 0;
  for (UINT dim : {1u, 2u}) {
    SafeArrayGetLBound(V_ARRAY(&block), dim, &low);
    SafeArrayGetUBound(V_ARRAY(&block), dim, &high);
    EXPECT_EQ(low, 1);
    EXPECT_EQ(high, dim == 1 ? rows : columns) << "dimension " << dim;
  }
}

// Expects a block of exactly these cells; consumes block.
template <size_t Rows, size_t Columns>
void expectCells(VARIANT block, const Expected (&cells)[Rows][Columns], const std::string &what) {
  expectBlock(block, LONG(Rows), LONG(Columns));
  for (LONG row = 1; row <= LONG(Rows); ++row)
    for (LONG column = 1; column <= LONG(Columns); ++column) {
      SCOPED_TRACE(what + " " + std::to_string(row) + "," + std::to_string(column));
      expectVariant(elementOf(block, row, column), cells[row - 1][column - 1]);
    }
  VariantClear(&block);
}

// A put with the HRESULT the host gets, not the framework's exception.
// Takes `value` over: it is cleared once put.
HRESULT put(COleDispatchDriver &object, DISPID id, VARIANT value) {
  DISPID named = DISPID_PROPERTYPUT;
  DISPPARAMS params = {&value, &named, 1, 1};
  EXCEPINFO error{};
  HRESULT hr = object.m_lpDispatch->Invoke(id, IID_NULL, 0, DISPATCH_PROPERTYPUT, &params, nullptr,
                                           &error, nullptr);
  VariantClear(&value);
  SysFreeString(error.bstrSource);
  SysFreeString(error.bstrDescription);
  return hr == DISP_E_EXCEPTION ? error.scode : hr;
}

VARIANT scalar(VARTYPE vt, double number) {
  VARIANT v;
  VariantInit(&v);
  V_VT(&v) = vt;
  switch (vt) {
  case VT_R8:
    V_R8(&v) = number;
    break;
  case VT_DATE:
    V_DATE(&v) = number;
    break;
  case VT_CY:
    V_CY(&v).int64 = static_cast<LONGLONG>(number * 10000);
    break;
  case VT_BOOL:
    V_BOOL(&v) = number != 0 ? VARIANT_TRUE : VARIANT_FALSE;
    break;
  case VT_ERROR:
    V_ERROR(&v) = static_cast<SCODE>(0x800A0000u + unsigned(number));
    break;
  case VT_I4:
    V_I4(&v) = static_cast<LONG>(number);
    break;
  default:
    break;
  }
  return v;
}

VARIANT textIn(const char16_t *text) {
  VARIANT v;
  VariantInit(&v);
  V_VT(&v) = VT_BSTR;
  V_BSTR(&v) = SysAllocString(text);
  return v;
}

// An array VARIANT of these rows (one dimension when `flat`), bounds from 0.
VARIANT arrayOf(std::vector<std::vector<VARIANT>> rows, bool flat = false) {
  LONG height = LONG(rows.size()), width = LONG(rows[0].size());
  SAFEARRAYBOUND bounds[2] = {{ULONG(height), 0}, {ULONG(width), 0}};
  SAFEARRAY *array = flat ? SafeArrayCreateVector(VT_VARIANT, 0, ULONG(width))
                          : SafeArrayCreate(VT_VARIANT, 2, bounds);
  for (LONG row = 0; row < height; ++row)
    for (LONG column = 0; column < width; ++column) {
      LONG at[2] = {row, column};
      if (flat)
        at[0] = column;
      SafeArrayPutElement(array, at, &rows[size_t(row)][size_t(column)]);
      VariantClear(&rows[size_t(row)][size_t(column)]);
    }
  VARIANT v;
  VariantInit(&v);
  V_VT(&v) = VT_ARRAY | VT_VARIANT;
  V_ARRAY(&v) = array;
  return v;
}

// The values fixture read as one block gives each cell as a one-cell read does, in both date
// systems, through Value and Value2; a one-cell range still gives a single value.
TEST_F(CalcValuesTest, ABlockReadTypesEachCellAsACellReadDoes) {
  for (bool date1904 : {false, true}) {
    SCOPED_TRACE(date1904 ? "1904 date system" : "1900 date system");
    reporting([&] {
      std::string path = dir_->file(date1904 ? "block1904.xlsx" : "block.xlsx");
      vlx::calc::test::writeXlsx(path, valuesBook(date1904));
      auto rows = valueRows(date1904);
      COleDispatchDriver book(open(path));
      COleDispatchDriver values(sheet(book, 1));
      Range block(range(values, "A1:B32"));
      for (DISPID id : {kValue, kValue2}) {
        SCOPED_TRACE(id == kValue ? "Value" : "Value2");
        // Read twice: the second read uses what the first learnt of the cells.
        for (int pass = 0; pass < 2; ++pass) {
          VARIANT all = get(block, id);
          expectBlock(all, 32, 2);
          for (const auto &row : rows) {
            SCOPED_TRACE(row.cell.ref);
            LONG at = std::stol(row.cell.ref.substr(1));
            expectVariant(elementOf(all, at, 2), id == kValue ? row.value : row.value2);
            expectVariant(elementOf(all, at, 1), {VT_EMPTY});
          }
          VariantClear(&all);
        }
      }
      VARIANT one = Range(range(values, "B5")).GetValue();
      expectVariant(one, boolean(true));
      close(book);
    });
  }
}

// Arrays written through Value read back with each element's kind: two dimensions, one
// dimension as a row, a scalar date over a block; an array smaller than the range repeats a
// single row and leaves #N/A beyond itself; a range that learnt its cells sees a later change.
TEST_F(CalcValuesTest, ArraysWrittenToABlockReadBackWithTheirKinds) {
  reporting([&] {
    COleDispatchDriver book(add());
    COleDispatchDriver cells(sheet(book, 1));
    Range grid(range(cells, "A1:D2"));
    VARIANT before = get(grid, kValue); // learns the empty cells
    VariantClear(&before);
    ASSERT_EQ(put(grid, kValue,
                  arrayOf({{scalar(VT_R8, 1.5), textIn(u"text"), scalar(VT_BOOL, 1),
                            scalar(VT_DATE, 45000.5)},
                           {scalar(VT_CY, 12.5), scalar(VT_ERROR, 2007), scalar(VT_EMPTY, 0),
                            scalar(VT_I4, 7)}})),
              S_OK);
    const Expected wrote[2][4] = {{r8(1.5), text(u"text"), boolean(true), date(45000.5)},
                                  {{VT_CY, 12.5}, error(2007), {VT_EMPTY}, r8(7)}};
    expectCells(get(grid, kValue), wrote, "written");
    VARIANT back2 = get(grid, kValue2);
    expectVariant(elementOf(back2, 1, 4), r8(45000.5));
    expectVariant(elementOf(back2, 2, 1), r8(12.5));
    VariantClear(&back2);
    Range d1(range(cells, "D1"));
    EXPECT_NE(shown(d1).find(u"/15/"), std::u16string::npos) << "a date format where none was";

    // One dimension is one row, repeated down a taller range; #N/A past its end.
    Range rows(range(cells, "A4:C5"));
    ASSERT_EQ(put(rows, kValue, arrayOf({{scalar(VT_R8, 1), scalar(VT_R8, 2)}}, true)), S_OK);
    VARIANT repeated = get(rows, kValue);
    expectBlock(repeated, 2, 3);
    for (LONG row = 1; row <= 2; ++row) {
      expectVariant(elementOf(repeated, row, 1), r8(1));
      expectVariant(elementOf(repeated, row, 2), r8(2));
      expectVariant(elementOf(repeated, row, 3), error(2042));
    }
    VariantClear(&repeated);
    // A 2 x 2 array in 3 x 3 cells; Value2 writes a date as its serial.
    Range square(range(cells, "A7:C9"));
    ASSERT_EQ(put(square, kValue2,
                  arrayOf({{scalar(VT_DATE, 45000), scalar(VT_R8, 2)},
                           {scalar(VT_R8, 3), scalar(VT_R8, 4)}})),
              S_OK);
    VARIANT cut = get(square, kValue);
    expectBlock(cut, 3, 3);
    expectVariant(elementOf(cut, 1, 1), r8(45000));
    expectVariant(elementOf(cut, 2, 2), r8(4));
    for (auto [row, column] : {std::pair{1, 3}, {2, 3}, {3, 1}, {3, 2}, {3, 3}})
      expectVariant(elementOf(cut, row, column), error(2042));
    VariantClear(&cut);
    // A scalar date over a block: every cell a date, in one write.
    Range dates(range(cells, "F1:G3"));
    ASSERT_EQ(put(dates, kValue, scalar(VT_DATE, 45001)), S_OK);
    VARIANT filled = get(dates, kValue);
    expectVariant(elementOf(filled, 3, 2), date(45001));
    VariantClear(&filled);
    // Texts read as typed, as in Excel: numbers, formulas, Booleans, an apostrophe's text.
    Range typed(range(cells, "A12:F13"));
    ASSERT_EQ(put(typed, kValue,
                  arrayOf({{textIn(u"1"), textIn(u"x1"), scalar(VT_R8, 5), textIn(u"'7"),
                            textIn(u"TRUE"), textIn(u"plain")},
                           {textIn(u"2"), textIn(u"=A12+A13"), scalar(VT_R8, 6), textIn(u"-3"),
                            textIn(u"=1/0"), textIn(u"")}})),
              S_OK);
    const Expected read[2][6] = {
        {r8(1), text(u"x1"), r8(5), text(u"7"), boolean(true), text(u"plain")},
        {r8(2), r8(3), r8(6), r8(-3), error(2007), {VT_EMPTY}}};
    expectCells(get(typed, kValue), read, "typed");
    // The first block read learnt A1:D2; a change through another object is seen.
    Range c2(range(cells, "C2"));
    ASSERT_EQ(put(c2, kValue, scalar(VT_DATE, 45002)), S_OK);
    VARIANT changed = get(grid, kValue);
    expectVariant(elementOf(changed, 2, 3), date(45002));
    VariantClear(&changed);
    close(book);
  });
}

// What no block takes fails with the server's error and changes nothing: arrays of three
// dimensions, of objects, of arrays, empty ones, arrays where a member takes none.
TEST_F(CalcValuesTest, BadArraysFailWithoutHarm) {
  reporting([&] {
    COleDispatchDriver book(add());
    COleDispatchDriver cells(sheet(book, 1));
    Range block(range(cells, "A1:B2"));
    ASSERT_EQ(put(block, kValue, scalar(VT_R8, 5)), S_OK);
    SAFEARRAYBOUND cube[3] = {{2, 0}, {2, 0}, {2, 0}};
    auto wrap = [](VARTYPE vt, SAFEARRAY *array) {
      VARIANT v;
      VariantInit(&v);
      V_VT(&v) = VARTYPE(VT_ARRAY | vt);
      V_ARRAY(&v) = array;
      return v;
    };
    VARIANT nested = arrayOf({{arrayOf({{scalar(VT_R8, 1)}})}});
    std::vector<VARIANT> bad = {
        wrap(VT_VARIANT, SafeArrayCreate(VT_VARIANT, 3, cube)),
        wrap(VT_DISPATCH, SafeArrayCreateVector(VT_DISPATCH, 0, 2)),
        nested,
        wrap(VT_VARIANT, SafeArrayCreateVector(VT_VARIANT, 0, 0)),
    };
    for (auto &value : bad)
      EXPECT_EQ(put(block, kValue, value), DISP_E_TYPEMISMATCH);
    EXPECT_EQ(put(block, kFormula, arrayOf({{scalar(VT_R8, 1), scalar(VT_R8, 2)}})),
              DISP_E_TYPEMISMATCH)
        << "Formula takes no array";
    VARIANT unchanged = get(block, kValue);
    expectBlock(unchanged, 2, 2);
    expectVariant(elementOf(unchanged, 2, 2), r8(5));
    VariantClear(&unchanged);
    // One value for more cells than a block moves: refused at once, as a larger array is (the
    // office fills cell by cell: the whole sheet would take days).
    for (const char *huge : {"A1:XFD1048576", "B3:XFD300"}) {
      Range all(range(cells, huge));
      EXPECT_EQ(put(all, kValue, scalar(VT_R8, 7)), VLX_HR(0x800A03EC)) << huge;
    }
    Range fits(range(cells, "A1:A4"));
    EXPECT_EQ(put(fits, kValue, scalar(VT_R8, 7)), S_OK);
    close(book);
  });
}

} // namespace

// The days before March 1900. A 1900 workbook counts a 29 February 1900 (serial 60), so its
// serials 1 to 59 are a day later as OLE dates; serial 60 has no OLE date and stays a number.
// Before day 0, an OLE date's time of day is a positive fraction. A 1904 workbook has no such
// day. Writing a date gives the serial that reads back as it, in a file and in a new workbook.
TEST_F(CalcValuesTest, DaysBeforeMarch1900CountAsTheSpreadsheetCountsThem) {
  struct Day {
    const char *ref;
    double serial;
    int format; // 14 a date, 22 a date and time
    Expected value;
  };
  const std::vector<Day> days1900 = {
      {"A1", 0, 14, date(0)},        {"A2", 1, 14, date(2)},      {"A3", 59, 14, date(60)},
      {"A4", 59.5, 22, date(60.5)},  {"A5", 60, 14, r8(60)},      {"A6", 60.5, 22, r8(60.5)},
      {"A7", 61, 14, date(61)},      {"A8", -1, 14, date(-1)},    {"A9", -1.25, 22, date(-2.75)},
      {"A10", 0.25, 22, date(0.25)}, {"A11", 100, 14, date(100)},
  };
  const std::vector<Day> days1904 = {
      {"A1", 0, 14, date(k1904)},
      {"A2", 1, 14, date(k1904 + 1)},
      {"A3", 60, 14, date(k1904 + 60)},
      {"A4", -1462.25, 22, date(-1.75)},
  };
  // OLE date written through Value -> serial read through Value2, and Value read back.
  struct Write {
    double date;
    double serial;
    Expected value;
  };
  const std::vector<Write> writes1900 = {
      {0, 0, date(0)},
      {2, 1, date(2)},
      {60, 59, date(60)},
      {60.5, 59.5, date(60.5)},
      {61, 61, date(61)},
      {62, 62, date(62)},
      {-1, -1, date(-1)},
      {-2.75, -1.25, date(-2.75)},
      // 31 December 1899 has no serial: it becomes day 0.
      {1.5, 0.5, date(0.5)},
  };
  const std::vector<Write> writes1904 = {{k1904, 0, date(k1904)},
                                         {k1904 + 60, 60, date(k1904 + 60)}};
  auto fixture = [](const std::vector<Day> &days, bool date1904) {
    XlsxBook book;
    book.date1904 = date1904;
    XlsxSheet sheet{"Days", {}, false};
    for (const auto &day : days) {
      std::ostringstream serial;
      serial.precision(17);
      serial << day.serial;
      sheet.cells.push_back({day.ref, "", serial.str(), "", day.format});
    }
    book.sheets = {sheet};
    return book;
  };
  auto writeAll = [](COleDispatchDriver &sheet, const std::vector<Write> &writes) {
    for (size_t i = 0; i < writes.size(); ++i) {
      std::string ref = "C" + std::to_string(i + 1);
      Range cell(range(sheet, ref.c_str()));
      EXPECT_EQ(put(cell, kValue, scalar(VT_DATE, writes[i].date)), S_OK) << ref;
    }
  };
  auto checkWrites = [](COleDispatchDriver &sheet, const std::vector<Write> &writes) {
    for (size_t i = 0; i < writes.size(); ++i) {
      std::string ref = "C" + std::to_string(i + 1);
      SCOPED_TRACE(ref);
      Range cell(range(sheet, ref.c_str()));
      expectVariant(get(cell, kValue2), r8(writes[i].serial));
      expectVariant(cell.GetValue(), writes[i].value);
    }
  };
  for (bool date1904 : {false, true}) {
    SCOPED_TRACE(date1904 ? "1904 date system" : "1900 date system");
    reporting([&] {
      const auto &days = date1904 ? days1904 : days1900;
      const auto &writes = date1904 ? writes1904 : writes1900;
      std::string path = dir_->file(date1904 ? "days1904.xlsx" : "days1900.xlsx");
      vlx::calc::test::writeXlsx(path, fixture(days, date1904));
      COleDispatchDriver book(open(path));
      COleDispatchDriver sheet1(sheet(book, 1));
      for (const auto &day : days) {
        SCOPED_TRACE(day.ref);
        Range cell(range(sheet1, day.ref));
        expectVariant(cell.GetValue(), day.value);
        expectVariant(get(cell, kValue2), r8(day.serial));
      }
      writeAll(sheet1, writes);
      checkWrites(sheet1, writes);
      close(book);
    });
  }
  // A new workbook counts as the spreadsheet's files do.
  reporting([&] {
    COleDispatchDriver book(add());
    COleDispatchDriver sheet1(sheet(book, 1));
    writeAll(sheet1, writes1900);
    checkWrites(sheet1, writes1900);
    close(book);
  });
}

// Each cell of the first sheet of a saved workbook as a reader other than the office sees it
// (saved_cells.py): "KIND FORMAT" by reference, KIND n, b, e or s (=n for a formula's number),
// FORMAT general, number, date, percent or currency (- but for numbers).
std::map<std::string, std::string> savedCells(const std::string &path) {
  std::map<std::string, std::string> cells;
  std::unique_ptr<FILE, int (*)(FILE *)> pipe(
      popen(("python3 '" VLX_SAVED_CELLS "' '" + path + "'").c_str(), "r"), pclose);
  char line[256];
  while (pipe && std::fgets(line, sizeof line, pipe.get())) {
    std::string text(line);
    auto space = text.find(' ');
    cells[text.substr(0, space)] = text.substr(space + 1, text.find('\n') - space - 1);
  }
  return cells;
}

// A host that changes one cell and saves leaves the type and format of every other cell as
// the file had them, in place (Save) and as a copy in each format (SaveAs), read back without
// the office.
TEST_F(CalcValuesTest, ASaveKeepsTheKindOfCellsItDidNotTouch) {
  XlsxBook book;
  book.formats = {"\"$\"#,##0.00"};
  struct Kept {
    XlsxCell cell;
    const char *kind;
  };
  const std::vector<Kept> cells = {
      {{"A1", "", "5", "", 0}, "n general"},
      {{"A2", "", "45000", "", 14}, "n date"},
      {{"A3", "", "0.5", "", 21}, "n date"},
      {{"A4", "", "45000.5", "", 22}, "n date"},
      {{"A5", "", "12.5", "", 164}, "n currency"},
      {{"A6", "", "0.25", "", 10}, "n percent"},
      {{"A7", "", "1234.5", "", 4}, "n number"},
      {{"A8", "b", "1", "", 0}, "b -"},
      // A Boolean in a date's format stays a Boolean (the office gives it its Boolean format).
      {{"A9", "b", "0", "", 14}, "b -"},
      // Typed errors are written as formulas (=#DIV/0!): the office has no error constants.
      {{"A10", "e", "#DIV/0!", "", 0}, "=e -"},
      {{"A11", "e", "#N/A", "", 0}, "=e -"},
      {{"A12", "inlineStr", "text", "", 0}, "s -"},
      {{"A13", "", "10", "A1*2", 0}, "=n general"},
      // Formulas of a date, currency or percentage in General cells: the office would give them
      // their result's format when it computes them (A15 on opening).
      {{"A14", "", "45000", "A2", 0}, "=n general"},
      {{"A15", "", "", "A2", 0}, "=n general"},
      {{"A16", "", "12.5", "A5", 0}, "=n general"},
      {{"A17", "", "0.25", "A6", 0}, "=n general"},
      {{"A18", "", "0.25", "A6", 10}, "=n percent"},
      {{"A19", "b", "1", "A1>1", 0}, "=b -"},
      {{"A20", "str", "ab", "\"a\"&\"b\"", 0}, "=s -"},
      {{"A21", "e", "#DIV/0!", "1/0", 0}, "=e -"},
  };
  XlsxSheet kept{"Kept", {}, false};
  for (const auto &cell : cells)
    kept.cells.push_back(cell.cell);
  book.sheets = {kept};
  std::string path = dir_->file("kept.xlsx");
  std::vector<std::string> copies = {path};
  for (const char *extension : {"xlsx", "xlsm", "xls", "ods"})
    copies.push_back(dir_->file(std::string("kept_copy.") + extension));
  vlx::calc::test::writeXlsx(path, book);
  reporting([&] {
    COleDispatchDriver opened(open(path));
    COleDispatchDriver first(sheet(opened, 1));
    Range changed(range(first, "B1"));
    EXPECT_EQ(put(changed, kValue, scalar(VT_R8, 7)), S_OK);
    Range typed(range(first, "A8"));
    expectVariant(typed.GetValue(), boolean(true));
    expectVariant(get(typed, kFormula), text(u"TRUE"));
    opened.InvokeHelper(kSave, kCall, VT_EMPTY, nullptr, nullptr);
    for (size_t i = 1; i < copies.size(); ++i)
      opened.InvokeHelper(kSaveAs, kCall, VT_EMPTY, nullptr, kString, copies[i].c_str());
    close(opened);
  });
  for (const auto &saved : copies) {
    SCOPED_TRACE(saved);
    auto read = savedCells(saved);
    ASSERT_FALSE(read.empty()) << "python3 could not read the saved file";
    for (const auto &cell : cells)
      EXPECT_EQ(read[cell.cell.ref], cell.kind) << cell.cell.ref;
    EXPECT_EQ(read["B1"], "n general");
  }
}

// A formula the file keeps in a General cell reads as a number whatever it refers to, as on
// Windows, though LibreOffice gives it its result's format (a date's, a time's, currency's)
// when it computes it: on opening (no cached result, or an error's), and after a change. A
// Boolean result stays a Boolean; a formula in a date cell stays a date. A save writes General.
TEST_F(CalcValuesTest, FormulasInGeneralCellsReadAndSaveAsGeneral) {
  XlsxBook book;
  book.formats = {"hhmm", "\"$\"#,##0.00", "General"};
  struct Cell {
    XlsxCell cell;
    Expected value;
    const char *kind; // in a saved .xlsx
  };
  const std::vector<Cell> cells = {
      {{"A1", "", "45000", "", 14}, date(45000), "n date"},
      {{"A2", "", "0.5", "", 164}, date(0.5), "n date"},
      {{"A3", "", "12.5", "", 165}, {VT_CY, 12.5}, "n currency"},
      {{"A4", "", "0.25", "", 10}, r8(0.25), "n percent"},
      {{"A5", "b", "1", "", 0}, boolean(true), "b -"},
      {{"B1", "", "", "A1", 0}, r8(45000), "=n general"},
      {{"B2", "", "", "A2", 0}, r8(0.5), "=n general"},
      {{"B3", "", "", "A3", 0}, r8(12.5), "=n general"},
      {{"B4", "", "", "A4", 0}, r8(0.25), "=n general"},
      {{"B5", "e", "#N/A", "A1+0", 0}, r8(45000), "=n general"},
      {{"B6", "", "", "A1", 14}, date(45000), "=n date"},
      {{"B7", "", "", "A1>0", 0}, boolean(true), "=b -"},
      {{"B8", "", "45000", "A1", 0}, r8(45000), "=n general"},
      {{"B9", "", "", "A1", 2}, r8(45000), "=n number"},
      {{"B10", "", "0.5", "A2", 0}, r8(0.5), "=n general"},
      // A formula of a typed Boolean, which becomes a value again after the load.
      {{"B11", "", "45000", "IF(A5,A1,0)", 0}, r8(45000), "=n general"},
      {{"C1", "", "", "A1", 166}, r8(45000), "=n general"},
  };
  XlsxSheet kept{"Formulas", {}, false};
  for (const auto &cell : cells)
    kept.cells.push_back(cell.cell);
  // D1:D80, every other one a formula of the time in A2: 40 runs of cells to keep.
  for (int row = 1; row <= 80; ++row)
    kept.cells.push_back({"D" + std::to_string(row), "", "0.5", row % 2 ? "A2" : "", 0});
  std::stable_sort(kept.cells.begin(), kept.cells.end(), [](const XlsxCell &a, const XlsxCell &b) {
    return std::stoi(a.ref.substr(1)) < std::stoi(b.ref.substr(1));
  });
  book.sheets = {kept};
  std::string path = dir_->file("general.xlsx"), copy = dir_->file("general_copy.xlsx");
  vlx::calc::test::writeXlsx(path, book);
  auto expectAll = [&](COleDispatchDriver &formulas, double shift) {
    for (const auto &cell : cells) {
      SCOPED_TRACE(cell.cell.ref);
      Expected value = cell.value;
      if (cell.cell.ref == "A1" || cell.cell.formula.find("A1") != std::string::npos)
        value.number += shift;
      expectVariant(Range(range(formulas, cell.cell.ref.c_str())).GetValue(), value);
    }
  };
  reporting([&] {
    COleDispatchDriver opened(open(path));
    COleDispatchDriver formulas(sheet(opened, 1));
    expectAll(formulas, 0);
    // Computed again after a change: General still.
    Range changed(range(formulas, "A1"));
    EXPECT_EQ(put(changed, kValue, scalar(VT_DATE, 45001)), S_OK);
    SCOPED_TRACE("after a change");
    expectAll(formulas, 1);
    opened.InvokeHelper(kSave, kCall, VT_EMPTY, nullptr, nullptr);
    opened.InvokeHelper(kSaveAs, kCall, VT_EMPTY, nullptr, kString, copy.c_str());
    // A formula the host writes takes its result's format, as one typed in; the file's cells
    // keep General where deleted cells move them.
    Range written(range(formulas, "C1"));
    written.InvokeHelper(kFormula, DISPATCH_PROPERTYPUT, VT_EMPTY, nullptr, kString, "=A1");
    expectVariant(written.GetValue(), date(45001));
    Range deleted(range(formulas, "B4"));
    const BYTE kShift[] = {VT_I4, 0};
    deleted.InvokeHelper(kDelete, kCall, VT_EMPTY, nullptr, kShift, -4162); // xlShiftUp
    Range block(range(formulas, "D1:D60"));
    EXPECT_EQ(put(block, kValue, scalar(VT_R8, 5)), S_OK);
    Range time(range(formulas, "A2"));
    EXPECT_EQ(put(time, kValue, scalar(VT_DATE, 0.75)), S_OK);
    expectVariant(Range(range(formulas, "B9")).GetValue(), r8(0.75));
    expectVariant(Range(range(formulas, "D1")).GetValue(), r8(5));
    expectVariant(Range(range(formulas, "D61")).GetValue(), r8(0.75));
    expectVariant(Range(range(formulas, "D79")).GetValue(), r8(0.75));
    close(opened);
  });
  for (const auto &saved : {path, copy}) {
    SCOPED_TRACE(saved);
    auto read = savedCells(saved);
    ASSERT_FALSE(read.empty()) << "python3 could not read the saved file";
    for (const auto &cell : cells)
      EXPECT_EQ(read[cell.cell.ref], cell.kind) << cell.cell.ref;
  }
  reporting([&] {
    COleDispatchDriver opened(open(copy));
    COleDispatchDriver formulas(sheet(opened, 1));
    SCOPED_TRACE("saved copy");
    expectAll(formulas, 1);
    close(opened);
  });
  // A workbook opened read-only, which LibreOffice keeps from any change.
  std::string readOnly = dir_->file("general_read_only.xlsx");
  vlx::calc::test::writeXlsx(readOnly, book);
  ASSERT_EQ(::chmod(readOnly.c_str(), 0444), 0);
  reporting([&] {
    COleDispatchDriver opened(open(readOnly));
    COleDispatchDriver formulas(sheet(opened, 1));
    SCOPED_TRACE("read-only");
    expectAll(formulas, 0);
    close(opened);
  });
}
