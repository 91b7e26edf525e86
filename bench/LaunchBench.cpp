// A launch against a Word that is already running, three ways, side by side:
//   StartRunTime   the product's launcher: Tamberlux.Main2 created by ProgID,
//                  StartRunTime called late-bound, the object released
//   minimal        only the essential calls: attach to the running Word, one new document
//   script         a VBScript doing the launch steps a script author would
//                  (registry writes with WScript.Shell, CreateObject, Documents.Add)
// Wall time per launch, and the calls that crossed into Word, counted by the
// stand-in Word itself (name look-ups apart). Expects Tamberlux.dll and the
// stand-in Word registered (tools/bench.sh does it).
#include <windows.h>
#include <shlobj.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include "base/ComTypes.h"
#include "base/LateBound.h"

namespace {
using namespace tamberlux;

constexpr wchar_t kProduct[] = L"ZentrelloBench";
constexpr wchar_t kScriptKey[] = L"Software\\TamberluxTests\\WordStandIn";

std::wstring TempPath(const wchar_t* name) {
  wchar_t dir[MAX_PATH];
  GetTempPathW(MAX_PATH, dir);
  return std::wstring(dir) + name;
}

double Now() {
  LARGE_INTEGER f, t;
  QueryPerformanceFrequency(&f);
  QueryPerformanceCounter(&t);
  return static_cast<double>(t.QuadPart) / static_cast<double>(f.QuadPart);
}

template <class F>
double MedianMs(int runs, F&& launch) {
  std::vector<double> ms;
  for (int i = 0; i < runs; ++i) {
    const double start = Now();
    launch();
    ms.push_back((Now() - start) * 1000);
  }
  std::sort(ms.begin(), ms.end());
  return ms[ms.size() / 2];
}

CLSID Clsid(const wchar_t* progId) {
  CLSID clsid{};
  CLSIDFromProgID(progId, &clsid);
  return clsid;
}

void LaunchThroughComponent(bool startMacro) {
  ComPtr<IDispatch> d;
  if (FAILED(CoCreateInstance(Clsid(L"Tamberlux.Main2"), nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch, d.PutVoid())))
    return;
  Variant missing;
  missing.vt = VT_ERROR;
  missing.scode = DISP_E_PARAMNOTFOUND;
  LateObject(std::move(d)).Call(L"StartRunTime", {Variant::Of(kProduct), missing, Variant::Of(startMacro)});
}


void LaunchMinimal() {
  ComPtr<IUnknown> unknown;
  GetActiveObject(Clsid(L"Word.Application"), nullptr, unknown.Put());
  LateObject word(unknown.Query<IDispatch>(IID_IDispatch));
  word.Object(L"Documents").Call(L"Add", {}, {{L"Visible", Variant::Of(true)}});
}

std::wstring WriteScript() {
  const std::wstring path = TempPath(L"launch-bench.vbs");
  std::wofstream out(std::string(path.begin(), path.end()));
  const std::wstring addins = L"HKCU\\SOFTWARE\\Microsoft\\Office\\Word\\Addins\\";
  const std::wstring section = std::wstring(L"HKCU\\Software\\") + kProduct + L"\\";
  out << L"Set sh = CreateObject(\"WScript.Shell\")\n";
  for (const wchar_t* addin : {L"AddinMonitor.ZentrelloMonitor", L"Kestrivane.ZentrelloAddinForWord"}) {
    out << L"sh.RegWrite \"" << addins << addin << L"\\friendlyName\", \"" << addin << L"\", \"REG_SZ\"\n"
        << L"sh.RegWrite \"" << addins << addin << L"\\description\", \"" << addin << L"\", \"REG_SZ\"\n"
        << L"sh.RegWrite \"" << addins << addin << L"\\LoadBehavior\", 3, \"REG_DWORD\"\n"
        << L"sh.RegWrite \"" << addins << addin << L"\\CommandLineSafe\", 0, \"REG_DWORD\"\n";
  }
  out << L"sh.RegWrite \"" << section << L"PermanentlyDisableAddin\", \"0\", \"REG_SZ\"\n"
      << L"Set w = CreateObject(\"Word.Application\")\n"
      << L"w.Visible = True\n"
      << L"sh.RegWrite \"" << section << L"WordVersion\", w.Version, \"REG_SZ\"\n"
      << L"w.Run \"SetStartedFromIcon\"\n"
      << L"w.Documents.Add , , , True\n";
  return path;
}

void LaunchScript(const std::wstring& script) {
  STARTUPINFOW si{};
  si.cb = sizeof(si);
  PROCESS_INFORMATION pi{};
  std::wstring cmd = L"cscript //nologo \"" + script + L"\"";
  if (!CreateProcessW(nullptr, cmd.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) return;
  WaitForSingleObject(pi.hProcess, 60000);
  CloseHandle(pi.hProcess);
  CloseHandle(pi.hThread);
}

std::vector<std::string> LogLines(const std::wstring& log) {
  std::ifstream in(std::string(log.begin(), log.end()));
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

struct Crossings {
  int invokes = 0, lookups = 0, worstRepeat = 0;
};

// The calls Word received since line `from`, and the most times one name
// was looked up on the application object.
Crossings Count(const std::wstring& log, size_t from) {
  Crossings c;
  std::map<std::string, int> applicationLookups;
  const auto lines = LogLines(log);
  for (size_t i = from; i < lines.size(); ++i) {
    const std::string call = lines[i].substr(lines[i].find('\t') + 1);
    if (call.rfind("Created", 0) == 0 || call.rfind("Exited", 0) == 0) continue;
    if (call.rfind("Lookup\t", 0) != 0) {
      ++c.invokes;
      continue;
    }
    ++c.lookups;
    if (call.rfind("Lookup\tApplication.", 0) == 0)
      c.worstRepeat = std::max(c.worstRepeat, ++applicationLookups[lines[i].substr(0, lines[i].find('\t')) + call]);
  }
  return c;
}

void SetScript(const wchar_t* name, const std::wstring& text) {
  RegSetKeyValueW(HKEY_LOCAL_MACHINE, kScriptKey, name, REG_SZ, text.c_str(),
                  static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
}

void PlaceTemplate() {
  wchar_t programFiles[MAX_PATH];
  SHGetFolderPathW(nullptr, CSIDL_PROGRAM_FILES, nullptr, 0, programFiles);
  const std::wstring dir = std::wstring(programFiles) + L"\\Valdomeren\\" + kProduct + L"\\";
  SHCreateDirectoryExW(nullptr, dir.c_str(), nullptr);
  for (const wchar_t* ext : {L".dot", L".dotm"}) {
    std::ofstream out(std::string(dir.begin(), dir.end()) + "ZentrelloBench" + std::string(ext, ext + wcslen(ext)));
    out << "template";
  }
}
}  // namespace

int main() {
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  const std::wstring log = TempPath(L"launch-bench-calls.txt");
  DeleteFileW(log.c_str());
  RegDeleteTreeW(HKEY_LOCAL_MACHINE, kScriptKey);
  SetScript(L"CallLog", log);
  const DWORD on = 1;
  RegSetKeyValueW(HKEY_LOCAL_MACHINE, kScriptKey, L"LogLookups", REG_DWORD, &on, sizeof(on));
  PlaceTemplate();

  // The Word a user already has open.
  ComPtr<IDispatch> d;
  if (FAILED(CoCreateInstance(Clsid(L"Word.Application"), nullptr, CLSCTX_LOCAL_SERVER, IID_IDispatch, d.PutVoid()))) {
    std::fprintf(stderr, "the stand-in Word is not registered\n");
    return 1;
  }
  LateObject running(std::move(d));
  running.Put(L"Visible", Variant::Of(true));

  // One counted launch each way (the first StartRunTime also records the
  // version and copies the template, so it is not the one counted).
  LaunchThroughComponent(true);
  size_t mark = LogLines(log).size();
  LaunchThroughComponent(true);
  const Crossings component = Count(log, mark);
  mark = LogLines(log).size();
  LaunchThroughComponent(false);
  const Crossings noMacro = Count(log, mark);
  mark = LogLines(log).size();
  LaunchMinimal();
  const Crossings minimal = Count(log, mark);
  const std::wstring script = WriteScript();
  mark = LogLines(log).size();
  LaunchScript(script);
  const Crossings scripted = Count(log, mark);

  const int runs = 20;
  const double componentMs = MedianMs(runs, [] { LaunchThroughComponent(true); });
  const double noMacroMs = MedianMs(runs, [] { LaunchThroughComponent(false); });
  const double minimalMs = MedianMs(runs, LaunchMinimal);
  const double scriptMs = MedianMs(5, [&] { LaunchScript(script); });

  std::printf("%-14s %12s %10s %12s %22s\n", "launch", "median ms", "invokes", "name look-ups",
              "most look-ups of a name");
  std::printf("%-14s %12.2f %10d %12d %22d\n", "StartRunTime", componentMs, component.invokes, component.lookups,
              component.worstRepeat);
  std::printf("%-14s %12.2f %10d %12d %22d\n", " (no macro)", noMacroMs, noMacro.invokes, noMacro.lookups,
              noMacro.worstRepeat);
  std::printf("%-14s %12.2f %10d %12d %22d\n", "minimal", minimalMs, minimal.invokes, minimal.lookups,
              minimal.worstRepeat);
  std::printf("%-14s %12.2f %10d %12d %22d\n", "script", scriptMs, scripted.invokes, scripted.lookups,
              scripted.worstRepeat);
  std::printf("StartRunTime / minimal: %.2f (target 1.5 or less)\n", componentMs / minimalMs);
  std::printf("script / StartRunTime:  %.1f (target 5 or more)\n", scriptMs / componentMs);

  DeleteFileW(script.c_str());
  DeleteFileW(log.c_str());
  RegDeleteTreeW(HKEY_LOCAL_MACHINE, kScriptKey);
  CoUninitialize();
  return 0;
}
