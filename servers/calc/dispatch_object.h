// The IUnknown half of a dispatch object that has no type library: a reference count that deletes
// the object at zero, and QueryInterface for IUnknown, IDispatch and, where given, one interface
// of the object's own. Header only, on Win32 names only, so that the tests' server shares it.
#pragma once

#include <velmora/win32.h>

namespace vlx::calc {

class DispatchObject : public IDispatch {
public:
  DispatchObject(const DispatchObject &) = delete;
  DispatchObject &operator=(const DispatchObject &) = delete;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void **out) override {
    if (!out)
      return E_POINTER;
    if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, IID_IDispatch) &&
        !(own_ && IsEqualIID(riid, *own_))) {
      *out = nullptr;
      return E_NOINTERFACE;
    }
    *out = static_cast<IDispatch *>(this);
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ULONG(InterlockedIncrement(&refs_)); }
  ULONG STDMETHODCALLTYPE Release() override {
    LONG left = InterlockedDecrement(&refs_);
    if (left == 0)
      delete this;
    return ULONG(left);
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT *count) override {
    if (!count)
      return E_POINTER;
    *count = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo **info) override {
    if (info)
      *info = nullptr;
    return E_NOTIMPL;
  }

protected:
  // own: the one further interface the object answers, or null for none.
  explicit DispatchObject(const IID *own = nullptr) : own_(own) {}
  // Objects die through Release only.
  virtual ~DispatchObject() = default;

private:
  LONG refs_ = 1;
  const IID *own_;
};

} // namespace vlx::calc
