// How the component reaches Word and looks at it: attaching to or starting
// the stand-in Word (a real out-of-process server), the release questions,
// the window walks, and the message box that Word cannot cover.
#include <gtest/gtest.h>

#include "TestSupport.h"
#include "component/Main2.h"
#include "registry/LoadVerdict.h"
#include "support/CommonWordInteractionFunctions.h"
#include "support/CommonWordWindowFunctions.h"

namespace tamberlux::WordTests {
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

using test::AddWindow;

class WordFixture : public test::TrapTest {
 protected:
  ~WordFixture() override { Word::Terminate(); }
  HWND WordWindow() { return test::WordStandIn::Windows(word.Processes().at(0)).at(0); }

  test::WordStandIn word;
  Main2 main2;
};

// Every key and value the product writes, reads or deletes for Word 9.0, 12.0 and 16.0, spelled out as Word and the
// product's own programs spell them: a key the product misspells is one Word never reads.
class WordKeysOnDisk : public test::TrapTest {};

TEST_F(WordKeysOnDisk, EachKeyAndValueIsTheOneWordAndTheProductRead) {
  const std::wstring monitorKey = L"SOFTWARE\\Microsoft\\Office\\Word\\Addins\\AddinMonitor.ZentrelloMonitor";
  const std::wstring addinKey = L"SOFTWARE\\Microsoft\\Office\\Word\\Addins\\Kestrivane.ZentrelloAddinForWord";
  const std::wstring section = L"Software\\Zentrello";
  struct Registration { const std::wstring& key; const wchar_t *friendlyName, *description; } const addins[] = {
      {monitorKey, L"ZentrelloMonitor", L"Zentrello monitor add-in"},
      {addinKey, L"Zentrello", L"Zentrello add-in"},
  };
  for (const wchar_t* version : {L"9.0", L"12.0", L"16.0"}) {
    SCOPED_TRACE(ToUtf8(version));
    test::PrivateUserHive hive;
    const std::wstring office = L"Software\\Microsoft\\Office\\" + std::wstring(version) + L"\\Word";
    const std::wstring disabled = office + L"\\Resiliency\\DisabledItems", startup = office + L"\\Resiliency\\StartupItems";
    // Word has disabled the add-in (its monitor's entry sorts first and must stay), and its data is corrupted.
    test::AddEntry(disabled, L"1", test::WordEntry(L"c:\\addins\\zentrellomonitor.dll", L"ZentrelloMonitor"));
    test::AddEntry(disabled, L"a", test::WordEntry(L"c:\\addins\\zentrello.dll", L"Zentrello"));
    test::AddEntry(disabled, L"b", test::WordEntry(L"c:\\other\\other.dll", L"Other"));
    test::AddEntry(startup, L"c", test::WordEntry(L"c:\\other\\other.dll", L"Other"));
    test::SetText(office + L"\\Data", L"Settings", L"x");
    test::SetText(section, L"FailedWord2000Check", L"1");
    test::SetDword(addinKey, L"LoadBehavior", 2);  // lowered by Word after a crash

    Main2 m;
    m.EnableComAddins();
    m.setWordVersion(L"Zentrello", version);
    m.permanentlyDisableAddin(L"Zentrello", true);
    EXPECT_EQ(m.tamberluxDisabled(L"Zentrello", version), L"a");
    m.enableTamberlux(L"Zentrello", version);
    EXPECT_TRUE(m.failedWord2000CheckOnInstallation(L"Zentrello"));
    EXPECT_TRUE(m.permanentlyDisableAddin(L"Zentrello"));
    std::wstring repaired = version;
    m.DeleteCorruptedDataFolder(repaired);

    for (const Registration& r : addins) {
      SCOPED_TRACE(ToUtf8(r.key));
      EXPECT_EQ(test::ValueNames(r.key).size(), 4u);
      EXPECT_EQ(test::ReadText(r.key, L"friendlyName"), r.friendlyName);
      EXPECT_EQ(test::ReadText(r.key, L"description"), r.description);
      EXPECT_EQ(test::ReadDword(r.key, L"LoadBehavior"), 3u);
      EXPECT_EQ(test::ReadDword(r.key, L"CommandLineSafe"), 0u);
    }
    EXPECT_EQ(test::ValueNames(disabled), (std::vector<std::wstring>{L"1", L"b"}));
    EXPECT_FALSE(test::KeyExists(startup));
    EXPECT_TRUE(test::KeyExists(office + L"\\Resiliency"));
    EXPECT_FALSE(test::KeyExists(office + L"\\Data"));
    EXPECT_TRUE(test::KeyExists(office));
    EXPECT_EQ(test::ReadText(section, L"WordVersion"), version);
    EXPECT_EQ(test::ReadText(section, L"PermanentlyDisableAddin"), L"1");
    EXPECT_EQ(test::ValueNames(section).size(), 3u) << "WordVersion, PermanentlyDisableAddin, FailedWord2000Check";
  }
}

// Whether the add-in loads at Word's next start: Office's policies over the registration, the registration over the
// user's own state, and what cannot be told said so.
TEST(LoadVerdict, PoliciesComeFirstThenTheRegistrationThenTheUsersState) {
  using LoadVerdict::Policy;
  const Policy machine1{L"1", L"HKEY_LOCAL_MACHINE"}, user1{L"1", L"HKEY_CURRENT_USER"},
      user0{L"0", L"HKEY_CURRENT_USER"}, user2{L"2", L"HKEY_CURRENT_USER"}, machine0{L"0", L"HKEY_LOCAL_MACHINE"};
  struct Row {
    const char* what;
    LoadVerdict::Facts facts;
    std::optional<bool> willLoad;
    std::wstring why;
  };
  const auto facts = [](std::optional<int32_t> lb, bool listed, bool known, const wchar_t* permanently) {
    LoadVerdict::Facts f;
    f.loadBehavior = lb;
    f.listed = listed;
    f.versionKnown = known;
    f.permanentlyDisableAddin = permanently;
    return f;
  };
  const auto with = [](LoadVerdict::Facts f, auto member, const Policy& p) {
    f.*member = p;
    return f;
  };
  using F = LoadVerdict::Facts;
  const F clean = facts(3, false, true, L"0");
  const Row rows[] = {
      {"every add-in off beats the list's always-on", with(with(clean, &F::addinList, user1), &F::disableAllAddins, machine1),
       false, L"DisableAllAddins turns off every add-in (policy in HKEY_LOCAL_MACHINE)"},
      {"DisableAllAddins 0 turns nothing off", with(clean, &F::disableAllAddins, machine0), true,
       L"registered with LoadBehavior 3, not on Word's disabled lists, no policy against it"},
      {"always disabled beats a good registration", with(clean, &F::addinList, user0), false,
       L"the add-in list policy always disables it (policy in HKEY_CURRENT_USER)"},
      {"always enabled cannot load what is not registered", with(facts(std::nullopt, false, true, L""), &F::addinList, user1),
       false, L"it is not registered with Word"},
      {"always enabled beats LoadBehavior, the lists and the user's choice",
       with(facts(2, true, true, L"1"), &F::addinList, machine1), true,
       L"the add-in list policy always enables it (policy in HKEY_LOCAL_MACHINE)"},
      {"always enabled, but only when signed", with(with(clean, &F::addinList, user1), &F::requireAddinSig, machine1),
       std::nullopt,
       L"the add-in list policy always enables it (policy in HKEY_CURRENT_USER), but RequireAddinSig loads it only when "
       L"signed by a trusted publisher (policy in HKEY_LOCAL_MACHINE)"},
      {"LoadBehavior other than 3", facts(2, false, true, L""), false, L"its LoadBehavior is 2, not 3"},
      {"the user's choice to keep it off", facts(3, true, true, L"1"), false,
       L"PermanentlyDisableAddin is 1: the add-in stays off"},
      {"Word's lists name it", facts(3, true, true, L"0"), false, L"Word's resiliency lists name it: Word has disabled it"},
      {"Word's lists name it, but Word may never disable it", with(facts(3, true, true, L""), &F::doNotDisable, user1),
       true, L"Word's lists name it, but DoNotDisableAddinList keeps it enabled (policy in HKEY_CURRENT_USER)"},
      {"no recorded version", facts(3, false, false, L""), std::nullopt,
       L"registered with LoadBehavior 3, but Word's lists and policies are not known without a recorded Word version"},
      {"signed add-ins only", with(clean, &F::requireAddinSig, machine1), std::nullopt,
       L"RequireAddinSig loads it only when signed by a trusted publisher (policy in HKEY_LOCAL_MACHINE)"},
      {"the user's choice by policy", with(clean, &F::addinList, user2), true,
       L"registered with LoadBehavior 3, not on Word's disabled lists, no policy against it"},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.what);
    const LoadVerdict::Verdict v = LoadVerdict::Decide(r.facts);
    EXPECT_EQ(v.willLoad, r.willLoad);
    EXPECT_EQ(v.why, r.why);
  }
}

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
  EXPECT_EQ(Windows::ActiveDocumentHandleImpl(L"OpusApp", L"Letter.doc"), letter);
  EXPECT_EQ(Windows::ActiveDocumentHandleImpl(L"OpusApp", L"Report"), report);
  EXPECT_EQ(Windows::ActiveDocumentHandleImpl(L"OpusApp", L"Memo"), nullptr) << "another class's caption";
  EXPECT_EQ(Windows::ActiveDocumentHandleImpl(L"OpusApp", L"report.doc"), nullptr) << "binary comparison";

  // The active one wins even when its caption does not name the document.
  ShowWindow(report, SW_SHOW);
  SetActiveWindow(report);
  ASSERT_EQ(GetActiveWindow(), report);
  EXPECT_EQ(Windows::ActiveDocumentHandleImpl(L"OpusApp", L"Letter.doc"), report);
}

TEST_F(WordFixture, ActiveDocumentHandleFindsWordsWindowThenTheMailEditorsForWord2002) {
  word.Set(L"Version", L"10.0");
  LateObject app = test::WordStandIn::Start();
  Word::Initialize(app);
  AddWindow(L"OpusApp", L"Other.doc - Microsoft Word");  // newer, so first in the walk

  bool inOutlook = false;
  EXPECT_EQ(Windows::ActiveDocumentHandle(inOutlook), FindWindowExW(nullptr, nullptr, L"OpusApp", nullptr))
      << "no documents: the first OpusApp window";
  EXPECT_FALSE(test::Contains(word.Calls(), L"ActiveDocument")) << "captions are not looked at";

  app.Object(L"Documents").Call(L"Add");
  EXPECT_EQ(Windows::ActiveDocumentHandle(inOutlook), WordWindow()) << "by its caption, Document1";
  EXPECT_FALSE(inOutlook);

  // Word's own window no longer names the document; the mail editor's does.
  SetWindowTextW(WordWindow(), L"Microsoft Word");
  HWND mail = AddWindow(L"rctrl_renwnd32", L"Document1 - Message (Rich Text)");
  EXPECT_EQ(Windows::ActiveDocumentHandle(inOutlook), mail);
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
    EXPECT_EQ(seen.style, L"OK");
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
}  // namespace tamberlux::WordTests
