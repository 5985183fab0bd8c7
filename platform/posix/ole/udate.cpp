// VarDateFromUdate(Ex) and VarUdateFromDate: a DATE and its calendar parts, on the same
// calendar code as the date text.
#include "platform/posix/ole/variant_types.h"

extern "C" {

HRESULT WINAPI VarDateFromUdateEx(const UDATE *pudateIn, LCID, ULONG dwFlags, DATE *pdateOut) {
  if (pudateIn == nullptr || pdateOut == nullptr)
    return E_INVALIDARG;
  const SYSTEMTIME &st = pudateIn->st;
  if ((dwFlags & VAR_VALIDDATE) &&
      (st.wMonth < 1 || st.wMonth > 12 || st.wDay < 1 || st.wDay > 31 || st.wHour > 23 ||
       st.wMinute > 59 || st.wSecond > 59 || st.wMilliseconds > 999))
    return E_INVALIDARG;
  // Parts past their range carry: month 13 is January of the next year, day 0 the last of the
  // month before.
  int year = st.wYear;
  if (year < 100)
    year += year < 30 ? 2000 : 1900;
  double date = vlx::ole::joinDate(year, st.wMonth, st.wDay, st.wHour, st.wMinute, st.wSecond,
                                   st.wMilliseconds);
  if (!(date >= -657434.0) || !(date < 2958466.0))
    return E_INVALIDARG;
  if (dwFlags & VAR_TIMEVALUEONLY)
    date = date < 0 ? double(int64_t(date)) - date : date - double(int64_t(date));
  else if (dwFlags & VAR_DATEVALUEONLY)
    date = double(int64_t(date));
  *pdateOut = date;
  return S_OK;
}

HRESULT WINAPI VarDateFromUdate(const UDATE *pudateIn, ULONG dwFlags, DATE *pdateOut) {
  return VarDateFromUdateEx(pudateIn, LOCALE_USER_DEFAULT, dwFlags, pdateOut);
}

HRESULT WINAPI VarUdateFromDate(DATE dateIn, ULONG, UDATE *pudateOut) {
  if (pudateOut == nullptr)
    return E_INVALIDARG;
  UDATE parts;
  if (!vlx::ole::splitDate(dateIn, parts.st, parts.wDayOfYear))
    return E_INVALIDARG;
  *pudateOut = parts;
  return S_OK;
}

} // extern "C"
