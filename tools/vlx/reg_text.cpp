// .reg file encodings through ICU converters that stop at the first byte that is not text.
#include "reg_text.h"

#include <unicode/ucnv.h>

#include <memory>

namespace vlx::cli {
namespace {

using ConverterPtr = std::unique_ptr<UConverter, decltype(&ucnv_close)>;

ConverterPtr openStrict(const char *name) {
  UErrorCode status = U_ZERO_ERROR;
  ConverterPtr converter(ucnv_open(name, &status), &ucnv_close);
  ucnv_setToUCallBack(converter.get(), UCNV_TO_U_CALLBACK_STOP, nullptr, nullptr, nullptr, &status);
  ucnv_setFromUCallBack(converter.get(), UCNV_FROM_U_CALLBACK_STOP, nullptr, nullptr, nullptr,
                        &status);
  if (U_FAILURE(status))
    converter.reset();
  return converter;
}

// Text from one encoding to another, refusing what is not text in the first.
class Recoder {
public:
  Recoder(const char *from, const char *to) : from_(openStrict(from)), to_(openStrict(to)) {}

  bool operator()(std::string_view in, std::string &out) {
    if (!from_ || !to_)
      return false;
    UErrorCode status = U_ZERO_ERROR;
    // Every encoding here spends at least one byte on a UTF-16 unit, and at most three.
    wide_.resize(in.size() + 1);
    const int32_t units =
        ucnv_toUChars(from_.get(), wide_.data(), static_cast<int32_t>(wide_.size()), in.data(),
                      static_cast<int32_t>(in.size()), &status);
    if (U_FAILURE(status))
      return false;
    out.resize(static_cast<size_t>(units) * 3 + 1);
    const int32_t bytes = ucnv_fromUChars(to_.get(), out.data(), static_cast<int32_t>(out.size()),
                                          wide_.data(), units, &status);
    if (U_FAILURE(status))
      return false;
    out.resize(static_cast<size_t>(bytes));
    return true;
  }

private:
  ConverterPtr from_;
  ConverterPtr to_;
  std::u16string wide_;
};

constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";
constexpr std::string_view kUtf16LeBom = "\xFF\xFE";
constexpr std::string_view kUtf16BeBom = "\xFE\xFF";

bool startsWith(std::string_view text, std::string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

// The end of the line that starts at `start` (its newline included), where a newline is the
// unit `newline` at a multiple of its size.
size_t lineEnd(std::string_view bytes, size_t start, std::string_view newline) {
  for (size_t i = start; i + newline.size() <= bytes.size(); i += newline.size())
    if (bytes.substr(i, newline.size()) == newline)
      return i + newline.size();
  return bytes.size();
}

// Converts line by line so that a failure names its line.
bool decodeLines(std::string_view bytes, std::string_view newline, Recoder &recoder,
                 std::string &text, int &errorLine) {
  text.clear();
  std::string line;
  int number = 1;
  for (size_t start = 0; start < bytes.size(); ++number) {
    const size_t end = lineEnd(bytes, start, newline);
    if (!recoder(bytes.substr(start, end - start), line)) {
      errorLine = number;
      return false;
    }
    text += line;
    start = end;
  }
  return true;
}

} // namespace

bool decodeRegFile(std::string_view bytes, std::string &text, int &errorLine, std::string &error) {
  if (startsWith(bytes, kUtf16BeBom)) {
    errorLine = 1;
    error = "big-endian UTF-16 text is not supported; save the file as UTF-16LE or UTF-8";
    return false;
  }
  if (startsWith(bytes, kUtf16LeBom)) {
    Recoder utf16("UTF-16LE", "UTF-8");
    if (decodeLines(bytes.substr(kUtf16LeBom.size()), std::string_view("\n\0", 2), utf16, text,
                    errorLine))
      return true;
    error = "not UTF-16LE text (a lone surrogate or an odd byte)";
    return false;
  }
  const bool marked = startsWith(bytes, kUtf8Bom);
  if (marked)
    bytes.remove_prefix(kUtf8Bom.size());
  Recoder utf8("UTF-8", "UTF-8");
  if (decodeLines(bytes, "\n", utf8, text, errorLine))
    return true;
  // regedit's REGEDIT4 files are in the ANSI code page; a byte-order mark says UTF-8.
  const std::string_view header = bytes.substr(0, bytes.find_first_of("\r\n"));
  if (!marked && header == "REGEDIT4") {
    Recoder ansi("windows-1252", "UTF-8");
    if (decodeLines(bytes, "\n", ansi, text, errorLine))
      return true;
    error = "neither UTF-8 nor Windows-1252 text";
    return false;
  }
  error = "not UTF-8 text";
  return false;
}

std::string unicodeRegFile(std::string_view text) {
  std::string crlf;
  for (char c : text) {
    if (c == '\n')
      crlf += '\r';
    crlf += c;
  }
  std::string out;
  Recoder("UTF-8", "UTF-16LE")(crlf, out);
  return std::string(kUtf16LeBom) + out;
}

bool readHexText(reg::Format format, std::string &data) {
  std::string text;
  if (format == reg::Format::Version5) {
    if (!Recoder("UTF-16LE", "UTF-8")(data, text))
      return false;
  } else if (isUtf8(data)) {
    return true;
  } else if (!Recoder("windows-1252", "UTF-8")(data, text)) {
    return false;
  }
  data = std::move(text);
  return true;
}

std::string utf16Hex(std::string_view text) {
  std::string out;
  Recoder("UTF-8", "UTF-16LE")(text, out);
  return out;
}

bool isUtf8(std::string_view text) {
  std::string unused;
  return Recoder("UTF-8", "UTF-8")(text, unused);
}

} // namespace vlx::cli
