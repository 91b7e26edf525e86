// How the component reaches Word and looks at it: attaching to or starting
// the stand-in Word (a real out-of-process server), the release questions,
// the window walks, and the message box that Word cannot cover.
#include <gtest/gtest.h>

#include "TestSupport.h"
#include "component/Main2.h"
#include "support/CommonWordInteractionFunctions.h"
#include "support/CommonWordWindowFunctions.h"

namespace tamberlux {
namespace {

namespace Word = CommonWordInteractionFunctions;
namespace Windows = CommonWordWindowFunctions;
using Calls = std::vector<std::wstring>;

// The property puts among a Word's calls: the calls that change it.
Calls Puts(const Calls& calls) {
  Calls puts;
  for (const auto& c : calls)
    if (c.find(L'=') != std::wstring::npos && c.find(L":=") == std::wstring::npos) puts.push_back(c);
  return puts;
}

int32_t H(HWND w) { return static_cast<int32_t>(reinterpret_cast<intptr_t>(w)); }
using test::AddWindow;

class WordFixture : public test::TrapTest {
 protected:
  ~WordFixture() override { Word::Terminate(); }
  HWND WordWindow() { return test::WordStandIn::Windows(word.Processes().at(0)).at(0); }

  test::WordStandIn word;
  Main2 main2;
};

TEST_F(WordFixture, AVisibleRunningWordIsReturnedUntouchedAndAHiddenOneIsBroughtForward) {
  word.Set(L"StartVisible", 1u);
  LateObject visible = test::WordStandIn::Start();
  EXPECT_TRUE(main2.WordApplication().SameAs(visible));
  EXPECT_EQ(word.Calls(), (Calls{L"Created", L"Visible"}));

  // Hidden and minimised: shown, restored and activated.
  visible.Put(L"Visible", Variant::Of(false));
  visible.Put(L"WindowState", Variant::Of(2));
  const size_t before = word.Calls().size();
  EXPECT_TRUE(main2.WordApplication().SameAs(visible));
  const Calls calls = word.Calls();
  EXPECT_EQ(Calls(calls.begin() + before, calls.end()),
            (Calls{L"Visible", L"Visible=True", L"WindowState", L"WindowState=0", L"Activate"}));
  EXPECT_TRUE(IsWindowVisible(WordWindow()));
  EXPECT_FALSE(IsIconic(WordWindow()));
}

TEST(WordRelease, TheMajorVersionIsReadFromAnyVersionText) {
  for (const auto& [text, major] : std::vector<std::pair<const wchar_t*, int>>{
           {L"9.0", 9}, {L"10,0", 10}, {L"11", 11}, {L"14.0.4762", 14}})
    EXPECT_EQ(Word::MajorVersion(text), major) << ToUtf8(text);
}

TEST_F(WordFixture, WindowWalkFindsTheActiveWindowFirstThenByCaption) {
  HWND report = AddWindow(L"OpusApp", L"Report.doc - Microsoft Word");
  HWND letter = AddWindow(L"OpusApp", L"Letter.doc - Microsoft Word");
  AddWindow(L"rctrl_renwnd32", L"Memo - Message");
  EXPECT_EQ(Windows::ActiveDocumentHandleImpl(L"OpusApp", L"Letter.doc"), H(letter));
  EXPECT_EQ(Windows::ActiveDocumentHandleImpl(L"OpusApp", L"Report"), H(report));
  EXPECT_EQ(Windows::ActiveDocumentHandleImpl(L"OpusApp", L"Memo"), 0) << "another class's caption";
  EXPECT_EQ(Windows::ActiveDocumentHandleImpl(L"OpusApp", L"report.doc"), 0) << "binary comparison";

  // The active one wins even when its caption does not name the document.
  ShowWindow(report, SW_SHOW);
  SetActiveWindow(report);
  ASSERT_EQ(GetActiveWindow(), report);
  EXPECT_EQ(Windows::ActiveDocumentHandleImpl(L"OpusApp", L"Letter.doc"), H(report));
}

TEST_F(WordFixture, ActiveDocumentHandleFindsWordsWindowThenTheMailEditorsForWord2002) {
  word.Set(L"Version", L"10.0");
  LateObject app = test::WordStandIn::Start();
  Word::Initialize(app);
  AddWindow(L"OpusApp", L"Other.doc - Microsoft Word");  // newer, so first in the walk

  bool inOutlook = false;
  EXPECT_EQ(Windows::ActiveDocumentHandle(inOutlook), H(FindWindowExW(nullptr, nullptr, L"OpusApp", nullptr)))
      << "no documents: the first OpusApp window";
  EXPECT_FALSE(test::Contains(word.Calls(), L"ActiveDocument")) << "captions are not looked at";

  app.Object(L"Documents").Call(L"Add");
  EXPECT_EQ(Windows::ActiveDocumentHandle(inOutlook), H(WordWindow())) << "by its caption, Document1";
  EXPECT_FALSE(inOutlook);

  // Word's own window no longer names the document; the mail editor's does.
  SetWindowTextW(WordWindow(), L"Microsoft Word");
  HWND mail = AddWindow(L"rctrl_renwnd32", L"Document1 - Message (Rich Text)");
  EXPECT_EQ(Windows::ActiveDocumentHandle(inOutlook), H(mail));
  EXPECT_TRUE(inOutlook);
}

TEST_F(WordFixture, GuaranteedVisibleMsgBoxKeepsWordFromCoveringTheBox) {
  word.Set(L"StartVisible", 1u);
  LateObject app = test::WordStandIn::Start();
  Word::Initialize(app);
  const LONG left = ToLong(app.Get(L"Left"));
  {
    // Normal: moved off the screen while the box is up, then put back.
    test::DialogWatch watch(L"OpusApp");
    Word::GuaranteedVisibleMsgBox(L"Zentrello needs your attention.\r\nSecond line", L"Zentrello");
    const auto seen = watch.Result();
    EXPECT_EQ(seen.title, L"Zentrello");
    EXPECT_EQ(seen.text, L"Zentrello needs your attention.\r\nSecond line");
    EXPECT_EQ(seen.watchedLeft, -10000);
    EXPECT_TRUE(seen.watchedVisible);
    EXPECT_EQ(ToLong(app.Get(L"Left")), left);
  }
  {
    // Maximised: hidden while the box is up, then shown.
    app.Put(L"WindowState", Variant::Of(1));
    test::DialogWatch watch(L"OpusApp");
    Word::GuaranteedVisibleMsgBox(L"text", L"title");
    EXPECT_FALSE(watch.Result().watchedVisible);
    EXPECT_TRUE(IsWindowVisible(WordWindow()));
  }
  // Minimised: left alone.
  app.Put(L"WindowState", Variant::Of(2));
  const size_t puts = Puts(word.Calls()).size();
  test::DialogWatch watch;
  Word::GuaranteedVisibleMsgBox(L"text", L"title");
  EXPECT_TRUE(watch.Result().appeared);
  EXPECT_EQ(Puts(word.Calls()).size(), puts);
}

}  // namespace
}  // namespace tamberlux
