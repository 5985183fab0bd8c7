// A tiny in-process server for the tests: class "Test.Sheet". The object it creates is an
// application and cell R0C0 at once. Ranges answer Offset and Value (a cell that holds no number
// reads as its name, "R1C2"; a block as a 2-D array); the application answers Range, Workbooks and
// Quit, the workbooks Open, a workbook Save, SaveAs and Close. The one workbook's cells are
// numbers, kept in a text file of "R1C2 42" lines. The library may be unloaded once no object or
// lock is left.
#include "calc/dispatch_object.h"

#include <velmora/win32.h>

#include <atomic>
#include <cstdio>

namespace {

const CLSID kSheetClsid = {0x5EC7A11D, 0x0001, 0x4000, {0x80, 0, 0, 0, 0, 0, 0, 0x01}};

std::atomic<long> liveObjects{0};
std::atomic<long> serverLocks{0};

// Plain arrays, no standard containers: those bring GNU unique symbols, which forbid unloading.
const LONG kSize = 16;
double cells[kSize][kSize];
bool filled[kSize][kSize];
char bookPath[512];

BSTR oleText(const char *text) {
  OLECHAR wide[600];
  int i = 0;
  for (; text[i] && i < 599; ++i)
    wide[i] = OLECHAR(static_cast<unsigned char>(text[i]));
  wide[i] = 0;
  return SysAllocString(wide);
}

HRESULT fault(EXCEPINFO *info, const char *description) {
  if (info) {
    *info = EXCEPINFO();
    info->bstrSource = oleText("Test.Sheet");
    info->bstrDescription = oleText(description);
    info->scode = LONG(0x800A03EC);
  }
  return DISP_E_EXCEPTION;
}

// The argument as narrow text (ASCII is all the tests send).
bool textArg(VARIANT &arg, char *out, int size) {
  VARIANT text;
  VariantInit(&text);
  if (FAILED(VariantChangeType(&text, &arg, 0, VT_BSTR)))
    return false;
  int i = 0;
  for (; V_BSTR(&text)[i] && i < size - 1; ++i)
    out[i] = char(V_BSTR(&text)[i]);
  out[i] = 0;
  VariantClear(&text);
  return true;
}

bool inSheet(LONG row, LONG column) {
  return row >= 0 && row < kSize && column >= 0 && column < kSize;
}

// "B3" as its row and column.
bool parseCell(const char *ref, LONG &row, LONG &column) {
  column = 0;
  row = 0;
  for (; *ref >= 'A' && *ref <= 'Z'; ++ref)
    column = column * 26 + (*ref - 'A' + 1);
  for (; *ref >= '0' && *ref <= '9'; ++ref)
    row = row * 10 + (*ref - '0');
  return *ref == 0 && inSheet(row, column);
}

bool load(const char *path) {
  std::FILE *file = std::fopen(path, "r");
  if (!file)
    return false;
  for (LONG r = 0; r < kSize; ++r)
    for (LONG c = 0; c < kSize; ++c)
      filled[r][c] = false;
  long row, column;
  double value;
  while (std::fscanf(file, " R%ldC%ld %lf", &row, &column, &value) == 3)
    if (inSheet(LONG(row), LONG(column))) {
      cells[row][column] = value;
      filled[row][column] = true;
    }
  std::fclose(file);
  std::snprintf(bookPath, sizeof bookPath, "%s", path);
  return true;
}

bool save() {
  std::FILE *file = std::fopen(bookPath, "wb");
  if (!file)
    return false;
  for (LONG r = 0; r < kSize; ++r)
    for (LONG c = 0; c < kSize; ++c)
      if (filled[r][c])
        std::fprintf(file, "R%ldC%ld %.17g\n", long(r), long(c), cells[r][c]);
  return std::fclose(file) == 0;
}

enum class Kind { Application, Workbooks, Workbook, Range };

class Sheet final : public vlx::calc::DispatchObject {
public:
  Sheet(Kind kind, LONG row, LONG column, LONG rows = 1, LONG columns = 1)
      : kind_(kind), row_(row), column_(column), rows_(rows), columns_(columns) {
    ++liveObjects;
  }
  ~Sheet() override { --liveObjects; }

  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR *, UINT, LCID, DISPID *) override {
    return DISP_E_UNKNOWNNAME;
  }
  // Arguments arrive last first.
  HRESULT STDMETHODCALLTYPE Invoke(DISPID dispid, REFIID, LCID, WORD flags, DISPPARAMS *params,
                                   VARIANT *result, EXCEPINFO *info, UINT *) override {
    const UINT count = params->cArgs;
    const bool range = kind_ == Kind::Range || kind_ == Kind::Application;
    char text[512];
    if (range && dispid == 0xFE && count == 2) { // Offset(rows, columns)
      VARIANT rows, columns;
      VariantInit(&rows);
      VariantInit(&columns);
      if (FAILED(VariantChangeType(&rows, &params->rgvarg[1], 0, VT_I4)) ||
          FAILED(VariantChangeType(&columns, &params->rgvarg[0], 0, VT_I4)))
        return DISP_E_TYPEMISMATCH;
      return give(result, new Sheet(Kind::Range, row_ + V_I4(&rows), column_ + V_I4(&columns)));
    }
    if (range && dispid == 0x6 && (flags & DISPATCH_PROPERTYPUT) && count == 1)
      return putValue(params->rgvarg[0]);
    if (range && dispid == 0x6 && count == 0)
      return getValue(result);
    if (kind_ == Kind::Application && dispid == 0xC5 && (count == 1 || count == 2)) { // Range
      LONG row, column, lastRow, lastColumn;
      if (!textArg(params->rgvarg[count - 1], text, sizeof text) || !parseCell(text, row, column))
        return fault(info, "Range: not a cell");
      lastRow = row;
      lastColumn = column;
      if (count == 2 &&
          (!textArg(params->rgvarg[0], text, sizeof text) ||
           !parseCell(text, lastRow, lastColumn) || lastRow < row || lastColumn < column))
        return fault(info, "Range: not a cell");
      return give(result,
                  new Sheet(Kind::Range, row, column, lastRow - row + 1, lastColumn - column + 1));
    }
    if (kind_ == Kind::Application && dispid == 0x23C) // Workbooks
      return give(result, new Sheet(Kind::Workbooks, 0, 0));
    if (kind_ == Kind::Application && dispid == 0x12E) // Quit
      return S_OK;
    if (kind_ == Kind::Workbooks && dispid == 0x2AA && count >= 1) { // Open(FileName)
      if (!textArg(params->rgvarg[count - 1], text, sizeof text))
        return DISP_E_TYPEMISMATCH;
      if (!load(text)) {
        char description[600];
        std::snprintf(description, sizeof description, "'%s' could not be found", text);
        return fault(info, description);
      }
      return give(result, new Sheet(Kind::Workbook, 0, 0));
    }
    if (kind_ == Kind::Workbook && dispid == 0x11C && count >= 1) { // SaveAs(FileName)
      if (!textArg(params->rgvarg[count - 1], bookPath, sizeof bookPath))
        return DISP_E_TYPEMISMATCH;
      return save() ? S_OK : fault(info, "cannot write the file");
    }
    if (kind_ == Kind::Workbook && dispid == 0x11B) // Save
      return save() ? S_OK : fault(info, "cannot write the file");
    if (kind_ == Kind::Workbook && dispid == 0x115) // Close
      return S_OK;
    return DISP_E_MEMBERNOTFOUND;
  }

private:
  static HRESULT give(VARIANT *result, IDispatch *object) {
    if (result == nullptr) {
      object->Release();
      return E_INVALIDARG;
    }
    V_VT(result) = VT_DISPATCH;
    V_DISPATCH(result) = object;
    return S_OK;
  }

  // One cell as a number, or its name when it holds none.
  void cellValue(LONG row, LONG column, VARIANT &out) const {
    if (inSheet(row, column) && filled[row][column]) {
      V_VT(&out) = VT_R8;
      V_R8(&out) = cells[row][column];
      return;
    }
    // snprintf, not std::to_string: that brings a GNU unique symbol, which forbids unloading.
    char text[32];
    std::snprintf(text, sizeof text, "R%ldC%ld", long(row), long(column));
    V_VT(&out) = VT_BSTR;
    V_BSTR(&out) = oleText(text);
  }

  HRESULT getValue(VARIANT *result) const {
    if (result == nullptr)
      return E_INVALIDARG;
    if (rows_ == 1 && columns_ == 1) {
      cellValue(row_, column_, *result);
      return S_OK;
    }
    SAFEARRAYBOUND bounds[2] = {{ULONG(rows_), 1}, {ULONG(columns_), 1}};
    SAFEARRAY *block = SafeArrayCreate(VT_VARIANT, 2, bounds);
    if (block == nullptr)
      return E_OUTOFMEMORY;
    for (LONG r = 0; r < rows_; ++r)
      for (LONG c = 0; c < columns_; ++c) {
        VARIANT cell;
        cellValue(row_ + r, column_ + c, cell);
        LONG at[2] = {r + 1, c + 1};
        SafeArrayPutElement(block, at, &cell);
        VariantClear(&cell);
      }
    V_VT(result) = VT_ARRAY | VT_VARIANT;
    V_ARRAY(result) = block;
    return S_OK;
  }

  // A number for every cell, or a 2-D array of VARIANTs the size of the range.
  HRESULT putValue(VARIANT &value) {
    double numbers[kSize][kSize];
    for (LONG r = 0; r < rows_; ++r)
      for (LONG c = 0; c < columns_; ++c) {
        if (!inSheet(row_ + r, column_ + c))
          return DISP_E_BADINDEX;
        VARIANT cell, number;
        VariantInit(&cell);
        VariantInit(&number);
        if (V_VT(&value) == (VT_ARRAY | VT_VARIANT)) {
          LONG firstRow = 0, firstColumn = 0, at[2];
          if (SafeArrayGetDim(V_ARRAY(&value)) != 2 ||
              FAILED(SafeArrayGetLBound(V_ARRAY(&value), 1, &firstRow)) ||
              FAILED(SafeArrayGetLBound(V_ARRAY(&value), 2, &firstColumn)))
            return DISP_E_TYPEMISMATCH;
          at[0] = firstRow + r;
          at[1] = firstColumn + c;
          if (FAILED(SafeArrayGetElement(V_ARRAY(&value), at, &cell)))
            return DISP_E_BADINDEX;
        } else if (FAILED(VariantCopy(&cell, &value))) {
          return DISP_E_TYPEMISMATCH;
        }
        HRESULT hr = VariantChangeType(&number, &cell, 0, VT_R8);
        VariantClear(&cell);
        if (FAILED(hr))
          return DISP_E_TYPEMISMATCH;
        numbers[r][c] = V_R8(&number);
      }
    // Nothing changes unless every cell converts.
    for (LONG r = 0; r < rows_; ++r)
      for (LONG c = 0; c < columns_; ++c) {
        cells[row_ + r][column_ + c] = numbers[r][c];
        filled[row_ + r][column_ + c] = true;
      }
    return S_OK;
  }

  Kind kind_;
  LONG row_, column_, rows_, columns_;
};

class SheetFactory final : public IClassFactory {
public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void **out) override {
    if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, IID_IClassFactory)) {
      *out = nullptr;
      return E_NOINTERFACE;
    }
    *out = static_cast<IClassFactory *>(this);
    AddRef();
    return S_OK;
  }
  // The factory lives as long as the library; a reference to it holds the library.
  ULONG STDMETHODCALLTYPE AddRef() override { return ULONG(++serverLocks); }
  ULONG STDMETHODCALLTYPE Release() override { return ULONG(--serverLocks); }
  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown *outer, REFIID riid, void **out) override {
    *out = nullptr;
    if (outer != nullptr)
      return CLASS_E_NOAGGREGATION;
    Sheet *sheet = new Sheet(Kind::Application, 0, 0);
    HRESULT hr = sheet->QueryInterface(riid, out);
    sheet->Release();
    return hr;
  }
  HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override {
    serverLocks += lock ? 1 : -1;
    return S_OK;
  }
};

SheetFactory factory;

} // namespace

// The two entry points the loader looks up by name.
#ifdef _WIN32
#define VLX_SERVER_ENTRY extern "C" __declspec(dllexport) HRESULT WINAPI
#else
#define VLX_SERVER_ENTRY extern "C" __attribute__((visibility("default"))) HRESULT WINAPI
#endif

VLX_SERVER_ENTRY DllGetClassObject(REFCLSID rclsid, REFIID riid, LPVOID *ppv) {
  if (!IsEqualCLSID(rclsid, kSheetClsid)) {
    *ppv = nullptr;
    return CLASS_E_CLASSNOTAVAILABLE;
  }
  return factory.QueryInterface(riid, ppv);
}

VLX_SERVER_ENTRY DllCanUnloadNow() { return liveObjects == 0 && serverLocks == 0 ? S_OK : S_FALSE; }
