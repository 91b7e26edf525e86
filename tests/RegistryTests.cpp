// Registry state as Word and the product's programs see it after each call.
#include <gtest/gtest.h>

#include <algorithm>

#include "TestSupport.h"
#include "base/Text.h"
#include "component/Main2.h"
#include "registry/RegistryFunctions.h"

namespace tamberlux {
namespace {

namespace reg = RegistryFunctions;
using namespace test;
using Names = std::vector<std::wstring>;

const std::wstring kResiliency = WordKeys::ResiliencyKey(L"12.0");
const std::wstring kDisabled = kResiliency + L"DisabledItems", kStartup = kResiliency + L"StartupItems";
const auto kProductEntry = WordEntry(L"c:\\program files\\valdomeren\\zentrello\\zentrello.dll", L"Zentrello");
const auto kMonitorEntry = WordEntry(L"c:\\program files\\valdomeren\\zentrellomonitor.dll", L"ZentrelloMonitor");
const auto kOtherEntry = WordEntry(L"c:\\program files\\other\\helper.dll", L"Helper");

// A private user hive, a started trap and a reporter asked nothing unless a failure is expected.
class RegistryState : public ::testing::Test {
 protected:
  void TearDown() override {
    EXPECT_EQ(reporter.Count(L"vbwErrorHandler"), expectedQuestions) << "unexpected failures went to the trap";
  }
  StartedTrap trap;
  ReporterStandIn reporter;
  PrivateUserHive hive;
  int expectedQuestions = 0;
  Main2 main2;
};

Names Sorted(Names names) { return std::sort(names.begin(), names.end()), names; }

TEST_F(RegistryState, ReadsFormatEachTypeAndTreatMissingOrOversizedAsEmpty) {
  const std::wstring k = L"Software\\Fixture";
  const BYTE bin[] = {0x01, 0xAB, 0x00};
  SetText(k, L"text", L"abc");
  SetText(k, L"", L"the default");
  for (const auto& [name, value] : std::vector<std::pair<const wchar_t*, DWORD>>{
           {L"zero", 0}, {L"answer", 42}, {L"five", 12345}, {L"top", 0x80000001}})
    SetDword(k, name, value);
  SetValue(k, L"bin", REG_BINARY, bin, 3);
  SetText(k, L"fits", std::wstring(2046, L'x'));     // 2047 bytes with the NUL
  SetText(k, L"toolong", std::wstring(2047, L'x'));  // 2048 bytes with the NUL
  // Each value as ReadRegistry formats it and as ReadRegistryString reads it.
  struct Case { const wchar_t* name; std::wstring formatted, text; } const cases[] = {
      {L"text", L"abc", L"abc"},
      {L"", L"the default", L"the default"},
      {L"zero", L"000", std::wstring(3, L'\0')},
      {L"answer", L"042", std::wstring(L"*\0\0", 3)},
      {L"five", L"12345", std::wstring(L"90\0", 3)},
      {L"top", L"2147483649", std::wstring(L"\x01\0\0", 3)},
      {L"bin", L"01AB00", L"\x01" + FromAnsi("\xAB", 1)},
      {L"fits", std::wstring(2046, L'x'), std::wstring(2046, L'x')},
      {L"toolong", L"", L""},
      {L"missing", L"", L""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(ToUtf8(c.name));
    EXPECT_EQ(reg::ReadRegistry(HKEY_CURRENT_USER, k, c.name), c.formatted);
    EXPECT_EQ(reg::ReadRegistryString(HKEY_CURRENT_USER, k, c.name), c.text);
  }
  EXPECT_EQ(reg::ReadRegistry(HKEY_CURRENT_USER, L"Software\\NoSuchKey", L"text") +
                reg::ReadRegistryString(HKEY_CURRENT_USER, L"Software\\NoSuchKey", L"text"),
            L"");
}

TEST_F(RegistryState, WritesCreateTheWholePathAndStoreTextOrNumbers) {
  const std::wstring k = L"Software\\A\\B\\C\\D";
  ASSERT_FALSE(KeyExists(L"Software\\A"));
  reg::WriteRegistry(HKEY_CURRENT_USER, k, L"sz", 1, Variant::Of(L"abc"));
  reg::WriteRegistry(HKEY_CURRENT_USER, k, L"bin", 3, Variant::Of(L"abc"));
  reg::WriteRegistry(HKEY_CURRENT_USER, k, L"dwordText", 4, Variant::Of(L"7"));
  const auto sz = ReadRaw(k, L"sz");
  EXPECT_EQ(sz.type, DWORD{REG_SZ});
  EXPECT_EQ(sz.data.size(), 8u) << "three letters and a NUL, as UTF-16";
  // REG_SZ whatever the type asked; Wine's RegSetValueExA terminates the
  // three bytes handed over itself, so only the text is checked.
  EXPECT_EQ(ReadRaw(k, L"bin").type, DWORD{REG_SZ});
  EXPECT_EQ(ReadText(k, L"bin"), L"abc");
  EXPECT_EQ(ReadDword(k, L"dwordText"), 7u) << "a DWORD from its text";

  // A value that is no number goes to the trap, and nothing is written.
  expectedQuestions = 1;
  reg::WriteRegistry(HKEY_CURRENT_USER, k, L"bad", 4, Variant::Of(L"not a number"));
  EXPECT_EQ(reporter.Records().at(1).substr(0, 54), L"vbwErrorHandler 13 Type mismatch Tamberlux RegistryFun");
  EXPECT_EQ(reporter.Calls().at(1).at(5), L"WriteRegistry");
  EXPECT_FALSE(ReadRaw(k, L"bad").exists);
}

TEST_F(RegistryState, DetectionFindsTheProductsEntryOnlyAndPrefersDisabledItems) {
  EXPECT_EQ(main2.tamberluxDisabled(L"Zentrello", L"12.0"), L"") << "no lists at all";
  AddEntry(kDisabled, L"aa", kOtherEntry);
  AddEntry(kDisabled, L"bb", kMonitorEntry);
  AddEntry(kDisabled, L"cc", WordEntry(L"c:\\users\\me\\documents\\report.docx", L"report.docx", 3));
  AddEntry(kDisabled, L"dd", WordEntry(L"C:\\PROGRAMS\\Zentrello.dll", L"Zentrello"));
  EXPECT_EQ(main2.tamberluxDisabled(L"Zentrello", L"12.0"), L"")
      << "the monitor's own entry and an upper-case spelling do not count";
  AddEntry(kStartup, L"st", kProductEntry);
  EXPECT_EQ(main2.tamberluxDisabled(L"Zentrello", L"12.0"), L"st");
  AddEntry(kDisabled, L"ee", kProductEntry);
  AddEntry(kDisabled, L"ff", kProductEntry);
  EXPECT_EQ(main2.tamberluxDisabled(L"Zentrello", L"12.0"), L"ee") << "DisabledItems first, lowest index wins";
  EXPECT_EQ(main2.tamberluxDisabledImpl(L"Zentrello", L"12.0", L"StartupItems"), L"st");
  EXPECT_EQ(main2.tamberluxDisabled(L"Zentrello", L"11.0"), L"") << "another Word version";

  const auto big = WordEntry(L"c:\\" + std::wstring(1100, L'p') + L"\\zentrello.dll", L"Big");
  ASSERT_GE(big.size(), 2048u);
  const std::wstring v14 = WordKeys::ResiliencyKey(L"14.0") + WordKeys::kDisabledItems;
  AddEntry(v14, L"a1", kOtherEntry);
  AddEntry(v14, L"a2", big);
  AddEntry(v14, L"a3", kProductEntry);
  EXPECT_EQ(main2.tamberluxDisabledImpl(L"Zentrello", L"14.0", L"DisabledItems"), L"") << "stops at an oversized value";
}

TEST_F(RegistryState, ReenablingDeletesExactlyTheMatchAndTheStartupList) {
  AddEntry(kDisabled, L"other", kOtherEntry);
  AddEntry(kDisabled, L"monitor", kMonitorEntry);
  AddEntry(kStartup, L"s1", kOtherEntry);
  main2.enableTamberlux(L"Zentrello", L"12.0");
  EXPECT_EQ(Sorted(ValueNames(kDisabled)), (Names{L"monitor", L"other"}));
  EXPECT_TRUE(KeyExists(kStartup)) << "nothing matched: StartupItems untouched";

  AddEntry(kDisabled, L"product", kProductEntry);
  main2.enableTamberlux(L"Zentrello", L"12.0");
  EXPECT_EQ(Sorted(ValueNames(kDisabled)), (Names{L"monitor", L"other"}));
  EXPECT_FALSE(KeyExists(kStartup));

  // A match in StartupItems alone removes that list; DisabledItems keeps its values.
  AddEntry(kStartup, L"late", kProductEntry);
  main2.enableTamberlux(L"Zentrello", L"12.0");
  EXPECT_FALSE(KeyExists(kStartup));
  EXPECT_EQ(ValueNames(kDisabled).size(), 2u);
}

TEST_F(RegistryState, RegistrationCreatesBothAddinsAndRestoresLoadBehavior) {
  main2.EnableComAddins();
  for (const auto& addin : WordKeys::kComAddins) {
    const std::wstring key = kAddins + std::wstring(addin.progId);
    EXPECT_EQ(Sorted(ValueNames(key)), (Names{L"CommandLineSafe", L"LoadBehavior", L"description", L"friendlyName"}));
    EXPECT_EQ(ReadText(key, L"friendlyName"), addin.friendlyName) << "the name Word shows";
    EXPECT_EQ(ReadDword(key, L"LoadBehavior"), 3u);
    EXPECT_EQ(ReadDword(key, L"CommandLineSafe"), 0u);
  }
  const std::wstring product = kAddins + std::wstring(kAddin);
  SetDword(product, L"LoadBehavior", 2);
  main2.EnableComAddins();
  EXPECT_EQ(ReadDword(product, L"LoadBehavior"), 3u);
}

TEST_F(RegistryState, DataRepairDeletesOnlyThatVersionsLeafDataKey) {
  SetText(WordKeys::DataKey(L"12.0"), L"Settings", L"corrupt");
  SetText(WordKeys::DataKey(L"11.0"), L"Settings", L"fine");
  SetText(WordKeys::DataKey(L"14.0") + L"\\Sub", L"x", L"y");
  for (std::wstring version : {L"12.0", L"14.0", L"15.0"}) main2.DeleteCorruptedDataFolder(version);
  EXPECT_FALSE(KeyExists(WordKeys::DataKey(L"12.0")));
  EXPECT_TRUE(KeyExists(WordKeys::OfficeKey(L"12.0") + L"\\Word"));
  EXPECT_TRUE(KeyExists(WordKeys::DataKey(L"11.0")));
  EXPECT_TRUE(KeyExists(WordKeys::DataKey(L"14.0") + L"\\Sub")) << "sub-keys keep it, silently";
}

TEST_F(RegistryState, FailedWord2000CheckCountsOnlyAOne) {
  EXPECT_FALSE(main2.failedWord2000CheckOnInstallation(L"Zentrello"));
  for (const auto& [text, expected] : std::vector<std::pair<std::wstring, bool>>{
           {L"1", true}, {L"01", false}, {L"1 ", false}, {L"", false}, {L"true", false}}) {
    SetText(WordKeys::ProductSection(L"Zentrello"), L"FailedWord2000Check", text);
    EXPECT_EQ(main2.failedWord2000CheckOnInstallation(L"Zentrello"), expected) << ToUtf8(text);
  }
}

}  // namespace
}  // namespace tamberlux
