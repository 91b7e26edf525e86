#include "installer/ObjectFactory.h"

#include <windows.h>

#include "base/ComTypes.h"
#include "errortrap/Procedure.h"

namespace tamberlux::ObjectFactory {

using vbw::Var;

bool RegisterServer(const std::wstring& path) {
  bool result = false;
  vbw::Proc p(L"ObjectFactory.RegisterServer", vbw::BannerOnly, {Var(L"path", path)});
  // The dump shows the handles as numbers; the module itself is owned below.
  double hModule = 0, pa = 0, hwnd = 0;
  p.Local(L"hModule", hModule);
  p.Local(L"pa", pa);
  p.Local(L"hwnd", hwnd);
  p.Run([&] {
    p.ResumeNext();
    Module module;
    using EntryPoint = HRESULT(STDAPICALLTYPE*)();
    EntryPoint entry = nullptr;
    p(101, [&] {
      module = Module(LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH));
      hModule = static_cast<double>(reinterpret_cast<uintptr_t>(module.Get()));
    });
    if (!module) return;
    p(102, [&] {
      entry = reinterpret_cast<EntryPoint>(reinterpret_cast<void*>(GetProcAddress(module.Get(), "DllRegisterServer")));
      pa = static_cast<double>(reinterpret_cast<uintptr_t>(entry));
    });
    if (!entry) return;
    result = p.Try(103, [&] { entry(); }) == 0;
    // The module is freed here on every path.
  });
  return result;
}

bool CanRegister(const std::wstring& path) {
  const Module module(LoadLibraryExW(path.c_str(), nullptr, DONT_RESOLVE_DLL_REFERENCES));
  return module && GetProcAddress(module.Get(), "DllRegisterServer") != nullptr;
}

}  // namespace tamberlux::ObjectFactory
