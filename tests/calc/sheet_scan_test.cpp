// The scan of a worksheet part for the cells LibreOffice changes as it loads them: formulas in
// General cells and typed Booleans, whatever pieces the part is inflated in.
#include "sheet_scan.h"

#include <gtest/gtest.h>

#include <string>
#include <sys/resource.h>
#include <utility>
#include <vector>

namespace vlx::calc {
namespace {

using Cells = std::vector<std::pair<int, int>>; // (column, row) from 0

Cells plain(const std::vector<CellPosition> &cells) {
  Cells out;
  for (const auto &cell : cells)
    out.emplace_back(cell.column, cell.row);
  return out;
}

TEST(SheetScan, FindsGeneralFormulasAndTypedBooleansInAnyPieces) {
  // Styles 0 and 2 are General, 1 is a date's.
  const std::vector<bool> general = {true, false, true};
  struct Case {
    const char *what;
    std::string xml;
    Cells formulas, booleans;
  };
  const std::vector<Case> cases = {
      {"styles by index, none meaning 0",
       R"(<sheetData><row r="1"><c r="A1"><f>B1</f><v>1</v></c><c r="B1" s="1"><f>C1</f>)"
       R"(<v>2</v></c><c r="C1" s="2"><f t="shared" si="0"/><v>3</v></c><c r="D1" s="9">)"
       R"(<f>1</f></c><c r="E1"><v>4</v></c></row></sheetData>)",
       {{0, 0}, {2, 0}},
       {}},
      {"typed Booleans, not Boolean results",
       R"(<row r="3"><c r="A3" t="b"><v>1</v></c><c r="B3" t="b"><f>TRUE()</f><v>1</v></c>)"
       R"(<c r="C3" t="b"/><c r="D3" t="e"><v>#N/A</v></c></row>)",
       {{1, 2}},
       {{0, 2}}},
      {"cells and rows without references follow the last",
       R"(<row><c><f>1</f></c><c t="b"><v>0</v></c></row><row><c r="C2"/><c><f>1</f></c></row>)",
       {{0, 0}, {3, 1}},
       {{1, 0}}},
      {"prefixes, quotes with '>', other elements",
       R"(<x:worksheet><x:sheetData><x:row r="7"><x:c r="AB7" s='0' x:note="a>b">)"
       R"(<x:f>A1&gt;0</x:f><x:v>1</x:v></x:c></x:row></x:sheetData><x:extLst><c r="A1">)"
       R"(</c></x:extLst></x:worksheet>)",
       {{27, 6}},
       {}},
      {"references out of the sheet", R"(<row r="9"><c r="XFE9"><f>1</f></c></row>)", {}, {}},
      {"a cell left open ends with its row",
       R"(<row r="1"><c r="A1" t="b"><row><f>1</f><v>1</v></c></row>)",
       {},
       {}},
  };
  for (const auto &c : cases)
    for (size_t piece = 1; piece <= c.xml.size(); piece = piece < 8 ? piece + 1 : piece * 2) {
      SCOPED_TRACE(std::string(c.what) + ", pieces of " + std::to_string(piece));
      SheetScan scan(general);
      for (size_t at = 0; at < c.xml.size(); at += piece)
        scan.feed(c.xml.data() + at, std::min(piece, c.xml.size() - at));
      SheetCells found = scan.finish();
      EXPECT_EQ(plain(found.generalFormulas), c.formulas);
      EXPECT_EQ(plain(found.booleans), c.booleans);
    }
}

// A part that inflates to one huge text costs no more memory than a small one, and the cells
// after it are still found.
TEST(SheetScan, AHugeTextIsNotKept) {
  rusage before{};
  getrusage(RUSAGE_SELF, &before);
  SheetScan scan({true});
  const std::string start = R"(<row r="1"><c r="A1" t="inlineStr"><is><t>)";
  scan.feed(start.data(), start.size());
  const std::string text(1 << 20, 'x');
  for (int i = 0; i < 256; ++i)
    scan.feed(text.data(), text.size());
  const std::string end = R"(</t></is></c><c r="B1"><f>1</f></c></row>)";
  scan.feed(end.data(), end.size());
  EXPECT_EQ(plain(scan.finish().generalFormulas), (Cells{{1, 0}}));
  rusage after{};
  getrusage(RUSAGE_SELF, &after);
  EXPECT_LT(after.ru_maxrss - before.ru_maxrss, 64 * 1024) << "kilobytes more at the peak";
}

} // namespace
} // namespace vlx::calc
