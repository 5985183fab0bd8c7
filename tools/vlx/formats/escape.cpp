// Untrusted text made safe to show on a terminal: in messages, and as names that `vlx ls` lists.
#include "vlx/formats/escape.h"

#include <cstdint>

namespace vlx::cli {
namespace {

// Length of the character at text[i] when a terminal shows it as text; 0 when it is a control
// character or a byte that does not start valid UTF-8 (over-long forms and surrogates included).
size_t shownLength(std::string_view text, size_t i) {
  const auto b = static_cast<unsigned char>(text[i]);
  if (b < 0x20 || b == 0x7f)
    return 0;
  if (b < 0x80)
    return 1;
  size_t len = (b >> 5) == 0x6 ? 2 : (b >> 4) == 0xe ? 3 : (b >> 3) == 0x1e ? 4 : 0;
  if (len == 0 || i + len > text.size())
    return 0;
  uint32_t cp = b & (0x7f >> len);
  for (size_t k = 1; k < len; ++k) {
    const auto c = static_cast<unsigned char>(text[i + k]);
    if ((c & 0xc0) != 0x80)
      return 0;
    cp = cp << 6 | (c & 0x3f);
  }
  static constexpr uint32_t kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
  if (cp < kSmallest[len] || (cp >= 0xd800 && cp <= 0xdfff) || cp > 0x10ffff ||
      (cp >= 0x80 && cp <= 0x9f)) // C1 controls: U+009B starts an escape sequence too
    return 0;
  return len;
}

void appendEscape(std::string &out, unsigned char b, bool octal) {
  static constexpr char kHex[] = "0123456789abcdef";
  switch (b) {
  case '\n':
    out += "\\n";
    return;
  case '\r':
    out += "\\r";
    return;
  case '\t':
    out += "\\t";
    return;
  default:
    break;
  }
  if (octal) {
    out += '\\';
    out += static_cast<char>('0' + (b >> 6));
    out += static_cast<char>('0' + ((b >> 3) & 7));
    out += static_cast<char>('0' + (b & 7));
  } else {
    out += "\\x";
    out += kHex[b >> 4];
    out += kHex[b & 15];
  }
}

bool plainShellChar(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
         std::string_view("-_.,:+%@/").find(c) != std::string_view::npos ||
         static_cast<unsigned char>(c) >= 0x80;
}

} // namespace

std::string printable(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size();) {
    if (size_t len = shownLength(text, i)) {
      out.append(text, i, len);
      i += len;
    } else {
      appendEscape(out, static_cast<unsigned char>(text[i++]), false);
    }
  }
  return out;
}

std::string oneLine(std::string text) {
  for (char &c : text)
    if (c == '\n' || c == '\r')
      c = ' ';
  while (!text.empty() && text.back() == ' ')
    text.pop_back();
  return text;
}

std::string shellWord(std::string_view name) {
  bool plain = !name.empty();
  for (size_t i = 0; i < name.size() && plain;) {
    size_t len = shownLength(name, i);
    plain = len > 0 && plainShellChar(name[i]);
    i += len;
  }
  if (plain)
    return std::string(name);
  // Runs of shown text go in '...', runs of the rest in $'...'.
  std::string out;
  bool inQuotes = false, inDollar = false;
  for (size_t i = 0; i < name.size();) {
    size_t len = shownLength(name, i);
    if (len > 0) {
      if (inDollar) {
        out += '\'';
        inDollar = false;
      }
      if (name[i] == '\'') {
        if (inQuotes)
          out += '\'';
        inQuotes = false;
        out += "\\'";
      } else {
        if (!inQuotes)
          out += '\'';
        inQuotes = true;
        out.append(name, i, len);
      }
      i += len;
    } else {
      if (inQuotes)
        out += '\'';
      inQuotes = false;
      if (!inDollar)
        out += "$'";
      inDollar = true;
      appendEscape(out, static_cast<unsigned char>(name[i++]), true);
    }
  }
  if (inQuotes || inDollar)
    out += '\'';
  return out.empty() ? "''" : out;
}

} // namespace vlx::cli
