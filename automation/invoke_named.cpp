// InvokeNamedHelper: one Invoke with every argument named, its strings freed and its faults
// raised as the framework's exceptions.
#include "automation/invoke_named.h"

#include <cstring>

namespace vlx {
namespace {

constexpr BYTE kByRef = 0x40;

// count VARIANTs on the heap, zero-filled, the first argument in the highest element; on the
// way out only the BSTRs made from raw code VT_BSTR are cleared, everything else is the caller's.
class NamedArguments {
public:
  NamedArguments(const BYTE *paramInfo, UINT count) : paramInfo_(paramInfo), count_(count) {
    if (count_ != 0) {
      args_ = new VARIANT[count_];
      std::memset(static_cast<void *>(args_), 0, sizeof(VARIANT) * count_);
    }
  }
  ~NamedArguments() {
    for (UINT i = 0; i < filled_; ++i)
      if (paramInfo_[i] == VT_BSTR)
        VariantClear(&args_[count_ - 1 - i]);
    delete[] args_;
  }
  NamedArguments(const NamedArguments &) = delete;
  NamedArguments &operator=(const NamedArguments &) = delete;

  VARIANT *data() { return args_; }

  void fill(va_list &argList) {
    for (; filled_ < count_; ++filled_) {
      VARIANT &arg = args_[count_ - 1 - filled_];
      BYTE code = paramInfo_[filled_];
      arg.vt = (code & kByRef) ? VARTYPE((code & ~kByRef) | VT_BYREF) : VARTYPE(code);
      switch (arg.vt) {
      case VT_I2:
        arg.iVal = SHORT(va_arg(argList, int));
        break;
      case VT_I4:
        arg.lVal = va_arg(argList, LONG);
        break;
      case VT_R4:
        // Floats arrive promoted; they travel as the double they became.
        arg.vt = VT_R8;
        arg.dblVal = va_arg(argList, double);
        break;
      case VT_R8:
      case VT_DATE:
        arg.dblVal = va_arg(argList, double);
        break;
      case VT_CY:
        arg.cyVal = *va_arg(argList, CY *);
        break;
      case VT_BSTR: {
        LPCOLESTR text = va_arg(argList, LPCOLESTR);
        arg.vt = VT_EMPTY; // stays so if the allocation throws
        arg.bstrVal = SysAllocString(text);
        if (text != nullptr && arg.bstrVal == nullptr)
          AfxThrowMemoryException();
        arg.vt = VT_BSTR;
        break;
      }
      case VT_DISPATCH:
      case VT_UNKNOWN:
        arg.punkVal = va_arg(argList, IUnknown *);
        break;
      case VT_ERROR:
        arg.scode = va_arg(argList, SCODE);
        break;
      case VT_BOOL:
        arg.boolVal = va_arg(argList, int) ? VARIANT_TRUE : VARIANT_FALSE;
        break;
      case VT_VARIANT:
        arg = *va_arg(argList, const VARIANT *);
        break;
      case VT_BOOL | VT_BYREF: {
        // The caller's integer becomes all bits set or zero, and is sent where it lies.
        int *value = va_arg(argList, int *);
        *value = *value ? -1 : 0;
        arg.byref = value;
        break;
      }
      default:
        if (!(arg.vt & VT_BYREF)) {
          arg.vt = VT_EMPTY;
          AfxThrowNotSupportedException();
        }
        arg.byref = va_arg(argList, void *);
        break;
      }
    }
  }

private:
  const BYTE *paramInfo_;
  UINT count_;
  UINT filled_ = 0;
  VARIANT *args_ = nullptr;
};

} // namespace

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
    NamedArguments args(pbParamInfo, params.cArgs);
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
