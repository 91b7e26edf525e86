// The monitor add-in's call as Word starts, through COM against the stand-in Word (another process):
// the re-enable dialog as a user meets it, read, pictured and answered with the keyboard by
// DialogReader in its own process, and what each answer leaves in the registry and in Word.
#include <gtest/gtest.h>

#include <map>

#include "TestSupport.h"
#include "base/VbError.h"

namespace tamberlux::MonitorTests {
namespace {

using namespace std::string_literals;

using Texts = std::vector<std::wstring>;
using Form = std::map<std::wstring, Texts>;  // each field DialogReader wrote, with its values in order

const std::wstring kLists = L"Software\\Microsoft\\Office\\12.0\\Word\\Resiliency\\", kSection = L"Software\\Zentrello";
const std::wstring kDisabled = kLists + L"DisabledItems", kStartup = kLists + L"StartupItems";
constexpr wchar_t kQuestion[] = L"Re-enable Zentrello for Microsoft Word?";

// The caption Word was given last, or "(none)".
std::wstring LastCaption(const Texts& calls) {
  std::wstring last = L"(none)";
  for (const auto& c : calls)
    if (c.rfind(L"Caption=", 0) == 0) last = c.substr(8);
  return last;
}

class Monitor : public test::Main2Test {
 protected:

  // Word as the monitor add-in finds it when Word starts: a private registry, the stand-in Word
  // (started as another process) and, when `listed`, the product's add-in on both of Word's lists.
  struct Scene {
    explicit Scene(bool listed = true, const std::wstring& name = L"Zentrello") {
      word.Set(L"StartVisible", 1u);
      if (listed) test::SetText(L"Software\\" + std::wstring(name), L"WordVersion", L"12.0");
      const auto entry = test::WordEntry(L"c:\\program files\\valdomeren\\" + LowerCase(name) + L"\\addin.dll", name);
      if (listed) test::AddEntry(kDisabled, L"3F2A", entry), test::AddEntry(kStartup, L"9C1D", entry);
      mine = test::WordStandIn::Start();
    }
    test::PrivateUserHive hive;
    test::WordStandIn word;
    LateObject mine;
  };
  // The monitor add-in's call from inside `word` while DialogReader, in its own process, answers
  // the dialog as `answer` says: what the reader saw, the Word the caller's variable holds, and the
  // error the call answered ("" when none: "number description"). Once the call has returned, no
  // box of its can come: the reader stops looking for one then.
  struct Asked { Form form; LateObject word; std::wstring error; };
  Asked Ask(const LateObject& word, const std::wstring& answer, const wchar_t* name = L"Zentrello") {
    test::DialogWatch reader(test::DialogWatch::Options{L"--form " + answer});
    Variant n = Variant::Of(name), w = Variant::Of(word.Get());
    Asked asked;
    try {
      LateObject(ComPtr<IDispatch>(main2)).Call(L"CreateAddInMonitor", {ByRef(n), ByRef(w)});
    } catch (const vb::Error& e) {
      asked.error = std::to_wstring(e.number) + L" " + e.description;
    }
    const auto f = test::Split(reader.Output(true), L'\0');
    for (size_t i = 0; i + 1 < f.size(); i += 2) asked.form[f[i]].push_back(f[i + 1]);
    asked.word = LateObject::FromVariant(w);
    return asked;
  }
};

// A rectangle as DialogReader writes it: "left,top,right,bottom".
RECT RectOf(const std::wstring& text) {
  RECT r{};
  swscanf(text.c_str(), L"%ld,%ld,%ld,%ld", &r.left, &r.top, &r.right, &r.bottom);
  return r;
}
bool Inside(const RECT& inner, const RECT& outer) {
  return inner.left >= outer.left && inner.top >= outer.top && inner.right <= outer.right && inner.bottom <= outer.bottom;
}

// Also run by MonitorDialog.AtTheSystemDpiOf144, in a process that starts at 144 DPI. The longest
// name a product may have, one word of wide letters, makes the widest dialog.
TEST_F(Monitor, TheDialogComesUpInFrontOfWordWithItsTextsTabOrderAndTooltip) {
  struct Row { std::wstring name, picture, lastKey, flag; };
  for (const Row& row : {Row{L"Zentrello", L"", L"escape", L"(none)"}, Row{std::wstring(100, L'W'), L"long-", L"space", L"1"}}) {
    const std::wstring& name = row.name;
    SCOPED_TRACE(ToUtf8(name));
    Scene scene(true, name);
    const std::wstring pictures = test::BinDir() + L"..\\artifacts\\", picture = L"ReenableForm-" + row.picture;
    CreateDirectoryW(pictures.c_str(), nullptr);
    Form form = Ask(scene.mine, L"--picture \"" + pictures + picture + L"{dpi}.bmp\" --keys tab,tab,tab,shift+tab," + row.lastKey,
                    name.c_str()).form;

    const std::wstring instructions = L"You can re-enable " + name + L" any time by launching it from the desktop icon.";
    EXPECT_EQ(form[L"title"], Texts{L"Re-enable " + name + L"?"});
    const HWND words = test::WordStandIn::Windows(scene.word.Processes().at(0)).at(0);
    EXPECT_EQ(form[L"owner"], Texts{std::to_wstring(reinterpret_cast<intptr_t>(words))}) << "owned by Word's window";
    EXPECT_EQ(form[L"ownertitle"], Texts{L"Re-enable " + name + L" for Microsoft Word?"}) << "Word's title bar asks";
    EXPECT_EQ(form[L"foreground"], Texts{L"1"}) << "in front, although Word is another process";
    EXPECT_EQ(form[L"tooltip"], Texts{L"Disable permanently|" + instructions});
    // Focus on the first button; then Tab three times (round again), Shift+Tab, then Escape
    // closes, or Space presses the button that has the focus.
    EXPECT_EQ(form[L"focus"], (Texts{L"Re-enable", L"Disable just this time", L"Disable permanently", L"Re-enable",
                                     L"Disable permanently", L"(closed)"}));
    EXPECT_EQ(test::ReadText(L"Software\\" + std::wstring(name), L"PermanentlyDisableAddin"), row.flag);
    EXPECT_EQ(LastCaption(scene.word.Calls()), L"Microsoft Word") << "Word's caption back";

    // The labels and buttons in stacking order; only the buttons are tab stops.
    EXPECT_EQ(form[L"control"], (Texts{L"Button|tab|Re-enable", L"Button|tab|Disable just this time",
                                       L"Static|-|" + name + L" has been disabled.  Would you like to re-enable it?",
                                       L"Button|tab|Disable permanently", L"Static|-|" + instructions}));
    // Every control inside the client area, the client area on the screen, no button over another control.
    const RECT client = RectOf(form[L"client"].at(0));
    EXPECT_TRUE(Inside(client, RectOf(form[L"screen"].at(0)))) << ToUtf8(form[L"client"][0] + L" on " + form[L"screen"][0]);
    ASSERT_EQ(form[L"rect"].size(), 5u);
    for (size_t i = 0; i < 5; ++i) {
      const RECT r = RectOf(form[L"rect"][i]);
      EXPECT_TRUE(Inside(r, client)) << ToUtf8(form[L"control"][i] + L" at " + form[L"rect"][i]);
      for (size_t j = 0; j < 5; ++j) {
        RECT both{}, other = RectOf(form[L"rect"][j]);
        EXPECT_FALSE(j != i && form[L"control"][i].starts_with(L"Button") && IntersectRect(&both, &r, &other))
            << ToUtf8(form[L"control"][i] + L" over " + form[L"control"][j]);
      }
    }
    EXPECT_EQ(test::ReadWholeFile(pictures + picture + form[L"dpi"].at(0) + L".bmp").substr(0, 2), "BM");
  }
}

TEST(MonitorDialog, AtTheSystemDpiOf144) {
  // Wine reads the system DPI once, as a process starts, from "LogPixels" in
  // HKCU\Control Panel\Desktop; a private mapping of HKCU made later in a
  // process cannot reach it: the dialog test runs again in a new process.
  const std::wstring picture = test::BinDir() + L"..\\artifacts\\ReenableForm-144.bmp";
  DeleteFileW(picture.c_str());
  test::KeptUserKey desktop(L"Control Panel\\Desktop");
  test::SetDword(L"Control Panel\\Desktop", L"LogPixels", 144);
  const test::Ran r = test::Run(L"\"" + test::TestProgram() + L"\" --gtest_filter=Monitor.TheDialog*", 100000);
  EXPECT_EQ(r.code, 0u) << r.bytes;
  EXPECT_EQ(test::ReadWholeFile(picture).substr(0, 2), "BM");
}

// Word's caption is put back whatever the answer that keeps Word, however long or odd it is: a
// caption of 10,000 characters, and one with control characters and a NUL.
TEST_F(Monitor, EachAnswerLeavesTheRegistryAndWordAsTheUserChoseAndAWordThatQuitsIsReportedOnce) {
  // What becomes of the Word the dialog came up in: "kept", "restarted", "gone" (quit, but no new
  // Word starts), "quit" (it quits under the dialog) or "went" (it quits under the dialog, and then
  // the user answers Re-enable); Word's caption before the call, when not its own.
  struct Row { const wchar_t *answer, *word, *permanentlyDisabled; std::wstring caption; };
  const std::wstring huge(10000, L'c'), control = L"Old\r\nWord\tx\x1b[31m\0after a NUL"s;
  expectedQuestions = 2;  // from the Words that quit under the dialog
  for (const Row& row : {Row{L"--keys return", L"restarted", L"(none)"}, Row{L"--keys tab,return", L"kept", L"(none)"},
                         Row{L"--keys tab,tab,return", L"kept", L"1"}, Row{L"--keys escape", L"kept", L"(none)"},
                         Row{L"--close", L"kept", L"(none)"}, Row{L"--keys return --then-none 3000", L"gone", L"(none)"},
                         Row{L"--close-owner --close", L"quit", L"(none)"},
                         Row{L"--close-owner --keys return --then-none 3000", L"went", L"(none)"},
                         Row{L"--keys tab,return", L"kept", L"(none)", huge},
                         Row{L"--keys tab,tab,return", L"kept", L"1", control},
                         Row{L"--keys escape", L"kept", L"(none)", control}}) {
    SCOPED_TRACE(std::wstring(row.answer) + L", Word " + row.word);
    const std::wstring outcome = row.word;
    const bool restarted = outcome == L"restarted" || outcome == L"gone", newWord = outcome == L"restarted";
    const bool reenabled = restarted || outcome == L"went";
    Scene scene;
    test::ProductTemplate files;
    test::WriteWholeFile(files.Source(L".dotm"), "dotm template");
    if (outcome == L"gone") scene.word.Unregister();
    if (!row.caption.empty()) scene.mine.Put(L"Caption", Variant::Of(row.caption));
    auto [form, after, error] = Ask(scene.mine, row.answer);
    // The title bar shows the question up to a NUL; DialogReader reads 2,047 characters of it.
    const std::wstring question = row.caption.empty() ? kQuestion : L"Re-enable Zentrello for " + row.caption + L"?";
    EXPECT_EQ(form[L"ownertitle"], Texts{question.substr(0, std::min<size_t>(question.find(L'\0'), 2047))});

    const auto pids = scene.word.Processes();
    const auto calls = scene.word.Calls(pids.at(0));
    EXPECT_EQ(pids.size(), newWord ? 2u : 1u);
    EXPECT_EQ(test::Contains(calls, L"Quit\tSaveChanges:=False"), restarted);
    EXPECT_EQ(test::ReadText(kSection, L"PermanentlyDisableAddin"), row.permanentlyDisabled);
    EXPECT_EQ(test::ValueNames(kDisabled), reenabled ? Texts{} : Texts{L"3F2A"});
    EXPECT_EQ(test::KeyExists(kStartup), !reenabled);
    if (row.caption.empty())
      EXPECT_EQ(LastCaption(calls), reenabled || outcome == L"quit" ? kQuestion : L"Microsoft Word")
          << "restored exactly, unless Word is gone";
    else
      EXPECT_EQ(ToText(scene.mine.Get(L"Caption")), row.caption) << "restored exactly";
    EXPECT_EQ(error, outcome == L"went" ? L"462 Word has gone: Zentrello is re-enabled for Word 12.0 and loads when "
                                          L"Word starts again"
                                        : L"")
        << "the monitor learns that Word has gone";
    if (outcome == L"quit" || outcome == L"went") {
      // Restoring the caption fails, or the re-enabled add-in finds no Word to restart: the trap
      // has the error, its answer leaves the procedure.
      EXPECT_FALSE(scene.word.Running(pids[0]));
      const auto asked = reporter.Calls().back();
      EXPECT_EQ(asked.at(0) + L"|" + asked.at(4) + L"." + asked.at(5) + L"|" + asked.at(6),
                outcome == L"quit" ? L"vbwErrorHandler|Main2.CreateAddInMonitor|80115"
                                   : L"vbwErrorHandler|Main2.CreateAddInMonitor|80119");
      EXPECT_EQ(form[L"another"], Texts{}) << "no message";
    } else if (!restarted) {
      EXPECT_EQ(calls.back(), L"Visible=True");
      EXPECT_TRUE(after.SameAs(scene.mine));
    } else if (newWord) {
      EXPECT_TRUE(test::Contains(scene.word.Calls(pids[1]), L"Documents.Add\tVisible:=True"));
      ASSERT_TRUE(after);
      EXPECT_EQ(ToLong(after.Object(L"Documents").Get(L"Count")), 1) << "the caller holds the new Word";
    } else {
      EXPECT_FALSE(after) << "the caller's variable holds Nothing";
      EXPECT_EQ(form[L"another"], Texts{}) << "no message";
      EXPECT_FALSE(test::KeyExists(std::wstring(test::kAddins) + test::kAddin)) << "no launch";
    }
  }
}

TEST_F(Monitor, APermanentChoiceHoldsUntilWordNoLongerListsTheAddInAndAnOddNameIsReported) {
  struct Row { const wchar_t *name, *flag, *flagAfter; bool listed, dialog; };
  for (const Row& row : {Row{L"Zentrello", L"1", L"0", false, false}, Row{L"Zentrello", L"1", L"1", true, false},
                         Row{L"Zentrello", L"True", L"True", true, true}, Row{L"Zentrello", nullptr, L"(none)", false, false},
                         Row{L"", nullptr, L"(none)", true, false}}) {
    SCOPED_TRACE(std::wstring(row.name) + L", " + (row.flag ? row.flag : L"no flag") + (row.listed ? L", listed" : L""));
    Scene scene(row.listed);
    if (row.flag) test::SetText(kSection, L"PermanentlyDisableAddin", row.flag);
    Asked asked = Ask(scene.mine, L"--timeout 2000 --keys escape", row.name);
    EXPECT_EQ(asked.form[L"title"].size(), row.dialog ? 1u : 0u);
    EXPECT_EQ(asked.error, row.name[0] ? L"" : L"5 \"\" cannot be a product name") << "the monitor learns the refusal";
    EXPECT_EQ(test::ReadText(kSection, L"PermanentlyDisableAddin"), row.flagAfter);
    EXPECT_EQ(LastCaption(scene.word.Calls()), row.dialog ? L"Microsoft Word" : L"(none)");
  }
  expectedQuestions = 1;
  EXPECT_EQ(reporter.Calls().back().at(2), L"\"\" cannot be a product name");
}

}  // namespace
}  // namespace tamberlux::MonitorTests
