// The dependency installer, end to end: `tamberlux install-deps` run under the Windows version Wine is told
// to report, against stand-in libraries in the system folder, a stand-in download server on 127.0.0.1 and a
// stand-in installer, with the messages read off the screen.
#include <gtest/gtest.h>
#include <shlobj.h>

#include <algorithm>
#include <cstring>
#include <map>

#include "InstallerSurroundings.h"
#include "TestSupport.h"
#include "base/VbError.h"
#include "component/Main2.h"
#include "installer/InstallerSettings.h"
#include "installer/ObjectFactory.h"

namespace tamberlux::InstallerTests {
namespace {

using namespace std::string_literals;
using test::BinDir;
using test::CallExport;
using Boxes = std::vector<std::wstring>;  // each "title|text"
// The machine-wide settings, where the product's installer and the
// administrators' policies put them.
constexpr wchar_t kInstallerKey[] = L"Software\\Valdomeren\\Zentrello\\Installer";
constexpr wchar_t kPinsKey[] = L"Software\\Valdomeren\\Zentrello\\Installer\\Pins";
constexpr wchar_t kRequirePins[] = L"RequirePins";
using standin::kRegistrationsKey;
constexpr const wchar_t* kStandInKey = standin::kInstallerKey;
constexpr wchar_t kVersionKey[] = L"Software\\Wine\\AppDefaults\\tamberlux.exe";
constexpr wchar_t kAsideScrrun[] = L"scrrun.dll.aside-by-InstallerTests";
constexpr wchar_t kProgressTitle[] = L"Zentrello is downloading core library files";
const std::wstring kNotice =
    L"Zentrello needs to install core library files|Zentrello needs to download and install some core library "
    L"files to work.\r\nIf Windows asks you to reboot, click 'No'.";
std::wstring Missing(const std::wstring& file, const std::wstring& url) {
  return L"You need to reinstall " + file + L"|Microsoft Word will now exit because Zentrello is missing one of the "
         L"files that it needs to run: " + file + L".\r\nTo fix this problem, please download and install it from:\r\n" + url;
}

// Each group's stand-ins: the built file and its name in the system folder.
const std::map<std::wstring, std::vector<std::pair<std::wstring, std::wstring>>> kGroups{
    {L"infra.exe", {{L"MsgHook.dll", L"MsgHook.dll"}, {L"ThreadFactoryLib_RUNTIME.dll", L"ThreadFactoryLib_RUNTIME.dll"},
                    {L"VXPLib.dll", L"VXPLib.dll"}, {L"DartSock.dll", L"DartSock.dll"}, {L"DartWeb.dll", L"DartWeb.dll"}}},
    {L"comctl32.exe", {{L"comctl32_ocx.dll", L"comctl32.ocx"}, {L"mscomctl_ocx.dll", L"mscomctl.ocx"}}},
    {L"comct232.exe", {{L"comct232_ocx.dll", L"comct232.ocx"}}}};

std::wstring Folder(int csidl, const wchar_t* under) {
  wchar_t path[MAX_PATH];
  SHGetFolderPathW(nullptr, csidl, nullptr, 0, path);
  return std::wstring(path) + L"\\" + under;
}
const std::wstring kSystem = Folder(CSIDL_SYSTEM, L""), kProgram = Folder(CSIDL_PROGRAM_FILES, L"Valdomeren\\Zentrello\\");
void SetMachine(const wchar_t* key, const wchar_t* name, const std::wstring& text, DWORD type = REG_SZ) {
  ASSERT_EQ(test::SetMachineValue(key, name, text, type), ERROR_SUCCESS);
}

// The machine as one scenario needs it, and as it was afterwards: stand-in libraries in the system folder, the
// installer's settings, the download server, the Windows version, the scripting runtime.
struct Machine : test::DownloadStage {
  explicit Machine(const char* mode = "ok") : DownloadStage(L"installer-stage", mode) { Clean(); }
  ~Machine() { Clean(); }

  // Every group but `missing` in place and registered.
  void InstallAllBut(const std::wstring& missing) {
    for (const auto& [group, files] : kGroups)
      for (const auto& [built, name] : files)
        if (group != missing) {
          ASSERT_TRUE(CopyFileW((BinDir() + built).c_str(), (kSystem + name).c_str(), FALSE));
          ASSERT_EQ(CallExport(kSystem + name, "DllRegisterServer"), S_OK);
        }
  }
  // What the stand-in installer installs when run.
  void Provide(const std::wstring& group) {
    std::wstring files;
    for (const auto& [built, name] : kGroups.at(group)) {
      CopyFileW((BinDir() + built).c_str(), (dir + name).c_str(), FALSE);
      files += dir + name + L'\0';
    }
    SetMachine(kStandInKey, L"Files", files, REG_MULTI_SZ);
  }
  void Uac(bool on) { SetMachine(L"Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\System", L"EnableLUA", on ? L"1" : L"0", REG_DWORD); }

  void Clean() {
    for (const auto& [group, files] : kGroups)
      for (const auto& [built, name] : files) {
        CallExport(BinDir() + built, "DllUnregisterServer");
        DeleteFileW((kSystem + name).c_str());
      }
    CallExport(BinDir() + L"Example.dll", "DllUnregisterServer");
    DeleteFileW((kProgram + L"Example.dll").c_str());
    RegDeleteTreeW(HKEY_CURRENT_USER, kVersionKey), RegDeleteTreeW(HKEY_CURRENT_USER, kRegistrationsKey);
    Uac(false);
    if (MoveFileW((kSystem + kAsideScrrun).c_str(), (kSystem + L"scrrun.dll").c_str()))
      CallExport(L"scrrun.dll", "DllRegisterServer");
  }
};

// `tamberlux install-deps Zentrello <args>` while the stand-in Word runs; each box it shows is read and answered
// in turn (presses: the button for each box expected), then one more is looked for briefly.
struct Outcome { DWORD exitCode = 99; Boxes boxes; };
Outcome InstallDeps(const std::wstring& args, std::vector<int> presses = {}) {
  test::WordStandIn word;
  test::StartedTrap apartment;
  LateObject running = test::WordStandIn::Start();
  Outcome o;
  // Not through a pipe: a hung installer would keep it open.
  const test::Started started = test::Start(L"\"" + BinDir() + L"tamberlux.exe\" install-deps Zentrello " + args);
  EXPECT_TRUE(started.process);
  const HANDLE process = started.process.Get();
  const auto ended = [process] { return WaitForSingleObject(process, 0) != WAIT_TIMEOUT; };
  // Past the boxes expected, any further box is read and answered while the program runs: counted, never left waiting.
  for (size_t i = 0, looks = 0; i < presses.size() || (!ended() && ++looks < 40);) {
    const bool expected = i < presses.size();
    test::DialogWatch watch(L"", expected ? presses[i] : IDOK, expected ? 60000 : 3000);
    const auto seen = expected ? watch.Result() : watch.ResultWhile(process);
    if (!seen.appeared && expected) break;
    if (!seen.appeared) continue;
    // A download that happens to take long shows its progress: not one of the boxes asked about.
    if (seen.title == kProgressTitle && !(expected && presses[i] == IDCANCEL)) {
      test::WaitUntil([&] { return ended() || !FindWindowW(L"#32770", kProgressTitle); }, 60000);
      continue;
    }
    o.boxes.push_back(seen.title + L"|" + seen.text), ++i;
    test::WaitUntil([&] { return !FindWindowW(L"#32770", seen.title.c_str()); }, 5000);
  }
  WaitForSingleObject(process, 100000);
  GetExitCodeProcess(process, &o.exitCode);
  test::Quit(running);  // the stand-in fixture ends it anyway
  return o;
}

// A missing group is fetched, installed quietly and checked again; a download that fails (a pin that does not match,
// no pin where pins are required, cancelled) warns and runs nothing, a pinned one runs. The server down, answering
// 404 or serving other bytes than the pin, and an installer that hangs or sits in a cache path with a blank: the
// fault suite's installer group.
TEST(Installer, AMissingGroupIsFetchedAndInstalledQuietlyAndAFailedDownloadWarnsAndRunsNothing) {
  // pin: 0 none, 1 the served file's, 2 another. provided: what the stand-in installer installs.
  struct Row { const wchar_t* group; bool provided, uac, cancel; int pin; bool requirePins;
               const wchar_t* version = L"win7"; };
  const Row rows[] = {{.group = L"comct232.exe", .provided = true},
                      {.group = L"comct232.exe", .provided = true, .uac = true},
                      {.group = L"comctl32.exe", .provided = true, .version = L"winxp"},
                      {.group = L"infra.exe", .pin = 2},
                      {.group = L"infra.exe", .requirePins = true},
                      {.group = L"infra.exe", .cancel = true},
                      {.group = L"infra.exe", .pin = 1, .requirePins = true}};
  for (const Row& r : rows) {
    SCOPED_TRACE(testing::Message() << "row " << &r - rows);
    Machine m(r.cancel ? "slow" : "ok");
    test::SetText(kVersionKey, L"Version", r.version);
    m.Uac(r.uac);
    m.InstallAllBut(r.group);
    if (r.provided) m.Provide(r.group);
    else SetMachine(kStandInKey, L"Mode", L"nothing");
    const std::wstring path = L"/dependencies/"s + r.group;
    if (r.pin) SetMachine(kPinsKey, path.c_str(), r.pin == 2 ? std::wstring(64, L'0') : m.Pin(ToUtf8(path)));
    if (r.requirePins) SetMachine(kInstallerKey, kRequirePins, L"1", REG_DWORD);
    const Boxes expected = r.provided && !r.uac ? Boxes{kNotice}
                           : r.uac              ? Boxes{Missing(r.group, m.address + path)}
                                                : Boxes{kNotice, Missing(r.group, m.address + path)};
    const auto presses = r.cancel ? std::vector<int>{IDOK, IDCANCEL, IDOK} : std::vector<int>(expected.size(), IDOK);
    Outcome o = InstallDeps(L"", presses);
    if (r.cancel) {  // the progress, cancelled
      ASSERT_EQ(o.boxes.size(), 3u) << testing::PrintToString(o.boxes) << ", exit code " << o.exitCode;
      EXPECT_TRUE(o.boxes[1].starts_with(std::wstring(kProgressTitle) + L"|Downloading infra.exe: ")) << o.boxes[1];
      o.boxes.erase(o.boxes.begin() + 1);
    }
    EXPECT_EQ(o.boxes, expected);
    EXPECT_EQ(o.exitCode, r.provided && !r.uac ? 0u : 5u);
    EXPECT_EQ(m.Read(L"requests"), ToUtf8(path) + "\n");
    const auto runs = m.InstallerRuns();
    ASSERT_EQ(runs.size(), r.provided || r.pin == 1 ? 1u : 0u);
    EXPECT_TRUE(runs.empty() || runs[0][1].ends_with(L" /Q")) << runs[0][1];
  }
}

// Which installers and lists apply follows the release `check` names. With everything in place (the product's own
// DLL, on both lists, present but not registered; from Vista on without comctl32) nothing is fetched, run or shown.
TEST(Installer, TheWindowsVersionDecidesInstallersAndLists) {
  struct Row { const wchar_t *version, *release, *args; bool scriptingMissing; const char* requests; DWORD exitCode; };
  const std::wstring reboot =
      L"You need to reboot your computer|Microsoft Word will now exit because Zentrello needs to reboot your "
      L"computer to finish installing.\r\nPlease reboot your computer to fix this problem.";
  const wchar_t* lists = L"--deps Example.dll --xp-deps Example.dll";
  for (const Row& r : {Row{L"win7", L"Windows Vista", lists, false, "", 0},
                       Row{L"winxp", L"Windows XP", lists, false, "", 0},
                       Row{L"win98", L"Windows 98", L"", true, "/dependencies/scr98me.exe\n", 5},
                       Row{L"winxp", L"Windows XP", L"", true, "/dependencies/scr2000xp.exe\n", 5},
                       Row{L"win2k", L"Windows 2000", L"--xp-deps Missing.dll", false, "", 0},
                       Row{L"winxp", L"Windows XP", L"--xp-deps Missing.dll", false, "", 5}}) {
    SCOPED_TRACE(std::wstring(r.version) + L" " + r.args + (r.scriptingMissing ? L" without scripting" : L""));
    const bool vista = r.version == L"win7"s;
    Machine m;
    test::SetText(kVersionKey, L"Version", r.version);
    SetMachine(kStandInKey, L"Mode", L"nothing");
    m.InstallAllBut(vista ? L"comctl32.exe" : L"");
    SHCreateDirectoryExW(nullptr, kProgram.c_str(), nullptr);
    ASSERT_TRUE(CopyFileW((BinDir() + L"Example.dll").c_str(), (kProgram + L"Example.dll").c_str(), FALSE));
    ASSERT_TRUE(!r.scriptingMissing || MoveFileW((kSystem + L"scrrun.dll").c_str(), (kSystem + kAsideScrrun).c_str()));
    // What check sees beforehand, registering and fetching nothing.
    const std::wstring check = test::Tamberlux(L"check Zentrello --json --deps Example.dll", false).Text(),
                       out = test::Tamberlux(L"check Zentrello", false).Text();
    const std::wstring registrable =
        L"{\"file\": \"Example.dll\", \"progId\": \"Example.Main2\", \"state\": \"registrable\"}";
    EXPECT_NE(check.find(registrable), std::wstring::npos) << check;
    EXPECT_NE(check.find(L"\"ready\": "s + (r.scriptingMissing ? L"false" : L"true")), std::wstring::npos);
    EXPECT_EQ(check.find(L"\"note\": \"not needed on Windows Vista or later\"") != std::wstring::npos, vista);
    EXPECT_TRUE(out.starts_with(L"Zentrello on " + std::wstring(r.release) + L", download server")) << out;
    // The installer check names is the one the installation then fetches and runs.
    if (r.scriptingMissing) {
      const std::wstring fetched = std::wstring(r.requests, r.requests + std::strlen(r.requests) - 1);
      EXPECT_NE(out.find(L"    installer: " + m.address + fetched + L" /Q\r\n"), std::wstring::npos) << out;
    }
    // The scripting runtime is installed and asks for a reboot; a missing XP-only DLL is named with the product's page.
    const Boxes expected = r.scriptingMissing ? Boxes{kNotice, reboot}
                           : r.exitCode      ? Boxes{Missing(L"Missing.dll", m.address + L"/Zentrello.exe")}
                                             : Boxes{};
    const Outcome o = InstallDeps(r.args, std::vector<int>(expected.size(), IDOK));
    EXPECT_EQ(o.boxes, expected);
    EXPECT_EQ(o.exitCode, r.exitCode);
    EXPECT_EQ(m.Read(L"requests"), r.requests);
    EXPECT_EQ(m.InstallerRuns().size(), r.scriptingMissing ? 1u : 0u);
  }
}

// The machine-wide settings in the shapes an administrator gives them: each taken only in its documented form, a
// policy value winning over the installer's, a refused value never replaced by the default. The hostile values,
// each through install-deps, check and status: the fault suite's settings group.
TEST(Installer, MachineSettingsAreTakenOnlyInTheirDocumentedForm) {
  constexpr const wchar_t *kPolicy = L"Software\\Policies\\Valdomeren\\Zentrello\\Installer",
                         *kServer = L"DownloadServer", *kWait = L"InstallerWaitSeconds", *kPin = L"/dependencies/infra.exe";
  // Set: key, value, type, text (a REG_DWORD's number). Then: the first refusal
  // ("source: why"), and address|pins required|wait|pin.
  struct Row { const wchar_t *key, *name; DWORD type; std::wstring text, refusal, taken; };
  const Row rows[] = {
      {kInstallerKey, kServer, REG_SZ, L"HTTPS://Example.com:8080/mirror/", L"", L"HTTPS://Example.com:8080/mirror|0|900|"},
      {kInstallerKey, kServer, REG_SZ, L"http://[::1]:81", L"", L"http://[::1]:81|0|900|"},
      {kInstallerKey, kServer, REG_SZ, L"", L"machine: it is empty", L"|0|900|"},
      {kInstallerKey, kServer, REG_SZ, L"http://me@example.com", L"machine: it holds user information (@)", L"|0|900|"},
      {kInstallerKey, kServer, REG_SZ, L"http://example.com:0", L"machine: its port is not a number from 1 to 65535",
       L"|0|900|"},
      {kInstallerKey, kServer, REG_DWORD, L"1", L"machine: it is not text (REG_SZ)", L"|0|900|"},
      {kPolicy, kServer, REG_SZ, L"http://policy.example", L"", L"http://policy.example|0|900|"},
      {kInstallerKey, kRequirePins, REG_SZ, L"1", L"", L"http://machine.example|1|900|"},
      {kPolicy, kRequirePins, REG_DWORD, L"1", L"", L"http://machine.example|1|900|"},
      {kInstallerKey, kWait, REG_SZ, L"30", L"", L"http://machine.example|0|30|"},
      {kPinsKey, kPin, REG_SZ, std::wstring(64, L'A'), L"", L"http://machine.example|0|900|" + std::wstring(64, L'a')}};
  for (const Row& r : rows) {
    SCOPED_TRACE(std::wstring(r.key) + L" " + r.name + L" = " + r.text);
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, kInstallerKey), RegDeleteTreeW(HKEY_LOCAL_MACHINE, kPolicy);
    SetMachine(kInstallerKey, kServer, L"http://machine.example");
    SetMachine(r.key, r.name, r.text, r.type);
    const auto s = InstallerSettings::Read();
    const auto* refused = s.FirstRefused();
    EXPECT_EQ(refused ? InstallerSettings::SourceName(refused->source) + std::wstring(L": ") + refused->refusal : L"", r.refusal);
    EXPECT_EQ(s.address + L"|" + (s.pinsRequired ? L"1" : L"0") + L"|" + std::to_wstring(s.waitSeconds) + L"|" +
              s.PinOf(L"/Dependencies/INFRA.exe"), r.taken);
  }
  RegDeleteTreeW(HKEY_LOCAL_MACHINE, kInstallerKey), RegDeleteTreeW(HKEY_LOCAL_MACHINE, kPolicy);
}

// In this process: a DLL that registers itself, one that cannot, one that registers nothing, one no DLL.
TEST(Installer, ADllIsLetRegisterItselfOnceAndFailuresReportNothing) {
  test::PrivateUserHive hive;
  test::StartedTrap trap;
  test::ReporterStandIn reporter;
  const std::wstring folder = test::ScratchDir() + L"selfreg." + std::to_wstring(GetCurrentProcessId()) + L"\\";
  const wchar_t* files[] = {L"Example.dll", L"NoRegister.dll", L"RegistersNothing.dll", L"NotADll.dll"};
  CreateDirectoryW(folder.c_str(), nullptr);
  for (const wchar_t* f : {files[0], files[1], files[2]})
    ASSERT_TRUE(CopyFileW((BinDir() + f).c_str(), (folder + f).c_str(), FALSE));
  test::WriteWholeFile(folder + L"NotADll.dll", "MZ but no more");
  Main2 m;
  EXPECT_TRUE(m.Createable(folder + L"Example.dll", L"Example.Main2"));
  EXPECT_EQ(test::ReadDword(kRegistrationsKey, L"Example.Main2"), 1u);
  EXPECT_TRUE(m.Createable(folder + L"Example.dll", L"Example.Main2"));  // registered now: not loaded again
  EXPECT_EQ(test::ReadDword(kRegistrationsKey, L"Example.Main2"), 1u);
  EXPECT_EQ(m.GetFileFromProgID(L"Example.Main2"), folder + L"Example.dll");
  EXPECT_FALSE(m.Createable(folder + L"NoRegister.dll", L"NoRegister.Main2"));
  EXPECT_FALSE(m.Createable(folder + L"NotADll.dll", L"NotADll.Main2"));
  EXPECT_FALSE(m.Createable(folder + L"Missing.dll", L"Missing.Main2"));
  EXPECT_TRUE(ObjectFactory::RegisterServer(folder + L"RegistersNothing.dll"));
  EXPECT_FALSE(m.Createable(folder + L"RegistersNothing.dll", L"RegistersNothing.Main2"));
  EXPECT_EQ(test::ReadDword(kRegistrationsKey, L"RegistersNothing.Main2"), 2u);
  EXPECT_EQ(reporter.Count(L"vbwErrorHandler"), 0);
  EXPECT_TRUE(m.fileExists(folder + L"Ex*.dll"));
  EXPECT_FALSE(m.fileExists(folder));
  EXPECT_EQ(m.GetFileFromProgID(L"Missing.Main2"), L"");
  ASSERT_EQ(reporter.Count(L"vbwErrorHandler"), 1);
  const auto records = reporter.Records();
  EXPECT_TRUE(std::any_of(records.begin(), records.end(),
                          [](const std::wstring& r) { return r.starts_with(L"vbwErrorHandler 12345 Could not read CLSID "); }));
  CallExport(BinDir() + L"Example.dll", "DllUnregisterServer");
  for (const wchar_t* f : files) DeleteFileW((folder + f).c_str());
  RemoveDirectoryW(folder.c_str());
}

}  // namespace
}  // namespace tamberlux::InstallerTests
