// .reg file encodings through ICU converters that stop at the first byte that is not text.
#include "vlx/formats/reg_text.h"

#include "vlx/core/errors.h"

#include <unicode/ucnv.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

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
    // ICU counts in int32_t: a longer line is refused, never cut.
    if (!from_ || !to_ || in.size() > size_t{INT32_MAX} / 3)
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

// The digest that tells whether the file changed between its two readings: eight bytes a step,
// each step a bijection of the state, so a file differing in one word never gives the same one.
uint64_t mixInto(uint64_t digest, std::string_view bytes) {
  size_t i = 0;
  for (; i + 8 <= bytes.size(); i += 8) {
    uint64_t word;
    std::memcpy(&word, bytes.data() + i, 8);
    digest = (digest ^ word) * 1099511628211u;
    digest ^= digest >> 29;
  }
  for (; i < bytes.size(); ++i)
    digest = (digest ^ static_cast<unsigned char>(bytes[i])) * 1099511628211u;
  return digest;
}

// The end of the line that starts at `start` (its newline included), where a newline is the
// unit `newline` at a multiple of its size.
size_t lineEnd(std::string_view bytes, size_t start, std::string_view newline) {
  for (size_t i = start; i + newline.size() <= bytes.size(); i += newline.size())
    if (bytes.substr(i, newline.size()) == newline)
      return i + newline.size();
  return bytes.size();
}

// The lines `bytes` holds, the last one counted without its newline too.
int lineCount(std::string_view bytes, std::string_view newline) {
  if (bytes.empty())
    return 0;
  size_t count = 0;
  if (newline.size() == 1) {
    count = static_cast<size_t>(std::count(bytes.begin(), bytes.end(), '\n'));
  } else {
    for (size_t i = 0; i + 1 < bytes.size(); i += 2)
      count += bytes[i] == '\n' && bytes[i + 1] == '\0';
  }
  const bool ended =
      bytes.size() >= newline.size() && bytes.substr(bytes.size() - newline.size()) == newline;
  return static_cast<int>(count) + (ended ? 0 : 1);
}

// Whether `text` is UTF-8 as RFC 3629 has it (no surrogates, nothing past U+10FFFF, shortest
// forms only), without a converter: a .reg file's bytes are mostly ASCII, passed eight at a time.
bool isUtf8Fast(std::string_view text) {
  const auto *p = reinterpret_cast<const unsigned char *>(text.data());
  const unsigned char *const end = p + text.size();
  while (p < end) {
    if (end - p >= 8) {
      uint64_t eight;
      std::memcpy(&eight, p, 8);
      if ((eight & 0x8080808080808080u) == 0) {
        p += 8;
        continue;
      }
    }
    const unsigned char c = *p;
    if (c < 0x80) {
      ++p;
      continue;
    }
    size_t more;
    unsigned char low = 0x80, high = 0xbf; // the range of the second byte
    if (c >= 0xc2 && c <= 0xdf) {
      more = 1;
    } else if (c >= 0xe0 && c <= 0xef) {
      more = 2;
      low = c == 0xe0 ? 0xa0 : 0x80;
      high = c == 0xed ? 0x9f : 0xbf;
    } else if (c >= 0xf0 && c <= 0xf4) {
      more = 3;
      low = c == 0xf0 ? 0x90 : 0x80;
      high = c == 0xf4 ? 0x8f : 0xbf;
    } else {
      return false;
    }
    if (static_cast<size_t>(end - p) <= more || p[1] < low || p[1] > high)
      return false;
    for (size_t i = 2; i <= more; ++i)
      if ((p[i] & 0xc0) != 0x80)
        return false;
    p += more + 1;
  }
  return true;
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

namespace {

// Where the next piece can end: the start of the last line in `bytes` that opens a key section
// and does not continue the line before it; 0 when there is none. Lines that start before
// `from` were looked at already, so a long section costs one look at each byte.
size_t lastKeyLine(std::string_view bytes, std::string_view newline, size_t from) {
  const size_t unit = newline.size();
  if (bytes.size() < 2 * unit)
    return 0;
  auto isChar = [&](size_t at, char c) {
    return bytes[at] == c && (unit == 1 || bytes[at + 1] == '\0');
  };
  const size_t low = std::max(unit, from / unit * unit);
  for (size_t i = (bytes.size() - unit) / unit * unit; i >= low; i -= unit) {
    if (bytes.compare(i - unit, unit, newline) != 0 || !isChar(i, '['))
      continue;
    // The line before must not end with '\\' (hex data that goes on).
    size_t end = i - unit;
    while (end >= unit && (isChar(end - unit, '\r') || isChar(end - unit, ' ')))
      end -= unit;
    if (end >= unit && isChar(end - unit, '\\'))
      continue;
    return i;
  }
  return 0;
}

} // namespace

void RegFilePieces::read(const std::function<void(std::string_view, int)> &piece,
                         const std::function<void(uint64_t)> &progress) {
  int errorLine = 0;
  if (encoding_ != Encoding::Unknown) {
    if (!readAs(encoding_, piece, progress, errorLine))
      throw Failure(file_ + ":" + std::to_string(errorLine) + ": not text in the form found");
    return;
  }
  if (readAs(Encoding::Unknown, piece, progress, errorLine))
    return;
  // regedit's REGEDIT4 files are in the ANSI code page: a file found not UTF-8 is read again.
  if (encoding_ == Encoding::Ansi && readAs(Encoding::Ansi, piece, progress, errorLine))
    return;
  const char *why = encoding_ == Encoding::Utf16  ? "not UTF-16LE text (a lone surrogate or an odd "
                                                    "byte)"
                    : encoding_ == Encoding::Ansi ? "neither UTF-8 nor Windows-1252 text"
                                                  : "not UTF-8 text";
  throw Failure(file_ + ":" + std::to_string(errorLine) + ": " + why);
}

bool RegFilePieces::readAs(Encoding encoding,
                           const std::function<void(std::string_view, int)> &piece,
                           const std::function<void(uint64_t)> &progress, int &errorLine) {
  // Opened without waiting for a FIFO's writer: a pipe or a device cannot be read twice alike,
  // nor /dev/zero to its end.
  const int fd = ::open(file_.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0)
    throw Failure("cannot read " + file_ + ": " + std::strerror(errno));
  struct stat st;
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    throw Failure(file_ + ": not a regular file (an import reads its file twice; save it first)");
  }
  std::unique_ptr<std::FILE, decltype(&std::fclose)> f(::fdopen(fd, "rb"), &std::fclose);
  if (!f) {
    ::close(fd);
    throw Failure("cannot read " + file_ + ": " + std::strerror(errno));
  }
  std::string bytes, text, header, decoded;
  uint64_t total = 0, digest = 14695981039346656037u; // of the bytes read, see mixInto
  bool atEnd = false, first = true;
  int line = 1;
  std::string_view newline = "\n";
  std::optional<Recoder> recoder;
  while (!atEnd || !bytes.empty()) {
    // Fill to a piece's size, then cut before the last key line.
    size_t cut = 0;
    while (!atEnd) {
      const size_t had = bytes.size();
      bytes.resize(had + kPieceBytes);
      const size_t n = std::fread(bytes.data() + had, 1, kPieceBytes, f.get());
      bytes.resize(had + n);
      total += n;
      digest = mixInto(digest, std::string_view(bytes).substr(had, n));
      if (n < kPieceBytes) {
        if (std::ferror(f.get()))
          throw Failure("cannot read " + file_ + ": " + std::strerror(errno));
        atEnd = true;
      }
      if (first) {
        if (startsWith(bytes, kUtf16BeBom)) {
          errorLine = 1;
          throw Failure(file_ + ":1: big-endian UTF-16 text is not supported; save the file as "
                                "UTF-16LE or UTF-8");
        }
        size_t skip = 0;
        if (startsWith(bytes, kUtf16LeBom)) {
          encoding = Encoding::Utf16;
          skip = kUtf16LeBom.size();
        } else if (startsWith(bytes, kUtf8Bom)) {
          skip = kUtf8Bom.size();
          if (encoding == Encoding::Unknown)
            encoding = Encoding::Utf8;
        } else if (encoding == Encoding::Unknown) {
          encoding = Encoding::Utf8;
          // Only an unmarked REGEDIT4 file may be in the ANSI code page.
          const std::string_view head =
              std::string_view(bytes).substr(0, bytes.find_first_of("\r\n"));
          ansiAllowed_ = head == "REGEDIT4";
        }
        bytes.erase(0, skip);
        newline = encoding == Encoding::Utf16 ? std::string_view("\n\0", 2) : "\n";
        recoder.emplace(encoding == Encoding::Utf16  ? "UTF-16LE"
                        : encoding == Encoding::Ansi ? "windows-1252"
                                                     : "UTF-8",
                        "UTF-8");
        first = false;
      }
      cut = atEnd ? bytes.size() : lastKeyLine(bytes, newline, had > 0 ? had - 1 : 0);
      if (cut > 0)
        break;
      if (bytes.size() > maxPiece_)
        throw Failure(file_ + ":" + std::to_string(line) + ": a key section of more than " +
                      std::to_string(maxPiece_ >> 20) + " MiB");
    }
    if (atEnd)
      cut = bytes.size();
    const std::string_view raw = std::string_view(bytes).substr(0, cut);
    // Each later piece is parsed as a file of its own, under the first one's header.
    text.assign(header);
    int lines = lineCount(raw, newline);
    // Valid UTF-8 is taken as it is; anything else goes through the converter, whole, and line
    // by line only to name the line of a failure.
    if (encoding == Encoding::Utf8 && isUtf8Fast(raw)) {
      text.append(raw);
    } else if (encoding != Encoding::Utf8 && (*recoder)(raw, decoded)) {
      text += decoded;
    } else {
      for (size_t start = 0, at = 0; start < cut; ++at) {
        const size_t end = lineEnd(raw, start, newline);
        if (!(*recoder)(raw.substr(start, end - start), decoded)) {
          errorLine = line + static_cast<int>(at);
          encoding_ = encoding == Encoding::Utf8 && ansiAllowed_ ? Encoding::Ansi : encoding;
          return false;
        }
        text += decoded;
        start = end;
      }
    }
    bytes.erase(0, cut);
    if (line == 1) {
      header = text.substr(0, text.find('\n') + 1);
      piece(text, 1);
    } else {
      piece(text, line - 1);
    }
    line += lines;
    if (progress)
      progress(total);
    if (atEnd && bytes.empty())
      break;
  }
  if (read_ && (total != size_ || digest != digest_))
    throw Failure(file_ + ": changed while it was imported (nothing imported)");
  read_ = true;
  size_ = total;
  digest_ = digest;
  encoding_ = encoding;
  return true;
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
    // Opening a converter costs more than converting a value: one serves the whole import.
    static thread_local Recoder utf16("UTF-16LE", "UTF-8");
    if (!utf16(data, text))
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
  return isUtf8Fast(text) || Recoder("UTF-8", "UTF-8")(text, unused);
}

} // namespace vlx::cli
