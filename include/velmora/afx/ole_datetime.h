// The framework's date and currency classes: COleDateTime, COleDateTimeSpan and COleCurrency,
// over the OLE Automation DATE and CY and their conversion calls.
#pragma once

#include <velmora/afx/string.h>
#include <velmora/export.h>
#include <velmora/win32.h>

#include <ctime>

#define AFX_OLE_DATETIME_ERROR (-1)

// A length of time in days; the fraction is the time of day.
class VLX_API COleDateTimeSpan {
public:
  enum DateTimeSpanStatus { valid = 0, invalid = 1, null = 2 };

  COleDateTimeSpan() noexcept;
  COleDateTimeSpan(double dblSpanSrc) noexcept;
  COleDateTimeSpan(LONG lDays, int nHours, int nMins, int nSecs) noexcept;

  void SetStatus(DateTimeSpanStatus status) noexcept { m_status = status; }
  DateTimeSpanStatus GetStatus() const noexcept { return m_status; }
  void SetDateTimeSpan(LONG lDays, int nHours, int nMins, int nSecs) noexcept;

  double GetTotalDays() const noexcept { return m_span; }
  double GetTotalHours() const noexcept { return m_span * 24; }
  double GetTotalMinutes() const noexcept { return m_span * 24 * 60; }
  double GetTotalSeconds() const noexcept { return m_span * 24 * 60 * 60; }
  // The parts, each rounded to the second and signed as the span is.
  LONG GetDays() const noexcept;
  LONG GetHours() const noexcept;
  LONG GetMinutes() const noexcept;
  LONG GetSeconds() const noexcept;
  operator double() const noexcept { return m_span; }

  COleDateTimeSpan operator+(const COleDateTimeSpan &dateSpan) const noexcept;
  COleDateTimeSpan operator-(const COleDateTimeSpan &dateSpan) const noexcept;
  COleDateTimeSpan &operator+=(const COleDateTimeSpan &dateSpan) noexcept;
  COleDateTimeSpan &operator-=(const COleDateTimeSpan &dateSpan) noexcept;
  COleDateTimeSpan operator-() const noexcept;
  bool operator==(const COleDateTimeSpan &dateSpan) const noexcept;
  bool operator!=(const COleDateTimeSpan &dateSpan) const noexcept;
  bool operator<(const COleDateTimeSpan &dateSpan) const noexcept;
  bool operator>(const COleDateTimeSpan &dateSpan) const noexcept;
  bool operator<=(const COleDateTimeSpan &dateSpan) const noexcept;
  bool operator>=(const COleDateTimeSpan &dateSpan) const noexcept;

  // strftime-style: %D days, %H hours, %M minutes, %S seconds, %% a percent sign.
  CString Format(LPCTSTR pFormat) const;

  double m_span;
  DateTimeSpanStatus m_status;
};

// A point in time as an OLE DATE: days since 30 December 1899, the fraction the time of day
// (before that day the whole part counts back and the fraction still forward).
class VLX_API COleDateTime {
public:
  enum DateTimeStatus { error = -1, valid = 0, invalid = 1, null = 2 };

  static COleDateTime WINAPI GetCurrentTime() noexcept;

  COleDateTime() noexcept;
  COleDateTime(const VARIANT &varSrc) noexcept;
  COleDateTime(DATE dtSrc) noexcept;
  COleDateTime(time_t timeSrc) noexcept;
  COleDateTime(const SYSTEMTIME &systimeSrc) noexcept;
  COleDateTime(int nYear, int nMonth, int nDay, int nHour, int nMin, int nSec) noexcept;

  const COleDateTime &operator=(const VARIANT &varSrc) noexcept;
  const COleDateTime &operator=(DATE dtSrc) noexcept;
  const COleDateTime &operator=(const time_t &timeSrc) noexcept;
  const COleDateTime &operator=(const SYSTEMTIME &systimeSrc) noexcept;

  DateTimeStatus GetStatus() const noexcept { return m_status; }
  void SetStatus(DateTimeStatus status) noexcept { m_status = status; }
  // 0 when set, 1 when the parts name no date (the status is then invalid).
  int SetDateTime(int nYear, int nMonth, int nDay, int nHour, int nMin, int nSec) noexcept;
  int SetDate(int nYear, int nMonth, int nDay) noexcept;
  int SetTime(int nHour, int nMin, int nSec) noexcept;
  bool GetAsSYSTEMTIME(SYSTEMTIME &sysTime) const noexcept;
  bool GetAsUDATE(UDATE &udate) const noexcept;

  // AFX_OLE_DATETIME_ERROR unless valid. GetDayOfWeek is 1 for Sunday, GetDayOfYear 1 for
  // 1 January.
  int GetYear() const noexcept;
  int GetMonth() const noexcept;
  int GetDay() const noexcept;
  int GetHour() const noexcept;
  int GetMinute() const noexcept;
  int GetSecond() const noexcept;
  int GetDayOfWeek() const noexcept;
  int GetDayOfYear() const noexcept;
  operator DATE() const noexcept { return m_dt; }

  bool operator==(const COleDateTime &date) const noexcept;
  bool operator!=(const COleDateTime &date) const noexcept;
  bool operator<(const COleDateTime &date) const noexcept;
  bool operator>(const COleDateTime &date) const noexcept;
  bool operator<=(const COleDateTime &date) const noexcept;
  bool operator>=(const COleDateTime &date) const noexcept;

  // Time runs on across 30 December 1899 although the encoding turns there.
  COleDateTime operator+(const COleDateTimeSpan &dateSpan) const noexcept;
  COleDateTime operator-(const COleDateTimeSpan &dateSpan) const noexcept;
  COleDateTime &operator+=(const COleDateTimeSpan &dateSpan) noexcept;
  COleDateTime &operator-=(const COleDateTimeSpan &dateSpan) noexcept;
  COleDateTimeSpan operator-(const COleDateTime &date) const noexcept;

  // Text as VarDateFromStr reads it; false (and the status invalid) when it is no date.
  // dwFlags: VAR_DATEVALUEONLY or VAR_TIMEVALUEONLY.
  bool ParseDateTime(LPCTSTR lpszDate, DWORD dwFlags = 0, LCID lcid = LOCALE_USER_DEFAULT);
  // Text as VarBstrFromDate writes it; "" for a null date, "Invalid DateTime" for an invalid one.
  CString Format(DWORD dwFlags = 0, LCID lcid = LOCALE_USER_DEFAULT) const;
  // strftime's conversions on the date's parts.
  CString Format(LPCTSTR lpszFormat) const;

  DATE m_dt;
  DateTimeStatus m_status;
};

// An amount of currency: a 64-bit count of ten-thousandths.
class VLX_API COleCurrency {
public:
  enum CurrencyStatus { valid = 0, invalid = 1, null = 2 };

  COleCurrency() noexcept;
  COleCurrency(CY cySrc) noexcept;
  COleCurrency(const VARIANT &varSrc) noexcept;
  COleCurrency(long nUnits, long nFractionalUnits) noexcept;

  const COleCurrency &operator=(CY cySrc) noexcept;
  const COleCurrency &operator=(const VARIANT &varSrc) noexcept;

  CurrencyStatus GetStatus() const noexcept { return m_status; }
  void SetStatus(CurrencyStatus status) noexcept { m_status = status; }
  // nFractionalUnits are ten-thousandths, signed as the amount is.
  void SetCurrency(long nUnits, long nFractionalUnits) noexcept;
  operator CY() const noexcept { return m_cur; }

  // Overflow makes the result invalid.
  COleCurrency operator+(const COleCurrency &cur) const noexcept;
  COleCurrency operator-(const COleCurrency &cur) const noexcept;
  COleCurrency &operator+=(const COleCurrency &cur) noexcept;
  COleCurrency &operator-=(const COleCurrency &cur) noexcept;
  COleCurrency operator-() const noexcept;
  COleCurrency operator*(long nOperand) const noexcept;
  COleCurrency operator/(long nOperand) const noexcept;
  COleCurrency &operator*=(long nOperand) noexcept;
  COleCurrency &operator/=(long nOperand) noexcept;
  bool operator==(const COleCurrency &cur) const noexcept;
  bool operator!=(const COleCurrency &cur) const noexcept;
  bool operator<(const COleCurrency &cur) const noexcept;
  bool operator>(const COleCurrency &cur) const noexcept;
  bool operator<=(const COleCurrency &cur) const noexcept;
  bool operator>=(const COleCurrency &cur) const noexcept;

  // Text as VarCyFromStr reads it; FALSE (and the status invalid) when it is no amount.
  BOOL ParseCurrency(LPCTSTR lpszCurrency, DWORD dwFlags = 0, LCID lcid = LOCALE_USER_DEFAULT);
  // Text as VarBstrFromCy writes it: "1.5", "-0.0001".
  CString Format(DWORD dwFlags = 0, LCID lcid = LOCALE_USER_DEFAULT) const;

  CY m_cur;
  CurrencyStatus m_status;
};
