// The tamberlux command as a person at a console meets it. It runs in its
// own process on the real user hive, so each test uses a product name and a
// Word version of its own, and every key it touches is put back afterwards.
#include <gtest/gtest.h>

#include <algorithm>
#include <regex>

#include "TestSupport.h"
#include "base/VbError.h"
#include "registry/RegistryBackup.h"

namespace tamberlux::CommandTests {
namespace {

using namespace test;
using namespace std::string_literals;

class Command : public ::testing::Test {
 protected:
  Command() { CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED); }
  ~Command() override { CoUninitialize(); }
  std::wstring Run(const std::wstring& args) {
    const Ran r = Tamberlux(args);
    code = r.code;
    return r.Text();
  }

  const std::wstring name = L"ZentrelloCmd" + std::to_wstring(GetCurrentProcessId());
  const std::wstring version = L"12." + std::to_wstring(GetCurrentProcessId());
  const std::wstring office = L"Software\\Microsoft\\Office\\" + version, section = L"Software\\" + name;
  const std::wstring resiliency = office + L"\\Word\\Resiliency\\";
  const std::wstring product = L"c:\\valdomeren\\" + LowerCase(name) + L"\\addin.dll";
  KeptUserKey kept{section}, officeKept{office},
      monitor{kAddins + std::wstring(kMonitor)}, addin{kAddins + std::wstring(kAddin)};
  ProductTemplate files{name};
  DWORD code = 99;  // of the last Run
};

TEST_F(Command, StatusShowsWhatDecidesWhetherTheAddInLoadsEscapedAndChangesNothing) {
  RegDeleteTreeW(HKEY_CURRENT_USER, (kAddins + std::wstring(kAddin)).c_str());
  SetText(section, L"WordVersion", version);
  SetText(section, L"FailedWord2000Check", L"1");
  const std::wstring glued = L"1\x1b[2J\0\nsecond line"s;
  SetValue(section, L"PermanentlyDisableAddin", REG_SZ, glued.c_str(),
           static_cast<DWORD>((glued.size() + 1) * sizeof(wchar_t)));
  SetDword(kAddins + std::wstring(kMonitor), L"LoadBehavior", 3);
  SetText(kAddins + std::wstring(kMonitor), L"friendlyName", L"ZentrelloMonitor");
  const std::wstring dll = L"c:/program files/valdomeren/" + LowerCase(name) + L"/addin.dll";  // as Word writes it
  AddEntry(resiliency + L"DisabledItems", L"A\x07\x1b]0;x", WordEntry(L"c:\\evil\\x.dll", L"Evil\x1b[31m"));
  AddEntry(resiliency + L"DisabledItems", L"A1", WordEntry(dll, name));
  AddEntry(resiliency + L"DisabledItems", L"B2", WordEntry(L"c:/other/helper.dll", L"Helper", 2));
  const BYTE junk[] = {1, 2};
  SetValue(resiliency + L"DisabledItems", L"C3", REG_BINARY, junk, sizeof(junk));
  AddEntry(resiliency + L"StartupItems", L"D4", WordEntry(dll, name));
  AddEntry(resiliency + L"StartupItems", L"E5", std::vector<BYTE>(2048, 'z'));  // the walk stops here
  AddEntry(resiliency + L"StartupItems", L"F6", WordEntry(product, name));
  WriteWholeFile(files.Source(L".dot"), "dot");
  WriteWholeFile(files.Copy(L".dotm"), "old copy");
  ProductTemplate::SetTime(files.Copy(L".dotm"), FILETIME{1, 1});

  const std::wstring json = Run(L"status " + name + L" --json");
  EXPECT_EQ(code, 0u);
  EXPECT_EQ(RawControls(json), 0u) << ToUtf8(json);
  const std::wstring entryA1 = L"{\"value\": \"A1\", \"type\": 1, \"path\": \"" + dll + L"\", \"friendlyName\": \"" +
                               name + L"\", \"product\": true}";
  const std::wstring expected[] = {
      L"\"product\": \"" + name + L"\"",
      L"\"wordVersion\": \"" + version + L"\"",
      L"\"comAddins\": [{\"progId\": \"" + std::wstring(kMonitor) +
          L"\", \"friendlyName\": \"ZentrelloMonitor\", \"loadBehavior\": 3}, {\"progId\": \"" + kAddin +
          L"\", \"friendlyName\": null, \"loadBehavior\": null}]",
      L"\"disabledItems\": [{\"value\": \"A\\u0007\\u001b]0;x\", \"type\": 1, \"path\": \"c:\\\\evil\\\\x.dll\", "
          L"\"friendlyName\": \"Evil\\u001b[31m\", \"product\": false}, " + entryA1 +
          L", {\"value\": \"B2\", \"type\": 2, \"path\": \"c:/other/helper.dll\", \"friendlyName\": \"Helper\", "
          L"\"product\": false}, {\"value\": \"C3\", \"type\": null, \"path\": null, \"friendlyName\": null, "
          L"\"product\": false}]",
      L"\"startupItems\": [{\"value\": \"D4\"" + entryA1.substr(14) + L"],\r\n  \"startupItemsValues\": 3",
      L"\"permanentlyDisableAddin\": \"1\\u001b[2J\\u0000\\nsecond line\",\r\n  \"failedWord2000Check\": \"1\"",
  };
  for (const std::wstring& part : expected) EXPECT_NE(json.find(part), std::wstring::npos) << ToUtf8(part);
  // Word 12 uses the ".dotm" copy; the ".dot" one is missing, with its source there.
  const std::wstring copy = L"\\{\"file\": \"" + name + L"\\.dot(m?)\", [^}]*\"sourceExists\": (\\w+), [^}]*";
  std::wsmatch dot, dotm;
  ASSERT_TRUE(std::regex_search(json, dot, std::wregex(copy + L"\"state\": \"missing\", \"used\": false\\}")));
  ASSERT_TRUE(std::regex_search(json, dotm, std::wregex(copy + L"\"state\": \"different time\", \"used\": true\\}")));
  EXPECT_EQ(dot[1].str() + L"|" + dot[2].str() + L"|" + dotm[1].str() + L"|" + dotm[2].str(), L"|true|m|false");

  EXPECT_EQ(ValueNames(resiliency + L"DisabledItems").size(), 4u) << "nothing changed by looking";
  EXPECT_EQ(ReadWholeFile(files.Copy(L".dotm")), "old copy");
  const std::wstring text = Run(L"status " + name);
  EXPECT_EQ(code, 0u);
  EXPECT_EQ(RawControls(text), 0u) << ToUtf8(text);
  for (const std::wstring& line : {L"A1  type 1  " + dll + L"  \"" + name + L"\"  <- the add-in",
                                   L"PermanentlyDisableAddin: 1\\x1b[2J\\x00\\x0asecond line"s,
                                   L"A\\x07\\x1b]0;x  type 1  c:\\evil\\x.dll  \"Evil\\x1b[31m\""s,
                                   L"(incomplete: the walk stopped after 1 of the key's 3 values"s})
    EXPECT_NE(text.find(line), std::wstring::npos) << ToUtf8(line) << "\n" << ToUtf8(text);
}

TEST_F(Command, StatusOfAProductNeverLaunchedOrWithACorruptVersionSaysSo) {
  const std::wstring never = Run(L"status " + name + L" --json");
  EXPECT_EQ(code, 0u);
  for (const wchar_t* part :
       {L"\"wordVersion\": null", L"\"disabledItems\": []", L"\"state\": \"missing\", \"used\": true}"})
    EXPECT_NE(never.find(part), std::wstring::npos) << ToUtf8(part);
  SetText(section, L"WordVersion", L"twelve");
  const std::wstring corrupt = Run(L"status " + name + L" --json");
  EXPECT_EQ(code, 0u);
  EXPECT_NE(corrupt.find(L"\"wordVersion\": \"twelve\""), std::wstring::npos);
  EXPECT_EQ(corrupt.find(L"\"used\": true"), std::wstring::npos) << "no version text: neither copy is the one used";
}

TEST_F(Command, LaunchGivesAMessageAndExitCodeForEachFailureAndAnswersWithWordsStateOnceItRuns) {
  WordStandIn word;
  EXPECT_NE(Run(L"launch").find(L"usage: tamberlux launch NAME"), std::wstring::npos);
  EXPECT_EQ(code, 2u);
  ASSERT_EQ(Regsvr32(L"/u /s"), 0u);
  EXPECT_EQ(Run(L"launch " + name),
            L"tamberlux: Tamberlux.Main2 is not registered: run regsvr32 on Tamberlux.dll first\r\n");
  EXPECT_EQ(code, 3u);
  ASSERT_EQ(Regsvr32(L"/s"), 0u);
  // Hostile names are a usage error of every command.
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

  word.Unregister();
  DialogWatch watch;
  EXPECT_EQ(Run(L"launch " + name), L"tamberlux: the launch did not reach Word\r\n");
  EXPECT_EQ(code, 4u);
  EXPECT_EQ(watch.Result().title, name + L" could not start Word. Is it corrupted?");

  word.Register();
  EXPECT_EQ(Run(L"launch " + name), L"Word 12.0 is running with 1 document open; " + name + L" launched.\r\n");
  EXPECT_EQ(code, 0u);
  EXPECT_EQ(Run(L"launch " + name + L" --no-macro"),
            L"Word 12.0 is running with 2 documents open; " + name + L" launched.\r\n");
  EXPECT_EQ(code, 0u);
  const auto calls = word.Calls();
  EXPECT_EQ(std::count(calls.begin(), calls.end(), L"Run\tSetStartedFromIcon"), 1) << "--no-macro skips it";
  EXPECT_EQ(word.Processes().size(), 1u) << "the second launch attaches to the running Word";
}

TEST_F(Command, StatusReadsTheOfficePoliciesOfBothHivesAndSaysWhetherTheAddInWillLoad) {
  const std::wstring policies = L"Software\\Policies\\Microsoft\\Office\\" + version + L"\\Word";
  const std::wstring addinKey = std::wstring(kAddins) + kAddin;
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
      {"user policy always disabled", {{user, list, kAddin, L"0"}}, nullptr, L"will not load",
       L"the add-in list policy always disables it (policy in HKEY_CURRENT_USER)"},
      {"machine always enabled wins over the user's always disabled",
       {{user, list, kAddin, L"0"}, {machine, list, kAddin, L"1"}}, L"DisabledItems", L"will load",
       L"the add-in list policy always enables it (policy in HKEY_LOCAL_MACHINE)"},
      {"all add-ins off", {{machine, security, L"DisableAllAddins", L"1"}}, nullptr, L"will not load",
       L"DisableAllAddins turns off every add-in (policy in HKEY_LOCAL_MACHINE)"},
      {"on Word's list", {}, L"DisabledItems", L"will not load",
       L"Word's resiliency lists name it: Word has disabled it"},
      {"on Word's list, but never to be disabled",
       {{user, L"\\Resiliency\\DoNotDisableAddinList", kAddin, L"1"}}, L"StartupItems", L"will load",
       L"DoNotDisableAddinList keeps it enabled (policy in HKEY_CURRENT_USER)"},
      {"signed add-ins only", {{user, security, L"RequireAddinSig", L"1"}}, nullptr, L"may or may not load",
       L"RequireAddinSig loads it only when signed by a trusted publisher (policy in HKEY_CURRENT_USER)"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    RegDeleteTreeW(HKEY_CURRENT_USER, office.c_str());
    cleanPolicies();
    RegDeleteTreeW(HKEY_CURRENT_USER, addinKey.c_str());
    SetText(section, L"WordVersion", version);
    if (c.registered) SetDword(addinKey, L"LoadBehavior", 3);
    for (const Policy& p : c.set)
      ASSERT_EQ(RegSetKeyValueW(p.root, (policies + p.key).c_str(), p.value, REG_SZ, p.text,
                                static_cast<DWORD>((wcslen(p.text) + 1) * sizeof(wchar_t))), 0);
    if (c.listed) AddEntry(resiliency + c.listed, L"D", WordEntry(product, name));
    const std::wstring text = Run(L"status " + name);
    ASSERT_EQ(code, 0u) << ToUtf8(text);
    const size_t at = text.rfind(L"At Word's next start the add-in " + c.verdict + L": ");
    ASSERT_NE(at, std::wstring::npos) << ToUtf8(text);
    EXPECT_NE(text.find(c.reason, at), std::wstring::npos) << ToUtf8(text.substr(at));
  }
  cleanPolicies();
}

TEST_F(Command, EnableTakesTheAddInOffWordsListsAndClearsThePermanentChoice) {
  SetText(section, L"WordVersion", version);
  SetText(section, L"PermanentlyDisableAddin", L"1");
  AddEntry(resiliency + L"DisabledItems", L"A1", WordEntry(product, name));
  AddEntry(resiliency + L"DisabledItems", L"B2", WordEntry(L"c:\\other\\helper.dll", L"Helper"));
  AddEntry(resiliency + L"DisabledItems", L"C3", WordEntry(product, name));  // Word listed it twice
  AddEntry(resiliency + L"StartupItems", L"D4", WordEntry(product, name));

  std::wstring out = Run(L"enable " + name + L" --json");
  std::erase(out, L'\r');
  EXPECT_EQ(code, 0u);
  EXPECT_EQ(ValueNames(resiliency + L"DisabledItems"), std::vector<std::wstring>{L"B2"});
  EXPECT_FALSE(KeyExists(resiliency + L"StartupItems"));
  EXPECT_EQ(ReadText(section, L"PermanentlyDisableAddin"), L"0");
  EXPECT_NE(out.find(L"\"removedEntries\": [\"A1\", \"C3\"],\n  \"startupItemsDeleted\": 1,\n  "
                     L"\"permanentlyDisableAddin\": {\"before\": \"1\", \"after\": \"0\"},\n  \"stillDisabled\": false"),
            std::wstring::npos)
      << ToUtf8(out);
  out = Run(L"enable " + name);
  EXPECT_EQ(code, 0u) << "nothing left to change";
  EXPECT_NE(out.find(L"does not list the add-in as disabled"), std::wstring::npos);
  EXPECT_NE(out.find(L"PermanentlyDisableAddin: unchanged (0)"), std::wstring::npos);
}

// The repair that can be undone: Word's Data key saved before it goes, the repair command, a backup's restore.
class Repair : public Command {
 protected:
  void SetUp() override {
    ASSERT_EQ(RegisterComponent(), S_OK);
    TearDown();
    for (const wchar_t* progId : {kMonitor, kAddin})
      RegDeleteTreeW(HKEY_CURRENT_USER, (std::wstring(kAddins) + progId).c_str());
  }
  void TearDown() override {
    for (const auto& f : RegistryBackup::Backups()) DeleteFileW(f.c_str());
  }
  const std::wstring data = L"Software\\Microsoft\\Office\\" + version + L"\\Word\\Data";
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
      // Names a "..." text cannot hold as they are, and text that looks like a continued hex line.
      {L"line\r\nbreak", REG_SZ, Bytes(L"one\0"s)},   {L"tab\tand\\r\\0", REG_DWORD, {5, 0, 0, 0}},
      {L"\n", REG_BINARY, {1}},                      {L"ends=hex\\", REG_SZ, Bytes(L"x=hex:01,\\\0"s)},
      {L"=hex(7):00,\\", REG_SZ, Bytes(L"\"\0"s)},
  };
  // What the registry holds is compared, not what was handed to it: the
  // platform may add a terminator to text data.
  std::vector<RawValue> stored;
  for (const auto& v : values) {
    SetValue(data, v.name, v.type, v.bytes.data(), static_cast<DWORD>(v.bytes.size()));
    stored.push_back(ReadRaw(data, v.name));
  }
  StartedTrap trap;
  const ComPtr<IDispatch> main2 = CreateMain2();
  ASSERT_TRUE(main2);
  const auto deleteData = [&] {
    Variant arg = Variant::Of(version);
    return CallByName(main2.Get(), L"DeleteCorruptedDataFolder", {arg});
  };
  ASSERT_EQ(deleteData(), S_OK);
  EXPECT_FALSE(KeyExists(data));
  const auto backups = RegistryBackup::Backups();
  ASSERT_EQ(backups.size(), 1u);

  const std::wstring restored = Run(L"restore \"" + backups[0] + L"\"");
  EXPECT_EQ(code, 0u);
  EXPECT_EQ(std::count(restored.begin(), restored.end(), L'\n'), std::ssize(values) + 2)
      << "a heading, then a line for the key and each value";
  for (size_t i = 0; i < std::size(values); ++i) {
    const auto back = ReadRaw(data, values[i].name);
    EXPECT_TRUE(back.exists && back.type == stored[i].type && back.data == stored[i].data)
        << ToUtf8(values[i].name) << " type " << back.type << " size " << back.data.size();
  }
  EXPECT_EQ(ValueNames(data).size(), std::size(values));

  // Only the newest five backups are kept.
  for (int i = 0; i < 6; ++i) {
    SetText(data, L"round", std::to_wstring(i));
    ASSERT_EQ(deleteData(), S_OK);
  }
  const auto kept = RegistryBackup::Backups();
  EXPECT_EQ(kept.size(), 5u);
  ASSERT_EQ(Run(L"restore \"" + kept.back() + L"\"").find(L"Restored "), 0u);
  EXPECT_EQ(ReadRaw(data, L"round").data, Bytes(L"5\0"s)) << "the newest is the last one saved";
}

TEST_F(Repair, ADataKeyOfAnyDepthIsBackedUpWholeAndABackupIsComparedWithTheKey) {
  // 120 levels, each with a value naming its depth.
  std::wstring key = data;
  for (int i = 0; i < 120; ++i, key += L"\\level") SetText(key, L"depth", std::to_wstring(i));
  SetText(section, L"WordVersion", version);
  const std::wstring output = Run(L"repair " + name + L" --data");
  EXPECT_EQ(code, 0u) << ToUtf8(output);
  EXPECT_NE(output.find(L"  (Word's Data key has sub-keys: Windows keeps such a key)\r\n"), std::wstring::npos)
      << ToUtf8(output);
  StartedTrap trap;
  Variant arg = Variant::Of(version);
  EXPECT_EQ(CallByName(CreateMain2().Get(), L"DeleteCorruptedDataFolder", {arg}), S_OK);
  const auto backups = RegistryBackup::Backups();
  ASSERT_EQ(backups.size(), 2u);
  EXPECT_EQ(ReadWholeFile(backups[0]), ReadWholeFile(backups[1])) << "the command and the method save the same key";

  // A backup is compared with the key as it is now: one value more and it no longer matches.
  SetText(key, L"late", L"x");
  try {
    RegistryBackup::Verify(backups[1], data);
    ADD_FAILURE() << "a backup without the value written after it matched the key";
  } catch (const vb::Error& e) {
    EXPECT_EQ(e.description, L"the backup of " + data + L" does not read back as the key: it does not hold what the key "
                             L"holds now");
  }
  RegDeleteTreeW(HKEY_CURRENT_USER, data.c_str());
  const std::wstring restored = Run(L"restore \"" + backups[1] + L"\"");
  EXPECT_EQ(code, 0u) << ToUtf8(restored);
  key = data;
  for (int i = 0; i < 120; ++i, key += L"\\level") ASSERT_EQ(ReadText(key, L"depth"), std::to_wstring(i)) << i;
  EXPECT_FALSE(KeyExists(key));
}

TEST_F(Repair, RepairPutsTheAddInBackAndSaysWhatItChanged) {
  SetText(section, L"WordVersion", version);
  SetText(section, L"PermanentlyDisableAddin", L"1");
  SetDword(std::wstring(kAddins) + kAddin, L"LoadBehavior", 2);
  AddEntry(resiliency + L"DisabledItems", L"A1", WordEntry(L"c:\\other\\helper.dll", L"Helper"));
  AddEntry(resiliency + L"DisabledItems", L"B2", WordEntry(product, name));
  SetText(resiliency + L"StartupItems", L"S", L"x");
  SetText(data, L"Settings", L"corrupt");

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
  EXPECT_EQ(ValueNames(resiliency + L"DisabledItems"), std::vector<std::wstring>{L"A1"});
  EXPECT_FALSE(KeyExists(resiliency + L"StartupItems"));
  EXPECT_FALSE(KeyExists(data));

  EXPECT_EQ(Run(L"repair " + name), L"Repair of " + name + L":\r\n  nothing needed repair\r\n");
  SetText(section, L"WordVersion", L"12.0\\..");
  EXPECT_NE(Run(L"repair " + name + L" --data").find(L"is not a Word version: Word's lists and Data key were not touched"),
            std::wstring::npos);
}

TEST_F(Repair, ARestoreOfAFileThatIsNoBackupWritesNothing) {
  const std::wstring file = ScratchDir() + L"not-a-backup-" + std::to_wstring(GetCurrentProcessId()) + L".reg";
  std::vector<HostileBackup> cases = HostileBackups(version, name);
  cases.push_back({"", L"there is no file " + file, data});  // no file at all
  // Generated garbage, UTF-16 and ANSI (now and then a NUL), every other one after a valid start.
  const std::wstring chars = L"[]\\\"=@;,:hex(0)7fdword\r\n\r\n \x00e9\xd800"s + L'\0',
                     start = L"Windows Registry Editor Version 5.00\r\n[HKEY_CURRENT_USER\\" + data + L"]\r\n";
  for (unsigned seed = 1; seed <= 6; ++seed) {
    std::wstring text = seed % 2 ? start : L"";
    for (unsigned i = 0; i < seed * 331 % 4000 + 100; ++i)
      text += chars[((i * 2654435761u + seed * 40503u) >> 7) % chars.size()];
    cases.push_back({seed % 3 ? Utf16File(text) : std::string(text.begin(), text.end()), L"", data});
  }
  // Files it cannot read exactly, each after the Data key (line 2).
  const auto after = [&](const std::wstring& lines) { return Utf16File(start + lines); };
  std::wstring deep = L"[HKEY_CURRENT_USER\\" + data;
  while (deep.size() < 40000) deep += L"\\" + std::wstring(200, L'k');
  const std::wstring runsOn = L"a continued hex value that runs into a comment, a key, a blank line or the end of the "
                              L"file (line 3): \"b\"=hex:01,\\";
  for (const HostileBackup& c : std::initializer_list<HostileBackup>{
           {after(L"\"b\"=\"2\""), L"a last line without its line end (line 3): \"b\"=\"2\"", data},
           {after(L"\"b\"=hex:1,02\r\n"), L"a hexadecimal byte of one digit (line 3): \"b\"=hex:1,02", data},
           {after(L"\"b\"=hex:01,\r\n"), L"a dangling comma in hexadecimal data (line 3): \"b\"=hex:01,", data},
           {after(L"\"b\"=hex:01,\\\r\n; 02\r\n"), runsOn, data},
           {after(L"\"b\"=hex:01,\\\r\n\r\n\"c\"=\"3\"\r\n"), runsOn, data},
           {after(L"\"b\"=hex:01,\\\r\n"), runsOn, data},
           {after(L"\"b\"=\"\\q\"\r\n"), L"an unknown escape \"\\q\" in a quoted text (line 3): \"b\"=\"\\q\"", data},
           {after(deep + L"]\r\n"), L"a key path longer than the registry takes (32767 characters) (line 3): ", data},
       })
    cases.push_back(c);
  // The product's own backups: cut inside the last line, cut at a line end, or changed by one byte.
  SetText(data, L"a", L"1");
  const std::wstring made = RegistryBackup::Backup(data, L"Hostile").value_or(L"");
  RegDeleteTreeW(HKEY_CURRENT_USER, data.c_str());
  const std::string whole = ReadWholeFile(made);
  std::string changed = whole;
  changed[changed.find(std::string("\"\0a\0\"\0=\0\"\0001", 11)) + 10] = '2';
  const std::wstring damaged = L"a backup of the product's that was cut short or changed (its last line's check fails)";
  for (const HostileBackup& c : std::initializer_list<HostileBackup>{
           {whole.substr(0, whole.size() - 8), L"a last line without its line end (line ", data},
           {whole.substr(0, whole.rfind(std::string("\n\0", 2), whole.size() - 3) + 2), damaged, data},
           {changed, damaged, data}})
    cases.push_back(c);
  for (const auto& c : cases) {
    if (c.bytes.empty()) DeleteFileW(file.c_str());
    else WriteWholeFile(file, c.bytes);
    const std::wstring output = Run(L"restore \"" + file + L"\"");
    EXPECT_EQ(code, 2u) << ToUtf8(c.why);
    EXPECT_EQ(output.find(L"tamberlux: nothing restored: "), 0u) << ToUtf8(output);
    EXPECT_NE(output.find(c.why), std::wstring::npos) << ToUtf8(output);
    // Checked whole before anything is written: the key (or value) the file names stays absent.
    EXPECT_FALSE(c.value.empty() ? KeyExists(c.key) : ReadRaw(c.key, c.value).exists) << ToUtf8(c.why);
    EXPECT_FALSE(KeyExists(data)) << ToUtf8(c.why);
  }
  // Word's Data key and the product's own settings, in any case, are a backup.
  // A comment ending as a continued hex line does not swallow the value after it.
  const std::wstring both = start + L"; see =hex:01,\\\r\n\"a\"=\"1\"\r\n[hkey_current_user\\SOFTWARE\\" + name +
                           L"]\r\n\"wordversion\"=\"" + version + L"\"\r\n";
  WriteWholeFile(file, Utf16File(both));
  Run(L"restore \"" + file + L"\"");
  EXPECT_EQ(code, 0u);
  EXPECT_EQ(ReadText(data, L"a"), L"1");
  EXPECT_EQ(ReadText(section, L"WordVersion"), version);
  DeleteFileW(file.c_str());
}

}  // namespace
}  // namespace tamberlux::CommandTests
