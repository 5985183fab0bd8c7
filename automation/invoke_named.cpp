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
    params.cArgs = UINT(std::strlen(reinterpret_cast<const char *>(pbParamInfo)));
  params.cNamedArgs = params.cArgs;
  params.rgdispidNamedArgs = const_cast<DISPID *>(namedIds);

  VARIANT result;
  EXCEPINFO info;
  HRESULT hr;
  {
    detail::InvokeArguments args(pbParamInfo, params.cArgs, detail::FloatArgument::AsDouble);
    va_list copy;
    va_copy(copy, argList);
    try {
      args.fill(copy);
    } catch (...) {
      va_end(copy);
      throw;
    }
    va_end(copy);
    params.rgvarg = args.data();

    VariantInit(&result);
    std::memset(&info, 0, sizeof info);
    UINT argErr = UINT(-1);
    hr = driver.m_lpDispatch->Invoke(dwDispID, IID_NULL, 0, wFlags, &params,
                                     vtRet == VT_EMPTY ? nullptr : &result, &info, &argErr);
  } // the strings made for the call and the array are freed here, before any fault is raised
  if (FAILED(hr)) {
    VariantClear(&result);
    throwInvokeFault(hr, info);
  }
  if (vtRet != VT_EMPTY)
    storeInvokeResult(result, vtRet, pvRet);
}

} // namespace vlx
