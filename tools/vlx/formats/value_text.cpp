// Registry values shown as text or JSON, and parsed from the command line.
#include "vlx/formats/value_text.h"

#include "vlx/core/errors.h"
#include "vlx/core/named.h"
#include "vlx/core/whole_number.h"
#include "vlx/formats/reg_file.h"

#include <cctype>
#include <charconv>
#include <cstdio>
#include <cstring>

namespace vlx::cli {
namespace {

constexpr Named<uint32_t> kTypes[] = {
    {reg::kTypeNone, "REG_NONE"},          {reg::kTypeSz, "REG_SZ"},
    {reg::kTypeExpandSz, "REG_EXPAND_SZ"}, {reg::kTypeBinary, "REG_BINARY"},
    {reg::kTypeDword, "REG_DWORD"},        {reg::kTypeMultiSz, "REG_MULTI_SZ"},
    {reg::kTypeQword, "REG_QWORD"},
};

std::string upper(std::string text) {
  for (char &c : text)
    c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

// Text data without the zero that ends it.
std::string withoutEnd(const std::string &data) {
  return !data.empty() && data.back() == '\0' ? data.substr(0, data.size() - 1) : data;
}

std::vector<std::string> parts(const std::string &data) {
  std::vector<std::string> out;
  size_t start = 0;
  while (start < data.size()) {
    size_t end = data.find('\0', start);
    if (end == std::string::npos)
      end = data.size();
    if (end == start) // the empty string that ends the list
      break;
    out.push_back(data.substr(start, end - start));
    start = end + 1;
  }
  return out;
}

std::string hexBytes(const std::string &data) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string out;
  for (unsigned char b : data) {
    out += kHex[b >> 4];
    out += kHex[b & 15];
  }
  return out;
}

template <typename T> std::optional<T> number(const std::string &data) {
  if (data.size() != sizeof(T))
    return std::nullopt;
  T value = 0;
  for (size_t i = sizeof(T); i-- > 0;)
    value = static_cast<T>(value << 8 | static_cast<unsigned char>(data[i]));
  return value;
}

std::string hexNumber(uint64_t n) {
  char text[64];
  std::snprintf(text, sizeof text, "0x%llx (%llu)", static_cast<unsigned long long>(n),
                static_cast<unsigned long long>(n));
  return text;
}

template <typename T> std::string littleEndian(T value) {
  std::string out;
  for (size_t i = 0; i < sizeof(T); ++i)
    out += static_cast<char>(static_cast<unsigned char>(value >> (8 * i)));
  return out;
}

template <typename T> std::string parseNumber(const std::string &text, const char *type) {
  std::string_view s = text;
  int base = 10;
  if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
    s.remove_prefix(2);
    base = 16;
  }
  T value = 0;
  if (!cli::parseWhole(s, value, base))
    throw Failure("invalid " + std::string(type) + " data '" + text +
                      "': expected an unsigned decimal number or 0x followed by hex digits",
                  2);
  return littleEndian(value);
}

} // namespace

std::string typeText(uint32_t type) {
  const char *name = nameOf(kTypes, type);
  return name ? name : "REG_TYPE_" + std::to_string(type);
}

std::optional<uint32_t> typeNamed(const std::string &name) {
  std::string wanted = upper(name);
  if (wanted.rfind("REG_", 0) != 0)
    wanted = "REG_" + wanted;
  return codeNamed(kTypes, wanted);
}

std::vector<std::string> typeNames() { return namesOf(kTypes); }

reg::KeyPath parsedKey(const std::string &text) {
  reg::KeyPath path;
  std::string why;
  if (!reg::parseKeyPath(text, path, why))
    throw Failure("bad key '" + text + "': " + why, 2);
  return path;
}

std::string valueNameText(const std::string &name) { return name.empty() ? "@" : printable(name); }

std::string dataText(uint32_t type, const std::string &data) {
  switch (type) {
  case reg::kTypeSz:
  case reg::kTypeExpandSz:
    return printable(withoutEnd(data));
  case reg::kTypeMultiSz: {
    std::string out;
    for (const auto &part : parts(data))
      out += (out.empty() ? "" : "\\0") + printable(part);
    return out;
  }
  case reg::kTypeDword:
    if (auto n = number<uint32_t>(data))
      return hexNumber(*n);
    break;
  case reg::kTypeQword:
    if (auto n = number<uint64_t>(data))
      return hexNumber(*n);
    break;
  default:
    break;
  }
  return hexBytes(data);
}

nlohmann::json dataJson(uint32_t type, const std::string &data) {
  switch (type) {
  case reg::kTypeSz:
  case reg::kTypeExpandSz:
    return withoutEnd(data);
  case reg::kTypeMultiSz:
    return parts(data);
  case reg::kTypeDword:
    if (auto n = number<uint32_t>(data))
      return *n;
    break;
  case reg::kTypeQword:
    if (auto n = number<uint64_t>(data))
      return *n;
    break;
  default:
    break;
  }
  return hexBytes(data);
}

std::string parseData(uint32_t type, const std::string &text) {
  switch (type) {
  case reg::kTypeSz:
  case reg::kTypeExpandSz:
    return text + '\0';
  case reg::kTypeMultiSz: {
    if (text.empty())
      return std::string(1, '\0');
    std::string out;
    for (size_t start = 0;;) {
      const size_t end = text.find("\\0", start);
      const std::string part = text.substr(start, end == std::string::npos ? end : end - start);
      if (part.empty())
        throw Failure("REG_MULTI_SZ data holds an empty string, which would end the list", 2);
      out += part + '\0';
      if (end == std::string::npos)
        return out + '\0';
      start = end + 2;
    }
  }
  case reg::kTypeDword:
    return parseNumber<uint32_t>(text, "REG_DWORD");
  case reg::kTypeQword:
    return parseNumber<uint64_t>(text, "REG_QWORD");
  default:
    break;
  }
  std::string digits;
  for (char c : text)
    if (c != ' ' && c != ',')
      digits += c;
  auto bad = [&] {
    return Failure("invalid " + typeText(type) + " data '" + text +
                       "': expected hex bytes such as 01ff or 01,ff",
                   2);
  };
  if (digits.size() % 2 != 0)
    throw bad();
  std::string out;
  for (size_t i = 0; i < digits.size(); i += 2) {
    unsigned value = 0;
    auto r = std::from_chars(digits.data() + i, digits.data() + i + 2, value, 16);
    if (r.ec != std::errc() || r.ptr != digits.data() + i + 2)
      throw bad();
    out += static_cast<char>(value);
  }
  return out;
}

void printJson(std::ostream &out, const nlohmann::json &document) {
  out << document.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) << '\n';
}

void printJsonLine(std::ostream &out, const nlohmann::json &document) {
  out << document.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) << '\n';
}

nlohmann::json valueJson(const reg::Value &v) {
  return {{"name", v.name}, {"type", typeText(v.type)}, {"data", dataJson(v.type, v.data)}};
}

} // namespace vlx::cli
