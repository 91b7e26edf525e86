// What a hostile caller meets: texts that cannot be what they claim are refused through the error trap and nothing
// of the user's is touched; what the tamberlux command says; the error log; the repair that can be undone.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

#include "TestSupport.h"
#include "base/Text.h"
#include "errortrap/ErrorLog.h"
#include "registry/RegistryBackup.h"

namespace tamberlux {
namespace {

using test::KeyExists;
using namespace std::string_literals;

const std::wstring kOffice = WordKeys::OfficeKey(L"");  // the keys of kKept lie below it
// Every key a cut-short or empty version could name.
const std::wstring kKept[] = {L"12.0\\Word\\Data", L"Word\\Data", L"12.0\\Word\\Resiliency\\StartupItems",
                              L"12.0\\Word\\Resiliency\\DisabledItems", L"12.0\\Word"};

// `method` of `main2` called with one text, as a script calls it.
HRESULT Call(const ComPtr<IDispatch>& main2, const wchar_t* method, const std::wstring& text) {
  Variant arg = Variant::Of(text);
  return test::CallByName(main2.Get(), method, {arg});
}

// How often `part` occurs in `text`.
size_t Occurrences(const std::wstring& text, const std::wstring& part) {
  size_t n = 0;
  for (size_t at = text.find(part); at != std::wstring::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

class Hostile : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(test::Regsvr32(L"/s"), 0u);
    main2 = test::CreateMain2();
    ASSERT_TRUE(main2);
    for (const auto& key : kKept) test::SetText(kOffice + key, L"kept", L"1");
  }
  // The last question the trap asked: number, description, module.procedure.
  std::vector<std::wstring> LastQuestion() const {
    const auto calls = reporter.Calls();
    if (calls.empty() || calls.back()[0] != L"vbwErrorHandler") return {};
    const auto& q = calls.back();
    return {q[1], q[2], q[4] + L"." + q[5]};
  }
  // The keys of kKept that still hold their value.
  std::vector<std::wstring> OfficeValues() const {
    std::vector<std::wstring> kept;
    for (const auto& key : kKept)
      if (test::ReadRaw(kOffice + key, L"kept").exists) kept.push_back(key);
    return kept;
  }
  HRESULT Call(const wchar_t* method, const std::wstring& text) { return tamberlux::Call(main2, method, text); }

  test::StartedTrap trap;
  test::ReporterStandIn reporter;
  test::PrivateUserHive hive;
  ComPtr<IDispatch> main2;
};

TEST_F(Hostile, AVersionNotShapedLikeWordsIsRefusedAndDeletesNothing) {
  const auto all = OfficeValues();
  ASSERT_EQ(all.size(), 5u);
  for (const std::wstring& version :
       {L""s, L"\\"s, L"\\\\"s, L"12.0\\Word\\Resiliency\\StartupItems\0x"s, L"12.0\0"s, L"12"s, L"12.0.1"s, L"."s,
        L"12.0 "s, L"..\\12.0"s, L"\uff11\uff12.0"s, L"12\uff0e0"s, L"12.0\\Word\\Data\\.."s, L"12.0\\Word"s}) {
    SCOPED_TRACE(testing::Message() << "version of " << version.size() << " characters");
    ASSERT_EQ(Call(L"DeleteCorruptedDataFolder", version), S_OK) << "nothing escapes";
    EXPECT_EQ(LastQuestion(), (std::vector<std::wstring>{L"5", L"\"" + version + L"\" cannot be a Word version",
                                                         L"Main2.DeleteCorruptedDataFolder"}));
    EXPECT_EQ(OfficeValues(), all);
  }
  ASSERT_EQ(Call(L"DeleteCorruptedDataFolder", L"12.0"), S_OK);
  EXPECT_FALSE(KeyExists(WordKeys::DataKey(L"12.0")));
  EXPECT_EQ(OfficeValues().size(), 4u) << "only Word 12's Data key went";
  // A Data key with sub-keys is kept, and neither it nor a missing one is reported.
  const size_t asked = reporter.Calls().size();
  test::SetText(WordKeys::DataKey(L"14.0") + L"\\Sub", L"x", L"y");
  for (const wchar_t* version : {L"14.0", L"15.0"}) ASSERT_EQ(Call(L"DeleteCorruptedDataFolder", version), S_OK);
  EXPECT_TRUE(KeyExists(WordKeys::DataKey(L"14.0") + L"\\Sub"));
  EXPECT_EQ(reporter.Calls().size(), asked);
}

TEST_F(Hostile, ARecordedVersionThatIsNoVersionLeavesWordsListsAlone) {
  test::WordStandIn word;
  // A recorded version with an embedded NUL would cut the resiliency path short.
  const std::wstring recorded = L"12.0\\Word\\Resiliency\\StartupItems\0x"s;
  test::SetValue(WordKeys::ProductSection(L"Zentrello"), L"WordVersion", REG_SZ, recorded.c_str(),
                 static_cast<DWORD>((recorded.size() + 1) * sizeof(wchar_t)));
  test::AddEntry(WordKeys::ResiliencyKey(L"12.0") + L"DisabledItems", L"Z",
                 test::WordEntry(L"c:\\zentrello\\zentrello.dll", L"Zentrello"));
  ASSERT_EQ(Call(L"StartRunTime", L"Zentrello"), S_OK);
  const auto calls = reporter.Calls();
  EXPECT_TRUE(std::any_of(calls.begin(), calls.end(), [](const auto& c) {
    return c[0] == L"vbwErrorHandler" && c[1] == L"5" && c[5] == L"enableTamberlux";
  }));
  EXPECT_TRUE(KeyExists(WordKeys::ResiliencyKey(L"12.0") + L"StartupItems"));
  EXPECT_TRUE(test::ReadRaw(WordKeys::ResiliencyKey(L"12.0") + L"DisabledItems", L"Z").exists);
  EXPECT_EQ(word.Processes().size(), 1u) << "the launch itself goes on";
}

// The tamberlux command in its own process, on the real user hive: a product name and Word version of its own.
class TamberluxCommand : public ::testing::Test {
 protected:
  TamberluxCommand()
      : name(L"ZentrelloRel" + std::to_wstring(GetCurrentProcessId())),
        version(L"12." + std::to_wstring(GetCurrentProcessId())),
        lists(WordKeys::ResiliencyKey(version)),
        product(L"c:\\valdomeren\\" + LowerCase(name) + L"\\addin.dll") {
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    Clean();
  }
  ~TamberluxCommand() override {
    Clean();
    CoUninitialize();
  }
  void Clean() {
    RegDeleteTreeW(HKEY_CURRENT_USER, WordKeys::ProductSection(name).c_str());
    RegDeleteTreeW(HKEY_CURRENT_USER, WordKeys::OfficeKey(version).c_str());
  }
  // The tamberlux command run to its end: what it said; its exit code in `code`.
  std::wstring Run(const std::wstring& args) {
    const test::Ran r = test::Tamberlux(args);
    code = r.code;
    return r.Text();
  }
  // Control characters in the output other than line ends.
  static size_t RawControls(const std::wstring& text) {
    return std::count_if(text.begin(), text.end(), [](wchar_t c) { return c < 32 && c != L'\r' && c != L'\n'; });
  }
  std::wstring name, version, lists, product;
  DWORD code = 99;  // of the last Run
};

TEST_F(TamberluxCommand, HostileNamesAreAUsageErrorAndNoWordStarts) {
  test::WordStandIn word;
  ASSERT_EQ(test::Regsvr32(L"/s"), 0u);
  const std::pair<std::wstring, std::wstring> cases[] = {
      {L"Zen\uff3ctrello", L"it does not survive the ANSI code page unchanged"},
      {L"Zen:trello", L"it holds a separator"},
      {L"..", L"it is only blanks and full stops"},
      {L"\"Zen\x1btrello\"", L"it holds a NUL or a control character"}};
  for (const auto& [arg, why] : cases) {
    for (const wchar_t* command : {L"launch ", L"status ", L"repair ", L"enable "}) {
      const std::wstring output = Run(command + arg);
      EXPECT_EQ(code, 2u) << command << ToUtf8(arg);
      EXPECT_NE(output.find(L"cannot be a product name: " + why), std::wstring::npos) << ToUtf8(output);
      EXPECT_EQ(RawControls(output), 0u) << "the name is shown escaped";
    }
  }
  EXPECT_TRUE(word.Processes().empty());
}

TEST_F(TamberluxCommand, StatusEscapesWhatTheRegistryHoldsAndSaysWhenAListWasReadOnlyInPart) {
  const std::wstring section = WordKeys::ProductSection(name);
  test::SetText(section, L"WordVersion", version);
  const std::wstring glued = L"1\x1b[2J\0\nsecond line"s;
  test::SetValue(section, L"PermanentlyDisableAddin", REG_SZ, glued.c_str(),
                 static_cast<DWORD>((glued.size() + 1) * sizeof(wchar_t)));
  test::AddEntry(lists + L"DisabledItems", L"A\x07\x1b]0;x", test::WordEntry(L"c:\\evil\\x.dll", L"Evil\x1b[31m"));
  test::AddEntry(lists + L"DisabledItems", L"B2", std::vector<BYTE>(2048, 'z'));
  test::AddEntry(lists + L"DisabledItems", L"C3", test::WordEntry(product, name));
  for (const wchar_t* json : {L"", L" --json"}) {
    const std::wstring text = Run(L"status " + name + json);
    EXPECT_EQ(code, 0u);
    EXPECT_EQ(RawControls(text), 0u) << ToUtf8(text);
    if (*json) continue;
    EXPECT_NE(text.find(L"PermanentlyDisableAddin: 1\\x1b[2J\\x00\\x0asecond line"), std::wstring::npos) << ToUtf8(text);
    EXPECT_NE(text.find(L"A\\x07\\x1b]0;x  type 1  c:\\evil\\x.dll  \"Evil\\x1b[31m\""), std::wstring::npos);
    EXPECT_NE(text.find(L"(incomplete: the walk stopped after 1 of the key's 3 values"), std::wstring::npos);
  }
}

TEST_F(TamberluxCommand, StatusReadsTheOfficePoliciesOfBothHivesAndSaysWhetherTheAddInWillLoad) {
  const std::wstring policies = WordKeys::PolicyWordKey(version);
  const std::wstring addinKey = std::wstring(test::kAddins) + test::kAddin;
  const auto cleanPolicies = [&] {
    for (HKEY root : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE}) RegDeleteTreeW(root, policies.c_str());
  };
  struct Policy { HKEY root; const wchar_t *key, *value, *text; };
  const HKEY user = HKEY_CURRENT_USER, machine = HKEY_LOCAL_MACHINE;
  const wchar_t *list = L"\\Resiliency\\AddinList", *security = L"\\Security";
  const struct {
    const char* what;
    std::vector<Policy> set;
    const wchar_t* listed;  // the Word list that names the add-in, if any
    std::wstring verdict, reason;
    bool registered = true;
  } cases[] = {
      {"registered, nothing against it", {}, nullptr, L"will load",
       L"not on Word's disabled lists, no policy against it"},
      {"not registered", {}, nullptr, L"will not load", L"it is not registered with Word", false},
      {"user policy always disabled", {{user, list, test::kAddin, L"0"}}, nullptr, L"will not load",
       L"the add-in list policy always disables it (policy in HKEY_CURRENT_USER)"},
      {"machine always enabled wins over the user's always disabled",
       {{user, list, test::kAddin, L"0"}, {machine, list, test::kAddin, L"1"}}, L"DisabledItems", L"will load",
       L"the add-in list policy always enables it (policy in HKEY_LOCAL_MACHINE)"},
      {"all add-ins off", {{machine, security, L"DisableAllAddins", L"1"}}, nullptr, L"will not load",
       L"DisableAllAddins turns off every add-in (policy in HKEY_LOCAL_MACHINE)"},
      {"on Word's list", {}, L"DisabledItems", L"will not load",
       L"Word's resiliency lists name it: Word has disabled it"},
      {"on Word's list, but never to be disabled",
       {{user, L"\\Resiliency\\DoNotDisableAddinList", test::kAddin, L"1"}}, L"StartupItems", L"will load",
       L"DoNotDisableAddinList keeps it enabled (policy in HKEY_CURRENT_USER)"},
      {"signed add-ins only", {{user, security, L"RequireAddinSig", L"1"}}, nullptr, L"may or may not load",
       L"RequireAddinSig loads it only when signed by a trusted publisher (policy in HKEY_CURRENT_USER)"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Clean();
    cleanPolicies();
    RegDeleteTreeW(HKEY_CURRENT_USER, addinKey.c_str());
    test::SetText(WordKeys::ProductSection(name), L"WordVersion", version);
    if (c.registered) test::SetDword(addinKey, L"LoadBehavior", 3);
    for (const Policy& p : c.set)
      ASSERT_EQ(RegSetKeyValueW(p.root, (policies + p.key).c_str(), p.value, REG_SZ, p.text,
                                static_cast<DWORD>((wcslen(p.text) + 1) * sizeof(wchar_t))), 0);
    if (c.listed) test::AddEntry(lists + c.listed, L"D", test::WordEntry(product, name));
    const std::wstring text = Run(L"status " + name);
    ASSERT_EQ(code, 0u) << ToUtf8(text);
    const size_t at = text.rfind(L"At Word's next start the add-in " + c.verdict + L": ");
    ASSERT_NE(at, std::wstring::npos) << ToUtf8(text);
    EXPECT_NE(text.find(c.reason, at), std::wstring::npos) << ToUtf8(text.substr(at));
  }
  cleanPolicies();
  RegDeleteTreeW(HKEY_CURRENT_USER, addinKey.c_str());
}

TEST_F(TamberluxCommand, EnableTakesTheAddInOffWordsListsAndClearsThePermanentChoice) {
  const std::wstring section = WordKeys::ProductSection(name);
  test::SetText(section, WordKeys::kWordVersion, version);
  test::SetText(section, WordKeys::kPermanentlyDisableAddin, L"1");
  test::AddEntry(lists + L"DisabledItems", L"A1", test::WordEntry(product, name));
  test::AddEntry(lists + L"DisabledItems", L"B2", test::WordEntry(L"c:\\other\\helper.dll", L"Helper"));
  test::AddEntry(lists + L"DisabledItems", L"C3", test::WordEntry(product, name));  // Word listed it twice
  test::AddEntry(lists + L"StartupItems", L"D4", test::WordEntry(product, name));

  std::wstring out = Run(L"enable " + name + L" --json");
  std::erase(out, L'\r');
  EXPECT_EQ(code, 0u);
  EXPECT_EQ(test::ValueNames(lists + L"DisabledItems"), std::vector<std::wstring>{L"B2"});
  EXPECT_FALSE(KeyExists(lists + L"StartupItems"));
  EXPECT_EQ(test::ReadText(section, WordKeys::kPermanentlyDisableAddin), L"0");
  EXPECT_NE(out.find(L"\"removedEntries\": [\"A1\", \"C3\"],\n  \"startupItemsDeleted\": 1,\n  "
                     L"\"permanentlyDisableAddin\": {\"before\": \"1\", \"after\": \"0\"},\n  \"stillDisabled\": false"),
            std::wstring::npos)
      << ToUtf8(out);
  out = Run(L"enable " + name);
  EXPECT_EQ(code, 0u) << "nothing left to change";
  EXPECT_NE(out.find(L"does not list the add-in as disabled"), std::wstring::npos);
  EXPECT_NE(out.find(L"PermanentlyDisableAddin: unchanged (0)"), std::wstring::npos);
}

// The error log: written by the trap when the reporter cannot be had, read with `tamberlux log`. On the real user
// hive, where the command finds the same folder: every version here is refused, so nothing of the user's is touched.
class ErrorLogFile : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(test::Regsvr32(L"/s"), 0u);
    path = vbw::ErrorLog::Path();
    ASSERT_FALSE(path.empty());
    TearDown();
    // Other tests leave the stand-in reporter registered: here there is none.
    reporter.Unregister();
    main2 = test::CreateMain2();
    ASSERT_TRUE(main2);
  }
  void TearDown() override {
    DeleteFileW(path.c_str());
    DeleteFileW((path + L".1").c_str());
  }
  HRESULT Delete(const std::wstring& version) { return Call(main2, L"DeleteCorruptedDataFolder", version); }
  std::wstring Logged() {
    const test::Ran r = test::Tamberlux(L"log");
    EXPECT_EQ(r.code, 0u);
    return r.Text();
  }
  static size_t Reports(const std::wstring& log) { return Occurrences(log, L"\r\n  not reported: "); }
  test::StartedTrap trap;
  test::ReporterStandIn reporter;
  std::wstring path;
  ComPtr<IDispatch> main2;
};

TEST_F(ErrorLogFile, WithoutItsReporterTheTrapWritesALineThatTheCommandShows) {
  ASSERT_EQ(Delete(L"12.0\\..\x01"), S_OK) << "the caller never fails";
  std::wstring log = Logged();
  ASSERT_EQ(Reports(log), 1u) << ToUtf8(log);
  const size_t at = log.find(L"  process " + std::to_wstring(GetCurrentProcessId()) +
                             L"  Tamberlux.Main2.DeleteCorruptedDataFolder, line 50100\r\n"
                             L"  error 5: \"12.0\\..\\x01\" cannot be a Word version\r\n  not reported: ");
  ASSERT_NE(at, std::wstring::npos) << ToUtf8(log);
  EXPECT_NE(log.find(L"(429)", at), std::wstring::npos) << "the reporter could not be created";
  EXPECT_NE(log.find(L"  call stack: Main2.DeleteCorruptedDataFolder\r\n  parameters: version = 12.0\\..\\x01\r\n", at),
            std::wstring::npos);

  // A reporter that fails its question: logged as well.
  test::ReporterStandIn registered;
  reporter.Fail(L"vbwErrorHandler", 1);
  ASSERT_EQ(Delete(L"x"), S_OK);
  log = Logged();
  ASSERT_EQ(Reports(log), 2u);
  EXPECT_NE(log.find(L"error 5: \"x\" cannot be a Word version"), std::wstring::npos);
  EXPECT_EQ(reporter.Count(L"vbwErrorHandler"), 1);
  // The reporter back: nothing more is logged.
  ASSERT_EQ(Delete(L"y"), S_OK);
  EXPECT_EQ(Reports(Logged()), 2u);
}

TEST_F(ErrorLogFile, TheLogIsRotatedAtItsBoundAndAnUnwritableLogFailsNobody) {
  const std::string old(vbw::ErrorLog::kMaxBytes - 10, 'o');
  test::WriteWholeFile(path, old);
  ASSERT_EQ(Delete(L"a"), S_OK);
  EXPECT_TRUE(test::ReadWholeFile(path + L".1") == old) << "the full log became the previous one";
  EXPECT_EQ(Reports(Logged()), 1u) << "the new log holds the one report";
  ASSERT_EQ(Delete(L"b"), S_OK);
  ASSERT_EQ(Reports(Logged()), 2u);

  DeleteFileW(path.c_str());
  ASSERT_TRUE(CreateDirectoryW(path.c_str(), nullptr));
  EXPECT_EQ(Delete(L"c"), S_OK);
  RemoveDirectoryW(path.c_str());
}

// The repair that can be undone: Word's Data key saved before it goes, the repair command, a backup's restore.
class Repair : public TamberluxCommand {
 protected:
  void SetUp() override {
    ASSERT_EQ(test::Regsvr32(L"/s"), 0u);
    TearDown();
    data = WordKeys::DataKey(version);
  }
  void TearDown() override {
    for (const auto& f : RegistryBackup::Backups()) DeleteFileW(f.c_str());
    for (const wchar_t* progId : {test::kMonitor, test::kAddin})
      RegDeleteTreeW(HKEY_CURRENT_USER, (std::wstring(test::kAddins) + progId).c_str());
  }
  std::wstring data;
};

std::vector<BYTE> Bytes(const std::wstring& t) {
  const auto* b = reinterpret_cast<const BYTE*>(t.data());
  return {b, b + t.size() * sizeof(wchar_t)};
}

TEST_F(Repair, WordsDataKeyIsBackedUpExactlyBeforeItGoesAndRestorePutsItBack) {
  std::vector<BYTE> all(256);
  for (int i = 0; i < 256; ++i) all[i] = static_cast<BYTE>(i);
  const struct {
    std::wstring name;
    DWORD type;
    std::vector<BYTE> bytes;
  } values[] = {
      {L"", REG_SZ, Bytes(L"default"s + L'\0')},    {L"Plain", REG_SZ, Bytes(L"C:\\path \"quoted\"\0"s)},
      {L"NoTerminator", REG_SZ, Bytes(L"ab")},       {L"InnerNul", REG_SZ, Bytes(L"a\0b\0"s)},
      {L"Lines", REG_SZ, Bytes(L"one\r\ntwo\0"s)},   {L"Empty", REG_SZ, {}},
      {L"OddLength", REG_SZ, {'a', 0, 'b'}},         {L"Dword", REG_DWORD, {1, 2, 3, 0xFF}},
      {L"ShortDword", REG_DWORD, {7, 0}},            {L"Binary", REG_BINARY, all},
      {L"Big", REG_BINARY, std::vector<BYTE>(65536, 0xA5)}, {L"Multi", REG_MULTI_SZ, Bytes(L"a\0bc\0\0"s)},
      {L"Expand", REG_EXPAND_SZ, Bytes(L"%TEMP%\\x\0"s)}, {L"Qword", REG_QWORD, {1, 2, 3, 4, 5, 6, 7, 8}},
      {L"OddType", 0x4321, {9, 8, 7}},               {L"Name \"with\" \\ and = [x]", REG_SZ, Bytes(L"v\0"s)},
  };
  // What the registry holds is compared, not what was handed to it: the
  // platform may add a terminator to text data.
  std::vector<test::RawValue> stored;
  for (const auto& v : values) {
    test::SetValue(data, v.name, v.type, v.bytes.data(), static_cast<DWORD>(v.bytes.size()));
    stored.push_back(test::ReadRaw(data, v.name));
  }
  test::StartedTrap trap;
  const ComPtr<IDispatch> main2 = test::CreateMain2();
  ASSERT_TRUE(main2);
  ASSERT_EQ(Call(main2, L"DeleteCorruptedDataFolder", version), S_OK);
  EXPECT_FALSE(KeyExists(data));
  const auto backups = RegistryBackup::Backups();
  ASSERT_EQ(backups.size(), 1u);

  const std::wstring restored = Run(L"restore \"" + backups[0] + L"\"");
  EXPECT_EQ(code, 0u);
  EXPECT_EQ(Occurrences(restored, L"\n  "), std::size(values) + 1) << "the key and each value";
  for (size_t i = 0; i < std::size(values); ++i) {
    const auto back = test::ReadRaw(data, values[i].name);
    EXPECT_TRUE(back.exists && back.type == stored[i].type && back.data == stored[i].data)
        << ToUtf8(values[i].name) << " type " << back.type << " size " << back.data.size();
  }
  EXPECT_EQ(test::ValueNames(data).size(), std::size(values));

  // Only the newest five backups are kept.
  for (int i = 0; i < 6; ++i) {
    test::SetText(data, L"round", std::to_wstring(i));
    ASSERT_EQ(Call(main2, L"DeleteCorruptedDataFolder", version), S_OK);
  }
  const auto kept = RegistryBackup::Backups();
  EXPECT_EQ(kept.size(), 5u);
  ASSERT_EQ(Run(L"restore \"" + kept.back() + L"\"").find(L"Restored "), 0u);
  EXPECT_EQ(test::ReadRaw(data, L"round").data, Bytes(L"5\0"s)) << "the newest is the last one saved";
}

TEST_F(Repair, RepairPutsTheAddInBackAndSaysWhatItChanged) {
  const std::wstring section = WordKeys::ProductSection(name);
  test::SetText(section, L"WordVersion", version);
  test::SetText(section, L"PermanentlyDisableAddin", L"1");
  test::SetDword(std::wstring(test::kAddins) + test::kAddin, L"LoadBehavior", 2);
  test::AddEntry(lists + L"DisabledItems", L"A1", test::WordEntry(L"c:\\other\\helper.dll", L"Helper"));
  test::AddEntry(lists + L"DisabledItems", L"B2", test::WordEntry(product, name));
  test::SetText(lists + L"StartupItems", L"S", L"x");
  test::SetText(data, L"Settings", L"corrupt");

  const std::wstring output = Run(L"repair " + name + L" --data");
  ASSERT_EQ(code, 0u) << ToUtf8(output);
  ASSERT_EQ(RegistryBackup::Backups().size(), 1u);
  EXPECT_EQ(output, L"Repair of " + name + L":\r\n"
                    L"  COM add-in AddinMonitor.ZentrelloMonitor: LoadBehavior none -> 3\r\n"
                    L"  COM add-in Kestrivane.ZentrelloAddinForWord: LoadBehavior 2 -> 3\r\n"
                    L"  removed the DisabledItems value B2\r\n  deleted the StartupItems key (1 values)\r\n"
                    L"  PermanentlyDisableAddin \"1\" -> \"0\"\r\n"
                    L"  backed up Word's Data key to " + RegistryBackup::Backups()[0] + L"\r\n"
                    L"  deleted Word's Data key\r\n");
  EXPECT_EQ(test::ValueNames(lists + L"DisabledItems"), std::vector<std::wstring>{L"A1"});
  EXPECT_FALSE(KeyExists(lists + L"StartupItems"));
  EXPECT_FALSE(KeyExists(data));

  EXPECT_EQ(Run(L"repair " + name), L"Repair of " + name + L":\r\n  nothing needed repair\r\n");
  test::SetText(section, L"WordVersion", L"12.0\\..");
  EXPECT_NE(Run(L"repair " + name + L" --data").find(L"is not a Word version: Word's lists and Data key were not touched"),
            std::wstring::npos);
}

TEST_F(Repair, ARestoreOfAFileThatIsNoBackupWritesNothing) {
  const std::wstring file = test::BinDir() + L"not-a-backup-" + std::to_wstring(GetCurrentProcessId()) + L".reg";
  std::vector<test::HostileBackup> cases = test::HostileBackups(version, name);
  cases.push_back({"", L"there is no file " + file, data});  // no file at all
  // Generated garbage, UTF-16 and ANSI (now and then a NUL), every other one after a valid start.
  const std::wstring chars = L"[]\\\"=@;,:hex(0)7fdword\r\n\r\n \x00e9\xd800"s + L'\0',
                     start = L"Windows Registry Editor Version 5.00\r\n[HKEY_CURRENT_USER\\" + data + L"]\r\n";
  for (unsigned seed = 1; seed <= 6; ++seed) {
    std::wstring text = seed % 2 ? start : L"";
    for (unsigned i = 0; i < seed * 331 % 4000 + 100; ++i)
      text += chars[((i * 2654435761u + seed * 40503u) >> 7) % chars.size()];
    cases.push_back({seed % 3 ? test::Utf16File(text) : std::string(text.begin(), text.end()), L"", data});
  }
  for (const auto& c : cases) {
    if (c.bytes.empty()) DeleteFileW(file.c_str());
    else test::WriteWholeFile(file, c.bytes);
    const std::wstring output = Run(L"restore \"" + file + L"\"");
    EXPECT_EQ(code, 2u) << ToUtf8(c.why);
    EXPECT_EQ(output.find(L"tamberlux: nothing restored: "), 0u) << ToUtf8(output);
    EXPECT_NE(output.find(c.why), std::wstring::npos) << ToUtf8(output);
    // Checked whole before anything is written: the key (or value) the file names stays absent.
    EXPECT_FALSE(c.value.empty() ? KeyExists(c.key) : test::ReadRaw(c.key, c.value).exists) << ToUtf8(c.why);
    EXPECT_FALSE(KeyExists(data)) << ToUtf8(c.why);
  }
  // Word's Data key and the product's own settings, in any case, are a backup.
  const std::wstring both = start + L"\"a\"=\"1\"\r\n[hkey_current_user\\SOFTWARE\\" + name + L"]\r\n" +
                           L"\"wordversion\"=\"" + version + L"\"\r\n";
  test::WriteWholeFile(file, test::Utf16File(both));
  Run(L"restore \"" + file + L"\"");
  EXPECT_EQ(code, 0u);
  EXPECT_EQ(test::ReadText(data, L"a"), L"1");
  EXPECT_EQ(test::ReadText(WordKeys::ProductSection(name), L"WordVersion"), version);
  DeleteFileW(file.c_str());
}

}  // namespace
}  // namespace tamberlux
