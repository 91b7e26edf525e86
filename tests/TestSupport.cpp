// Core helpers: the trap, the stand-in reporter, running programs and scripts,
// the registered component, and the product's files.
#include "TestSupport.h"

#include <shlobj.h>

#include <algorithm>
#include <filesystem>

#include "errortrap/vbwProtector.h"

namespace tamberlux::test {

StartedTrap::StartedTrap() {
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  vbw::State() = vbw::ProtectorState{};
  vbw::vbwInitializeProtector();
}

StartedTrap::~StartedTrap() {
  vbw::State() = vbw::ProtectorState{};
  CoUninitialize();
}

std::wstring TestProgram() {
  wchar_t path[MAX_PATH];
  return std::wstring(path, GetModuleFileNameW(nullptr, path, MAX_PATH));
}

std::wstring BinDir() {
  const std::wstring file = TestProgram();
  return file.substr(0, file.find_last_of(L"\\/") + 1);
}

std::wstring ScratchDir() {
  // Named after the Wine prefix (one per test program, or per part of one), else after the program.
  wchar_t value[MAX_PATH];
  const DWORD n = GetEnvironmentVariableW(L"WINEPREFIX", value, MAX_PATH);
  std::wstring name = n && n < MAX_PATH ? std::wstring(value, n) : L"";
  if (name.empty()) {
    const std::wstring self = TestProgram();
    name = self.substr(0, self.find_last_of(L'.'));
  }
  const std::wstring dir = BinDir() + L"scratch\\" + name.substr(name.find_last_of(L"\\/") + 1) + L"\\";
  SHCreateDirectoryExW(nullptr, dir.c_str(), nullptr);
  return dir;
}

bool Contains(const std::vector<std::wstring>& calls, const std::wstring& call) {
  return std::find(calls.begin(), calls.end(), call) != calls.end();
}

std::vector<std::wstring> Split(const std::wstring& text, wchar_t sep) {
  std::vector<std::wstring> parts;
  for (size_t start = 0;;) {
    const size_t end = text.find(sep, start);
    parts.push_back(text.substr(start, end - start));
    if (end == std::wstring::npos) return parts;
    start = end + 1;
  }
}

namespace {
// An export of the stand-in reporter; a missing one is a broken build and ends the test program.
template <class F>
F Fn(const Module& dll, const char* name) {
  auto f = reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(dll.Get(), name)));
  if (!f) FatalAppExitA(0, name);
  return f;
}
}  // namespace

ReporterStandIn::ReporterStandIn() : dll_(LoadLibraryW((BinDir() + L"ZentrelloErrorStandIn.dll").c_str())) {
  if (!dll_) FatalAppExitA(0, "ZentrelloErrorStandIn.dll beside the test");
  Fn<HRESULT(WINAPI*)()>(dll_, "DllRegisterServer")();
  Fn<void (*)()>(dll_, "StandIn_Reset")();
}

ReporterStandIn::~ReporterStandIn() { Fn<void (*)()>(dll_, "StandIn_Reset")(); }

void ReporterStandIn::Answer(std::vector<LONG> codes, LONG then) {
  Fn<void (*)(const LONG*, int, LONG)>(dll_, "StandIn_SetAnswers")(codes.data(), static_cast<int>(codes.size()), then);
}

void ReporterStandIn::Fail(const wchar_t* method, int times) {
  Fn<void (*)(const wchar_t*, int)>(dll_, "StandIn_Fail")(method, times);
}

void ReporterStandIn::DuringQuestion(void (*call)()) {
  Fn<void (*)(void (*)())>(dll_, "StandIn_DuringQuestion")(call);
}

void ReporterStandIn::Unregister() { Fn<HRESULT(WINAPI*)()>(dll_, "DllUnregisterServer")(); }

std::vector<std::vector<std::wstring>> ReporterStandIn::Calls() const {
  auto call = Fn<const wchar_t* (*)(int, int*)>(dll_, "StandIn_Call");
  std::vector<std::vector<std::wstring>> calls;
  int length = 0;
  for (int i = 0; const wchar_t* text = call(i, &length); ++i) calls.push_back(Split({text, size_t(length)}, L'\t'));
  return calls;
}

std::vector<std::wstring> ReporterStandIn::Records() const {
  std::vector<std::wstring> records;
  for (const auto& fields : Calls()) {
    records.push_back(fields[0]);
    for (size_t i = 1; i < fields.size(); ++i) records.back() += L" " + fields[i];
  }
  return records;
}

std::vector<std::wstring> ReporterStandIn::Methods() const {
  std::vector<std::wstring> methods;
  for (const auto& c : Calls()) methods.push_back(c[0]);
  return methods;
}

int ReporterStandIn::Count(const std::wstring& method) const {
  return static_cast<int>(std::ranges::count(Methods(), method));
}

Started Start(std::wstring commandLine, HANDLE output, bool withStderr) {
  STARTUPINFOW si{sizeof(si)};
  if (output) {
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    si.hStdOutput = output;
    si.hStdError = withStderr ? output : GetStdHandle(STD_ERROR_HANDLE);
  }
  Started s;
  for (int tries = 0; tries < 3 && !s.process; ++tries) {
    PROCESS_INFORMATION pi{};
    if (!CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, output != nullptr, 0, nullptr, nullptr, &si, &pi)) {
      s.error = GetLastError();
      Sleep(100 << tries);  // a back-off before the next try, not a wait for anything
      continue;
    }
    s.process.Reset(pi.hProcess), s.id = pi.dwProcessId;
    Handle thread(pi.hThread);
  }
  return s;
}

Ran Run(const std::wstring& commandLine, DWORD boundMs, bool withStderr, std::atomic<DWORD>* id) {
  SECURITY_ATTRIBUTES sa{sizeof(sa), nullptr, TRUE};
  wchar_t path[MAX_PATH];
  GetTempFileNameW(BinDir().c_str(), L"out", 0, path);
  Ran r;
  {
    const Handle out(CreateFileW(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE, &sa, CREATE_ALWAYS, 0, nullptr));
    const Started s = Start(commandLine, out.Get(), withStderr);
    r.startError = s.error;
    if (s.process) {
      if (id) *id = s.id;
      r.hung = WaitForSingleObject(s.process.Get(), boundMs) == WAIT_TIMEOUT;
      if (r.hung) TerminateProcess(s.process.Get(), 1), WaitForSingleObject(s.process.Get(), 5000);
      GetExitCodeProcess(s.process.Get(), &r.code);
    }
  }
  r.bytes = ReadWholeFile(path);
  DeleteFileW(path);
  return r;
}

Ran Tamberlux(const std::wstring& args, bool withStderr, DWORD boundMs, std::atomic<DWORD>* id) {
  return Run(L"\"" + BinDir() + L"tamberlux.exe\" " + args, boundMs, withStderr, id);
}

void EndProcess(DWORD id) {
  const Handle process(OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, id));
  if (process) TerminateProcess(process.Get(), 1), WaitForSingleObject(process.Get(), 5000);
}

HWND AddWindow(const wchar_t* className, const wchar_t* caption, WNDPROC proc, DWORD style) {
  const WNDCLASSW wc{0, proc, 0, 0, GetModuleHandleW(nullptr), nullptr, nullptr, nullptr, nullptr, className};
  RegisterClassW(&wc);
  return CreateWindowExW(0, className, caption, style, 0, 0, 200, 100, nullptr, nullptr, wc.hInstance, nullptr);
}

bool WaitUntil(const std::function<bool()>& done, DWORD ms) {
  for (const ULONGLONG end = GetTickCount64() + ms;; MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT)) {
    for (MSG m; PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE);) TranslateMessage(&m), DispatchMessageW(&m);
    if (done()) return true;
    if (GetTickCount64() >= end) return false;
  }
}

size_t RawControls(const std::wstring& text) {
  return std::count_if(text.begin(), text.end(), [](wchar_t c) { return c < 32 && c != L'\r' && c != L'\n'; });
}

size_t Occurrences(const std::wstring& text, const std::wstring& part) {
  size_t n = 0;
  for (size_t at = text.find(part); at != std::wstring::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

// Files are opened with handles that are never inherited: a program another thread starts meanwhile (a dialog
// reader, say) must not keep the file open. An inherited write handle kept cscript from opening its script, which
// it then took as an empty one.
std::string ReadWholeFile(const std::wstring& path) {
  const Handle f(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                             nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!f) return "<missing>";
  std::string bytes;
  char buffer[65536];
  for (DWORD got = 0; ReadFile(f.Get(), buffer, sizeof(buffer), &got, nullptr) && got;) bytes.append(buffer, got);
  return bytes;
}

void WriteWholeFile(const std::wstring& path, const std::string& bytes) {
  const Handle f(CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                             FILE_ATTRIBUTE_NORMAL, nullptr));
  DWORD written = 0;
  if (f) WriteFile(f.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

std::wstring RunVBScript(const std::vector<std::wstring>& lines) {
  const std::wstring script = ScratchDir() + L"script-" + std::to_wstring(GetCurrentProcessId()) + L".vbs";
  std::wstring text;
  for (const auto& line : lines) text += line + L"\r\n";
  WriteWholeFile(script, ToUtf8(text));
  const Ran r = Run(L"cscript //nologo \"" + script + L"\"", 60000, true);
  DeleteFileW(script.c_str());
  // A script host that failed says so in what the test compares, with how it ended.
  if (r.code || r.hung)
    return r.Text() + L"[cscript " + (r.hung ? L"hung" : L"ended with " + std::to_wstring(r.code)) +
           L", start error " + std::to_wstring(r.startError) + L"]";
  return r.Text();
}

DWORD Regsvr32(const std::wstring& flags) {
  return Run(L"regsvr32 " + flags + L" \"" + BinDir() + L"Tamberlux.dll\"").code;
}

HRESULT CallExport(const std::wstring& dll, const char* name) {
  const Module m(LoadLibraryW(dll.c_str()));
  if (!m) return HRESULT_FROM_WIN32(GetLastError());
  auto f = reinterpret_cast<HRESULT(STDAPICALLTYPE*)()>(reinterpret_cast<void*>(GetProcAddress(m.Get(), name)));
  return f ? f() : E_NOINTERFACE;
}

HRESULT RegisterComponent() { return CallExport(BinDir() + L"Tamberlux.dll", "DllRegisterServer"); }

ComPtr<IDispatch> CreateMain2() {
  try {
    return ComPtr<IDispatch>(NewObject(L"Tamberlux.Main2", CLSCTX_INPROC_SERVER).Get());
  } catch (...) { return nullptr; }
}

HRESULT CallByName(IDispatch* d, const wchar_t* name, std::vector<VARIANT> args, VARIANT* result) {
  DISPID id;
  LPOLESTR n = const_cast<LPOLESTR>(name);
  if (HRESULT hr = d->GetIDsOfNames(IID_NULL, &n, 1, LOCALE_USER_DEFAULT, &id); FAILED(hr)) return hr;
  std::reverse(args.begin(), args.end());
  DISPPARAMS dp{args.data(), nullptr, static_cast<UINT>(args.size()), 0};
  Variant ignored;
  return d->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &dp, result ? result : &ignored, nullptr,
                   nullptr);
}

HRESULT CallHookIntoWord(IDispatch* main2, const LateObject& app, const std::wstring& name, VARIANT* result) {
  Bstr n(name);
  IDispatch* w = app.Get();
  SAFEARRAYBOUND none{0, 0};
  SAFEARRAY* lists[2] = {SafeArrayCreate(VT_BSTR, 1, &none), SafeArrayCreate(VT_BSTR, 1, &none)};
  VARIANT args[4] = {ByRef(n), {}, {}, {}};
  args[1].vt = VT_BYREF | VT_DISPATCH, args[1].ppdispVal = &w;
  args[2].vt = args[3].vt = VT_BYREF | VT_ARRAY | VT_BSTR, args[2].pparray = &lists[0], args[3].pparray = &lists[1];
  const HRESULT hr = CallByName(main2, L"HookIntoWord", {args[0], args[1], args[2], args[3]}, result);
  const SafeArray owned[] = {SafeArray(lists[0]), SafeArray(lists[1])};  // as the call left them
  return hr;
}

namespace {
std::wstring Folder(int csidl) {
  wchar_t path[MAX_PATH] = {};
  SHGetFolderPathW(nullptr, csidl, nullptr, 0, path);
  return path;
}
constexpr const wchar_t* kExtensions[] = {L".dot", L".dotm"};
}  // namespace

ProductTemplate::ProductTemplate(const std::wstring& name)
    : name_(name),
      sourceDir_(Folder(CSIDL_PROGRAM_FILES) + L"\\Valdomeren\\" + name + L"\\"),
      copyDir_(Folder(CSIDL_APPDATA) + L"\\Microsoft\\Templates\\") {
  SHCreateDirectoryExW(nullptr, sourceDir_.c_str(), nullptr);
  SHCreateDirectoryExW(nullptr, copyDir_.c_str(), nullptr);
  for (const wchar_t* extension : kExtensions) {
    DeleteFileW(Source(extension).c_str());
    MoveFileExW(Copy(extension).c_str(), (Copy(extension) + L".kept").c_str(), MOVEFILE_REPLACE_EXISTING);
  }
}

ProductTemplate::~ProductTemplate() {
  for (const wchar_t* extension : kExtensions) {
    DeleteFileW(Source(extension).c_str());
    DeleteFileW(Copy(extension).c_str());
    MoveFileExW((Copy(extension) + L".kept").c_str(), Copy(extension).c_str(), 0);
  }
  RemoveDirectoryW(sourceDir_.c_str());
}

std::wstring ProductTemplate::Source(const wchar_t* extension) const { return sourceDir_ + name_ + extension; }
std::wstring ProductTemplate::Copy(const wchar_t* extension) const { return copyDir_ + name_ + extension; }

FILETIME ProductTemplate::Time(const std::wstring& path) {
  FILETIME t{};
  Handle f(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
  if (f) GetFileTime(f.Get(), nullptr, nullptr, &t);
  return t;
}

void ProductTemplate::SetTime(const std::wstring& path, FILETIME time) {
  Handle f(CreateFileW(path.c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING, 0, nullptr));
  SetFileTime(f.Get(), nullptr, nullptr, &time);
}

}  // namespace tamberlux::test
