// What the stand-ins share: an IDispatch that knows its members and named
// parameters by name, arguments as text for the call records, automation
// errors raised the way a server raises them, class factories and registration.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <string>
#include <utility>
#include <vector>

#include "base/ComObject.h"
#include "base/ComTypes.h"

namespace standin {

// An argument as a call record shows it: "abc", 12, True, Nothing, Object,
// Empty, or "[lower:a|b]" for an array of text.
std::wstring Format(const VARIANT& v);

// Fails the call with an automation error: DISP_E_EXCEPTION carrying `scode`.
HRESULT Raise(EXCEPINFO* ei, HRESULT scode, const wchar_t* description);

// A call's arguments, positional ones in call order.
struct Args {
  std::vector<const VARIANT*> positional;
  std::vector<std::pair<std::wstring, const VARIANT*>> named;
  const VARIANT* At(size_t i) const { return i < positional.size() ? positional[i] : nullptr; }
  // "\targ\targ\tName:=value".
  std::wstring Record() const;
};

// A late-bound object with a fixed list of member names. Any parameter name
// is accepted for named arguments.
class NamedDispatch : public tamberlux::ComObject<IDispatch, IID_IDispatch> {
 public:
  explicit NamedDispatch(std::vector<std::wstring> members) : members_(std::move(members)) {}

  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* n) override { return *n = 0, S_OK; }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) override;
  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* dp, VARIANT* result,
                                   EXCEPINFO* ei, UINT*) override;

 protected:
  // Told of each name look-up (member name first, then parameter names).
  virtual void LookedUp(LPOLESTR* /*names*/, UINT /*count*/) {}
  // `result` is null for a property put; then the value is args.At(0).
  virtual HRESULT Member(const std::wstring& name, WORD flags, const Args& args, VARIANT* result,
                         EXCEPINFO* ei) = 0;

 private:
  std::vector<std::wstring> members_;
};

// The class factory of a library's one class: a new T for each caller.
template <class T>
class Factory final : public tamberlux::ComObject<IClassFactory, IID_IClassFactory> {
 public:
  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** out) override {
    if (outer) return CLASS_E_NOAGGREGATION;
    const tamberlux::ComPtr<T> object(new T(), false);
    return object->QueryInterface(iid, out);
  }
  HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }
};

// DllGetClassObject of a library whose one class `clsid` is made of T.
template <class T>
HRESULT GetClassObject(const wchar_t* clsid, REFCLSID asked, REFIID iid, void** out) {
  CLSID own;
  if (FAILED(CLSIDFromString(clsid, &own)) || asked != own) return CLASS_E_CLASSNOTAVAILABLE;
  const tamberlux::ComPtr<Factory<T>> factory(new Factory<T>(), false);
  return factory->QueryInterface(iid, out);
}

// The file of the program or library this code is linked into.
std::wstring OwnPath();
// Registers a class under its ProgID in HKEY_CLASSES_ROOT; `server` is
// "InprocServer32" or "LocalServer32".
bool RegisterClassKeys(const wchar_t* clsid, const wchar_t* progId, const wchar_t* server, const std::wstring& path,
                       const wchar_t* threadingModel);
void UnregisterClassKeys(const wchar_t* clsid, const wchar_t* progId);

}  // namespace standin
