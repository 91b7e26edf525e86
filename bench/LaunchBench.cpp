// A launch against a Word that is already running, four ways, side by side:
//   StartRunTime   the product's launcher: Tamberlux.Main2 created by ProgID,
//                  StartRunTime called late-bound, the object released
//   same calls     a client that makes exactly the calls into Word that
//                  StartRunTime makes, in the same order, with names looked up
//                  once for all its launches, and nothing else (no registry,
//                  no files); and the same looking names up once per launch,
//                  as a launcher that makes one launch per process does
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
#include <functional>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include "base/ComTypes.h"
#include "TestSupport.h"
#include "base/LateBound.h"

namespace {
using namespace tamberlux;

constexpr wchar_t kProduct[] = L"ZentrelloBench";
constexpr const wchar_t* kScriptKey = standin::kWordScriptKey;

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

// The launches timed in turn, round after round, so that a busy moment of the
// machine falls on all of them alike; the median of each.
std::vector<double> InterleavedMedianMs(int runs, const std::vector<std::function<void()>>& launches) {
  std::vector<std::vector<double>> ms(launches.size());
  for (int i = 0; i < runs; ++i)
    for (size_t k = 0; k < launches.size(); ++k) {
      const double start = Now();
      launches[k]();
      ms[k].push_back((Now() - start) * 1000);
    }
  std::vector<double> medians;
  for (auto& m : ms) {
    std::sort(m.begin(), m.end());
    medians.push_back(m[m.size() / 2]);
  }
  return medians;
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


// The names of Word's members, looked up once for all launches (or, cleared
// by each launch, once per launch).
std::map<std::wstring, DISPID> ids;
DISPID Id(IDispatch* d, const wchar_t* name) {
  auto found = ids.find(name);
  if (found != ids.end()) return found->second;
  DISPID id = DISPID_UNKNOWN;
  LPOLESTR n = const_cast<LPOLESTR>(name);
  d->GetIDsOfNames(IID_NULL, &n, 1, LOCALE_USER_DEFAULT, &id);
  return ids[name] = id;
}

Variant Invoke(IDispatch* d, const wchar_t* name, WORD flags, std::vector<VARIANT> args = {},
               std::vector<DISPID> named = {}) {
  std::reverse(args.begin(), args.end());
  DISPPARAMS params{args.data(), named.empty() ? nullptr : named.data(), static_cast<UINT>(args.size()),
                    static_cast<UINT>(named.size())};
  Variant result;
  d->Invoke(Id(d, name), IID_NULL, LOCALE_USER_DEFAULT, flags, &params, &result, nullptr, nullptr);
  return result;
}

// StartRunTime's calls into a running, visible Word with a recorded version:
// attach, Visible (WordApplication), Version (is Word still there), Version
// (which template), Run the macro, Documents, Add a visible document.
void LaunchSameCalls(bool startMacro, bool namesPerLaunch = false) {
  static DISPID visible = DISPID_UNKNOWN;
  if (namesPerLaunch) ids.clear(), visible = DISPID_UNKNOWN;
  ComPtr<IUnknown> unknown;
  GetActiveObject(Clsid(L"Word.Application"), nullptr, unknown.Put());
  ComPtr<IDispatch> word = unknown.Query<IDispatch>(IID_IDispatch);
  if (!word) return;
  Invoke(word.Get(), L"Visible", DISPATCH_PROPERTYGET);
  Invoke(word.Get(), L"Version", DISPATCH_PROPERTYGET);
  Invoke(word.Get(), L"Version", DISPATCH_PROPERTYGET);
  if (startMacro) Invoke(word.Get(), L"Run", DISPATCH_METHOD, {Variant::Of(L"SetStartedFromIcon")});
  Variant documents = Invoke(word.Get(), L"Documents", DISPATCH_PROPERTYGET);
  if (documents.vt != VT_DISPATCH || !documents.pdispVal) return;
  if (visible == DISPID_UNKNOWN) {
    LPOLESTR names[] = {const_cast<LPOLESTR>(L"Add"), const_cast<LPOLESTR>(L"Visible")};
    DISPID ids[2];
    documents.pdispVal->GetIDsOfNames(IID_NULL, names, 2, LOCALE_USER_DEFAULT, ids);
    visible = ids[1];
  }
  Invoke(documents.pdispVal, L"Add", DISPATCH_METHOD, {Variant::Of(true)}, {visible});
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

void LaunchScript(const std::wstring& script) { test::Run(L"cscript //nologo \"" + script + L"\""); }

std::vector<std::string> LogLines(const std::wstring& log) {
  std::ifstream in(std::string(log.begin(), log.end()));
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

struct Crossings {
  int invokes = 0, lookups = 0, worstRepeat = 0;
  std::vector<std::string> calls;  // each invoke, in order
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
      c.calls.push_back(call);
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
  LaunchSameCalls(true);
  const Crossings same = Count(log, mark);
  mark = LogLines(log).size();
  LaunchMinimal();
  const Crossings minimal = Count(log, mark);
  const std::wstring script = WriteScript();
  mark = LogLines(log).size();
  LaunchScript(script);
  const Crossings scripted = Count(log, mark);

  const auto medians = InterleavedMedianMs(
      40, {[] { LaunchThroughComponent(true); }, [] { LaunchThroughComponent(false); }, [] { LaunchSameCalls(true); },
           [] { LaunchSameCalls(true, true); }, LaunchMinimal});
  const double componentMs = medians[0], noMacroMs = medians[1], sameMs = medians[2], perLaunchMs = medians[3],
               minimalMs = medians[4];
  const double scriptMs = MedianMs(5, [&] { LaunchScript(script); });

  std::printf("%-14s %12s %10s %12s %22s\n", "launch", "median ms", "invokes", "name look-ups",
              "most look-ups of a name");
  std::printf("%-14s %12.2f %10d %12d %22d\n", "StartRunTime", componentMs, component.invokes, component.lookups,
              component.worstRepeat);
  std::printf("%-14s %12.2f %10d %12d %22d\n", " (no macro)", noMacroMs, noMacro.invokes, noMacro.lookups,
              noMacro.worstRepeat);
  std::printf("%-14s %12.2f %10d %12d %22d\n", "same calls", sameMs, same.invokes, same.lookups,
              same.worstRepeat);
  std::printf("%-14s %12.2f\n", " (names/launch)", perLaunchMs);
  std::printf("%-14s %12.2f %10d %12d %22d\n", "minimal", minimalMs, minimal.invokes, minimal.lookups,
              minimal.worstRepeat);
  std::printf("%-14s %12.2f %10d %12d %22d\n", "script", scriptMs, scripted.invokes, scripted.lookups,
              scripted.worstRepeat);
  std::printf("the same calls into Word as StartRunTime, in order: %s\n", same.calls == component.calls ? "yes" : "NO");
  if (same.calls != component.calls)
    for (const auto& c : component.calls) std::printf("  StartRunTime: %s\n", c.c_str());
  std::printf("StartRunTime / same calls: %.2f (target 1.15 or less)\n", componentMs / sameMs);
  std::printf("StartRunTime / same calls, names looked up per launch: %.2f (information)\n", componentMs / perLaunchMs);
  std::printf("StartRunTime / minimal: %.2f (information)\n", componentMs / minimalMs);
  std::printf("script / StartRunTime:  %.1f (information)\n", scriptMs / componentMs);

  DeleteFileW(script.c_str());
  DeleteFileW(log.c_str());
  RegDeleteTreeW(HKEY_LOCAL_MACHINE, kScriptKey);
  CoUninitialize();
  return 0;
}
