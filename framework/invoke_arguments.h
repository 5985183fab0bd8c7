// The argument array of an invoke, built from a VTS_* parameter string and a va_list, and the
// one Invoke call that every invoke routine makes with it.
#pragma once

#include <velmora/afx.h>

#include <cstdarg>

namespace vlx::detail {

// How a VT_R4 argument travels: as the float the parameter string names (COleDispatchDriver),
// or as the double it was promoted to, typed VT_R8 (the library's named invoke).
enum class FloatArgument { AsFloat, AsDouble };

// `count` VARIANTs on the heap, zero-filled and filled from the last element, as Invoke expects
// the first argument there. Whatever happens, the strings made here are freed with the array;
// everything else in it stays the caller's.
class InvokeArguments {
public:
  InvokeArguments(const BYTE *paramInfo, UINT count, FloatArgument floats);
  ~InvokeArguments();
  InvokeArguments(const InvokeArguments &) = delete;
  InvokeArguments &operator=(const InvokeArguments &) = delete;

  VARIANT *data() { return args_; }
  // Takes one argument per code; throws CNotSupportedException for a code not known, and
  // CMemoryException when a string cannot be made.
  void fill(va_list &argList);

private:
  void takeValue(VARIANT &arg, BYTE code, va_list &argList) const;
  static void takeByReference(VARIANT &arg, VARTYPE base, va_list &argList);

  const BYTE *paramInfo_;
  UINT count_;
  FloatArgument floats_;
  UINT filled_ = 0;
  VARIANT *args_ = nullptr;
};

// One Invoke with the arguments `paramInfo` names, taken from a copy of `argList`; `params`
// brings only the named arguments. The strings made for the call are freed before a fault is
// raised as the framework's exception; otherwise the result is stored as `vtRet` in `pvRet`.
void invokeWithArguments(IDispatch &dispatch, DISPID id, WORD flags, DISPPARAMS &params,
                         const BYTE *paramInfo, FloatArgument floats, VARTYPE vtRet, void *pvRet,
                         va_list argList);

} // namespace vlx::detail
