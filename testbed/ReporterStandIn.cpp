// Stand-in for the product's error reporter, "ZentrelloError.Main2": an
// in-process COM class that answers late-bound calls by name, records every
// call with its arguments, and answers vbwErrorHandler with the action codes a
// test scripts. Tests reach its record through the exported StandIn_* calls
// (the same loaded DLL that COM created the object from).
#include <windows.h>
#include <oleauto.h>

#include "StandInDispatch.h"
#include "StandInKeys.h"

#include <mutex>
#include <string>
#include <vector>

namespace {

// {6A1C8F53-2B0E-4C8D-9E51-7D2F0A93B4C1}
const CLSID kClsid = {0x6a1c8f53, 0x2b0e, 0x4c8d, {0x9e, 0x51, 0x7d, 0x2f, 0x0a, 0x93, 0xb4, 0xc1}};
constexpr const wchar_t* kClsidText = tamberlux::standin::kReporterClsid;
constexpr const wchar_t* kProgId = tamberlux::standin::kReporterProgId;

HMODULE gModule;
LONG gObjects;

// What the test scripted, and each call as "method\targ\targ…".
struct Script {
  std::mutex lock;
  std::vector<std::wstring> calls;
  std::vector<LONG> answers;  // then `fallback`
  size_t nextAnswer = 0;
  LONG fallback = 7;
  std::wstring failMethod;
  int failTimes = 0;
} gScript;

class Reporter final : public standin::NamedDispatch {
 public:
  Reporter()
      : NamedDispatch({L"vbwInitializeProtector", L"vbwErrorHandler", L"vbwReportParameter", L"vbwReportVariable",
                       L"vbwReportObject", L"vbwReportToFile", L"vbwOpenDumpFile", L"vbwCloseDumpFile",
                       L"vbwExitThread"}) {
    InterlockedIncrement(&gObjects);
  }
  ~Reporter() override { InterlockedDecrement(&gObjects); }

 protected:
  HRESULT Member(const std::wstring& method, WORD, const standin::Args& args, VARIANT* result,
                 EXCEPINFO* ei) override {
    std::lock_guard<std::mutex> guard(gScript.lock);
    gScript.calls.push_back(method + args.Record());
    if (gScript.failTimes != 0 && (gScript.failMethod == method || gScript.failMethod == L"*")) {
      if (gScript.failTimes > 0) --gScript.failTimes;
      return standin::Raise(ei, 0x800A0000 | 3001, L"The reporter failed");
    }
    if (result && method == L"vbwErrorHandler") {
      result->vt = VT_I4;
      result->lVal = gScript.nextAnswer < gScript.answers.size() ? gScript.answers[gScript.nextAnswer++]
                                                                 : gScript.fallback;
    } else if (result && method == L"vbwReportParameter" && args.positional.size() == 2) {
      result->vt = VT_BSTR;
      result->bstrVal = SysAllocString((standin::Format(*args.At(0)) + L"=" + standin::Format(*args.At(1))).c_str());
    }
    return S_OK;
  }
};

class Factory final : public tamberlux::ComObject<IClassFactory, IID_IClassFactory> {
 public:
  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** out) override {
    if (outer) return CLASS_E_NOAGGREGATION;
    Reporter* r = new Reporter();
    const HRESULT hr = r->QueryInterface(iid, out);
    r->Release();
    return hr;
  }
  HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }
};

}  // namespace

extern "C" {

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) gModule = instance;
  return TRUE;
}

HRESULT WINAPI DllGetClassObject(REFCLSID clsid, REFIID iid, void** out) {
  if (clsid != kClsid) return CLASS_E_CLASSNOTAVAILABLE;
  Factory* factory = new Factory();
  const HRESULT hr = factory->QueryInterface(iid, out);
  factory->Release();
  return hr;
}

HRESULT WINAPI DllCanUnloadNow() { return gObjects == 0 ? S_OK : S_FALSE; }

HRESULT WINAPI DllRegisterServer() {
  wchar_t path[MAX_PATH];
  GetModuleFileNameW(gModule, path, MAX_PATH);
  return standin::RegisterClassKeys(kClsidText, kProgId, L"InprocServer32", path, L"Apartment") ? S_OK : E_FAIL;
}

HRESULT WINAPI DllUnregisterServer() {
  standin::UnregisterClassKeys(kClsidText, kProgId);
  return S_OK;
}

// Test controls.
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

void StandIn_Reset() {
  StandIn_SetAnswers(nullptr, 0, 7);
  StandIn_Fail(L"", 0);
  std::lock_guard<std::mutex> guard(gScript.lock);
  gScript.calls.clear();
}

// Call `index` as "method\targ\targ…" and its length; null past the last call.
const wchar_t* StandIn_Call(int index, int* length) {
  std::lock_guard<std::mutex> guard(gScript.lock);
  if (index < 0 || index >= static_cast<int>(gScript.calls.size())) return nullptr;
  *length = static_cast<int>(gScript.calls[index].size());
  return gScript.calls[index].c_str();
}

}  // extern "C"
