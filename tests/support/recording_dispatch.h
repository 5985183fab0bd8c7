// A recording IDispatch test double: it keeps every Invoke it gets and answers with a given
// result, a failure code, or DISP_E_EXCEPTION with an EXCEPINFO; its reference count makes
// leaks and double releases visible.
#pragma once

#include "support/variant_cases.h"

#include <velmora/win32.h>

#include <string>
#include <vector>

namespace vlx::test {

struct RecordedArg {
  VARTYPE vt;
  std::string value; // renderVariant of the element; "&" for a reference
  const void *ref;   // the address a by-reference element carries
  BSTR bstr;         // the string pointer a VT_BSTR element carries
  ULONGLONG bits;    // the element's 8 value bytes, as they were
};

struct RecordedCall {
  DISPID dispid;
  bool nullIid;
  LCID lcid;
  WORD flags;
  std::vector<RecordedArg> args; // in array order: the last argument first
  std::vector<DISPID> named;
  bool wantsResult;
};

// What the double answers with; texts are made into fresh BSTRs for each call.
struct DispatchAnswer {
  HRESULT hr = S_OK;
  VARIANT result = {};          // copied into the caller's result when one is asked for
  bool resultOnFailure = false; // also write the result when failing, as careless servers do
  WORD wCode = 0;
  LPCOLESTR source = nullptr;
  LPCOLESTR description = nullptr;
  LPCOLESTR helpFile = nullptr;
  DWORD helpContext = 0;
  SCODE scode = 0;
  bool deferred = false; // leave the texts to the deferred fill-in
};

class RecordingDispatch final : public TestDispatch {
public:
  HRESULT STDMETHODCALLTYPE Invoke(DISPID dispid, REFIID riid, LCID lcid, WORD flags,
                                   DISPPARAMS *params, VARIANT *result, EXCEPINFO *info,
                                   UINT *) override {
    if (record) {
      RecordedCall call{dispid, IsEqualIID(riid, IID_NULL), lcid, flags, {}, {}, result != nullptr};
      for (UINT i = 0; i < params->cArgs; ++i) {
        const VARIANT &arg = params->rgvarg[i];
        bool byRef = (arg.vt & VT_BYREF) != 0;
        call.args.push_back({arg.vt, byRef ? "&" : renderVariant(arg), byRef ? arg.byref : nullptr,
                             arg.vt == VT_BSTR ? arg.bstrVal : nullptr, arg.ullVal});
      }
      for (UINT i = 0; i < params->cNamedArgs; ++i)
        call.named.push_back(params->rgdispidNamedArgs[i]);
      calls.push_back(call);
    }
    if (result != nullptr && (SUCCEEDED(answer.hr) || answer.resultOnFailure))
      VariantCopy(result, &answer.result);
    if (answer.hr == DISP_E_EXCEPTION && info != nullptr) {
      info->wCode = answer.wCode;
      info->dwHelpContext = answer.helpContext;
      info->scode = answer.scode;
      if (answer.deferred) {
        deferredAnswer() = &answer;
        info->pfnDeferredFillIn = &fillIn;
      } else
        fillTexts(*info, answer);
    }
    return answer.hr;
  }

  bool record = true;
  DispatchAnswer answer;
  std::vector<RecordedCall> calls;

private:
  // The answer whose texts the next deferred fill-in supplies.
  static const DispatchAnswer *&deferredAnswer() {
    static const DispatchAnswer *pending = nullptr;
    return pending;
  }
  static void fillTexts(EXCEPINFO &info, const DispatchAnswer &a) {
    info.bstrSource = SysAllocString(a.source);
    info.bstrDescription = SysAllocString(a.description);
    info.bstrHelpFile = SysAllocString(a.helpFile);
  }
  static HRESULT WINAPI fillIn(EXCEPINFO *info) {
    if (deferredAnswer() != nullptr)
      fillTexts(*info, *deferredAnswer());
    return S_OK;
  }
};

} // namespace vlx::test
