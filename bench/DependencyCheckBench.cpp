// The installer's check of the four library groups when everything is in
// place (EnsureDependenciesAreRegistered with empty DLL lists: no download,
// no message), against a bare loop of the same file-existence and
// CLSIDFromProgID calls and the one VBScript.RegExp creation. The stand-in
// libraries are placed in the system folder and registered for the run, then
// removed.
#include <cstdio>
#include <string>
#include <vector>

#include "BenchClock.h"
#include "base/LateBound.h"
#include "base/ComTypes.h"
#include "base/OwnModule.h"
#include "component/Main2.h"
#include "errortrap/vbwProtector.h"
#include "installer/InfraGroups.h"

namespace {
using namespace tamberlux;

// Built stand-in file, name in the system folder.
const std::pair<const wchar_t*, const wchar_t*> kStandIns[] = {
    {L"MsgHook.dll", L"MsgHook.dll"}, {L"ThreadFactoryLib_RUNTIME.dll", L"ThreadFactoryLib_RUNTIME.dll"},
    {L"VXPLib.dll", L"VXPLib.dll"},   {L"DartSock.dll", L"DartSock.dll"},
    {L"DartWeb.dll", L"DartWeb.dll"}, {L"comctl32_ocx.dll", L"comctl32.ocx"},
    {L"mscomctl_ocx.dll", L"mscomctl.ocx"}, {L"comct232_ocx.dll", L"comct232.ocx"}};
volatile long sink;

std::wstring Folder(bool system) {
  wchar_t path[MAX_PATH];
  if (system) {
    GetSystemDirectoryW(path, MAX_PATH);
    return std::wstring(path) + L"\\";
  }
  return OwnModuleFolder();
}

void Call(const std::wstring& dll, const char* entry) {
  const Module m(LoadLibraryW(dll.c_str()));
  if (auto f = reinterpret_cast<HRESULT(STDAPICALLTYPE*)()>(reinterpret_cast<void*>(GetProcAddress(m.Get(), entry)))) f();
}

long BareLoop(const std::string& system) {
  long found = 0;
  for (const auto& g : InfraGroups::All()) {
    for (size_t i = 0; i < g.fileNames.size(); ++i) {
      const std::string path = system + std::string(g.fileNames[i], g.fileNames[i] + wcslen(g.fileNames[i]));
      found += GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
      CLSID clsid;
      found += CLSIDFromProgID(g.progIds[i], &clsid) == S_OK;
    }
    if (g.testVBScript) found += static_cast<bool>(NewObject(L"VBScript.RegExp"));
  }
  return found;
}
}  // namespace

int main() {
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  vbw::vbwInitializeProtector();
  const std::wstring system = Folder(true), bin = Folder(false);
  for (const auto& [built, name] : kStandIns) {
    CopyFileW((bin + built).c_str(), (system + name).c_str(), FALSE);
    Call(system + name, "DllRegisterServer");
  }
  Main2 main2;
  std::wstring name = L"Zentrello";
  std::vector<std::wstring> none;
  if (!main2.EnsureDependenciesAreRegistered(name, none, none)) {
    std::printf("the stand-in libraries are not all in place: nothing measured\n");
  } else {
    const std::string systemAnsi(system.begin(), system.end());
    const double check = bench::BestNanoseconds(5, 200, [&] { sink = main2.EnsureDependenciesAreRegistered(name, none, none); });
    const double bare = bench::BestNanoseconds(5, 200, [&] { sink = BareLoop(systemAnsi); });
    std::printf("%16s %14s %8s\n", "check us", "bare loop us", "ratio");
    std::printf("%16.1f %14.1f %8.2f\n", check / 1000, bare / 1000, check / bare);
  }
  for (const auto& [built, name] : kStandIns) {
    Call(bin + built, "DllUnregisterServer");
    DeleteFileW((system + name).c_str());
  }
  CoUninitialize();
  return 0;
}
