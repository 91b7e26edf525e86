// What a hostile caller meets: texts that cannot be what they claim are
// refused through the error trap, through the public COM interface, and no
// registry key of the user's is touched.
#include <gtest/gtest.h>

#include "TestSupport.h"
#include "base/Text.h"
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

}  // namespace
}  // namespace tamberlux
