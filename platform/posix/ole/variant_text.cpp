// Number and date text as VARIANT conversions read and write it: the English (United States)
// rules, with a locale's separators from ICU for other locales.
#include "platform/posix/ole/variant_types.h"

#include <unicode/uloc.h>
#include <unicode/unum.h>

#include <cmath>
#include <cstdint>
#include <cstdio>

namespace vlx::ole {
namespace {

constexpr size_t kMaxDigits = 40;    // beyond what a double or a 64-bit integer can tell apart
constexpr int kMaxExponent = 100000; // keeps exponent arithmetic far from int overflow

bool isSpace(char16_t c) {
  return c == u' ' || c == u'\t' || c == u'\n' || c == u'\r' || c == u'\v' || c == u'\f' ||
         c == 0xA0;
}

bool isDigit(char16_t c) { return c >= u'0' && c <= u'9'; }

char16_t upper(char16_t c) { return c >= u'a' && c <= u'z' ? char16_t(c - 32) : c; }

bool usesUsRules(LCID lcid) {
  return lcid == 0 || lcid == LOCALE_USER_DEFAULT || lcid == LOCALE_SYSTEM_DEFAULT ||
         lcid == LOCALE_INVARIANT || lcid == 0x0409;
}

// Reads "&H..." or "&O..." at `i`; the value takes the smallest of 16, 32 and 64 bits that
// holds it, as a signed number of that width.
bool parseRadix(const char16_t *s, size_t n, size_t i, ParsedNumber &out, bool &overflow) {
  unsigned radix = upper(s[i + 1]) == u'H' ? 16 : 8;
  i += 2;
  uint64_t value = 0;
  size_t digits = 0;
  for (; i < n; ++i, ++digits) {
    char16_t c = upper(s[i]);
    unsigned d;
    if (isDigit(c))
      d = unsigned(c - u'0');
    else if (radix == 16 && c >= u'A' && c <= u'F')
      d = unsigned(c - u'A' + 10);
    else
      break;
    if (d >= radix)
      return false;
    if (value > (UINT64_MAX - d) / radix)
      overflow = true;
    value = value * radix + d;
  }
  while (i < n && isSpace(s[i]))
    ++i;
  if (digits == 0 || i != n)
    return false;
  out.isInteger = true;
  if (value <= 0xFFFF)
    out.integer = int16_t(uint16_t(value));
  else if (value <= 0xFFFFFFFF)
    out.integer = int32_t(uint32_t(value));
  else
    out.integer = int64_t(value);
  return true;
}

int64_t daysFromCivil(int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = unsigned(y - era * 400);
  const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + int64_t(doe) - 719468;
}

void civilFromDays(int64_t z, int64_t &y, unsigned &m, unsigned &d) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = unsigned(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  d = doy - (153 * mp + 2) / 5 + 1;
  m = mp < 10 ? mp + 3 : mp - 9;
  y = int64_t(yoe) + era * 400 + (m <= 2);
}

const int64_t kEpoch = daysFromCivil(1899, 12, 30);

bool isLeap(int64_t y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

unsigned daysInMonth(int64_t y, unsigned m) {
  static const unsigned days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return m == 2 && isLeap(y) ? 29 : days[m - 1];
}

// Cursor over date text: numbers, separators and words.
struct Scanner {
  const char16_t *s;
  size_t n;
  size_t i = 0;

  void skipSpace() {
    while (i < n && isSpace(s[i]))
      ++i;
  }
  bool number(unsigned &value, size_t &digits) {
    value = 0;
    digits = 0;
    while (i < n && isDigit(s[i]) && digits < 6) {
      value = value * 10 + unsigned(s[i] - u'0');
      ++i;
      ++digits;
    }
    return digits > 0 && !(i < n && isDigit(s[i]));
  }
  bool accept(char16_t c) {
    if (i < n && s[i] == c) {
      ++i;
      return true;
    }
    return false;
  }
  bool acceptWord(const char16_t *word) {
    size_t k = 0;
    for (; word[k] != 0; ++k)
      if (i + k >= n || upper(s[i + k]) != word[k])
        return false;
    i += k;
    return true;
  }
};

} // namespace

NumberSymbols numberSymbols(LCID lcid) {
  NumberSymbols symbols;
  if (usesUsRules(lcid))
    return symbols;
  char locale[ULOC_FULLNAME_CAPACITY];
  UErrorCode status = U_ZERO_ERROR;
  uloc_getLocaleForLCID(lcid, locale, sizeof locale, &status);
  if (U_FAILURE(status))
    return symbols;
  UNumberFormat *format = unum_open(UNUM_DECIMAL, nullptr, 0, locale, nullptr, &status);
  if (U_FAILURE(status))
    return symbols;
  UChar text[16];
  auto symbol = [&](UNumberFormatSymbol which) {
    UErrorCode error = U_ZERO_ERROR;
    int32_t length = unum_getSymbol(format, which, text, 16, &error);
    return U_SUCCESS(error) && length > 0 && length < 16 ? std::u16string(text, size_t(length))
                                                         : std::u16string();
  };
  std::u16string decimal = symbol(UNUM_DECIMAL_SEPARATOR_SYMBOL);
  std::u16string group = symbol(UNUM_GROUPING_SEPARATOR_SYMBOL);
  std::u16string currency = symbol(UNUM_CURRENCY_SYMBOL);
  unum_close(format);
  if (decimal.size() == 1)
    symbols.decimal = decimal[0];
  if (group.size() == 1)
    symbols.group = group[0];
  if (!currency.empty())
    symbols.currency = currency;
  return symbols;
}

bool parseNumber(const char16_t *s, size_t n, const NumberSymbols &symbols, ParsedNumber &out,
                 bool &overflow) {
  out = ParsedNumber();
  overflow = false;
  size_t i = 0;
  bool sign = false, paren = false, currency = false;
  // A sign (none within parentheses) or the currency symbol, each once, before or after the number.
  auto takeSignOrCurrency = [&] {
    if (!sign && !paren && (s[i] == u'+' || s[i] == u'-')) {
      sign = true;
      out.negative = s[i++] == u'-';
      return true;
    }
    const std::u16string &c = symbols.currency;
    if (currency || c.empty() || i + c.size() > n || std::u16string(s + i, c.size()) != c)
      return false;
    currency = true;
    i += c.size();
    return true;
  };
  // Leading white space, sign, parenthesis and currency symbol, in any order.
  while (i < n) {
    if (isSpace(s[i])) {
      ++i;
    } else if (!paren && !sign && s[i] == u'(') {
      paren = true;
      ++i;
    } else if (!takeSignOrCurrency()) {
      break;
    }
  }
  if (i + 1 < n && s[i] == u'&' && (upper(s[i + 1]) == u'H' || upper(s[i + 1]) == u'O'))
    return !sign && !paren && !currency && parseRadix(s, n, i, out, overflow);

  std::string digits;
  long exponent = 0;
  bool anyDigit = false;
  auto addDigit = [&](int d, bool fractional) {
    if (digits.empty() && d == 0) {
      exponent -= fractional;
    } else if (digits.size() < kMaxDigits) {
      digits += char('0' + d);
      exponent -= fractional;
    } else {
      out.inexact = out.inexact || d != 0;
      exponent += !fractional;
    }
  };
  for (; i < n; ++i) {
    if (isDigit(s[i])) {
      addDigit(s[i] - u'0', false);
      anyDigit = true;
    } else if (!(anyDigit && s[i] == symbols.group && symbols.group != symbols.decimal)) {
      break;
    }
  }
  if (i < n && s[i] == symbols.decimal) {
    for (++i; i < n && isDigit(s[i]); ++i) {
      addDigit(s[i] - u'0', true);
      anyDigit = true;
    }
  }
  if (!anyDigit)
    return false;
  if (i < n && (s[i] == u'e' || s[i] == u'E')) {
    ++i;
    bool negativeExponent = false;
    if (i < n && (s[i] == u'+' || s[i] == u'-'))
      negativeExponent = s[i++] == u'-';
    if (i >= n || !isDigit(s[i]))
      return false;
    long value = 0;
    for (; i < n && isDigit(s[i]); ++i)
      value = value < kMaxExponent ? value * 10 + (s[i] - u'0') : value;
    exponent += negativeExponent ? -value : value;
  }
  // Trailing white space, sign, closing parenthesis and currency symbol.
  bool closed = false;
  while (i < n) {
    if (isSpace(s[i])) {
      ++i;
    } else if (paren && !closed && s[i] == u')') {
      closed = true;
      ++i;
    } else if (!takeSignOrCurrency()) {
      return false;
    }
  }
  if (paren != closed)
    return false;
  out.negative = out.negative || paren;
  while (!digits.empty() && digits.back() == '0') {
    digits.pop_back();
    ++exponent;
  }
  if (exponent > kMaxExponent)
    exponent = kMaxExponent;
  if (exponent < -kMaxExponent)
    exponent = -kMaxExponent;
  out.digits = digits;
  out.exponent = digits.empty() ? 0 : int(exponent);
  return true;
}

bool parseDate(const char16_t *text, size_t length, double &date) {
  Scanner in{text, length};
  in.skipSpace();
  int64_t days = 0;
  bool haveDate = false, haveTime = false;
  unsigned seconds = 0;
  size_t start = in.i;
  unsigned a, b, c;
  size_t da, db, dc;
  // A date: m/d/yyyy (day and month swap when the first cannot be a month), or yyyy-mm-dd.
  if (in.number(a, da) && (in.accept(u'/') || in.accept(u'-'))) {
    char16_t separator = in.s[in.i - 1];
    if (!in.number(b, db) || !in.accept(separator) || !in.number(c, dc))
      return false;
    int64_t year;
    unsigned month, day;
    if (da == 4) {
      year = a, month = b, day = c;
    } else {
      month = a, day = b, year = c;
      if (month > 12 && day <= 12)
        std::swap(month, day);
      if (dc <= 2)
        year += year < 30 ? 2000 : 1900;
    }
    if (year < 100 || year > 9999 || month < 1 || month > 12 || day < 1 ||
        day > daysInMonth(year, month))
      return false;
    days = daysFromCivil(year, month, day) - kEpoch;
    haveDate = true;
    in.skipSpace();
    start = in.i;
  } else {
    in.i = start;
  }
  // A time: h:mm[:ss] or h, with AM or PM; without them a 24-hour clock.
  if (in.i < in.n && in.number(a, da)) {
    b = c = 0;
    bool colon = in.accept(u':');
    if (colon && !in.number(b, db))
      return false;
    if (colon && in.accept(u':') && !in.number(c, dc))
      return false;
    in.skipSpace();
    bool am = in.acceptWord(u"AM"), pm = !am && in.acceptWord(u"PM");
    if (!colon && !am && !pm)
      return false;
    if (am || pm) {
      if (a < 1 || a > 12)
        return false;
      a = a % 12 + (pm ? 12 : 0);
    }
    if (a > 23 || b > 59 || c > 59)
      return false;
    seconds = a * 3600 + b * 60 + c;
    haveTime = true;
    in.skipSpace();
  }
  if (in.i != in.n || (!haveDate && !haveTime))
    return false;
  double fraction = seconds / 86400.0;
  date = days < 0 ? double(days) - fraction : double(days) + fraction;
  return true;
}

bool splitDate(double date, SYSTEMTIME &parts, USHORT &dayOfYear) {
  if (!(date >= -657434.0) || !(date < 2958466.0))
    return false;
  // The whole days count from 30 December 1899 either way; the fraction is the time forward.
  int64_t days = int64_t(date);
  double fraction = std::fabs(date - double(days));
  int64_t seconds = int64_t(fraction * 86400 + 0.5);
  if (seconds >= 86400) {
    seconds -= 86400;
    ++days; // 24:00 is the next day's midnight, also before the epoch
  }
  int64_t year;
  unsigned month, day;
  civilFromDays(days + kEpoch, year, month, day);
  parts.wYear = WORD(year);
  parts.wMonth = WORD(month);
  parts.wDay = WORD(day);
  parts.wDayOfWeek = WORD(((days + kEpoch) % 7 + 11) % 7); // 1 January 1970 was a Thursday
  parts.wHour = WORD(seconds / 3600);
  parts.wMinute = WORD(seconds / 60 % 60);
  parts.wSecond = WORD(seconds % 60);
  parts.wMilliseconds = 0;
  dayOfYear = USHORT(days + kEpoch - daysFromCivil(year, 1, 1) + 1);
  return true;
}

double joinDate(int year, int month, int day, int hour, int minute, int second, int millisecond) {
  int64_t y = year + (month > 0 ? (month - 1) / 12 : (month - 12) / 12);
  int64_t m = ((month - 1) % 12 + 12) % 12 + 1;
  int64_t days = daysFromCivil(y, unsigned(m), 1) + (day - 1) - kEpoch;
  double time = (double(hour) * 3600 + double(minute) * 60 + second + millisecond / 1000.0) / 86400;
  days += int64_t(std::floor(time));
  time -= std::floor(time);
  // Before the epoch the fraction still runs forward: -1.25 is 29 December 1899, 6:00.
  return days >= 0 ? double(days) + time : double(days) - time;
}

std::u16string formatDate(double date, ULONG varFlags) {
  SYSTEMTIME parts;
  USHORT dayOfYear;
  splitDate(date, parts, dayOfYear);
  bool midnight = parts.wHour == 0 && parts.wMinute == 0 && parts.wSecond == 0;
  bool dayZero = parts.wYear == 1899 && parts.wMonth == 12 && parts.wDay == 30;
  bool showDate = !(varFlags & VAR_TIMEVALUEONLY) && (!dayZero || (varFlags & VAR_DATEVALUEONLY));
  bool showTime = !(varFlags & VAR_DATEVALUEONLY) && (!midnight || !showDate);
  std::string text;
  char part[48];
  if (showDate) {
    std::snprintf(part, sizeof part, "%u/%u/%u", parts.wMonth, parts.wDay, parts.wYear);
    text = part;
  }
  if (showTime) {
    unsigned hour = parts.wHour;
    std::snprintf(part, sizeof part, "%s%u:%02u:%02u %s", text.empty() ? "" : " ",
                  hour % 12 == 0 ? 12 : hour % 12, unsigned(parts.wMinute), unsigned(parts.wSecond),
                  hour < 12 ? "AM" : "PM");
    text += part;
  }
  return std::u16string(text.begin(), text.end());
}

} // namespace vlx::ole
