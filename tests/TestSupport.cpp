#include "TestSupport.h"

#include <gtest/gtest.h>
#include <shlobj.h>
#include <tlhelp32.h>

#include <algorithm>
#include <cstring>

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

std::wstring BinDir() {
  wchar_t path[MAX_PATH];
  GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring dir = path;
  return dir.substr(0, dir.find_last_of(L"\\/") + 1);
}

bool Contains(const std::vector<std::wstring>& calls, const std::wstring& call) {
  return std::find(calls.begin(), calls.end(), call) != calls.end();
}

std::vector<std::wstring> Split(const std::wstring& text, wchar_t sep) {
  std::vector<std::wstring> parts;
  size_t start = 0;
  for (;;) {
    const size_t end = text.find(sep, start);
    parts.push_back(text.substr(start, end - start));
    if (end == std::wstring::npos) return parts;
    start = end + 1;
  }
}

namespace {
template <class F>
F Fn(HMODULE dll, const char* name) {
  auto f = reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(dll, name)));
  EXPECT_NE(f, nullptr) << name;
  return f;
}
}  // namespace

ReporterStandIn::ReporterStandIn() : dll_(LoadLibraryW((BinDir() + L"ZentrelloErrorStandIn.dll").c_str())) {
  EXPECT_NE(dll_, nullptr) << "ZentrelloErrorStandIn.dll beside the test";
  EXPECT_EQ(Fn<HRESULT(WINAPI*)()>(dll_, "DllRegisterServer")(), S_OK);
  Fn<void (*)()>(dll_, "StandIn_Reset")();
}

ReporterStandIn::~ReporterStandIn() {
  Fn<void (*)()>(dll_, "StandIn_Reset")();
  FreeLibrary(dll_);
}

void ReporterStandIn::Answer(std::vector<LONG> codes, LONG then) {
  Fn<void (*)(const LONG*, int, LONG)>(dll_, "StandIn_SetAnswers")(codes.data(), static_cast<int>(codes.size()),
                                                                      then);
}

void ReporterStandIn::Fail(const wchar_t* method, int times) {
  Fn<void (*)(const wchar_t*, int)>(dll_, "StandIn_Fail")(method, times);
}

void ReporterStandIn::Unregister() { Fn<HRESULT(WINAPI*)()>(dll_, "DllUnregisterServer")(); }

std::vector<std::vector<std::wstring>> ReporterStandIn::Calls() const {
  auto count = Fn<int (*)()>(dll_, "StandIn_CallCount");
  auto call = Fn<int (*)(int, wchar_t*, int)>(dll_, "StandIn_Call");
  std::vector<std::vector<std::wstring>> calls;
  for (int i = 0, n = count(); i < n; ++i) {
    std::wstring buffer(call(i, nullptr, 0) + 1, L'\0');
    const int length = call(i, buffer.data(), static_cast<int>(buffer.size()));
    buffer.resize(length);
    calls.push_back(Split(buffer, L'\t'));
  }
  return calls;
}

std::vector<std::wstring> ReporterStandIn::Methods() const {
  std::vector<std::wstring> methods;
  for (const auto& c : Calls()) methods.push_back(c[0]);
  return methods;
}

int ReporterStandIn::Count(const std::wstring& method) const {
  int n = 0;
  for (const auto& c : Calls()) n += c[0] == method;
  return n;
}

std::wstring RunAndCapture(const std::wstring& commandLine, DWORD* exitCode, bool withStderr) {
  SECURITY_ATTRIBUTES sa{sizeof(sa), nullptr, TRUE};
  HANDLE readEnd = nullptr, writeEnd = nullptr;
  if (!CreatePipe(&readEnd, &writeEnd, &sa, 0)) return L"<no pipe>";
  SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
  STARTUPINFOW si{};
  si.cb = sizeof(si);
  si.dwFlags = STARTF_USESTDHANDLES;
  si.hStdOutput = writeEnd;
  si.hStdError = withStderr ? writeEnd : GetStdHandle(STD_ERROR_HANDLE);
  si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  PROCESS_INFORMATION pi{};
  std::wstring cmd = commandLine;
  const BOOL started = CreateProcessW(nullptr, cmd.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi);
  CloseHandle(writeEnd);
  std::string out;
  if (started) {
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(readEnd, buffer, sizeof(buffer), &got, nullptr) && got) out.append(buffer, got);
    WaitForSingleObject(pi.hProcess, 60000);
    if (exitCode) GetExitCodeProcess(pi.hProcess, exitCode);
    CloseHandle(pi.hProcess);
    CloseHandle(pi.hThread);
  }
  CloseHandle(readEnd);
  if (!started) return L"<not started>";
  std::wstring wide(out.size(), L'\0');
  wide.resize(MultiByteToWideChar(CP_UTF8, 0, out.data(), static_cast<int>(out.size()), wide.data(),
                                  static_cast<int>(wide.size())));
  return wide;
}

}  // namespace tamberlux::test

namespace tamberlux::test {

PrivateUserHive::PrivateUserHive() {
  const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
  path_ = L"Software\\TamberluxTests\\";
  for (const char* c = info ? info->name() : "scenario"; *c; ++c) path_ += static_cast<wchar_t>(*c);
  path_ += L"." + std::to_wstring(GetCurrentProcessId());
  RegDeleteTreeW(HKEY_CURRENT_USER, path_.c_str());
  HKEY key = nullptr;
  EXPECT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, path_.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
            ERROR_SUCCESS);
  EXPECT_EQ(RegOverridePredefKey(HKEY_CURRENT_USER, key), ERROR_SUCCESS);
  RegCloseKey(key);
}

PrivateUserHive::~PrivateUserHive() {
  RegOverridePredefKey(HKEY_CURRENT_USER, nullptr);
  RegDeleteTreeW(HKEY_CURRENT_USER, path_.c_str());
}

void SetValue(const std::wstring& path, const std::wstring& name, DWORD type, const void* data, DWORD size) {
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
            ERROR_SUCCESS);
  ASSERT_EQ(RegSetValueExW(key, name.empty() ? nullptr : name.c_str(), 0, type, static_cast<const BYTE*>(data), size),
            ERROR_SUCCESS);
  RegCloseKey(key);
}

void SetText(const std::wstring& path, const std::wstring& name, const std::wstring& text) {
  SetValue(path, name, REG_SZ, text.c_str(), static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
}

void SetDword(const std::wstring& path, const std::wstring& name, DWORD value) {
  SetValue(path, name, REG_DWORD, &value, sizeof(value));
}

bool KeyExists(const std::wstring& path) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
  RegCloseKey(key);
  return true;
}

RawValue ReadRaw(const std::wstring& path, const std::wstring& name) {
  RawValue v;
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return v;
  DWORD size = 0;
  if (RegQueryValueExW(key, name.empty() ? nullptr : name.c_str(), nullptr, &v.type, nullptr, &size) == ERROR_SUCCESS) {
    v.exists = true;
    v.data.resize(size);
    RegQueryValueExW(key, name.empty() ? nullptr : name.c_str(), nullptr, &v.type, v.data.data(), &size);
  }
  RegCloseKey(key);
  return v;
}

std::vector<std::wstring> ValueNames(const std::wstring& path) {
  std::vector<std::wstring> names;
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return names;
  for (DWORD i = 0;; ++i) {
    wchar_t name[512];
    DWORD length = 512;
    if (RegEnumValueW(key, i, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
    names.emplace_back(name, length);
  }
  RegCloseKey(key);
  return names;
}

}  // namespace tamberlux::test

namespace tamberlux::test {

namespace {
constexpr wchar_t kWordScript[] = L"Software\\TamberluxTests\\WordStandIn";

std::wstring TempFile(const std::wstring& stem) {
  wchar_t dir[MAX_PATH];
  GetTempPathW(MAX_PATH, dir);
  return std::wstring(dir) + stem + L"." + std::to_wstring(GetCurrentProcessId()) + L"." +
         std::to_wstring(GetTickCount64()) + L".txt";
}

std::wstring ReadUtf8(const std::wstring& path) {
  std::string bytes = ProductTemplate::Read(path);
  if (bytes == "<missing>") bytes.clear();
  std::wstring wide(bytes.size(), L'\0');
  wide.resize(MultiByteToWideChar(CP_UTF8, 0, bytes.data(), static_cast<int>(bytes.size()), wide.data(),
                                  static_cast<int>(wide.size())));
  return wide;
}

DWORD RunQuiet(const std::wstring& commandLine) {
  DWORD code = 99;
  RunAndCapture(commandLine, &code);
  return code;
}
}  // namespace

WordStandIn::WordStandIn() : log_(TempFile(L"WordStandIn")) {
  EndAll();
  RegDeleteTreeW(HKEY_LOCAL_MACHINE, kWordScript);
  Register();
  Set(L"CallLog", log_);
}

WordStandIn::~WordStandIn() {
  EndAll();
  RunQuiet(L"\"" + BinDir() + L"WordStandIn.exe\" /unregserver");
  RegDeleteTreeW(HKEY_LOCAL_MACHINE, kWordScript);
  DeleteFileW(log_.c_str());
}

void WordStandIn::Set(const wchar_t* name, const std::wstring& text) {
  ASSERT_EQ(RegSetKeyValueW(HKEY_LOCAL_MACHINE, kWordScript, name, REG_SZ, text.c_str(),
                            static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t))),
            ERROR_SUCCESS);
}

void WordStandIn::Set(const wchar_t* name, DWORD number) {
  ASSERT_EQ(RegSetKeyValueW(HKEY_LOCAL_MACHINE, kWordScript, name, REG_DWORD, &number, sizeof(number)),
            ERROR_SUCCESS);
}

void WordStandIn::SetList(const wchar_t* name, const std::vector<std::wstring>& items) {
  std::wstring data;
  for (const auto& item : items) data += item + L'\0';
  data += L'\0';
  ASSERT_EQ(RegSetKeyValueW(HKEY_LOCAL_MACHINE, kWordScript, name, REG_MULTI_SZ, data.c_str(),
                            static_cast<DWORD>(data.size() * sizeof(wchar_t))),
            ERROR_SUCCESS);
}

LateObject WordStandIn::Start() {
  CLSID clsid;
  EXPECT_EQ(CLSIDFromProgID(L"Word.Application", &clsid), S_OK);
  ComPtr<IDispatch> d;
  EXPECT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_LOCAL_SERVER, IID_IDispatch, d.PutVoid()), S_OK);
  return LateObject(std::move(d));
}

void WordStandIn::Register() { EXPECT_EQ(RunQuiet(L"\"" + BinDir() + L"WordStandIn.exe\" /regserver"), 0u); }

void WordStandIn::Unregister() { RunQuiet(L"\"" + BinDir() + L"WordStandIn.exe\" /unregserver"); }

std::vector<std::vector<std::wstring>> WordStandIn::Lines() const {
  std::vector<std::vector<std::wstring>> lines;
  for (const auto& line : Split(ReadUtf8(log_), L'\n'))
    if (!line.empty()) lines.push_back(Split(line, L'\t'));
  return lines;
}

std::vector<DWORD> WordStandIn::Processes() const {
  std::vector<DWORD> pids;
  for (const auto& fields : Lines())
    if (fields.size() > 1 && fields[1] == L"Created") pids.push_back(std::wcstoul(fields[0].c_str(), nullptr, 10));
  return pids;
}

std::vector<std::wstring> WordStandIn::Calls(DWORD process) const {
  std::vector<std::wstring> calls;
  for (const auto& fields : Lines()) {
    if (fields.size() < 2 || std::wcstoul(fields[0].c_str(), nullptr, 10) != process) continue;
    std::wstring call = fields[1];
    for (size_t i = 2; i < fields.size(); ++i) call += L"\t" + fields[i];
    calls.push_back(call);
  }
  return calls;
}

std::vector<std::wstring> WordStandIn::Calls() const {
  const auto pids = Processes();
  return pids.empty() ? std::vector<std::wstring>{} : Calls(pids.front());
}

bool WordStandIn::Running(DWORD process) const {
  HANDLE h = OpenProcess(SYNCHRONIZE, FALSE, process);
  if (!h) return false;
  const bool running = WaitForSingleObject(h, 0) == WAIT_TIMEOUT;
  CloseHandle(h);
  return running;
}

std::vector<HWND> WordStandIn::Windows(DWORD process) {
  std::vector<HWND> windows;
  for (HWND w = FindWindowExW(nullptr, nullptr, L"OpusApp", nullptr); w;
       w = FindWindowExW(nullptr, w, L"OpusApp", nullptr)) {
    DWORD owner = 0;
    GetWindowThreadProcessId(w, &owner);
    if (owner == process) windows.push_back(w);
  }
  return windows;
}

void WordStandIn::EndAll() {
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return;
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof(entry);
  for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry)) {
    if (_wcsicmp(entry.szExeFile, L"WordStandIn.exe") != 0) continue;
    HANDLE h = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, entry.th32ProcessID);
    if (!h) continue;
    TerminateProcess(h, 9);
    WaitForSingleObject(h, 5000);
    CloseHandle(h);
  }
  CloseHandle(snapshot);
}

DialogWatch::DialogWatch(const std::wstring& watchClass, int press, DWORD timeoutMs) {
  std::wstring cmd = L"\"" + BinDir() + L"DialogReader.exe\" --press " + std::to_wstring(press) + L" --timeout " +
                     std::to_wstring(timeoutMs) + (watchClass.empty() ? L"" : L" --watch " + watchClass);
  reader_ = std::thread([this, cmd] { output_ = RunAndCapture(cmd); });
}

DialogWatch::~DialogWatch() {
  if (reader_.joinable()) reader_.join();
}

DialogWatch::Seen DialogWatch::Result() {
  if (reader_.joinable()) reader_.join();
  const auto fields = Split(output_, L'\0');
  Seen seen;
  for (size_t i = 0; i + 1 < fields.size(); i += 2) {
    const std::wstring& value = fields[i + 1];
    if (fields[i] == L"title") seen.appeared = true, seen.title = value;
    if (fields[i] == L"text") seen.text = value;
    if (fields[i] == L"left") seen.watchedLeft = std::wcstol(value.c_str(), nullptr, 10);
    if (fields[i] == L"visible") seen.watchedVisible = value == L"1";
  }
  return seen;
}

}  // namespace tamberlux::test

namespace tamberlux::test {

void AddEntry(const std::wstring& list, const std::wstring& valueName, const std::vector<BYTE>& data) {
  SetValue(list, valueName, REG_BINARY, data.data(), static_cast<DWORD>(data.size()));
}

}  // namespace tamberlux::test

namespace tamberlux::test {

DWORD Regsvr32(const std::wstring& flags) { return RunQuiet(L"regsvr32 " + flags + L" \"" + BinDir() + L"Tamberlux.dll\""); }

std::wstring RunVBScript(const std::vector<std::wstring>& lines) {
  const std::wstring script = BinDir() + L"script-" + std::to_wstring(GetCurrentProcessId()) + L".vbs";
  std::wstring text;
  for (const auto& line : lines) text += line + L"\r\n";
  ProductTemplate::Write(script, std::string(text.begin(), text.end()));
  const std::wstring output = RunAndCapture(L"cscript //nologo \"" + script + L"\"");
  DeleteFileW(script.c_str());
  return output;
}

ComPtr<IDispatch> CreateMain2() {
  CLSID clsid;
  EXPECT_EQ(CLSIDFromProgID(L"Tamberlux.Main2", &clsid), S_OK);
  ComPtr<IDispatch> d;
  EXPECT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch, d.PutVoid()), S_OK);
  return d;
}

HRESULT CallByName(IDispatch* d, const wchar_t* name, std::vector<VARIANT> args, VARIANT* result) {
  DISPID id;
  LPOLESTR n = const_cast<LPOLESTR>(name);
  HRESULT hr = d->GetIDsOfNames(IID_NULL, &n, 1, LOCALE_USER_DEFAULT, &id);
  if (FAILED(hr)) return hr;
  std::vector<VARIANT> reversed(args.rbegin(), args.rend());
  DISPPARAMS dp{reversed.data(), nullptr, static_cast<UINT>(reversed.size()), 0};
  Variant ignored;
  return d->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &dp, result ? result : &ignored, nullptr,
                   nullptr);
}

}  // namespace tamberlux::test

namespace tamberlux::test {

namespace {
std::wstring Folder(int csidl) {
  wchar_t path[MAX_PATH] = {};
  EXPECT_EQ(SHGetFolderPathW(nullptr, csidl, nullptr, 0, path), S_OK);
  return path;
}
}  // namespace

ProductTemplate::ProductTemplate(const std::wstring& name)
    : name_(name),
      sourceDir_(Folder(CSIDL_PROGRAM_FILES) + L"\\Valdomeren\\" + name + L"\\"),
      copyDir_(Folder(CSIDL_APPDATA) + L"\\Microsoft\\Templates\\") {
  SHCreateDirectoryExW(nullptr, sourceDir_.c_str(), nullptr);
  SHCreateDirectoryExW(nullptr, copyDir_.c_str(), nullptr);
  for (const wchar_t* extension : {L".dot", L".dotm"}) {
    DeleteFileW(Source(extension).c_str());
    DeleteFileW(Copy(extension).c_str());
  }
}

ProductTemplate::~ProductTemplate() {
  for (const wchar_t* extension : {L".dot", L".dotm"}) {
    DeleteFileW(Source(extension).c_str());
    DeleteFileW(Copy(extension).c_str());
  }
  RemoveDirectoryW(sourceDir_.c_str());
}

std::wstring ProductTemplate::Source(const wchar_t* extension) const { return sourceDir_ + name_ + extension; }
std::wstring ProductTemplate::Copy(const wchar_t* extension) const { return copyDir_ + name_ + extension; }

void ProductTemplate::Write(const std::wstring& path, const std::string& content) {
  HANDLE f = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(f, INVALID_HANDLE_VALUE) << "cannot write the fixture file";
  DWORD written = 0;
  WriteFile(f, content.data(), static_cast<DWORD>(content.size()), &written, nullptr);
  CloseHandle(f);
}

std::string ProductTemplate::Read(const std::wstring& path) {
  HANDLE f = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                         nullptr, OPEN_EXISTING, 0, nullptr);
  if (f == INVALID_HANDLE_VALUE) return "<missing>";
  std::string content;
  char buffer[4096];
  DWORD got = 0;
  while (ReadFile(f, buffer, sizeof(buffer), &got, nullptr) && got) content.append(buffer, got);
  CloseHandle(f);
  return content;
}

FILETIME ProductTemplate::Time(const std::wstring& path) {
  FILETIME t{};
  HANDLE f = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (f == INVALID_HANDLE_VALUE) return t;
  GetFileTime(f, nullptr, nullptr, &t);
  CloseHandle(f);
  return t;
}

void ProductTemplate::SetTime(const std::wstring& path, FILETIME time) {
  HANDLE f = CreateFileW(path.c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(f, INVALID_HANDLE_VALUE);
  EXPECT_TRUE(SetFileTime(f, nullptr, nullptr, &time));
  CloseHandle(f);
}

}  // namespace tamberlux::test
