// The one decoder of VTS_* parameter strings, shared by every invoke routine.
#include "framework/invoke_arguments.h"

#include "framework/ole_text.h"

#include <cstring>

namespace vlx::detail {
namespace {

// Parameter type byte 0x0E: narrow text that travels as a BSTR.
constexpr BYTE kNarrowText = 0x0E;
// Parameter type bit for an argument passed by reference.
constexpr BYTE kByRef = 0x40;

BSTR wideToBstr(LPCOLESTR text) {
  BSTR out = SysAllocString(text);
  if (text != nullptr && out == nullptr)
    AfxThrowMemoryException();
  return out;
}

} // namespace

InvokeArguments::InvokeArguments(const BYTE *paramInfo, UINT count, FloatArgument floats)
    : paramInfo_(paramInfo), count_(count), floats_(floats) {
  if (count_ != 0) {
    args_ = new VARIANT[count_];
    std::memset(static_cast<void *>(args_), 0, sizeof(VARIANT) * count_);
  }
}

// Only the strings made here: a VARIANT argument's string stays the caller's.
InvokeArguments::~InvokeArguments() {
  for (UINT i = 0; i < filled_; ++i)
    if (paramInfo_[i] == VT_BSTR || paramInfo_[i] == kNarrowText)
      VariantClear(&args_[count_ - 1 - i]);
  delete[] args_;
}

void InvokeArguments::fill(va_list &argList) {
  for (; filled_ < count_; ++filled_) {
    VARIANT &arg = args_[count_ - 1 - filled_];
    BYTE code = paramInfo_[filled_];
    if (code & kByRef)
      takeByReference(arg, VARTYPE(code & ~kByRef), argList);
    else
      takeValue(arg, code, argList);
  }
}

void InvokeArguments::takeValue(VARIANT &arg, BYTE code, va_list &argList) const {
  arg.vt = code == kNarrowText ? VARTYPE(VT_BSTR) : VARTYPE(code);
  switch (code) {
  case VT_UI1:
    arg.bVal = BYTE(va_arg(argList, int));
    break;
  case VT_I1:
    arg.cVal = CHAR(va_arg(argList, int));
    break;
  case VT_I2:
    arg.iVal = SHORT(va_arg(argList, int));
    break;
  case VT_UI2:
    arg.uiVal = USHORT(va_arg(argList, int));
    break;
  case VT_I4:
    arg.lVal = va_arg(argList, LONG);
    break;
  case VT_UI4:
    arg.ulVal = va_arg(argList, ULONG);
    break;
  case VT_I8:
    arg.llVal = va_arg(argList, LONGLONG);
    break;
  case VT_UI8:
    arg.ullVal = va_arg(argList, ULONGLONG);
    break;
  case VT_R4:
    // Floats arrive promoted to double.
    if (floats_ == FloatArgument::AsDouble) {
      arg.vt = VT_R8;
      arg.dblVal = va_arg(argList, double);
    } else {
      arg.fltVal = FLOAT(va_arg(argList, double));
    }
    break;
  case VT_R8:
  case VT_DATE:
    arg.dblVal = va_arg(argList, double);
    break;
  case VT_CY:
    arg.cyVal = *va_arg(argList, CY *);
    break;
  case VT_BSTR:
    arg.vt = VT_EMPTY; // stays so if the allocation throws
    arg.bstrVal = wideToBstr(va_arg(argList, LPCOLESTR));
    arg.vt = VT_BSTR;
    break;
  case kNarrowText:
    arg.vt = VT_EMPTY;
    arg.bstrVal = narrowToBstr(va_arg(argList, LPCSTR));
    arg.vt = VT_BSTR;
    break;
  case VT_DISPATCH:
  case VT_UNKNOWN:
    arg.punkVal = va_arg(argList, IUnknown *);
    break;
  case VT_ERROR:
    arg.scode = va_arg(argList, SCODE);
    break;
  case VT_BOOL:
    arg.boolVal = va_arg(argList, BOOL) ? VARIANT_TRUE : VARIANT_FALSE;
    break;
  case VT_VARIANT:
    arg = *va_arg(argList, const VARIANT *);
    break;
  default:
    arg.vt = VT_EMPTY;
    AfxThrowNotSupportedException();
  }
}

void InvokeArguments::takeByReference(VARIANT &arg, VARTYPE base, va_list &argList) {
  arg.vt = VARTYPE(base | VT_BYREF);
  if (base == VT_BOOL) {
    // A BOOL in the caller's hands, rewritten in place as the 16-bit Boolean it points to.
    BOOL *value = va_arg(argList, BOOL *);
    *value = *value ? -1 : 0;
    arg.byref = value;
  } else {
    arg.byref = va_arg(argList, void *);
  }
}

void invokeWithArguments(IDispatch &dispatch, DISPID id, WORD flags, DISPPARAMS &params,
                         const BYTE *paramInfo, FloatArgument floats, VARTYPE vtRet, void *pvRet,
                         va_list argList) {
  VARIANT result;
  EXCEPINFO info;
  HRESULT hr;
  {
    UINT count =
        paramInfo != nullptr ? UINT(std::strlen(reinterpret_cast<const char *>(paramInfo))) : 0;
    InvokeArguments args(paramInfo, count, floats);
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
    params.cArgs = count;

    VariantInit(&result);
    std::memset(&info, 0, sizeof info);
    UINT argErr = UINT(-1);
    hr = dispatch.Invoke(id, IID_NULL, 0, flags, &params, vtRet == VT_EMPTY ? nullptr : &result,
                         &info, &argErr);
    params.rgvarg = nullptr;
  } // the strings made for the call and the array are freed here, before any fault is raised
  if (FAILED(hr)) {
    VariantClear(&result);
    throwInvokeFault(hr, info);
  }
  if (vtRet != VT_EMPTY)
    storeInvokeResult(result, vtRet, pvRet);
}

} // namespace vlx::detail
