// How the component reaches Word and looks at it: attaching to or starting
// the stand-in Word (a real out-of-process server), the release questions,
// the window walks, the message box that Word cannot cover, and the logger.
#include <gtest/gtest.h>

#include <algorithm>

#include "TestSupport.h"
#include "component/Main2.h"
#include "errortrap/VbError.h"
#include "errortrap/vbwProtector.h"
#include "support/CommonLogger.h"
#include "support/CommonWordInteractionFunctions.h"
#include "support/CommonWordWindowFunctions.h"

namespace tamberlux {
namespace {

namespace Word = CommonWordInteractionFunctions;
namespace Windows = CommonWordWindowFunctions;

std::vector<std::wstring> Puts(const std::vector<std::wstring>& calls) {
  std::vector<std::wstring> puts;
  for (const auto& c : calls)
    if (c.find(L'=') != std::wstring::npos && c.find(L":=") == std::wstring::npos) puts.push_back(c);
  return puts;
}

class WordFixture : public ::testing::Test {
 protected:
  ~WordFixture() override { Word::Terminate(); }
  test::StartedTrap trap;
  test::ReporterStandIn reporter;
  test::WordStandIn word;
  Main2 main2;
};

TEST_F(WordFixture, WithNoWordRunningWordApplicationStartsAVisibleOne) {
  LateObject app = main2.WordApplication();
  ASSERT_TRUE(app);
  const auto pids = word.Processes();
  ASSERT_EQ(pids.size(), 1u);
  EXPECT_EQ(Puts(word.Calls()), std::vector<std::wstring>{L"Visible=True"});
  const auto windows = test::WordStandIn::Windows(pids[0]);
  ASSERT_EQ(windows.size(), 1u);
  EXPECT_TRUE(IsWindowVisible(windows[0]));
  EXPECT_EQ(ToText(app.Get(L"Version")), L"12.0");
  EXPECT_EQ(reporter.Count(L"vbwErrorHandler"), 0);
}

TEST_F(WordFixture, AVisibleRunningWordIsReturnedUntouched) {
  word.Set(L"StartVisible", 1u);
  LateObject running = test::WordStandIn::Start();
  LateObject app = main2.WordApplication();
  ASSERT_TRUE(app);
  EXPECT_TRUE(app.SameAs(running));
  EXPECT_EQ(word.Processes().size(), 1u) << "no second Word";
  EXPECT_EQ(word.Calls(), (std::vector<std::wstring>{L"Created", L"Visible"}));
}

TEST_F(WordFixture, AHiddenMinimisedWordIsShownRestoredAndActivated) {
  word.Set(L"StartWindowState", 2u);
  LateObject running = test::WordStandIn::Start();
  LateObject app = main2.WordApplication();
  ASSERT_TRUE(app.SameAs(running));
  EXPECT_EQ(word.Calls(), (std::vector<std::wstring>{L"Created", L"Visible", L"Visible=True", L"WindowState",
                                                     L"WindowState=0", L"Activate"}));
  const auto windows = test::WordStandIn::Windows(word.Processes().at(0));
  ASSERT_EQ(windows.size(), 1u);
  EXPECT_TRUE(IsWindowVisible(windows[0]));
  EXPECT_FALSE(IsIconic(windows[0]));
}

TEST_F(WordFixture, AHiddenNormalWordIsShownWithoutTouchingItsState) {
  LateObject running = test::WordStandIn::Start();
  main2.WordApplication();
  EXPECT_EQ(Puts(word.Calls()), std::vector<std::wstring>{L"Visible=True"});
  EXPECT_TRUE(test::Contains(word.Calls(), L"Activate"));
}

TEST_F(WordFixture, WithoutWordBothProceduresAnswerNothingAndReportNothing) {
  word.Unregister();
  EXPECT_FALSE(main2.WordApplication());
  EXPECT_FALSE(main2.CreateWordApplication());
  EXPECT_TRUE(word.Processes().empty());
  EXPECT_EQ(reporter.Count(L"vbwErrorHandler"), 0);
}

TEST_F(WordFixture, CreateWordApplicationStartsANewWordBesideARunningOne) {
  word.Set(L"StartVisible", 1u);
  LateObject first = test::WordStandIn::Start();
  LateObject second = main2.CreateWordApplication();
  ASSERT_TRUE(second);
  EXPECT_FALSE(second.SameAs(first));
  const auto pids = word.Processes();
  ASSERT_EQ(pids.size(), 2u);
  EXPECT_EQ(Puts(word.Calls(pids[1])), std::vector<std::wstring>{L"Visible=True"});
  EXPECT_TRUE(Puts(word.Calls(pids[0])).empty());
}

// The ways the stand-in Word can be told to fail, which the installation
// tests rely on, do what they say.
TEST_F(WordFixture, StandInWordFailsAddInsAndMacrosAsToldThenQuits) {
  word.Set(L"FailAddIns", 2u);
  word.Set(L"FailMacros", 1u);
  word.Set(L"MacroResult", L"object");
  LateObject app = test::WordStandIn::Start();
  LateObject addIns = app.Object(L"AddIns");
  int failures = 0;
  for (int i = 0; i < 3; ++i) {
    try {
      addIns.Call(L"Add", {Variant::Of(L"C:\\t\\Zentrello.dotm"), Variant::Of(true)});
    } catch (const vb::Error& e) {
      EXPECT_EQ(e.number, 4198);
      ++failures;
    }
  }
  EXPECT_EQ(failures, 2);
  EXPECT_THROW(app.Call(L"Run", {Variant::Of(L"HookIntoWord"), Variant::Of(L"x")}), vb::Error);
  EXPECT_TRUE(LateObject::FromVariant(app.Call(L"Run", {Variant::Of(L"HookIntoWord")})))
      << "Run answers an object once the failures are used up";
  EXPECT_TRUE(test::Contains(word.Calls(), L"Run\tHookIntoWord\tx"));

  const DWORD pid = word.Processes().at(0);
  app.Call(L"Quit", {}, {{L"SaveChanges", Variant::Of(false)}});
  for (int i = 0; i < 100 && word.Running(pid); ++i) Sleep(20);
  EXPECT_FALSE(word.Running(pid));
  EXPECT_EQ(word.Calls().back(), L"Exited");
  EXPECT_TRUE(test::Contains(word.Calls(), L"Quit\tSaveChanges:=False"));
}

TEST(WordVersionText, MajorVersionTakesTheTextBeforeTheLaterSeparator) {
  EXPECT_EQ(Word::MajorVersion(L"12.0"), 12);
  EXPECT_EQ(Word::MajorVersion(L"9.0"), 9);
  EXPECT_EQ(Word::MajorVersion(L"10,0"), 10);
  EXPECT_EQ(Word::MajorVersion(L"11"), 11);
  EXPECT_EQ(Word::MajorVersion(L"14.0.4762"), 14);
}

TEST_F(WordFixture, ReleaseQuestionsFollowTheRunningWordsVersion) {
  word.Set(L"Version", L"10.0");
  Word::Initialize(test::WordStandIn::Start());
  EXPECT_EQ(Word::WordVersion(), 10);
  EXPECT_TRUE(Word::isWord2002OrEarlier());
  EXPECT_FALSE(Word::isWord2007OrLater());
  word.Set(L"Version", L"12.0");
  Word::Initialize(test::WordStandIn::Start());
  EXPECT_EQ(Word::WordVersion(), 12);
  EXPECT_FALSE(Word::isWord2002OrEarlier());
  EXPECT_TRUE(Word::isWord2007OrLater());
  Word::Terminate();
  EXPECT_FALSE(Word::Application());
  EXPECT_EQ(reporter.Count(L"vbwErrorHandler"), 0);
}

TEST_F(WordFixture, InitializeWithNothingRaises12345AndHoldsNothing) {
  reporter.Answer({vbw::vbwActionIgnore});
  Word::Initialize(test::WordStandIn::Start());
  Word::Initialize(LateObject());
  const auto calls = reporter.Calls();
  ASSERT_EQ(reporter.Count(L"vbwErrorHandler"), 1);
  const auto& question = calls[1];
  EXPECT_EQ(question[1], L"12345");
  EXPECT_EQ(question[2], L"word cannot be nothing");
  EXPECT_EQ(question[4], L"CommonWordInteractionFunctions");
  EXPECT_EQ(question[5], L"Initialize");
  EXPECT_FALSE(Word::Application()) << "ignoring the error leaves the reference empty";
}

// Top-level windows of this process with given classes and captions.
class TestWindows {
 public:
  HWND Add(const wchar_t* className, const wchar_t* caption) {
    WNDCLASSW wc{};
    wc.lpfnWndProc = DefWindowProcW;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = className;
    RegisterClassW(&wc);
    HWND w = CreateWindowExW(0, className, caption, WS_OVERLAPPEDWINDOW, 0, 0, 200, 100, nullptr, nullptr,
                             wc.hInstance, nullptr);
    windows_.push_back(w);
    return w;
  }
  ~TestWindows() {
    for (HWND w : windows_) DestroyWindow(w);
  }

 private:
  std::vector<HWND> windows_;
};

int32_t H(HWND w) { return static_cast<int32_t>(reinterpret_cast<intptr_t>(w)); }

TEST_F(WordFixture, WindowWalkFindsTheActiveWindowFirstThenByCaption) {
  TestWindows windows;
  HWND report = windows.Add(L"OpusApp", L"Report.doc - Microsoft Word");
  HWND letter = windows.Add(L"OpusApp", L"Letter.doc - Microsoft Word");
  windows.Add(L"rctrl_renwnd32", L"Memo - Message");

  // No active window of the class: the caption decides.
  EXPECT_EQ(Windows::ActiveDocumentHandleImpl(L"OpusApp", L"Letter.doc"), H(letter));
  EXPECT_EQ(Windows::ActiveDocumentHandleImpl(L"OpusApp", L"Report"), H(report));
  EXPECT_EQ(Windows::ActiveDocumentHandleImpl(L"OpusApp", L"Budget.doc"), 0);
  EXPECT_EQ(Windows::ActiveDocumentHandleImpl(L"OpusApp", L"Memo"), 0) << "another class's caption";
  EXPECT_EQ(Windows::ActiveDocumentHandleImpl(L"OpusApp", L"report.doc"), 0) << "binary comparison";

  // The active one wins even when its caption does not name the document.
  ShowWindow(report, SW_SHOW);
  SetActiveWindow(report);
  ASSERT_EQ(GetActiveWindow(), report);
  EXPECT_EQ(Windows::ActiveDocumentHandleImpl(L"OpusApp", L"Letter.doc"), H(report));
  EXPECT_EQ(reporter.Count(L"vbwErrorHandler"), 0);
}

TEST_F(WordFixture, ActiveDocumentHandleFindsWordsWindowWithAndWithoutDocuments) {
  word.Set(L"StartVisible", 1u);
  LateObject app = test::WordStandIn::Start();
  Word::Initialize(app);
  HWND wordWindow = test::WordStandIn::Windows(word.Processes().at(0)).at(0);
  TestWindows windows;
  windows.Add(L"OpusApp", L"Other.doc - Microsoft Word");  // newer, so first in the walk

  bool inOutlook = false;
  EXPECT_EQ(Windows::ActiveDocumentHandle(inOutlook), H(FindWindowExW(nullptr, nullptr, L"OpusApp", nullptr)))
      << "no documents: the first OpusApp window";
  EXPECT_FALSE(test::Contains(word.Calls(), L"ActiveDocument")) << "captions are not looked at";

  app.Object(L"Documents").Call(L"Add");
  wchar_t title[256];
  GetWindowTextW(wordWindow, title, 256);
  EXPECT_STREQ(title, L"Document1 - Microsoft Word");
  EXPECT_EQ(Windows::ActiveDocumentHandle(inOutlook), H(wordWindow));
  EXPECT_FALSE(inOutlook);
  EXPECT_EQ(reporter.Count(L"vbwErrorHandler"), 0);
}

TEST_F(WordFixture, Word2002AsTheMailEditorIsFoundByItsMailWindow) {
  word.Set(L"Version", L"10.0");
  LateObject app = test::WordStandIn::Start();
  Word::Initialize(app);
  app.Object(L"Documents").Call(L"Add");
  // Word's own window no longer names the document; the mail editor's does.
  SetWindowTextW(test::WordStandIn::Windows(word.Processes().at(0)).at(0), L"Microsoft Word");
  TestWindows windows;
  HWND mail = windows.Add(L"rctrl_renwnd32", L"Document1 - Message (Rich Text)");
  bool inOutlook = false;
  EXPECT_EQ(Windows::ActiveDocumentHandle(inOutlook), H(mail));
  EXPECT_TRUE(inOutlook);
}

TEST_F(WordFixture, GuaranteedVisibleMsgBoxMovesANormalWordOffScreenWhileTheBoxIsUp) {
  word.Set(L"StartVisible", 1u);
  LateObject app = test::WordStandIn::Start();
  Word::Initialize(app);
  const LONG left = ToLong(app.Get(L"Left"));
  ASSERT_NE(left, -10000);

  test::DialogWatch watch(L"OpusApp");
  Word::GuaranteedVisibleMsgBox(L"Zentrello needs your attention.\r\nSecond line", L"Zentrello");
  const auto seen = watch.Result();
  ASSERT_TRUE(seen.appeared);
  EXPECT_EQ(seen.title, L"Zentrello");
  EXPECT_EQ(seen.text, L"Zentrello needs your attention.\r\nSecond line");
  EXPECT_EQ(seen.watchedLeft, -10000);
  EXPECT_TRUE(seen.watchedVisible);
  EXPECT_EQ(ToLong(app.Get(L"Left")), left) << "put back after the box";
  EXPECT_EQ(reporter.Count(L"vbwErrorHandler"), 0);
}

TEST_F(WordFixture, GuaranteedVisibleMsgBoxHidesAMaximisedWordAndShowsItAgain) {
  word.Set(L"StartVisible", 1u);
  word.Set(L"StartWindowState", 1u);
  LateObject app = test::WordStandIn::Start();
  Word::Initialize(app);
  test::DialogWatch watch(L"OpusApp");
  Word::GuaranteedVisibleMsgBox(L"text", L"title");
  const auto seen = watch.Result();
  ASSERT_TRUE(seen.appeared);
  EXPECT_FALSE(seen.watchedVisible);
  EXPECT_TRUE(ToBool(app.Get(L"Visible")));
  EXPECT_TRUE(test::Contains(word.Calls(), L"Visible=False"));
  EXPECT_FALSE(test::Contains(word.Calls(), L"Left=-10000"));
}

TEST_F(WordFixture, GuaranteedVisibleMsgBoxLeavesAMinimisedWordAlone) {
  word.Set(L"StartVisible", 1u);
  word.Set(L"StartWindowState", 2u);
  Word::Initialize(test::WordStandIn::Start());
  test::DialogWatch watch;
  Word::GuaranteedVisibleMsgBox(L"text", L"title");
  EXPECT_TRUE(watch.Result().appeared);
  EXPECT_TRUE(Puts(word.Calls()).empty());
}

TEST(Logger, TheFirstOpenLogFixesTheWebsiteAndLoggingHasNoOtherEffect) {
  test::StartedTrap trap;
  test::ReporterStandIn reporter;
  CommonLogger::Log(L"before any OpenLog");
  EXPECT_EQ(CommonLogger::WebsiteAddress(), L"");
  CommonLogger::OpenLog(1, L"Zentrello", L"ZTL", L"Valdomeren");
  CommonLogger::OpenLog(1, L"Other", L"OTH", L"Elsewhere");
  EXPECT_EQ(CommonLogger::WebsiteAddress(), L"http://www.zentrello.com");
  CommonLogger::CloseLog(0);
  CommonLogger::Log(L"after CloseLog", 2, false, 7);
  EXPECT_EQ(CommonLogger::WebsiteAddress(), L"http://www.zentrello.com");
  EXPECT_EQ(reporter.Count(L"vbwErrorHandler"), 0);
}

}  // namespace
}  // namespace tamberlux
