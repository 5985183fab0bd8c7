// InvokeNamedHelper: one Invoke with every argument named, its strings freed and its faults
// raised as the framework's exceptions.
#include "automation/invoke_named.h"

#include "framework/invoke_arguments.h"

#include <cstring>

namespace vlx {

void InvokeNamedHelper(COleDispatchDriver &driver, DISPID dwDispID, WORD wFlags, VARTYPE vtRet,
                       void *pvRet, const DISPID *namedIds, const BYTE *pbParamInfo, ...) {
  va_list argList;
  va_start(argList, pbParamInfo);
  try {
    InvokeNamedHelperV(driver, dwDispID, wFlags, vtRet, pvRet, namedIds, pbParamInfo, argList);
  } catch (...) {
    va_end(argList);
    throw;
  }
  va_end(argList);
}

void InvokeNamedHelperV(COleDispatchDriver &driver, DISPID dwDispID, WORD wFlags, VARTYPE vtRet,
                        void *pvRet, const DISPID *namedIds, const BYTE *pbParamInfo,
                        va_list argList) {
  if (driver.m_lpDispatch == nullptr)
    return;
  // Flags are not looked at: a put gets no DISPID_PROPERTYPUT here.
  DISPPARAMS params = {nullptr, nullptr, 0, 0};
  if (pbParamInfo != nullptr)
    params.cNamedArgs = UINT(std::strlen(reinterpret_cast<const char *>(pbParamInfo)));
  params.rgdispidNamedArgs = const_cast<DISPID *>(namedIds);
  detail::invokeWithArguments(*driver.m_lpDispatch, dwDispID, wFlags, params, pbParamInfo,
                              detail::FloatArgument::AsDouble, vtRet, pvRet, argList);
}

} // namespace vlx
