// The launch from the desktop icon, end to end: the launcher's call to
// StartRunTime through COM, the stand-in Word it starts or is handed, the
// registry it leaves, the template it copies and the messages a user sees.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <optional>

#include "TestSupport.h"
#include "base/LateBound.h"

namespace tamberlux {
namespace {

using test::KeyExists;
using test::ProductTemplate;
using test::ReadRaw;
using test::SetText;

constexpr wchar_t kSection[] = L"Software\\Zentrello";
using test::kAddin;
using test::kAddins;
using test::kMonitor;
constexpr wchar_t kResiliency[] = L"Software\\Microsoft\\Office\\12.0\\Word\\Resiliency\\";
const auto kProductEntry = test::WordEntry(L"c:\\program files\\valdomeren\\zentrello\\zentrello.dll", L"Zentrello");
const auto kOtherEntry = test::WordEntry(L"c:\\program files\\other\\helper.dll", L"Helper");

size_t CountOf(const std::vector<std::wstring>& calls, const std::wstring& call) {
  return static_cast<size_t>(std::count(calls.begin(), calls.end(), call));
}

std::wstring Text(const std::wstring& key, const std::wstring& name) {
  const auto raw = ReadRaw(key, name);
  if (!raw.exists) return L"(none)";
  std::wstring text(reinterpret_cast<const wchar_t*>(raw.data.data()), raw.data.size() / sizeof(wchar_t));
  while (!text.empty() && text.back() == L'\0') text.pop_back();
  return text;
}

DWORD Dword(const std::wstring& key, const std::wstring& name) {
  const auto raw = ReadRaw(key, name);
  DWORD v = 0xFFFFFFFF;
  if (raw.exists && raw.data.size() == 4) std::memcpy(&v, raw.data.data(), 4);
  return v;
}

class Launch : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(test::Regsvr32(L"/s"), 0u);
    ProductTemplate::Write(files.Source(L".dot"), "dot template");
    ProductTemplate::Write(files.Source(L".dotm"), "dotm template");
    main2 = test::CreateMain2();
    ASSERT_TRUE(main2);
  }

  // StartRunTime as the launcher calls it: `wordVariable` null leaves the
  // optional word out; otherwise it is passed by reference.
  HRESULT StartRunTime(VARIANT* wordVariable = nullptr, std::optional<bool> startZTL = {},
                       const wchar_t* name = L"Zentrello") {
    Variant nameArg = Variant::Of(name);
    std::vector<VARIANT> args{nameArg};
    VARIANT word;
    if (wordVariable) {
      word.vt = VT_BYREF | VT_VARIANT;
      word.pvarVal = wordVariable;
    } else {
      word.vt = VT_ERROR;
      word.scode = DISP_E_PARAMNOTFOUND;
    }
    if (wordVariable || startZTL) args.push_back(word);
    if (startZTL) args.push_back(Variant::Of(*startZTL));
    return test::CallByName(main2.Get(), L"StartRunTime", args);
  }

  void TearDown() override {
    EXPECT_EQ(reporter.Count(L"vbwErrorHandler"), expectedQuestions) << "unexpected failures went to the trap";
  }

  test::StartedTrap trap;
  test::ReporterStandIn reporter;
  test::PrivateUserHive hive;
  test::WordStandIn word;
  ProductTemplate files;
  ComPtr<IDispatch> main2;
  int expectedQuestions = 0;
};

TEST_F(Launch, AFirstLaunchStartsWordQuietlyRecordsItsVersionAndOpensOneVisibleDocument) {
  word.Set(L"WatchKey", hive.Path() + L"\\" + kSection);
  word.Set(L"WatchValue", L"PermanentlyDisableAddin");
  Variant wordVariable;  // the launcher's variable, Nothing
  ASSERT_EQ(StartRunTime(&wordVariable), S_OK);

  const auto pids = word.Processes();
  ASSERT_EQ(pids.size(), 1u);
  const auto calls = word.Calls(pids[0]);
  EXPECT_EQ(calls.front(), L"Created\tPermanentlyDisableAddin=1") << "the add-in stays quiet while Word starts";
  EXPECT_EQ(Text(kSection, L"PermanentlyDisableAddin"), L"0");
  EXPECT_EQ(Text(kSection, L"WordVersion"), L"12.0");
  for (const wchar_t* progId : {kMonitor, kAddin})
    EXPECT_EQ(Dword(std::wstring(kAddins) + progId, L"LoadBehavior"), 3u) << progId;
  EXPECT_EQ(ProductTemplate::Read(files.Copy(L".dotm")), "dotm template");
  EXPECT_EQ(CountOf(calls, L"Run\tSetStartedFromIcon"), 1u);
  EXPECT_EQ(CountOf(calls, L"Documents.Add\tVisible:=True"), 1u);

  // The caller's variable now holds the Word that was started.
  LateObject started = LateObject::FromVariant(wordVariable);
  ASSERT_TRUE(started);
  EXPECT_EQ(ToLong(started.Object(L"Documents").Get(L"Count")), 1);
  const auto windows = test::WordStandIn::Windows(pids[0]);
  ASSERT_EQ(windows.size(), 1u);
  EXPECT_TRUE(IsWindowVisible(windows[0]));
  wchar_t title[256];
  GetWindowTextW(windows[0], title, 256);
  EXPECT_STREQ(title, L"Document1 - Microsoft Word");
}

TEST_F(Launch, ALaterLaunchTakesTheAddInOffWordsListsBeforeWordStarts) {
  SetText(kSection, L"WordVersion", L"12.0");
  SetText(kSection, L"PermanentlyDisableAddin", L"0");
  test::AddEntry(std::wstring(kResiliency) + L"DisabledItems", L"3F2A", kProductEntry);
  test::AddEntry(std::wstring(kResiliency) + L"DisabledItems", L"1B07", kOtherEntry);
  test::AddEntry(std::wstring(kResiliency) + L"StartupItems", L"9C1D", kOtherEntry);
  word.Set(L"WatchKey", hive.Path() + L"\\" + kResiliency + L"DisabledItems");
  word.Set(L"WatchValue", L"3F2A");
  word.SetList(L"MissingMacros", {L"SetStartedFromIcon"});

  ASSERT_EQ(StartRunTime(), S_OK);
  const auto calls = word.Calls();
  EXPECT_EQ(calls.front(), L"Created\t3F2A=(none)");
  EXPECT_EQ(test::ValueNames(std::wstring(kResiliency) + L"DisabledItems"), std::vector<std::wstring>{L"1B07"})
      << "another add-in's entry stays";
  EXPECT_FALSE(KeyExists(std::wstring(kResiliency) + L"StartupItems"));
  EXPECT_EQ(Text(kSection, L"PermanentlyDisableAddin"), L"0") << "a known version never raises the flag";
  EXPECT_TRUE(test::Contains(calls, L"Run\tSetStartedFromIcon"));
  EXPECT_TRUE(test::Contains(calls, L"Documents.Add\tVisible:=True")) << "a missing macro is no error";
}

TEST_F(Launch, ACallersWordIsUsedAsItIsAndStartZTLFalseSkipsTheMacro) {
  word.Set(L"StartVisible", 1u);
  word.Set(L"Version", L"11.0");
  LateObject mine = test::WordStandIn::Start();
  Variant wordVariable;
  wordVariable.vt = VT_DISPATCH;
  wordVariable.pdispVal = mine.Get();
  mine.Get()->AddRef();

  ASSERT_EQ(StartRunTime(&wordVariable, false), S_OK);
  EXPECT_EQ(word.Processes().size(), 1u);
  EXPECT_TRUE(LateObject::FromVariant(wordVariable).SameAs(mine));
  const auto calls = word.Calls();
  EXPECT_FALSE(test::Contains(calls, L"Run\tSetStartedFromIcon"));
  EXPECT_FALSE(test::Contains(calls, L"Visible")) << "neither attached nor checked: the caller's Word is used as it is";
  EXPECT_TRUE(test::Contains(calls, L"Documents.Add\tVisible:=True"));
  EXPECT_EQ(Text(kSection, L"WordVersion"), L"(none)") << "a supplied Word's version is not recorded";
  // Word 2003: the ".dot" template is the one copied.
  EXPECT_EQ(ProductTemplate::Read(files.Copy(L".dot")), "dot template");
  EXPECT_EQ(ProductTemplate::Read(files.Copy(L".dotm")), "<missing>");
}

TEST_F(Launch, WordRefusingTheDocumentWith4605LeavesItHiddenAndUsesANewWord) {
  word.Set(L"RefuseDocuments", 1u);
  Variant wordVariable;
  ASSERT_EQ(StartRunTime(&wordVariable), S_OK);

  const auto pids = word.Processes();
  ASSERT_EQ(pids.size(), 2u);
  const auto first = word.Calls(pids[0]), second = word.Calls(pids[1]);
  EXPECT_TRUE(test::Contains(first, L"Documents.Add\tVisible:=True"));
  EXPECT_EQ(first.back(), L"Visible=False");
  EXPECT_TRUE(word.Running(pids[0])) << "the first Word is left running";
  EXPECT_FALSE(IsWindowVisible(test::WordStandIn::Windows(pids[0]).at(0)));
  EXPECT_EQ(CountOf(second, L"Documents.Add\tVisible:=True"), 1u);
  EXPECT_TRUE(IsWindowVisible(test::WordStandIn::Windows(pids[1]).at(0)));
  EXPECT_FALSE(test::Contains(second, L"Run\tSetStartedFromIcon")) << "the macro is not run again";
  LateObject now = LateObject::FromVariant(wordVariable);
  ASSERT_TRUE(now);
  EXPECT_EQ(ToLong(now.Object(L"Documents").Get(L"Count")), 1) << "the caller holds the second Word";
}

TEST_F(Launch, AWordThatRefusesTwiceGetsNoThirdTry) {
  word.Set(L"RefuseDocuments", 2u);
  ASSERT_EQ(StartRunTime(), S_OK);
  EXPECT_EQ(word.Processes().size(), 2u);
}

TEST_F(Launch, ARecordedFailedWordCheckStopsTheLaunchUntilWordCanBeReached) {
  SetText(kSection, L"FailedWord2000Check", L"1");
  word.Unregister();
  test::DialogWatch watch;
  ASSERT_EQ(StartRunTime(), S_OK);
  const auto seen = watch.Result();
  EXPECT_EQ(seen.text, L"You need Microsoft Word 2000 or later to run Zentrello.");
  EXPECT_EQ(seen.title, L"Zentrello requires Word 2000 or later");
  EXPECT_EQ(Text(kSection, L"FailedWord2000Check"), L"1") << "kept while Word cannot be reached";
  EXPECT_FALSE(KeyExists(std::wstring(kAddins) + kAddin)) << "nothing after the message";
  EXPECT_EQ(Text(kSection, L"PermanentlyDisableAddin"), L"(none)");

  word.Register();
  ASSERT_EQ(StartRunTime(), S_OK);
  EXPECT_EQ(Text(kSection, L"FailedWord2000Check"), L"(none)");
  EXPECT_EQ(word.Processes().size(), 1u) << "the Word reached for the check is the one launched";
  EXPECT_TRUE(test::Contains(word.Calls(), L"Documents.Add\tVisible:=True"));
}

TEST_F(Launch, AWordThatCannotStartIsReportedAndOnlyEarlierStepsLeaveTraces) {
  // "01" is not a recorded failure, so the launch goes on until Word is needed.
  SetText(kSection, L"FailedWord2000Check", L"01");
  word.Unregister();
  test::DialogWatch watch;
  ASSERT_EQ(StartRunTime(), S_OK);
  const auto seen = watch.Result();
  ASSERT_TRUE(seen.appeared);
  EXPECT_EQ(seen.text,
            L"Zentrello could not start Word, possibly because it is corrupted. Please try starting Word by itself to "
            L"resolve this problem.  If you still have problems with Zentrello, repair or reinstall Word.");
  EXPECT_EQ(seen.title, L"Zentrello could not start Word. Is it corrupted?");
  EXPECT_EQ(Text(kSection, L"FailedWord2000Check"), L"01");
  EXPECT_EQ(Dword(std::wstring(kAddins) + kAddin, L"LoadBehavior"), 3u);
  EXPECT_EQ(Text(kSection, L"PermanentlyDisableAddin"), L"1") << "raised before Word was needed, left raised";
  EXPECT_EQ(Text(kSection, L"WordVersion"), L"(none)");
  EXPECT_EQ(ProductTemplate::Read(files.Copy(L".dotm")), "<missing>");
}

TEST_F(Launch, AWordThatDiesAsItStartsEndsTheLaunchWithoutAMessage) {
  SetText(kSection, L"FailedWord2000Check", L"1 ");
  word.Set(L"DieAt", L"Version");
  test::DialogWatch watch(L"", IDOK, 3000);
  ASSERT_EQ(StartRunTime(), S_OK);
  EXPECT_FALSE(watch.Result().appeared);
  const auto pids = word.Processes();
  ASSERT_EQ(pids.size(), 1u);
  EXPECT_FALSE(word.Running(pids[0]));
  EXPECT_EQ(word.Calls(pids[0]).back(), L"Version");
  EXPECT_EQ(Text(kSection, L"WordVersion"), L"(none)");
  EXPECT_EQ(Text(kSection, L"FailedWord2000Check"), L"1 ") << "\"1 \" is not a recorded failure";
}

TEST_F(Launch, AnEmptyOrOddProductNameIsReportedAndChangesNothing) {
  for (const wchar_t* name : {L"", L"Software\\Zentrello", L"  ", L"Zen:trello"}) {
    ASSERT_EQ(StartRunTime(nullptr, {}, name), S_OK) << "no error escapes to the caller";
    const auto calls = reporter.Calls();
    ASSERT_FALSE(calls.empty());
    const auto& question = calls.back();
    ASSERT_EQ(question[0], L"vbwErrorHandler");
    EXPECT_EQ(question[1], L"5");
    EXPECT_EQ(question[2], L"\"" + std::wstring(name) + L"\" cannot be a product name");
    EXPECT_EQ(question[4] + L"." + question[5], L"Main2.StartRunTime");
  }
  expectedQuestions = 4;
  EXPECT_TRUE(word.Processes().empty());
  EXPECT_TRUE(test::ValueNames(L"Software").empty());
  EXPECT_FALSE(KeyExists(kAddins));
}

TEST_F(Launch, AScriptLauncherGetsTheStartedWordInItsVariable) {
  // The script runs in its own process on the real user hive: a product name
  // of its own keeps it apart.
  const std::wstring name = L"ZentrelloScript" + std::to_wstring(GetCurrentProcessId());
  const std::wstring output = test::RunVBScript({L"On Error Resume Next", L"Set m = CreateObject(\"Tamberlux.Main2\")",
                                                  L"Set w = Nothing", L"m.StartRunTime \"" + name + L"\", w, False",
                                                  L"WScript.Echo \"launch \" & Err.Number & \" \" & TypeName(w)",
                                                  L"WScript.Echo \"documents \" & w.Documents.Count & \" \" & w.Visible"});
  EXPECT_EQ(output, L"launch 0 Object\r\ndocuments 1 True\r\n");
  EXPECT_EQ(word.Processes().size(), 1u);
  HKEY real = nullptr;
  ASSERT_EQ(RegOpenCurrentUser(KEY_ALL_ACCESS, &real), ERROR_SUCCESS);
  EXPECT_EQ(RegDeleteTreeW(real, (L"Software\\" + name).c_str()), ERROR_SUCCESS) << "the script's launch wrote its section";
  for (const wchar_t* progId : {kMonitor, kAddin})
    RegDeleteTreeW(real, (std::wstring(kAddins) + progId).c_str());
  RegCloseKey(real);
}

}  // namespace
}  // namespace tamberlux
