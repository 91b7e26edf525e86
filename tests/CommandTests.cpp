// The tamberlux command as a person at a console meets it. It runs in its
// own process on the real user hive, so each test uses a product name and a
// Word version of its own and removes what it wrote.
#include <gtest/gtest.h>

#include "Json.h"
#include "TestSupport.h"

namespace tamberlux {
namespace {

using test::JsonValue;
using test::ProductTemplate;

using test::kAddins;
using test::kAddin;
using test::kMonitor;

class Command : public ::testing::Test {
 protected:
  Command()
      : name(L"ZentrelloCmd" + std::to_wstring(GetCurrentProcessId())),
        version(L"12." + std::to_wstring(GetCurrentProcessId())),
        resiliency(L"Software\\Microsoft\\Office\\" + version + L"\\Word\\Resiliency\\"),
        files(name) {
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    Clean();
  }
  ~Command() override {
    Clean();
    CoUninitialize();
  }
  void Clean() {
    RegDeleteTreeW(HKEY_CURRENT_USER, (L"Software\\" + name).c_str());
    RegDeleteTreeW(HKEY_CURRENT_USER, (L"Software\\Microsoft\\Office\\" + version).c_str());
    RegDeleteTreeW(HKEY_CURRENT_USER, (std::wstring(kAddins) + kMonitor).c_str());
    RegDeleteTreeW(HKEY_CURRENT_USER, (std::wstring(kAddins) + kAddin).c_str());
  }
  std::wstring Run(const std::wstring& args, DWORD* code) {
    return test::RunAndCapture(L"\"" + test::BinDir() + L"tamberlux.exe\" " + args, code, true);
  }
  std::wstring Lower(std::wstring s) {
    CharLowerBuffW(s.data(), static_cast<DWORD>(s.size()));
    return s;
  }

  std::wstring name, version, resiliency;
  ProductTemplate files;
};

TEST_F(Command, StatusJsonShowsWhatDecidesWhetherTheAddInLoads) {
  const std::wstring section = L"Software\\" + name;
  test::SetText(section, L"WordVersion", version);
  test::SetText(section, L"PermanentlyDisableAddin", L"1");
  test::SetText(section, L"FailedWord2000Check", L"1");
  test::SetDword(std::wstring(kAddins) + kMonitor, L"LoadBehavior", 3);
  test::SetText(std::wstring(kAddins) + kMonitor, L"friendlyName", L"ZentrelloMonitor");
  const std::wstring dll = L"c:\\program files\\valdomeren\\" + Lower(name) + L"\\addin.dll";
  test::AddEntry(resiliency + L"DisabledItems", L"A1", test::WordEntry(dll, name));
  test::AddEntry(resiliency + L"DisabledItems", L"B2", test::WordEntry(L"c:\\other\\helper.dll", L"Helper", 2));
  const BYTE junk[] = {1, 2};
  test::SetValue(resiliency + L"DisabledItems", L"C3", REG_BINARY, junk, sizeof(junk));
  test::AddEntry(resiliency + L"StartupItems", L"D4", test::WordEntry(dll, name));
  ProductTemplate::Write(files.Source(L".dot"), "dot");
  ProductTemplate::Write(files.Copy(L".dotm"), "old copy");
  ProductTemplate::SetTime(files.Copy(L".dotm"), FILETIME{1, 1});

  DWORD code = 99;
  const std::wstring output = Run(L"status " + name + L" --json", &code);
  ASSERT_EQ(code, 0u) << std::string(output.begin(), output.end());
  JsonValue s;
  ASSERT_NO_THROW(s = JsonValue::Parse(output)) << std::string(output.begin(), output.end());
  EXPECT_EQ(s[L"product"].text, name);
  EXPECT_EQ(s[L"wordVersion"].text, version);
  EXPECT_EQ(s[L"comAddins"][0][L"progId"].text, kMonitor);
  EXPECT_EQ(s[L"comAddins"][0][L"loadBehavior"].number, 3);
  EXPECT_EQ(s[L"comAddins"][1][L"progId"].text, kAddin);
  EXPECT_TRUE(s[L"comAddins"][1][L"loadBehavior"].IsNull()) << "not registered";

  const JsonValue& disabled = s[L"disabledItems"];
  ASSERT_EQ(disabled.items.size(), 3u);
  EXPECT_EQ(disabled[0][L"value"].text, L"A1");
  EXPECT_EQ(disabled[0][L"type"].number, 1);
  EXPECT_EQ(disabled[0][L"path"].text, dll);
  EXPECT_EQ(disabled[0][L"friendlyName"].text, name);
  EXPECT_TRUE(disabled[0][L"product"].boolean);
  EXPECT_EQ(disabled[1][L"type"].number, 2);
  EXPECT_EQ(disabled[1][L"friendlyName"].text, L"Helper");
  EXPECT_FALSE(disabled[1][L"product"].boolean);
  EXPECT_TRUE(disabled[2][L"path"].IsNull()) << "data of another shape is shown undecoded";
  ASSERT_EQ(s[L"startupItems"].items.size(), 1u);
  EXPECT_TRUE(s[L"startupItems"][0][L"product"].boolean);

  EXPECT_EQ(s[L"permanentlyDisableAddin"].text, L"1");
  EXPECT_EQ(s[L"failedWord2000Check"].text, L"1");
  const JsonValue& copies = s[L"template"][L"copies"];
  ASSERT_EQ(copies.items.size(), 2u);
  EXPECT_EQ(copies[0][L"file"].text, name + L".dot");
  EXPECT_EQ(copies[0][L"state"].text, L"missing");
  EXPECT_FALSE(copies[0][L"used"].boolean);
  EXPECT_TRUE(copies[0][L"sourceExists"].boolean);
  EXPECT_EQ(copies[1][L"state"].text, L"different time");
  EXPECT_TRUE(copies[1][L"used"].boolean) << "Word 12 uses the .dotm copy";
  EXPECT_FALSE(copies[1][L"sourceExists"].boolean);

  // Nothing was changed by looking.
  EXPECT_EQ(test::ValueNames(resiliency + L"DisabledItems").size(), 3u);
  EXPECT_EQ(ProductTemplate::Read(files.Copy(L".dotm")), "old copy");
  const std::wstring text = Run(L"status " + name, &code);
  EXPECT_EQ(code, 0u);
  EXPECT_NE(text.find(L"A1  type 1  " + dll + L"  \"" + name + L"\"  <- the add-in"), std::wstring::npos)
      << std::string(text.begin(), text.end());
}

TEST_F(Command, StatusOfAProductNeverLaunchedOrWithACorruptVersionSaysSo) {
  DWORD code = 99;
  JsonValue s = JsonValue::Parse(Run(L"status " + name + L" --json", &code));
  EXPECT_EQ(code, 0u);
  EXPECT_TRUE(s[L"wordVersion"].IsNull());
  EXPECT_TRUE(s[L"disabledItems"].items.empty());
  EXPECT_TRUE(s[L"comAddins"][0][L"loadBehavior"].IsNull());
  EXPECT_EQ(s[L"template"][L"copies"][1][L"state"].text, L"missing");

  test::SetText(L"Software\\" + name, L"WordVersion", L"twelve");
  s = JsonValue::Parse(Run(L"status " + name + L" --json", &code));
  EXPECT_EQ(code, 0u);
  EXPECT_EQ(s[L"wordVersion"].text, L"twelve");
  EXPECT_FALSE(s[L"template"][L"copies"][0][L"used"].boolean) << "no version text: neither copy is the one used";
  EXPECT_FALSE(s[L"template"][L"copies"][1][L"used"].boolean);
}

TEST_F(Command, LaunchStartsWordAndAnswersWithItsState) {
  test::WordStandIn word;
  ASSERT_EQ(test::Regsvr32(L"/s"), 0u);
  DWORD code = 99;
  EXPECT_EQ(Run(L"launch " + name, &code), L"Word 12.0 is running with 1 document open; " + name + L" launched.\r\n");
  EXPECT_EQ(code, 0u);
  EXPECT_EQ(Run(L"launch " + name + L" --no-macro", &code),
            L"Word 12.0 is running with 2 documents open; " + name + L" launched.\r\n");
  EXPECT_EQ(code, 0u);
  const auto calls = word.Calls();
  EXPECT_EQ(std::count(calls.begin(), calls.end(), L"Run\tSetStartedFromIcon"), 1) << "--no-macro skips it";
  EXPECT_EQ(word.Processes().size(), 1u) << "the second launch attaches to the running Word";
}

TEST_F(Command, LaunchFailuresGiveAMessageAndTheirExitCode) {
  test::WordStandIn word;
  DWORD code = 99;
  EXPECT_NE(Run(L"launch", &code).find(L"usage: tamberlux launch NAME"), std::wstring::npos);
  EXPECT_EQ(code, 2u);
  Run(L"launch " + name + L" --fast", &code);
  EXPECT_EQ(code, 2u);
  Run(L"status", &code);
  EXPECT_EQ(code, 2u);

  ASSERT_EQ(test::Regsvr32(L"/u /s"), 0u);
  EXPECT_EQ(Run(L"launch " + name, &code),
            L"tamberlux: Tamberlux.Main2 is not registered: run regsvr32 on Tamberlux.dll first\r\n");
  EXPECT_EQ(code, 3u);
  EXPECT_TRUE(word.Processes().empty());

  ASSERT_EQ(test::Regsvr32(L"/s"), 0u);
  word.Unregister();
  test::DialogWatch watch;
  EXPECT_EQ(Run(L"launch " + name, &code), L"tamberlux: the launch did not reach Word\r\n");
  EXPECT_EQ(code, 4u);
  EXPECT_EQ(watch.Result().title, name + L" could not start Word. Is it corrupted?");
}

}  // namespace
}  // namespace tamberlux
