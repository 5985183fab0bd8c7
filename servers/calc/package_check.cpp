// The sheets of an Office Open XML workbook, read through the office's zip reader: see
// package_check.h.
#include "package_check.h"
#include "office.h"

#include <com/sun/star/container/XNameAccess.hpp>
#include <com/sun/star/io/XInputStream.hpp>
#include <com/sun/star/lang/DisposedException.hpp>
#include <com/sun/star/lang/XMultiComponentFactory.hpp>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <map>
#include <utility>
#include <vector>

namespace vlx::calc {

namespace {

using css::uno::Reference;
using css::uno::UNO_QUERY;

OUString utf8(const std::string &text) {
  return OUString(text.data(), static_cast<sal_Int32>(text.size()), RTL_TEXTENCODING_UTF8);
}

std::string lower(std::string text) {
  for (char &c : text)
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

// Feeds a part to fn a piece at a time, as it is inflated: a megabyte a call over the bridge.
template <class Fn>
void readPart(const Reference<css::container::XNameAccess> &zip, const std::string &name, Fn fn) {
  Reference<css::io::XInputStream> in(zip->getByName(utf8(name)), UNO_QUERY);
  if (!in.is())
    return;
  css::uno::Sequence<sal_Int8> chunk;
  for (sal_Int32 got; (got = in->readBytes(chunk, 1 << 20)) > 0;)
    fn(reinterpret_cast<const char *>(chunk.getConstArray()), static_cast<size_t>(got));
  in->closeInput();
}

// The whole of a small part (workbook.xml, its relations, the styles), or nothing when it is
// larger than any such part is: a few kilobytes of zip can inflate to gigabytes.
std::string readPart(const Reference<css::container::XNameAccess> &zip, const std::string &name) {
  constexpr size_t kLargest = 16 << 20;
  std::string text;
  bool tooLarge = false;
  readPart(zip, name, [&](const char *data, size_t size) {
    if (!tooLarge && text.size() + size <= kLargest)
      text.append(data, size);
    else
      tooLarge = true;
  });
  return tooLarge ? std::string() : text;
}

// The value of attribute `name` in the XML element that starts at `element`.
std::string attribute(const std::string &xml, size_t element, const std::string &name) {
  size_t end = xml.find('>', element);
  for (size_t at = xml.find(name + "=", element); at != std::string::npos && at < end;
       at = xml.find(name + "=", at + 1)) {
    char before = xml[at - 1];
    if (before != ' ' && before != '\t' && before != '\n' && before != '\r' && before != ':')
      continue;
    size_t open = at + name.size() + 1;
    char quote = xml[open];
    size_t close = xml.find(quote, open + 1);
    if (close == std::string::npos || close > end)
      return {};
    return xml.substr(open + 1, close - open - 1);
  }
  return {};
}

// The start of each element named `name` (with any namespace prefix).
std::vector<size_t> elements(const std::string &xml, const std::string &name) {
  std::vector<size_t> found;
  for (size_t at = xml.find('<'); at != std::string::npos; at = xml.find('<', at + 1)) {
    size_t start = at + 1, colon = xml.find_first_of(": \t\r\n/>", start);
    if (colon != std::string::npos && xml[colon] == ':')
      start = colon + 1;
    if (xml.compare(start, name.size(), name) == 0 && start + name.size() < xml.size() &&
        std::string(" \t\r\n/>").find(xml[start + name.size()]) != std::string::npos)
      found.push_back(at);
  }
  return found;
}

// An attribute's text without XML's escapes.
std::string unescape(const std::string &text) {
  static const std::pair<const char *, const char *> named[] = {
      {"amp", "&"}, {"lt", "<"}, {"gt", ">"}, {"quot", "\""}, {"apos", "'"}};
  std::string out;
  for (size_t at = 0; at < text.size(); ++at) {
    size_t end = text[at] == '&' ? text.find(';', at) : std::string::npos;
    if (end == std::string::npos) {
      out += text[at];
      continue;
    }
    std::string entity = text.substr(at + 1, end - at - 1);
    std::string with;
    for (const auto &[name, character] : named)
      if (entity == name)
        with = character;
    if (with.empty() && entity.size() > 1 && entity[0] == '#') {
      bool hex = entity[1] == 'x';
      sal_uInt32 code =
          sal_uInt32(std::strtoul(entity.c_str() + (hex ? 2 : 1), nullptr, hex ? 16 : 10));
      if (code > 0 && code <= 0x10FFFF)
        with = OUStringToOString(OUString(&code, 1), RTL_TEXTENCODING_UTF8).getStr();
    }
    if (with.empty()) {
      out += text[at];
      continue;
    }
    out += with;
    at = end;
  }
  return out;
}

// A part's name from a relation's target, relative to xl/.
std::string partName(const std::string &target) {
  if (!target.empty() && target[0] == '/')
    return target.substr(1);
  std::string name = "xl/" + target;
  for (size_t up; (up = name.find("/../")) != std::string::npos;) {
    size_t parent = name.rfind('/', up - 1);
    name.erase(parent == std::string::npos ? 0 : parent + 1, up + 4 - (parent + 1));
  }
  return name;
}

// Whether each cell style of styles.xml (its cellXfs) has the General number format: format 0,
// or a format of the file's own whose code is "General".
std::vector<bool> generalStyles(const std::string &styles) {
  if (styles.empty())
    return {true}; // every cell has the default style
  std::vector<std::string> general{"0"};
  for (size_t format : elements(styles, "numFmt"))
    if (lower(attribute(styles, format, "formatCode")) == "general")
      general.push_back(attribute(styles, format, "numFmtId"));
  std::vector<bool> found;
  auto list = elements(styles, "cellXfs");
  if (list.empty())
    return found;
  size_t end = styles.find("cellXfs>", list[0] + 1);
  for (size_t xf : elements(styles, "xf"))
    if (xf > list[0] && xf < end) {
      std::string id = attribute(styles, xf, "numFmtId");
      found.push_back(std::find(general.begin(), general.end(), id.empty() ? "0" : id) !=
                      general.end());
    }
  return found;
}

bool endsWorksheet(std::string tail) {
  while (!tail.empty() && std::isspace(static_cast<unsigned char>(tail.back())))
    tail.pop_back();
  return tail.size() >= 10 && tail.compare(tail.size() - 10, 10, "worksheet>") == 0 &&
         tail.rfind("</") != std::string::npos;
}

} // namespace

PackageCheck checkPackage(const Reference<css::uno::XComponentContext> &office, const OUString &url,
                          const std::string &path) {
  PackageCheck check;
  const std::string extension = lower(path.substr(path.find_last_of("./") + 1));
  if (extension != "xlsx" && extension != "xlsm" && extension != "xltx" && extension != "xltm")
    return check;
  try {
    const css::uno::Any file(url);
    Reference<css::container::XNameAccess> zip(
        office->getServiceManager()->createInstanceWithArgumentsAndContext(
            "com.sun.star.packages.zip.ZipFileAccess", css::uno::Sequence<css::uno::Any>(&file, 1),
            office),
        UNO_QUERY);
    if (!zip.is() || !zip->hasByName("xl/workbook.xml") ||
        !zip->hasByName("xl/_rels/workbook.xml.rels"))
      return check;
    const std::string workbook = readPart(zip, "xl/workbook.xml");
    const std::string relations = readPart(zip, "xl/_rels/workbook.xml.rels");
    std::string stylesPart;
    std::map<std::string, std::pair<std::string, std::string>> byId; // target and type
    for (size_t relation : elements(relations, "Relationship")) {
      std::string type = attribute(relations, relation, "Type");
      if (type.size() >= 7 && type.compare(type.size() - 7, 7, "/styles") == 0)
        stylesPart = partName(attribute(relations, relation, "Target"));
      byId[attribute(relations, relation, "Id")] = {attribute(relations, relation, "Target"),
                                                    std::move(type)};
    }
    const std::vector<bool> general = generalStyles(
        !stylesPart.empty() && zip->hasByName(utf8(stylesPart)) ? readPart(zip, stylesPart)
                                                                : std::string());
    for (size_t sheet : elements(workbook, "sheet")) {
      const std::string name = attribute(workbook, sheet, "name");
      const std::string id = attribute(workbook, sheet, "id");
      const auto found = byId.find(id);
      const std::string target = found != byId.end() ? found->second.first : std::string();
      const std::string type = found != byId.end() ? found->second.second : std::string();
      if (target.empty() || type.size() < 10 ||
          type.compare(type.size() - 10, 10, "/worksheet") != 0)
        continue; // a chart sheet, or a relation the office reports itself
      const std::string part = partName(target);
      if (!zip->hasByName(utf8(part))) {
        check.damage = "its sheet '" + name + "' (" + part + ") is missing";
        break;
      }
      // One pass: its cells, and its end.
      SheetScan scan(general);
      std::string tail;
      readPart(zip, part, [&](const char *data, size_t size) {
        scan.feed(data, size);
        tail.append(data + (size > 256 ? size - 256 : 0), std::min<size_t>(size, 256));
        if (tail.size() > 256)
          tail.erase(0, tail.size() - 256);
      });
      if (!endsWorksheet(tail)) {
        check.damage = "its sheet '" + name + "' (" + part + ") is cut short";
        break;
      }
      check.cells.push_back(scan.finish());
      check.cells.back().sheet = unescape(name);
    }
  } catch (const css::lang::DisposedException &) {
    throw;
  } catch (const css::uno::Exception &) {
    // Not read as a package: the office's own load says what it found.
  }
  if (!check.damage.empty())
    check.cells.clear();
  return check;
}

} // namespace vlx::calc
