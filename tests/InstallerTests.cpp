// The dependency installer, end to end: `tamberlux install-deps` (the
// component's own EnsureDependenciesAreRegistered) run under the Windows
// version Wine is told to report, against stand-in libraries placed in the
// system folder, a stand-in download server on 127.0.0.1 and a stand-in
// installer, with the messages read off the screen.
#include <gtest/gtest.h>
#include <winsock2.h>
#include <shlobj.h>

#include <algorithm>
#include <map>

#include "TestSupport.h"
#include "component/Main2.h"
#include "installer/ObjectFactory.h"

namespace tamberlux {
namespace {

using test::BinDir;
constexpr wchar_t kInstallerKey[] = L"Software\\Valdomeren\\Zentrello\\Installer";
constexpr wchar_t kStandInKey[] = L"Software\\TamberluxTests\\InstallerStandIn";
constexpr wchar_t kUacKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\System";
constexpr wchar_t kVersionKey[] = L"Software\\Wine\\AppDefaults\\tamberlux.exe";
constexpr wchar_t kAsideScrrun[] = L"scrrun.dll.aside-by-InstallerTests";
constexpr wchar_t kRegistrations[] = L"Software\\TamberluxTests\\Registrations";

// Each group's stand-ins: the built file and its name in the system folder.
const std::map<std::wstring, std::vector<std::pair<std::wstring, std::wstring>>> kGroups{
    {L"infra.exe", {{L"MsgHook.dll", L"MsgHook.dll"}, {L"ThreadFactoryLib_RUNTIME.dll", L"ThreadFactoryLib_RUNTIME.dll"},
                    {L"VXPLib.dll", L"VXPLib.dll"}, {L"DartSock.dll", L"DartSock.dll"}, {L"DartWeb.dll", L"DartWeb.dll"}}},
    {L"comctl32.exe", {{L"comctl32_ocx.dll", L"comctl32.ocx"}, {L"mscomctl_ocx.dll", L"mscomctl.ocx"}}},
    {L"comct232.exe", {{L"comct232_ocx.dll", L"comct232.ocx"}}}};

std::wstring Folder(int csidl, const wchar_t* under = L"") {
  wchar_t path[MAX_PATH];
  SHGetFolderPathW(nullptr, csidl, nullptr, 0, path);
  return std::wstring(path) + L"\\" + under;
}
std::wstring SystemFolder() { return Folder(CSIDL_SYSTEM); }
std::wstring TempFolder() {
  wchar_t path[MAX_PATH];
  return std::wstring(path, GetTempPathW(MAX_PATH, path));
}
std::wstring ProgramFolder() { return Folder(CSIDL_PROGRAM_FILES, L"Valdomeren\\Zentrello\\"); }

HRESULT CallExport(const std::wstring& dll, const char* name) {
  HMODULE m = LoadLibraryW(dll.c_str());
  auto f = reinterpret_cast<HRESULT(STDAPICALLTYPE*)()>(reinterpret_cast<void*>(GetProcAddress(m, name)));
  const HRESULT hr = f ? f() : E_NOINTERFACE;
  FreeLibrary(m);
  return hr;
}

void SetMachine(const wchar_t* key, const wchar_t* name, const std::wstring& text, DWORD type = REG_SZ) {
  const DWORD number = std::wcstoul(text.c_str(), nullptr, 10);
  ASSERT_EQ(type == REG_DWORD ? RegSetKeyValueW(HKEY_LOCAL_MACHINE, key, name, REG_DWORD, &number, 4)
                              : RegSetKeyValueW(HKEY_LOCAL_MACHINE, key, name, type, text.c_str(),
                                                static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t))),
            ERROR_SUCCESS);
}

// One GET on 127.0.0.1; the body, or "<down>".
std::string Get(int port, const std::string& path) {
  SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  sockaddr_in a{AF_INET, htons(static_cast<u_short>(port)), {}, {}};
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  std::string out;
  if (connect(s, reinterpret_cast<sockaddr*>(&a), sizeof(a)) == 0) {
    const std::string request = "GET " + path + " HTTP/1.0\r\n\r\n";
    send(s, request.data(), static_cast<int>(request.size()), 0);
    char buffer[4096];
    for (int got; (got = recv(s, buffer, sizeof(buffer), 0)) > 0;) out.append(buffer, got);
  }
  closesocket(s);
  const size_t body = out.find("\r\n\r\n");
  return body == std::string::npos ? "<down>" : out.substr(body + 4);
}

int FreePort() {
  static const bool started = [] {
    WSADATA wsa;
    return WSAStartup(MAKEWORD(2, 2), &wsa) == 0;
  }();
  EXPECT_TRUE(started);
  SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  sockaddr_in a{AF_INET, 0, {}, {}};
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  int size = sizeof(a);
  bind(s, reinterpret_cast<sockaddr*>(&a), sizeof(a));
  getsockname(s, reinterpret_cast<sockaddr*>(&a), &size);
  closesocket(s);
  return ntohs(a.sin_port);
}

// The machine as one scenario needs it, and as it was afterwards: stand-in
// libraries in the system folder, the installer's settings, the download
// server, the Windows version, the scripting runtime.
class Machine {
 public:
  Machine() {
    Clean();
    CreateDirectoryW(stage_.c_str(), nullptr);
    SetMachine(kStandInKey, L"Log", log_);
    std::wstring command = L"/usr/bin/python3 " TAMBERLUX_DOWNLOAD_SERVER L" " + std::to_wstring(port_);
    const std::wstring installer = Unix(BinDir() + L"InstallerStandIn.exe");
    for (const wchar_t* p : {L"infra", L"comctl32", L"comct232", L"scr98me", L"scr2000xp"})
      command += std::wstring(L" /dependencies/") + p + L".exe=" + installer;
    STARTUPINFOW si{sizeof(si)};
    PROCESS_INFORMATION pi{};
    EXPECT_TRUE(CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi));
    CloseHandle(pi.hProcess), CloseHandle(pi.hThread);
    for (int i = 0; i < 100 && Get(port_, "/_requests") == "<down>"; ++i) Sleep(100);
    Server(L"http://127.0.0.1:" + std::to_wstring(port_));
  }
  ~Machine() {
    Get(port_, "/_quit");
    Clean();
    DeleteFileW(log_.c_str());
    RemoveDirectoryW(stage_.c_str());
  }

  // A group whose files are in place and registered.
  void Install(const std::wstring& group) {
    for (const auto& [built, name] : kGroups.at(group)) {
      ASSERT_TRUE(CopyFileW((BinDir() + built).c_str(), (SystemFolder() + name).c_str(), FALSE));
      ASSERT_EQ(CallExport(SystemFolder() + name, "DllRegisterServer"), S_OK);
    }
  }
  // What the stand-in installer installs when run.
  void Provide(const std::wstring& group) {
    std::wstring files;
    for (const auto& [built, name] : kGroups.at(group)) {
      CopyFileW((BinDir() + built).c_str(), (stage_ + name).c_str(), FALSE);
      files += stage_ + name + L'\0';
    }
    SetMachine(kStandInKey, L"Files", files, REG_MULTI_SZ);
  }
  // The product's own DLL in its program folder, not registered.
  void ProgramDll(const std::wstring& built, const std::wstring& name) {
    SHCreateDirectoryExW(nullptr, ProgramFolder().c_str(), nullptr);
    ASSERT_TRUE(CopyFileW((BinDir() + built).c_str(), (ProgramFolder() + name).c_str(), FALSE));
  }
  void InstallerMode(const wchar_t* mode) { SetMachine(kStandInKey, L"Mode", mode); }
  void Server(const std::wstring& address) { SetMachine(kInstallerKey, L"DownloadServer", address); }
  std::wstring Address() const { return L"http://127.0.0.1:" + std::to_wstring(port_); }
  void Mode(const std::string& path, const std::string& mode) { Get(port_, "/_mode?path=" + path + "&mode=" + mode); }
  std::string Requests() const { return Get(port_, "/_requests"); }
  std::wstring Sha256(const std::string& path) const {
    const std::string hex = Get(port_, "/_sha256?path=" + path);
    return std::wstring(hex.begin(), hex.end());
  }
  void Uac(bool on) { SetMachine(kUacKey, L"EnableLUA", on ? L"1" : L"0", REG_DWORD); }
  void Version(const wchar_t* version) {
    ASSERT_EQ(RegSetKeyValueW(HKEY_CURRENT_USER, kVersionKey, L"Version", REG_SZ, version,
                              static_cast<DWORD>((wcslen(version) + 1) * 2)),
              ERROR_SUCCESS);
  }
  // The scripting runtime's file gone from the system folder for this scenario; put back afterwards.
  void RemoveScripting() {
    ASSERT_TRUE(MoveFileW((SystemFolder() + L"scrrun.dll").c_str(), (SystemFolder() + kAsideScrrun).c_str()));
  }
  // Each run of the installer: "pid\tcommand line\tprogram".
  std::vector<std::wstring> InstallerRuns() const {
    std::string bytes = test::ProductTemplate::Read(log_);
    if (bytes == "<missing>") return {};
    std::wstring text(reinterpret_cast<const wchar_t*>(bytes.data()), bytes.size() / 2);
    auto lines = test::Split(text, L'\n');
    lines.pop_back();
    return lines;
  }

 private:
  static std::wstring Unix(std::wstring path) {  // Z: is the Unix root
    std::replace(path.begin(), path.end(), L'\\', L'/');
    return path.substr(2);
  }
  void Clean() {
    for (const auto& [group, files] : kGroups)
      for (const auto& [built, name] : files) {
        CallExport(BinDir() + built, "DllUnregisterServer");
        DeleteFileW((SystemFolder() + name).c_str());
        DeleteFileW((stage_ + name).c_str());
      }
    CallExport(BinDir() + L"Example.dll", "DllUnregisterServer");
    DeleteFileW((ProgramFolder() + L"Example.dll").c_str());
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, kInstallerKey);
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, kStandInKey);
    RegDeleteTreeW(HKEY_CURRENT_USER, kVersionKey);
    RegDeleteTreeW(HKEY_CURRENT_USER, kRegistrations);
    Uac(false);
    if (MoveFileW((SystemFolder() + kAsideScrrun).c_str(), (SystemFolder() + L"scrrun.dll").c_str()))
      CallExport(L"scrrun.dll", "DllRegisterServer");
  }

  int port_ = FreePort();
  std::wstring stage_ = TempFolder() + L"installer-stage." + std::to_wstring(GetCurrentProcessId()) + L"\\";
  std::wstring log_ = stage_.substr(0, stage_.size() - 1) + L".log";
};

constexpr wchar_t kProgressTitle[] = L"Zentrello is downloading core library files";

// `tamberlux install-deps Zentrello <args>` while the stand-in Word runs;
// each message box it shows is read and answered in turn (presses: the
// button for each box expected), then one more is looked for briefly.
struct Outcome {
  DWORD exitCode = 99;
  std::vector<std::wstring> boxes;  // "title|text"
};
Outcome InstallDeps(const std::wstring& args, std::vector<int> presses = {}) {
  test::WordStandIn word;
  test::StartedTrap apartment;
  LateObject running = test::WordStandIn::Start();
  Outcome o;
  // Not through a pipe: a hung installer would keep it open.
  std::wstring command = L"\"" + BinDir() + L"tamberlux.exe\" install-deps Zentrello " + args;
  STARTUPINFOW si{sizeof(si)};
  PROCESS_INFORMATION pi{};
  EXPECT_TRUE(CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi));
  std::thread run([&] {
    WaitForSingleObject(pi.hProcess, 100000);
    GetExitCodeProcess(pi.hProcess, &o.exitCode);
    CloseHandle(pi.hProcess), CloseHandle(pi.hThread);
  });
  presses.push_back(IDOK);  // and one more look: no box beyond those expected
  for (size_t i = 0; i < presses.size(); ++i) {
    test::DialogWatch watch(L"", presses[i], i + 1 < presses.size() ? 60000 : 3000);
    const auto seen = watch.Result();
    if (!seen.appeared) break;
    // A download that happens to take long shows its progress: not one of the boxes asked about.
    if (seen.title == kProgressTitle && presses[i] != IDCANCEL) {
      Sleep(200), --i;
      continue;
    }
    o.boxes.push_back(seen.title + L"|" + seen.text);
    for (int w = 0; w < 100 && FindWindowW(L"#32770", seen.title.c_str()); ++w) Sleep(50);
  }
  run.join();
  running.Call(L"Quit");
  return o;
}

std::wstring Notice() {
  return L"Zentrello needs to install core library files|Zentrello needs to download and install some core library "
         L"files to work.\r\nIf Windows asks you to reboot, click 'No'.";
}
std::wstring Missing(const std::wstring& file, const std::wstring& url) {
  return L"You need to reinstall " + file + L"|Microsoft Word will now exit because Zentrello is missing one of the "
         L"files that it needs to run: " + file + L".\r\nTo fix this problem, please download and install it from:\r\n" + url;
}

}  // namespace
}  // namespace tamberlux

namespace tamberlux {
namespace {

TEST(Installer, WithEverythingInPlaceNothingIsDownloadedAndNothingShown) {
  for (const wchar_t* version : {L"win7", L"winxp"}) {
    SCOPED_TRACE(version);
    Machine m;
    m.Version(version);
    m.Install(L"infra.exe");
    m.Install(L"comct232.exe");
    if (version == std::wstring(L"winxp")) m.Install(L"comctl32.exe");  // Vista and later do without it
    m.ProgramDll(L"Example.dll", L"Example.dll");  // present, and registers itself
    for (const wchar_t* lists : {L"--deps Example.dll --xp-deps Example.dll", L""}) {
      const Outcome o = InstallDeps(lists);
      EXPECT_EQ(o.exitCode, 0u) << lists;
      EXPECT_EQ(o.boxes, std::vector<std::wstring>{}) << lists;
    }
    EXPECT_EQ(m.Requests(), "");
    EXPECT_EQ(m.InstallerRuns().size(), 0u);
  }
}

TEST(Installer, AMissingGroupIsFetchedInstalledQuietlyAndCheckedAgain) {
  struct Row {
    const wchar_t* version;
    const wchar_t* group;
    bool uac;
    std::vector<std::wstring> boxes;  // filled in below: they name the server
    DWORD exitCode;
  };
  for (Row r : {Row{L"win7", L"comct232.exe", false, {}, 0}, Row{L"win7", L"comct232.exe", true, {}, 5},
                Row{L"winxp", L"comctl32.exe", false, {}, 0}}) {
    SCOPED_TRACE(std::wstring(r.version) + L" " + r.group + (r.uac ? L" with user account control" : L""));
    Machine m;
    m.Version(r.version);
    m.Uac(r.uac);
    for (const wchar_t* g : {L"infra.exe", L"comctl32.exe", L"comct232.exe"})
      if (g != std::wstring(r.group)) m.Install(g);
    m.Provide(r.group);
    const std::string path = "/dependencies/" + std::string(r.group, r.group + wcslen(r.group));
    r.boxes = r.uac ? std::vector<std::wstring>{Missing(r.group, m.Address() + std::wstring(path.begin(), path.end()))}
                    : std::vector<std::wstring>{Notice()};
    const Outcome o = InstallDeps(L"", {IDOK});
    EXPECT_EQ(o.boxes, r.boxes);
    EXPECT_EQ(o.exitCode, r.exitCode);
    EXPECT_EQ(m.Requests(), path + "\n");
    const auto runs = m.InstallerRuns();
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_TRUE(runs[0].ends_with(L" /Q\t" + test::Split(runs[0], L'\t')[2])) << runs[0];
    CLSID clsid;
    EXPECT_EQ(CLSIDFromProgID(r.group == std::wstring(L"comct232.exe") ? L"ComCtl2.UpDown" : L"Comctl.ImageListCtrl",
                              &clsid),
              S_OK);
  }
}

TEST(Installer, AFailedDownloadWarnsAndRunsNothing) {
  struct Row {
    const char* what;
    const char* mode;
    int pin;  // 0 none, 1 the served file's, 2 another
    bool requirePins;
    size_t runs;
  };
  for (const Row& r : {Row{"server down", "ok", 0, false, 0}, Row{"404", "404", 0, false, 0},
                       Row{"500", "500", 0, false, 0}, Row{"wrong bytes", "wrong", 1, false, 0},
                       Row{"a pin that does not match", "ok", 2, false, 0},
                       Row{"no pin, pins required", "ok", 0, true, 0}, Row{"cancelled", "slow", 0, false, 0},
                       Row{"the right pin, pins required (runs)", "ok", 1, true, 1}}) {
    SCOPED_TRACE(r.what);
    Machine m;
    m.InstallerMode(L"nothing");
    m.Mode("/dependencies/infra.exe", r.mode);
    if (r.pin)
      SetMachine(L"Software\\Valdomeren\\Zentrello\\Installer\\Pins", L"/dependencies/infra.exe",
                 r.pin == 1 ? m.Sha256("/dependencies/infra.exe") : std::wstring(64, L'0'));
    if (r.requirePins) SetMachine(kInstallerKey, L"RequirePins", L"1", REG_DWORD);
    const std::wstring server = std::string(r.what) == "server down" ? L"http://127.0.0.1:" + std::to_wstring(FreePort())
                                                                     : m.Address();
    m.Server(server);
    const bool cancel = std::string(r.mode) == "slow";
    const Outcome o = InstallDeps(L"", cancel ? std::vector<int>{IDOK, IDCANCEL, IDOK} : std::vector<int>{IDOK, IDOK});
    ASSERT_EQ(o.boxes.size(), cancel ? 3u : 2u);
    EXPECT_EQ(o.boxes.front(), Notice());
    if (cancel) {
      EXPECT_TRUE(o.boxes[1].starts_with(std::wstring(kProgressTitle) + L"|Downloading infra.exe: ")) << o.boxes[1];
    }
    EXPECT_EQ(o.boxes.back(), Missing(L"infra.exe", server + L"/dependencies/infra.exe"));
    EXPECT_EQ(o.exitCode, 5u);
    EXPECT_EQ(m.InstallerRuns().size(), r.runs);
  }
}

TEST(Installer, TheWindowsVersionDecidesInstallersAndLists) {
  struct Row {
    const wchar_t* version;
    const wchar_t* args;
    bool scriptingMissing;
    const char* requests;
    std::vector<std::wstring> boxes;
    DWORD exitCode;
  };
  const std::wstring reboot =
      L"You need to reboot your computer|Microsoft Word will now exit because Zentrello needs to reboot your "
      L"computer to finish installing.\r\nPlease reboot your computer to fix this problem.";
  for (const Row& r : {Row{L"win98", L"", true, "/dependencies/scr98me.exe\n", {Notice(), reboot}, 5},
                       Row{L"winxp", L"", true, "/dependencies/scr2000xp.exe\n", {Notice(), reboot}, 5},
                       Row{L"win2k", L"--xp-deps Missing.dll", false, "", {}, 0},
                       Row{L"winxp", L"--xp-deps Missing.dll", false, "", {L"?"}, 5}}) {
    SCOPED_TRACE(std::wstring(r.version) + L" " + r.args);
    Machine m;
    m.Version(r.version);
    m.InstallerMode(L"nothing");
    for (const wchar_t* g : {L"infra.exe", L"comctl32.exe", L"comct232.exe"}) m.Install(g);
    if (r.scriptingMissing) m.RemoveScripting();
    const Outcome o = InstallDeps(r.args, std::vector<int>(r.boxes.size(), IDOK));
    EXPECT_EQ(o.boxes, r.boxes == std::vector<std::wstring>{L"?"}
                           ? std::vector<std::wstring>{Missing(L"Missing.dll", m.Address() + L"/Zentrello.exe")}
                           : r.boxes);
    EXPECT_EQ(o.exitCode, r.exitCode);
    EXPECT_EQ(m.Requests(), r.requests);
  }
}

TEST(Installer, AHungInstallerEndsTheWaitWithTheWarningAndKeepsRunning) {
  Machine m;
  for (const wchar_t* g : {L"infra.exe", L"comctl32.exe"}) m.Install(g);
  m.InstallerMode(L"hang");
  SetMachine(kInstallerKey, L"InstallerWaitSeconds", L"2", REG_DWORD);
  const Outcome o = InstallDeps(L"", {IDOK, IDOK});
  EXPECT_EQ(o.boxes, (std::vector<std::wstring>{Notice(), Missing(L"comct232.exe", m.Address() + L"/dependencies/comct232.exe")}));
  EXPECT_EQ(o.exitCode, 5u);
  const auto runs = m.InstallerRuns();
  ASSERT_EQ(runs.size(), 1u);
  HANDLE installer = OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE, FALSE, std::wcstoul(runs[0].c_str(), nullptr, 10));
  ASSERT_NE(installer, nullptr);
  EXPECT_EQ(WaitForSingleObject(installer, 0), static_cast<DWORD>(WAIT_TIMEOUT)) << "still running";
  TerminateProcess(installer, 0);
  WaitForSingleObject(installer, 5000);
  CloseHandle(installer);
}

TEST(Installer, ReleaseNamesFollowTheVersionWindowsReports) {
  const std::pair<const wchar_t*, const wchar_t*> rows[] = {
      {L"win95", L"Windows 95"}, {L"win98", L"Windows 98"}, {L"winme", L"Windows ME"},
      {L"nt40", L"Windows NT"}, {L"win2k", L"Windows 2000"}, {L"winxp", L"Windows XP"},
      {L"win2003", L"Windows 2003 Server"}, {L"vista", L"Windows Vista"}, {L"win7", L"Windows Vista"},
      {L"win10", L"Windows Vista"}};  // 6.2: without a manifest saying otherwise
  Machine m;
  for (const auto& [version, name] : rows) {
    m.Version(version);
    const std::wstring out = test::RunAndCapture(L"\"" + BinDir() + L"tamberlux.exe\" check Zentrello");
    EXPECT_TRUE(out.starts_with(std::wstring(L"Zentrello on ") + name + L", download server")) << version << ": " << out;
  }
}

// The component's own checks, in this process: a DLL that registers itself,
// one that cannot, one that registers nothing, and a file that is no DLL.
TEST(Installer, ADllIsLetRegisterItselfOnceAndFailuresReportNothing) {
  test::PrivateUserHive hive;
  test::StartedTrap trap;
  test::ReporterStandIn reporter;
  const std::wstring folder = TempFolder() + L"selfreg." + std::to_wstring(GetCurrentProcessId()) + L"\\";
  CreateDirectoryW(folder.c_str(), nullptr);
  for (const wchar_t* f : {L"Example.dll", L"NoRegister.dll", L"RegistersNothing.dll"})
    ASSERT_TRUE(CopyFileW((BinDir() + f).c_str(), (folder + f).c_str(), FALSE));
  test::ProductTemplate::Write(folder + L"NotADll.dll", "MZ but no more");
  Main2 m;
  const auto count = [](const wchar_t* progId) {
    const auto raw = test::ReadRaw(kRegistrations, progId);
    return raw.exists ? *reinterpret_cast<const DWORD*>(raw.data.data()) : 0u;
  };
  EXPECT_TRUE(m.Createable(folder + L"Example.dll", L"Example.Main2"));
  EXPECT_EQ(count(L"Example.Main2"), 1u);
  EXPECT_TRUE(m.Createable(folder + L"Example.dll", L"Example.Main2"));  // registered now: not loaded again
  EXPECT_EQ(count(L"Example.Main2"), 1u);
  EXPECT_EQ(m.GetFileFromProgID(L"Example.Main2"), folder + L"Example.dll");
  EXPECT_FALSE(m.Createable(folder + L"NoRegister.dll", L"NoRegister.Main2"));
  EXPECT_FALSE(m.Createable(folder + L"NotADll.dll", L"NotADll.Main2"));
  EXPECT_FALSE(m.Createable(folder + L"Missing.dll", L"Missing.Main2"));
  EXPECT_TRUE(ObjectFactory::RegisterServer(folder + L"RegistersNothing.dll"));
  EXPECT_FALSE(m.Createable(folder + L"RegistersNothing.dll", L"RegistersNothing.Main2"));
  EXPECT_EQ(count(L"RegistersNothing.Main2"), 2u);
  EXPECT_EQ(reporter.Count(L"vbwErrorHandler"), 0);
  EXPECT_TRUE(m.fileExists(folder + L"Ex*.dll"));
  EXPECT_FALSE(m.fileExists(folder));
  EXPECT_EQ(m.GetFileFromProgID(L"Missing.Main2"), L"");
  const auto calls = reporter.Calls();
  ASSERT_EQ(reporter.Count(L"vbwErrorHandler"), 1);
  EXPECT_TRUE(std::any_of(calls.begin(), calls.end(), [](const auto& c) {
    return c[0] == L"vbwErrorHandler" && c[1] == L"12345" && c[2] == L"Could not read CLSID";
  }));
  CallExport(BinDir() + L"Example.dll", "DllUnregisterServer");
  for (const wchar_t* f : {L"Example.dll", L"NoRegister.dll", L"RegistersNothing.dll", L"NotADll.dll"})
    DeleteFileW((folder + f).c_str());
  RemoveDirectoryW(folder.c_str());
}

}  // namespace
}  // namespace tamberlux

namespace tamberlux {
namespace {

// A cache under a folder with a blank: unquoted, "C:\Cache Test\…\x.exe /Q"
// would start C:\Cache.exe. The stand-in installer is put there to show it is not.
TEST(Installer, AnInstallerInACachePathWithBlanksRunsByItsWholePath) {
  constexpr wchar_t kFolders[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders";
  const std::wstring decoy = L"C:\\Cache.exe", cache = L"C:\\Cache Test";
  wchar_t old[MAX_PATH] = {};
  DWORD size = sizeof(old);
  ASSERT_EQ(RegGetValueW(HKEY_CURRENT_USER, kFolders, L"Cache", RRF_RT_ANY | RRF_NOEXPAND, nullptr, old, &size), 0);
  Machine m;
  for (const wchar_t* g : {L"infra.exe", L"comctl32.exe"}) m.Install(g);
  m.Provide(L"comct232.exe");
  ASSERT_TRUE(CopyFileW((BinDir() + L"InstallerStandIn.exe").c_str(), decoy.c_str(), FALSE));
  RegSetKeyValueW(HKEY_CURRENT_USER, kFolders, L"Cache", REG_EXPAND_SZ, cache.c_str(),
                  static_cast<DWORD>((cache.size() + 1) * 2));
  const Outcome o = InstallDeps(L"", {IDOK});
  RegSetKeyValueW(HKEY_CURRENT_USER, kFolders, L"Cache", REG_EXPAND_SZ, old, size);
  DeleteFileW(decoy.c_str());
  test::RunAndCapture(L"cmd /c rmdir /s /q \"" + cache + L"\"");
  EXPECT_EQ(o.exitCode, 0u);
  const auto runs = m.InstallerRuns();
  ASSERT_EQ(runs.size(), 1u);
  EXPECT_TRUE(test::Split(runs[0], L'\t')[2].starts_with(cache + L"\\")) << runs[0];
}

}  // namespace
}  // namespace tamberlux
