// The sheets of an Office Open XML workbook, read through the office's zip reader: see
// package_check.h.
#include "package_check.h"
#include "office.h"

#include <com/sun/star/container/XNameAccess.hpp>
#include <com/sun/star/io/XInputStream.hpp>
#include <com/sun/star/io/XSeekable.hpp>
#include <com/sun/star/lang/DisposedException.hpp>
#include <com/sun/star/lang/XMultiComponentFactory.hpp>

#include <cctype>
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

// The whole of a small part (workbook.xml and its relations), or of its last `tail` bytes.
std::string readPart(const Reference<css::container::XNameAccess> &zip, const std::string &name,
                     sal_Int32 tail = 0) {
  Reference<css::io::XInputStream> in(zip->getByName(utf8(name)), UNO_QUERY);
  if (!in.is())
    return {};
  if (Reference<css::io::XSeekable> seek{in, UNO_QUERY}; tail > 0 && seek.is()) {
    sal_Int64 length = seek->getLength();
    if (length > tail)
      seek->seek(length - tail);
  }
  std::string text;
  css::uno::Sequence<sal_Int8> chunk;
  for (sal_Int32 got; (got = in->readBytes(chunk, 65536)) > 0;) {
    text.append(reinterpret_cast<const char *>(chunk.getConstArray()), static_cast<size_t>(got));
    if (tail > 0 && text.size() > size_t(tail))
      text.erase(0, text.size() - size_t(tail));
  }
  in->closeInput();
  return text;
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

bool endsWorksheet(std::string tail) {
  while (!tail.empty() && std::isspace(static_cast<unsigned char>(tail.back())))
    tail.pop_back();
  return tail.size() >= 10 && tail.compare(tail.size() - 10, 10, "worksheet>") == 0 &&
         tail.rfind("</") != std::string::npos;
}

} // namespace

std::string packageDamage(const Reference<css::uno::XComponentContext> &office, const OUString &url,
                          const std::string &path) {
  const std::string extension = lower(path.substr(path.find_last_of("./") + 1));
  if (extension != "xlsx" && extension != "xlsm" && extension != "xltx" && extension != "xltm")
    return {};
  try {
    const css::uno::Any file(url);
    Reference<css::container::XNameAccess> zip(
        office->getServiceManager()->createInstanceWithArgumentsAndContext(
            "com.sun.star.packages.zip.ZipFileAccess", css::uno::Sequence<css::uno::Any>(&file, 1),
            office),
        UNO_QUERY);
    if (!zip.is() || !zip->hasByName("xl/workbook.xml") ||
        !zip->hasByName("xl/_rels/workbook.xml.rels"))
      return {};
    const std::string workbook = readPart(zip, "xl/workbook.xml");
    const std::string relations = readPart(zip, "xl/_rels/workbook.xml.rels");
    for (size_t sheet : elements(workbook, "sheet")) {
      const std::string name = attribute(workbook, sheet, "name");
      const std::string id = attribute(workbook, sheet, "id");
      std::string target, type;
      for (size_t relation : elements(relations, "Relationship"))
        if (attribute(relations, relation, "Id") == id) {
          target = attribute(relations, relation, "Target");
          type = attribute(relations, relation, "Type");
        }
      if (target.empty() || type.size() < 10 ||
          type.compare(type.size() - 10, 10, "/worksheet") != 0)
        continue; // a chart sheet, or a relation the office reports itself
      const std::string part = partName(target);
      if (!zip->hasByName(utf8(part)))
        return "its sheet '" + name + "' (" + part + ") is missing";
      if (!endsWorksheet(readPart(zip, part, 256)))
        return "its sheet '" + name + "' (" + part + ") is cut short";
    }
  } catch (const css::lang::DisposedException &) {
    throw;
  } catch (const css::uno::Exception &) {
    // Not read as a package: the office's own load says what it found.
  }
  return {};
}

} // namespace vlx::calc
