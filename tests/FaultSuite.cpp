// The fault suite: the component's COM interface and the tamberlux command driven while their surroundings fail,
// each fault in a process of its own with a time bound, then one table. FaultSuite.exe [--full] [--groups G,G] runs it
// (short form: fewer value shapes and rounds; --groups: only those groups, "word" the Word deaths); --case G I X runs one case, printing "tried N" and each problem found, and exits
// 0, or 3 when something was left half-written.
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "InstallerSurroundings.h"
#include "PresentLibraries.h"
#include "base/VbError.h"
#include "errortrap/ErrorLog.h"
#include "installer/InstallerSettings.h"
#include "registry/RegistryBackup.h"

namespace tamberlux {
namespace {

using namespace std::string_literals;
// A case's exit code for data left half-written, and for a case stopped by an error it did not expect (an abort
// ends with 3, a crash with an exception code: both are crashes).
constexpr int kHalfWritten = 40, kStopped = 41;

// --- What every case checks afterwards --------------------------------------

const std::wstring kName = L"ZentrelloFault" + std::to_wstring(GetCurrentProcessId());
const std::wstring kVersion = L"12." + std::to_wstring(GetCurrentProcessId());
const std::wstring kSection = L"Software\\" + kName;
const std::wstring kOffice = L"Software\\Microsoft\\Office\\" + kVersion;
const std::wstring kLists = kOffice + L"\\Word\\Resiliency\\";
// Keys no fault may touch: another add-in's list entry, Word's other Data keys.
const std::wstring kSentinels[] = {kLists + L"DisabledItems", L"Software\\Microsoft\\Office\\Word\\Data",
                                   kOffice + L"\\Word"};

// What went wrong in the case, reported from any of its threads.
std::vector<std::wstring> problems;
void Problem(const std::wstring& p) {
  static std::mutex lock;
  std::lock_guard hold(lock);
  problems.push_back(p);
}

// The case's keys, and the section of the second product name some cases use.
void Clean() {
  for (const std::wstring& k : {kSection, kSection + L"B", kOffice, kSentinels[1]})
    RegDeleteTreeW(HKEY_CURRENT_USER, k.c_str());
  for (const auto& a : WordKeys::kComAddins)
    RegDeleteTreeW(HKEY_CURRENT_USER, (WordKeys::kComAddinsKey + std::wstring(a.progId)).c_str());
}

void Arrange() {
  Clean();
  test::AddEntry(kSentinels[0], L"other", test::WordEntry(L"c:\\other\\helper.dll", L"Helper"));
  for (int i = 1; i < 3; ++i) test::SetText(kSentinels[i], L"sentinel", L"kept");
}

// Whole or absent: each value the component writes, the sentinels, the backups and the error log.
void CheckWhole() {
  for (const auto& a : WordKeys::kComAddins) {
    const std::wstring key = WordKeys::kComAddinsKey + std::wstring(a.progId);
    if (const auto name = test::ReadText(key, L"friendlyName"); name != L"(none)" && name != a.friendlyName)
      Problem(L"friendlyName of " + key);
    if (const auto b = test::ReadRaw(key, L"LoadBehavior"); b.exists && b.data != std::vector<BYTE>{3, 0, 0, 0})
      Problem(L"LoadBehavior of " + key);
  }
  for (int i = 0; i < 3; ++i)
    if (!test::ReadRaw(kSentinels[i], i ? L"sentinel" : L"other").exists) Problem(L"what was kept in " + kSentinels[i] + L" went");
  WIN32_FIND_DATAW found;
  if (FindHandle(FindFirstFileW((vbw::ErrorLog::Folder() + L"*.partial").c_str(), &found)))
    Problem(L"a half-written backup: "s + found.cFileName);
  for (const auto& b : RegistryBackup::Backups())
    if (test::ReadWholeFile(b).rfind("\xFF\xFEW\0i\0n\0d\0o\0w\0s"s, 0) != 0) Problem(L"a backup without its header: " + b);
  const std::string log = test::ReadWholeFile(vbw::ErrorLog::Path());
  for (size_t at = 0, end; log != "<missing>" && at < log.size(); at = end + 2)
    if ((end = log.find("\r\n", at)) == std::string::npos || log[at] != '{' || log[end - 1] != '}')
      return Problem(L"a half-written line in the error log");
}

// The program last started, whose boxes are answered too; whether a download's progress is cancelled or waited out.
std::atomic<DWORD> child{0};
std::atomic<bool> cancelDownloads{false};

// Re-enable dialogs answered, and those owned by another Word than the one asking: read once the presser ended.
std::vector<HWND> reenableSeen;
std::atomic<int> misowned{0};

BOOL CALLBACK PressOk(HWND w, LPARAM) {
  DWORD pid = 0;
  wchar_t cls[16] = {}, title[128] = {}, owner[64] = {};
  GetWindowThreadProcessId(w, &pid);
  GetClassNameW(w, cls, 16);
  GetWindowTextW(w, title, 128);
  if ((pid != GetCurrentProcessId() && pid != child) || std::wstring(cls) != L"#32770") return TRUE;
  const std::wstring t = title;
  if (t.starts_with(L"Re-enable ") && t.ends_with(L"?")) {
    // Answered once, "Disable just this time"; its owner's title asks the same.
    if (!IsWindowVisible(w) || std::find(reenableSeen.begin(), reenableSeen.end(), w) != reenableSeen.end()) return TRUE;
    reenableSeen.push_back(w);
    GetWindowTextW(GetWindow(w, GW_OWNER), owner, 64);
    if (!std::wstring(owner).starts_with((t.substr(0, t.size() - 1) + L" for ").substr(0, 63))) ++misowned;
    HWND button = FindWindowExW(w, nullptr, L"Button", L"Disable just this time");
    PostMessageW(w, WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(button), BN_CLICKED), reinterpret_cast<LPARAM>(button));
    return TRUE;
  }
  const bool progress = t.ends_with(L" is downloading core library files");
  if (!progress || cancelDownloads) PostMessageW(w, WM_COMMAND, progress ? IDCANCEL : IDOK, 0);
  return TRUE;
}

// Answers every message box of this process and its last child: nobody is there to answer what a fault makes shown.
struct BoxPresser {
  std::atomic<bool> stop{false};
  std::thread t{[this] { test::WaitUntil([this] { return EnumWindows(PressOk, 0), stop.load(); }, INFINITE); }};
  ~BoxPresser() { stop = true, t.join(); }
};

// A launch by a new Main2 (or `main2`); a failure reaching the caller is a problem, and so is a name the component
// refuses (`refused`) that does not fail its caller.
void Launch(const std::wstring& name, IDispatch* main2 = nullptr, bool refused = false) {
  Variant n = Variant::Of(name);
  const HRESULT hr = test::CallByName(main2 ? main2 : test::CreateMain2().Get(), L"StartRunTime", {n});
  if (refused && hr == S_OK) Problem(L"a refused launch did not fail its caller");
  if (!refused && hr != S_OK) Problem(L"a launch failed its caller");
}

// The tamberlux command within its bound; what it printed. A hang, a crash, or another exit code than
// `expected` (when given) is a problem.
std::string Command(const std::wstring& args, int expected = -1, DWORD boundMs = 60000) {
  const test::Ran r = test::Tamberlux(args, true, boundMs, &child);
  if (r.hung || (expected < 0 ? r.code > 5 : r.code != static_cast<DWORD>(expected)))
    Problem(L"tamberlux " + args +
            (r.hung                         ? L" hung"
             : r.code == test::kNotStarted ? L" could not be started: error " + std::to_wstring(r.startError)
                                           : L" ended with " + std::to_wstring(r.code)));
  return r.bytes;
}

struct CaseWord : test::WordStandIn {
  CaseWord() { Set(L"Version", kVersion); }
};

// --- The cases: each given its index in its group and whether the suite runs in full; how many faults it tried,
// and what it tried, for its row.
struct Tried { int faults; std::string what; };

// Word dies at the call `call` after answering `before` calls of that name.
Tried WordDies(const std::wstring& call, int before) {
  CaseWord word;
  word.Set(L"DieAt", call);
  word.Set(L"DieAfter", static_cast<DWORD>(before));
  BoxPresser boxes;
  Launch(kName);
  return {1, "Word dies at " + ToUtf8(call) + " #" + std::to_string(before + 1)};
}

// The reporter missing, or failing at each of its calls, while procedures fail, ask for a dump, then end the thread.
Tried Reporter(int index, bool) {
  const wchar_t* methods[] = {L"missing", L"vbwInitializeProtector", L"vbwErrorHandler", L"vbwReportParameter",
                              L"vbwOpenDumpFile", L"vbwReportToFile", L"vbwReportVariable", L"vbwReportObject",
                              L"vbwCloseDumpFile", L"vbwExitThread"};
  test::ReporterStandIn reporter;
  if (index == 0) reporter.Unregister();
  else reporter.Fail(methods[index], -1);
  reporter.Answer({8, 8, 3}, 7);
  const ComPtr<IDispatch> main2 = test::CreateMain2();
  Variant bad = Variant::Of(L"1\\2");
  for (int i = 0; i < 3; ++i) {
    if (test::CallByName(main2.Get(), L"DeleteCorruptedDataFolder", {bad}) != S_OK) Problem(L"a failure reached the caller");
    Launch(L"Zen:trello", main2.Get(), true);
  }
  return {1, "reporter " + ToUtf8(methods[index])};
}

// Every type and size of value in the product's section and Word's lists; a launch and the status command on each.
Tried RegistryValues(int index, bool full) {
  const std::wstring key = index < 3 ? kSection : kLists + (index == 3 ? L"DisabledItems" : L"StartupItems");
  const std::wstring value = index < 3 ? WordKeys::kProductValues[index] : L"fault";
  std::vector<std::pair<DWORD, std::vector<BYTE>>> shapes = {
      {REG_SZ, {}}, {REG_SZ, {'1'}}, {REG_SZ, std::vector<BYTE>(2047, 'a')}, {REG_SZ, std::vector<BYTE>(2048, 'a')},
      {REG_BINARY, std::vector<BYTE>(65536)}, {REG_DWORD, {1, 0, 0, 0}}, {REG_MULTI_SZ, {'1', 0, 0, 0, '2', 0, 0, 0}},
      {REG_QWORD, {1, 2, 3, 4, 5, 6, 7, 8}}, {REG_NONE, {}}, {0x7fff, {0xde, 0xad}}};
  for (int seed = 1; seed <= (full ? 20 : 1); ++seed) {
    std::vector<BYTE> garbage(seed * 97 % 3000);
    for (size_t i = 0; i < garbage.size(); ++i) garbage[i] = static_cast<BYTE>((i * 2654435761u + seed) >> 7);
    shapes.push_back({static_cast<DWORD>(seed % 2 ? REG_BINARY : REG_SZ), garbage});
  }
  CaseWord word;
  const LateObject running = test::WordStandIn::Start();
  BoxPresser boxes;
  for (const auto& [type, data] : shapes) {
    Arrange();
    test::SetText(kSection, L"WordVersion", kVersion);
    test::SetValue(key, value, type, data.data(), static_cast<DWORD>(data.size()));
    Launch(kName);
    if (full) Command(L"status " + kName);
    Command(L"status " + kName + L" --json");
    CheckWhole();
  }
  return {static_cast<int>(shapes.size()), "values of every shape in " + ToUtf8(value)};
}

// 10,000 entries in Word's disabled list: a launch and the status command.
Tried ManyEntries(int, bool) {
  const auto entry = test::WordEntry(L"c:\\other\\helper.dll", L"Helper");
  for (int i = 0; i < 10000; ++i) test::AddEntry(kLists + L"DisabledItems", L"e" + std::to_wstring(i), entry);
  test::SetText(kSection, L"WordVersion", kVersion);
  CaseWord word;
  const LateObject running = test::WordStandIn::Start();
  Launch(kName);
  Command(L"status " + kName);
  if (test::ValueNames(kLists + L"DisabledItems").size() != 10001) Problem(L"entries of other add-ins were lost");
  return {2, "10,000 resiliency entries"};
}

// Runs each of `works` at once, each on a thread and apartment of its own. This thread's apartment may hold a Word
// too: it keeps its messages flowing while it waits, as a caller's user-interface thread does.
void OnThreads(const std::vector<std::function<void()>>& works) {
  std::atomic<size_t> done{0};
  std::vector<std::jthread> threads;
  for (const auto& work : works)
    threads.emplace_back([&] {
      CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
      work();
      CoUninitialize();
      ++done;
    });
  test::WaitUntil([&] { return done == works.size(); }, INFINITE);
}

// Two callers on two threads, each with its own Main2, launching while the status command reads.
Tried TwoThreads(int, bool full) {
  CaseWord word;
  const LateObject running = test::WordStandIn::Start();
  const int rounds = full ? 20 : 5;
  const auto caller = [&](const std::wstring& name) {
    return [&, name] {
      const ComPtr<IDispatch> main2 = test::CreateMain2();
      for (int i = 0; i < rounds; ++i) Launch(name, main2.Get());
    };
  };
  OnThreads({caller(kName), caller(kName + L"B"), [&] {
               for (int i = 0; i < rounds; ++i) Command(L"status " + kName);
             }});
  return {2 * rounds, "two threads, two Main2"};
}

// The dependency installer's surroundings for one case, gone afterwards: the Internet cache in a folder with a blank
// (beside the decoy an unquoted command line of an installer there would start), the stand-in installer (logging its
// runs, or hanging), and the download server serving it as `serve` says (ok, 404, wrong, slow).
struct InstallerStage : test::DownloadStage {
  InstallerStage(const char* serve, bool hang)
      : DownloadStage(L"fault-stage", serve), pin(Pin("/dependencies/infra.exe")) {
    if (pin.empty()) vb::Raise(vb::kInvalidCall, L"the download server did not start within a minute");
    test::SetValue(kFolders, L"Cache", REG_EXPAND_SZ, cache.c_str(), static_cast<DWORD>((cache.size() + 1) * 2));
    CopyFileW(StandIn().c_str(), (dir + L"a.exe").c_str(), FALSE);
    test::SetMachineValue(standin::kInstallerKey, L"Mode", hang ? L"hang" : L"nothing");
    test::SetMachineValue(WordKeys::kInstallerKey, WordKeys::kInstallerWaitSeconds, L"2", REG_DWORD);
  }
  // `tamberlux install-deps Zentrello` while a Word runs (dying at `dieAt`, if given): it must end with 5.
  // What it printed.
  std::string InstallDeps(DWORD boundMs, const wchar_t* dieAt = nullptr) const {
    test::WordStandIn word;
    if (dieAt) word.Set(L"DieAt", dieAt);
    const LateObject running = test::WordStandIn::Start();
    BoxPresser boxes;
    return Command(L"install-deps Zentrello", 5, boundMs);
  }

  static constexpr const wchar_t* kFolders = L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders";
  test::KeptUserKey kept{kFolders};
  const std::wstring pin, cache = dir + L"a cache";
};

// The dependency installer with the infrastructure missing: the download server down, answering 404, serving other
// bytes than its pin, slow (given up on; the full form waits it out), or the installer it delivers hanging.
Tried Installer(int index, bool full) {
  const struct { const char *what, *serve; bool down, slow, hang; } modes[] = {
      {"server down", "ok", true, false, false}, {"404", "404", false, false, false}, {"wrong bytes", "wrong", false, false, false},
      {"slow", "slow", false, true, false}, {"hung installer", "ok", false, false, true}};
  const auto& m = modes[index];
  const InstallerStage stage(m.serve, m.hang);
  const std::wstring server = m.down ? L"http://127.0.0.1:1" : stage.address;
  test::SetMachineValue(WordKeys::kInstallerKey, WordKeys::kDownloadServer, server);
  test::SetMachineValue(WordKeys::kPinsKey, L"/dependencies/infra.exe", stage.pin);
  cancelDownloads = !full;
  stage.InstallDeps(150000);
  // Nothing ran but a whole, pinned download, by its whole path; a hung one is left running, and ended here.
  const auto runs = stage.InstallerRuns();
  if (runs.size() != (m.hang || (m.slow && full) ? 1u : 0u))
    Problem(L"the installer ran " + std::to_wstring(runs.size()) + L" times");
  for (const auto& run : runs)
    if (run.size() < 3 || !run[2].starts_with(stage.cache + L"\\")) Problem(L"an installer ran not by its whole path");
  if (m.hang && !runs.empty()) {
    const DWORD id = std::wcstoul(runs[0][0].c_str(), nullptr, 10);
    if (const Handle installer(OpenProcess(SYNCHRONIZE, FALSE, id));
        !installer || WaitForSingleObject(installer.Get(), 0) != WAIT_TIMEOUT)
      Problem(L"the hung installer was ended by the command");
    test::EndProcess(id);
  }
  const auto settings = InstallerSettings::Read();
  if (settings.address != server || settings.PinOf(L"/dependencies/infra.exe") != stage.pin)
    Problem(L"the installer's settings changed");
  for (const wchar_t* progId : InfraGroups::All().front().progIds)
    if (CLSID clsid; CLSIDFromProgID(progId, &clsid) == S_OK) Problem(L"a library was registered: "s + progId);
  // In the cache, no copy of the download but a whole one (none after a failed download), or an empty file: Wine
  // makes one before it finds the server down.
  const auto whole = runs.empty() ? ~0ULL : std::filesystem::file_size(InstallerStage::StandIn());
  std::error_code e, none;
  for (std::filesystem::recursive_directory_iterator f(stage.cache, e), end; !e && f != end; f.increment(e)) {
    const std::wstring name = f->path().filename().wstring();
    const auto size = f->is_regular_file(none) ? f->file_size(none) : 0;
    if (name.starts_with(L"infra") && size && size != whole && size != static_cast<std::uintmax_t>(-1))
      Problem(L"a failed download left in the cache: " + name + L", " + std::to_wstring(size) + L" bytes");
  }
  return {1, "install-deps, "s + m.what + (m.slow ? full ? " (waited out)" : " (given up on)" : "")};
}

// Machine-wide settings an unlucky administrator or a crafted value gives, and a notice that cannot be shown: the
// server answers, the infrastructure is missing, and yet nothing may be fetched or run. check says which setting was
// refused and why (a refused server is never replaced by the default), status that it was.
Tried HostileSettings(int index, bool) {
  using namespace WordKeys;
  const InstallerStage stage("ok", false);
  const std::wstring& good = stage.address;
  const std::wstring notHttp = L"it is not an http:// or https:// address",
                     notWait = L"it is not a number of seconds from 1 to 86400";
  const struct { const char* what; std::wstring text, why; const wchar_t *name = kDownloadServer, *key = kInstallerKey;
                 DWORD type = REG_SZ; } values[] = {
      {"a NUL in the server", good + L"\0/x"s, L"it holds a NUL character"},
      {"an overlong server", good + L"/" + std::wstring(2100, L'a'), L"it is longer than 256 characters"},
      {"a file: server", L"file:///C:/windows/system32", notHttp},
      {"a server with a query", good + L"/?x=", L"it has a query or a fragment"},
      {"a server without a host", L"http://", L"it has no host"},
      {"a server with an escape", good + L"\x1b[2J",
       L"it holds a blank, a control character or a character outside ASCII"},
      {"a policy server refused over a good one", L"ftp://x", notHttp, kDownloadServer, kInstallerPolicyKey},
      {"a wait of 0", L"0", notWait, kInstallerWaitSeconds, kInstallerKey, REG_DWORD},
      {"a wait of 0xFFFFFFFF", L"4294967295", notWait, kInstallerWaitSeconds, kInstallerKey, REG_DWORD},
      {"pins required as \"2\"", L"2", L"it is neither 0 nor 1 (a DWORD, or the text \"0\" or \"1\")", kRequirePins},
      {"a pin of 63 digits", stage.pin.substr(1), L"a pin is 64 hexadecimal digits (a SHA-256)",
       L"/dependencies/infra.exe", kPinsKey}};
  constexpr int kValues = static_cast<int>(std::size(values));
  std::string what;
  if (index < kValues) {
    const auto& v = values[index];
    test::SetMachineValue(v.key, v.name, v.text, v.type);
    stage.InstallDeps(60000);
    const std::string check = Command(L"check Zentrello"), status = Command(L"status Zentrello --json");
    const std::wstring source = v.key == std::wstring(kInstallerPolicyKey) ? L"policy" : L"machine";
    if (FromUtf8(check).find(source + L", refused: " + v.why + L")") == std::wstring::npos)
      Problem(L"check did not say why the setting was refused");
    if (v.name == std::wstring(kDownloadServer) && check.find("download server refused (") == std::string::npos)
      Problem(L"check named a server in place of the refused one");
    if (status.find("\"accepted\": false") == std::string::npos) Problem(L"status did not say the setting was refused");
    if (test::RawControls(FromUtf8(check + status))) Problem(L"check or status printed a raw control character");
    what = "install-deps with "s + v.what;
  } else if (index == kValues) {
    // Word goes as the notice is about to be shown.
    stage.InstallDeps(60000, L"WindowState");
    what = "install-deps whose notice cannot be shown";
  } else {
    // No Word at all: the notice goes to the console and the asked-for, pinned installer runs once.
    test::SetMachineValue(kPinsKey, L"/dependencies/infra.exe", stage.pin);
    BoxPresser boxes;  // the warning that follows, should it be shown
    const std::string out = Command(L"install-deps Zentrello");
    if (out.find("Zentrello needs to install core library files:") == std::string::npos) Problem(L"no notice on the console");
    if (stage.Read(L"requests") != "/dependencies/infra.exe\n" || stage.InstallerRuns().size() != 1)
      Problem(L"the asked-for download did not run once");
    return {1, "install-deps with no Word, its notice on the console"};
  }
  if (!stage.Read(L"requests").empty()) Problem(L"something was fetched: " + FromUtf8(stage.Read(L"requests")));
  if (!stage.InstallerRuns().empty()) Problem(L"an installer ran");
  return {1, what};
}

// Word refuses the template at first, so the work waits on Word's window in its own process; then Word is killed,
// or told to quit, while hooked. The caller dispatches messages, calls again (refused) and lets go of its Main2.
Tried WindowGoes(int index, bool) {
  test::PrivateUserHive hive;
  test::ProductTemplate files;
  test::WriteWholeFile(files.Source(L".dotm"), "dotm template");
  test::PresentLibraries libraries;
  test::WordStandIn word;
  word.Set(L"FailAddIns", 1u);
  BoxPresser boxes;
  {
    const ComPtr<IDispatch> main2 = test::CreateMain2();
    const LateObject app = test::WordStandIn::Start();
    Variant result, again;
    if (test::CallHookIntoWord(main2.Get(), app, L"Zentrello", &result) != S_OK) Problem(L"HookIntoWord failed its caller");
    if (result.vt == VT_DISPATCH && result.pdispVal) Problem(L"Word took the template at once: nothing waited on its window");
    if (index == 0) test::EndProcess(word.Processes().at(0));
    else test::Quit(app);
    const DWORD process = word.Processes().at(0);
    if (!test::WaitUntil([&] { return !word.Running(process) && test::WordStandIn::Windows(process).empty(); }, 30000)) {
      const auto calls = word.Calls(process);
      Problem(std::wstring(L"Word did not go: ") + (word.Running(process) ? L"its process runs" : L"its process ended") +
              (test::WordStandIn::Windows(process).empty() ? L", no window left" : L", its window is still there") +
              L"; its last call: " + (calls.empty() ? L"none" : calls.back()));
    }
    if (SUCCEEDED(test::CallHookIntoWord(main2.Get(), app, L"Zentrello", &again)))
      Problem(L"HookIntoWord with a Word that went did not tell its caller");
    test::WaitUntil([] { return true; }, 0);  // what the refused call left queued
  }
  return {1, "Word's window goes while hooked ("s + (index ? "Word quits" : "Word killed") + ")"};
}

// The tamberlux command given flags or names it does not take: each a usage error (exit 2) that writes nothing.
Tried Flags(int, bool) {
  const std::wstring n = kName;
  const std::wstring lines[] = {L"status " + n + L" --json --json", L"check " + n + L" --deps a.dll --deps b.dll",
                                L"check " + n + L" --deps", L"check " + n + L" --deps --json", L"launch " + n + L" --bogus",
                                L"repair " + n + L" --data --data", L"log --json --json", L"status --json " + n,
                                L"status \"\"", L"repair " + n + L" \"\"", L"launch " + n + L" --json",
                                L"install " + n + L" --xp-deps", L"enable " + n + L" --data", L"check " + n + L" --xp-deps \"\"",
                                L"repair " + n + L" --json --data --json", L"install " + n + L" --json", L"restore x.reg --data",
                                L"bogus " + n, L"repair " + n + L" --DATA", L"\"\" " + n, L"status"};
  for (const std::wstring& line : lines) Command(line, 2, 30000);
  if (test::KeyExists(kSection)) Problem(L"a usage error wrote the product's section");
  for (const auto& a : WordKeys::kComAddins)
    if (test::KeyExists(WordKeys::kComAddinsKey + std::wstring(a.progId))) Problem(L"a usage error registered "s + a.progId);
  return {static_cast<int>(std::size(lines)), "tamberlux flags unknown, repeated, misplaced or without a value"};
}

// The monitor's call from this thread's apartment on a new Word: it must not fail and Word's caption must come back.
void Monitor(const std::wstring& name) {
  static std::mutex lock;  // one start at a time, so each caller gets a Word of its own
  const std::wstring caption = L"Microsoft Word";
  std::unique_lock starting(lock);
  const LateObject word = test::WordStandIn::Start();
  starting.unlock();
  word.Put(L"Caption", Variant::Of(caption));
  Variant n = Variant::Of(name), w = Variant::Of(word.Get());
  const HRESULT hr = test::CallByName(test::CreateMain2().Get(), L"CreateAddInMonitor", {ByRef(n), ByRef(w)});
  std::wstring after = L"(no answer)";
  try {
    after = ToText(word.Get(L"Caption"));
  } catch (const vb::Error&) {
  }
  if (hr != S_OK) Problem(L"the monitor failed its caller");
  if (after != caption) Problem(L"Word's caption came back as " + after.substr(0, 80));
}

// The monitor from two callers at once, each on its own thread, apartment, Main2 and Word; each dialog answered
// "Disable just this time" gives Word its caption back. (Names of 100 characters, captions of 10,000 characters or
// with control characters: MonitorTests.)
Tried MonitorSurfaces(int, bool) {
  CaseWord word;
  word.Set(L"StartVisible", 1u);
  std::vector<std::function<void()>> callers;
  for (const std::wstring& n : {kName, kName + L"B"}) {
    // Word's lists name the add-in for the case's Word version.
    test::SetText(L"Software\\" + n, L"WordVersion", kVersion);
    const auto entry = test::WordEntry(L"c:\\valdomeren\\" + LowerCase(n) + L"\\addin.dll", n);
    test::AddEntry(kLists + L"DisabledItems", L"m" + n, entry);
    callers.push_back([n] { Monitor(n); });
  }
  {
    BoxPresser boxes;
    OnThreads(callers);
  }
  if (reenableSeen.size() != 2) Problem(std::to_wstring(reenableSeen.size()) + L" dialogs of 2");
  if (misowned) Problem(L"a dialog was owned by another Word than the one asking");
  return {2, "monitor, two at once, each on its own thread and Word"};
}

// --- Damaged error logs: with the reporter missing, a refused launch through COM logs over the damage; `log` (text
// and --json), `status` and `launch` end as usual; the damage stays byte for byte, what follows it is whole lines, and
// `log` counts each damaged line or says the log cannot be written.

// Whether `all` is `planted` followed by whole report lines (after a line break of its own when the damage had none).
bool WholeAfter(const std::string& all, const std::string& planted) {
  if (all.compare(0, planted.size(), planted) != 0) return false;
  size_t at = planted.size();
  if (!planted.empty() && planted.back() != '\n') {
    if (all.compare(at, 2, "\r\n") != 0) return false;
    at += 2;
  }
  for (size_t end; at < all.size(); at = end + 2)
    if ((end = all.find("\r\n", at)) == std::string::npos || all[at] != '{' || all[end - 1] != '}') return false;
  return true;
}

Tried DamagedLog(int index, bool) {
  const std::wstring path = vbw::ErrorLog::Path(), previous = path + L".1";
  const std::string report = R"({"time": "2026-12-07T10:00:00Z", "procedure": "StartRunTime", "number": 5})" "\r\n";
  std::string garbage;
  for (size_t i = 0; i < 1500; ++i)  // five lines of bytes that are no UTF-8
    garbage += i % 300 == 299 ? '\n' : static_cast<char>(0x80 + (i * 2654435761u >> 7) % 0x80);
  const struct { const char* what; std::string current, previous; size_t damaged; bool unwritable = false; } cases[] = {
      {"a line torn after \\u", report + R"({"time": "2026-12-07T10:00:01Z", "description": "cut \u)", "", 1},
      {"a torn line in the previous file", report, report + R"({"time": "2026-12-07T10:00:01Z", "descr)", 1},
      {"binary garbage", garbage, "", 5},
      {"one endless line at the rotation bound", std::string(vbw::ErrorLog::kMaxBytes - 10, 'o'), "", 1},
      {"the log's path taken by a folder", "", "", 0, true},
      {"the log held by another program", report, "", 0, true}};
  const auto& c = cases[index];
  // What the suite logged so far is put aside and comes back whole.
  MoveFileExW(path.c_str(), (path + L".aside").c_str(), MOVEFILE_REPLACE_EXISTING);
  MoveFileExW(previous.c_str(), (previous + L".aside").c_str(), MOVEFILE_REPLACE_EXISTING);
  index == 4 ? void(CreateDirectoryW(path.c_str(), nullptr)) : test::WriteWholeFile(path, c.current);
  if (!c.previous.empty()) test::WriteWholeFile(previous, c.previous);
  Handle held(index == 5 ? CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr) : nullptr);
  {
    test::ReporterStandIn reporter;
    reporter.Unregister();
    CaseWord word;
    const LateObject running = test::WordStandIn::Start();
    BoxPresser boxes;
    Launch(L"Zen:trello", nullptr, true);
    const std::string log = Command(L"log", 0), json = Command(L"log --json", 0);
    Command(L"status " + kName + L" --json", 0);
    Command(L"launch " + kName, 0);
    if (c.unwritable) {
      if (log.rfind("The error log cannot be written: ", 0) != 0 || json.find("\"writable\": false") == std::string::npos)
        Problem(L"log did not say that the log cannot be written");
    } else if (const std::string counted = " and " + std::to_string(c.damaged) +
                                           (c.damaged == 1 ? " damaged line," : " damaged lines,");
               log.find(counted) == std::string::npos) {
      Problem(L"log did not count " + std::to_wstring(c.damaged) + L" damaged lines: " + FromUtf8(log.substr(0, 300)));
    }
  }
  held.Reset();
  if (index == 3) {
    if (test::ReadWholeFile(previous) != c.current || !WholeAfter(test::ReadWholeFile(path), ""))
      Problem(L"the endless line was not kept whole in the previous file");
  } else if (index != 4) {
    if (!WholeAfter(test::ReadWholeFile(path), c.current)) Problem(L"the damaged log lost bytes or got a torn line");
    if (!c.previous.empty() && test::ReadWholeFile(previous) != c.previous) Problem(L"the previous file changed");
  }
  index == 4 ? RemoveDirectoryW(path.c_str()) : DeleteFileW(path.c_str());
  DeleteFileW(previous.c_str());
  MoveFileExW((path + L".aside").c_str(), path.c_str(), 0);
  MoveFileExW((previous + L".aside").c_str(), previous.c_str(), 0);
  return {1, "damaged log: "s + c.what};
}

// --- Deep and wide Data keys, damaged and hostile backups --------------------------------------------------------

const std::wstring kData = kOffice + L"\\Word\\Data";

// Every key from `path` down and its values, one line each (path, name, type, bytes), each key opened from its
// parent's handle: what "nothing lost" compares.
std::vector<std::string> Contents(HKEY parent, const std::wstring& sub, const std::wstring& path) {
  std::vector<std::string> out;
  RegKey key;
  if (RegOpenKeyExW(parent, sub.c_str(), 0, KEY_READ, key.Put())) return out;
  const auto bytes = [](const std::wstring& t) { return std::string(reinterpret_cast<const char*>(t.data()), t.size() * 2); };
  DWORD maxName = 0, maxData = 0;
  RegQueryInfoKeyW(key.Get(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &maxName, &maxData, nullptr, nullptr);
  std::vector<wchar_t> name(std::max<DWORD>(maxName, 256) + 1);
  std::vector<BYTE> data(maxData + 1);
  out.push_back(bytes(path));
  for (DWORD i = 0;; ++i) {
    DWORD n = static_cast<DWORD>(name.size()), type = 0, size = static_cast<DWORD>(data.size());
    if (RegEnumValueW(key.Get(), i, name.data(), &n, nullptr, &type, data.data(), &size)) break;
    out.push_back(bytes(path) + '|' + bytes({name.data(), n}) + '|' + std::to_string(type) + '|' +
                  std::string(data.begin(), data.begin() + size));
  }
  for (DWORD i = 0;; ++i) {
    DWORD n = static_cast<DWORD>(name.size());
    if (RegEnumKeyExW(key.Get(), i, name.data(), &n, nullptr, nullptr, nullptr, nullptr)) break;
    const std::wstring child(name.data(), n);
    for (auto& line : Contents(key.Get(), child, path + L"\\" + child)) out.push_back(std::move(line));
  }
  return out;
}
std::vector<std::string> DataContents() { return Contents(HKEY_CURRENT_USER, kData, kData); }

// A chain of `depth` keys named `part` below the Data key, each made from its parent's handle, each with a value.
void Chain(int depth, const std::wstring& part) {
  RegKey key;
  RegCreateKeyExW(HKEY_CURRENT_USER, kData.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, key.Put(), nullptr);
  for (int i = 0; i < depth; ++i) {
    const std::wstring level = std::to_wstring(i);
    RegSetValueExW(key.Get(), L"level", 0, REG_SZ, reinterpret_cast<const BYTE*>(level.c_str()),
                   static_cast<DWORD>((level.size() + 1) * 2));
    RegKey child;
    RegCreateKeyExW(key.Get(), part.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, child.Put(), nullptr);
    key = std::move(child);
  }
}

// The backups the case made, newest last.
std::vector<std::wstring> NewBackups(const std::vector<std::wstring>& before) {
  std::vector<std::wstring> made;
  for (const auto& b : RegistryBackup::Backups())
    if (std::find(before.begin(), before.end(), b) == before.end()) made.push_back(b);
  return made;
}

// Word's Data key repaired through COM or the command: afterwards it is as it was (kept), or gone with a backup
// that restores it exactly. `backedUp`: whether a backup must have been made.
void RepairData(bool command, bool backedUp) {
  const auto before = DataContents();
  const auto backups = RegistryBackup::Backups();
  if (command) {
    test::SetText(kSection, L"WordVersion", kVersion);
    Command(L"repair " + kName + L" --data", 0, 170000);
  } else {
    Variant v = Variant::Of(kVersion);
    if (test::CallByName(test::CreateMain2().Get(), L"DeleteCorruptedDataFolder", {v}) != S_OK)
      Problem(L"DeleteCorruptedDataFolder failed its caller");
  }
  const auto made = NewBackups(backups);
  if (made.size() != (backedUp ? 1u : 0u)) Problem(std::to_wstring(made.size()) + L" backups made");
  const auto after = DataContents();
  if (!after.empty() && after != before) Problem(L"Word's Data key was changed, not kept");
  if (after.empty() && made.empty()) Problem(L"Word's Data key went without a backup");
  for (const auto& b : made) {
    RegDeleteTreeW(HKEY_CURRENT_USER, kData.c_str());
    Command(L"restore \"" + b + L"\"", 0, 170000);
    if (DataContents() != before) Problem(L"the backup does not restore Word's Data key exactly");
    DeleteFileW(b.c_str());
  }
}

// Data keys 70 and 512 levels deep (through COM and the command), and one whose path passes what a key path can
// be (130 levels of 255-character names): that one is neither backed up nor deleted.
Tried DeepData(int index, bool) {
  const struct { int depth; size_t name; bool command, backedUp; const char* what; } cases[] = {
      {70, 5, false, true, "a Data key 70 levels deep, through COM"},
      {512, 5, true, true, "a Data key 512 levels deep, repair --data"},
      {130, 255, false, false, "a Data key path of 33,000 characters"}};
  const auto& c = cases[index];
  Chain(c.depth, std::wstring(c.name, L'd'));
  RepairData(c.command, c.backedUp);
  return {1, c.what};
}

// Wide Data keys: 5,000 values (names with CR, LF, quotes and backslashes, every type) deleted and restored;
// 1,000 sub-keys kept and backed up; values past the backup limit, neither backed up nor deleted.
Tried WideData(int index, bool) {
  const std::wstring names[] = {L"a\r\nb", L"\"q\"", L"back\\slash\\", L"=hex:01,\\", L"\n", L"plain"};
  const DWORD types[] = {REG_SZ, REG_BINARY, REG_DWORD, REG_MULTI_SZ, REG_EXPAND_SZ, REG_QWORD, REG_NONE, 0x1234};
  if (index == 0) {
    for (int i = 0; i < 5000; ++i) {
      const std::wstring text = names[i % 6] + L"\r\n\"" + std::to_wstring(i);
      test::SetValue(kData, names[i % 6] + std::to_wstring(i), types[i % 8], text.c_str(),
                     static_cast<DWORD>(text.size() * 2 + i % 3));
    }
    RepairData(false, true);
    return {1, "a Data key of 5,000 values"};
  }
  if (index == 1) {
    for (int i = 0; i < 1000; ++i) test::SetText(kData + L"\\k" + std::to_wstring(i), names[i % 6], L"v");
    RepairData(true, true);
    return {1, "a Data key of 1,000 sub-keys"};
  }
  const std::vector<BYTE> big(1 << 20, 0x5A);
  for (int i = 0; i < 3; ++i) test::SetValue(kData, L"big" + std::to_wstring(i), REG_BINARY, big.data(), 1 << 20);
  RepairData(false, false);
  return {1, "a Data key past the backup limit"};
}

// A backup of the product's cut short at points through it and changed at one byte, and hostile .reg texts:
// each restore is refused (exit 2) and writes nothing.
Tried DamagedBackups(int, bool full) {
  test::SetText(kData, L"a\r\nb", L"text");
  test::SetValue(kData, L"bin", REG_BINARY, "\x01\x02\x03", 3);
  const auto backups = RegistryBackup::Backups();
  Variant v = Variant::Of(kVersion);
  test::CallByName(test::CreateMain2().Get(), L"DeleteCorruptedDataFolder", {v});
  const auto made = NewBackups(backups);
  if (made.size() != 1 || test::KeyExists(kData)) return Problem(L"the Data key was not backed up and deleted"), Tried{1, "damaged backups"};
  const std::string whole = test::ReadWholeFile(made[0]);
  DeleteFileW(made[0].c_str());
  std::vector<std::string> files;
  const size_t points = full ? 64 : 6;
  for (size_t i = 1; i < points; ++i) files.push_back(whole.substr(0, whole.size() * i / points));
  for (size_t i = 1; i < points; ++i) {
    std::string changed = whole;
    changed[changed.size() * i / points] ^= 0x01;
    files.push_back(changed);
  }
  const std::wstring start = L"\xFEFFWindows Registry Editor Version 5.00\r\n[HKEY_CURRENT_USER\\" + kData + L"]\r\n";
  for (const std::wstring& hostile :
       {start + L"\"x\"=hex:0,01\r\n", start + L"\"x\"=hex:01,\r\n", start + L"\"x\"=hex:01,\\\r\n; c\r\n",
        start + L"\"x\"=\"\\q\"\r\n", start + L"\"x\"=\"1\"", start + L"; c \\\r\n\"x\"=\"1\"\r\n\"y\"=hex:1\r\n"})
    files.emplace_back(reinterpret_cast<const char*>(hostile.data()), hostile.size() * 2);
  const std::wstring file = vbw::ErrorLog::Folder() + L"damaged-" + std::to_wstring(GetCurrentProcessId()) + L".reg";
  for (const auto& bytes : files) {
    test::WriteWholeFile(file, bytes);
    Command(L"restore \"" + file + L"\"", 2);
    if (test::KeyExists(kData)) Problem(L"a refused restore wrote Word's Data key");
    RegDeleteTreeW(HKEY_CURRENT_USER, kData.c_str());
  }
  DeleteFileW(file.c_str());
  return {static_cast<int>(files.size()), "damaged and hostile backups"};
}

// --- Users whose profile folder's name the ANSI code page lacks ------------------------------------------------------

// A user named in Cyrillic or in Japanese, in this prefix: the application-data folder the component looks up (the
// default user's, which Wine answers for every user), and the local one where the error log and the backups go, lead
// into C:\users\<name>\; the product's template is installed. All as it was afterwards.
struct ForeignUser {
  explicit ForeignUser(const std::wstring& name) : profile(L"C:\\users\\" + name + L"\\") {
    std::error_code e;
    for (const auto& folder : {profile, source}) std::filesystem::remove_all(folder, e);
    std::filesystem::create_directories(profile + L"AppData\\Roaming", e);
    std::filesystem::create_directories(source, e);
    test::WriteWholeFile(source + kName + L".dot", "dot template");
    test::WriteWholeFile(source + kName + L".dotm", "dotm template");
    const std::wstring roaming = profile + L"AppData\\Roaming", local = profile + L"AppData\\Local";
    RegSetKeyValueW(HKEY_USERS, defaults[0].key.c_str(), L"AppData", REG_EXPAND_SZ, roaming.c_str(),
                    static_cast<DWORD>((roaming.size() + 1) * 2));
    test::SetValue(kUserFolders, L"Local AppData", REG_EXPAND_SZ, local.c_str(), static_cast<DWORD>((local.size() + 1) * 2));
  }
  ~ForeignUser() {
    std::error_code e;
    for (const auto& folder : {profile, source}) std::filesystem::remove_all(folder, e);
  }
  // The files in the user's Templates folder.
  std::vector<std::wstring> Templates() const {
    std::vector<std::wstring> names;
    std::error_code e;
    for (std::filesystem::directory_iterator f(templates, e), end; !e && f != end; f.increment(e))
      names.push_back(f->path().filename().wstring());
    return names;
  }

  static inline const std::wstring kUserFolders = L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders",
                                   kShellFolders = L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";
  // The default user's "AppData" in both keys, put back as it was.
  struct KeptDefault {
    explicit KeptDefault(const std::wstring& k) : key(L".Default\\" + k) {
      if (RegGetValueW(HKEY_USERS, key.c_str(), L"AppData", RRF_RT_ANY | RRF_NOEXPAND, &type, data.data(), &size)) size = 0;
    }
    ~KeptDefault() {
      if (size) RegSetKeyValueW(HKEY_USERS, key.c_str(), L"AppData", type, data.data(), size);
      else RegDeleteKeyValueW(HKEY_USERS, key.c_str(), L"AppData");
    }
    const std::wstring key;
    DWORD type = 0, size = 4096;
    std::vector<BYTE> data = std::vector<BYTE>(4096);
  } defaults[2]{KeptDefault(kUserFolders), KeptDefault(kShellFolders)};
  test::KeptUserKey kept[2]{test::KeptUserKey(kUserFolders), test::KeptUserKey(kShellFolders)};
  const std::wstring profile, source = L"C:\\Program Files\\Valdomeren\\" + kName + L"\\",
                              templates = profile + L"AppData\\Roaming\\Microsoft\\Templates\\",
                              copy = templates + kName + L".dotm";
};

// The main job for such a user while something fails: launches through COM (the Templates folder missing, Word dying
// in the launch, the copy there held open by another program, a file where the folder goes), the install (Word must
// be handed the real quoted path), install-deps fetching other bytes than its pin into an Internet cache in the
// user's folder, and repair --data of a Data key holding the user's name. The template must land in the user's real
// folder and nowhere else.
Tried Users(int index, bool full) {
  const std::wstring names[] = {L"Иван", L"山田太郎"}, &name = names[index % 2];
  const char* whats[] = {"launch, the Templates folder missing", "launch, Word dying at its macro",
                         "launch, the copy held open and out of date", "launch, a file where the Templates folder goes",
                         "install, the Templates folder missing", "install-deps, a download not matching its pin",
                         "repair --data of the user's own values"};
  // The full form tries each fault for both users; the short form each fault once, for the two in turn.
  const int fault = full ? index / 2 : index;
  const ForeignUser user(name);
  std::string expected = "dotm template";
  if (vbw::ErrorLog::Folder() != user.profile + L"AppData\\Local\\Valdomeren\\Tamberlux\\")
    Problem(L"the user's local folder was not set up: " + vbw::ErrorLog::Folder());
  if (fault < 4) {
    CaseWord word;
    if (fault == 1) word.Set(L"DieAt", L"Run");
    Handle held;  // another program's, without sharing
    if (fault == 2) {
      std::filesystem::create_directories(user.templates);
      test::WriteWholeFile(user.copy, expected = "user's copy");
      test::ProductTemplate::SetTime(user.copy, FILETIME{1, 1});
      held = Handle(CreateFileW(user.copy.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    }
    if (fault == 3) {
      std::filesystem::create_directories(user.profile + L"AppData\\Roaming\\Microsoft");
      test::WriteWholeFile(user.templates.substr(0, user.templates.size() - 1), "not a folder");
      expected = "<missing>";
    }
    BoxPresser boxes;
    Launch(kName);
    held.Reset();
    // The refused copy is reported with its path whole.
    std::wstring doubled;
    for (const wchar_t c : user.copy) doubled += c == L'\\' ? L"\\\\" : std::wstring(1, c);
    if (fault >= 2 && test::ReadWholeFile(vbw::ErrorLog::Path()).find(ToUtf8(L"could not be copied to " + doubled)) ==
                          std::string::npos)
      Problem(L"no report names the copy " + user.copy);
  } else if (fault == 4) {
    const test::PresentLibraries libraries(kName.c_str());
    CaseWord word;
    word.Set(L"MacroResult", L"object");
    BoxPresser boxes;
    Command(L"install " + kName, 0, 150000);
    std::vector<std::wstring> calls;
    for (const DWORD process : word.Processes())
      for (const auto& call : word.Calls(process))
        if (call.starts_with(L"AddIns.Add")) calls.push_back(call);
    if (calls != std::vector<std::wstring>{L"AddIns.Add\t\"" + user.copy + L"\""})
      Problem(L"Word was not handed the copy's quoted path: " + (calls.empty() ? L"no AddIns.Add" : calls[0]));
  } else if (fault == 5) {
    const InstallerStage stage("wrong", false);
    const std::wstring cache = user.profile + L"AppData\\Local\\Microsoft\\Windows\\INetCache";
    test::SetValue(InstallerStage::kFolders, L"Cache", REG_EXPAND_SZ, cache.c_str(), static_cast<DWORD>((cache.size() + 1) * 2));
    test::SetMachineValue(WordKeys::kPinsKey, L"/dependencies/infra.exe", stage.pin);
    const std::string said = stage.InstallDeps(150000);
    if (const std::string asked = stage.Read(L"requests"); asked.find("/dependencies/infra.exe") == std::string::npos)
      Problem(L"nothing was fetched; the server was asked for: \"" + FromUtf8(asked) + L"\"; install-deps said: " +
              FromUtf8(said) + L"; the error log: " + FromUtf8(test::ReadWholeFile(vbw::ErrorLog::Path())));
    if (!stage.InstallerRuns().empty()) Problem(L"an installer ran");
    std::error_code e, none;
    for (std::filesystem::recursive_directory_iterator f(cache, e), end; !e && f != end; f.increment(e))
      if (f->path().filename().wstring().starts_with(L"infra") && f->is_regular_file(none) && f->file_size(none))
        Problem(L"a refused download left in the user's cache: " + f->path().wstring());
    expected = "<missing>";
  } else {
    test::SetText(kData, name, name + L" \u2014 " + user.profile);
    test::SetText(kData + L"\\" + name, L"", name);
    RepairData(true, true);
    expected = "<missing>";
  }
  if (test::ReadWholeFile(user.copy) != expected) Problem(L"the user's copy of the template is not " + FromUtf8(expected));
  if (user.Templates().size() > (expected == "<missing>" ? 0u : 1u)) Problem(L"more than the copy in the Templates folder");
  wchar_t own[MAX_PATH] = {};
  GetEnvironmentVariableW(L"APPDATA", own, MAX_PATH);
  if (GetFileAttributesW((own + L"\\Microsoft\\Templates\\"s + kName + L".dotm").c_str()) != INVALID_FILE_ATTRIBUTES)
    Problem(L"the template was copied into the prefix's own user's folder "s + own);
  CheckWhole();
  return {1, whats[fault] + " ("s + ToUtf8(name) + ")"};
}

// shortCases: how many of a group's cases the short form runs, when fewer than all.
const struct { const wchar_t* name; int cases; DWORD boundMs; Tried (*run)(int index, bool full); int shortCases = 0; } kGroups[] = {
    {L"reporter", 10, 30000, Reporter}, {L"registry", 5, 180000, RegistryValues},
    {L"many", 1, 180000, ManyEntries}, {L"threads", 1, 120000, TwoThreads}, {L"installer", 5, 180000, Installer},
    {L"settings", 13, 150000, HostileSettings}, {L"hook", 2, 60000, WindowGoes}, {L"flags", 1, 120000, Flags},
    {L"monitor", 1, 90000, MonitorSurfaces}, {L"damaged", 6, 120000, DamagedLog}, {L"deep", 3, 180000, DeepData},
    {L"wide", 3, 180000, WideData}, {L"backups", 1, 180000, DamagedBackups}, {L"users", 14, 180000, Users, 7}};

int RunCase(const std::wstring& group, int index, const std::wstring& extra, bool full) {
  test::StartedTrap trap;
  test::RegisterComponent();
  Arrange();
  Tried tried{0, ""};
  if (group == L"probe") {  // prints the record name of each call a first launch makes into Word, in order
    CaseWord word;
    Launch(kName);
    for (const auto& c : word.Calls())
      if (const std::wstring name = c.substr(0, c.find(L'\t')); name != L"Created" && name != L"Exited")
        std::printf("call %s\n", ToUtf8(name).c_str());
  }
  try {
    if (group == L"word") tried = WordDies(extra, index);
    for (const auto& g : kGroups)
      if (group == g.name && index < g.cases) tried = g.run(index, full);
    CheckWhole();
  } catch (const vb::Error& e) {
    std::printf("case: %s %d\ntried 1\nstopped by error %d: %s\n", ToUtf8(group).c_str(), index, e.number,
                ToUtf8(e.description).c_str());
    return kStopped;
  }
  Clean();
  std::printf("case: %s\ntried %d\n", tried.what.c_str(), tried.faults);
  for (const auto& p : problems) std::printf("problem: %s\n", ToUtf8(p).c_str());
  return problems.empty() ? 0 : kHalfWritten;
}

// --- The suite ---------------------------------------------------------------

// `only`: the groups to run, "word,reporter" (the Word deaths are "word"); empty: all.
int Suite(bool full, const std::wstring& only) {
  const auto chosen = [&](const std::wstring& g) { return only.empty() || (L"," + only + L",").find(L"," + g + L",") != std::wstring::npos; };
  int tried = 0, crashes = 0, hangs = 0, halfWritten = 0;
  // Runs one case in its own process within its bound, adds it to the tally and prints its row; what it printed.
  const auto runOne = [&](const std::wstring& group, int index, DWORD boundMs, const std::wstring& extra = L"") {
    const test::Ran r = test::Run(L"\"" + test::BinDir() + L"FaultSuite.exe\" --case " + group + L" " +
                                      std::to_wstring(index) + L" \"" + extra + L"\"" + (full ? L" --full" : L"") +
                                      (group == L"reporter" ? L" /trace" : L""),
                                  boundMs, true, &child);
    const size_t at = r.bytes.find("tried "), line = r.bytes.find("case: ");
    const int n = at == std::string::npos ? 1 : std::atoi(r.bytes.c_str() + at + 6);
    if (n == 0) return r.bytes;  // the probe
    tried += n;
    if (r.hung || r.code) ++(r.hung ? hangs : r.code == kHalfWritten ? halfWritten : crashes);
    const std::string what =
        line == std::string::npos ? ToUtf8(group) : r.bytes.substr(line + 6, r.bytes.find('\n', line) - line - 6);
    const char* verdict = r.hung             ? "HANG"
                          : !r.code              ? "ok"
                          : r.code == kHalfWritten ? "HALF-WRITTEN"
                          : r.code == kStopped   ? "STOPPED"
                                                 : "CRASH";
    std::printf("  %-12s %-50s %3d  %s\n", verdict, what.c_str(), n, r.code && !r.hung ? r.bytes.c_str() : "");
    std::fflush(stdout);
    return r.bytes;
  };
  std::printf("Fault suite (%s form):\n", full ? "full" : "short");
  // Word dies at each call a first launch makes, in turn.
  std::vector<std::wstring> calls;
  if (chosen(L"word")) {
    for (const std::wstring& line : test::Split(FromUtf8(runOne(L"probe", 0, 60000)), L'\n'))
      if (line.starts_with(L"call ")) calls.push_back(line.substr(5, line.find(L'\r') - 5));
    if (calls.empty()) ++crashes, std::printf("  the probe launch made no calls into Word\n");
  }
  for (auto c = calls.begin(); c != calls.end(); ++c)
    runOne(L"word", static_cast<int>(std::count(calls.begin(), c, *c)), 60000, *c);
  for (const auto& g : kGroups)
    for (int i = 0; i < (full || !g.shortCases ? g.cases : g.shortCases) && chosen(g.name); ++i)
      runOne(g.name, i, g.boundMs);
  std::printf("\n%-14s %-8s %-24s %s\n%-14d %-8d %-24d %d\n", "faults tried", "crashes", "hangs past the bound",
              "registry or files half-written", tried, crashes, hangs, halfWritten);
  return crashes || hangs || halfWritten ? 1 : 0;
}

}  // namespace
}  // namespace tamberlux

int wmain(int argc, wchar_t** argv) {
  using namespace tamberlux;
  bool full = false;
  std::wstring only;
  for (int i = 1; i < argc; ++i) {
    full = full || std::wstring(argv[i]) == L"--full";
    if (std::wstring(argv[i]) == L"--groups" && i + 1 < argc) only = argv[++i];
  }
  if (argc >= 5 && std::wstring(argv[1]) == L"--case") return RunCase(argv[2], _wtoi(argv[3]), argv[4], full);
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  const int code = Suite(full, only);
  CoUninitialize();
  return code;
}
