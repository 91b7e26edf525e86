// What a hostile caller meets: texts that cannot be what they claim are refused through the error trap and nothing
// of the user's is touched; and the error log the trap writes when its reporter cannot be had.
#include <gtest/gtest.h>

#include <algorithm>

#include "TestSupport.h"
#include "base/Text.h"
#include "errortrap/ErrorLog.h"

namespace tamberlux::ReliabilityTests {
namespace {

using namespace std::string_literals;

const std::wstring kOffice = L"Software\\Microsoft\\Office\\";  // the keys of kKept lie below it
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
  EXPECT_FALSE(test::KeyExists(L"Software\\Microsoft\\Office\\12.0\\Word\\Data"));
  EXPECT_EQ(OfficeValues().size(), 4u) << "only Word 12's Data key went";
  // A Data key with sub-keys is kept, and neither it nor a missing one is reported.
  const size_t asked = reporter.Calls().size();
  test::SetText(L"Software\\Microsoft\\Office\\14.0\\Word\\Data\\Sub", L"x", L"y");
  for (const wchar_t* version : {L"14.0", L"15.0"}) ASSERT_EQ(Call(main2, L"DeleteCorruptedDataFolder", version), S_OK);
  EXPECT_TRUE(test::KeyExists(L"Software\\Microsoft\\Office\\14.0\\Word\\Data\\Sub"));
  EXPECT_EQ(reporter.Calls().size(), asked);
}

TEST_F(Hostile, ARecordedVersionThatIsNoVersionLeavesWordsListsAlone) {
  test::WordStandIn word;
  // A recorded version with an embedded NUL would cut the resiliency path short.
  const std::wstring recorded = L"12.0\\Word\\Resiliency\\StartupItems\0x"s;
  test::SetValue(L"Software\\Zentrello", L"WordVersion", REG_SZ, recorded.c_str(),
                 static_cast<DWORD>((recorded.size() + 1) * sizeof(wchar_t)));
  test::AddEntry(L"Software\\Microsoft\\Office\\12.0\\Word\\Resiliency\\DisabledItems", L"Z",
                 test::WordEntry(L"c:\\zentrello\\zentrello.dll", L"Zentrello"));
  expectedQuestions = 1;  // the recorded version, refused
  ASSERT_EQ(Call(main2, L"StartRunTime", L"Zentrello"), S_OK);
  const auto question = LastQuestion();
  EXPECT_EQ(question.empty() ? L"" : question[0] + L" " + question[2], L"5 Main2.enableTamberlux");
  EXPECT_TRUE(test::KeyExists(L"Software\\Microsoft\\Office\\12.0\\Word\\Resiliency\\StartupItems"));
  EXPECT_TRUE(test::ReadRaw(L"Software\\Microsoft\\Office\\12.0\\Word\\Resiliency\\DisabledItems", L"Z").exists);
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
  log = Logged();
  EXPECT_EQ(Reports(log), 1u) << "the new log holds the one report";
  EXPECT_NE(log.find(L": 1 report and 1 damaged line, oldest first\r\n\r\n"
                     L"damaged line 1 of errors.log.1 (262134 bytes, not a whole report; its first 200 shown):\r\n  " +
                     std::wstring(200, L'o') + L"\r\n\r\n"),
            std::wstring::npos);
  ASSERT_EQ(Delete(L"b"), S_OK);
  ASSERT_EQ(Reports(Logged()), 2u);
  EXPECT_NE(test::Tamberlux(L"log --json").Text().find(L"\"writable\": true, \"problem\": \"\""), std::wstring::npos);

  // A log that cannot be written: the caller still never fails, and log and status say so.
  DeleteFileW((path + L".1").c_str());
  {
    const Handle held(CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(held) << "another program holds the log for itself";
    EXPECT_EQ(Delete(L"c"), S_OK);
    EXPECT_EQ(Logged(), L"The error log cannot be written: the file cannot be opened for writing (Windows error 32); "
                        L"a report the error reporter cannot take is lost.\r\nThe error log cannot be read: errors.log "
                        L"(Windows error 32); its reports are not shown.\r\nNo errors logged (" + path + L").\r\n");
  }
  RemoveLogs();
  ASSERT_TRUE(CreateDirectoryW(path.c_str(), nullptr));
  EXPECT_EQ(Delete(L"c"), S_OK);
  EXPECT_EQ(Logged(), L"The error log cannot be written: its path is taken by a folder; a report the error reporter "
                      L"cannot take is lost.\r\nThe error log cannot be read: errors.log (a folder, not a file); its "
                      L"reports are not shown.\r\nNo errors logged (" + path + L").\r\n");
  const std::wstring status =
      test::Tamberlux(L"status Zentrello").Text() + test::Tamberlux(L"status Zentrello --json").Text();
  EXPECT_NE(status.find(L"\r\n  error log: cannot be written (its path is taken by a folder): " + path + L"\r\n"),
            std::wstring::npos) << ToUtf8(status);
  EXPECT_NE(status.find(L"\"writable\": false, \"problem\": \"its path is taken by a folder\"}"), std::wstring::npos);
  RemoveDirectoryW(path.c_str());
}

// A line a writer left torn, or bytes that were never a report: each shown as damaged, escaped and counted, in its
// place, and kept; a report written after a torn line starts its own.
TEST_F(ErrorLogFile, ADamagedLineIsShownEscapedAndCountedAndStopsNoReader) {
  const std::string good =
      R"({"time": "2026-12-07T10:00:00Z", "process": 7, "project": "Tamberlux", "module": "Main2", )"
      R"("procedure": "StartRunTime", "number": 5, "description": "kept\u0007", "line": 3, )"
      R"("stack": ["Main2.StartRunTime"], "parameters": [], "dump": [], "reporter": "none"})";
  const std::string previous = good + "\r\n" + R"({"time": "2026-12-07T10:00:01Z", "description": "cut \u)";
  const std::string current = R"({"time": "t", "procedure": "p", "number": 5, "description": "\uZZZZ"})"
                              "\r\n\xff\xfe{\"x\"\0\r\n"s
                              R"({"time": "t", "procedure": "p", "number": 5} and more)"
                              "\r\n{}\r\n" + good + "\r\n\r\n" +
                              R"({"time": "t", "procedure": "p", "number": 5, "description": "a)" "\ttab\"}\n" +
                              R"({"time": "t", "procedure": "p", "number": 5, "description": "a\u00)";
  test::WriteWholeFile(path + L".1", previous);
  test::WriteWholeFile(path, current);
  ASSERT_EQ(Delete(L"d"), S_OK);
  const std::string after = test::ReadWholeFile(path);  // nothing of the damage lost; the report on a line of its own
  EXPECT_EQ(after.substr(0, current.size() + 3) + after.substr(after.size() - 3), current + "\r\n{}\r\n");

  const std::wstring log = Logged();
  EXPECT_EQ(Reports(log), 3u) << ToUtf8(log);
  for (const wchar_t* shown : {
           L": 3 reports and 7 damaged lines, oldest first\r\n\r\n2026-12-07T10:00:00Z  process 7  "
           L"Tamberlux.Main2.StartRunTime, line 3\r\n  error 5: kept\\x07\r\n  not reported: none\r\n"
           L"  call stack: Main2.StartRunTime\r\n  parameters: \r\n\r\n"
           L"damaged line 2 of errors.log.1 (55 bytes, not a whole report):\r\n"
           L"  {\"time\": \"2026-12-07T10:00:01Z\", \"description\": \"cut \\u\r\n\r\n"
           L"damaged line 1 of errors.log (69 bytes, not a whole report):\r\n"
           L"  {\"time\": \"t\", \"procedure\": \"p\", \"number\": 5, \"description\": \"\\uZZZZ\"}\r\n\r\n"
           L"damaged line 2 of errors.log (7 bytes, not a whole report):\r\n  \\xff\\xfe{\"x\"\\x00\r\n\r\n"
           L"damaged line 3 of errors.log (53 bytes, not a whole report):\r\n"
           L"  {\"time\": \"t\", \"procedure\": \"p\", \"number\": 5} and more\r\n\r\n"
           L"damaged line 4 of errors.log (2 bytes, not a whole report):\r\n  {}\r\n\r\n2026-12-07T10:00:00Z",
           L"damaged line 7 of errors.log (68 bytes, not a whole report):\r\n"
           L"  {\"time\": \"t\", \"procedure\": \"p\", \"number\": 5, \"description\": \"a\\x09tab\"}\r\n\r\n"
           L"damaged line 8 of errors.log (66 bytes, not a whole report):\r\n"
           L"  {\"time\": \"t\", \"procedure\": \"p\", \"number\": 5, \"description\": \"a\\u00\r\n\r\n",
           L"  error 5: \"d\" cannot be a Word version\r\n"})
    EXPECT_NE(log.find(shown), std::wstring::npos) << ToUtf8(shown) << "\nin\n" << ToUtf8(log);

  const test::Ran json = test::Tamberlux(L"log --json");
  EXPECT_EQ(json.code, 0u);
  EXPECT_EQ(test::Occurrences(json.Text(), L"{\"time\": "), 3u) << json.bytes;
  EXPECT_NE(json.Text().find(L"{\"file\": \"errors.log\", \"line\": 2, \"bytes\": 7, \"text\": \"\\\\xff\\\\xfe{\\\"x\\\"\\\\x00\"}"),
            std::wstring::npos) << json.bytes;
}

}  // namespace
}  // namespace tamberlux::ReliabilityTests
