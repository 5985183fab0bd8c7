// The library's own invoke routine: every argument travels as a named argument.
#pragma once

#include <velmora/afx.h>

#include <cstdarg>

namespace vlx {

// `namedIds` holds one DISPID per argument of `pbParamInfo`; Invoke pairs entry i with argument
// array element i, so the first entry names the last argument. Faults throw as
// COleDispatchDriver::InvokeHelper's do.
void InvokeNamedHelper(COleDispatchDriver &driver, DISPID dwDispID, WORD wFlags, VARTYPE vtRet,
                       void *pvRet, const DISPID *namedIds, const BYTE *pbParamInfo, ...);
void InvokeNamedHelperV(COleDispatchDriver &driver, DISPID dwDispID, WORD wFlags, VARTYPE vtRet,
                        void *pvRet, const DISPID *namedIds, const BYTE *pbParamInfo,
                        va_list argList);

} // namespace vlx
