// Stand-in for a library group's installer, as the vendor's server delivers
// it. Run with /Q it copies its group's files into the system folder and
// lets each register itself. What it does comes from
// HKEY_LOCAL_MACHINE\Software\TamberluxTests\InstallerStandIn:
//   Mode   REG_SZ        "install" (default), "nothing" (exit 0), "hang"
//   Files  REG_MULTI_SZ  the files it installs (full paths)
//   Log    REG_SZ        file that gets one line per run: "pid\tcommand line\tprogram path"
#include <windows.h>

#include "StandInKeys.h"
#include "base/ComTypes.h"

#include <string>

namespace {
constexpr const wchar_t* kKey = tamberlux::standin::kInstallerKey;

std::wstring Text(const wchar_t* name) {
  wchar_t buffer[8192] = {};
  DWORD size = sizeof(buffer) - sizeof(wchar_t);
  RegGetValueW(HKEY_LOCAL_MACHINE, kKey, name, RRF_RT_REG_SZ | RRF_RT_REG_MULTI_SZ, nullptr, buffer, &size);
  return std::wstring(buffer, size / sizeof(wchar_t));
}
}  // namespace

int wmain() {
  wchar_t self[MAX_PATH];
  GetModuleFileNameW(nullptr, self, MAX_PATH);
  const std::wstring line = std::to_wstring(GetCurrentProcessId()) + L"\t" + GetCommandLineW() + L"\t" + self + L"\n";
  {
    const tamberlux::Handle log(CreateFileW(Text(L"Log").c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                            nullptr, OPEN_ALWAYS, 0, nullptr));
    DWORD written = 0;
    WriteFile(log.Get(), line.data(), static_cast<DWORD>(line.size() * sizeof(wchar_t)), &written, nullptr);
  }

  const std::wstring mode = Text(L"Mode").c_str();
  if (mode == L"nothing") return 0;
  if (mode == L"hang") Sleep(INFINITE);
  wchar_t system[MAX_PATH];
  GetSystemDirectoryW(system, MAX_PATH);
  const std::wstring files = Text(L"Files");
  for (size_t at = 0; at < files.size() && files[at];) {
    const std::wstring source = files.c_str() + at;
    at += source.size() + 1;
    const std::wstring target = std::wstring(system) + source.substr(source.find_last_of(L'\\'));
    if (!CopyFileW(source.c_str(), target.c_str(), FALSE)) return 3;
    const tamberlux::Module dll(LoadLibraryW(target.c_str()));
    auto reg = reinterpret_cast<HRESULT(STDAPICALLTYPE*)()>(
        reinterpret_cast<void*>(GetProcAddress(dll.Get(), "DllRegisterServer")));
    if (!reg || FAILED(reg())) return 4;
  }
  return 0;
}
