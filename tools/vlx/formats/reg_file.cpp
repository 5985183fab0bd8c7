// .reg text: a strict line parser that validates the whole file, and the writer.
#include "vlx/formats/reg_file.h"

#include <array>
#include <functional>

namespace vlx::reg {
namespace {

struct RootName {
  Root root;
  std::string_view full;
  std::string_view abbreviation;
};

constexpr std::array<RootName, 5> kRoots{{
    {Root::ClassesRoot, "HKEY_CLASSES_ROOT", "HKCR"},
    {Root::CurrentUser, "HKEY_CURRENT_USER", "HKCU"},
    {Root::LocalMachine, "HKEY_LOCAL_MACHINE", "HKLM"},
    {Root::Users, "HKEY_USERS", "HKU"},
    {Root::CurrentConfig, "HKEY_CURRENT_CONFIG", "HKCC"},
}};

char lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool equalsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size())
    return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (lower(a[i]) != lower(b[i]))
      return false;
  return true;
}

bool startsWithNoCase(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && equalsNoCase(text.substr(0, prefix.size()), prefix);
}

bool isBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view trimLeft(std::string_view s) {
  size_t i = 0;
  while (i < s.size() && isBlank(s[i]))
    ++i;
  return s.substr(i);
}

std::string_view trimRight(std::string_view s) {
  size_t n = s.size();
  while (n > 0 && (isBlank(s[n - 1]) || s[n - 1] == '\r'))
    --n;
  return s.substr(0, n);
}

int hexDigit(char c) {
  if (c >= '0' && c <= '9')
    return c - '0';
  if (c >= 'a' && c <= 'f')
    return c - 'a' + 10;
  if (c >= 'A' && c <= 'F')
    return c - 'A' + 10;
  return -1;
}

// Reads hex digits at `pos` into `value`; false when there are none or the number passes 32 bits.
bool parseHex32(std::string_view s, size_t &pos, uint32_t &value, bool &overflow) {
  size_t start = pos;
  uint64_t v = 0;
  overflow = false;
  while (pos < s.size() && hexDigit(s[pos]) >= 0) {
    v = v * 16 + static_cast<uint64_t>(hexDigit(s[pos]));
    if (v > 0xffffffffu) {
      overflow = true;
      v = 0xffffffffu;
    }
    ++pos;
  }
  value = static_cast<uint32_t>(v);
  return pos > start && !overflow;
}

// Short excerpt of offending text for error messages (which escape control bytes when shown).
std::string excerpt(std::string_view s) {
  constexpr size_t kMax = 24;
  std::string out(s.substr(0, kMax));
  if (s.size() > kMax)
    out += "...";
  return "'" + out + "'";
}

class Parser {
public:
  Parser(std::string_view text, HexTextReader readText, const OperationSink *sink = nullptr)
      : text_(text), readText_(readText), sink_(sink) {}

  ParseResult run() {
    static constexpr std::string_view kBom = "\xEF\xBB\xBF";
    if (text_.substr(0, kBom.size()) == kBom)
      text_.remove_prefix(kBom.size());

    std::string_view first;
    if (text_.empty() || !nextLine(first))
      return fail(1, "empty file; expected REGEDIT4 on the first line");
    first = trimRight(first);
    if (first != "REGEDIT4" && first != "Windows Registry Editor Version 5.00")
      return fail(1, "bad header " + excerpt(first) + "; expected REGEDIT4");
    result_.format = first == "REGEDIT4" ? Format::Regedit4 : Format::Version5;

    std::string_view line;
    while (nextLine(line)) {
      std::string_view s = trimRight(trimLeft(line));
      if (s.empty() || s[0] == ';')
        continue;
      bool good;
      if (s[0] == '[')
        good = keyLine(s);
      else if (s[0] == '"' || s[0] == '@')
        good = valueLine(s);
      else
        good = error("unexpected text " + excerpt(s));
      if (!good)
        return fail(errorLine_, error_);
    }
    result_.errorLine = 0;
    return std::move(result_);
  }

private:
  bool nextLine(std::string_view &line) {
    if (pos_ > text_.size() || (pos_ == text_.size() && lineNo_ > 0))
      return false;
    size_t end = text_.find('\n', pos_);
    if (end == std::string_view::npos)
      end = text_.size();
    line = text_.substr(pos_, end - pos_);
    pos_ = end + 1;
    ++lineNo_;
    return true;
  }

  ParseResult fail(int line, std::string what) {
    ParseResult r;
    r.errorLine = line;
    r.error = std::move(what);
    return r;
  }

  bool error(std::string what) {
    errorLine_ = lineNo_;
    error_ = std::move(what);
    return false;
  }

  bool keyLine(std::string_view s) {
    if (s.size() < 2 || s.back() != ']')
      return error("missing ']' at the end of the key line");
    std::string_view inner = s.substr(1, s.size() - 2);
    bool remove = !inner.empty() && inner[0] == '-';
    if (remove)
      inner.remove_prefix(1);
    Operation op;
    op.kind = remove ? Operation::Kind::DeleteKey : Operation::Kind::CreateKey;
    op.line = lineNo_;
    std::string why;
    if (!parseKeyPath(inner, op.key, why))
      return error(why);
    if (remove && op.key.subKey.empty())
      return error("cannot delete the root key " + std::string(rootName(op.key.root)));
    haveKey_ = true;
    keyDeleted_ = remove;
    valueOp_.key = op.key;
    emit(op);
    return true;
  }

  void emit(Operation &op) {
    if (sink_)
      (*sink_)(op);
    else
      result_.operations.push_back(op);
  }

  // A quoted string starting at s[pos] == '"'; `pos` ends after the closing quote.
  bool quoted(std::string_view s, size_t &pos, std::string &out) {
    ++pos;
    out.clear();
    while (pos < s.size()) {
      // Plain text up to the next quote or escape goes over in one piece. A loop of its own:
      // find_first_of looks each character up in the set with a call.
      size_t stop = pos;
      while (stop < s.size() && s[stop] != '"' && s[stop] != '\\')
        ++stop;
      if (stop == s.size())
        break;
      out.append(s.substr(pos, stop - pos));
      pos = stop + 1;
      if (s[stop] == '"')
        return true;
      if (pos >= s.size())
        break;
      char e = s[pos++];
      if (e != '\\' && e != '"')
        return error(std::string("unknown escape '\\") + e + "' (write '\\\\' for a backslash)");
      out += e;
    }
    return error("unterminated quote");
  }

  bool valueLine(std::string_view s) {
    if (!haveKey_)
      return error("value outside a key (no [KEY] line before it)");
    if (keyDeleted_)
      return error("value under a deleted key");
    // One operation serves every value line: its strings keep their buffers from line to line.
    Operation &op = valueOp_;
    op.line = lineNo_;
    op.value.name.clear();
    op.value.type = kTypeSz;
    op.value.data.clear();
    size_t pos = 0;
    if (s[0] == '@') {
      pos = 1;
    } else if (!quoted(s, pos, op.value.name)) {
      return false;
    } else if (op.value.name.find('\0') != std::string::npos) {
      return error("value name contains a zero byte");
    }
    while (pos < s.size() && isBlank(s[pos]))
      ++pos;
    if (pos >= s.size() || s[pos] != '=')
      return error("expected '=' after the value name");
    std::string_view rest = trimLeft(s.substr(pos + 1));
    if (rest == "-") {
      op.kind = Operation::Kind::DeleteValue;
    } else {
      op.kind = Operation::Kind::SetValue;
      if (!valueData(rest, op.value))
        return false;
      if (hexText_ && readText_ && !readText_(result_.format, op.value.data)) {
        errorLine_ = op.line;
        error_ = "the hex data of this text value is not " +
                 std::string(result_.format == Format::Version5 ? "UTF-16LE text"
                                                                : "text in UTF-8 or Windows-1252");
        return false;
      }
    }
    emit(op);
    return true;
  }

  bool valueData(std::string_view rest, Value &value) {
    hexText_ = false;
    if (!rest.empty() && rest[0] == '"') {
      size_t pos = 0;
      if (!quoted(rest, pos, value.data))
        return false;
      if (pos != rest.size())
        return error("unexpected text after the value " + excerpt(rest.substr(pos)));
      value.type = kTypeSz;
      value.data += '\0';
      return true;
    }
    if (startsWithNoCase(rest, "dword:")) {
      size_t pos = 6;
      uint32_t v = 0;
      bool overflow = false;
      if (!parseHex32(rest, pos, v, overflow))
        return error(overflow ? "dword value out of range (more than 8 hex digits)"
                              : "bad dword value; expected dword:00000000 to dword:ffffffff");
      if (pos != rest.size())
        return error("bad dword value " + excerpt(rest.substr(6)));
      value.type = kTypeDword;
      value.data.clear();
      for (int i = 0; i < 4; ++i)
        value.data += static_cast<char>((v >> (8 * i)) & 0xff);
      return true;
    }
    if (startsWithNoCase(rest, "hex:")) {
      value.type = kTypeBinary;
      return hexBytes(rest.substr(4), value.data);
    }
    if (startsWithNoCase(rest, "hex(")) {
      size_t pos = 4;
      uint32_t type = 0;
      bool overflow = false;
      if (!parseHex32(rest, pos, type, overflow) || rest.substr(pos, 2) != "):")
        return error("bad value type; expected hex(N): with N in hex");
      value.type = type;
      hexText_ = isTextType(type);
      return hexBytes(rest.substr(pos + 2), value.data);
    }
    return error("unknown value form " + excerpt(rest) +
                 "; expected \"text\", dword:, hex: or hex(N):");
  }

  // Comma-separated hex bytes; a '\' at the end of a line continues the list on the next one.
  bool hexBytes(std::string_view s, std::string &out) {
    out.clear();
    size_t pos = 0;
    for (;;) {
      while (pos < s.size() && isBlank(s[pos]))
        ++pos;
      if (pos >= s.size())
        return true;
      if (s[pos] == '\\' && trimRight(s.substr(pos + 1)).empty()) {
        std::string_view next;
        if (!nextLine(next))
          return error("continuation '\\' at the end of the file");
        s = trimRight(next);
        pos = 0;
        continue;
      }
      int hi = hexDigit(s[pos]);
      if (hi < 0)
        return error("bad hex byte " + excerpt(s.substr(pos)));
      int byte = hi;
      ++pos;
      if (pos < s.size() && hexDigit(s[pos]) >= 0)
        byte = byte * 16 + hexDigit(s[pos++]);
      if (pos < s.size() && hexDigit(s[pos]) >= 0)
        return error("bad hex byte " + excerpt(s.substr(pos - 2)) + "; bytes have two digits");
      out += static_cast<char>(byte);
      while (pos < s.size() && isBlank(s[pos]))
        ++pos;
      if (pos < s.size()) {
        if (s[pos] == ',')
          ++pos;
        else if (s[pos] != '\\')
          return error("bad hex data " + excerpt(s.substr(pos)) + "; expected ','");
      }
    }
  }

  std::string_view text_;
  HexTextReader readText_;
  bool hexText_ = false; // the latest data was a text type's, given in hex
  size_t pos_ = 0;
  int lineNo_ = 0;
  ParseResult result_;
  bool haveKey_ = false;
  bool keyDeleted_ = false;
  Operation valueOp_; // its key: the current key section's
  const OperationSink *sink_;
  int errorLine_ = 0;
  std::string error_;
};

// A string in quotes with '\' and '"' escaped.
void appendQuoted(std::string &out, std::string_view s) {
  out += '"';
  for (char c : s) {
    if (c == '\\' || c == '"')
      out += '\\';
    out += c;
  }
  out += '"';
}

// REG_SZ data that the quoted form gives back byte for byte: one terminating zero, no other zero
// and no line break.
bool quotable(const std::string &data) {
  if (data.empty() || data.back() != '\0')
    return false;
  for (size_t i = 0; i + 1 < data.size(); ++i)
    if (data[i] == '\0' || data[i] == '\r' || data[i] == '\n')
      return false;
  return true;
}

} // namespace

const char *rootName(Root root) {
  for (const auto &r : kRoots)
    if (r.root == root)
      return r.full.data();
  return "?";
}

std::string KeyPath::full() const {
  std::string s = rootName(root);
  if (!subKey.empty())
    s += "\\" + subKey;
  return s;
}

bool parseKeyPath(std::string_view text, KeyPath &path, std::string &error) {
  if (text.empty()) {
    error = "missing key path";
    return false;
  }
  size_t sep = text.find('\\');
  std::string_view rootText = text.substr(0, sep);
  bool found = false;
  for (const auto &r : kRoots)
    if (equalsNoCase(rootText, r.full) || equalsNoCase(rootText, r.abbreviation)) {
      path.root = r.root;
      found = true;
    }
  if (!found) {
    error = "unknown root " + excerpt(rootText) +
            "; expected HKEY_CLASSES_ROOT, HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE, HKEY_USERS or "
            "HKEY_CURRENT_CONFIG";
    return false;
  }
  path.subKey.clear();
  if (sep == std::string_view::npos)
    return true;
  std::string_view sub = text.substr(sep + 1);
  size_t start = 0;
  for (;;) {
    size_t end = sub.find('\\', start);
    std::string_view part = sub.substr(start, end == std::string_view::npos ? end : end - start);
    if (part.empty()) {
      error = "empty key name in path " + excerpt(text);
      return false;
    }
    if (part.find('\0') != std::string_view::npos) {
      error = "key name contains a zero byte";
      return false;
    }
    if (end == std::string_view::npos)
      break;
    start = end + 1;
  }
  path.subKey = std::string(sub);
  return true;
}

bool isTextType(uint32_t type) {
  return type == kTypeSz || type == kTypeExpandSz || type == kTypeMultiSz;
}

ParseResult parse(std::string_view text, HexTextReader readText) {
  return Parser(text, readText).run();
}

ParseResult parse(std::string_view text, HexTextReader readText, const OperationSink &each) {
  return Parser(text, readText, &each).run();
}

void writeHeader(std::string &out, Format format) {
  out += format == Format::Regedit4 ? "REGEDIT4\n\n" : "Windows Registry Editor Version 5.00\n\n";
}

void writeKey(std::string &out, const std::string &path, const std::vector<Value> &values,
              HexTextWriter writeText) {
  out += '[';
  out += path;
  out += "]\n";
  for (const auto &v : values)
    writeValue(out, v, writeText);
  out += '\n';
}

void writeValue(std::string &out, const Value &value, HexTextWriter writeText) {
  static constexpr char kDigits[] = "0123456789abcdef";
  size_t lineStart = out.size();
  if (value.name.empty())
    out += '@';
  else
    appendQuoted(out, value.name);
  out += '=';
  if (value.type == kTypeSz && quotable(value.data)) {
    appendQuoted(out, std::string_view(value.data).substr(0, value.data.size() - 1));
    out += '\n';
    return;
  }
  if (value.type == kTypeDword && value.data.size() == 4) {
    out += "dword:";
    for (int i = 3; i >= 0; --i) {
      auto b = static_cast<unsigned char>(value.data[static_cast<size_t>(i)]);
      out += kDigits[b >> 4];
      out += kDigits[b & 15];
    }
    out += '\n';
    return;
  }
  if (value.type == kTypeBinary) {
    out += "hex:";
  } else {
    std::string n;
    for (uint32_t t = value.type; n.empty() || t != 0; t >>= 4)
      n.insert(n.begin(), kDigits[t & 15]);
    out += "hex(" + n + "):";
  }
  const std::string data = writeText && isTextType(value.type) ? writeText(value.data) : value.data;
  // Lines wrap before 80 columns, continued by a trailing '\' and indented by two spaces.
  constexpr size_t kWrapAt = 76;
  for (size_t i = 0; i < data.size(); ++i) {
    auto b = static_cast<unsigned char>(data[i]);
    out += kDigits[b >> 4];
    out += kDigits[b & 15];
    if (i + 1 < data.size()) {
      out += ',';
      if (out.size() - lineStart >= kWrapAt) {
        out += "\\\n  ";
        lineStart = out.size() - 2;
      }
    }
  }
  out += '\n';
}

bool writable(std::string_view name, std::string &error) {
  if (name.find_first_of(std::string_view("\r\n\0", 3)) == std::string_view::npos)
    return true;
  error = "name " + excerpt(name) + " holds a line break or zero byte, which .reg text cannot hold";
  return false;
}

} // namespace vlx::reg
