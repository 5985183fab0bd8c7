// One IDispatch per spreadsheet object, answering the members of its kind by DISPID or name.
#include "dispatch.h"

#include "dispatch_object.h"
#include "variant.h"

#include <cstring>
#include <new>
#include <string>

namespace vlx::calc {

const char16_t kErrorSource[] = u"LibreOffice Calc";

namespace {

using css::uno::Any;

// Lets the server recognise its own objects among the interfaces a host passes back.
const IID kIidCalcObject = {
    0x7C0A1C5E, 0x5E7A, 0x4C1B, {0x9A, 0x1E, 0x0C, 0xA1, 0xC5, 0xE7, 0x00, 0x01}};

class CalcDispatch final : public DispatchObject {
public:
  explicit CalcDispatch(Object object)
      : DispatchObject(&kIidCalcObject), object_(std::move(object)) {}

  const Object &object() const { return object_; }

  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID riid, LPOLESTR *names, UINT count, LCID,
                                          DISPID *ids) override;
  HRESULT STDMETHODCALLTYPE Invoke(DISPID dispid, REFIID riid, LCID, WORD flags, DISPPARAMS *params,
                                   VARIANT *result, EXCEPINFO *error, UINT *argError) override;

private:
  ~CalcDispatch() override = default;
  HRESULT fail(const CalcError &e, EXCEPINFO *error);

  Object object_;
};

// Member names are ASCII; anything else names no member.
bool asciiName(const OLECHAR *wide, std::string &out) {
  out.clear();
  for (; wide && *wide; ++wide) {
    if (*wide > 0x7F)
      return false;
    out += static_cast<char>(*wide);
  }
  return true;
}

HRESULT CalcDispatch::GetIDsOfNames(REFIID riid, LPOLESTR *names, UINT count, LCID, DISPID *ids) {
  if (!IsEqualIID(riid, IID_NULL))
    return DISP_E_UNKNOWNINTERFACE;
  if (!names || !ids)
    return E_POINTER;
  if (count == 0)
    return S_OK;
  std::string name;
  const Member *member =
      asciiName(names[0], name) ? findMember(object_.kind, std::string_view(name)) : nullptr;
  ids[0] = member ? member->dispid : DISPID_UNKNOWN;
  // Parameters are not known by name: the host passes them by position.
  for (UINT i = 1; i < count; ++i)
    ids[i] = DISPID_UNKNOWN;
  return member && count == 1 ? S_OK : DISP_E_UNKNOWNNAME;
}

HRESULT CalcDispatch::fail(const CalcError &e, EXCEPINFO *error) {
  SCODE code = faultCode(e.fault());
  if (!error)
    return code;
  std::memset(error, 0, sizeof *error);
  OUString description = OUString::fromUtf8(e.what());
  error->bstrSource = SysAllocString(kErrorSource);
  error->bstrDescription = toBstr(description);
  error->scode = code;
  return DISP_E_EXCEPTION;
}

HRESULT CalcDispatch::Invoke(DISPID dispid, REFIID riid, LCID, WORD flags, DISPPARAMS *params,
                             VARIANT *result, EXCEPINFO *error, UINT *argError) {
  if (!IsEqualIID(riid, IID_NULL))
    return DISP_E_UNKNOWNINTERFACE;
  const Member *member = findMember(object_.kind, dispid);
  if (!member)
    return DISP_E_MEMBERNOTFOUND;
  static DISPPARAMS none = {nullptr, nullptr, 0, 0};
  if (!params)
    params = &none;
  if (params->cNamedArgs > params->cArgs || (params->cArgs && !params->rgvarg) ||
      (params->cNamedArgs && !params->rgdispidNamedArgs))
    return E_INVALIDARG;
  bool put = (flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) != 0;
  if (put ? !member->put : !member->get)
    return DISP_E_MEMBERNOTFOUND;

  // Positional arguments sit at the end of the array, the last one first; a named argument's
  // identifier is its parameter's position, and a put's value is named DISPID_PROPERTYPUT.
  UINT positional = params->cArgs - params->cNamedArgs;
  if (positional > static_cast<UINT>(member->maxArgs))
    return DISP_E_BADPARAMCOUNT;
  Args args(positional);
  Any value;
  bool hasValue = false;
  auto convert = [&](UINT index, Any &out) {
    HRESULT hr = variantToAny(params->rgvarg[index], out);
    if (hr == DISP_E_TYPEMISMATCH) {
      // One of this server's objects, passed back as an argument.
      const VARIANT &v = params->rgvarg[index];
      IDispatch *dispatch = (V_VT(&v) & VT_ARRAY) ? nullptr
                            : (V_VT(&v) & VT_BYREF)
                                ? (V_DISPATCHREF(&v) ? *V_DISPATCHREF(&v) : nullptr)
                                : V_DISPATCH(&v);
      if ((V_VT(&v) & VT_TYPEMASK) == VT_DISPATCH && dispatch) {
        if (const Object *object = objectOf(dispatch)) {
          out <<= object->ref;
          return S_OK;
        }
      }
    }
    if (FAILED(hr) && argError)
      *argError = index;
    return hr;
  };
  for (UINT i = 0; i < positional; ++i)
    if (HRESULT hr = convert(params->cArgs - 1 - i, args[i]); FAILED(hr))
      return hr;
  for (UINT i = 0; i < params->cNamedArgs; ++i) {
    DISPID name = params->rgdispidNamedArgs[i];
    if (name == DISPID_PROPERTYPUT && put) {
      if (HRESULT hr = convert(i, value); FAILED(hr))
        return hr;
      hasValue = true;
      continue;
    }
    if (name < 0 || name >= member->maxArgs) {
      if (argError)
        *argError = i;
      return DISP_E_PARAMNOTFOUND;
    }
    if (args.size() <= static_cast<size_t>(name))
      args.resize(name + 1);
    if (HRESULT hr = convert(i, args[name]); FAILED(hr))
      return hr;
  }
  if (put && !hasValue)
    return DISP_E_PARAMNOTOPTIONAL;
  if (args.size() < static_cast<size_t>(member->minArgs) ||
      args.size() > static_cast<size_t>(member->maxArgs))
    return DISP_E_BADPARAMCOUNT;

  try {
    Any answer = invoke(*member, object_, args, put ? &value : nullptr);
    if (!result || put)
      return S_OK;
    if (answer.getValueTypeClass() == css::uno::TypeClass_INTERFACE) {
      Object answered = answerObject(*member, object_, answer);
      VariantInit(result);
      V_VT(result) = VT_DISPATCH;
      V_DISPATCH(result) = answered.ref.is() ? newDispatch(answered) : nullptr;
      return S_OK;
    }
    HRESULT hr = anyToVariant(answer, *result);
    if (FAILED(hr))
      throw CalcError(Fault::Failed, std::string(kindName(object_.kind)) + "." + member->name +
                                         ": LibreOffice answered a " +
                                         toString(answer.getValueTypeName()) +
                                         ", which has no VARIANT here");
    return S_OK;
  } catch (const CalcError &e) {
    return fail(e, error);
  } catch (const std::bad_alloc &) {
    return E_OUTOFMEMORY;
  }
}

} // namespace

SCODE faultCode(Fault fault) {
  switch (fault) {
  case Fault::NoOffice:
    return CO_E_SERVER_EXEC_FAILURE;
  case Fault::OfficeLost:
    return HRESULT_FROM_WIN32(1722); // RPC_S_SERVER_UNAVAILABLE
  case Fault::Disconnected:
    return VLX_HR(0x80010108); // RPC_E_DISCONNECTED
  case Fault::NotFound:
    return DISP_E_BADINDEX;
  case Fault::BadArgument:
    return DISP_E_TYPEMISMATCH;
  case Fault::NoMember:
    return DISP_E_MEMBERNOTFOUND;
  case Fault::NoView:
  case Fault::Failed:
    break;
  }
  return VLX_HR(0x800A03EC); // the spreadsheet's own run-time error 1004
}

IDispatch *newDispatch(Object object) { return new CalcDispatch(std::move(object)); }

const Object *objectOf(IDispatch *dispatch) {
  void *own = nullptr;
  if (!dispatch || FAILED(dispatch->QueryInterface(kIidCalcObject, &own)))
    return nullptr;
  auto *calc = static_cast<CalcDispatch *>(static_cast<IDispatch *>(own));
  calc->Release(); // the caller's reference keeps it alive
  return &calc->object();
}

} // namespace vlx::calc
