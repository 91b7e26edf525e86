// The error trap as a procedure and the reporter experience it: each answer changes what a failing procedure does.
#include <gtest/gtest.h>

#include "TestSupport.h"
#include "errortrap/Procedure.h"
#include "errortrap/vbwProtector.h"

namespace tamberlux::ErrorTrapTests {
namespace {

using test::ReporterStandIn;
using vbw::Proc;
using vbw::Var;
using Lines = std::vector<std::wstring>;

// A small module of procedures written the way the component writes them.
int32_t mCounter = 0;
void ReportSampleModule(const void*) {
  vbw::vbwReportToFile(vbw::kModuleBanner);
  vbw::ReportVar(L"mCounter", mCounter);
}

// Steps 1..4 append their digit; step 2 fails the first `failures` times.
std::wstring Steps(const std::wstring& label, int failures) {
  std::wstring result;
  int attempts = 0;
  Proc p(L"Sample.Steps", ReportSampleModule, {Var(L"label", label), Var(L"failures", failures)});
  p.Local(L"attempts", attempts);
  p.Run([&] {
    p(1, [&] { result += L"1"; });
    p(2, [&] {
      if (attempts++ < failures) vb::Raise(vb::kTypeMismatch);
      result += L"2";
    });
    p(3, [&] { result += L"3"; });
    p(4, [&] { result += L"4"; });
  });
  return result;
}

// Fails with `number` at step `line` of the procedure `name` ("Module.Procedure").
void FailOn(const wchar_t* name, int line, int32_t number) {
  Proc p(name, ReportSampleModule);
  p.Run([&] { p(line, [&] { vb::Raise(number); }); });
}

void NoParameters() { Proc p(L"Sample.NoParameters", ReportSampleModule); }

// Step 2 fails under Resume Next: skipped without asking.
void SkipsAFailure() {
  Proc p(L"Sample.SkipsAFailure", ReportSampleModule);
  p.Run([&] {
    p.ResumeNext();
    p(2, [&] { vb::Raise(vb::kTypeMismatch); });
  });
}

class ErrorTrap : public ::testing::Test {
 protected:
  test::StartedTrap trap;
  ReporterStandIn reporter;
};

TEST(ErrorTrapAnswers, EachAnswerOrAMissingReporterDecidesWhatTheFailingProcedureDoesNext) {
  enum Reporter { kAnswers, kUnregistered, kFailingQuestion };
  struct Case { const char* what; Reporter reporter; std::vector<LONG> answers; int failures; std::wstring result;
                Lines methods; };
  const std::wstring init = L"vbwInitializeProtector", ask = L"vbwErrorHandler";
  const Case cases[] = {
      {"retry runs the step again; the reporter is made anew", kAnswers, {4, 4}, 2, L"1234", {init, ask, init, ask}},
      {"ignore goes on with the next step", kAnswers, {5}, 5, L"134", {init, ask}},
      {"exit leaves with the partial result", kAnswers, {7}, 5, L"1", {init, ask}},
      {"an unknown answer leaves too", kAnswers, {0}, 5, L"1", {init, ask}},
      {"end tells the reporter to exit the thread", kAnswers, {3}, 5, L"1", {init, ask, L"vbwExitThread"}},
      {"no reporter: left, no loop", kUnregistered, {}, 5, L"1", {}},
      {"a failing question: left after one try", kFailingQuestion, {}, 5, L"1", {init, ask}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    test::StartedTrap trap;
    ReporterStandIn reporter;
    reporter.Answer(c.answers);
    if (c.reporter == kUnregistered) reporter.Unregister();
    if (c.reporter == kFailingQuestion) reporter.Fail(L"vbwErrorHandler", -1);
    EXPECT_EQ(Steps(L"x", c.failures), c.result);
    EXPECT_EQ(reporter.Methods(), c.methods);
    EXPECT_EQ(vbw::State().mStackCalls, 0) << "leaving passes through the exit trace";
    EXPECT_EQ(vbw::State().handlerDepth, 0);
    if (c.reporter != kAnswers || c.answers[0] == 3) {
      EXPECT_FALSE(vbw::State().mErrorParams) << "the reporter is dropped";
    }
  }
}

// Code that re-enters the component while the reporter's window is up (a message the window pumped) may fail too:
// that failure is asked in its own right, and the open question keeps its key, its answer and its log. Only the
// reporter's own failure is answered at once, and only its question is logged as not reported.
TEST(ErrorTrapAnswers, AFailureWhileTheReporterIsAskedIsAQuestionOfItsOwn) {
  struct Case { const char* what; std::vector<LONG> answers; bool innerQuestionFails; std::wstring result;
                int asked; size_t innerLogged; bool outerRemembered; } const cases[] = {
      {"both asked, each answered", {7, 5}, false, L"134", 2, 0, false},
      {"the inner question's reporter fails: only it is logged", {5}, true, L"134", 2, 1, false},
      {"always ignore remembers the open question's statement", {7, 6}, false, L"134", 2, 0, true},
  };
  const std::wstring process = L"  process " + std::to_wstring(GetCurrentProcessId()) + L"  ";
  const std::wstring outerLine = process + L"Tamberlux.Sample.Steps, line 2";
  const std::wstring innerLine = process + L"Tamberlux.Inner.FailOn, line 5\r\n  error 91: ";
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    test::StartedTrap trap;
    ReporterStandIn reporter;
    reporter.Answer(c.answers);
    if (c.innerQuestionFails) reporter.Fail(L"vbwErrorHandler", 1);
    reporter.DuringQuestion([] { FailOn(L"Inner.FailOn", 5, 91); });
    const std::wstring logBefore = test::Tamberlux(L"log", false).Text();
    EXPECT_EQ(Steps(L"x", 1), c.result);
    const Lines records = reporter.Records();
    ASSERT_EQ(reporter.Count(L"vbwErrorHandler"), c.asked);
    EXPECT_EQ(records[1].substr(0, 44), L"vbwErrorHandler 13 Type mismatch Tamberlux S");
    EXPECT_EQ(records[2].substr(0, 55), L"vbwErrorHandler 91 Object variable or With block variab");
    EXPECT_NE(records[2].find(L" Tamberlux Inner FailOn 5 "), std::wstring::npos) << ToUtf8(records[2]);
    const std::wstring logAfter = test::Tamberlux(L"log", false).Text();
    EXPECT_EQ(test::Occurrences(logAfter, outerLine), test::Occurrences(logBefore, outerLine))
        << "the open question was reported: not logged";
    EXPECT_EQ(test::Occurrences(logAfter, innerLine) - test::Occurrences(logBefore, innerLine), c.innerLogged);
    EXPECT_EQ(vbw::State().handlerDepth, 0);
    EXPECT_FALSE(vbw::State().mErrorParams) << "the reporter is dropped after the answer";
    // The open question's statement again, then the inner one again.
    const int before = reporter.Count(L"vbwErrorHandler");
    reporter.Answer({}, vbw::vbwActionIgnore);
    EXPECT_EQ(Steps(L"x", 1), L"134");
    EXPECT_EQ(reporter.Count(L"vbwErrorHandler") - before, c.outerRemembered ? 0 : 1);
    FailOn(L"Inner.FailOn", 5, 91);
    EXPECT_EQ(reporter.Count(L"vbwErrorHandler") - before, c.outerRemembered ? 1 : 2) << "the inner one is asked";
  }
}

// The question names the failing statement (number, description, project, module, procedure, the
// step's number as its line, depth, stack); a dump answer reports every level, then asks again with -1.
TEST_F(ErrorTrap, DumpReportsParametersLocalsModuleAndGlobalsThenAsksAgainWithMinusOne) {
  mCounter = 7;
  reporter.Answer({vbw::vbwActionDumpVariables, vbw::vbwActionIgnore});
  EXPECT_EQ(Steps(L"lbl", 1), L"134");
  const std::wstring banner = L"vbwReportToFile ";
  const Lines expected = {
      L"vbwInitializeProtector True False False True True True",
      L"vbwErrorHandler 13 Type mismatch Tamberlux Sample Steps 2 1 [1:Sample.Steps]",
      L"vbwOpenDumpFile",
      banner + vbw::kLocalBanner,
      L"vbwReportVariable label lbl 0",
      L"vbwReportVariable failures 1 0",
      L"vbwReportVariable attempts 1 0",
      banner + vbw::kModuleBanner,
      L"vbwReportVariable mCounter 7 0",
      banner + vbw::kGlobalBanner,
      L"vbwReportVariable vbwProtector.vbwTraceProc True 0",
      L"vbwReportVariable vbwProtector.vbwTraceParameters False 0",
      L"vbwReportObject Tamberlux.App Nothing 0",
      L"vbwReportObject Err Object(13 Type mismatch) 0",
      L"vbwReportObject Tamberlux.Screen Nothing 0",
      L"vbwReportObject Tamberlux.Printer Nothing 0",
      L"vbwCloseDumpFile",
      L"vbwErrorHandler -1 Type mismatch Tamberlux Sample Steps 2 1 [1:Sample.Steps]",
  };
  EXPECT_EQ(reporter.Records(), expected);
}

TEST_F(ErrorTrap, ADumpWhoseReporterFailsStillAsksAgainAndLeaves) {
  reporter.Answer({vbw::vbwActionDumpVariables});
  reporter.Fail(L"vbwOpenDumpFile", -1);
  EXPECT_EQ(Steps(L"x", 5), L"1");
  EXPECT_EQ(reporter.Records().back().substr(0, 19), L"vbwErrorHandler -1 ");
  // Each forwarder fails through its own tail: the open's failure, whose answer drops the reporter, then "no
  // reporter" (91) for each of the dump's eight calls that do not ignore a failure, then the second question.
  EXPECT_EQ(reporter.Count(L"vbwErrorHandler"), 11);
  EXPECT_EQ(vbw::State().handlerDepth, 0);
}

// "Always ignore" goes on with the next step, as ignore does, and silences that statement for the rest of the
// session: after other questions, other answers and a new reporter, it is still not asked.
TEST_F(ErrorTrap, AlwaysIgnoreGoesOnAndSilencesOneStatementOfAModuleForTheSession) {
  reporter.Answer({vbw::vbwActionAlwaysIgnore, vbw::vbwActionAlwaysIgnore}, vbw::vbwActionIgnore);
  EXPECT_EQ(Steps(L"x", 1), L"134") << "steps 3 and 4 run after the failing step 2";
  FailOn(L"Sample.FailOn", 3, 91);
  struct Case { const wchar_t* procedure; int line; int32_t number; bool asked; } const cases[] = {
      {L"Sample.FailOn", 3, 91, false},     // the same statement again
      {L"Sample.Other", 3, 91, false},      // step numbers are unique within a module: the same statement
      {L"Sample.FailOn", 4, 91, true},      // another statement
      {L"Sample.FailOn", 3, 92, true},      // another error
      {L"Elsewhere.FailOn", 3, 91, true},   // another module
  };
  for (const Case& c : cases) {
    const int before = reporter.Count(L"vbwErrorHandler");
    FailOn(c.procedure, c.line, c.number);
    EXPECT_EQ(reporter.Count(L"vbwErrorHandler") - before, c.asked ? 1 : 0) << c.line << " " << c.number;
  }
  const int asked = reporter.Count(L"vbwErrorHandler");
  reporter.Answer({vbw::vbwActionExitProcedure}, vbw::vbwActionIgnore);
  FailOn(L"Elsewhere.Other", 7, 5);
  EXPECT_EQ(Steps(L"x", 3), L"134") << "still silent: each attempt is skipped as ignored";
  FailOn(L"Sample.FailOn", 3, 91);
  EXPECT_EQ(reporter.Count(L"vbwErrorHandler") - asked, 1) << "only the other statement was asked";
}

TEST_F(ErrorTrap, SixtyFiveNestedProceduresKeepTheFirstSixtyFourAndComeBack) {
  int16_t deepest = 0;
  std::wstring top;
  const std::function<void(int)> go = [&](int level) {
    Proc p(level == 65 ? L"Sample.Deepest" : L"Sample.Level", ReportSampleModule);
    if (level < 65) return go(level + 1);
    deepest = vbw::State().mStackCalls;
    top = vbw::StackEntry(64);
  };
  go(1);
  EXPECT_EQ(deepest, 65);
  EXPECT_EQ(top, L"Sample.Level") << "the 65th entry is not stored";
  vbw::vbwProcOut(L"Sample.Nothing");
  EXPECT_EQ(vbw::State().mStackCalls, 0) << "back at 0, and an exit at depth 0 stays there";
}

// With tracing on, each procedure builds its parameter text through the reporter and hands it to vbwProcIn; a stack
// at its limit makes vbwProcIn fail, and its dump shows both of its arguments.
TEST(ErrorTrapTracing, ProcInReceivesTheParameterTextOnlyWhenTracingIsOn) {
  struct Case { bool traceParameters; void (*run)(); std::wstring procIn; Lines parameterCalls; } const cases[] = {
      {false, [] { Steps(L"abc", 0); }, L"lProc Sample.Steps 0|lParameters  0", {}},
      {true, [] { Steps(L"abc", 0); }, L"lProc Sample.Steps 0|lParameters (label=abc, failures=0)  0",
       {L"vbwReportParameter label abc", L"vbwReportParameter failures 0"}},
      {true, NoParameters, L"lProc Sample.NoParameters 0|lParameters () 0", {}},
  };
  for (const Case& c : cases) {
    test::StartedTrap trap;
    ReporterStandIn reporter;
    vbw::State().mErrorParams = NewObject(L"ZentrelloError.Main2", CLSCTX_INPROC_SERVER);  // live, as after a dump
    vbw::State().vbwTraceParameters = c.traceParameters;
    vbw::State().mStackCalls = 32767;
    reporter.Answer({vbw::vbwActionDumpVariables}, vbw::vbwActionIgnore);
    c.run();
    Lines parameterCalls;
    std::wstring procIn, overflow;
    for (const auto& r : reporter.Records()) {
      if (r.starts_with(L"vbwReportParameter")) parameterCalls.push_back(r);
      if (r.starts_with(L"vbwReportVariable lP")) procIn += (procIn.empty() ? L"" : L"|") + r.substr(18);
      if (r.starts_with(L"vbwErrorHandler 6 ")) overflow = r.substr(0, 59);
    }
    EXPECT_EQ(parameterCalls, c.parameterCalls);
    EXPECT_EQ(procIn, c.procIn);
    EXPECT_EQ(overflow, L"vbwErrorHandler 6 Overflow Tamberlux vbwProtector vbwProcIn");
  }
}

// With tracing on, a skipped failure leaves one line in the error log, shown by `tamberlux log` as ignored; off, none.
TEST(ErrorTrapTracing, AFailureSkippedUnderResumeNextIsLoggedAsIgnoredOnlyWhenTracingIsOn) {
  const std::wstring shown = L"  process " + std::to_wstring(GetCurrentProcessId()) +
                             L"  Tamberlux.Sample.SkipsAFailure, line 2\r\n  ignored error 13: Type mismatch\r\n";
  const auto timesShown = [&] { return test::Occurrences(test::Tamberlux(L"log", false).Text(), shown); };
  for (const bool tracing : {false, true}) {
    test::StartedTrap trap;
    ReporterStandIn reporter;
    vbw::State().vbwTraceLine = tracing;
    const size_t before = timesShown();
    SkipsAFailure();
    EXPECT_EQ(timesShown() - before, tracing ? 1u : 0u) << "tracing " << tracing;
    EXPECT_EQ(reporter.Count(L"vbwErrorHandler"), 0) << "nobody is asked";
  }
}

// The trace switch comes from "/trace" on the host's command line or the per-user setting; the stack is kept anyway.
TEST(TraceSwitch, FollowsTheCommandLineAndThePerUserSetting) {
  // The probe runs in its own process on the real user hive: the setting is put back afterwards.
  const std::wstring init = L"Software\\VB and VBA Program Settings\\Tamberlux\\Init";
  test::KeptUserKey kept(init);
  const std::wstring on = L"vbwTraceLine=1 mOldTraceProc=1 vbwTraceParameters=1 vbwTraceProc=1 vbwCallStack=1";
  const std::wstring off = L"vbwTraceLine=0 mOldTraceProc=0 vbwTraceParameters=0 vbwTraceProc=1 vbwCallStack=1";
  struct Case { const wchar_t *setting /* null: none */, *args; const std::wstring& expected; } const cases[] = {
      {nullptr, L"", off},           {nullptr, L" /trace", on}, {nullptr, L" --x=a/tracer", on},  // anywhere
      {nullptr, L" /TRACE", off},    {L"1", L"", on},           {L"yes", L"", off},
  };
  for (const Case& c : cases) {
    RegDeleteTreeW(HKEY_CURRENT_USER, init.c_str());
    if (c.setting) test::SetText(init, L"vbwTrace", c.setting);
    EXPECT_EQ(test::Run(L"\"" + test::BinDir() + L"TraceSwitchProbe.exe\"" + c.args).Text(), c.expected)
        << ToUtf8(c.args) << " setting " << (c.setting ? ToUtf8(c.setting) : "none");
  }
}

}  // namespace
}  // namespace tamberlux::ErrorTrapTests
