// The launch from the desktop icon, end to end: the launcher's call to
// StartRunTime through COM, the stand-in Word it starts or is handed, the
// registry it leaves, the template it copies and the messages a user sees.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <optional>
#include <thread>

#include "TestSupport.h"
#include "base/VbError.h"

namespace tamberlux::LaunchTests {
namespace {

using namespace test;
using Lines = std::vector<std::wstring>;
using namespace std::string_literals;

const std::wstring kSection = L"Software\\Zentrello";
const std::wstring kResiliency = L"Software\\Microsoft\\Office\\12.0\\Word\\Resiliency\\";
const std::wstring kDisabled = kResiliency + L"DisabledItems", kStartup = kResiliency + L"StartupItems";
const auto kProductEntry = WordEntry(L"c:\\program files\\valdomeren\\zentrello\\zentrello.dll", L"Zentrello");
const auto kOtherEntry = WordEntry(L"c:\\program files\\other\\helper.dll", L"Helper");

class Launch : public Main2Test {
 protected:
  Launch() {
    WriteWholeFile(files.Source(L".dot"), "dot template");
    WriteWholeFile(files.Source(L".dotm"), "dotm template");
  }

  // StartRunTime as the launcher calls it: `wordVariable` null leaves the
  // optional word out; otherwise it is passed by reference.
  HRESULT StartRunTime(VARIANT* wordVariable = nullptr, std::optional<bool> startZTL = {},
                       const std::wstring& name = L"Zentrello") {
    Variant nameArg = Variant::Of(name), missing = Variant::Missing();
    std::vector<VARIANT> args{nameArg};
    if (wordVariable || startZTL) args.push_back(wordVariable ? ByRef(*wordVariable) : missing);
    if (startZTL) args.push_back(Variant::Of(*startZTL));
    return CallByName(main2.Get(), L"StartRunTime", args);
  }

  PrivateUserHive hive;
  WordStandIn word;
  ProductTemplate files;
};

TEST_F(Launch, AFirstLaunchStartsWordQuietlyTakesTheAddInOffWordsListsAndOpensOneVisibleDocument) {
  AddEntry(kDisabled, L"3F2A", kProductEntry);
  AddEntry(kDisabled, L"1B07", kOtherEntry);
  AddEntry(kStartup, L"9C1D", kProductEntry);
  word.Set(L"WatchKey", hive.Path() + L"\\" + kSection);
  word.Set(L"WatchValue", L"PermanentlyDisableAddin");
  Variant wordVariable;  // the launcher's variable, Nothing
  ASSERT_EQ(StartRunTime(&wordVariable), S_OK);

  const auto pids = word.Processes();
  ASSERT_EQ(pids.size(), 1u);
  const auto calls = word.Calls(pids[0]);
  EXPECT_EQ(calls.front(), L"Created\tPermanentlyDisableAddin=1") << "the add-in stays quiet while Word starts";
  EXPECT_EQ(ReadText(kSection, L"PermanentlyDisableAddin"), L"0");
  EXPECT_EQ(ReadText(kSection, L"WordVersion"), L"12.0");
  EXPECT_EQ(ValueNames(kDisabled), Lines{L"1B07"}) << "the add-in is off the list; another add-in's entry stays";
  EXPECT_FALSE(KeyExists(kStartup));
  EXPECT_EQ(ReadWholeFile(files.Copy(L".dotm")), "dotm template");
  EXPECT_EQ(std::ranges::count(calls, L"Run\tSetStartedFromIcon"), 1);
  EXPECT_EQ(std::ranges::count(calls, L"Documents.Add\tVisible:=True"), 1);

  EXPECT_TRUE(ToBool(LateObject::FromVariant(wordVariable).Get(L"Visible"))) << "the caller holds the started Word";
  EXPECT_TRUE(IsWindowVisible(WordStandIn::Windows(pids[0]).at(0)));
}

TEST_F(Launch, ALaterLaunchTakesTheAddInOffWordsListsBeforeWordStarts) {
  SetText(kSection, L"WordVersion", L"12.0");
  SetText(kSection, L"PermanentlyDisableAddin", L"0");
  AddEntry(kDisabled, L"3F2A", kProductEntry);
  AddEntry(kDisabled, L"1B07", kOtherEntry);
  AddEntry(kStartup, L"9C1D", kOtherEntry);
  word.Set(L"WatchKey", hive.Path() + L"\\" + kDisabled);
  word.Set(L"WatchValue", L"3F2A");
  word.SetList(L"MissingMacros", {L"SetStartedFromIcon"});

  ASSERT_EQ(StartRunTime(), S_OK);
  const auto calls = word.Calls();
  EXPECT_EQ(calls.front(), L"Created\t3F2A=(none)");
  EXPECT_EQ(ValueNames(kDisabled), Lines{L"1B07"}) << "another add-in's entry stays";
  EXPECT_FALSE(KeyExists(kStartup));
  EXPECT_EQ(ReadText(kSection, L"PermanentlyDisableAddin"), L"0") << "a known version never raises the flag";
  EXPECT_TRUE(Contains(calls, L"Run\tSetStartedFromIcon"));
  EXPECT_TRUE(Contains(calls, L"Documents.Add\tVisible:=True")) << "a missing macro is no error";
}

TEST_F(Launch, ACallersWordIsUsedAsItIsAndStartZTLFalseSkipsTheMacro) {
  word.Set(L"StartVisible", 1u);
  word.Set(L"Version", L"11.0");
  LateObject mine = WordStandIn::Start();
  ASSERT_TRUE(mine);
  Variant wordVariable = Variant::Of(mine.Get());

  ASSERT_EQ(StartRunTime(&wordVariable, false), S_OK);
  EXPECT_EQ(word.Processes().size(), 1u);
  EXPECT_TRUE(LateObject::FromVariant(wordVariable).SameAs(mine));
  const auto calls = word.Calls();
  EXPECT_FALSE(Contains(calls, L"Run\tSetStartedFromIcon"));
  EXPECT_FALSE(Contains(calls, L"Visible")) << "neither attached nor checked: the caller's Word is used as it is";
  EXPECT_TRUE(Contains(calls, L"Documents.Add\tVisible:=True"));
  EXPECT_EQ(ReadText(kSection, L"WordVersion"), L"(none)") << "a supplied Word's version is not recorded";
  // Word 2003: the ".dot" template is the one copied.
  EXPECT_EQ(ReadWholeFile(files.Copy(L".dot")), "dot template");
  EXPECT_EQ(ReadWholeFile(files.Copy(L".dotm")), "<missing>");
}

TEST_F(Launch, WordRefusingTheDocumentWith4605LeavesItHiddenAndUsesANewWordOnce) {
  word.Set(L"RefuseDocuments", 2u);
  Variant wordVariable;
  ASSERT_EQ(StartRunTime(&wordVariable), S_OK);

  const auto pids = word.Processes();
  ASSERT_EQ(pids.size(), 2u) << "a second refusal gets no third Word";
  const auto first = word.Calls(pids[0]), second = word.Calls(pids[1]);
  EXPECT_TRUE(Contains(first, L"Documents.Add\tVisible:=True"));
  EXPECT_EQ(first.back(), L"Visible=False");
  EXPECT_TRUE(word.Running(pids[0])) << "the first Word is left running";
  EXPECT_FALSE(IsWindowVisible(WordStandIn::Windows(pids[0]).at(0)));
  EXPECT_EQ(std::ranges::count(second, L"Documents.Add\tVisible:=True"), 1);
  EXPECT_TRUE(IsWindowVisible(WordStandIn::Windows(pids[1]).at(0)));
  EXPECT_FALSE(Contains(second, L"Run\tSetStartedFromIcon")) << "the macro is not run again";
  EXPECT_TRUE(ToBool(LateObject::FromVariant(wordVariable).Get(L"Visible"))) << "the caller holds the second Word";
}

TEST_F(Launch, A4605WhenNoSecondWordCanStartLeavesTheFirstHiddenAndAsksTheReporter) {
  word.Set(L"RefuseDocuments", 1u);
  LateObject mine = WordStandIn::Start();
  ASSERT_TRUE(mine);
  word.Unregister();  // the running Word stays; no new one can be started
  Variant wordVariable = Variant::Of(mine.Get());
  mine = LateObject();

  ASSERT_EQ(StartRunTime(&wordVariable), S_OK) << "no error escapes to the launcher";
  const auto pids = word.Processes();
  ASSERT_EQ(pids.size(), 1u);
  EXPECT_EQ(word.Calls(pids[0]).back(), L"Visible=False");
  EXPECT_TRUE(word.Running(pids[0]));
  EXPECT_FALSE(IsWindowVisible(WordStandIn::Windows(pids[0]).at(0)));
  expectedQuestions = 1;
  EXPECT_EQ(reporter.Records().at(1).substr(0, 96),
            L"vbwErrorHandler 12345 word cannot be nothing Tamberlux CommonWordInteractionFunctions Initialize")
      << "the user is shown the error report";
  EXPECT_FALSE(LateObject::FromVariant(wordVariable)) << "the caller's variable is Nothing";
}

TEST_F(Launch, ALaunchWithoutAWordEndsWithWhatTheUserIsToldAndOnlyEarlierStepsLeaveTraces) {
  struct Case {  // "1" alone is a recorded failed check
    const char* what;
    const wchar_t* failedCheck;
    bool installed;
    const wchar_t* dieAt;
    std::wstring title, text, disableFlag;
    DWORD loadBehavior;
  } const cases[] = {
      {"a recorded failed check and no Word", L"1", false, L"", L"Zentrello requires Word 2000 or later",
       L"You need Microsoft Word 2000 or later to run Zentrello.", L"(none)", 0xFFFFFFFF},
      {"no recorded failure and no Word", L"01", false, L"", L"Zentrello could not start Word. Is it corrupted?",
       L"Zentrello could not start Word, possibly because it is corrupted. Please try starting Word by itself to "
       L"resolve this problem.  If you still have problems with Zentrello, repair or reinstall Word.",
       L"1", 3},
      {"a Word that dies as it starts: no message", L"1 ", true, L"Version", L"", L"", L"1", 3},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    RegDeleteTreeW(HKEY_CURRENT_USER, L"Software");
    SetText(kSection, L"FailedWord2000Check", c.failedCheck);
    c.installed ? word.Register() : word.Unregister();
    word.Set(L"DieAt", c.dieAt);
    DialogWatch watch;
    ASSERT_EQ(StartRunTime(), S_OK);
    const auto seen = watch.Result(true);
    EXPECT_EQ(seen.title, c.title);
    EXPECT_EQ(seen.text, c.text);
    EXPECT_EQ(ReadText(kSection, L"FailedWord2000Check"), c.failedCheck) << "kept while Word cannot be reached";
    EXPECT_EQ(ReadText(kSection, L"PermanentlyDisableAddin"), c.disableFlag) << "raised before Word was needed";
    EXPECT_EQ(ReadDword(kAddins + std::wstring(kAddin), L"LoadBehavior"), c.loadBehavior);
    EXPECT_EQ(ReadText(kSection, L"WordVersion"), L"(none)");
    EXPECT_EQ(ReadWholeFile(files.Copy(L".dotm")), "<missing>");
  }
  ASSERT_EQ(word.Processes().size(), 1u);
  EXPECT_FALSE(word.Running(word.Processes()[0]));
  EXPECT_EQ(word.Calls().back(), L"Version");
}

TEST_F(Launch, ARecordedFailedWordCheckIsDeletedOnceWordCanBeReached) {
  SetText(kSection, L"FailedWord2000Check", L"1");
  ASSERT_EQ(StartRunTime(), S_OK);
  EXPECT_EQ(ReadText(kSection, L"FailedWord2000Check"), L"(none)");
  EXPECT_EQ(word.Processes().size(), 1u) << "the Word reached for the check is the one launched";
  EXPECT_TRUE(Contains(word.Calls(), L"Documents.Add\tVisible:=True"));
}

// A double-click on the desktop icon: two launchers, each in its own apartment, call at the same
// instant while the Word the first one starts is still loading. The second Word started meanwhile
// hands over to the loading one and ends, as Word does.
TEST_F(Launch, TwoLaunchesAtTheSameInstantShareTheOneWordThatIsStartingAndNoOneIsToldWordIsCorrupted) {
  word.Set(L"StartDelay", 3000u);
  HRESULT hr[2] = {E_UNEXPECTED, E_UNEXPECTED};
  bool holdsWord[2] = {};
  const Handle go(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  std::atomic<int> ready = 0;
  DialogWatch watch;
  std::vector<std::thread> launchers;
  for (int i : {0, 1})
    launchers.emplace_back([&, i] {
      CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
      if (ComPtr<IDispatch> launcher = CreateMain2()) {
        Variant name = Variant::Of(L"Zentrello"), wordVariable;
        ++ready;
        WaitForSingleObject(go.Get(), INFINITE);
        hr[i] = CallByName(launcher.Get(), L"StartRunTime", {name, ByRef(wordVariable)});
        holdsWord[i] = static_cast<bool>(LateObject::FromVariant(wordVariable));
      }
      CoUninitialize();
    });
  EXPECT_TRUE(WaitUntil([&] { return ready == 2; }));
  SetEvent(go.Get());
  for (std::thread& t : launchers) t.join();

  EXPECT_FALSE(watch.Result(true).appeared) << "no message: Word could start";
  const auto pids = word.Processes();
  ASSERT_EQ(pids.size(), 1u) << "one Word";
  EXPECT_EQ(std::ranges::count(word.Calls(pids[0]), L"Documents.Add\tVisible:=True"), 2) << "a document each";
  EXPECT_TRUE(hr[0] == S_OK && hr[1] == S_OK);
  EXPECT_TRUE(holdsWord[0] && holdsWord[1]) << "each launcher's variable holds the Word";
  EXPECT_EQ(ReadText(kSection, L"WordVersion"), L"12.0");
}

TEST_F(Launch, AnEmptyOrOddProductNameIsReportedToTheUserAndTheLauncherAndChangesNothing) {
  const std::wstring rest = L"\" cannot be a product name Tamberlux Main2 StartRunTime 20101 1 [1:Main2.StartRunTime]";
  Lines expected, answered, expectedAnswers;
  const LateObject launcher{ComPtr<IDispatch>(main2)};
  // Full-width look-alikes among them: the ANSI code page's best fit would make
  // a real backslash and full stop of them.
  for (const std::wstring& name : {L""s, L"Software\\Zentrello"s, L"  "s, L"Zen:trello"s, L"Zen\uff3ctrello"s,
                                   L"\uff0e\uff0e\uff3cSoftware"s, L"Zen\0trello"s, L"Zen\x1btrello"s, L"\u4e2d\u6587"s}) {
    try {
      launcher.Call(L"StartRunTime", {Variant::Of(name)});
      answered.push_back(L"done");
    } catch (const vb::Error& e) {
      answered.push_back(std::to_wstring(e.number) + L" " + e.description);
    }
    expected.push_back(L"vbwErrorHandler 5 \"" + name + rest);
    // A NUL cannot be part of an error's text: the caller sees it as \0.
    expectedAnswers.push_back(L"5 \"" + (name.find(L'\0') == name.npos ? name : L"Zen\\0trello"s) +
                              L"\" cannot be a product name");
  }
  EXPECT_EQ(answered, expectedAnswers) << "the launcher learns the refusal with its number and text";
  Lines questions = reporter.Records();
  std::erase_if(questions, [](const std::wstring& r) { return !r.starts_with(L"vbwErrorHandler"); });
  EXPECT_EQ(questions, expected) << "the user is shown each refusal";
  expectedQuestions = 9;
  EXPECT_TRUE(word.Processes().empty());
  EXPECT_TRUE(ValueNames(L"Software").empty());
  EXPECT_FALSE(KeyExists(L"Software\\Zen")) << "no section was made of a cut-short name";
  EXPECT_FALSE(KeyExists(kAddins));
}

}  // namespace
}  // namespace tamberlux::LaunchTests
