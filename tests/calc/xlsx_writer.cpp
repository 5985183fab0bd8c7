// An .xlsx is a zip of XML parts; stored (uncompressed) entries are enough for any reader.
#include "xlsx_writer.h"

#include <cstdint>
#include <fstream>
#include <map>
#include <stdexcept>

namespace vlx::calc::test {

namespace {

const char kMain[] = "http://schemas.openxmlformats.org/spreadsheetml/2006/main";
const char kRel[] = "http://schemas.openxmlformats.org/officeDocument/2006/relationships";
const char kPackageRel[] = "http://schemas.openxmlformats.org/package/2006/relationships";
const char kType[] = "application/vnd.openxmlformats-officedocument.";

uint32_t crc32(const std::string &data) {
  uint32_t crc = 0xFFFFFFFFu;
  for (unsigned char byte : data) {
    crc ^= byte;
    for (int bit = 0; bit < 8; ++bit)
      crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
  }
  return ~crc;
}

void put16(std::string &out, uint32_t v) {
  out += static_cast<char>(v & 0xFF);
  out += static_cast<char>((v >> 8) & 0xFF);
}
void put32(std::string &out, uint32_t v) {
  put16(out, v & 0xFFFF);
  put16(out, v >> 16);
}

std::string zip(const std::vector<std::pair<std::string, std::string>> &entries) {
  std::string out, directory;
  for (const auto &entry : entries) {
    const std::string &name = entry.first, &data = entry.second;
    uint32_t offset = static_cast<uint32_t>(out.size()), crc = crc32(data);
    auto common = [&](std::string &to) {
      put16(to, 20);                       // version needed
      put16(to, 0);                        // flags
      put16(to, 0);                        // stored
      put16(to, 0);                        // time
      put16(to, (44 << 9) | (1 << 5) | 1); // 2024-01-01
      put32(to, crc);
      put32(to, static_cast<uint32_t>(data.size()));
      put32(to, static_cast<uint32_t>(data.size()));
      put16(to, static_cast<uint32_t>(name.size()));
      put16(to, 0); // extra
    };
    put32(out, 0x04034b50);
    common(out);
    out += name;
    out += data;
    put32(directory, 0x02014b50);
    put16(directory, 20); // made by
    common(directory);
    put16(directory, 0); // comment
    put16(directory, 0); // disk
    put16(directory, 0); // internal attributes
    put32(directory, 0); // external attributes
    put32(directory, offset);
    directory += name;
  }
  uint32_t start = static_cast<uint32_t>(out.size());
  out += directory;
  put32(out, 0x06054b50);
  put16(out, 0);
  put16(out, 0);
  put16(out, static_cast<uint32_t>(entries.size()));
  put16(out, static_cast<uint32_t>(entries.size()));
  put32(out, static_cast<uint32_t>(directory.size()));
  put32(out, start);
  put16(out, 0);
  return out;
}

std::string escape(const std::string &text) {
  std::string out;
  for (char c : text) {
    switch (c) {
    case '&':
      out += "&amp;";
      break;
    case '<':
      out += "&lt;";
      break;
    case '>':
      out += "&gt;";
      break;
    case '"':
      out += "&quot;";
      break;
    default:
      out += c;
    }
  }
  return out;
}

std::string relationships(const std::vector<std::pair<std::string, std::string>> &targets) {
  std::string xml =
      std::string("<?xml version=\"1.0\" encoding=\"UTF-8\"?><Relationships xmlns=\"") +
      kPackageRel + "\">";
  int id = 1;
  for (const auto &[type, target] : targets)
    xml += "<Relationship Id=\"rId" + std::to_string(id++) + "\" Type=\"" + kRel + "/" + type +
           "\" Target=\"" + target + "\"/>";
  return xml + "</Relationships>";
}

std::string worksheet(const XlsxSheet &sheet, std::map<int, int> &styles) {
  std::string xml = std::string("<?xml version=\"1.0\" encoding=\"UTF-8\"?><worksheet xmlns=\"") +
                    kMain + "\"><sheetData>";
  // Rows in order, cells of a row together: the cells are given row by row.
  std::string row;
  for (const auto &cell : sheet.cells) {
    std::string number = cell.ref.substr(cell.ref.find_first_of("0123456789"));
    if (number != row) {
      if (!row.empty())
        xml += "</row>";
      xml += "<row r=\"" + number + "\">";
      row = number;
    }
    xml += "<c r=\"" + cell.ref + "\"";
    if (cell.numFmt) {
      auto [it, added] = styles.emplace(cell.numFmt, static_cast<int>(styles.size()) + 1);
      xml += " s=\"" + std::to_string(it->second) + "\"";
    }
    if (!cell.type.empty())
      xml += " t=\"" + cell.type + "\"";
    xml += ">";
    if (!cell.formula.empty())
      xml += "<f>" + escape(cell.formula) + "</f>";
    if (cell.type == "inlineStr")
      xml += "<is><t xml:space=\"preserve\">" + escape(cell.value) + "</t></is>";
    else if (!cell.value.empty())
      xml += "<v>" + escape(cell.value) + "</v>";
    xml += "</c>";
  }
  if (!row.empty())
    xml += "</row>";
  return xml + "</sheetData></worksheet>";
}

std::string stylesPart(const XlsxBook &book, const std::map<int, int> &styles) {
  std::string xml =
      std::string("<?xml version=\"1.0\" encoding=\"UTF-8\"?><styleSheet xmlns=\"") + kMain + "\">";
  if (!book.formats.empty()) {
    xml += "<numFmts count=\"" + std::to_string(book.formats.size()) + "\">";
    for (size_t i = 0; i < book.formats.size(); ++i)
      xml += "<numFmt numFmtId=\"" + std::to_string(164 + i) + "\" formatCode=\"" +
             escape(book.formats[i]) + "\"/>";
    xml += "</numFmts>";
  }
  xml += "<fonts count=\"1\"><font><sz val=\"11\"/><name val=\"Calibri\"/></font></fonts>"
         "<fills count=\"2\"><fill><patternFill patternType=\"none\"/></fill><fill><patternFill "
         "patternType=\"gray125\"/></fill></fills><borders count=\"1\"><border/></borders>"
         "<cellStyleXfs count=\"1\"><xf numFmtId=\"0\" fontId=\"0\" fillId=\"0\" "
         "borderId=\"0\"/></cellStyleXfs>";
  std::vector<int> byIndex(styles.size() + 1, 0);
  for (const auto &[format, index] : styles)
    byIndex[static_cast<size_t>(index)] = format;
  xml += "<cellXfs count=\"" + std::to_string(byIndex.size()) + "\">";
  for (int format : byIndex)
    xml += "<xf numFmtId=\"" + std::to_string(format) +
           "\" fontId=\"0\" fillId=\"0\" borderId=\"0\" xfId=\"0\"" +
           (format ? " applyNumberFormat=\"1\"" : "") + "/>";
  return xml + "</cellXfs></styleSheet>";
}

std::string chartParts(const std::string &dataSheet, std::string &drawing) {
  drawing = std::string("<?xml version=\"1.0\" encoding=\"UTF-8\"?><xdr:wsDr "
                        "xmlns:xdr=\"http://schemas.openxmlformats.org/drawingml/2006/"
                        "spreadsheetDrawing\" xmlns:a=\"http://schemas.openxmlformats.org/"
                        "drawingml/2006/main\"><xdr:absoluteAnchor><xdr:pos x=\"0\" y=\"0\"/>"
                        "<xdr:ext cx=\"8000000\" cy=\"5000000\"/><xdr:graphicFrame macro=\"\">"
                        "<xdr:nvGraphicFramePr><xdr:cNvPr id=\"2\" name=\"Chart 1\"/>"
                        "<xdr:cNvGraphicFramePr/></xdr:nvGraphicFramePr><xdr:xfrm><a:off x=\"0\" "
                        "y=\"0\"/><a:ext cx=\"8000000\" cy=\"5000000\"/></xdr:xfrm><a:graphic>"
                        "<a:graphicData uri=\"http://schemas.openxmlformats.org/drawingml/2006/"
                        "chart\"><c:chart xmlns:c=\"http://schemas.openxmlformats.org/drawingml/"
                        "2006/chart\" xmlns:r=\"") +
            kRel +
            "\" r:id=\"rId1\"/></a:graphicData></a:graphic></xdr:graphicFrame><xdr:clientData/>"
            "</xdr:absoluteAnchor></xdr:wsDr>";
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?><c:chartSpace "
         "xmlns:c=\"http://schemas.openxmlformats.org/drawingml/2006/chart\" "
         "xmlns:a=\"http://schemas.openxmlformats.org/drawingml/2006/main\"><c:chart><c:plotArea>"
         "<c:layout/><c:barChart><c:barDir val=\"col\"/><c:grouping val=\"clustered\"/><c:ser>"
         "<c:idx val=\"0\"/><c:order val=\"0\"/><c:val><c:numRef><c:f>'" +
         escape(dataSheet) +
         "'!$B$1:$B$3</c:f></c:numRef></c:val></c:ser><c:axId val=\"1\"/><c:axId val=\"2\"/>"
         "</c:barChart><c:catAx><c:axId val=\"1\"/><c:scaling><c:orientation val=\"minMax\"/>"
         "</c:scaling><c:axPos val=\"b\"/><c:crossAx val=\"2\"/></c:catAx><c:valAx><c:axId "
         "val=\"2\"/><c:scaling><c:orientation val=\"minMax\"/></c:scaling><c:axPos val=\"l\"/>"
         "<c:crossAx val=\"1\"/></c:valAx></c:plotArea></c:chart></c:chartSpace>";
}

} // namespace

void writeXlsx(const std::string &path, const XlsxBook &book) {
  std::vector<std::pair<std::string, std::string>> parts;
  std::string types = "<?xml version=\"1.0\" encoding=\"UTF-8\"?><Types "
                      "xmlns=\"http://schemas.openxmlformats.org/package/2006/content-types\">"
                      "<Default Extension=\"rels\" "
                      "ContentType=\"application/vnd.openxmlformats-package.relationships+xml\"/>"
                      "<Default Extension=\"xml\" ContentType=\"application/xml\"/>";
  auto override = [&](const std::string &part, const std::string &type) {
    types += "<Override PartName=\"/" + part + "\" ContentType=\"" + kType + type + "+xml\"/>";
  };
  override("xl/workbook.xml", "spreadsheetml.sheet.main");
  override("xl/styles.xml", "spreadsheetml.styles");

  std::string workbook =
      std::string("<?xml version=\"1.0\" encoding=\"UTF-8\"?><workbook xmlns=\"") + kMain +
      "\" xmlns:r=\"" + kRel + "\"><workbookPr" + (book.date1904 ? " date1904=\"1\"" : "") +
      "/><sheets>";
  std::vector<std::pair<std::string, std::string>> bookRels;
  std::map<int, int> styles;
  int charts = 0;
  for (size_t i = 0; i < book.sheets.size(); ++i) {
    const XlsxSheet &sheet = book.sheets[i];
    std::string n = std::to_string(i + 1);
    workbook +=
        "<sheet name=\"" + escape(sheet.name) + "\" sheetId=\"" + n + "\" r:id=\"rId" + n + "\"/>";
    if (!sheet.chart) {
      std::string part = "xl/worksheets/sheet" + n + ".xml";
      if (sheet.damage >= 0)
        parts.emplace_back(
            part, worksheet(sheet, styles)
                      .substr(0, sheet.damage > 0 ? size_t(sheet.damage) : std::string::npos));
      override(part, "spreadsheetml.worksheet");
      bookRels.emplace_back("worksheet", "worksheets/sheet" + n + ".xml");
      continue;
    }
    std::string c = std::to_string(++charts), drawing;
    std::string part = "xl/chartsheets/sheet" + n + ".xml";
    parts.emplace_back(part, std::string("<?xml version=\"1.0\" encoding=\"UTF-8\"?><chartsheet "
                                         "xmlns=\"") +
                                 kMain + "\" xmlns:r=\"" + kRel +
                                 "\"><sheetViews><sheetView workbookViewId=\"0\"/></sheetViews>"
                                 "<drawing r:id=\"rId1\"/></chartsheet>");
    override(part, "spreadsheetml.chartsheet");
    parts.emplace_back("xl/chartsheets/_rels/sheet" + n + ".xml.rels",
                       relationships({{"drawing", "../drawings/drawing" + c + ".xml"}}));
    parts.emplace_back("xl/charts/chart" + c + ".xml", chartParts(book.sheets[0].name, drawing));
    override("xl/charts/chart" + c + ".xml", "drawingml.chart");
    parts.emplace_back("xl/drawings/drawing" + c + ".xml", drawing);
    override("xl/drawings/drawing" + c + ".xml", "drawing");
    parts.emplace_back("xl/drawings/_rels/drawing" + c + ".xml.rels",
                       relationships({{"chart", "../charts/chart" + c + ".xml"}}));
    bookRels.emplace_back("chartsheet", "chartsheets/sheet" + n + ".xml");
  }
  workbook += "</sheets></workbook>";
  bookRels.emplace_back("styles", "styles.xml");
  parts.emplace_back("xl/workbook.xml", workbook);
  parts.emplace_back("xl/styles.xml", stylesPart(book, styles));
  parts.emplace_back("xl/_rels/workbook.xml.rels", relationships(bookRels));
  parts.emplace_back("_rels/.rels", relationships({{"officeDocument", "xl/workbook.xml"}}));
  parts.insert(parts.begin(), {"[Content_Types].xml", types + "</Types>"});

  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  std::string data = zip(parts);
  if (!out.write(data.data(), static_cast<std::streamsize>(data.size())) || !out.flush())
    throw std::runtime_error("cannot write " + path);
}

} // namespace vlx::calc::test
