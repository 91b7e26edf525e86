// Registry state as Word and the product's programs see it after each call.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "TestSupport.h"
#include "component/Main2.h"
#include "errortrap/vbwProtector.h"
#include "registry/RegistryFunctions.h"

namespace tamberlux {
namespace {

namespace reg = RegistryFunctions;
using test::KeyExists;
using test::ReadRaw;
using test::SetDword;
using test::SetText;
using test::SetValue;
using test::WordEntry;
using test::AddEntry;

constexpr wchar_t kResiliency[] = L"Software\\Microsoft\\Office\\12.0\\Word\\Resiliency\\";
const std::wstring kDisabled = std::wstring(kResiliency) + L"DisabledItems";
const std::wstring kStartup = std::wstring(kResiliency) + L"StartupItems";

// Each scenario: a private user hive, a started trap and a reporter that
// must not be asked anything unless the scenario expects a failure.
class RegistryState : public ::testing::Test {
 protected:
  void TearDown() override {
    EXPECT_EQ(reporter.Count(L"vbwErrorHandler"), expectedQuestions) << "unexpected failures went to the trap";
  }
  test::StartedTrap trap;
  test::ReporterStandIn reporter;
  test::PrivateUserHive hive;
  int expectedQuestions = 0;
  Main2 main2;
};

// Wine enumerates values in name order, not in the order they were written.
std::vector<std::wstring> Sorted(std::vector<std::wstring> names) {
  std::sort(names.begin(), names.end());
  return names;
}

const auto kProductEntry = WordEntry(L"c:\\program files\\valdomeren\\zentrello\\zentrello.dll", L"Zentrello");
const auto kMonitorEntry = WordEntry(L"c:\\program files\\valdomeren\\zentrellomonitor.dll", L"ZentrelloMonitor");
const auto kOtherEntry = WordEntry(L"c:\\program files\\other\\helper.dll", L"Helper");
const auto kDocumentEntry = WordEntry(L"c:\\users\\me\\documents\\report.docx", L"report.docx", 3);
const auto kUpperCaseEntry = WordEntry(L"C:\\PROGRAMS\\Zentrello.dll", L"Zentrello");

TEST_F(RegistryState, ReadsFormatEachTypeAndTreatMissingOrOversizedAsEmpty) {
  const std::wstring k = L"Software\\Fixture";
  SetText(k, L"text", L"abc");
  SetText(k, L"empty", L"");
  SetText(k, L"", L"the default");
  SetDword(k, L"zero", 0);
  SetDword(k, L"one", 1);
  SetDword(k, L"answer", 42);
  SetDword(k, L"page", 4096);
  SetDword(k, L"five", 12345);
  SetDword(k, L"top", 0x80000001);
  const BYTE bin1[] = {0x0A, 0xFF};
  const BYTE bin2[] = {0x01, 0xAB, 0x00};
  SetValue(k, L"bin1", REG_BINARY, bin1, 2);
  SetValue(k, L"bin2", REG_BINARY, bin2, 3);
  SetText(k, L"fits", std::wstring(2046, L'x'));   // 2047 bytes with the NUL
  SetText(k, L"toolong", std::wstring(2047, L'x'));  // 2048 bytes with the NUL

  struct Case {
    const wchar_t* section;
    const wchar_t* name;
    std::wstring formatted;  // ReadRegistry
    std::wstring text;       // ReadRegistryString
  };
  const Case cases[] = {
      {L"Software\\Fixture", L"text", L"abc", L"abc"},
      {L"Software\\Fixture", L"empty", L"", L""},
      {L"Software\\Fixture", L"", L"the default", L"the default"},
      {L"Software\\Fixture", L"zero", L"000", std::wstring(3, L'\0')},
      {L"Software\\Fixture", L"one", L"001", std::wstring(L"\x01\0\0", 3)},
      {L"Software\\Fixture", L"answer", L"042", std::wstring(L"*\0\0", 3)},
      {L"Software\\Fixture", L"page", L"4096", std::wstring(L"\0\x10\0", 3)},
      {L"Software\\Fixture", L"five", L"12345", std::wstring(L"90\0", 3)},
      {L"Software\\Fixture", L"top", L"2147483649", std::wstring(L"\x01\0\0", 3)},
      {L"Software\\Fixture", L"bin1", L"0AFF", L"\n"},
      {L"Software\\Fixture", L"bin2", L"01AB00", std::wstring(L"\x01", 1) + reg::FromAnsi("\xAB", 1)},
      {L"Software\\Fixture", L"fits", std::wstring(2046, L'x'), std::wstring(2046, L'x')},
      {L"Software\\Fixture", L"toolong", L"", L""},
      {L"Software\\Fixture", L"missing", L"", L""},
      {L"Software\\NoSuchKey", L"text", L"", L""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "value " << std::string(c.name, c.name + wcslen(c.name)));
    EXPECT_EQ(reg::ReadRegistry(HKEY_CURRENT_USER, c.section, c.name), c.formatted);
    EXPECT_EQ(reg::ReadRegistryString(HKEY_CURRENT_USER, c.section, c.name), c.text);
  }
}

TEST_F(RegistryState, WritesStoreStringsDwordsAndCreateTheWholePath) {
  const std::wstring k = L"Software\\A\\B\\C\\D";
  ASSERT_FALSE(KeyExists(L"Software\\A"));
  reg::WriteRegistry(HKEY_CURRENT_USER, k, L"sz", 1, Variant::Of(L"abc"));
  reg::WriteRegistry(HKEY_CURRENT_USER, k, L"bin", 3, Variant::Of(L"abc"));
  reg::WriteRegistry(HKEY_CURRENT_USER, k, L"dword", 4, Variant::Of(3));
  reg::WriteRegistry(HKEY_CURRENT_USER, k, L"dwordText", 4, Variant::Of(L"7"));
  reg::WriteRegistry(HKEY_CURRENT_USER, k, L"number", 1, Variant::Of(12));

  // Stored as UTF-16: the ANSI byte counts 4 and 3 become 8 and 6.
  const auto sz = ReadRaw(k, L"sz");
  const auto bin = ReadRaw(k, L"bin");
  EXPECT_EQ(sz.type, DWORD{REG_SZ});
  EXPECT_EQ(sz.data.size(), 8u) << "three letters and a NUL";
  EXPECT_EQ(bin.type, DWORD{REG_SZ}) << "REG_SZ whatever the type asked";
  // The component hands over 3 bytes without a NUL; Wine's RegSetValueExA
  // terminates REG_SZ data itself, so only the text is checked here.
  EXPECT_EQ(std::wstring(reinterpret_cast<const wchar_t*>(bin.data.data()), 3), L"abc");
  const auto dword = ReadRaw(k, L"dword");
  ASSERT_TRUE(dword.exists);
  EXPECT_EQ(dword.type, DWORD{REG_DWORD});
  EXPECT_EQ(dword.data, (std::vector<BYTE>{3, 0, 0, 0}));
  EXPECT_EQ(reg::ReadRegistry(HKEY_CURRENT_USER, k, L"dwordText"), L"007");
  EXPECT_EQ(reg::ReadRegistryString(HKEY_CURRENT_USER, k, L"number"), L"12");
  EXPECT_EQ(reg::ReadRegistryString(HKEY_CURRENT_USER, k, L"sz"), L"abc");

  // A value that is no number goes to the trap, and nothing is written.
  reporter.Answer({7});
  reg::WriteRegistry(HKEY_CURRENT_USER, k, L"bad", 4, Variant::Of(L"not a number"));
  expectedQuestions = 1;
  const auto calls = reporter.Calls();
  ASSERT_GE(calls.size(), 2u);
  EXPECT_EQ(calls[1][1], L"13");
  EXPECT_EQ(calls[1][4], L"RegistryFunctions");
  EXPECT_EQ(calls[1][5], L"WriteRegistry");
  EXPECT_FALSE(ReadRaw(k, L"bad").exists);
}

TEST_F(RegistryState, EnumerationWalksEveryValueAndEndsEmpty) {
  const std::wstring k = L"Software\\Walk";
  SetText(k, L"first", L"one");
  SetText(k, L"second", L"two");
  std::wstring value = L"sentinel";
  int32_t idx = 0;
  EXPECT_EQ(reg::ReadRegistryStringGetAll(HKEY_CURRENT_USER, k, idx, value), L"first");
  EXPECT_EQ(value, L"one");
  idx = 1;
  EXPECT_EQ(reg::ReadRegistryStringGetAll(HKEY_CURRENT_USER, k, idx, value), L"second");
  EXPECT_EQ(value, L"two");
  EXPECT_EQ(idx, 1) << "the index is not changed";
  idx = 2;
  EXPECT_EQ(reg::ReadRegistryStringGetAll(HKEY_CURRENT_USER, k, idx, value), L"");
  idx = 0;
  EXPECT_EQ(reg::ReadRegistryStringGetAll(HKEY_CURRENT_USER, L"Software\\Nowhere", idx, value), L"");
}

TEST_F(RegistryState, DeletesRemoveKeysWithoutSubkeysAndSingleValues) {
  SetText(L"Software\\Del\\Leaf", L"v", L"x");
  SetText(L"Software\\Del\\Parent\\Child", L"v", L"x");
  SetText(L"Software\\Del\\Values", L"keep", L"x");
  SetText(L"Software\\Del\\Values", L"drop", L"x");

  reg::DeleteSubkey(HKEY_CURRENT_USER, L"Software\\Del\\Leaf");
  reg::DeleteSubkey(HKEY_CURRENT_USER, L"Software\\Del\\Parent");
  reg::DeleteSubkey(HKEY_CURRENT_USER, L"Software\\Del\\Missing");
  reg::DeleteValue(HKEY_CURRENT_USER, L"Software\\Del\\Values", L"drop");
  reg::DeleteValue(HKEY_CURRENT_USER, L"Software\\Del\\Missing", L"drop");

  EXPECT_FALSE(KeyExists(L"Software\\Del\\Leaf"));
  EXPECT_TRUE(KeyExists(L"Software\\Del\\Parent\\Child")) << "a key with sub-keys stays";
  EXPECT_EQ(test::ValueNames(L"Software\\Del\\Values"), std::vector<std::wstring>{L"keep"});
}

TEST_F(RegistryState, DetectionFindsTheProductsEntryOnlyAndPrefersDisabledItems) {
  EXPECT_EQ(main2.tamberluxDisabled(L"Zentrello", L"12.0"), L"") << "no lists at all";

  AddEntry(kDisabled, L"aa", kOtherEntry);
  AddEntry(kDisabled, L"bb", kMonitorEntry);
  AddEntry(kDisabled, L"cc", kDocumentEntry);
  AddEntry(kDisabled, L"dd", kUpperCaseEntry);
  EXPECT_EQ(main2.tamberluxDisabled(L"Zentrello", L"12.0"), L"")
      << "the monitor's own entry and an upper-case spelling do not count";

  AddEntry(kStartup, L"st", kProductEntry);
  EXPECT_EQ(main2.tamberluxDisabled(L"Zentrello", L"12.0"), L"st");

  AddEntry(kDisabled, L"ee", kProductEntry);
  AddEntry(kDisabled, L"ff", kProductEntry);
  EXPECT_EQ(main2.tamberluxDisabled(L"Zentrello", L"12.0"), L"ee") << "DisabledItems first, lowest index wins";
  EXPECT_EQ(main2.tamberluxDisabledImpl(L"Zentrello", L"12.0", L"StartupItems"), L"st");
  EXPECT_EQ(main2.tamberluxDisabled(L"Zentrello", L"11.0"), L"") << "another Word version";
}

TEST_F(RegistryState, DetectionStopsAtAnOversizedValue) {
  std::vector<BYTE> big = WordEntry(L"c:\\" + std::wstring(1100, L'p') + L"\\zentrello.dll", L"Big");
  ASSERT_GE(big.size(), 2048u);
  AddEntry(kDisabled, L"a1", kOtherEntry);
  AddEntry(kDisabled, L"a2", big);
  AddEntry(kDisabled, L"a3", kProductEntry);
  EXPECT_EQ(main2.tamberluxDisabledImpl(L"Zentrello", L"12.0", L"DisabledItems"), L"");
}

TEST_F(RegistryState, ReenablingDeletesExactlyTheMatchAndTheStartupList) {
  AddEntry(kDisabled, L"other", kOtherEntry);
  AddEntry(kDisabled, L"monitor", kMonitorEntry);
  AddEntry(kStartup, L"s1", kOtherEntry);
  main2.enableTamberlux(L"Zentrello", L"12.0");
  EXPECT_EQ(Sorted(test::ValueNames(kDisabled)), (std::vector<std::wstring>{L"monitor", L"other"}));
  EXPECT_TRUE(KeyExists(kStartup)) << "nothing matched: StartupItems untouched";

  AddEntry(kDisabled, L"product", kProductEntry);
  main2.enableTamberlux(L"Zentrello", L"12.0");
  EXPECT_EQ(Sorted(test::ValueNames(kDisabled)), (std::vector<std::wstring>{L"monitor", L"other"}));
  EXPECT_FALSE(KeyExists(kStartup));

  // A match in StartupItems alone removes that list; DisabledItems keeps its values.
  AddEntry(kStartup, L"late", kProductEntry);
  main2.enableTamberlux(L"Zentrello", L"12.0");
  EXPECT_FALSE(KeyExists(kStartup));
  EXPECT_EQ(test::ValueNames(kDisabled).size(), 2u);
}

TEST_F(RegistryState, RegistrationCreatesBothAddinsAndRestoresLoadBehavior) {
  const std::wstring monitor = std::wstring(test::kAddins) + test::kMonitor;
  const std::wstring product = std::wstring(test::kAddins) + test::kAddin;
  main2.EnableComAddins();
  struct Expect {
    const std::wstring& key;
    const wchar_t* friendlyName;
    const wchar_t* description;
  };
  for (const Expect& e : {Expect{monitor, L"ZentrelloMonitor", L"Zentrello monitor add-in"},
                          Expect{product, L"Zentrello", L"Zentrello add-in"}}) {
    EXPECT_EQ(Sorted(test::ValueNames(e.key)),
              (std::vector<std::wstring>{L"CommandLineSafe", L"LoadBehavior", L"description", L"friendlyName"}));
    const auto fn = ReadRaw(e.key, L"friendlyName");
    EXPECT_EQ(fn.type, DWORD{REG_SZ});
    EXPECT_EQ(std::wstring(reinterpret_cast<const wchar_t*>(fn.data.data())), e.friendlyName);
    EXPECT_EQ(reg::ReadRegistryString(HKEY_CURRENT_USER, e.key, L"description"), e.description);
    EXPECT_EQ(ReadRaw(e.key, L"LoadBehavior").type, DWORD{REG_DWORD});
    EXPECT_EQ(reg::ReadRegistry(HKEY_CURRENT_USER, e.key, L"LoadBehavior"), L"003");
    EXPECT_EQ(reg::ReadRegistry(HKEY_CURRENT_USER, e.key, L"CommandLineSafe"), L"000");
  }
  SetDword(product, L"LoadBehavior", 2);
  main2.EnableComAddins();
  EXPECT_EQ(reg::ReadRegistry(HKEY_CURRENT_USER, product, L"LoadBehavior"), L"003");
}

TEST_F(RegistryState, DataRepairDeletesOnlyThatVersionsLeafDataKey) {
  SetText(L"Software\\Microsoft\\Office\\12.0\\Word\\Data", L"Settings", L"corrupt");
  SetText(L"Software\\Microsoft\\Office\\11.0\\Word\\Data", L"Settings", L"fine");
  SetText(L"Software\\Microsoft\\Office\\14.0\\Word\\Data\\Sub", L"x", L"y");
  std::wstring v12 = L"12.0", v14 = L"14.0", v15 = L"15.0";
  main2.DeleteCorruptedDataFolder(v12);
  main2.DeleteCorruptedDataFolder(v14);
  main2.DeleteCorruptedDataFolder(v15);
  EXPECT_FALSE(KeyExists(L"Software\\Microsoft\\Office\\12.0\\Word\\Data"));
  EXPECT_TRUE(KeyExists(L"Software\\Microsoft\\Office\\12.0\\Word"));
  EXPECT_TRUE(KeyExists(L"Software\\Microsoft\\Office\\11.0\\Word\\Data"));
  EXPECT_TRUE(KeyExists(L"Software\\Microsoft\\Office\\14.0\\Word\\Data\\Sub")) << "sub-keys keep it, silently";
}

TEST_F(RegistryState, FailedWord2000CheckCountsOnlyAOne) {
  EXPECT_FALSE(main2.failedWord2000CheckOnInstallation(L"Zentrello"));
  for (const auto& [text, expected] : std::vector<std::pair<std::wstring, bool>>{
           {L"1", true}, {L"01", false}, {L"1 ", false}, {L"", false}, {L"true", false}}) {
    SetText(L"Software\\Zentrello", L"FailedWord2000Check", text);
    EXPECT_EQ(main2.failedWord2000CheckOnInstallation(L"Zentrello"), expected)
        << std::string(text.begin(), text.end());
  }
  EXPECT_EQ(main2.resiliencyKey(L"11.0"), L"Software\\Microsoft\\Office\\11.0\\Word\\Resiliency\\");
  EXPECT_EQ(main2.resiliencyKey(L""), L"Software\\Microsoft\\Office\\\\Word\\Resiliency\\");
  EXPECT_EQ(main2.productSection(L"Zentrello"), L"Software\\Zentrello");
}

}  // namespace
}  // namespace tamberlux
