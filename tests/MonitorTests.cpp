// The monitor add-in's call as Word starts, through COM against the stand-in
// Word (another process): the re-enable dialog as a user meets it, read,
// pictured and answered with the keyboard by DialogReader in its own process,
// and what each answer leaves in the registry and in Word.
#include <gtest/gtest.h>

#include <cstdlib>

#include "TestSupport.h"

namespace tamberlux {
namespace {

using test::KeyExists;
using test::SetText;
using test::ValueNames;

const std::wstring kLists = L"Software\\Microsoft\\Office\\12.0\\Word\\Resiliency\\";
const std::wstring kDisabled = kLists + L"DisabledItems", kStartup = kLists + L"StartupItems";
constexpr wchar_t kQuestion[] = L"Re-enable Zentrello for Microsoft Word?";
constexpr wchar_t kInstructions[] = L"You can re-enable Zentrello any time by launching it from the desktop icon.";

std::wstring Text(const std::wstring& key, const std::wstring& name) {
  const auto raw = test::ReadRaw(key, name);
  std::wstring text(reinterpret_cast<const wchar_t*>(raw.data.data()), raw.data.size() / sizeof(wchar_t));
  return raw.exists ? text.substr(0, text.find(L'\0')) : L"(none)";
}

std::wstring LastCaption(const std::vector<std::wstring>& calls) {
  std::wstring last = L"(none)";
  for (const auto& c : calls)
    if (c.rfind(L"Caption=", 0) == 0) last = c.substr(8);
  return last;
}

// What DialogReader saw of the dialog, field by field.
class FormWatch {
 public:
  explicit FormWatch(const std::wstring& args)
      : reader_([this, args] { out_ = test::RunAndCapture(L"\"" + test::BinDir() + L"DialogReader.exe\" --form " + args); }) {}
  ~FormWatch() {
    if (reader_.joinable()) reader_.join();
  }
  std::vector<std::wstring> All(const std::wstring& field) {
    if (reader_.joinable()) reader_.join();
    const auto f = test::Split(out_, L'\0');
    std::vector<std::wstring> values;
    for (size_t i = 0; i + 1 < f.size(); i += 2)
      if (f[i] == field) values.push_back(f[i + 1]);
    return values;
  }
  std::wstring One(const std::wstring& field) { return All(field).empty() ? L"(none)" : All(field)[0]; }
  // Each control's {x, y, w, h} and the rest of its line.
  std::vector<std::pair<std::vector<int>, std::wstring>> Controls() {
    std::vector<std::pair<std::vector<int>, std::wstring>> seen;
    for (const auto& c : All(L"control")) {
      const auto parts = test::Split(c, L'|');
      std::vector<int> rect;
      for (const auto& n : test::Split(parts.at(2), L',')) rect.push_back(std::stoi(n));
      seen.push_back({rect, parts[0] + L"|" + parts[1] + L"|" + parts.at(3)});
    }
    return seen;
  }

 private:
  std::wstring out_;
  std::thread reader_;
};

class Monitor : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(test::Regsvr32(L"/s"), 0u);
    main2 = test::CreateMain2();
    ASSERT_TRUE(main2);
  }
  void TearDown() override { EXPECT_EQ(reporter.Count(L"vbwErrorHandler"), expectedQuestions); }

  // Word disabled the product's add-in after a crash: both its lists name it.
  static void Disabled(const std::wstring& name = L"Zentrello") {
    SetText(L"Software\\" + name, L"WordVersion", L"12.0");
    std::wstring lower = name;
    CharLowerBuffW(lower.data(), static_cast<DWORD>(lower.size()));
    const auto entry = test::WordEntry(L"c:\\program files\\valdomeren\\" + lower + L"\\addin.dll", name);
    test::AddEntry(kDisabled, L"3F2A", entry);
    test::AddEntry(kStartup, L"9C1D", entry);
  }
  // The monitor add-in's call from inside `word`; the Word its variable holds afterwards.
  LateObject CreateAddInMonitor(const LateObject& word, const wchar_t* name = L"Zentrello") {
    Variant n = Variant::Of(name), w = Variant::Of(word.Get());
    EXPECT_EQ(test::CallByName(main2.Get(), L"CreateAddInMonitor", {ByRef(n), ByRef(w)}), S_OK);
    return LateObject::FromVariant(w);
  }

  test::StartedTrap trap;
  test::ReporterStandIn reporter;
  ComPtr<IDispatch> main2;
  int expectedQuestions = 0;
};

// Also run by MonitorDialog.AtTheSystemDpiOf144, in a process that starts at 144 DPI.
TEST_F(Monitor, TheDialogComesUpInFrontOfWordWithItsTextsTabOrderTooltipAndLayout) {
  test::PrivateUserHive hive;
  test::WordStandIn word;
  word.Set(L"StartVisible", 1u);
  Disabled();
  const LateObject mine = test::WordStandIn::Start();
  const std::wstring pictures = test::BinDir() + L"..\\artifacts\\";
  CreateDirectoryW(pictures.c_str(), nullptr);
  FormWatch form(L"--picture \"" + pictures + L"ReenableForm-{dpi}.bmp\" --keys tab,tab,tab,shift+tab,escape");
  CreateAddInMonitor(mine);

  EXPECT_EQ(form.One(L"title"), L"Re-enable Zentrello?");
  const auto words = test::WordStandIn::Windows(word.Processes().at(0));
  EXPECT_EQ(form.One(L"owner"), std::to_wstring(reinterpret_cast<intptr_t>(words.at(0)))) << "owned by Word's window";
  EXPECT_EQ(form.One(L"ownertitle"), kQuestion) << "Word's title bar asks while the dialog is up";
  EXPECT_EQ(form.One(L"foreground"), L"1") << "in front, although Word is another process";
  RECT w{};
  GetWindowRect(words.at(0), &w);
  const auto centre = test::Split(form.One(L"centre"), L',');
  EXPECT_LE(std::abs(std::stoi(centre.at(0)) - (w.left + w.right) / 2), 1) << "centred on Word's window";
  EXPECT_LE(std::abs(std::stoi(centre.at(1)) - (w.top + w.bottom) / 2), 1);
  EXPECT_EQ(form.All(L"tooltip"), std::vector<std::wstring>{std::wstring(L"Disable permanently|") + kInstructions});
  // Focus on the first button; then Tab three times (round again), Shift+Tab, Escape.
  EXPECT_EQ(form.All(L"focus"), (std::vector<std::wstring>{L"Re-enable", L"Disable just this time", L"Disable permanently",
                                                          L"Re-enable", L"Disable permanently", L"(closed)"}));

  // The design in twips at this process's DPI (under Wine every monitor has the system's).
  HDC screen = GetDC(nullptr);
  const int dpi = GetDeviceCaps(screen, LOGPIXELSY);
  ReleaseDC(nullptr, screen);
  EXPECT_EQ(form.One(L"dpi"), std::to_wstring(dpi));
  auto px = [dpi](std::vector<int> twips) {
    for (int& t : twips) t = MulDiv(t, dpi, 1440);
    return twips;
  };
  const std::vector<std::pair<std::vector<int>, std::wstring>> design = {
      {px({3480, 120, 1695, 375}), L"Button|tab|Re-enable"},
      {px({3480, 600, 1695, 375}), L"Button|tab|Disable just this time"},
      {px({120, 120, 2775, 495}), L"Static|-|Zentrello has been disabled.  Would you like to re-enable it?"},
      {px({3480, 1080, 1695, 375}), L"Button|tab|Disable permanently"},
      {px({120, 840, 3255, 615}), std::wstring(L"Static|-|") + kInstructions}};
  auto seen = form.Controls();
  ASSERT_EQ(seen.size(), design.size());
  const int buttonWidth = seen[0].first.at(2);  // wider where the font draws a caption wider
  EXPECT_GE(buttonWidth, design[0].first[2]);
  for (auto& [rect, text] : seen)
    if (text.rfind(L"Button", 0) == 0) rect[2] = design[0].first[2];
  EXPECT_EQ(seen, design);
  const auto client = test::Split(form.One(L"client"), L'x');
  EXPECT_EQ(std::stoi(client.at(0)) - buttonWidth, px({5295 - 1695})[0]);
  EXPECT_EQ(std::stoi(client.at(1)), px({1605})[0]);
  EXPECT_EQ(test::ProductTemplate::Read(pictures + L"ReenableForm-" + std::to_wstring(dpi) + L".bmp").substr(0, 2), "BM");
}

TEST(MonitorDialog, AtTheSystemDpiOf144) {
  // Wine reads the system DPI once, as a process starts, from "LogPixels" in
  // HKCU\Control Panel\Desktop; a private mapping of HKCU made later in a
  // process cannot reach it: the dialog test runs again in a new process.
  const std::wstring desktop = L"Control Panel\\Desktop", picture = test::BinDir() + L"..\\artifacts\\ReenableForm-144.bmp";
  const auto before = test::ReadRaw(desktop, L"LogPixels");
  test::SetDword(desktop, L"LogPixels", 144);
  DeleteFileW(picture.c_str());
  DWORD code = 99;
  const std::wstring out = test::RunAndCapture(L"\"" + test::BinDir() + L"MonitorTests.exe\" --gtest_filter=Monitor.TheDialog*", &code);
  if (before.exists) test::SetValue(desktop, L"LogPixels", before.type, before.data.data(), static_cast<DWORD>(before.data.size()));
  else RegDeleteKeyValueW(HKEY_CURRENT_USER, desktop.c_str(), L"LogPixels");
  EXPECT_EQ(code, 0u) << std::string(out.begin(), out.end());
  EXPECT_EQ(test::ProductTemplate::Read(picture).substr(0, 2), "BM");
}

TEST_F(Monitor, EachAnswerLeavesTheRegistryAndWordAsTheUserChose) {
  struct Row {
    const wchar_t* answer;  // what DialogReader does
    bool restarted, newWord;
    const wchar_t* permanentlyDisabled;
  };
  for (const Row& row : {Row{L"--keys return", true, true, L"(none)"}, Row{L"--keys tab,return", false, false, L"(none)"},
                         Row{L"--keys tab,tab,return", false, false, L"1"}, Row{L"--keys escape", false, false, L"(none)"},
                         Row{L"--close", false, false, L"(none)"}, Row{L"--keys return --then-none 3000", true, false, L"(none)"}}) {
    SCOPED_TRACE(std::wstring(row.answer) + (row.restarted && !row.newWord ? L", no Word to restart" : L""));
    test::PrivateUserHive hive;
    test::WordStandIn word;
    word.Set(L"StartVisible", 1u);
    Disabled();
    test::ProductTemplate files;
    test::ProductTemplate::Write(files.Source(L".dotm"), "dotm template");
    const LateObject mine = test::WordStandIn::Start();
    if (row.restarted && !row.newWord) word.Unregister();
    FormWatch form(row.answer);
    const LateObject after = CreateAddInMonitor(mine);
    EXPECT_EQ(form.One(L"ownertitle"), kQuestion);

    const auto pids = word.Processes();
    const auto calls = word.Calls(pids.at(0));
    EXPECT_EQ(pids.size(), row.newWord ? 2u : 1u);
    EXPECT_EQ(test::Contains(calls, L"Quit\tSaveChanges:=False"), row.restarted);
    EXPECT_EQ(Text(L"Software\\Zentrello", L"PermanentlyDisableAddin"), row.permanentlyDisabled);
    EXPECT_EQ(ValueNames(kDisabled), row.restarted ? std::vector<std::wstring>{} : std::vector<std::wstring>{L"3F2A"});
    EXPECT_EQ(KeyExists(kStartup), !row.restarted);
    EXPECT_EQ(LastCaption(calls), row.restarted ? kQuestion : L"Microsoft Word") << "restored exactly, unless Word is gone";
    if (!row.restarted) {
      EXPECT_EQ(calls.back(), L"Visible=True");
      EXPECT_TRUE(after.SameAs(mine));
    } else if (row.newWord) {
      EXPECT_TRUE(test::Contains(word.Calls(pids[1]), L"Documents.Add\tVisible:=True"));
      ASSERT_TRUE(after);
      EXPECT_EQ(ToLong(after.Object(L"Documents").Get(L"Count")), 1) << "the caller holds the new Word";
    } else {
      EXPECT_FALSE(after) << "the caller's variable holds Nothing";
      EXPECT_EQ(form.One(L"another"), L"(none)") << "no message";
      EXPECT_FALSE(KeyExists(std::wstring(test::kAddins) + test::kAddin)) << "no launch";
    }
  }
}

TEST_F(Monitor, APermanentChoiceHoldsUntilWordNoLongerListsTheAddIn) {
  struct Row {
    const wchar_t *flag, *flagAfter;
    bool listed, dialog;
  };
  for (const Row& row : {Row{L"1", L"0", false, false}, Row{L"1", L"1", true, false}, Row{L"True", L"True", true, true},
                         Row{nullptr, L"(none)", false, false}}) {
    SCOPED_TRACE(std::wstring(row.flag ? row.flag : L"no flag") + (row.listed ? L", listed" : L""));
    test::PrivateUserHive hive;
    test::WordStandIn word;
    if (row.listed) Disabled();
    if (row.flag) SetText(L"Software\\Zentrello", L"PermanentlyDisableAddin", row.flag);
    FormWatch form(L"--timeout 2000 --keys escape");
    CreateAddInMonitor(test::WordStandIn::Start());
    EXPECT_EQ(form.One(L"title") != L"(none)", row.dialog);
    EXPECT_EQ(Text(L"Software\\Zentrello", L"PermanentlyDisableAddin"), row.flagAfter);
    EXPECT_EQ(LastCaption(word.Calls()), row.dialog ? L"Microsoft Word" : L"(none)");
  }
}

TEST_F(Monitor, ALongProductNameWrapsInTheLabelsAndAnOddOneIsReported) {
  test::PrivateUserHive hive;
  test::WordStandIn word;
  const wchar_t* name = L"Zentrello Professional Edition for Litigation Support Teams";
  Disabled(name);
  const LateObject mine = test::WordStandIn::Start();
  FormWatch form(L"--picture \"" + test::BinDir() + L"..\\artifacts\\ReenableForm-long-{dpi}.bmp\" --keys escape");
  CreateAddInMonitor(mine, name);
  const auto c = form.Controls();
  ASSERT_EQ(c.size(), 5u);
  const auto &button = c[0].first, &question = c[2].first, &instructions = c[4].first;
  EXPECT_GT(question[3], MulDiv(495, std::stoi(form.One(L"dpi")), 1440)) << "the question grew to hold its lines";
  EXPECT_GE(instructions[1], question[1] + question[3]) << "the instructions start below it";
  EXPECT_LE(instructions[0] + instructions[2], button[0]) << "labels stay left of the buttons";
  EXPECT_LE(instructions[1] + instructions[3], std::stoi(test::Split(form.One(L"client"), L'x').at(1)));

  FormWatch none(L"--timeout 1000 --keys escape");
  CreateAddInMonitor(mine, L"");
  EXPECT_EQ(none.One(L"title"), L"(none)");
  expectedQuestions = 1;
  const auto asked = reporter.Calls().back();
  EXPECT_EQ(asked.at(1) + L"|" + asked.at(2), L"5|\"\" cannot be a product name");
}

TEST_F(Monitor, AWordThatQuitsUnderTheDialogIsReportedOnceAndNothingElseHappens) {
  test::PrivateUserHive hive;
  test::WordStandIn word;
  Disabled();
  FormWatch form(L"--close-owner --close");
  CreateAddInMonitor(test::WordStandIn::Start());
  EXPECT_EQ(form.One(L"title"), L"Re-enable Zentrello?");
  EXPECT_FALSE(word.Running(word.Processes().at(0)));
  expectedQuestions = 1;  // restoring the caption fails; the trap's answer leaves the procedure
  const auto asked = reporter.Calls().back();
  EXPECT_EQ(asked.at(0) + L"|" + asked.at(4) + L"." + asked.at(5) + L"|" + asked.at(6), L"vbwErrorHandler|Main2.CreateAddInMonitor|80115");
  EXPECT_EQ(ValueNames(kDisabled), std::vector<std::wstring>{L"3F2A"});
  EXPECT_EQ(Text(L"Software\\Zentrello", L"PermanentlyDisableAddin"), L"(none)");
}

// On the real user hive, with a product name and a Word version of its own.
TEST(EnableCommand, TakesTheAddInOffWordsListsAndClearsThePermanentChoice) {
  const std::wstring id = std::to_wstring(GetCurrentProcessId()), name = L"ZentrelloEnable" + id;
  const std::wstring section = L"Software\\" + name, office = L"Software\\Microsoft\\Office\\12." + id;
  const std::wstring lists = office + L"\\Word\\Resiliency\\", tool = L"\"" + test::BinDir() + L"tamberlux.exe\" enable ";
  SetText(section, L"WordVersion", L"12." + id);
  SetText(section, L"PermanentlyDisableAddin", L"1");
  const auto entry = test::WordEntry(L"c:\\valdomeren\\zentrelloenable" + id + L"\\addin.dll", name);
  test::AddEntry(lists + L"DisabledItems", L"A1", entry);
  test::AddEntry(lists + L"DisabledItems", L"B2", test::WordEntry(L"c:\\other\\helper.dll", L"Helper"));
  test::AddEntry(lists + L"DisabledItems", L"C3", entry);  // Word listed it twice
  test::AddEntry(lists + L"StartupItems", L"D4", entry);
  DWORD code = 99, again = 99, odd = 99;
  std::wstring out = test::RunAndCapture(tool + name + L" --json", &code, true);
  const std::wstring second = test::RunAndCapture(tool + name, &again, true);
  test::RunAndCapture(tool + L"\"a:b\"", &odd, true);
  std::erase(out, L'\r');
  const auto disabled = ValueNames(lists + L"DisabledItems");
  const bool startup = KeyExists(lists + L"StartupItems");
  const std::wstring flag = Text(section, L"PermanentlyDisableAddin");
  RegDeleteTreeW(HKEY_CURRENT_USER, section.c_str());
  RegDeleteTreeW(HKEY_CURRENT_USER, office.c_str());

  EXPECT_EQ(code, 0u);
  EXPECT_EQ(disabled, std::vector<std::wstring>{L"B2"});
  EXPECT_FALSE(startup);
  EXPECT_EQ(flag, L"0");
  EXPECT_NE(out.find(L"\"removedEntries\": [\"A1\", \"C3\"],\n  \"startupItemsDeleted\": 1,\n  "
                     L"\"permanentlyDisableAddin\": {\"before\": \"1\", \"after\": \"0\"},\n  \"stillDisabled\": false"),
            std::wstring::npos)
      << std::string(out.begin(), out.end());
  EXPECT_EQ(again, 0u) << "nothing left to change";
  EXPECT_NE(second.find(L"does not list the add-in as disabled"), std::wstring::npos);
  EXPECT_NE(second.find(L"PermanentlyDisableAddin: unchanged (0)"), std::wstring::npos);
  EXPECT_EQ(odd, 2u);
}

}  // namespace
}  // namespace tamberlux
