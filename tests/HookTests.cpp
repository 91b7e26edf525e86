// The installation hook end to end, through COM against the stand-in Word in
// its own process: deferral through message 1122 and the window hook, the
// macro's repair, the boxes a user sees, the install command, and the wait.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

#include "PresentLibraries.h"
#include "TestSupport.h"
#include "support/SleepReplacement.h"
#include "support/UtilityFunctions.h"
#include "support/VBLanguageExtensions.h"

namespace tamberlux::HookTests {
namespace {

using test::ProductTemplate;
using test::ReadWholeFile;
using test::WriteWholeFile;
using Texts = std::vector<std::wstring>;
constexpr wchar_t kName[] = L"Zentrello";
const std::wstring kMissing =
    L"Microsoft Word will now exit because Zentrello is missing one of the files that it needs to run: Missing.dll.\r\n"
    L"To fix this problem, please download and install it from:\r\nhttp://www.zentrello.com/Zentrello.exe";

// The calls whose record starts with one of `prefixes`, cut at their second tab.
Texts Calls(const test::WordStandIn& word, std::initializer_list<std::wstring_view> prefixes) {
  Texts out;
  for (const auto& c : word.Calls())
    if (std::any_of(prefixes.begin(), prefixes.end(), [&](auto p) { return c.starts_with(p); }))
      out.push_back(c.substr(0, c.find(L'\t', c.find(L'\t') + 1)));
  return out;
}

class Hook : public test::Main2Test {
 protected:
  Hook() {
    WriteWholeFile(files.Source(L".dot"), "dot template");
    WriteWholeFile(files.Source(L".dotm"), "dotm template");
  }

  // HookIntoWord as a compiled installer calls it; the object it answered, or Nothing.
  LateObject HookIntoWord(const LateObject& app, const wchar_t* name = kName) {
    Variant result;
    EXPECT_EQ(test::CallHookIntoWord(main2.Get(), app, name, &result), S_OK);
    return LateObject::FromVariant(result);
  }

  test::PrivateUserHive hive;
  ProductTemplate files;
  test::PresentLibraries libraries;
};

// A Word that goes as its macro fails (dies: at the repair's reading of its version) is neither repaired, nor
// reported (no error report for an empty version), nor the user told that something was.
TEST_F(Hook, AnAcceptedTemplateRunsTheMacroOnceAndAFailingMacroGetsOneRepairOfWordsData) {
  const std::wstring restart =
      L"You need to restart Word|Zentrello has fixed a corrupted Word registry key. Please restart Word.|OK, icon";
  struct { const wchar_t *version, *macro; DWORD failMacros; bool object; std::wstring dialog; bool dies = false; }
  const scenarios[] = {
      {L"12.0", L"HookIntoWord", 0, true, L"||"}, {L"12.0", L"HookIntoWord", 1, true, L"||"},
      {L"12.0", L"HookIntoWord", 2, false, restart}, {L"11.0", L"Initialize", 0, false, L"||"},
      {L"11.0", L"Initialize", 2, false, restart}, {L"12.0", L"HookIntoWord", 2, false, L"||", true}};
  for (const auto& s : scenarios) {
    SCOPED_TRACE(std::wstring(s.version) + L" failing " + std::to_wstring(s.failMacros) + (s.dies ? L", dies" : L""));
    test::WordStandIn word;
    word.Set(L"Version", s.version);
    word.Set(L"FailMacros", s.failMacros);
    word.Set(L"MacroResult", L"object");
    if (s.dies) {
      word.Set(L"DieAt", L"Version");
      word.Set(L"DieAfter", 3u);  // the usable-Word check and the release questions answer first
    }
    const std::wstring data = L"Software\\Microsoft\\Office\\" + std::wstring(s.version) + L"\\Word\\Data";
    const std::wstring otherData = L"Software\\Microsoft\\Office\\14.0\\Word\\Data";
    test::SetText(data, L"Settings", L"corrupt");
    test::SetText(otherData, L"Settings", L"fine");
    const std::wstring copy = files.Copy(s.version == std::wstring(L"12.0") ? L".dotm" : L".dot");

    test::DialogWatch watch;
    const LateObject result = HookIntoWord(test::WordStandIn::Start());
    const auto seen = watch.Result(true);
    EXPECT_EQ(seen.title + L"|" + seen.text + L"|" + seen.style, s.dialog);
    EXPECT_EQ(Calls(word, {L"AddIns.Add"}), Texts{L"AddIns.Add\t\"" + copy + L"\""});
    EXPECT_NE(ReadWholeFile(copy), "<missing>");
    const size_t runs = s.failMacros && !s.dies ? 2 : 1;
    EXPECT_EQ(Calls(word, {L"Run\t"}), Texts(runs, std::wstring(L"Run\t") + s.macro));
    EXPECT_EQ(Calls(word, {L"Run.Given\tApplication"}).size(), runs) << "the macro is given Word's application";
    EXPECT_EQ(result ? ToText(result.Get(L"Name")) : L"Nothing", s.object ? s.macro : L"Nothing");
    EXPECT_EQ(test::KeyExists(data), s.failMacros == 0 || s.dies) << "repaired once the macro failed";
    EXPECT_TRUE(test::KeyExists(otherData));
    DeleteFileW(copy.c_str());
  }
}

TEST_F(Hook, ARefusedTemplateIsAddedAfterWordsWindowInItsOwnProcessHandled1122) {
  ProductTemplate beta(L"Zentrello Beta");
  WriteWholeFile(beta.Source(L".dotm"), "beta template");
  test::WordStandIn word;
  word.Set(L"FailAddIns", 3u);
  const LateObject app = test::WordStandIn::Start();
  EXPECT_FALSE(HookIntoWord(app)) << "deferred: Nothing";
  EXPECT_TRUE(Calls(word, {L"Run\t"}).empty()) << "nothing more until the caller dispatches messages";
  // The second call's own wait lets the first one's check run: Word still
  // refuses. Then the second call's work replaces the first's.
  test::DialogWatch watch;
  EXPECT_FALSE(HookIntoWord(app, L"Zentrello Beta"));
  const auto still = watch.Result();
  EXPECT_EQ(still.title + L"|" + still.text + L"|" + still.style, L"Tamberlux|Error: Still cannot install add-in|OK");
  ASSERT_TRUE(test::WaitUntil([&] { return Calls(word, {L"Run\t"}).size() == 1; }, 30000));

  // The hook is gone: another 1122 reaches Word and nothing follows.
  PostMessageW(test::WordStandIn::Windows(word.Processes().at(0)).at(0), 1122, 0, 0);
  app.Get(L"Version");  // queued behind 1122: what Word's hook posted for it is here now
  test::WaitUntil([] { return true; }, 0);  // dispatches what is queued
  const std::wstring add = L"AddIns.Add\t\"" + files.Copy(L".dotm") + L"\"",
                     addBeta = L"AddIns.Add\t\"" + beta.Copy(L".dotm") + L"\"";
  EXPECT_EQ(Calls(word, {L"AddIns.Add", L"Message", L"Run\t"}),
            (Texts{add, L"Message\t1122", add, addBeta, L"Message\t1122", addBeta, L"Run\tHookIntoWord", L"Message\t1122"}))
      << "each check runs after Word's own window procedure has handled 1122";
}

// A window of the test's own thread that Word's helpers take for Word's main
// window (Word's active document has its title, and it is the active window).
LRESULT CALLBACK CountingProc(HWND w, UINT m, WPARAM wp, LPARAM lp) {
  if (m == 1122) SetWindowLongPtrW(w, GWLP_USERDATA, GetWindowLongPtrW(w, GWLP_USERDATA) + 1);
  return DefWindowProcW(w, m, wp, lp);
}

TEST_F(Hook, TheSameDeferralWorksWithAWindowOfTheCallingThread) {
  test::WordStandIn word;
  word.Set(L"FailAddIns", 1u);
  LateObject app = test::WordStandIn::Start();
  app.Object(L"Documents").Call(L"Add");  // "Document1"
  const HWND own =
      test::AddWindow(L"OpusApp", L"Document1 - Microsoft Word", CountingProc, WS_OVERLAPPEDWINDOW | WS_VISIBLE);
  SetActiveWindow(own);
  EXPECT_FALSE(HookIntoWord(app));
  ASSERT_TRUE(test::WaitUntil([&] { return Calls(word, {L"Run\t"}).size() == 1; }, 30000));
  EXPECT_EQ(GetWindowLongPtrW(own, GWLP_USERDATA), 1) << "the test's window handled 1122";
  EXPECT_TRUE(Calls(word, {L"Message"}).empty()) << "and Word's own window none";
}

// Nothing, or an object that is not Word, is refused before any check: the missing library is neither warned
// about nor fetched, and the script is told.
TEST_F(Hook, AScriptPassesArraysOfVariantsAndGetsTheObjectOrWordIsToldToQuitOrTheRefusal) {
  test::WordStandIn word;
  word.Set(L"MacroResult", L"object");
  test::DialogWatch watch;
  const std::wstring missing = L"Set r = m.HookIntoWord(\"Zentrello\", w, Array(\"Missing.dll\"), Array())",
                     refused = L"WScript.Echo Err.Number & \" \" & IsEmpty(r)";
  const std::wstring output = test::RunVBScript(
      {L"On Error Resume Next", L"Set m = CreateObject(\"Tamberlux.Main2\")",
       L"Set w = CreateObject(\"Word.Application\")",
       // Printed only when Word cannot be had, before TypeName(Nothing) would end Wine's cscript unheard.
       L"If Err.Number <> 0 Then WScript.Echo \"Word.Application: \" & Err.Number & \" \" & Err.Description",
       L"deps = Array(\"Example.dll\")",
       L"Set r = m.HookIntoWord(\"Zentrello\", w, deps, Array())",
       L"WScript.Echo Err.Number & \" \" & TypeName(r) & \" \" & r.Name & \" \" & deps(0)",
       L"Set w = CreateObject(\"Word.Application\")", missing, L"WScript.Echo Err.Number & \" \" & (r Is Nothing)",
       L"r = Empty", L"Set w = Nothing", missing, refused,
       L"Err.Clear", L"Set w = CreateObject(\"Scripting.Dictionary\")", missing, refused});
  EXPECT_EQ(output, L"0 Object HookIntoWord Example.dll\r\n0 True\r\n12345 True\r\n12345 True\r\n")
      << "the script's own array is unchanged; a checked list would have shown the warning again";
  const auto warned = watch.Result();
  EXPECT_EQ(warned.text, kMissing);
  EXPECT_EQ(warned.style, L"OK");
  const auto pids = word.Processes();
  ASSERT_EQ(pids.size(), 2u);
  EXPECT_EQ(Calls(word, {L"Run.Given\tApplication"}).size(), 1u);
  EXPECT_TRUE(test::Contains(word.Calls(pids[1]), L"Quit") && !test::Contains(word.Calls(pids[1]), L"AddIns"));
}

TEST_F(Hook, TheInstallCommandDoesWhatTheInstallerDoesAndSaysWhatHappened) {
  struct { DWORD failAddIns; const wchar_t* args; DWORD code; std::wstring output, dialog; DWORD failMacros = 0; }
  const scenarios[] = {
      {0, L"", 0, L"Zentrello was added to Word 12.0 at once; its set-up macro answered an object.\r\n", L""},
      {0, L"", 0, L"Zentrello was added to Word 12.0 at once; its set-up macro answered an object.\r\nThe set-up "
       L"macro failed once; Word's data key was repaired and the macro ran again.\r\n", L"", 1},
      {0, L"", 5, L"tamberlux: the set-up macro failed again after Word's data key was repaired: restart Word\r\n",
       L"Zentrello has fixed a corrupted Word registry key. Please restart Word.", 2},
      {1, L"", 0, L"Word 12.0 refused the template at first; Zentrello was added after Word's window handled message 1122.\r\n", L""},
      {2, L"", 5, L"tamberlux: Word refused the template again after message 1122: Zentrello is not installed\r\n",
       L"Error: Still cannot install add-in"},
      {0, L" --deps Missing.dll", 5, L"tamberlux: libraries are missing (Missing.dll); Word was told to quit, nothing "
       L"was added\r\n", kMissing}};
  for (const auto& s : scenarios) {
    SCOPED_TRACE(s.output);
    test::WordStandIn word;
    word.Set(L"FailAddIns", s.failAddIns);
    word.Set(L"FailMacros", s.failMacros);
    word.Set(L"MacroResult", L"object");
    DeleteFileW(files.Copy(L".dotm").c_str());
    test::DialogWatch watch;
    const test::Ran r = test::Tamberlux(L"install Zentrello" + std::wstring(s.args));
    EXPECT_EQ(r.Text(), s.output);
    EXPECT_EQ(r.code, s.code);
    EXPECT_EQ(watch.Result(true).text, s.dialog);
    const bool missing = s.args[0] != L'\0';
    EXPECT_EQ(test::Contains(word.Calls(), L"Quit"), missing);
    EXPECT_EQ(ReadWholeFile(files.Copy(L".dotm")) == "<missing>", missing);
  }
}

// A message-only window of the test's thread recording what it was posted;
// message 7 starts a second wait from its handler, inside the first.
std::vector<int> seen;
bool firstEndedFirst = false;
LRESULT CALLBACK RecordingProc(HWND w, UINT m, WPARAM wp, LPARAM lp) {
  if (m < WM_APP) return DefWindowProcW(w, m, wp, lp);
  seen.push_back(static_cast<int>(m - WM_APP));
  if (const auto first = SleepReplacement::CurrentLoop(); m == WM_APP + 7 && first) {
    SleepReplacement::Wait(0, nullptr);
    firstEndedFirst = first->mFinishedBlocking && !SleepReplacement::CurrentLoop();
  }
  return 0;
}

TEST(Wait, KeepsTheThreadsMessagesFlowingOneWaitAtATime) {
  test::StartedTrap trap;
  test::ReporterStandIn reporter;
  WNDCLASSW wc{0, RecordingProc, 0, 0, GetModuleHandleW(nullptr), nullptr, nullptr, nullptr, nullptr, L"Recorder"};
  RegisterClassW(&wc);
  const WindowHandle window(CreateWindowExW(0, L"Recorder", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr));
  const HWND recorder = window.Get();
  for (int i : {1, 2, 3}) PostMessageW(recorder, WM_APP + i, 0, 0);
  SleepReplacement::Wait(0, nullptr);
  EXPECT_EQ(seen, (std::vector<int>{1, 2, 3})) << "Wait(0) ends at the timer, after what was posted before";
  EXPECT_FALSE(SleepReplacement::CurrentLoop());

  seen.clear();
  for (int i : {7, 8}) PostMessageW(recorder, WM_APP + i, 0, 0);
  SleepReplacement::Wait(20, nullptr);
  EXPECT_EQ(seen, (std::vector<int>{7, 8}));
  EXPECT_TRUE(firstEndedFirst) << "a wait started inside another returned after the other had ended";
  EXPECT_EQ(reporter.Count(L"vbwErrorHandler"), 0);

  std::vector<int32_t> ids(20000);
  for (auto& id : ids) id = VBLanguageExtensions::RandomNumber(442, 6000);
  const auto [low, high] = std::minmax_element(ids.begin(), ids.end());
  EXPECT_TRUE(*low >= 442 && *low < 1000 && *high > 5400 && *high <= 6000) << *low << " to " << *high;
  EXPECT_EQ(VBLanguageExtensions::RandomNumber(5, 5), 5);
}

}  // namespace
}  // namespace tamberlux::HookTests
