// COleCurrency: arithmetic through VarCy*, text through VarCyFromStr and VarBstrFromCy; and
// COleVariant holding a date or an amount.
#include <velmora/afx/ole_datetime.h>
#include <velmora/afx/ole_variant.h>

#include "framework/ole_text.h"

#include <cstdint>

namespace {

COleCurrency result(HRESULT hr, CY value, bool valid) {
  COleCurrency out(value);
  if (FAILED(hr) || !valid)
    out.SetStatus(COleCurrency::invalid);
  return out;
}

} // namespace

COleCurrency::COleCurrency() noexcept : m_status(valid) { m_cur.int64 = 0; }

COleCurrency::COleCurrency(CY cySrc) noexcept : m_cur(cySrc), m_status(valid) {}

COleCurrency::COleCurrency(const VARIANT &varSrc) noexcept { *this = varSrc; }

COleCurrency::COleCurrency(long nUnits, long nFractionalUnits) noexcept {
  SetCurrency(nUnits, nFractionalUnits);
}

const COleCurrency &COleCurrency::operator=(CY cySrc) noexcept {
  m_cur = cySrc;
  m_status = valid;
  return *this;
}

const COleCurrency &COleCurrency::operator=(const VARIANT &varSrc) noexcept {
  VARIANT amount;
  VariantInit(&amount);
  if (SUCCEEDED(VariantChangeType(&amount, const_cast<VARIANT *>(&varSrc), 0, VT_CY))) {
    m_cur = amount.cyVal;
    m_status = valid;
  } else {
    m_cur.int64 = 0;
    m_status = invalid;
  }
  return *this;
}

void COleCurrency::SetCurrency(long nUnits, long nFractionalUnits) noexcept {
  CY units, fraction;
  fraction.int64 = nFractionalUnits;
  HRESULT hr = VarCyFromI8(LONG64(nUnits), &units);
  if (SUCCEEDED(hr))
    hr = VarCyAdd(units, fraction, &m_cur);
  m_status = SUCCEEDED(hr) ? valid : invalid;
  if (FAILED(hr))
    m_cur.int64 = 0;
}

COleCurrency COleCurrency::operator+(const COleCurrency &cur) const noexcept {
  CY sum;
  HRESULT hr = VarCyAdd(m_cur, cur.m_cur, &sum);
  return result(hr, sum, m_status == valid && cur.m_status == valid);
}

COleCurrency COleCurrency::operator-(const COleCurrency &cur) const noexcept {
  CY difference;
  HRESULT hr = VarCySub(m_cur, cur.m_cur, &difference);
  return result(hr, difference, m_status == valid && cur.m_status == valid);
}

COleCurrency &COleCurrency::operator+=(const COleCurrency &cur) noexcept {
  return *this = *this + cur;
}

COleCurrency &COleCurrency::operator-=(const COleCurrency &cur) noexcept {
  return *this = *this - cur;
}

COleCurrency COleCurrency::operator-() const noexcept {
  CY negative;
  HRESULT hr = VarCyNeg(m_cur, &negative);
  return result(hr, negative, m_status == valid);
}

COleCurrency COleCurrency::operator*(long nOperand) const noexcept {
  CY product;
  HRESULT hr = VarCyMulI8(m_cur, LONG64(nOperand), &product);
  return result(hr, product, m_status == valid);
}

// Truncates toward zero; a division by zero is invalid.
COleCurrency COleCurrency::operator/(long nOperand) const noexcept {
  CY quotient;
  quotient.int64 = 0;
  bool ok = nOperand != 0 && !(nOperand == -1 && m_cur.int64 == INT64_MIN);
  if (ok)
    quotient.int64 = m_cur.int64 / nOperand;
  return result(S_OK, quotient, ok && m_status == valid);
}

COleCurrency &COleCurrency::operator*=(long nOperand) noexcept { return *this = *this * nOperand; }

COleCurrency &COleCurrency::operator/=(long nOperand) noexcept { return *this = *this / nOperand; }

bool COleCurrency::operator==(const COleCurrency &cur) const noexcept {
  return m_status == cur.m_status && m_cur.int64 == cur.m_cur.int64;
}
bool COleCurrency::operator!=(const COleCurrency &cur) const noexcept { return !(*this == cur); }
bool COleCurrency::operator<(const COleCurrency &cur) const noexcept {
  return VarCyCmp(m_cur, cur.m_cur) == VARCMP_LT;
}
bool COleCurrency::operator>(const COleCurrency &cur) const noexcept {
  return VarCyCmp(m_cur, cur.m_cur) == VARCMP_GT;
}
bool COleCurrency::operator<=(const COleCurrency &cur) const noexcept { return !(*this > cur); }
bool COleCurrency::operator>=(const COleCurrency &cur) const noexcept { return !(*this < cur); }

BOOL COleCurrency::ParseCurrency(LPCTSTR lpszCurrency, DWORD dwFlags, LCID lcid) {
  m_cur.int64 = 0;
  m_status = invalid;
  if (!vlx::detail::fromNarrowText(lpszCurrency, lcid, dwFlags, VarCyFromStr, &m_cur))
    return FALSE;
  m_status = valid;
  return TRUE;
}

CString COleCurrency::Format(DWORD dwFlags, LCID lcid) const {
  if (m_status == null)
    return CString();
  if (m_status != valid)
    return CString("Invalid Currency");
  return vlx::detail::toNarrowText(m_cur, lcid, dwFlags, VarBstrFromCy, "Invalid Currency");
}

// ---- COleVariant's date and currency members

COleVariant::COleVariant(const COleDateTime &dateSrc) noexcept {
  vt = VT_DATE;
  date = dateSrc.m_dt;
}

COleVariant::COleVariant(const COleCurrency &curSrc) noexcept {
  vt = VT_CY;
  cyVal = curSrc.m_cur;
}

const COleVariant &COleVariant::operator=(const COleDateTime &dateSrc) {
  Clear();
  vt = VT_DATE;
  date = dateSrc.m_dt;
  return *this;
}

const COleVariant &COleVariant::operator=(const COleCurrency &curSrc) {
  Clear();
  vt = VT_CY;
  cyVal = curSrc.m_cur;
  return *this;
}
