// Stand-in for an infrastructure library (a message-hook server, the common controls, …): an in-process
// COM server, compiled once and linked into each library with that library's ProgID and CLSID (a small source
// the build writes per library), whose DllRegisterServer registers the ProgID and this file (or, for the library
// that registers nothing, succeeds registering nothing) and counts its calls under
// HKEY_CURRENT_USER\Software\TamberluxTests\Registrations, value the ProgID.
#include "StandInDispatch.h"
#include "StandInKeys.h"

// The library's own, from the source the build writes for it.
extern const wchar_t kStandInProgId[], kStandInClsid[];
extern const bool kStandInRegistersNothing;

namespace {

// All the checks need is a class that can be created.
struct Creatable final : tamberlux::ComObject<IUnknown> {};

}  // namespace

extern "C" HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID clsid, REFIID iid, void** out) {
  return standin::GetClassObject<Creatable>(kStandInClsid, clsid, iid, out);
}

extern "C" HRESULT STDAPICALLTYPE DllCanUnloadNow() { return S_FALSE; }

extern "C" HRESULT STDAPICALLTYPE DllRegisterServer() {
  constexpr const wchar_t* kCounts = tamberlux::standin::kRegistrationsKey;
  DWORD n = 0, size = sizeof(n);
  RegGetValueW(HKEY_CURRENT_USER, kCounts, kStandInProgId, RRF_RT_REG_DWORD, nullptr, &n, &size);
  ++n;
  RegSetKeyValueW(HKEY_CURRENT_USER, kCounts, kStandInProgId, REG_DWORD, &n, sizeof(n));
  if (kStandInRegistersNothing) return S_OK;
  const std::wstring path = standin::OwnPath();
  return standin::RegisterClassKeys(kStandInClsid, kStandInProgId, L"InprocServer32", path, nullptr) ? S_OK : E_FAIL;
}

extern "C" HRESULT STDAPICALLTYPE DllUnregisterServer() {
  standin::UnregisterClassKeys(kStandInClsid, kStandInProgId);
  return S_OK;
}
