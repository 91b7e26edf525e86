// Stand-in for the product's error reporter, "ZentrelloError.Main2": an
// in-process COM class that answers late-bound calls by name, records every
// call with its arguments, and answers vbwErrorHandler with the action codes a
// test scripts. Tests reach its record through the exported StandIn_* calls
// (the same loaded DLL that COM created the object from).
#include <windows.h>
#include <oleauto.h>

#include "support/ComObject.h"

#include <mutex>
#include <string>
#include <vector>

namespace {

// {6A1C8F53-2B0E-4C8D-9E51-7D2F0A93B4C1}
const CLSID kClsid = {0x6a1c8f53, 0x2b0e, 0x4c8d, {0x9e, 0x51, 0x7d, 0x2f, 0x0a, 0x93, 0xb4, 0xc1}};
constexpr wchar_t kClsidText[] = L"{6A1C8F53-2B0E-4C8D-9E51-7D2F0A93B4C1}";
constexpr wchar_t kProgId[] = L"ZentrelloError.Main2";

const wchar_t* const kMethods[] = {L"vbwInitializeProtector", L"vbwErrorHandler", L"vbwReportParameter",
                                   L"vbwReportVariable",      L"vbwReportObject", L"vbwReportToFile",
                                   L"vbwOpenDumpFile",        L"vbwCloseDumpFile", L"vbwExitThread"};
constexpr int kMethodCount = sizeof(kMethods) / sizeof(kMethods[0]);

HMODULE gModule;
LONG gObjects;

struct Script {
  std::mutex lock;
  std::vector<std::wstring> calls;
  std::vector<LONG> answers;
  size_t nextAnswer = 0;
  LONG fallback = 7;
  std::wstring failMethod;
  int failTimes = 0;
} gScript;

std::wstring Format(const VARIANT& in) {
  const VARIANT& v = (in.vt == (VT_BYREF | VT_VARIANT)) ? *in.pvarVal : in;
  if (v.vt & VT_ARRAY) {
    SAFEARRAY* sa = (v.vt & VT_BYREF) ? *v.pparray : v.parray;
    if (!sa) return L"[]";
    LONG lo = 0, hi = -1;
    SafeArrayGetLBound(sa, 1, &lo);
    SafeArrayGetUBound(sa, 1, &hi);
    std::vector<std::wstring> items;
    for (LONG i = lo; i <= hi; ++i) {
      VARIANT item;
      VariantInit(&item);
      if ((v.vt & VT_TYPEMASK) == VT_BSTR) {
        BSTR b = nullptr;
        SafeArrayGetElement(sa, &i, &b);
        items.push_back(b ? b : L"");
        SysFreeString(b);
      } else {
        items.push_back(L"?");
      }
    }
    while (!items.empty() && items.back().empty()) items.pop_back();
    std::wstring out = L"[" + std::to_wstring(lo) + L":";
    for (size_t i = 0; i < items.size(); ++i) out += (i ? L"|" : L"") + items[i];
    return out + L"]";
  }
  VARIANT plain;
  VariantInit(&plain);
  if (FAILED(VariantCopyInd(&plain, const_cast<VARIANT*>(&v)))) return L"?";
  if (plain.vt == VT_DISPATCH || plain.vt == VT_UNKNOWN) {
    const bool nothing = plain.punkVal == nullptr;
    VariantClear(&plain);
    return nothing ? L"Nothing" : L"Object";
  }
  if (plain.vt == VT_EMPTY) return L"Empty";
  VARIANT text;
  VariantInit(&text);
  std::wstring out = L"?";
  if (SUCCEEDED(VariantChangeType(&text, &plain, VARIANT_ALPHABOOL, VT_BSTR)))
    out = std::wstring(text.bstrVal, SysStringLen(text.bstrVal));
  VariantClear(&text);
  VariantClear(&plain);
  return out;
}

class Reporter final : public tamberlux::ComObject<IDispatch, IID_IDispatch> {
 public:
  Reporter() { InterlockedIncrement(&gObjects); }
  ~Reporter() override { InterlockedDecrement(&gObjects); }

  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* n) override {
    *n = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) override {
    HRESULT hr = S_OK;
    for (UINT i = 0; i < count; ++i) {
      ids[i] = DISPID_UNKNOWN;
      for (int m = 0; m < kMethodCount; ++m)
        if (i == 0 && _wcsicmp(names[0], kMethods[m]) == 0) ids[0] = m + 1;
      if (ids[i] == DISPID_UNKNOWN) hr = DISP_E_UNKNOWNNAME;
    }
    return hr;
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* dp, VARIANT* result,
                                   EXCEPINFO* ei, UINT*) override {
    if (id < 1 || id > kMethodCount) return DISP_E_MEMBERNOTFOUND;
    const std::wstring method = kMethods[id - 1];
    std::wstring record = method;
    for (UINT i = dp->cArgs; i-- > 0;) record += L"\t" + Format(dp->rgvarg[i]);

    std::lock_guard<std::mutex> guard(gScript.lock);
    gScript.calls.push_back(record);
    if (gScript.failTimes != 0 && (gScript.failMethod == method || gScript.failMethod == L"*")) {
      if (gScript.failTimes > 0) --gScript.failTimes;
      if (ei) {
        *ei = EXCEPINFO{};
        ei->scode = 0x800A0000 | 3001;
        ei->bstrDescription = SysAllocString(L"The reporter failed");
      }
      return DISP_E_EXCEPTION;
    }
    if (!result) return S_OK;
    VariantInit(result);
    if (method == L"vbwErrorHandler") {
      result->vt = VT_I4;
      result->lVal = gScript.nextAnswer < gScript.answers.size() ? gScript.answers[gScript.nextAnswer++]
                                                                 : gScript.fallback;
    } else if (method == L"vbwReportParameter" && dp->cArgs == 2) {
      result->vt = VT_BSTR;
      result->bstrVal = SysAllocString((Format(dp->rgvarg[1]) + L"=" + Format(dp->rgvarg[0])).c_str());
    }
    return S_OK;
  }
};

class Factory final : public IClassFactory {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (iid == IID_IUnknown || iid == IID_IClassFactory) {
      *out = static_cast<IClassFactory*>(this);
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** out) override {
    if (outer) return CLASS_E_NOAGGREGATION;
    Reporter* r = new Reporter();
    const HRESULT hr = r->QueryInterface(iid, out);
    r->Release();
    return hr;
  }
  HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }
} gFactory;

bool SetKey(const std::wstring& path, const wchar_t* name, const std::wstring& value) {
  HKEY key;
  if (RegCreateKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr))
    return false;
  const LONG rc = RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                                 static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
  RegCloseKey(key);
  return rc == ERROR_SUCCESS;
}

}  // namespace

extern "C" {

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) gModule = instance;
  return TRUE;
}

HRESULT WINAPI DllGetClassObject(REFCLSID clsid, REFIID iid, void** out) {
  if (clsid != kClsid) return CLASS_E_CLASSNOTAVAILABLE;
  return gFactory.QueryInterface(iid, out);
}

HRESULT WINAPI DllCanUnloadNow() { return gObjects == 0 ? S_OK : S_FALSE; }

HRESULT WINAPI DllRegisterServer() {
  wchar_t path[MAX_PATH];
  GetModuleFileNameW(gModule, path, MAX_PATH);
  const std::wstring clsidKey = std::wstring(L"CLSID\\") + kClsidText;
  const bool ok = SetKey(clsidKey, nullptr, kProgId) && SetKey(clsidKey + L"\\InprocServer32", nullptr, path) &&
                  SetKey(clsidKey + L"\\InprocServer32", L"ThreadingModel", L"Apartment") &&
                  SetKey(clsidKey + L"\\ProgID", nullptr, kProgId) && SetKey(kProgId, nullptr, kProgId) &&
                  SetKey(std::wstring(kProgId) + L"\\CLSID", nullptr, kClsidText);
  return ok ? S_OK : E_FAIL;
}

HRESULT WINAPI DllUnregisterServer() {
  RegDeleteTreeW(HKEY_CLASSES_ROOT, kProgId);
  RegDeleteTreeW(HKEY_CLASSES_ROOT, (std::wstring(L"CLSID\\") + kClsidText).c_str());
  return S_OK;
}

// Test controls.
void StandIn_Reset() {
  std::lock_guard<std::mutex> guard(gScript.lock);
  gScript.calls.clear();
  gScript.answers.clear();
  gScript.nextAnswer = 0;
  gScript.fallback = 7;
  gScript.failMethod.clear();
  gScript.failTimes = 0;
}

// vbwErrorHandler answers `codes` in order, then `then` for every later question.
void StandIn_SetAnswers(const LONG* codes, int count, LONG then) {
  std::lock_guard<std::mutex> guard(gScript.lock);
  gScript.answers.assign(codes, codes + count);
  gScript.nextAnswer = 0;
  gScript.fallback = then;
}

// Makes `method` ("*" for any) fail `times` times (-1: always).
void StandIn_Fail(const wchar_t* method, int times) {
  std::lock_guard<std::mutex> guard(gScript.lock);
  gScript.failMethod = method;
  gScript.failTimes = times;
}

int StandIn_CallCount() {
  std::lock_guard<std::mutex> guard(gScript.lock);
  return static_cast<int>(gScript.calls.size());
}

// Copies call `index` ("method\targ\targ…") into buffer; answers its length.
int StandIn_Call(int index, wchar_t* buffer, int capacity) {
  std::lock_guard<std::mutex> guard(gScript.lock);
  if (index < 0 || index >= static_cast<int>(gScript.calls.size())) return -1;
  const std::wstring& call = gScript.calls[index];
  if (!buffer || capacity <= 0) return static_cast<int>(call.size());
  const int n = static_cast<int>(call.size()) < capacity - 1 ? static_cast<int>(call.size()) : capacity - 1;
  call.copy(buffer, n);
  buffer[n] = 0;
  return static_cast<int>(call.size());
}

}  // extern "C"
