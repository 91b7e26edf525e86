#include "base/LateBound.h"

#include "base/VbError.h"

namespace tamberlux {

LateObject::LateObject(ComPtr<IDispatch> d)
    : d_(std::move(d)),
      // Not make_shared: without run-time type information it brings in the
      // library's type-name hashing, 3 KiB of the DLL.
      cache_(new std::vector<std::pair<std::wstring, std::vector<DISPID>>>()) {}

LateObject LateObject::FromVariant(const VARIANT& in) {
  const VARIANT& v = (in.vt == (VT_BYREF | VT_VARIANT) && in.pvarVal) ? *in.pvarVal : in;
  switch (v.vt) {
    case VT_EMPTY:
    case VT_NULL:
      return {};
    case VT_DISPATCH:
      return v.pdispVal ? LateObject(ComPtr<IDispatch>(v.pdispVal)) : LateObject();
    case VT_DISPATCH | VT_BYREF:
      return (v.ppdispVal && *v.ppdispVal) ? LateObject(ComPtr<IDispatch>(*v.ppdispVal)) : LateObject();
    case VT_UNKNOWN:
    case VT_UNKNOWN | VT_BYREF: {
      IUnknown* u = v.vt == VT_UNKNOWN ? v.punkVal : (v.ppunkVal ? *v.ppunkVal : nullptr);
      if (!u) return {};
      ComPtr<IDispatch> d;
      vb::Check(u->QueryInterface(IID_IDispatch, d.PutVoid()));
      return LateObject(std::move(d));
    }
    default:
      vb::Raise(vb::kTypeMismatch);
  }
}

bool LateObject::SameAs(const LateObject& o) const {
  if (!d_ || !o.d_) return !d_ && !o.d_;
  ComPtr<IUnknown> a, b;
  d_->QueryInterface(IID_IUnknown, a.PutVoid());
  o.d_->QueryInterface(IID_IUnknown, b.PutVoid());
  return a.Get() == b.Get();
}

const std::vector<DISPID>& LateObject::Ids(const wchar_t* name, const NamedArg* named,
                                           size_t namedCount) const {
  std::wstring key = name;
  for (size_t i = 0; i < namedCount; ++i) key.append(1, L'\x01').append(named[i].name);
  for (const auto& entry : *cache_)
    if (entry.first == key) return entry.second;

  std::vector<LPOLESTR> names;
  names.push_back(const_cast<LPOLESTR>(name));
  for (size_t i = 0; i < namedCount; ++i) names.push_back(const_cast<LPOLESTR>(named[i].name));
  std::vector<DISPID> ids(names.size(), DISPID_UNKNOWN);
  vb::Check(d_->GetIDsOfNames(IID_NULL, names.data(), static_cast<UINT>(names.size()),
                              LOCALE_USER_DEFAULT, ids.data()));
  cache_->emplace_back(std::move(key), std::move(ids));
  return cache_->back().second;
}

Variant LateObject::Invoke(WORD flags, const wchar_t* name, const VARIANT* args, size_t argCount,
                           const NamedArg* named, size_t namedCount) const {
  if (!d_) vb::Raise(vb::kObjectVariableNotSet);
  const std::vector<DISPID>& ids = Ids(name, named, namedCount);

  // Named arguments come first, then the positional ones in reverse order.
  std::vector<VARIANT> rg(namedCount + argCount);
  std::vector<DISPID> namedIds(namedCount);
  for (size_t i = 0; i < namedCount; ++i) {
    rg[i] = named[i].value;
    namedIds[i] = ids[i + 1];
  }
  for (size_t i = 0; i < argCount; ++i) rg[namedCount + i] = args[argCount - 1 - i];
  DISPID put = DISPID_PROPERTYPUT;
  DISPPARAMS dp{rg.data(), namedCount ? namedIds.data() : nullptr, static_cast<UINT>(rg.size()),
                static_cast<UINT>(namedCount)};
  if (flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) {
    dp.rgdispidNamedArgs = &put;
    dp.cNamedArgs = 1;
  }

  Variant result;
  EXCEPINFO ei{};
  UINT argErr = 0;
  HRESULT hr = d_->Invoke(ids[0], IID_NULL, LOCALE_USER_DEFAULT, flags, &dp,
                          (flags & DISPATCH_PROPERTYPUT) ? nullptr : &result, &ei, &argErr);
  if (hr == DISP_E_EXCEPTION) {
    if (ei.pfnDeferredFillIn) ei.pfnDeferredFillIn(&ei);
    Bstr description, source, help;
    *description.Put() = ei.bstrDescription;
    *source.Put() = ei.bstrSource;
    *help.Put() = ei.bstrHelpFile;
    int32_t number = ei.scode ? vb::NumberFromHResult(ei.scode) : ei.wCode;
    if (number == 0) number = vb::NumberFromHResult(hr);
    std::wstring text = description.Str();
    if (text.empty()) text = vb::Description(number);
    throw vb::Error{number, std::move(text)};
  }
  vb::Check(hr);
  return result;
}

Variant LateObject::Call(const wchar_t* name, std::initializer_list<VARIANT> args,
                         std::initializer_list<NamedArg> named) const {
  return Invoke(DISPATCH_METHOD | DISPATCH_PROPERTYGET, name, args.begin(), args.size(),
                named.begin(), named.size());
}

void LateObject::Put(const wchar_t* name, const VARIANT& value) const {
  const WORD flags = (value.vt == VT_DISPATCH) ? DISPATCH_PROPERTYPUTREF : DISPATCH_PROPERTYPUT;
  Invoke(flags, name, &value, 1, nullptr, 0);
}

namespace {
Variant Converted(const VARIANT& v, VARTYPE vt) {
  Variant out;
  HRESULT hr = VariantChangeType(&out, const_cast<VARIANT*>(&v), VARIANT_ALPHABOOL, vt);
  if (FAILED(hr)) vb::Raise(hr == DISP_E_OVERFLOW ? vb::kOverflow : vb::kTypeMismatch);
  return out;
}
}  // namespace

std::wstring ToText(const VARIANT& v) {
  if (v.vt == VT_BSTR) return v.bstrVal ? std::wstring(v.bstrVal, SysStringLen(v.bstrVal)) : L"";
  if (v.vt == VT_EMPTY) return L"";
  Variant t = Converted(v, VT_BSTR);
  return std::wstring(t.bstrVal, SysStringLen(t.bstrVal));
}

int32_t ToLong(const VARIANT& v) {
  if (v.vt == VT_I4) return v.lVal;
  return Converted(v, VT_I4).lVal;
}

bool ToBool(const VARIANT& v) {
  if (v.vt == VT_BOOL) return v.boolVal != VARIANT_FALSE;
  return Converted(v, VT_BOOL).boolVal != VARIANT_FALSE;
}

LateObject ActiveObject(const wchar_t* progId) {
  CLSID clsid;
  vb::Check(CLSIDFromProgID(progId, &clsid));
  ComPtr<IUnknown> unknown;
  vb::Check(GetActiveObject(clsid, nullptr, unknown.Put()));
  ComPtr<IDispatch> d = unknown.Query<IDispatch>(IID_IDispatch);
  if (!d) vb::Raise(vb::kNoSuchMember);
  return LateObject(std::move(d));
}

LateObject NewObject(const wchar_t* progId, DWORD context) {
  CLSID clsid;
  vb::Check(CLSIDFromProgID(progId, &clsid));
  ComPtr<IDispatch> d;
  vb::Check(CoCreateInstance(clsid, nullptr, context, IID_IDispatch, d.PutVoid()));
  return LateObject(std::move(d));
}

}  // namespace tamberlux
