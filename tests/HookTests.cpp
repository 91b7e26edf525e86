// The installation hook, end to end: the installer's call to HookIntoWord
// through COM against the stand-in Word (its own process, with its own
// "OpusApp" window), the deferral through message 1122 and the window hook,
// the macro and its one repair, the messages a user sees, and the wait that
// keeps messages flowing.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

#include "HookSupport.h"
#include "TestSupport.h"
#include "base/LateBound.h"
#include "component/Main2.h"
#include "support/SleepReplacement.h"
#include "support/VBLanguageExtensions.h"

namespace tamberlux {
namespace {

using test::ProductTemplate;

constexpr UINT kDeferredInstall = 1122;

size_t CountOf(const std::vector<std::wstring>& calls, const std::wstring& call) {
  return static_cast<size_t>(std::count(calls.begin(), calls.end(), call));
}

// The calls whose record starts with `prefix`, in order.
std::vector<std::wstring> Matching(const std::vector<std::wstring>& calls, const std::wstring& prefix) {
  std::vector<std::wstring> out;
  for (const auto& c : calls)
    if (c.compare(0, prefix.size(), prefix) == 0) out.push_back(c);
  return out;
}

// Dispatches this thread's messages until `done` holds or a generous bound
// passes; answers `done`.
bool PumpUntil(const std::function<bool()>& done) {
  const ULONGLONG bound = GetTickCount64() + 30000;
  while (!done() && GetTickCount64() < bound) {
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
    MSG m;
    while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&m);
      DispatchMessageW(&m);
    }
  }
  return done();
}

// Dispatches what is already queued.
[[maybe_unused]] void PumpPending() {
  MSG m;
  while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&m);
    DispatchMessageW(&m);
  }
}

// A SAFEARRAY of BSTR as a compiled caller passes a string array.
struct TextArray {
  explicit TextArray(const std::vector<std::wstring>& items) {
    SAFEARRAYBOUND bound{static_cast<ULONG>(items.size()), 0};
    sa = SafeArrayCreate(VT_BSTR, 1, &bound);
    for (LONG i = 0; i < static_cast<LONG>(items.size()); ++i) {
      Bstr b(items[i]);
      SafeArrayPutElement(sa, &i, b.Get());
    }
  }
  ~TextArray() { SafeArrayDestroy(sa); }
  VARIANT Ref() {
    VARIANT v;
    v.vt = VT_BYREF | VT_ARRAY | VT_BSTR;
    v.pparray = &sa;
    return v;
  }
  SAFEARRAY* sa;
};


constexpr wchar_t kName[] = L"Zentrello";

// A caller's Word variable, passed by reference as a compiled caller passes it.
struct WordArg {
  explicit WordArg(const LateObject& app) : d(app.Get()) {}
  VARIANT Ref() {
    VARIANT v;
    v.vt = VT_BYREF | VT_DISPATCH;
    v.ppdispVal = &d;
    return v;
  }
  IDispatch* d;
};

class Hook : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(test::Regsvr32(L"/s"), 0u);
    ProductTemplate::Write(files.Source(L".dot"), "dot template");
    ProductTemplate::Write(files.Source(L".dotm"), "dotm template");
    main2 = test::CreateMain2();
    ASSERT_TRUE(main2);
  }
  void TearDown() override {
    EXPECT_EQ(reporter.Count(L"vbwErrorHandler"), 0) << "unexpected failures went to the trap";
  }

  // HookIntoWord as the installer calls it; the object it answered, or Nothing.
  LateObject HookIntoWord(const LateObject& app, const std::vector<std::wstring>& deps = {},
                          const wchar_t* name = kName) {
    Bstr n(name);
    VARIANT nameArg;
    nameArg.vt = VT_BYREF | VT_BSTR;
    nameArg.pbstrVal = n.Ref();
    WordArg w(app);
    TextArray d(deps), xp({});
    Variant result;
    EXPECT_EQ(test::CallByName(main2.Get(), L"HookIntoWord", {nameArg, w.Ref(), d.Ref(), xp.Ref()}, &result), S_OK);
    return LateObject::FromVariant(result);
  }

  test::StartedTrap trap;
  test::ReporterStandIn reporter;
  test::PrivateUserHive hive;
  ProductTemplate files;
  test::PresentLibraries libraries;
  ComPtr<IDispatch> main2;
};

TEST_F(Hook, AnAcceptedTemplateRunsTheSetUpMacroOnceAndARefusingMacroGetsOneRepairOfWordsData) {
  struct Scenario {
    const wchar_t* label;
    const wchar_t* version;
    DWORD failMacros;
    const wchar_t* macro;
    size_t runs;
    bool object, dataKeyGone;
    const wchar_t* dialog;  // text, or null for none
  } const scenarios[] = {
      {L"Word 2007, the macro works", L"12.0", 0, L"HookIntoWord", 1, true, false, nullptr},
      {L"Word 2007, the macro fails once", L"12.0", 1, L"HookIntoWord", 2, true, true, nullptr},
      {L"Word 2007, the macro fails twice", L"12.0", 2, L"HookIntoWord", 2, false, true,
       L"Zentrello has fixed a corrupted Word registry key. Please restart Word."},
      {L"Word 2003, the macro works", L"11.0", 0, L"Initialize", 1, false, false, nullptr},
      {L"Word 2003, the macro fails twice", L"11.0", 2, L"Initialize", 2, false, true,
       L"Zentrello has fixed a corrupted Word registry key. Please restart Word."},
  };
  for (const Scenario& s : scenarios) {
    SCOPED_TRACE(s.label);
    test::WordStandIn word;
    word.Set(L"Version", s.version);
    word.Set(L"FailMacros", s.failMacros);
    word.Set(L"MacroResult", L"object");
    const std::wstring data = std::wstring(L"Software\\Microsoft\\Office\\") + s.version + L"\\Word\\Data";
    const std::wstring otherData = L"Software\\Microsoft\\Office\\14.0\\Word\\Data";
    test::SetText(data, L"Settings", L"corrupt");
    test::SetText(otherData, L"Settings", L"fine");
    const wchar_t* extension = std::wstring(s.version) == L"12.0" ? L".dotm" : L".dot";

    test::DialogWatch watch(L"", IDOK, s.dialog ? 30000 : 1500);
    const LateObject result = HookIntoWord(test::WordStandIn::Start());
    const auto seen = watch.Result();
    EXPECT_EQ(seen.appeared, s.dialog != nullptr);
    if (s.dialog) {
      EXPECT_EQ(seen.text, s.dialog);
      EXPECT_EQ(seen.title, L"You need to restart Word");
    }
    const auto calls = word.Calls();
    EXPECT_EQ(Matching(calls, L"AddIns.Add"), std::vector<std::wstring>{L"AddIns.Add\t\"" + files.Copy(extension) + L"\""});
    EXPECT_EQ(ProductTemplate::Read(files.Copy(extension)), extension == std::wstring(L".dot") ? "dot template" : "dotm template");
    EXPECT_EQ(Matching(calls, L"Run\t").size(), s.runs) << "no other macro";
    EXPECT_EQ(CountOf(calls, std::wstring(L"Run\t") + s.macro + L"\tObject"), s.runs);
    EXPECT_EQ(CountOf(calls, L"Run.Given\tApplication"), s.runs) << "the macro is given Word's application";
    EXPECT_EQ(static_cast<bool>(result), s.object);
    if (result) {
      EXPECT_EQ(ToText(result.Get(L"Name")), s.macro) << "the macro's own object";
    }
    EXPECT_EQ(test::KeyExists(data), !s.dataKeyGone);
    EXPECT_TRUE(test::KeyExists(otherData)) << "another version's data stays";
    DeleteFileW(files.Copy(extension).c_str());
  }
}


// The records of interest in a deferral, in order.
std::vector<std::wstring> DeferralSequence(const std::vector<std::wstring>& calls) {
  std::vector<std::wstring> out;
  for (const auto& c : calls)
    if (c.rfind(L"AddIns.Add", 0) == 0 || c == L"Message\t1122" || c.rfind(L"Run\t", 0) == 0)
      out.push_back(c.rfind(L"AddIns.Add", 0) == 0 ? L"AddIns.Add" : c.substr(0, c.find(L'\t', c.find(L'\t') + 1)));
  return out;
}

// Word's main window: the stand-in's, in its own process.
HWND WordWindow(const test::WordStandIn& word) {
  const auto windows = test::WordStandIn::Windows(word.Processes().at(0));
  return windows.empty() ? nullptr : windows[0];
}

// Everything Word's window was sent before this has been handled, and what
// its hook posted for it is in this thread's queue: Word answered a call
// that was queued behind it.
void DispatchWhatWordHasHandled(const LateObject& app) {
  app.Get(L"Version");
  PumpPending();
}

TEST_F(Hook, ARefusedTemplateIsAddedAfterWordsWindowInItsOwnProcessHasHandledMessage1122) {
  test::WordStandIn word;
  word.Set(L"FailAddIns", 1u);
  word.Set(L"MacroResult", L"object");
  const LateObject app = test::WordStandIn::Start();
  EXPECT_FALSE(HookIntoWord(app)) << "a deferred installation answers Nothing";
  EXPECT_EQ(CountOf(word.Calls(), L"Run\tHookIntoWord\tObject"), 0u) << "nothing more until the caller pumps";

  ASSERT_TRUE(PumpUntil([&] { return CountOf(word.Calls(), L"Run\tHookIntoWord\tObject") == 1; }));
  EXPECT_EQ(DeferralSequence(word.Calls()),
            (std::vector<std::wstring>{L"AddIns.Add", L"Message\t1122", L"AddIns.Add", L"Run\tHookIntoWord"}))
      << "the check runs again after Word's own window procedure has handled 1122";
  EXPECT_EQ(CountOf(word.Calls(), L"Run.Given\tApplication"), 1u);

  // The hook is gone: another 1122 reaches Word and nothing follows.
  PostMessageW(WordWindow(word), kDeferredInstall, 0, 0);
  DispatchWhatWordHasHandled(app);
  EXPECT_EQ(CountOf(word.Calls(), L"Message\t1122"), 2u);
  EXPECT_EQ(Matching(word.Calls(), L"AddIns.Add").size(), 2u);
}

TEST_F(Hook, ATemplateStillRefusedShowsTheErrorAndWaitsForTheNext1122) {
  test::WordStandIn word;
  word.Set(L"FailAddIns", 2u);
  const LateObject app = test::WordStandIn::Start();
  test::DialogWatch watch;
  EXPECT_FALSE(HookIntoWord(app));
  // The box is shown while the refusing check's message is dispatched.
  ASSERT_TRUE(PumpUntil([&] { return Matching(word.Calls(), L"AddIns.Add").size() == 2; }));
  const auto seen = watch.Result();
  EXPECT_EQ(seen.text, L"Error: Still cannot install add-in");
  DispatchWhatWordHasHandled(app);
  EXPECT_EQ(Matching(word.Calls(), L"Run\t").size(), 0u) << "nothing retried on its own";

  PostMessageW(WordWindow(word), kDeferredInstall, 0, 0);
  ASSERT_TRUE(PumpUntil([&] { return Matching(word.Calls(), L"Run\t").size() == 1; }));
  EXPECT_EQ(DeferralSequence(word.Calls()),
            (std::vector<std::wstring>{L"AddIns.Add", L"Message\t1122", L"AddIns.Add", L"Message\t1122",
                                       L"AddIns.Add", L"Run\tHookIntoWord"}));
}

TEST_F(Hook, ASecondHookIntoWordWhileDeferredReplacesThePendingWork) {
  ProductTemplate beta(L"Zentrello Beta");
  ProductTemplate::Write(beta.Source(L".dotm"), "beta template");
  test::WordStandIn word;
  word.Set(L"FailAddIns", 3u);
  const LateObject app = test::WordStandIn::Start();
  EXPECT_FALSE(HookIntoWord(app));
  // The second call's own wait lets the first deferral's check run (and
  // fail) before its own check fails and its hook replaces the first.
  test::DialogWatch watch;
  EXPECT_FALSE(HookIntoWord(app, {}, L"Zentrello Beta"));
  EXPECT_EQ(watch.Result().text, L"Error: Still cannot install add-in");

  ASSERT_TRUE(PumpUntil([&] { return Matching(word.Calls(), L"Run\t").size() == 1; }));
  PostMessageW(WordWindow(word), kDeferredInstall, 0, 0);
  DispatchWhatWordHasHandled(app);
  const auto adds = Matching(word.Calls(), L"AddIns.Add");
  ASSERT_EQ(adds.size(), 4u) << "neither hook raised anything more";
  EXPECT_EQ(adds[3], L"AddIns.Add\t\"" + beta.Copy(L".dotm") + L"\"") << "the second call's template";
  EXPECT_EQ(ProductTemplate::Read(beta.Copy(L".dotm")), "beta template");
  EXPECT_EQ(Matching(word.Calls(), L"Run\t").size(), 1u);
}

// A window of the test's own thread that Word's helpers take for Word's
// main window; it counts the 1122 messages its procedure handled.
class OwnWordWindow {
 public:
  OwnWordWindow() {
    WNDCLASSW wc{};
    wc.lpfnWndProc = Proc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"OpusApp";
    RegisterClassW(&wc);
    window = CreateWindowExW(0, L"OpusApp", L"Document1 - Microsoft Word", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0,
                             300, 200, nullptr, nullptr, wc.hInstance, nullptr);
    SetActiveWindow(window);
    handled = 0;
  }
  ~OwnWordWindow() { DestroyWindow(window); }
  static LRESULT CALLBACK Proc(HWND w, UINT m, WPARAM wp, LPARAM lp) {
    if (m == kDeferredInstall) ++handled;
    return DefWindowProcW(w, m, wp, lp);
  }
  HWND window;
  static inline int handled = 0;
};

TEST_F(Hook, TheSameDeferralWorksWithAWindowOfTheCallingThreadAndAReleasedMain2LeavesNoHook) {
  test::WordStandIn word;
  word.Set(L"FailAddIns", 1u);
  LateObject app = test::WordStandIn::Start();
  app.Object(L"Documents").Call(L"Add");  // "Document1", as the test's window is titled
  OwnWordWindow own;
  ASSERT_EQ(GetActiveWindow(), own.window);
  std::wstring name = kName;
  std::vector<std::wstring> none;
  {
    Main2 m;
    EXPECT_FALSE(m.HookIntoWord(name, app, none, none));
    EXPECT_EQ(m.mName, kName);
    EXPECT_EQ(m.mPath, L"\"" + files.Copy(L".dotm") + L"\"");
    EXPECT_TRUE(m.mWord.SameAs(app));
    ASSERT_TRUE(m.mSubclasser && m.mSubclasser->Attached());

    ASSERT_TRUE(PumpUntil([&] { return Matching(word.Calls(), L"Run\t").size() == 1; }));
    EXPECT_EQ(own.handled, 1);
    EXPECT_EQ(CountOf(word.Calls(), L"Message\t1122"), 0u) << "the message went to the test's window";
    EXPECT_EQ(m.mName, kName) << "the name stays";
    EXPECT_EQ(m.mPath, L"");
    EXPECT_FALSE(m.mWord);
    ASSERT_TRUE(m.mSubclasser) << "the detached hook stays";
    EXPECT_FALSE(m.mSubclasser->Attached());

    // Releasing Main2 while deferred takes its hook off the window.
    word.Set(L"FailAddIns", 1u);
    Main2 pending;
    EXPECT_FALSE(pending.HookIntoWord(name, app, none, none));
  }
  PumpPending();
  PostMessageW(own.window, kDeferredInstall, 0, 0);
  PumpPending();
  EXPECT_EQ(own.handled, 3);
  EXPECT_EQ(Matching(word.Calls(), L"AddIns.Add").size(), 3u) << "nothing ran for a released Main2";
}

TEST_F(Hook, MissingDependenciesTellWordToQuitForCompiledAndScriptCallers) {
  const std::wstring warning =
      L"Microsoft Word will now exit because Zentrello is missing one of the files that it needs to run: "
      L"Missing.dll.\r\nTo fix this problem, please download and install it from:\r\nhttp://www.zentrello.com/"
      L"Zentrello.exe";
  {
    SCOPED_TRACE("a compiled caller");
    test::WordStandIn word;
    test::DialogWatch watch;
    EXPECT_FALSE(HookIntoWord(test::WordStandIn::Start(), {L"Missing.dll"}));
    const auto seen = watch.Result();
    EXPECT_EQ(seen.text, warning);
    EXPECT_EQ(seen.title, L"You need to reinstall Missing.dll");
    const auto calls = word.Calls();
    EXPECT_EQ(CountOf(calls, L"Quit"), 1u);
    EXPECT_TRUE(Matching(calls, L"AddIns").empty()) << "nothing added";
    EXPECT_EQ(ProductTemplate::Read(files.Copy(L".dotm")), "<missing>") << "nothing copied";
  }
  {
    SCOPED_TRACE("a script passing Array(\"Missing.dll\") and Array()");
    test::WordStandIn word;
    test::DialogWatch watch;
    const std::wstring output = test::RunVBScript(
        {L"On Error Resume Next", L"Set m = CreateObject(\"Tamberlux.Main2\")",
         L"Set w = CreateObject(\"Word.Application\")",
         L"Set r = m.HookIntoWord(\"Zentrello\", w, Array(\"Missing.dll\"), Array())",
         L"WScript.Echo Err.Number & \" \" & (r Is Nothing)"});
    EXPECT_EQ(output, L"0 True\r\n");
    EXPECT_EQ(watch.Result().text, warning);
    EXPECT_EQ(CountOf(word.Calls(), L"Quit"), 1u);
    EXPECT_TRUE(Matching(word.Calls(), L"AddIns").empty());
  }
}

TEST_F(Hook, AScriptGetsTheAddInsObjectInItsVariable) {
  test::PresentLibraries programDlls(kName, {L"Example.dll"});
  test::WordStandIn word;
  word.Set(L"MacroResult", L"object");
  const std::wstring output = test::RunVBScript(
      {L"On Error Resume Next", L"Set m = CreateObject(\"Tamberlux.Main2\")",
       L"Set w = CreateObject(\"Word.Application\")", L"deps = Array(\"Example.dll\")", L"none = Array()",
       L"Set r = m.HookIntoWord(\"Zentrello\", w, deps, none)",
       L"WScript.Echo Err.Number & \" \" & TypeName(r) & \" \" & r.Name & \" \" & UBound(deps) & \" \" & deps(0)"});
  EXPECT_EQ(output, L"0 Object HookIntoWord 0 Example.dll\r\n") << "the script's arrays are as they were";
  EXPECT_EQ(CountOf(word.Calls(), L"Run\tHookIntoWord\tObject"), 1u);
  EXPECT_TRUE(Matching(word.Calls(), L"Quit").empty());
}

TEST_F(Hook, TheInstallCommandDoesWhatTheInstallerDoesAndSaysWhatHappened) {
  // The command is its own process, with the machine's own user hive.
  const std::wstring data = L"Software\\Microsoft\\Office\\12.0\\Word\\Data";
  struct Scenario {
    const wchar_t* label;
    DWORD failAddIns, failMacros;
    const wchar_t* args;
    DWORD code;
    const wchar_t* output;
    const wchar_t* dialog;
  } const scenarios[] = {
      {L"added at once", 0, 0, L"", 0,
       L"Zentrello was added to Word 12.0 at once; its set-up macro answered an object.\r\n", nullptr},
      {L"deferred, then completed", 1, 0, L"", 0,
       L"Word 12.0 refused the template at first; Zentrello was added after Word's window handled message "
       L"1122.\r\n",
       nullptr},
      {L"refused again", 2, 0, L"", 5,
       L"tamberlux: Word refused the template again after message 1122: Zentrello is not installed\r\n",
       L"Error: Still cannot install add-in"},
      {L"macro repaired", 0, 1, L"", 0,
       L"Zentrello was added to Word 12.0 at once; its set-up macro answered an object.\r\nThe set-up macro failed "
       L"once; Word's data key was repaired and the macro ran again.\r\n",
       nullptr},
      {L"libraries missing", 0, 0, L" --deps Missing.dll", 5,
       L"tamberlux: libraries are missing (You need to reinstall Missing.dll); Word was told to quit, nothing was "
       L"added\r\n",
       L"Microsoft Word will now exit because Zentrello is missing one of the files that it needs to run: "
       L"Missing.dll.\r\nTo fix this problem, please download and install it from:\r\nhttp://www.zentrello.com/"
       L"Zentrello.exe"},
  };
  for (const Scenario& s : scenarios) {
    SCOPED_TRACE(s.label);
    test::WordStandIn word;
    word.Set(L"FailAddIns", s.failAddIns);
    word.Set(L"FailMacros", s.failMacros);
    word.Set(L"MacroResult", L"object");
    HKEY real = nullptr, key = nullptr;
    ASSERT_EQ(RegOpenCurrentUser(KEY_ALL_ACCESS, &real), ERROR_SUCCESS);
    ASSERT_EQ(RegCreateKeyExW(real, data.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    RegCloseKey(key);
    test::DialogWatch watch(L"", IDOK, s.dialog ? 30000 : 1000);
    DWORD code = 99;
    const std::wstring output = test::RunAndCapture(
        L"\"" + test::BinDir() + L"tamberlux.exe\" install Zentrello" + s.args, &code, true);
    EXPECT_EQ(output, s.output);
    EXPECT_EQ(code, s.code);
    const auto seen = watch.Result();
    EXPECT_EQ(seen.text, s.dialog ? s.dialog : L"");
    EXPECT_EQ(CountOf(word.Calls(), L"Quit"), s.code == 5 && s.dialog && s.failAddIns == 0 ? 1u : 0u);
    RegDeleteTreeW(real, data.c_str());
    RegCloseKey(real);
  }
}

// A message-only window of the test's thread that records what it was
// posted; a message `nestedWaitOn` starts a second wait from its handler.
class Recorder {
 public:
  Recorder() {
    WNDCLASSW wc{};
    wc.lpfnWndProc = Proc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"HookTests.Recorder";
    RegisterClassW(&wc);
    window = CreateWindowExW(0, wc.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, wc.hInstance, nullptr);
    seen.clear();
  }
  ~Recorder() { DestroyWindow(window); }
  static LRESULT CALLBACK Proc(HWND w, UINT m, WPARAM wp, LPARAM lp) {
    if (m < WM_APP) return DefWindowProcW(w, m, wp, lp);
    seen.push_back(static_cast<int>(m - WM_APP));
    if (m == WM_APP + nestedWaitOn) {
      // The first wait is still running here; the second must wait for it.
      outer = SleepReplacement::CurrentLoop();
      SleepReplacement::Wait(0, nullptr);
      outerFinishedFirst = outer && outer->mFinishedBlocking;
    }
    return 0;
  }
  HWND window;
  static inline std::vector<int> seen;
  static constexpr int nestedWaitOn = 7;
  static inline std::shared_ptr<MessageLoop> outer;
  static inline bool outerFinishedFirst = false;
};

TEST(Wait, KeepsTheThreadsMessagesFlowingAndOneWaitRunsAtATime) {
  test::StartedTrap trap;
  test::ReporterStandIn reporter;
  Recorder recorder;
  {
    SCOPED_TRACE("Wait(0) ends at the first timer message, after what was posted before it");
    for (int i = 1; i <= 3; ++i) PostMessageW(recorder.window, WM_APP + i, 0, 0);
    SleepReplacement::Wait(0, nullptr);
    EXPECT_EQ(Recorder::seen, (std::vector<int>{1, 2, 3}));
    EXPECT_FALSE(SleepReplacement::CurrentLoop()) << "the timer ended the wait";
  }
  {
    SCOPED_TRACE("a wait started from a message handled during another waits for it");
    Recorder::seen.clear();
    PostMessageW(recorder.window, WM_APP + Recorder::nestedWaitOn, 0, 0);
    PostMessageW(recorder.window, WM_APP + 8, 0, 0);
    SleepReplacement::Wait(20, nullptr);
    EXPECT_EQ(Recorder::seen, (std::vector<int>{Recorder::nestedWaitOn, 8}));
    ASSERT_TRUE(Recorder::outer) << "the handler ran inside the first wait";
    EXPECT_TRUE(Recorder::outerFinishedFirst) << "the first wait had ended before the second one returned";
    EXPECT_FALSE(Recorder::outer->mInBlockingLoop);
    EXPECT_FALSE(SleepReplacement::CurrentLoop());
  }
  EXPECT_EQ(reporter.Count(L"vbwErrorHandler"), 0);
}

TEST(Wait, TimerIdentifiersComeFromTheWholeRange) {
  test::StartedTrap trap;
  int low = 6001, high = 441;
  for (int i = 0; i < 20000; ++i) {
    const int32_t n = VBLanguageExtensions::RandomNumber(442, 6000);
    ASSERT_GE(n, 442);
    ASSERT_LE(n, 6000);
    low = std::min(low, n);
    high = std::max(high, n);
  }
  EXPECT_LT(low, 1000) << "draws spread over the range";
  EXPECT_GT(high, 5400);
  EXPECT_EQ(VBLanguageExtensions::RandomNumber(5, 5), 5);
}

}  // namespace
}  // namespace tamberlux
