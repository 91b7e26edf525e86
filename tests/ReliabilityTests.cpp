// What a hostile caller meets: texts that cannot be what they claim are refused through the error trap and nothing
// of the user's is touched; and the error log the trap writes when its reporter cannot be had.
#include <gtest/gtest.h>

#include <algorithm>

#include "TestSupport.h"
#include "base/Text.h"
#include "errortrap/ErrorLog.h"

namespace tamberlux {
namespace {

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

class Hostile : public test::Main2Test {
 protected:
  void SetUp() override {
    Main2Test::SetUp();
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

  test::PrivateUserHive hive;
};

TEST_F(Hostile, AVersionNotShapedLikeWordsIsRefusedAndDeletesNothing) {
  const auto all = OfficeValues();
  ASSERT_EQ(all.size(), 5u);
  expectedQuestions = 14;
  for (const std::wstring& version :
       {L""s, L"\\"s, L"\\\\"s, L"12.0\\Word\\Resiliency\\StartupItems\0x"s, L"12.0\0"s, L"12"s, L"12.0.1"s, L"."s,
        L"12.0 "s, L"..\\12.0"s, L"\uff11\uff12.0"s, L"12\uff0e0"s, L"12.0\\Word\\Data\\.."s, L"12.0\\Word"s}) {
    SCOPED_TRACE(testing::Message() << "version of " << version.size() << " characters");
    ASSERT_EQ(Call(main2, L"DeleteCorruptedDataFolder", version), S_OK) << "nothing escapes";
    EXPECT_EQ(LastQuestion(), (std::vector<std::wstring>{L"5", L"\"" + version + L"\" cannot be a Word version",
                                                         L"Main2.DeleteCorruptedDataFolder"}));
    EXPECT_EQ(OfficeValues(), all);
  }
  ASSERT_EQ(Call(main2, L"DeleteCorruptedDataFolder", L"12.0"), S_OK);
  EXPECT_FALSE(test::KeyExists(WordKeys::DataKey(L"12.0")));
  EXPECT_EQ(OfficeValues().size(), 4u) << "only Word 12's Data key went";
  // A Data key with sub-keys is kept, and neither it nor a missing one is reported.
  const size_t asked = reporter.Calls().size();
  test::SetText(WordKeys::DataKey(L"14.0") + L"\\Sub", L"x", L"y");
  for (const wchar_t* version : {L"14.0", L"15.0"}) ASSERT_EQ(Call(main2, L"DeleteCorruptedDataFolder", version), S_OK);
  EXPECT_TRUE(test::KeyExists(WordKeys::DataKey(L"14.0") + L"\\Sub"));
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
  expectedQuestions = 1;  // the recorded version, refused
  ASSERT_EQ(Call(main2, L"StartRunTime", L"Zentrello"), S_OK);
  const auto question = LastQuestion();
  EXPECT_EQ(question.empty() ? L"" : question[0] + L" " + question[2], L"5 Main2.enableTamberlux");
  EXPECT_TRUE(test::KeyExists(WordKeys::ResiliencyKey(L"12.0") + L"StartupItems"));
  EXPECT_TRUE(test::ReadRaw(WordKeys::ResiliencyKey(L"12.0") + L"DisabledItems", L"Z").exists);
  EXPECT_EQ(word.Processes().size(), 1u) << "the launch itself goes on";
}

// The error log: written by the trap when the reporter cannot be had, read with `tamberlux log`. On the real user
// hive, where the command finds the same folder: every version here is refused, so nothing of the user's is touched.
class ErrorLogFile : public test::Main2Test {
 protected:
  void SetUp() override {
    Main2Test::SetUp();
    ASSERT_FALSE(path.empty());
    RemoveLogs();
    // Other tests leave the stand-in reporter registered: here there is none.
    reporter.Unregister();
  }
  void TearDown() override {
    Main2Test::TearDown();
    RemoveLogs();
  }
  void RemoveLogs() const {
    DeleteFileW(path.c_str());
    DeleteFileW((path + L".1").c_str());
  }
  HRESULT Delete(const std::wstring& version) { return Call(main2, L"DeleteCorruptedDataFolder", version); }
  std::wstring Logged() {
    const test::Ran r = test::Tamberlux(L"log");
    EXPECT_EQ(r.code, 0u);
    return r.Text();
  }
  static size_t Reports(const std::wstring& log) { return test::Occurrences(log, L"\r\n  not reported: "); }
  const std::wstring path = vbw::ErrorLog::Path();
};

TEST_F(ErrorLogFile, WithoutItsReporterTheTrapWritesALineThatTheCommandShowsAndRotates) {
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

  reporter.Unregister();  // without it again: the log rotated at its bound, and one that cannot be written
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

}  // namespace
}  // namespace tamberlux
