// Registry state as Word and the product's programs see it after each call.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>

#include "TestSupport.h"
#include "base/Text.h"
#include "component/Main2.h"
#include "errortrap/vbwProtector.h"
#include "registry/RegistryFunctions.h"

namespace tamberlux::RegistryTests {
namespace {

namespace reg = RegistryFunctions;
using namespace test;
using Names = std::vector<std::wstring>;

const std::wstring kResiliency = L"Software\\Microsoft\\Office\\12.0\\Word\\Resiliency\\";
const std::wstring kDisabled = kResiliency + L"DisabledItems", kStartup = kResiliency + L"StartupItems";
const auto kProductEntry = WordEntry(L"c:\\program files\\valdomeren\\zentrello\\zentrello.dll", L"Zentrello");
const auto kMonitorEntry = WordEntry(L"c:\\program files\\valdomeren\\zentrellomonitor.dll", L"ZentrelloMonitor");
const auto kOtherEntry = WordEntry(L"c:\\program files\\other\\helper.dll", L"Helper");

class RegistryState : public TrapTest {
 protected:
  PrivateUserHive hive;
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

// The registry's own failures reach no caller: each is skipped and, with tracing on, logged as ignored, naming the
// key and the Win32 code. A missing key or value is no failure.
TEST_F(RegistryState, ARefusedDeleteIsLoggedAsIgnoredNamingTheKeyAndTheCode) {
  const std::wstring k = L"Software\\Fixture\\Parent";
  SetText(k + L"\\Child", L"v", L"1");
  const std::wstring shown = L"  ignored error 75: the key HKEY_CURRENT_USER\\Software\\Fixture\\Parent: error 5 (";
  const auto timesShown = [&] { return Occurrences(Tamberlux(L"log", false).Text(), shown); };
  const size_t before = timesShown();
  vbw::State().vbwTraceLine = true;
  reg::DeleteSubkey(HKEY_CURRENT_USER, k);
  reg::DeleteSubkey(HKEY_CURRENT_USER, L"Software\\Fixture\\Missing");
  reg::DeleteValue(HKEY_CURRENT_USER, k, L"missing");
  vbw::State().vbwTraceLine = false;
  EXPECT_EQ(ReadText(k + L"\\Child", L"v"), L"1") << "a key with a sub-key stays";
  EXPECT_EQ(timesShown() - before, 1u);
}

// Another add-in's entry, the monitor's own, a document and an upper-case spelling are not the product's; a
// match in either list takes the add-in off Word's lists, DisabledItems first and its lowest index first.
TEST_F(RegistryState, DetectionFindsTheProductsEntryOnlyAndReenablingDeletesExactlyIt) {
  EXPECT_EQ(main2.tamberluxDisabled(L"Zentrello", L"12.0"), L"") << "no lists at all";
  AddEntry(kDisabled, L"aa", kOtherEntry);
  AddEntry(kDisabled, L"bb", kMonitorEntry);
  AddEntry(kDisabled, L"cc", WordEntry(L"c:\\users\\me\\documents\\report.docx", L"report.docx", 3));
  AddEntry(kDisabled, L"dd", WordEntry(L"C:\\PROGRAMS\\Zentrello.dll", L"Zentrello"));
  AddEntry(kStartup, L"s1", kOtherEntry);
  EXPECT_EQ(main2.tamberluxDisabled(L"Zentrello", L"12.0"), L"");
  main2.enableTamberlux(L"Zentrello", L"12.0");
  EXPECT_EQ(ValueNames(kDisabled).size(), 4u);
  EXPECT_TRUE(KeyExists(kStartup)) << "nothing matched: StartupItems untouched";

  // A match in StartupItems alone removes that list; DisabledItems keeps its values.
  AddEntry(kStartup, L"st", kProductEntry);
  EXPECT_EQ(main2.tamberluxDisabled(L"Zentrello", L"12.0"), L"st");
  main2.enableTamberlux(L"Zentrello", L"12.0");
  EXPECT_FALSE(KeyExists(kStartup));
  EXPECT_EQ(ValueNames(kDisabled).size(), 4u);

  AddEntry(kStartup, L"st", kProductEntry);
  AddEntry(kDisabled, L"ee", kProductEntry);
  AddEntry(kDisabled, L"ff", kProductEntry);
  EXPECT_EQ(main2.tamberluxDisabled(L"Zentrello", L"12.0"), L"ee") << "DisabledItems first, lowest index wins";
  EXPECT_EQ(main2.tamberluxDisabled(L"Zentrello", L"11.0"), L"") << "another Word version";
  main2.enableTamberlux(L"Zentrello", L"12.0");
  EXPECT_EQ(Sorted(ValueNames(kDisabled)), (Names{L"aa", L"bb", L"cc", L"dd", L"ff"}));
  EXPECT_FALSE(KeyExists(kStartup));

  const auto big = WordEntry(L"c:\\" + std::wstring(1100, L'p') + L"\\zentrello.dll", L"Big");
  const std::wstring v14 = L"Software\\Microsoft\\Office\\14.0\\Word\\Resiliency\\DisabledItems";
  AddEntry(v14, L"a1", kOtherEntry);
  AddEntry(v14, L"a2", big);
  AddEntry(v14, L"a3", kProductEntry);
  EXPECT_EQ(main2.tamberluxDisabled(L"Zentrello", L"14.0"), L"") << "stops at an oversized value";
}

TEST_F(RegistryState, RegistrationCreatesBothAddinsAndRestoresLoadBehavior) {
  SetDword(kAddins + std::wstring(kAddin), L"LoadBehavior", 2);
  main2.EnableComAddins();
  for (const auto& [progId, friendlyName, description] : std::vector<std::array<const wchar_t*, 3>>{
           {L"AddinMonitor.ZentrelloMonitor", L"ZentrelloMonitor", L"Zentrello monitor add-in"},
           {L"Kestrivane.ZentrelloAddinForWord", L"Zentrello", L"Zentrello add-in"}}) {
    const std::wstring key = kAddins + std::wstring(progId);
    EXPECT_EQ(Sorted(ValueNames(key)), (Names{L"CommandLineSafe", L"LoadBehavior", L"description", L"friendlyName"}));
    EXPECT_EQ(ReadText(key, L"friendlyName"), friendlyName) << "the name Word shows";
    EXPECT_EQ(ReadText(key, L"description"), description);
    EXPECT_EQ(ReadDword(key, L"LoadBehavior"), 3u);
    EXPECT_EQ(ReadDword(key, L"CommandLineSafe"), 0u);
  }
}

}  // namespace
}  // namespace tamberlux::RegistryTests
