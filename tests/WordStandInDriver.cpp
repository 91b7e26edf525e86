// Drives the stand-in Word: its script key, its registration, its processes and
// the log of the calls it received.
#include "TestSupport.h"

#include <tlhelp32.h>

#include "StandInDispatch.h"

namespace tamberlux::test {

namespace {
constexpr const wchar_t* kWordScript = standin::kWordScriptKey;

void Script(const wchar_t* name, DWORD type, const void* data, size_t size) {
  ASSERT_EQ(RegSetKeyValueW(HKEY_LOCAL_MACHINE, kWordScript, name, type, data, static_cast<DWORD>(size)),
            ERROR_SUCCESS)
      << "the stand-in Word cannot be told " << ToUtf8(name);
}

// The stand-in Word's server command, as registered and as COM starts it.
std::wstring ServerCommand() { return L"\"" + BinDir() + L"WordStandIn.exe\""; }

// The snapshot holds the processes of this wineserver, that is of this test program's prefix.
void EndAll() {
  const Handle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  PROCESSENTRY32W entry{sizeof(entry)};
  for (BOOL more = snapshot && Process32FirstW(snapshot.Get(), &entry); more;
       more = Process32NextW(snapshot.Get(), &entry))
    if (_wcsicmp(entry.szExeFile, L"WordStandIn.exe") == 0) EndProcess(entry.th32ProcessID);
}
}  // namespace

WordStandIn::WordStandIn() {
  wchar_t dir[MAX_PATH];
  GetTempPathW(MAX_PATH, dir);
  log_ = dir + (L"WordStandIn." + std::to_wstring(GetCurrentProcessId()) + L"." +
                std::to_wstring(GetTickCount64()) + L".txt");
  EndAll();
  RegDeleteTreeW(HKEY_LOCAL_MACHINE, kWordScript);
  Register();
  Set(L"CallLog", log_);
}

WordStandIn::~WordStandIn() {
  EndAll();
  Unregister();
  RegDeleteTreeW(HKEY_LOCAL_MACHINE, kWordScript);
  DeleteFileW(log_.c_str());
}

void WordStandIn::Set(const wchar_t* name, const std::wstring& text) {
  Script(name, REG_SZ, text.c_str(), (text.size() + 1) * sizeof(wchar_t));
}

void WordStandIn::Set(const wchar_t* name, DWORD number) { Script(name, REG_DWORD, &number, sizeof(number)); }

void WordStandIn::SetList(const wchar_t* name, const std::vector<std::wstring>& items) {
  std::wstring data;
  for (const auto& item : items) data += item + L'\0';
  data += L'\0';
  Script(name, REG_MULTI_SZ, data.c_str(), data.size() * sizeof(wchar_t));
}

// The keys the stand-in's own /regserver writes, written here: a process less for every case.
void WordStandIn::Register() {
  EXPECT_TRUE(::standin::RegisterClassKeys(standin::kWordClsid, standin::kWordProgId, L"LocalServer32",
                                         ServerCommand(), nullptr))
      << "the stand-in Word registers";
}
void WordStandIn::Unregister() { ::standin::UnregisterClassKeys(standin::kWordClsid, standin::kWordProgId); }

LateObject WordStandIn::Start() {
  // Wine waits a whole second after starting a local server itself before it looks for the class again. So the
  // stand-in registered as Register() registers it is started here, as COM starts it, and created once it says its
  // class is registered; created as before, the object comes from that single-use registration.
  wchar_t server[MAX_PATH * 2] = {};
  LONG size = sizeof(server);
  const std::wstring registered = ServerCommand();
  if (RegQueryValueW(HKEY_CLASSES_ROOT, (std::wstring(L"CLSID\\") + standin::kWordClsid + L"\\LocalServer32").c_str(), server,
                     &size) == ERROR_SUCCESS && server == registered) {
    static std::atomic<int> starts{0};
    const std::wstring name = L"TamberluxWordReady." + std::to_wstring(GetCurrentProcessId()) + L"." +
                              std::to_wstring(++starts);
    const Handle ready(CreateEventW(nullptr, TRUE, FALSE, name.c_str()));
    const Started word = test::Start(registered + L" -Embedding " + standin::kWordReadyOption + L" " + name);
    const HANDLE either[] = {ready.Get(), word.process.Get()};
    if (word.process) WaitForMultipleObjects(2, either, FALSE, 30000);
  }
  try {
    return NewObject(L"Word.Application", CLSCTX_LOCAL_SERVER);
  } catch (...) { return LateObject(); }
}

std::vector<std::pair<DWORD, std::wstring>> WordStandIn::Lines() const {
  std::vector<std::pair<DWORD, std::wstring>> lines;
  for (const auto& line : Split(FromUtf8(ReadWholeFile(log_)), L'\n'))  // a log not yet written: "<missing>"
    if (const size_t tab = line.find(L'\t'); tab != std::wstring::npos)
      lines.emplace_back(std::wcstoul(line.c_str(), nullptr, 10), line.substr(tab + 1));
  return lines;
}

std::vector<DWORD> WordStandIn::Processes() const {
  std::vector<DWORD> pids;
  for (const auto& [pid, call] : Lines())
    if (call.substr(0, call.find(L'\t')) == L"Created") pids.push_back(pid);
  return pids;
}

std::vector<std::wstring> WordStandIn::Calls(DWORD process) const {
  std::vector<std::wstring> calls;
  for (const auto& [pid, call] : Lines())
    if (pid == process) calls.push_back(call);
  return calls;
}

std::vector<std::wstring> WordStandIn::Calls() const {
  const auto pids = Processes();
  return pids.empty() ? std::vector<std::wstring>{} : Calls(pids.front());
}

bool WordStandIn::Running(DWORD process) const {
  const Handle h(OpenProcess(SYNCHRONIZE, FALSE, process));
  return h && WaitForSingleObject(h.Get(), 0) == WAIT_TIMEOUT;
}

std::vector<HWND> WordStandIn::Windows(DWORD process) {
  std::vector<HWND> windows;
  for (HWND w = nullptr; (w = FindWindowExW(nullptr, w, L"OpusApp", nullptr));) {
    DWORD owner = 0;
    GetWindowThreadProcessId(w, &owner);
    if (owner == process) windows.push_back(w);
  }
  return windows;
}

}  // namespace tamberlux::test
