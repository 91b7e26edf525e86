// The tamberlux command as a person at a console meets it. It runs in its
// own process on the real user hive, so each test uses a product name and a
// Word version of its own, and every key it touches is put back afterwards.
#include <gtest/gtest.h>

#include <algorithm>
#include <regex>

#include "TestSupport.h"

namespace tamberlux {
namespace {

using namespace test;

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
  const std::wstring resiliency = WordKeys::ResiliencyKey(version);
  KeptUserKey section{WordKeys::ProductSection(name)}, office{WordKeys::OfficeKey(version)},
      monitor{kAddins + std::wstring(kMonitor)}, addin{kAddins + std::wstring(kAddin)};
  ProductTemplate files{name};
  DWORD code = 99;  // of the last Run
};

TEST_F(Command, StatusShowsWhatDecidesWhetherTheAddInLoadsAndChangesNothing) {
  RegDeleteTreeW(HKEY_CURRENT_USER, (kAddins + std::wstring(kAddin)).c_str());
  SetText(WordKeys::ProductSection(name), L"WordVersion", version);
  SetText(WordKeys::ProductSection(name), L"FailedWord2000Check", L"1");
  SetDword(kAddins + std::wstring(kMonitor), L"LoadBehavior", 3);
  SetText(kAddins + std::wstring(kMonitor), L"friendlyName", L"ZentrelloMonitor");
  const std::wstring dll = L"c:/program files/valdomeren/" + LowerCase(name) + L"/addin.dll";  // as Word writes it
  AddEntry(resiliency + L"DisabledItems", L"A1", WordEntry(dll, name));
  AddEntry(resiliency + L"DisabledItems", L"B2", WordEntry(L"c:/other/helper.dll", L"Helper", 2));
  const BYTE junk[] = {1, 2};
  SetValue(resiliency + L"DisabledItems", L"C3", REG_BINARY, junk, sizeof(junk));
  AddEntry(resiliency + L"StartupItems", L"D4", WordEntry(dll, name));
  WriteWholeFile(files.Source(L".dot"), "dot");
  WriteWholeFile(files.Copy(L".dotm"), "old copy");
  ProductTemplate::SetTime(files.Copy(L".dotm"), FILETIME{1, 1});

  const std::wstring json = Run(L"status " + name + L" --json");
  EXPECT_EQ(code, 0u);
  const std::wstring entryA1 = L"{\"value\": \"A1\", \"type\": 1, \"path\": \"" + dll + L"\", \"friendlyName\": \"" +
                               name + L"\", \"product\": true}";
  const std::wstring expected[] = {
      L"\"product\": \"" + name + L"\"",
      L"\"wordVersion\": \"" + version + L"\"",
      L"\"comAddins\": [{\"progId\": \"" + std::wstring(kMonitor) +
          L"\", \"friendlyName\": \"ZentrelloMonitor\", \"loadBehavior\": 3}, {\"progId\": \"" + kAddin +
          L"\", \"friendlyName\": null, \"loadBehavior\": null}]",
      L"\"disabledItems\": [" + entryA1 +
          L", {\"value\": \"B2\", \"type\": 2, \"path\": \"c:/other/helper.dll\", \"friendlyName\": \"Helper\", "
          L"\"product\": false}, {\"value\": \"C3\", \"type\": null, \"path\": null, \"friendlyName\": null, "
          L"\"product\": false}]",
      L"\"startupItems\": [{\"value\": \"D4\"" + entryA1.substr(14) + L"]",
      L"\"permanentlyDisableAddin\": null,\r\n  \"failedWord2000Check\": \"1\"",
  };
  for (const std::wstring& part : expected) EXPECT_NE(json.find(part), std::wstring::npos) << ToUtf8(part);
  // Word 12 uses the ".dotm" copy; the ".dot" one is missing, with its source there.
  const std::wstring copy = L"\\{\"file\": \"" + name + L"\\.dot(m?)\", [^}]*\"sourceExists\": (\\w+), [^}]*";
  std::wsmatch dot, dotm;
  ASSERT_TRUE(std::regex_search(json, dot, std::wregex(copy + L"\"state\": \"missing\", \"used\": false\\}")));
  ASSERT_TRUE(std::regex_search(json, dotm, std::wregex(copy + L"\"state\": \"different time\", \"used\": true\\}")));
  EXPECT_EQ(dot[1].str() + L"|" + dot[2].str() + L"|" + dotm[1].str() + L"|" + dotm[2].str(), L"|true|m|false");

  EXPECT_EQ(ValueNames(resiliency + L"DisabledItems").size(), 3u) << "nothing changed by looking";
  EXPECT_EQ(ReadWholeFile(files.Copy(L".dotm")), "old copy");
  const std::wstring text = Run(L"status " + name);
  EXPECT_EQ(code, 0u);
  EXPECT_NE(text.find(L"A1  type 1  " + dll + L"  \"" + name + L"\"  <- the add-in"), std::wstring::npos)
      << ToUtf8(text);
}

TEST_F(Command, StatusOfAProductNeverLaunchedOrWithACorruptVersionSaysSo) {
  const std::wstring never = Run(L"status " + name + L" --json");
  EXPECT_EQ(code, 0u);
  for (const wchar_t* part :
       {L"\"wordVersion\": null", L"\"disabledItems\": []", L"\"state\": \"missing\", \"used\": true}"})
    EXPECT_NE(never.find(part), std::wstring::npos) << ToUtf8(part);
  SetText(WordKeys::ProductSection(name), L"WordVersion", L"twelve");
  const std::wstring corrupt = Run(L"status " + name + L" --json");
  EXPECT_EQ(code, 0u);
  EXPECT_NE(corrupt.find(L"\"wordVersion\": \"twelve\""), std::wstring::npos);
  EXPECT_EQ(corrupt.find(L"\"used\": true"), std::wstring::npos) << "no version text: neither copy is the one used";
}

TEST_F(Command, LaunchStartsWordAndAnswersWithItsState) {
  WordStandIn word;
  ASSERT_EQ(Regsvr32(L"/s"), 0u);
  EXPECT_EQ(Run(L"launch " + name), L"Word 12.0 is running with 1 document open; " + name + L" launched.\r\n");
  EXPECT_EQ(code, 0u);
  EXPECT_EQ(Run(L"launch " + name + L" --no-macro"),
            L"Word 12.0 is running with 2 documents open; " + name + L" launched.\r\n");
  EXPECT_EQ(code, 0u);
  const auto calls = word.Calls();
  EXPECT_EQ(std::count(calls.begin(), calls.end(), L"Run\tSetStartedFromIcon"), 1) << "--no-macro skips it";
  EXPECT_EQ(word.Processes().size(), 1u) << "the second launch attaches to the running Word";
}

TEST_F(Command, LaunchFailuresGiveAMessageAndTheirExitCode) {
  WordStandIn word;
  EXPECT_NE(Run(L"launch").find(L"usage: tamberlux launch NAME"), std::wstring::npos);
  EXPECT_EQ(code, 2u);
  ASSERT_EQ(Regsvr32(L"/u /s"), 0u);
  EXPECT_EQ(Run(L"launch " + name),
            L"tamberlux: Tamberlux.Main2 is not registered: run regsvr32 on Tamberlux.dll first\r\n");
  EXPECT_EQ(code, 3u);
  EXPECT_TRUE(word.Processes().empty());

  ASSERT_EQ(Regsvr32(L"/s"), 0u);
  word.Unregister();
  DialogWatch watch;
  EXPECT_EQ(Run(L"launch " + name), L"tamberlux: the launch did not reach Word\r\n");
  EXPECT_EQ(code, 4u);
  EXPECT_EQ(watch.Result().title, name + L" could not start Word. Is it corrupted?");
}

}  // namespace
}  // namespace tamberlux
