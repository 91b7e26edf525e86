// Stand-in for an infrastructure library (a message-hook server, the common controls, …): an in-process
// COM server, built once per library with STANDIN_PROGID and STANDIN_CLSID, whose DllRegisterServer
// registers the ProgID and this file (or, with STANDIN_REGISTERS_NOTHING, succeeds registering nothing)
// and counts its calls under HKEY_CURRENT_USER\Software\TamberluxTests\Registrations, value STANDIN_PROGID.
#include "StandInDispatch.h"
#include "StandInKeys.h"

namespace {

// All the checks need is a class that can be created.
struct Creatable final : tamberlux::ComObject<IUnknown> {};

}  // namespace

extern "C" HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID clsid, REFIID iid, void** out) {
  return standin::GetClassObject<Creatable>(STANDIN_CLSID, clsid, iid, out);
}

extern "C" HRESULT STDAPICALLTYPE DllCanUnloadNow() { return S_FALSE; }

extern "C" HRESULT STDAPICALLTYPE DllRegisterServer() {
  constexpr const wchar_t* kCounts = tamberlux::standin::kRegistrationsKey;
  DWORD n = 0, size = sizeof(n);
  RegGetValueW(HKEY_CURRENT_USER, kCounts, STANDIN_PROGID, RRF_RT_REG_DWORD, nullptr, &n, &size);
  ++n;
  RegSetKeyValueW(HKEY_CURRENT_USER, kCounts, STANDIN_PROGID, REG_DWORD, &n, sizeof(n));
#ifdef STANDIN_REGISTERS_NOTHING
  return S_OK;
#else
  const std::wstring path = standin::OwnPath();
  return standin::RegisterClassKeys(STANDIN_CLSID, STANDIN_PROGID, L"InprocServer32", path, nullptr) ? S_OK : E_FAIL;
#endif
}

extern "C" HRESULT STDAPICALLTYPE DllUnregisterServer() {
  standin::UnregisterClassKeys(STANDIN_CLSID, STANDIN_PROGID);
  return S_OK;
}
