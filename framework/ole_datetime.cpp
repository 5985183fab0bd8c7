// COleDateTime and COleDateTimeSpan: the calendar work is the OLE conversion calls'
// (VarDateFromUdate, VarUdateFromDate, VarDateFromStr, VarBstrFromDate).
#include <velmora/afx/ole_datetime.h>

#include "framework/ole_text.h"

#include <cmath>
#include <cstdio>

namespace {

constexpr double kMinDate = -657434.0; // 1 January 100
constexpr double kEndDate = 2958466.0; // 1 January 10000
constexpr const char *kInvalid = "Invalid DateTime";

bool inRange(double date) { return date >= kMinDate && date < kEndDate; }

// The encoding turns at day 0: -1.25 is 29 December 1899 at 6:00, a quarter day after -1.
// On the linear scale time runs straight, so that spans add and dates compare.
double toLinear(DATE date) {
  double days = std::trunc(date);
  return date >= 0 ? date : days + (days - date);
}

DATE fromLinear(double linear) {
  if (linear >= 0)
    return linear;
  double days = std::floor(linear), fraction = linear - days;
  return fraction == 0 ? days : days - fraction;
}

// Seconds in a span, rounded: the parts come from them.
long long spanSeconds(double span) { return std::llround(span * 86400); }

} // namespace

// ---- COleDateTimeSpan

COleDateTimeSpan::COleDateTimeSpan() noexcept : m_span(0), m_status(valid) {}

COleDateTimeSpan::COleDateTimeSpan(double dblSpanSrc) noexcept
    : m_span(dblSpanSrc), m_status(std::isfinite(dblSpanSrc) ? valid : invalid) {}

COleDateTimeSpan::COleDateTimeSpan(LONG lDays, int nHours, int nMins, int nSecs) noexcept {
  SetDateTimeSpan(lDays, nHours, nMins, nSecs);
}

void COleDateTimeSpan::SetDateTimeSpan(LONG lDays, int nHours, int nMins, int nSecs) noexcept {
  m_span = lDays + (double(nHours) * 3600 + double(nMins) * 60 + nSecs) / 86400;
  m_status = valid;
}

LONG COleDateTimeSpan::GetDays() const noexcept { return LONG(spanSeconds(m_span) / 86400); }
LONG COleDateTimeSpan::GetHours() const noexcept { return LONG(spanSeconds(m_span) / 3600 % 24); }
LONG COleDateTimeSpan::GetMinutes() const noexcept { return LONG(spanSeconds(m_span) / 60 % 60); }
LONG COleDateTimeSpan::GetSeconds() const noexcept { return LONG(spanSeconds(m_span) % 60); }

COleDateTimeSpan COleDateTimeSpan::operator+(const COleDateTimeSpan &dateSpan) const noexcept {
  COleDateTimeSpan sum(m_span + dateSpan.m_span);
  if (m_status != valid || dateSpan.m_status != valid)
    sum.m_status = m_status == null || dateSpan.m_status == null ? null : invalid;
  return sum;
}

COleDateTimeSpan COleDateTimeSpan::operator-(const COleDateTimeSpan &dateSpan) const noexcept {
  return *this + -dateSpan;
}

COleDateTimeSpan &COleDateTimeSpan::operator+=(const COleDateTimeSpan &dateSpan) noexcept {
  return *this = *this + dateSpan;
}

COleDateTimeSpan &COleDateTimeSpan::operator-=(const COleDateTimeSpan &dateSpan) noexcept {
  return *this = *this - dateSpan;
}

COleDateTimeSpan COleDateTimeSpan::operator-() const noexcept {
  COleDateTimeSpan negative(-m_span);
  negative.m_status = m_status;
  return negative;
}

bool COleDateTimeSpan::operator==(const COleDateTimeSpan &s) const noexcept {
  return m_status == s.m_status && m_span == s.m_span;
}
bool COleDateTimeSpan::operator!=(const COleDateTimeSpan &s) const noexcept {
  return !(*this == s);
}
bool COleDateTimeSpan::operator<(const COleDateTimeSpan &s) const noexcept {
  return m_span < s.m_span;
}
bool COleDateTimeSpan::operator>(const COleDateTimeSpan &s) const noexcept {
  return m_span > s.m_span;
}
bool COleDateTimeSpan::operator<=(const COleDateTimeSpan &s) const noexcept {
  return m_span <= s.m_span;
}
bool COleDateTimeSpan::operator>=(const COleDateTimeSpan &s) const noexcept {
  return m_span >= s.m_span;
}

CString COleDateTimeSpan::Format(LPCTSTR pFormat) const {
  CString out;
  if (pFormat == nullptr || m_status != valid)
    return out;
  char part[32];
  for (const char *p = pFormat; *p != 0; ++p) {
    if (*p != '%' || p[1] == 0) {
      out += *p;
      continue;
    }
    switch (*++p) {
    case 'D':
      std::snprintf(part, sizeof part, "%ld", static_cast<long>(GetDays()));
      break;
    case 'H':
      std::snprintf(part, sizeof part, "%02ld", static_cast<long>(GetHours()));
      break;
    case 'M':
      std::snprintf(part, sizeof part, "%02ld", static_cast<long>(GetMinutes()));
      break;
    case 'S':
      std::snprintf(part, sizeof part, "%02ld", static_cast<long>(GetSeconds()));
      break;
    default:
      std::snprintf(part, sizeof part, "%c", *p);
      break;
    }
    out += part;
  }
  return out;
}

// ---- COleDateTime

COleDateTime WINAPI COleDateTime::GetCurrentTime() noexcept {
  return COleDateTime(std::time(nullptr));
}

COleDateTime::COleDateTime() noexcept : m_dt(0), m_status(valid) {}

COleDateTime::COleDateTime(const VARIANT &varSrc) noexcept { *this = varSrc; }

COleDateTime::COleDateTime(DATE dtSrc) noexcept { *this = dtSrc; }

COleDateTime::COleDateTime(time_t timeSrc) noexcept { *this = timeSrc; }

COleDateTime::COleDateTime(const SYSTEMTIME &systimeSrc) noexcept { *this = systimeSrc; }

COleDateTime::COleDateTime(int nYear, int nMonth, int nDay, int nHour, int nMin,
                           int nSec) noexcept {
  SetDateTime(nYear, nMonth, nDay, nHour, nMin, nSec);
}

const COleDateTime &COleDateTime::operator=(const VARIANT &varSrc) noexcept {
  VARIANT date;
  VariantInit(&date);
  if (SUCCEEDED(VariantChangeType(&date, const_cast<VARIANT *>(&varSrc), 0, VT_DATE)) &&
      inRange(date.date)) {
    m_dt = date.date;
    m_status = valid;
  } else {
    m_dt = 0;
    m_status = invalid;
  }
  return *this;
}

const COleDateTime &COleDateTime::operator=(DATE dtSrc) noexcept {
  m_dt = dtSrc;
  m_status = inRange(dtSrc) ? valid : invalid;
  return *this;
}

const COleDateTime &COleDateTime::operator=(const time_t &timeSrc) noexcept {
  const std::tm *local = std::localtime(&timeSrc);
  if (local == nullptr) {
    m_dt = 0;
    m_status = invalid;
  } else {
    SetDateTime(local->tm_year + 1900, local->tm_mon + 1, local->tm_mday, local->tm_hour,
                local->tm_min, local->tm_sec);
  }
  return *this;
}

const COleDateTime &COleDateTime::operator=(const SYSTEMTIME &systimeSrc) noexcept {
  SetDateTime(systimeSrc.wYear, systimeSrc.wMonth, systimeSrc.wDay, systimeSrc.wHour,
              systimeSrc.wMinute, systimeSrc.wSecond);
  return *this;
}

int COleDateTime::SetDateTime(int nYear, int nMonth, int nDay, int nHour, int nMin,
                              int nSec) noexcept {
  m_dt = 0;
  m_status = invalid;
  if (nYear < 100 || nYear > 9999 || nMonth < 1 || nMonth > 12 || nDay < 1 || nDay > 31 ||
      nHour < 0 || nHour > 23 || nMin < 0 || nMin > 59 || nSec < 0 || nSec > 59)
    return 1;
  UDATE parts = {};
  parts.st.wYear = WORD(nYear);
  parts.st.wMonth = WORD(nMonth);
  parts.st.wDay = WORD(nDay);
  parts.st.wHour = WORD(nHour);
  parts.st.wMinute = WORD(nMin);
  parts.st.wSecond = WORD(nSec);
  DATE date;
  UDATE back;
  // A day past the month's end carries into the next month: such parts name no date.
  if (FAILED(VarDateFromUdate(&parts, 0, &date)) || FAILED(VarUdateFromDate(date, 0, &back)) ||
      back.st.wDay != nDay)
    return 1;
  m_dt = date;
  m_status = valid;
  return 0;
}

int COleDateTime::SetDate(int nYear, int nMonth, int nDay) noexcept {
  return SetDateTime(nYear, nMonth, nDay, 0, 0, 0);
}

int COleDateTime::SetTime(int nHour, int nMin, int nSec) noexcept {
  return SetDateTime(1899, 12, 30, nHour, nMin, nSec);
}

bool COleDateTime::GetAsUDATE(UDATE &udate) const noexcept {
  return m_status == valid && SUCCEEDED(VarUdateFromDate(m_dt, 0, &udate));
}

bool COleDateTime::GetAsSYSTEMTIME(SYSTEMTIME &sysTime) const noexcept {
  UDATE parts;
  if (!GetAsUDATE(parts))
    return false;
  sysTime = parts.st;
  return true;
}

#define VLX_DATE_PART(Name, expression)                                                            \
  int COleDateTime::Name() const noexcept {                                                        \
    UDATE u;                                                                                       \
    return GetAsUDATE(u) ? int(expression) : AFX_OLE_DATETIME_ERROR;                               \
  }
VLX_DATE_PART(GetYear, u.st.wYear)
VLX_DATE_PART(GetMonth, u.st.wMonth)
VLX_DATE_PART(GetDay, u.st.wDay)
VLX_DATE_PART(GetHour, u.st.wHour)
VLX_DATE_PART(GetMinute, u.st.wMinute)
VLX_DATE_PART(GetSecond, u.st.wSecond)
VLX_DATE_PART(GetDayOfWeek, u.st.wDayOfWeek + 1)
VLX_DATE_PART(GetDayOfYear, u.wDayOfYear)
#undef VLX_DATE_PART

bool COleDateTime::operator==(const COleDateTime &date) const noexcept {
  return m_status == date.m_status && m_dt == date.m_dt;
}
bool COleDateTime::operator!=(const COleDateTime &date) const noexcept { return !(*this == date); }
bool COleDateTime::operator<(const COleDateTime &date) const noexcept {
  return toLinear(m_dt) < toLinear(date.m_dt);
}
bool COleDateTime::operator>(const COleDateTime &date) const noexcept {
  return toLinear(m_dt) > toLinear(date.m_dt);
}
bool COleDateTime::operator<=(const COleDateTime &date) const noexcept {
  return toLinear(m_dt) <= toLinear(date.m_dt);
}
bool COleDateTime::operator>=(const COleDateTime &date) const noexcept {
  return toLinear(m_dt) >= toLinear(date.m_dt);
}

COleDateTime COleDateTime::operator+(const COleDateTimeSpan &dateSpan) const noexcept {
  COleDateTime sum;
  if (m_status != valid || dateSpan.m_status != COleDateTimeSpan::valid) {
    sum.m_status = m_status == null || dateSpan.m_status == COleDateTimeSpan::null ? null : invalid;
    return sum;
  }
  return COleDateTime(fromLinear(toLinear(m_dt) + dateSpan.m_span));
}

COleDateTime COleDateTime::operator-(const COleDateTimeSpan &dateSpan) const noexcept {
  return *this + -dateSpan;
}

COleDateTime &COleDateTime::operator+=(const COleDateTimeSpan &dateSpan) noexcept {
  return *this = *this + dateSpan;
}

COleDateTime &COleDateTime::operator-=(const COleDateTimeSpan &dateSpan) noexcept {
  return *this = *this - dateSpan;
}

COleDateTimeSpan COleDateTime::operator-(const COleDateTime &date) const noexcept {
  COleDateTimeSpan span(toLinear(m_dt) - toLinear(date.m_dt));
  if (m_status != valid || date.m_status != valid)
    span.m_status = m_status == null || date.m_status == null ? COleDateTimeSpan::null
                                                              : COleDateTimeSpan::invalid;
  return span;
}

bool COleDateTime::ParseDateTime(LPCTSTR lpszDate, DWORD dwFlags, LCID lcid) {
  m_dt = 0;
  m_status = invalid;
  if (!vlx::detail::fromNarrowText(lpszDate, lcid, dwFlags, VarDateFromStr, &m_dt))
    return false;
  m_status = valid;
  return true;
}

CString COleDateTime::Format(DWORD dwFlags, LCID lcid) const {
  if (m_status == null)
    return CString();
  if (m_status != valid)
    return CString(kInvalid);
  return vlx::detail::toNarrowText(m_dt, lcid, dwFlags, VarBstrFromDate, kInvalid);
}

CString COleDateTime::Format(LPCTSTR lpszFormat) const {
  UDATE u;
  if (m_status == null || lpszFormat == nullptr)
    return CString();
  if (!GetAsUDATE(u))
    return CString(kInvalid);
  std::tm parts = {};
  parts.tm_year = u.st.wYear - 1900;
  parts.tm_mon = u.st.wMonth - 1;
  parts.tm_mday = u.st.wDay;
  parts.tm_hour = u.st.wHour;
  parts.tm_min = u.st.wMinute;
  parts.tm_sec = u.st.wSecond;
  parts.tm_wday = u.st.wDayOfWeek;
  parts.tm_yday = u.wDayOfYear - 1;
  char text[512];
  size_t length = std::strftime(text, sizeof text, lpszFormat, &parts);
  return CString(text, int(length));
}
