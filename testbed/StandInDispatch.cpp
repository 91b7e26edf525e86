#include "StandInDispatch.h"

#include "base/LateBound.h"
#include "base/VbError.h"

namespace standin {

namespace {
// Named parameters get process-wide ids, in the order they were first asked for.
std::vector<std::wstring> gParameterNames;
constexpr DISPID kFirstParameter = 1000;

bool SetKey(const std::wstring& path, const wchar_t* name, const std::wstring& value) {
  return RegSetKeyValueW(HKEY_CLASSES_ROOT, path.c_str(), name, REG_SZ, value.c_str(),
                         static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
}
}  // namespace

std::wstring Format(const VARIANT& in) {
  const VARIANT& v = (in.vt == (VT_BYREF | VT_VARIANT)) ? *in.pvarVal : in;
  if (v.vt & VT_ARRAY) {
    SAFEARRAY* sa = (v.vt & VT_BYREF) ? *v.pparray : v.parray;
    if (!sa) return L"[]";
    LONG lo = 0, hi = -1;
    SafeArrayGetLBound(sa, 1, &lo);
    SafeArrayGetUBound(sa, 1, &hi);
    const bool text = (v.vt & VT_TYPEMASK) == VT_BSTR;
    std::vector<std::wstring> items;
    for (LONG i = lo; i <= hi; ++i) {
      tamberlux::Bstr b;
      if (text) SafeArrayGetElement(sa, &i, b.Put());
      items.push_back(text ? b.Str() : L"?");
    }
    while (!items.empty() && items.back().empty()) items.pop_back();
    std::wstring out = L"[" + std::to_wstring(lo) + L":";
    for (size_t i = 0; i < items.size(); ++i) out += (i ? L"|" : L"") + items[i];
    return out + L"]";
  }
  tamberlux::Variant plain;
  if (FAILED(VariantCopyInd(&plain, const_cast<VARIANT*>(&v)))) return L"?";
  if (plain.vt == VT_EMPTY) return L"Empty";
  if (plain.vt == VT_ERROR && plain.scode == DISP_E_PARAMNOTFOUND) return L"Missing";
  const bool object = plain.vt == VT_DISPATCH || plain.vt == VT_UNKNOWN;
  try {
    if (!object) return tamberlux::ToText(plain);
    // An error object shows what a reporter would write of it.
    const auto o = tamberlux::LateObject::FromVariant(plain);
    return o ? L"Object(" + Format(o.Get(L"Number")) + L" " + Format(o.Get(L"Description")) + L")" : L"Nothing";
  } catch (const tamberlux::vb::Error&) {
    return object ? L"Object" : L"?";
  }
}

HRESULT Raise(EXCEPINFO* ei, HRESULT scode, const wchar_t* description) {
  if (!ei) return scode;
  *ei = EXCEPINFO{};
  ei->scode = scode;
  ei->bstrDescription = SysAllocString(description);
  return DISP_E_EXCEPTION;
}

std::wstring Args::Record() const {
  std::wstring out;
  for (const VARIANT* v : positional) out += L"\t" + Format(*v);
  for (const auto& [n, v] : named) out += L"\t" + n + L":=" + Format(*v);
  return out;
}

HRESULT NamedDispatch::GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) {
  if (count == 0) return S_OK;
  LookedUp(names, count);
  ids[0] = DISPID_UNKNOWN;
  for (size_t m = 0; m < members_.size(); ++m)
    if (_wcsicmp(names[0], members_[m].c_str()) == 0) ids[0] = static_cast<DISPID>(m + 1);
  for (UINT i = 1; i < count; ++i) {
    size_t p = 0;
    while (p < gParameterNames.size() && _wcsicmp(gParameterNames[p].c_str(), names[i]) != 0) ++p;
    if (p == gParameterNames.size()) gParameterNames.push_back(names[i]);
    ids[i] = kFirstParameter + static_cast<DISPID>(p);
  }
  return ids[0] == DISPID_UNKNOWN ? DISP_E_UNKNOWNNAME : S_OK;
}

HRESULT NamedDispatch::Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* dp, VARIANT* result, EXCEPINFO* ei,
                              UINT*) {
  if (id < 1 || static_cast<size_t>(id) > members_.size()) return DISP_E_MEMBERNOTFOUND;
  Args args;
  const bool put = (flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) != 0;
  for (UINT i = 0; dp && i < dp->cNamedArgs; ++i) {
    const DISPID named = dp->rgdispidNamedArgs[i];
    if (named == DISPID_PROPERTYPUT) continue;
    const size_t p = static_cast<size_t>(named - kFirstParameter);
    if (p >= gParameterNames.size()) return DISP_E_PARAMNOTFOUND;
    args.named.emplace_back(gParameterNames[p], &dp->rgvarg[i]);
  }
  for (UINT i = dp ? dp->cArgs : 0; dp && i-- > dp->cNamedArgs;) args.positional.push_back(&dp->rgvarg[i]);
  if (put) {
    if (!dp || dp->cArgs == 0) return DISP_E_BADPARAMCOUNT;
    args.positional.assign(1, &dp->rgvarg[0]);
  } else if (result) {
    VariantInit(result);
  }
  tamberlux::Variant ignored;
  return Member(members_[id - 1], flags, args, put ? nullptr : (result ? result : &ignored), ei);
}

std::wstring OwnPath() {
  HMODULE self = nullptr;
  GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                     reinterpret_cast<LPCWSTR>(&OwnPath), &self);
  wchar_t path[MAX_PATH];
  GetModuleFileNameW(self, path, MAX_PATH);
  return path;
}

bool RegisterClassKeys(const wchar_t* clsid, const wchar_t* progId, const wchar_t* server, const std::wstring& path,
                       const wchar_t* threadingModel) {
  const std::wstring key = std::wstring(L"CLSID\\") + clsid;
  const std::wstring serverKey = key + L"\\" + server;
  return SetKey(key, nullptr, progId) && SetKey(serverKey, nullptr, path) &&
         (!threadingModel || SetKey(serverKey, L"ThreadingModel", threadingModel)) &&
         SetKey(key + L"\\ProgID", nullptr, progId) && SetKey(progId, nullptr, progId) &&
         SetKey(std::wstring(progId) + L"\\CLSID", nullptr, clsid);
}

void UnregisterClassKeys(const wchar_t* clsid, const wchar_t* progId) {
  RegDeleteTreeW(HKEY_CLASSES_ROOT, progId);
  RegDeleteTreeW(HKEY_CLASSES_ROOT, (std::wstring(L"CLSID\\") + clsid).c_str());
}

}  // namespace standin
