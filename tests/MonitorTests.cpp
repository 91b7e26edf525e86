// The monitor add-in's call as Word starts, through COM against the stand-in
// Word (another process): the re-enable dialog as a user meets it, read,
// pictured and answered with the keyboard by a separate process, and what
// each answer leaves in the registry and in Word.
#include <gtest/gtest.h>

#include "TestSupport.h"

namespace tamberlux {
namespace {

using test::KeyExists;
using test::SetText;
using test::ValueNames;

const std::wstring kResiliency = L"Software\\Microsoft\\Office\\12.0\\Word\\Resiliency\\";
const std::wstring kDisabled = kResiliency + L"DisabledItems", kStartup = kResiliency + L"StartupItems";

std::wstring Text(const std::wstring& key, const std::wstring& name) {
  const auto raw = test::ReadRaw(key, name);
  std::wstring text(reinterpret_cast<const wchar_t*>(raw.data.data()), raw.data.size() / sizeof(wchar_t));
  while (!text.empty() && text.back() == L'\0') text.pop_back();
  return raw.exists ? text : L"(none)";
}

// The product's dialog, read and answered by DialogReader in its own process.
class FormWatch {
 public:
  explicit FormWatch(const std::wstring& args)
      : reader_([this, args] { output_ = test::RunAndCapture(L"\"" + test::BinDir() + L"DialogReader.exe\" --form " + args); }) {}
  ~FormWatch() {
    if (reader_.joinable()) reader_.join();
  }
  std::vector<std::wstring> All(const std::wstring& field) {
    if (reader_.joinable()) reader_.join();
    const auto fields = test::Split(output_, L'\0');
    std::vector<std::wstring> values;
    for (size_t i = 0; i + 1 < fields.size(); i += 2)
      if (fields[i] == field) values.push_back(fields[i + 1]);
    return values;
  }
  std::wstring One(const std::wstring& field) {
    const auto v = All(field);
    return v.empty() ? L"(none)" : v.front();
  }

 private:
  std::wstring output_;
  std::thread reader_;
};

// A control as read: class, tab stop, {x, y, w, h} in the dialog's client area, text.
struct Seen {
  std::wstring cls, tab;
  std::vector<int> rect;
  std::wstring text;
};
std::vector<Seen> Controls(FormWatch& form) {
  std::vector<Seen> seen;
  for (const auto& c : form.All(L"control")) {
    const auto parts = test::Split(c, L'|');
    std::vector<int> rect;
    for (const auto& n : test::Split(parts.at(2), L',')) rect.push_back(std::stoi(n));
    seen.push_back({parts[0], parts[1], rect, parts.at(3)});
  }
  return seen;
}

class Monitor : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(test::Regsvr32(L"/s"), 0u);
    main2 = test::CreateMain2();
    ASSERT_TRUE(main2);
  }
  void TearDown() override { EXPECT_EQ(reporter.Count(L"vbwErrorHandler"), expectedQuestions); }

  // Word disabled the product's add-in after a crash: both lists name it.
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

constexpr wchar_t kQuestion[] = L"Re-enable Zentrello for Microsoft Word?";
constexpr wchar_t kInstructions[] = L"You can re-enable Zentrello any time by launching it from the desktop icon.";

std::wstring LastCaption(const std::vector<std::wstring>& calls) {
  std::wstring last = L"(none)";
  for (const auto& c : calls)
    if (c.rfind(L"Caption=", 0) == 0) last = c.substr(8);
  return last;
}

// Also run by AtTheSystemDpiOf144 in a process that starts at 144 DPI.
TEST_F(Monitor, TheDialogComesUpInFrontOfWordWithItsTextsTabOrderTooltipAndLayout) {
  test::PrivateUserHive hive;
  test::WordStandIn word;
  word.Set(L"StartVisible", 1u);
  Disabled();
  const LateObject mine = test::WordStandIn::Start();
  CreateDirectoryW((test::BinDir() + L"..\\artifacts").c_str(), nullptr);
  FormWatch form(L"--picture \"" + test::BinDir() + L"..\\artifacts\\ReenableForm-{dpi}.bmp\"" +
                 L" --keys tab,tab,tab,shift+tab,escape");
  CreateAddInMonitor(mine);

  EXPECT_EQ(form.One(L"title"), L"Re-enable Zentrello?");
  const auto words = test::WordStandIn::Windows(word.Processes().at(0));
  ASSERT_EQ(words.size(), 1u);
  EXPECT_EQ(form.One(L"owner"), std::to_wstring(reinterpret_cast<intptr_t>(words[0]))) << "owned by Word's window";
  EXPECT_EQ(form.One(L"ownertitle"), kQuestion) << "Word's title bar asks the question while the dialog is up";
  EXPECT_EQ(form.One(L"foreground"), L"1") << "in front, although Word is another process";
  EXPECT_EQ(form.All(L"tooltip"), std::vector<std::wstring>{std::wstring(L"Disable permanently|") + kInstructions});
  // Focus on the first button, then Tab, Tab, Tab (round again), Shift+Tab, Escape.
  EXPECT_EQ(form.All(L"focus"), (std::vector<std::wstring>{L"Re-enable", L"Disable just this time",
                                                          L"Disable permanently", L"Re-enable",
                                                          L"Disable permanently", L"(closed)"}));

  // The design in twips, at the DPI the dialog was drawn at: this process's
  // system DPI (Wine's monitors all have it).
  HDC screen = GetDC(nullptr);
  const int dpi = GetDeviceCaps(screen, LOGPIXELSY);
  ReleaseDC(nullptr, screen);
  EXPECT_EQ(form.One(L"dpi"), std::to_wstring(dpi));
  auto px = [dpi](int twips) { return MulDiv(twips, dpi, 1440); };
  const auto client = test::Split(form.One(L"client"), L'x');
  EXPECT_EQ(std::stoi(client.at(0)) - Controls(form).at(0).rect.at(2), px(5295) - px(1695));
  EXPECT_EQ(std::stoi(client.at(1)), px(1605));
  const std::vector<Seen> expected = {
      {L"Button", L"tab", {px(3480), px(120), px(1695), px(375)}, L"Re-enable"},
      {L"Button", L"tab", {px(3480), px(600), px(1695), px(375)}, L"Disable just this time"},
      {L"Static", L"-", {px(120), px(120), px(2775), px(495)}, L"Zentrello has been disabled.  Would you like to re-enable it?"},
      {L"Button", L"tab", {px(3480), px(1080), px(1695), px(375)}, L"Disable permanently"},
      {L"Static", L"-", {px(120), px(840), px(3255), px(615)}, kInstructions}};
  const auto controls = Controls(form);
  ASSERT_EQ(controls.size(), expected.size());
  for (size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(_wcsicmp(controls[i].cls.c_str(), expected[i].cls.c_str()), 0) << i;
    EXPECT_EQ(controls[i].tab + L"|" + controls[i].text, expected[i].tab + L"|" + expected[i].text);
    // A button may be wider where the font draws its caption wider.
    auto rect = controls[i].rect;
    if (expected[i].cls == L"Button" && rect.at(2) >= expected[i].rect.at(2)) rect[2] = expected[i].rect[2];
    EXPECT_EQ(rect, expected[i].rect) << expected[i].text;
  }
  EXPECT_EQ(test::ProductTemplate::Read(test::BinDir() + L"..\\artifacts\\ReenableForm-" + std::to_wstring(dpi) + L".bmp").substr(0, 2), "BM");
}

TEST(MonitorDialog, AtTheSystemDpiOf144) {
  // Wine reads the system DPI once, as a process starts, from "LogPixels" in
  // HKCU\Control Panel\Desktop (before HKLM's fonts key); a private mapping
  // of HKCU made later in a process does not reach it.
  const std::wstring desktop = L"Control Panel\\Desktop";
  const auto before = test::ReadRaw(desktop, L"LogPixels");
  test::SetDword(desktop, L"LogPixels", 144);
  const std::wstring picture = test::BinDir() + L"..\\artifacts\\ReenableForm-144.bmp";
  DeleteFileW(picture.c_str());
  DWORD code = 99;
  const std::wstring output = test::RunAndCapture(
      L"\"" + test::BinDir() +
      L"MonitorTests.exe\" --gtest_filter=Monitor.TheDialogComesUpInFrontOfWordWithItsTextsTabOrderTooltipAndLayout",
      &code);
  if (before.exists) test::SetValue(desktop, L"LogPixels", before.type, before.data.data(), static_cast<DWORD>(before.data.size()));
  else RegDeleteKeyValueW(HKEY_CURRENT_USER, desktop.c_str(), L"LogPixels");
  EXPECT_EQ(code, 0u) << std::string(output.begin(), output.end());
  EXPECT_EQ(test::ProductTemplate::Read(picture).substr(0, 2), "BM") << "drawn at 144 DPI";
}

TEST_F(Monitor, EachAnswerLeavesTheRegistryAndWordAsTheUserChose) {
  struct Row {
    const wchar_t* answer;  // DialogReader's arguments
    bool restarted;
    const wchar_t* permanentlyDisabled;
  };
  for (const Row& row : {Row{L"--keys return", true, L"(none)"}, Row{L"--keys tab,return", false, L"(none)"},
                         Row{L"--keys tab,tab,return", false, L"1"}, Row{L"--keys escape", false, L"(none)"},
                         Row{L"--close", false, L"(none)"}}) {
    SCOPED_TRACE(row.answer);
    test::PrivateUserHive hive;
    test::WordStandIn word;
    word.Set(L"StartVisible", 1u);
    Disabled();
    test::ProductTemplate files;
    test::ProductTemplate::Write(files.Source(L".dotm"), "dotm template");
    const LateObject mine = test::WordStandIn::Start();
    FormWatch form(row.answer);
    const LateObject after = CreateAddInMonitor(mine);
    EXPECT_EQ(form.One(L"ownertitle"), kQuestion);

    const auto pids = word.Processes();
    ASSERT_EQ(pids.size(), row.restarted ? 2u : 1u);
    const auto calls = word.Calls(pids[0]);
    EXPECT_EQ(test::Contains(calls, L"Quit\tSaveChanges:=False"), row.restarted);
    EXPECT_EQ(Text(L"Software\\Zentrello", L"PermanentlyDisableAddin"), row.permanentlyDisabled);
    if (row.restarted) {
      EXPECT_TRUE(ValueNames(kDisabled).empty());
      EXPECT_FALSE(KeyExists(kStartup));
      EXPECT_EQ(LastCaption(calls), kQuestion) << "the old Word is gone: its caption is not restored";
      EXPECT_TRUE(test::Contains(word.Calls(pids[1]), L"Documents.Add\tVisible:=True"));
      EXPECT_TRUE(test::Contains(word.Calls(pids[1]), L"Run\tSetStartedFromIcon"));
      ASSERT_TRUE(after);
      EXPECT_EQ(ToLong(after.Object(L"Documents").Get(L"Count")), 1) << "the caller holds the new Word";
    } else {
      EXPECT_EQ(ValueNames(kDisabled), std::vector<std::wstring>{L"3F2A"});
      EXPECT_EQ(ValueNames(kStartup), std::vector<std::wstring>{L"9C1D"});
      EXPECT_EQ(LastCaption(calls), L"Microsoft Word") << "restored exactly";
      EXPECT_EQ(calls.back(), L"Visible=True");
      EXPECT_TRUE(after.SameAs(mine));
    }
  }
}

TEST_F(Monitor, APermanentChoiceHoldsUntilWordNoLongerListsTheAddIn) {
  struct Row {
    const wchar_t* flag;  // before
    bool listed;
    bool dialog;
    const wchar_t* flagAfter;
  };
  for (const Row& row : {Row{L"1", false, false, L"0"}, Row{L"1", true, false, L"1"}, Row{L"True", true, true, L"True"},
                         Row{nullptr, false, false, L"(none)"}}) {
    SCOPED_TRACE(std::wstring(row.flag ? row.flag : L"no flag") + (row.listed ? L", listed" : L""));
    test::PrivateUserHive hive;
    test::WordStandIn word;
    if (row.listed) Disabled();
    if (row.flag) SetText(L"Software\\Zentrello", L"PermanentlyDisableAddin", row.flag);
    const LateObject mine = test::WordStandIn::Start();
    FormWatch form(L"--timeout 2000 --keys escape");
    CreateAddInMonitor(mine);
    EXPECT_EQ(form.One(L"title") != L"(none)", row.dialog);
    EXPECT_EQ(Text(L"Software\\Zentrello", L"PermanentlyDisableAddin"), row.flagAfter);
    EXPECT_EQ(LastCaption(word.Calls()), row.dialog ? L"Microsoft Word" : L"(none)");
  }
}

TEST_F(Monitor, ARestartThatYieldsNoWordEndsWithoutALaunchOrAMessage) {
  test::PrivateUserHive hive;
  test::WordStandIn word;
  Disabled();
  const LateObject mine = test::WordStandIn::Start();
  word.Unregister();  // no new Word can be started
  FormWatch form(L"--keys return --then-none 3000");
  EXPECT_FALSE(CreateAddInMonitor(mine)) << "the caller's variable holds Nothing";
  EXPECT_EQ(form.One(L"another"), L"(none)");
  EXPECT_TRUE(test::Contains(word.Calls(), L"Quit\tSaveChanges:=False"));
  EXPECT_TRUE(ValueNames(kDisabled).empty()) << "re-enabled before the restart";
  EXPECT_FALSE(KeyExists(std::wstring(test::kAddins) + test::kAddin)) << "no launch";
}

TEST_F(Monitor, ALongProductNameWrapsInTheLabelsAtWordBoundaries) {
  test::PrivateUserHive hive;
  test::WordStandIn word;
  const wchar_t* name = L"Zentrello Professional Edition for Litigation Support Teams";
  Disabled(name);
  const LateObject mine = test::WordStandIn::Start();
  FormWatch form(L"--picture \"" + test::BinDir() + L"..\\artifacts\\ReenableForm-long-{dpi}.bmp\" --keys escape");
  CreateAddInMonitor(mine, name);
  const auto c = Controls(form);
  ASSERT_EQ(c.size(), 5u);
  const int dpi = std::stoi(form.One(L"dpi"));
  EXPECT_GT(c[2].rect[3], MulDiv(495, dpi, 1440)) << "the question label grew to hold its lines";
  EXPECT_GE(c[4].rect[1], c[2].rect[1] + c[2].rect[3]) << "the instructions start below the question";
  EXPECT_LE(c[4].rect[0] + c[4].rect[2], c[0].rect[0]) << "labels stay left of the buttons";
  const int height = std::stoi(test::Split(form.One(L"client"), L'x').at(1));
  EXPECT_LE(c[4].rect[1] + c[4].rect[3], height) << "nothing cut off at the bottom";

  // A name that cannot be a product name is reported and shows nothing.
  FormWatch none(L"--timeout 1000 --keys escape");
  CreateAddInMonitor(mine, L"");
  EXPECT_EQ(none.One(L"title"), L"(none)");
  expectedQuestions = 1;
  const auto question = reporter.Calls().back();
  EXPECT_EQ(question.at(0) + L"|" + question.at(1) + L"|" + question.at(2), L"vbwErrorHandler|5|\"\" cannot be a product name");
}

}  // namespace
}  // namespace tamberlux

namespace tamberlux {
namespace {

// Runs on the real user hive, with a product name and a Word version of its own.
TEST(EnableCommand, TakesTheAddInOffWordsListsAndClearsThePermanentChoice) {
  const std::wstring id = std::to_wstring(GetCurrentProcessId()), name = L"ZentrelloEnable" + id;
  const std::wstring section = L"Software\\" + name, office = L"Software\\Microsoft\\Office\\12." + id;
  const std::wstring lists = office + L"\\Word\\Resiliency\\";
  auto clean = [&] {
    RegDeleteTreeW(HKEY_CURRENT_USER, section.c_str());
    RegDeleteTreeW(HKEY_CURRENT_USER, office.c_str());
  };
  clean();
  SetText(section, L"WordVersion", L"12." + id);
  SetText(section, L"PermanentlyDisableAddin", L"1");
  const auto entry = test::WordEntry(L"c:\\valdomeren\\zentrelloenable" + id + L"\\addin.dll", name);
  test::AddEntry(lists + L"DisabledItems", L"A1", entry);
  test::AddEntry(lists + L"DisabledItems", L"B2", test::WordEntry(L"c:\\other\\helper.dll", L"Helper"));
  test::AddEntry(lists + L"DisabledItems", L"C3", entry);  // Word listed it twice
  test::AddEntry(lists + L"StartupItems", L"D4", entry);
  const std::wstring tool = L"\"" + test::BinDir() + L"tamberlux.exe\" enable " + name;
  DWORD code = 99;
  std::wstring out = test::RunAndCapture(tool + L" --json", &code, true);
  std::erase(out, L'\r');
  EXPECT_EQ(code, 0u) << std::string(out.begin(), out.end());
  EXPECT_EQ(ValueNames(lists + L"DisabledItems"), std::vector<std::wstring>{L"B2"});
  EXPECT_FALSE(KeyExists(lists + L"StartupItems"));
  EXPECT_EQ(Text(section, L"PermanentlyDisableAddin"), L"0");
  EXPECT_NE(out.find(L"\"removedEntries\": [\"A1\", \"C3\"],\n  \"startupItemsDeleted\": 1,\n  "
                     L"\"permanentlyDisableAddin\": {\"before\": \"1\", \"after\": \"0\"},\n  \"stillDisabled\": false"),
            std::wstring::npos)
      << std::string(out.begin(), out.end());

  out = test::RunAndCapture(tool, &code, true);  // again: nothing left to change
  EXPECT_EQ(code, 0u);
  EXPECT_NE(out.find(L"does not list the add-in as disabled"), std::wstring::npos);
  EXPECT_NE(out.find(L"PermanentlyDisableAddin: unchanged (0)"), std::wstring::npos);
  EXPECT_EQ((test::RunAndCapture(L"\"" + test::BinDir() + L"tamberlux.exe\" enable \"a:b\"", &code, true), code), 2u);
  clean();
}

}  // namespace
}  // namespace tamberlux
