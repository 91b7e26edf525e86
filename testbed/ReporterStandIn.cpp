// Stand-in for the product's error reporter, "ZentrelloError.Main2": an
// in-process COM class that records every late-bound call with its arguments
// and answers vbwErrorHandler with the action codes a test scripts. Tests reach
// its record through the exported StandIn_* calls of the DLL COM created it from.
#include "StandInDispatch.h"
#include "StandInKeys.h"

#include <mutex>
#include <utility>

namespace {

constexpr const wchar_t* kClsidText = tamberlux::standin::kReporterClsid;
constexpr const wchar_t* kProgId = tamberlux::standin::kReporterProgId;

// What the test scripted, and each call as "method\targ\targ…".
struct Script {
  std::vector<std::wstring> calls;
  std::vector<LONG> answers;  // then `fallback`
  size_t nextAnswer = 0;
  LONG fallback = 7;
  std::wstring failMethod;
  int failTimes = 0;
  // Runs once, inside the next question, as code the caller's messages reach
  // while the reporter's window is up.
  void (*duringQuestion)() = nullptr;
} gScript;
std::mutex gLock;

class Reporter final : public standin::NamedDispatch {
 public:
  Reporter()
      : NamedDispatch({L"vbwInitializeProtector", L"vbwErrorHandler", L"vbwReportParameter", L"vbwReportVariable",
                       L"vbwReportObject", L"vbwReportToFile", L"vbwOpenDumpFile", L"vbwCloseDumpFile",
                       L"vbwExitThread"}) {}

 protected:
  HRESULT Member(const std::wstring& method, WORD, const standin::Args& args, VARIANT* result,
                 EXCEPINFO* ei) override {
    std::unique_lock<std::mutex> guard(gLock);
    gScript.calls.push_back(method + args.Record());
    if (method == L"vbwErrorHandler" && gScript.duringQuestion) {
      void (*during)() = std::exchange(gScript.duringQuestion, nullptr);
      guard.unlock();
      during();
      guard.lock();
    }
    if (gScript.failTimes != 0 && gScript.failMethod == method) {
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

}  // namespace

extern "C" {

HRESULT WINAPI DllGetClassObject(REFCLSID clsid, REFIID iid, void** out) {
  return standin::GetClassObject<Reporter>(kClsidText, clsid, iid, out);
}

// The tests hold the DLL loaded for as long as they read its record.
HRESULT WINAPI DllCanUnloadNow() { return S_FALSE; }

HRESULT WINAPI DllRegisterServer() {
  const bool ok = standin::RegisterClassKeys(kClsidText, kProgId, L"InprocServer32", standin::OwnPath(), L"Apartment");
  return ok ? S_OK : E_FAIL;
}

HRESULT WINAPI DllUnregisterServer() {
  standin::UnregisterClassKeys(kClsidText, kProgId);
  return S_OK;
}

// Test controls.
// vbwErrorHandler answers `codes` in order, then `then` for every later question.
void StandIn_SetAnswers(const LONG* codes, int count, LONG then) {
  std::lock_guard<std::mutex> guard(gLock);
  gScript.answers.assign(codes, codes + count);
  gScript.nextAnswer = 0;
  gScript.fallback = then;
}

// Makes `method` fail `times` times (-1: always).
void StandIn_Fail(const wchar_t* method, int times) {
  std::lock_guard<std::mutex> guard(gLock);
  gScript.failMethod = method;
  gScript.failTimes = times;
}

void StandIn_DuringQuestion(void (*call)()) {
  std::lock_guard<std::mutex> guard(gLock);
  gScript.duringQuestion = call;
}

void StandIn_Reset() {
  std::lock_guard<std::mutex> guard(gLock);
  gScript = Script{};
}

// Call `index` as "method\targ\targ…" and its length; null past the last call.
const wchar_t* StandIn_Call(int index, int* length) {
  std::lock_guard<std::mutex> guard(gLock);
  if (index < 0 || index >= static_cast<int>(gScript.calls.size())) return nullptr;
  *length = static_cast<int>(gScript.calls[index].size());
  return gScript.calls[index].c_str();
}

}  // extern "C"
