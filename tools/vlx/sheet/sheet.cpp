// `vlx sheet`: a workbook read and written through the spreadsheet wrapper classes and whatever
// server is registered for Excel.Application (on Linux, the LibreOffice Calc server).
#include "vlx/core/commands.h"
#include "vlx/core/errors.h"
#include "vlx/core/progress.h"
#include "vlx/formats/value_text.h"
#include "vlx/formats/variant_text.h"
#include "vlx/sheet/sheet.h"

#include <velmora/automation.h>

#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <optional>
#include <regex>
#include <sstream>
#include <string>
#include <thread>

namespace vlx::cli {
namespace {

// DISPIDs of the members the wrappers do not export, called through their driver.
const DISPID kOpen = 0x2AA, kClose = 0x115, kSave = 0x11B, kWorksheets = 0x1EE, kRange = 0xC5,
             kNames = 0x1BA, kRefersTo = 0x3AA, kQuit = 0x12E, kReadOnly = 0x128;
// The LibreOffice server's own: what is damaged in the workbook's file, which it opened
// read-only (Excel has no such member).
const DISPID kDamage = 0x7F000001;
const WORD kCall = DISPATCH_METHOD | DISPATCH_PROPERTYGET;
const BYTE kText[] = {0x0E, 0}; // narrow text, made a BSTR by the driver
const BYTE kBool[] = {VT_BOOL, 0};
const BYTE kInt[] = {VT_I4, 0};
const BYTE kOpenArgs[] = {0x0E, VT_ERROR, VT_BOOL, 0}; // FileName, UpdateLinks omitted, ReadOnly

// How long an unused office waits for the next command, unless VELMORA_CALC_KEEP_SECONDS says.
const char kKeepSeconds[] = "300";

std::string codeText(HRESULT hr) {
  char text[32];
  std::snprintf(text, sizeof text, "error 0x%08X", static_cast<unsigned>(hr));
  return text;
}

// The framework's exception as one line; the exception object is deleted.
std::string describe(CException *e) {
  char text[1024] = "";
  e->GetErrorMessage(text, sizeof text);
  std::string line = text;
  SCODE code = COleException::Process(e);
  e->Delete();
  return line.empty() ? codeText(code) : line;
}

// What the server found damaged in the workbook's file, or empty (also from a server without
// the member).
std::string damageOf(COleDispatchDriver &book) {
  CString damage;
  try {
    book.GetProperty(kDamage, VT_BSTR, &damage);
  } catch (CException *e) {
    e->Delete();
    return "";
  }
  return static_cast<const char *>(damage);
}

// The workbook FILE open in the spreadsheet, closed (without saving) and the spreadsheet ended
// when done. A reader opens it read-only, so that it never keeps a writer waiting; a writer
// waits up to lockWait seconds while another process writes it.
class Session {
public:
  explicit Session(const std::string &file, bool write = false, double lockWait = 0) {
    struct stat st;
    if (::stat(file.c_str(), &st) != 0)
      throw Failure("cannot read " + file + ": no such file");
    if (!S_ISREG(st.st_mode) || ::access(file.c_str(), R_OK) != 0)
      throw Failure("cannot read " + file +
                    (S_ISREG(st.st_mode) ? ": permission denied" : ": not a file"));
    // The office outlives the command, for the next one, unless the user chose otherwise.
    ::setenv("VELMORA_CALC_KEEP_SECONDS", kKeepSeconds, 0);
    // A writer waits for the other processes (the shared office's turn too) as --wait says.
    if (write)
      ::setenv("VELMORA_CALC_WAIT_SECONDS", formatDouble(lockWait).c_str(), 1);
    std::optional<WaitLine> waiting;
    waiting.emplace(std::cerr, "vlx: waiting for LibreOffice...");
    CoInitialize(nullptr);
    COleException error;
    if (!app_.CreateDispatch("Excel.Application", &error)) {
      const std::string refused = takeServerLoadError();
      CoUninitialize();
      if (!refused.empty() && error.m_sc != CO_E_DLLNOTFOUND)
        throw Failure("cannot start the spreadsheet: " + refused);
      const std::string advice = sheetAdvice();
      const std::string then = advice.empty() ? "" : ": " + advice;
      if (error.m_sc == REGDB_E_CLASSNOTREG || error.m_sc == REGDB_E_KEYMISSING ||
          error.m_sc == CO_E_CLASSSTRING)
        throw Failure("no spreadsheet server is registered for Excel.Application" + then);
      if (error.m_sc == CO_E_DLLNOTFOUND || error.m_sc == CO_E_ERRORINDLL)
        throw Failure("the spreadsheet server cannot be loaded" +
                      (refused.empty() ? std::string() : " (" + refused + ")") + then);
      throw Failure("cannot start the spreadsheet: " + codeText(error.m_sc) + then);
    }
    auto deadline = std::chrono::steady_clock::now() +
                    std::chrono::milliseconds(static_cast<long>(lockWait * 1000));
    for (;;) {
      try {
        Workbooks books(app_.Workbooks(0));
        LPDISPATCH book = nullptr;
        books.InvokeHelper(kOpen, kCall, VT_DISPATCH, &book, kOpenArgs, file.c_str(),
                           DISP_E_PARAMNOTFOUND, write ? FALSE : TRUE);
        book_.AttachDispatch(book);
        waiting.reset();
        if (const std::string damage = damageOf(book_); !damage.empty()) {
          if (write) {
            end();
            throw Failure("cannot write " + file + ": it is damaged (" + damage +
                          "), and opens read-only");
          }
          std::cerr << "vlx: warning: " << printable(file) << " is damaged (" << printable(damage)
                    << "): opened read-only\n";
        }
        BOOL readOnly = FALSE;
        if (write)
          book_.GetProperty(kReadOnly, VT_BOOL, &readOnly);
        if (!readOnly)
          return;
        book_.InvokeHelper(kClose, kCall, VT_EMPTY, nullptr, kBool, FALSE);
        book_.ReleaseDispatch();
      } catch (CException *e) {
        end();
        fail("cannot open " + file + ": ", e);
      }
      if (!(st.st_mode & 0222) || ::access(file.c_str(), W_OK) != 0) {
        end();
        throw Failure("cannot write " + file + ": the file is read-only");
      }
      if (std::chrono::steady_clock::now() >= deadline) {
        end();
        throw Failure("cannot write " + file + ": another process is writing it (waited " +
                      formatDouble(lockWait) + " s; see --wait)");
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(500));
    }
  }
  ~Session() { end(); }
  void end() {
    if (!app_.m_lpDispatch)
      return;
    try {
      if (book_.m_lpDispatch)
        book_.InvokeHelper(kClose, kCall, VT_EMPTY, nullptr, kBool, FALSE);
      book_.ReleaseDispatch();
      app_.InvokeHelper(kQuit, kCall, VT_EMPTY, nullptr, nullptr);
    } catch (CException *e) {
      e->Delete(); // ending anyway
    }
    app_.ReleaseDispatch();
    CoUninitialize();
  }
  Session(const Session &) = delete;
  Session &operator=(const Session &) = delete;

  // "Sheet2!B3" (quotes around the sheet allowed) or "B3" on the first sheet.
  Range range(const std::string &reference) {
    size_t bang = reference.rfind('!');
    std::string sheet = bang == std::string::npos ? "" : reference.substr(0, bang);
    if (sheet.size() >= 2 && sheet.front() == '\'' && sheet.back() == '\'')
      sheet = sheet.substr(1, sheet.size() - 2);
    std::string cells = bang == std::string::npos ? reference : reference.substr(bang + 1);
    try {
      Worksheet ws(worksheet(sheet));
      LPDISPATCH found = nullptr;
      ws.InvokeHelper(kRange, kCall, VT_DISPATCH, &found, kText, cells.c_str());
      return Range(found);
    } catch (CException *e) {
      if (isCellReference(cells))
        fail(reference + ": ", e);
      e->Delete();
      throw Failure(cells + " is not a cell reference (such as B3 or A1:C3) nor a name the "
                            "workbook defines",
                    2);
    }
  }

  LPDISPATCH worksheet(const std::string &name) {
    LPDISPATCH sheet = nullptr;
    if (name.empty()) {
      book_.InvokeHelper(kWorksheets, kCall, VT_DISPATCH, &sheet, kInt, 1);
    } else {
      book_.InvokeHelper(kWorksheets, kCall, VT_DISPATCH, &sheet, kText, name.c_str());
    }
    return sheet;
  }

  COleDispatchDriver &book() { return book_; }

  [[noreturn]] static void fail(const std::string &context, CException *e) {
    throw Failure(context + describe(e));
  }

private:
  Application app_;
  COleDispatchDriver book_;
};

} // namespace

std::string cellErrorText(SCODE code) {
  // The spreadsheet's error numbers, which a cell's VT_ERROR carries above 0x800A0000.
  static const std::pair<int, const char *> shown[] = {
      {2000, "#NULL!"}, {2007, "#DIV/0!"}, {2015, "#VALUE!"}, {2023, "#REF!"},
      {2029, "#NAME?"}, {2036, "#NUM!"},   {2042, "#N/A"}};
  for (const auto &[number, text] : shown)
    if (static_cast<uint32_t>(code) == 0x800A0000u + static_cast<uint32_t>(number))
      return text;
  char other[24];
  std::snprintf(other, sizeof other, "#ERROR 0x%08X", static_cast<unsigned>(code));
  return other;
}

std::string cellText(const VARIANT &value) {
  if (V_VT(&value) == VT_R8)
    return formatDouble(V_R8(&value));
  if (V_VT(&value) == VT_EMPTY)
    return "";
  if (V_VT(&value) == VT_ERROR)
    return cellErrorText(V_ERROR(&value));
  VARIANT text;
  VariantInit(&text);
  HRESULT hr = VariantChangeType(&text, const_cast<VARIANT *>(&value), 0, VT_BSTR);
  if (FAILED(hr))
    throw Failure("the cell holds a value of type " + std::to_string(V_VT(&value)) +
                  ", which has no text: " + codeText(hr));
  std::string out = utf8Text(V_BSTR(&text));
  VariantClear(&text);
  return out;
}

bool isCellReference(const std::string &cells) {
  // Columns A to XFD, rows 1 to 1048576, each part of a pair the same kind (cell, column, row).
  static const std::regex part(R"(\$?([A-Za-z]{1,3})?\$?([0-9]{1,7})?)");
  auto kind = [](const std::string &text) {
    std::smatch m;
    if (text.empty() || !std::regex_match(text, m, part))
      return 0;
    return (m[1].matched ? 1 : 0) | (m[2].matched ? 2 : 0);
  };
  std::stringstream list(cells);
  std::string area;
  int areas = 0;
  while (std::getline(list, area, ',')) {
    const size_t colon = area.find(':');
    const int first = kind(area.substr(0, colon));
    if (first == 0 || (colon == std::string::npos ? first != 3
                                                  : kind(area.substr(colon + 1)) != first))
      return false;
    ++areas;
  }
  return areas > 0 && cells.back() != ',';
}

nlohmann::json cellJson(const VARIANT &value) {
  if (V_VT(&value) == VT_R8)
    return V_R8(&value);
  return cellText(value);
}

void sheetGet(std::ostream &out, const std::string &file, const std::string &reference, bool json) {
  Session session(file);
  Range cells = session.range(reference);
  try {
    VARIANT value = cells.GetValue();
    if (!(V_VT(&value) & VT_ARRAY)) {
      COleVariant owned;
      owned.Attach(value);
      if (json)
        printJson(out, cellJson(owned));
      else
        out << printable(cellText(owned)) << '\n';
      return;
    }
    // A block: one line a row, its cells separated by tabs (JSON: an array of rows).
    COleSafeArray block;
    block.Attach(value);
    long rows = 0, columns = 0, first[2] = {0, 0};
    block.GetUBound(1, &rows);
    block.GetUBound(2, &columns);
    block.GetLBound(1, &first[0]);
    block.GetLBound(2, &first[1]);
    nlohmann::json list = nlohmann::json::array();
    for (long row = first[0]; row <= rows; ++row) {
      nlohmann::json line = nlohmann::json::array();
      for (long column = first[1]; column <= columns; ++column) {
        long at[2] = {row, column};
        COleVariant cell;
        block.GetElement(at, &cell);
        if (json)
          line.push_back(cellJson(cell));
        else
          out << (column > first[1] ? "\t" : "") << printable(cellText(cell));
      }
      if (json)
        list.push_back(line);
      else
        out << '\n';
    }
    if (json)
      printJson(out, list);
  } catch (CException *e) {
    Session::fail(reference + ": ", e);
  }
}

void sheetSet(const std::string &file, const std::string &reference, const std::string &value,
              double lockWait) {
  Session session(file, true, lockWait);
  Range cells = session.range(reference);
  try {
    cells.SetValue(const_cast<char *>(value.c_str()));
    session.book().InvokeHelper(kSave, kCall, VT_EMPTY, nullptr, nullptr);
  } catch (CException *e) {
    Session::fail(reference + ": ", e);
  }
}

void sheetNames(std::ostream &out, const std::string &file, bool json) {
  Session session(file);
  nlohmann::json list = nlohmann::json::array();
  try {
    LPDISPATCH collection = nullptr;
    session.book().InvokeHelper(kNames, kCall, VT_DISPATCH, &collection, nullptr);
    Names names(collection);
    for (int i = 1, count = names.GetCount(); i <= count; ++i) {
      VARIANT index;
      VariantInit(&index);
      V_VT(&index) = VT_I4;
      V_I4(&index) = i;
      Name name(names.Item(index));
      CString refersTo;
      name.GetProperty(kRefersTo, VT_BSTR, &refersTo);
      if (json)
        list.push_back({{"name", static_cast<const char *>(name.GetName())},
                        {"refers_to", static_cast<const char *>(refersTo)}});
      else
        out << printable(static_cast<const char *>(name.GetName())) << '\t'
            << printable(static_cast<const char *>(refersTo)) << '\n';
    }
    if (json)
      printJson(out, list);
  } catch (CException *e) {
    Session::fail("names: ", e);
  }
}

void sheetSheets(std::ostream &out, const std::string &file, bool json) {
  Session session(file);
  nlohmann::json list = nlohmann::json::array();
  try {
    for (Worksheet sheet(session.worksheet("")); sheet.m_lpDispatch;
         sheet.AttachDispatch(sheet.GetNext()))
      if (json)
        list.push_back(static_cast<const char *>(sheet.GetName()));
      else
        out << printable(static_cast<const char *>(sheet.GetName())) << '\n';
    if (json)
      printJson(out, list);
  } catch (CException *e) {
    Session::fail("sheets: ", e);
  }
}

} // namespace vlx::cli
