// What a hostile caller meets: texts that cannot be what they claim are
// refused through the error trap, through the public COM interface, and no
// registry key of the user's is touched.
#include <gtest/gtest.h>

#include <algorithm>

#include "Json.h"
#include "TestSupport.h"
#include "base/Text.h"
#include "errortrap/ErrorLog.h"
#include "registry/RegistryFunctions.h"

namespace tamberlux {
namespace {

using test::KeyExists;
using namespace std::string_literals;

constexpr wchar_t kOffice[] = L"Software\\Microsoft\\Office\\";

class Hostile : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(test::Regsvr32(L"/s"), 0u);
    main2 = test::CreateMain2();
    ASSERT_TRUE(main2);
    // Every key a cut-short or empty version could name.
    for (const std::wstring& key : {L"12.0\\Word\\Data"s, L"Word\\Data"s, L"12.0\\Word\\Resiliency\\StartupItems"s,
                                   L"12.0\\Word\\Resiliency\\DisabledItems"s, L"12.0\\Word"s})
      test::SetText(kOffice + key, L"kept", L"1");
  }
  // The last question the trap asked: number, description, module.procedure.
  std::vector<std::wstring> LastQuestion() const {
    const auto calls = reporter.Calls();
    if (calls.empty() || calls.back()[0] != L"vbwErrorHandler") return {};
    const auto& q = calls.back();
    return {q[1], q[2], q[4] + L"." + q[5]};
  }
  std::vector<std::wstring> OfficeValues() const {
    std::vector<std::wstring> kept;
    for (const std::wstring& key : {L"12.0\\Word\\Data"s, L"Word\\Data"s, L"12.0\\Word\\Resiliency\\StartupItems"s,
                                   L"12.0\\Word\\Resiliency\\DisabledItems"s, L"12.0\\Word"s})
      if (test::ReadRaw(kOffice + key, L"kept").exists) kept.push_back(key);
    return kept;
  }

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
        L"12.0 "s, L"..\\12.0"s, L"\uff11\uff12.0"s, L"12\uff0e0"s, L"12.0\\Word\\Data\\.."s}) {
    SCOPED_TRACE(testing::Message() << "version of " << version.size() << " characters");
    Variant arg = Variant::Of(version);
    ASSERT_EQ(test::CallByName(main2.Get(), L"DeleteCorruptedDataFolder", {arg}), S_OK) << "nothing escapes";
    EXPECT_EQ(LastQuestion(), (std::vector<std::wstring>{L"5", L"\"" + version + L"\" cannot be a Word version",
                                                         L"Main2.DeleteCorruptedDataFolder"}));
    EXPECT_EQ(OfficeValues(), all);
  }
  Variant good = Variant::Of(L"12.0");
  ASSERT_EQ(test::CallByName(main2.Get(), L"DeleteCorruptedDataFolder", {good}), S_OK);
  EXPECT_FALSE(KeyExists(std::wstring(kOffice) + L"12.0\\Word\\Data"));
  EXPECT_EQ(OfficeValues().size(), 4u) << "only Word 12's Data key went";
}

TEST_F(Hostile, ARecordedVersionThatIsNoVersionLeavesWordsListsAlone) {
  test::WordStandIn word;
  // A recorded version with an embedded NUL would cut the resiliency path short.
  const std::wstring recorded = L"12.0\\Word\\Resiliency\\StartupItems\0"s;
  std::string bytes(recorded.begin(), recorded.end());
  bytes.push_back('\0');
  test::SetValue(L"Software\\Zentrello", L"WordVersion", REG_SZ, bytes.data(), static_cast<DWORD>(bytes.size()));
  test::AddEntry(std::wstring(kOffice) + L"12.0\\Word\\Resiliency\\DisabledItems", L"Z",
                 test::WordEntry(L"c:\\zentrello\\zentrello.dll", L"Zentrello"));
  Variant name = Variant::Of(L"Zentrello");
  ASSERT_EQ(test::CallByName(main2.Get(), L"StartRunTime", {name}), S_OK);
  bool refused = false;
  for (const auto& call : reporter.Calls())
    if (call[0] == L"vbwErrorHandler" && call[1] == L"5" && call[5] == L"enableTamberlux") refused = true;
  EXPECT_TRUE(refused);
  EXPECT_TRUE(KeyExists(std::wstring(kOffice) + L"12.0\\Word\\Resiliency\\StartupItems"));
  EXPECT_TRUE(test::ReadRaw(std::wstring(kOffice) + L"12.0\\Word\\Resiliency\\DisabledItems", L"Z").exists);
  EXPECT_EQ(word.Processes().size(), 1u) << "the launch itself goes on";
}

TEST_F(Hostile, ProductNamesThatTheAnsiCodePageWouldTurnIntoSeparatorsAreRefused) {
  // Why the round trip is checked: best-fit makes a real backslash and full
  // stop of the full-width look-alikes.
  EXPECT_EQ(ToAnsi(L"a\uff3cb\uff0ec"), "a\\b.c");
  EXPECT_FALSE(SurvivesAnsi(L"\uff3c"));
  EXPECT_FALSE(SurvivesAnsi(L"\uff0e"));
  EXPECT_TRUE(SurvivesAnsi(L"Zentrello 2"));
  for (const std::wstring& name : {L"Zen\uff3ctrello"s, L"\uff0e\uff0e\uff3cSoftware"s, L"Zen\0trello"s, L"Zen\x1btrello"s,
                                  L"Zen\x7ftrello"s, L"\u4e2d\u6587"s}) {
    Variant arg = Variant::Of(name);
    ASSERT_EQ(test::CallByName(main2.Get(), L"StartRunTime", {arg}), S_OK);
    EXPECT_EQ(LastQuestion(), (std::vector<std::wstring>{L"5", L"\"" + name + L"\" cannot be a product name",
                                                         L"Main2.StartRunTime"}));
  }
  EXPECT_EQ(test::ValueNames(L"Software\\Microsoft\\Office\\Word\\Addins").size(), 0u);
  EXPECT_FALSE(KeyExists(L"Software\\Microsoft\\Office\\Word\\Addins")) << "nothing was registered";
  EXPECT_FALSE(KeyExists(L"Software\\Zen")) << "no section was made of a cut-short name";
}

TEST_F(Hostile, TheRegistryFunctionsRefuseANameWithANulWhoeverCalls) {
  namespace reg = RegistryFunctions;
  test::SetText(L"Software\\A", L"v", L"kept");
  const std::wstring cut = L"Software\\A\0\\B"s;
  reg::DeleteSubkey(HKEY_CURRENT_USER, cut);
  EXPECT_EQ(LastQuestion()[2], L"RegistryFunctions.DeleteSubkey");
  reg::DeleteValue(HKEY_CURRENT_USER, L"Software\\A", L"v\0x"s);
  EXPECT_EQ(LastQuestion()[2], L"RegistryFunctions.DeleteValue");
  reg::WriteRegistry(HKEY_CURRENT_USER, cut, L"w", reg::REG_SZ_TYPE, Variant::Of(L"new"));
  EXPECT_EQ(LastQuestion()[2], L"RegistryFunctions.WriteRegistry");
  EXPECT_EQ(reg::ReadRegistryString(HKEY_CURRENT_USER, cut, L"v"), L"");
  EXPECT_EQ(LastQuestion(), (std::vector<std::wstring>{L"5", L"a registry key or value name cannot hold a NUL character",
                                                       L"RegistryFunctions.ReadRegistryString"}));
  EXPECT_EQ(reporter.Count(L"vbwErrorHandler"), 4);
  EXPECT_EQ(test::ValueNames(L"Software\\A"), std::vector<std::wstring>{L"v"}) << "nothing written, nothing deleted";
  EXPECT_EQ(reg::ReadRegistryString(HKEY_CURRENT_USER, L"Software\\A", L"v"), L"kept");
}


// The tamberlux command in its own process, on the real user hive: a product
// name and a Word version of the test's own, removed afterwards.
class Plainly : public ::testing::Test {
 protected:
  Plainly()
      : name(L"ZentrelloRel" + std::to_wstring(GetCurrentProcessId())),
        version(L"12." + std::to_wstring(GetCurrentProcessId())),
        lists(std::wstring(kOffice) + version + L"\\Word\\Resiliency\\") {
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    Clean();
  }
  ~Plainly() override {
    Clean();
    CoUninitialize();
  }
  void Clean() {
    RegDeleteTreeW(HKEY_CURRENT_USER, (L"Software\\" + name).c_str());
    RegDeleteTreeW(HKEY_CURRENT_USER, (kOffice + version).c_str());
  }
  std::wstring Run(const std::wstring& args, DWORD* code) {
    return test::RunAndCapture(L"\"" + test::BinDir() + L"tamberlux.exe\" " + args, code, true);
  }
  // Control characters in the output other than line ends.
  static size_t RawControls(const std::wstring& text) {
    return std::count_if(text.begin(), text.end(), [](wchar_t c) { return c < 32 && c != L'\r' && c != L'\n'; });
  }
  std::wstring name, version, lists;
};

TEST_F(Plainly, ANameTheComponentWouldRefuseIsAUsageErrorAndNoWordStarts) {
  test::WordStandIn word;
  ASSERT_EQ(test::Regsvr32(L"/s"), 0u);
  const std::pair<std::wstring, std::wstring> cases[] = {
      {L"Zen\uff3ctrello", L"it does not survive the ANSI code page unchanged"},
      {L"Zen:trello", L"it holds a separator"},
      {L"..", L"it is only blanks and full stops"},
      {L"\"Zen\x1btrello\"", L"it holds a NUL or a control character"}};
  for (const auto& [arg, why] : cases) {
    for (const wchar_t* command : {L"launch ", L"status "}) {
      DWORD code = 99;
      const std::wstring output = Run(command + arg, &code);
      EXPECT_EQ(code, 2u) << command << ToUtf8(arg);
      EXPECT_NE(output.find(L"cannot be a product name: " + why), std::wstring::npos) << ToUtf8(output);
      EXPECT_EQ(RawControls(output), 0u) << "the name is shown escaped";
    }
  }
  EXPECT_TRUE(word.Processes().empty());
}

TEST_F(Plainly, StatusEscapesWhatTheRegistryHoldsAndSaysWhenAListWasReadOnlyInPart) {
  const std::wstring section = L"Software\\" + name;
  test::SetText(section, L"WordVersion", version);
  const std::wstring glued = L"1\x1b[2J\0\nsecond line"s;
  test::SetValue(section, L"PermanentlyDisableAddin", REG_SZ, glued.c_str(),
                 static_cast<DWORD>((glued.size() + 1) * sizeof(wchar_t)));
  const std::wstring dll = L"c:\\valdomeren\\" + LowerCase(name) + L"\\addin.dll";
  test::AddEntry(lists + L"DisabledItems", L"A\x07\x1b]0;x", test::WordEntry(L"c:\\evil\\x.dll", L"Evil\x1b[31m"));
  test::AddEntry(lists + L"DisabledItems", L"B2", std::vector<BYTE>(2048, 'z'));
  test::AddEntry(lists + L"DisabledItems", L"C3", test::WordEntry(dll, name));

  DWORD code = 99;
  const std::wstring text = Run(L"status " + name, &code);
  EXPECT_EQ(code, 0u);
  EXPECT_EQ(RawControls(text), 0u) << ToUtf8(text);
  EXPECT_NE(text.find(L"PermanentlyDisableAddin: 1\\x1b[2J\\x00\\x0asecond line"), std::wstring::npos) << ToUtf8(text);
  EXPECT_NE(text.find(L"A\\x07\\x1b]0;x  type 1  c:\\evil\\x.dll  \"Evil\\x1b[31m\""), std::wstring::npos);
  EXPECT_NE(text.find(L"(incomplete: the walk stopped after 1 of the key's 3 values"), std::wstring::npos);

  const test::JsonValue s = test::JsonValue::Parse(Run(L"status " + name + L" --json", &code));
  EXPECT_EQ(s[L"disabledItems"].items.size(), 1u) << "the detection walk never sees C3";
  EXPECT_EQ(s[L"disabledItemsValues"].number, 3);
  EXPECT_EQ(s[L"permanentlyDisableAddin"].text, glued);
  EXPECT_TRUE(s[L"startupItemsValues"].IsNull()) << "no StartupItems key";
}

// The error log: written by the trap in the caller's process when the
// reporter cannot be had, read with `tamberlux log`.
class ErrorLogFile : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(test::Regsvr32(L"/s"), 0u);
    path = vbw::ErrorLog::Path();
    ASSERT_FALSE(path.empty());
    DeleteFileW(path.c_str());
    DeleteFileW((path + L".1").c_str());
    // Other tests leave the stand-in reporter registered: here there is none.
    reporter.Unregister();
    main2 = test::CreateMain2();
    ASSERT_TRUE(main2);
  }
  void TearDown() override {
    DeleteFileW(path.c_str());
    DeleteFileW((path + L".1").c_str());
  }
  HRESULT Delete(const std::wstring& version) {
    Variant arg = Variant::Of(version);
    return test::CallByName(main2.Get(), L"DeleteCorruptedDataFolder", {arg});
  }
  test::JsonValue Logged() {
    DWORD code = 99;
    const std::wstring out = test::RunAndCapture(L"\"" + test::BinDir() + L"tamberlux.exe\" log --json", &code, true);
    EXPECT_EQ(code, 0u);
    return test::JsonValue::Parse(out);
  }
  // On the real user hive, where the command finds the same folder: every
  // version here is refused, so nothing of the user's is touched.
  test::StartedTrap trap;
  test::ReporterStandIn reporter;
  std::wstring path;
  ComPtr<IDispatch> main2;
};

TEST_F(ErrorLogFile, WithoutItsReporterTheTrapWritesOneJsonLineThatTheCommandShows) {
  ASSERT_EQ(Delete(L"12.0\\..\x01"), S_OK) << "the caller never fails";
  test::JsonValue log = Logged();
  ASSERT_EQ(log[L"entries"].items.size(), 1u);
  const test::JsonValue& e = log[L"entries"][0];
  EXPECT_EQ(e[L"project"].text, L"Tamberlux");
  EXPECT_EQ(e[L"module"].text + L"." + e[L"procedure"].text, L"Main2.DeleteCorruptedDataFolder");
  EXPECT_EQ(e[L"number"].number, 5);
  EXPECT_EQ(e[L"description"].text, L"\"12.0\\..\x01\" cannot be a Word version");
  EXPECT_EQ(e[L"line"].number, 600);
  ASSERT_EQ(e[L"stack"].items.size(), 1u);
  EXPECT_EQ(e[L"stack"][0].text, L"Main2.DeleteCorruptedDataFolder");
  ASSERT_EQ(e[L"parameters"].items.size(), 1u);
  EXPECT_EQ(e[L"parameters"][0].text, L"version = 12.0\\..\x01");
  EXPECT_NE(e[L"reporter"].text.find(L"(429)"), std::wstring::npos) << "the reporter could not be created";
  EXPECT_EQ(e[L"process"].number, GetCurrentProcessId());

  DWORD code = 99;
  const std::wstring text = test::RunAndCapture(L"\"" + test::BinDir() + L"tamberlux.exe\" log", &code, true);
  EXPECT_EQ(code, 0u);
  EXPECT_NE(text.find(L"Tamberlux.Main2.DeleteCorruptedDataFolder, line 600\r\n  error 5: \"12.0\\..\\x01\" cannot be"),
            std::wstring::npos)
      << ToUtf8(text);

  // A reporter that fails its question: logged as well.
  test::ReporterStandIn registered;
  reporter.Fail(L"vbwErrorHandler", 1);
  ASSERT_EQ(Delete(L"x"), S_OK);
  log = Logged();
  ASSERT_EQ(log[L"entries"].items.size(), 2u);
  EXPECT_EQ(log[L"entries"][1][L"description"].text, L"\"x\" cannot be a Word version");
  EXPECT_EQ(reporter.Count(L"vbwErrorHandler"), 1);
  // The reporter back: nothing more is logged.
  ASSERT_EQ(Delete(L"y"), S_OK);
  EXPECT_EQ(Logged()[L"entries"].items.size(), 2u);
}

TEST_F(ErrorLogFile, TheLogIsRotatedAtItsBoundAndAnUnwritableLogFailsNobody) {
  const std::string old(vbw::ErrorLog::kMaxBytes - 10, 'o');
  test::ProductTemplate::Write(path, old);
  ASSERT_EQ(Delete(L"a"), S_OK);
  EXPECT_TRUE(test::ProductTemplate::Read(path + L".1") == old) << "the full log became the previous one";
  EXPECT_EQ(Logged()[L"entries"].items.size(), 1u) << "junk lines are skipped, the new one read";
  ASSERT_EQ(Delete(L"b"), S_OK);
  ASSERT_EQ(Logged()[L"entries"].items.size(), 2u);

  DeleteFileW(path.c_str());
  ASSERT_TRUE(CreateDirectoryW(path.c_str(), nullptr));
  EXPECT_EQ(Delete(L"c"), S_OK);
  RemoveDirectoryW(path.c_str());
}

}  // namespace
}  // namespace tamberlux
