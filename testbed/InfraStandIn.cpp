// Stand-in for an infrastructure library (a message-hook server, the common controls, …): an in-process
// COM server, built once per library with STANDIN_PROGID and STANDIN_CLSID, whose DllRegisterServer
// registers the ProgID and this file (or, with STANDIN_REGISTERS_NOTHING, succeeds registering nothing)
// and counts its calls under HKEY_CURRENT_USER\Software\TamberluxTests\Registrations, value STANDIN_PROGID.
#include <windows.h>
#include <objbase.h>

#include "StandInKeys.h"

#include <string>

namespace {

HMODULE g_module;

// The class factory is also the object it creates: all the checks need is a
// class that can be created.
struct Factory final : IClassFactory {
  STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
    *out = (iid == IID_IUnknown || iid == IID_IClassFactory) ? this : nullptr;
    return *out ? S_OK : E_NOINTERFACE;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return 2; }
  STDMETHODIMP_(ULONG) Release() override { return 1; }
  STDMETHODIMP CreateInstance(IUnknown* outer, REFIID iid, void** out) override {
    return outer ? CLASS_E_NOAGGREGATION : QueryInterface(iid, out);
  }
  STDMETHODIMP LockServer(BOOL) override { return S_OK; }
} g_factory;

[[maybe_unused]] LSTATUS SetDefault(const std::wstring& key, const std::wstring& text) {
  return RegSetKeyValueW(HKEY_CLASSES_ROOT, key.c_str(), nullptr, REG_SZ, text.c_str(),
                         static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
}

}  // namespace

BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, void*) {
  if (reason == DLL_PROCESS_ATTACH) g_module = module;
  return TRUE;
}

extern "C" HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID clsid, REFIID iid, void** out) {
  CLSID own;
  CLSIDFromString(STANDIN_CLSID, &own);
  if (clsid != own) return CLASS_E_CLASSNOTAVAILABLE;
  return g_factory.QueryInterface(iid, out);
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
  wchar_t path[MAX_PATH];
  GetModuleFileNameW(g_module, path, MAX_PATH);
  const std::wstring clsidKey = std::wstring(L"CLSID\\") + STANDIN_CLSID;
  if (SetDefault(std::wstring(STANDIN_PROGID) + L"\\CLSID", STANDIN_CLSID) || SetDefault(clsidKey, STANDIN_PROGID) ||
      SetDefault(clsidKey + L"\\InprocServer32", path))
    return E_FAIL;
  return S_OK;
#endif
}

extern "C" HRESULT STDAPICALLTYPE DllUnregisterServer() {
  RegDeleteTreeW(HKEY_CLASSES_ROOT, STANDIN_PROGID);
  RegDeleteTreeW(HKEY_CLASSES_ROOT, (std::wstring(L"CLSID\\") + STANDIN_CLSID).c_str());
  return S_OK;
}
