// A minimal .xlsx writer for the spreadsheet tests: cells exactly as a file may hold them
// (typed Booleans and errors, cached formula results, either date system, chart sheets), which
// no office would write on request.
#pragma once

#include <string>
#include <vector>

namespace vlx::calc::test {

struct XlsxCell {
  std::string ref;     // "B3"
  std::string type;    // the cell's t attribute: "" (number), "b", "e", "str", "inlineStr"
  std::string value;   // the stored or cached value, as the file writes it
  std::string formula; // without "="; empty for a constant
  int numFmt = 0;      // a built-in format id, or 164 + the index in XlsxBook::formats
};

struct XlsxSheet {
  std::string name;
  std::vector<XlsxCell> cells;
  bool chart = false; // a chart sheet, plotting the first sheet's B1:B3
  // A damaged file: the sheet's part left out (-1), or cut to so many bytes (above 0).
  long damage = 0;
};

struct XlsxBook {
  bool date1904 = false;
  std::vector<std::string> formats; // custom number format codes, ids 164 on
  std::vector<XlsxSheet> sheets;
};

// Writes the workbook to path (an uncompressed zip); throws std::runtime_error on failure.
void writeXlsx(const std::string &path, const XlsxBook &book);

} // namespace vlx::calc::test
