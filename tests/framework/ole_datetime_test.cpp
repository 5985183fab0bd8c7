// COleDateTime, COleDateTimeSpan and COleCurrency as hosts use them to read cells' dates and
// amounts.
#include <velmora/afx.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <ctime>
#include <string>

namespace {

constexpr LCID kEnglish = 0x0409;

std::string parts(const COleDateTime &d) {
  return std::to_string(d.GetYear()) + "-" + std::to_string(d.GetMonth()) + "-" +
         std::to_string(d.GetDay()) + " " + std::to_string(d.GetHour()) + ":" +
         std::to_string(d.GetMinute()) + ":" + std::to_string(d.GetSecond()) + " dow " +
         std::to_string(d.GetDayOfWeek()) + " doy " + std::to_string(d.GetDayOfYear());
}

TEST(OleDateTime, EdgesOfTheDateSystem) {
  struct Case {
    DATE date;
    const char *parts;
  } cases[] = {
      {0.0, "1899-12-30 0:0:0 dow 7 doy 364"},
      {-1.25, "1899-12-29 6:0:0 dow 6 doy 363"},
      {-0.5, "1899-12-30 12:0:0 dow 7 doy 364"},
      {-657434.0, "100-1-1 0:0:0 dow 6 doy 1"},
      {2958465.999988426, "9999-12-31 23:59:59 dow 6 doy 365"},
      {36585.0, "2000-2-29 0:0:0 dow 3 doy 60"},
      {-36463.0, "1800-3-1 0:0:0 dow 7 doy 60"}, // 1800 is no leap year
  };
  for (const Case &c : cases) {
    COleDateTime d(c.date);
    EXPECT_EQ(d.GetStatus(), COleDateTime::valid) << c.date;
    EXPECT_EQ(parts(d), c.parts) << c.date;
  }
  EXPECT_EQ(COleDateTime(-657435.0).GetStatus(), COleDateTime::invalid);
  EXPECT_EQ(COleDateTime(2958466.0).GetStatus(), COleDateTime::invalid);
  EXPECT_EQ(COleDateTime(2958466.0).GetYear(), AFX_OLE_DATETIME_ERROR);
}

TEST(OleDateTime, PartsMakeTheDateOrAreInvalid) {
  struct Case {
    int y, m, d, h, mi, s;
    DATE expected; // -1: invalid
  } cases[] = {
      {1899, 12, 30, 0, 0, 0, 0.0},       {1899, 12, 29, 18, 0, 0, -1.75},
      {2000, 2, 29, 12, 0, 0, 36585.5},   {1900, 2, 29, 0, 0, 0, -1},
      {2001, 2, 29, 0, 0, 0, -1},         {2000, 4, 31, 0, 0, 0, -1},
      {2000, 13, 1, 0, 0, 0, -1},         {2000, 0, 1, 0, 0, 0, -1},
      {2000, 1, 1, 24, 0, 0, -1},         {2000, 1, 1, 0, 60, 0, -1},
      {99, 1, 1, 0, 0, 0, -1},            {10000, 1, 1, 0, 0, 0, -1},
      {100, 1, 1, 0, 0, 0, -657434.0},    {9999, 12, 31, 0, 0, 0, 2958465.0},
  };
  for (const Case &c : cases) {
    COleDateTime d(c.y, c.m, c.d, c.h, c.mi, c.s);
    SCOPED_TRACE(std::to_string(c.y) + "-" + std::to_string(c.m) + "-" + std::to_string(c.d));
    if (c.expected == -1) {
      EXPECT_EQ(d.GetStatus(), COleDateTime::invalid);
      EXPECT_EQ(d.Format(0, kEnglish), "Invalid DateTime");
    } else {
      EXPECT_EQ(d.GetStatus(), COleDateTime::valid);
      EXPECT_DOUBLE_EQ(d.m_dt, c.expected);
    }
  }
  SYSTEMTIME st = {};
  st.wYear = 2024;
  st.wMonth = 2;
  st.wDay = 29;
  st.wHour = 6;
  EXPECT_EQ(COleDateTime(st).Format("%Y-%m-%d %H:%M:%S %j"), "2024-02-29 06:00:00 060");
}

TEST(OleDateTime, ArithmeticRunsStraightAcrossTheEpoch) {
  COleDateTime noon(1899, 12, 30, 12, 0, 0);
  COleDateTime before = noon - COleDateTimeSpan(0, 18, 0, 0);
  EXPECT_EQ(parts(before), "1899-12-29 18:0:0 dow 6 doy 363");
  EXPECT_DOUBLE_EQ(before.m_dt, -1.75);
  EXPECT_TRUE(before < noon);
  EXPECT_TRUE(COleDateTime(-1.75) > COleDateTime(-1.25)); // 18:00 after 6:00 the same day
  COleDateTimeSpan gap = noon - before;
  EXPECT_DOUBLE_EQ(gap.GetTotalHours(), 18);
  EXPECT_EQ(gap.Format("%D days %H:%M:%S"), "0 days 18:00:00");

  COleDateTime leap(2000, 2, 28, 0, 0, 0);
  leap += COleDateTimeSpan(1, 0, 0, 0);
  EXPECT_EQ(leap.GetDay(), 29);
  COleDateTime end(9999, 12, 31, 0, 0, 0);
  EXPECT_EQ((end + COleDateTimeSpan(1.0)).GetStatus(), COleDateTime::invalid);
  COleDateTime nothing;
  nothing.SetStatus(COleDateTime::null);
  EXPECT_EQ((nothing + gap).GetStatus(), COleDateTime::null);
  EXPECT_EQ(nothing.Format(0, kEnglish), "");

  COleDateTimeSpan span(2, 3, 4, 5);
  EXPECT_EQ(span.GetDays(), 2);
  EXPECT_EQ(span.GetHours(), 3);
  EXPECT_EQ(span.GetMinutes(), 4);
  EXPECT_EQ(span.GetSeconds(), 5);
  EXPECT_EQ((-span).GetHours(), -3);
}

TEST(OleDateTime, TextBothWays) {
  COleDateTime d;
  ASSERT_TRUE(d.ParseDateTime("2/29/2000 6:30:15 PM", 0, kEnglish));
  EXPECT_EQ(parts(d), "2000-2-29 18:30:15 dow 3 doy 60");
  EXPECT_EQ(d.Format(0, kEnglish), "2/29/2000 6:30:15 PM");
  EXPECT_EQ(d.Format(VAR_DATEVALUEONLY, kEnglish), "2/29/2000");
  EXPECT_EQ(d.Format(VAR_TIMEVALUEONLY, kEnglish), "6:30:15 PM");
  EXPECT_EQ(d.Format("%d.%m.%Y %H:%M"), "29.02.2000 18:30");
  ASSERT_TRUE(d.ParseDateTime("2/29/2000 6:30 PM", VAR_DATEVALUEONLY, kEnglish));
  EXPECT_DOUBLE_EQ(d.m_dt, 36585.0);
  EXPECT_FALSE(d.ParseDateTime("2/30/2000", 0, kEnglish));
  EXPECT_EQ(d.GetStatus(), COleDateTime::invalid);
  EXPECT_FALSE(d.ParseDateTime(nullptr));
}

TEST(OleDateTime, FromVariantsAndTimes) {
  VARIANT v;
  v.vt = VT_BSTR;
  v.bstrVal = SysAllocString(reinterpret_cast<const OLECHAR *>(u"1/1/2000"));
  EXPECT_DOUBLE_EQ(COleDateTime(v).m_dt, 36526.0);
  VariantClear(&v);
  v.vt = VT_ERROR;
  v.scode = DISP_E_PARAMNOTFOUND;
  EXPECT_EQ(COleDateTime(v).GetStatus(), COleDateTime::invalid);

  COleVariant held(COleDateTime(2000, 1, 1, 12, 0, 0));
  EXPECT_EQ(held.vt, VT_DATE);
  EXPECT_DOUBLE_EQ(held.date, 36526.5);
  EXPECT_DOUBLE_EQ(COleDateTime(held).m_dt, 36526.5);

  time_t now = std::time(nullptr);
  COleDateTime local(now);
  EXPECT_EQ(local.GetStatus(), COleDateTime::valid);
  EXPECT_EQ(local.GetYear(), std::localtime(&now)->tm_year + 1900);
  EXPECT_EQ(COleDateTime::GetCurrentTime().GetStatus(), COleDateTime::valid);
}

TEST(OleCurrency, ArithmeticTextAndStatus) {
  COleCurrency price(12, 3400); // 12.34
  EXPECT_EQ(price.Format(0, kEnglish), "12.34");
  EXPECT_EQ((price * 3).Format(0, kEnglish), "37.02");
  EXPECT_EQ((price / 4).Format(0, kEnglish), "3.085");
  EXPECT_EQ((price - COleCurrency(20, 0)).Format(0, kEnglish), "-7.66");
  EXPECT_EQ((-price).Format(0, kEnglish), "-12.34");
  EXPECT_TRUE(price < COleCurrency(12, 3401));
  EXPECT_TRUE(price == COleCurrency(12, 3400));
  EXPECT_EQ((price / 0).GetStatus(), COleCurrency::invalid);

  CY most;
  most.int64 = INT64_MAX;
  EXPECT_EQ((COleCurrency(most) + price).GetStatus(), COleCurrency::invalid);
  EXPECT_EQ(COleCurrency(most).Format(0, kEnglish), "922337203685477.5807");

  COleCurrency parsed;
  ASSERT_TRUE(parsed.ParseCurrency("$1,234.5", 0, kEnglish));
  EXPECT_EQ(parsed.m_cur.int64, 12345000);
  EXPECT_FALSE(parsed.ParseCurrency("twelve", 0, kEnglish));
  EXPECT_EQ(parsed.GetStatus(), COleCurrency::invalid);
  COleCurrency nothing;
  nothing.SetStatus(COleCurrency::null);
  EXPECT_EQ(nothing.Format(), "");

  COleVariant held(price);
  EXPECT_EQ(held.vt, VT_CY);
  EXPECT_TRUE(COleCurrency(held) == price);
  VARIANT text;
  text.vt = VT_BSTR;
  text.bstrVal = SysAllocString(reinterpret_cast<const OLECHAR *>(u"0.0001"));
  EXPECT_EQ(COleCurrency(text).m_cur.int64, 1);
  VariantClear(&text);
}

} // namespace
