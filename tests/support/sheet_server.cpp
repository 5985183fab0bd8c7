// A tiny in-process server for the tests: class "Test.Sheet", whose objects answer Offset,
// Value and Name, and which may be unloaded once no object or lock is left.
#include <velmora/win32.h>

#include <atomic>
#include <cstdio>

namespace {

const CLSID kSheetClsid = {0x5EC7A11D, 0x0001, 0x4000, {0x80, 0, 0, 0, 0, 0, 0, 0x01}};

std::atomic<long> liveObjects{0};
std::atomic<long> serverLocks{0};

class Sheet final : public IDispatch {
public:
  Sheet(LONG row, LONG column) : row_(row), column_(column) { ++liveObjects; }
  ~Sheet() { --liveObjects; }
  Sheet(const Sheet &) = delete;
  Sheet &operator=(const Sheet &) = delete;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void **out) override {
    if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, IID_IDispatch)) {
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
    *count = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo **) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR *, UINT, LCID, DISPID *) override {
    return DISP_E_UNKNOWNNAME;
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID dispid, REFIID, LCID, WORD, DISPPARAMS *params,
                                   VARIANT *result, EXCEPINFO *, UINT *) override {
    if (result == nullptr)
      return E_INVALIDARG;
    if (dispid == 0xFE && params->cArgs == 2) { // Offset(rows, columns), last argument first
      VARIANT rows, columns;
      VariantInit(&rows);
      VariantInit(&columns);
      if (FAILED(VariantChangeType(&rows, &params->rgvarg[1], 0, VT_I4)) ||
          FAILED(VariantChangeType(&columns, &params->rgvarg[0], 0, VT_I4)))
        return DISP_E_TYPEMISMATCH;
      V_VT(result) = VT_DISPATCH;
      V_DISPATCH(result) = new Sheet(row_ + V_I4(&rows), column_ + V_I4(&columns));
      return S_OK;
    }
    if (dispid == 0x6 && params->cArgs == 0) { // Value: the cell's name
      // snprintf, not std::to_string: that brings a GNU unique symbol, which forbids unloading.
      char text[32];
      int length = std::snprintf(text, sizeof text, "R%ldC%ld", long(row_), long(column_));
      OLECHAR wide[32];
      for (int i = 0; i <= length; ++i)
        wide[i] = OLECHAR(text[i]);
      V_VT(result) = VT_BSTR;
      V_BSTR(result) = SysAllocString(wide);
      return S_OK;
    }
    return DISP_E_MEMBERNOTFOUND;
  }

private:
  LONG refs_ = 1;
  LONG row_, column_;
};

class SheetFactory final : public IClassFactory {
public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void **out) override {
    if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, IID_IClassFactory)) {
      *out = nullptr;
      return E_NOINTERFACE;
    }
    *out = static_cast<IClassFactory *>(this);
    AddRef();
    return S_OK;
  }
  // The factory lives as long as the library; a reference to it holds the library.
  ULONG STDMETHODCALLTYPE AddRef() override { return ULONG(++serverLocks); }
  ULONG STDMETHODCALLTYPE Release() override { return ULONG(--serverLocks); }
  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown *outer, REFIID riid, void **out) override {
    *out = nullptr;
    if (outer != nullptr)
      return CLASS_E_NOAGGREGATION;
    Sheet *sheet = new Sheet(0, 0);
    HRESULT hr = sheet->QueryInterface(riid, out);
    sheet->Release();
    return hr;
  }
  HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override {
    serverLocks += lock ? 1 : -1;
    return S_OK;
  }
};

SheetFactory factory;

} // namespace

// The two entry points the loader looks up by name.
#ifdef _WIN32
#define VLX_SERVER_ENTRY extern "C" __declspec(dllexport) HRESULT WINAPI
#else
#define VLX_SERVER_ENTRY extern "C" __attribute__((visibility("default"))) HRESULT WINAPI
#endif

VLX_SERVER_ENTRY DllGetClassObject(REFCLSID rclsid, REFIID riid, LPVOID *ppv) {
  if (!IsEqualCLSID(rclsid, kSheetClsid)) {
    *ppv = nullptr;
    return CLASS_E_CLASSNOTAVAILABLE;
  }
  return factory.QueryInterface(riid, ppv);
}

VLX_SERVER_ENTRY DllCanUnloadNow() { return liveObjects == 0 && serverLocks == 0 ? S_OK : S_FALSE; }
