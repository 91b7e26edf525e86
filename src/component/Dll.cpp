// The in-process COM server: the class table, its factory and the exports.
#include <windows.h>
#include <olectl.h>

#include <atomic>
#include <string>

#include "Tamberlux.h"
#include "TamberluxVersion.h"
#include "base/ComObject.h"
#include "base/ComTypes.h"
#include "base/OwnModule.h"
#include "base/ThreadValues.h"
#include "base/TypeDescriptions.h"
#include "base/VbError.h"
#include "component/Main2Object.h"
#include "component/Server.h"
#include "registry/RegistryRaw.h"

namespace tamberlux {
namespace {

std::atomic<LONG> gLive{0};  // objects alive plus server locks

}  // namespace

void DllAddRef() { ++gLive; }
void DllRelease() { --gLive; }

HRESULT LoadOwnTypeLib(REGKIND kind, ITypeLib** out) { return LoadTypeLibEx(OwnModulePath().c_str(), kind, out); }

HRESULT OwnTypeInfo(REFIID iid, ITypeInfo** out) {
  ComPtr<ITypeLib> lib;
  const HRESULT hr = LoadOwnTypeLib(REGKIND_NONE, lib.Put());
  return FAILED(hr) ? hr : lib->GetTypeInfoOfGuid(iid, out);
}

namespace {

// The classes this server hands out.
struct ClassEntry {
  const CLSID* clsid;
  const wchar_t* progId;
  const wchar_t* description;
  IUnknown* (*create)();
};
const ClassEntry kClasses[] = {
    {&CLSID_Main2, L"Tamberlux.Main2", L"Tamberlux.Main2",
     &CreateMain2Object},
};

class ClassFactory final : public ComObject<IClassFactory, IID_IClassFactory> {
 public:
  explicit ClassFactory(const ClassEntry& entry) : entry_(entry) { DllAddRef(); }
  ~ClassFactory() override { DllRelease(); }
  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (outer) return CLASS_E_NOAGGREGATION;
    HRESULT hr = E_UNEXPECTED;
    const HRESULT barrier = vb::Barrier([&] {
      IUnknown* object = entry_.create();
      hr = object->QueryInterface(iid, out);
      object->Release();
    });
    return FAILED(barrier) ? barrier : hr;
  }
  HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override {
    lock ? DllAddRef() : DllRelease();
    return S_OK;
  }

 private:
  const ClassEntry& entry_;
};

std::wstring GuidText(const GUID& g) {
  wchar_t text[40];
  StringFromGUID2(g, text, 40);
  return text;
}

LONG SetText(const std::wstring& path, const wchar_t* name, const std::wstring& value) {
  return RegistryRaw::WriteText(HKEY_CLASSES_ROOT, path, name, value);
}

}  // namespace
}  // namespace tamberlux

using namespace tamberlux;

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID reserved) {
  // No work of the component's here: a thread that ends gives back what the
  // component kept for it (its COM references went with its last Main2).
  if (reason == DLL_THREAD_DETACH) EndThreadValues();
  if (reason == DLL_PROCESS_DETACH && !reserved) EndProcessValues();  // unloaded, not the process ending
  return TRUE;
}

STDAPI DllGetClassObject(REFCLSID clsid, REFIID iid, void** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  for (const ClassEntry& entry : kClasses) {
    if (*entry.clsid != clsid) continue;
    return vb::Barrier([&] {
      auto* factory = new ClassFactory(entry);
      const HRESULT hr = factory->QueryInterface(iid, out);
      factory->Release();
      vb::Check(hr);
    });
  }
  return CLASS_E_CLASSNOTAVAILABLE;
}

STDAPI DllCanUnloadNow() { return gLive == 0 ? S_OK : S_FALSE; }

STDAPI DllRegisterServer() {
  return vb::Barrier([] {
    ComPtr<ITypeLib> lib;
    vb::Check(LoadOwnTypeLib(REGKIND_REGISTER, lib.Put()));
    const std::wstring path = OwnModulePath();
    const std::wstring libid = GuidText(LIBID_Tamberlux);
    for (const ClassEntry& entry : kClasses) {
      const std::wstring key = L"CLSID\\" + GuidText(*entry.clsid);
      const std::wstring clsid = GuidText(*entry.clsid);
      for (LONG rc : {SetText(key, nullptr, entry.description), SetText(key + L"\\InprocServer32", nullptr, path),
                      SetText(key + L"\\InprocServer32", L"ThreadingModel", L"Apartment"),
                      SetText(key + L"\\ProgID", nullptr, entry.progId), SetText(key + L"\\TypeLib", nullptr, libid),
                      SetText(key + L"\\VERSION", nullptr, L"" TAMBERLUX_TYPELIB_VERSION_TEXT),
                      SetText(entry.progId, nullptr, entry.description),
                      SetText(std::wstring(entry.progId) + L"\\CLSID", nullptr, clsid)})
        if (rc != ERROR_SUCCESS) vb::Check(SELFREG_E_CLASS);
    }
  });
}

STDAPI DllUnregisterServer() {
  return vb::Barrier([] {
    for (const ClassEntry& entry : kClasses) {
      RegistryRaw::DeleteTree(HKEY_CLASSES_ROOT, entry.progId);
      RegistryRaw::DeleteTree(HKEY_CLASSES_ROOT, L"CLSID\\" + GuidText(*entry.clsid));
    }
    ComPtr<ITypeLib> lib;
    if (SUCCEEDED(LoadOwnTypeLib(REGKIND_NONE, lib.Put()))) {
      TLibAttr attr(lib.Get());
      if (SUCCEEDED(lib->GetLibAttr(attr.Put())))
        UnRegisterTypeLib(attr->guid, attr->wMajorVerNum, attr->wMinorVerNum, attr->lcid, attr->syskind);
    }
  });
}
