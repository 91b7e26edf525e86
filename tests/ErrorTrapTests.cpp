// The error trap as a procedure and the reporter experience it: each answer
// of the reporter changes what a failing procedure does next.
#include <gtest/gtest.h>

#include "TestSupport.h"
#include "errortrap/Procedure.h"
#include "base/VbError.h"
#include "errortrap/vbwProtector.h"

namespace tamberlux {
namespace {

using test::ReporterStandIn;
using vbw::Proc;
using vbw::Var;

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

// Fails with the given number on the given line.
void FailOn(int line, int32_t number) {
  Proc p(L"Sample.FailOn", ReportSampleModule);
  p.Run([&] { p(line, [&] { vb::Raise(number); }); });
}

void Nest(int levels) {
  Proc p(L"Sample.Nest", ReportSampleModule);
  if (levels > 1) Nest(levels - 1);
}

class ErrorTrap : public ::testing::Test {
 protected:
  test::StartedTrap trap;
  ReporterStandIn reporter;
};

TEST_F(ErrorTrap, RetryRunsTheFailingStepAgainUntilItSucceeds) {
  reporter.Answer({vbw::vbwActionRetry, vbw::vbwActionRetry});
  EXPECT_EQ(Steps(L"x", 2), L"1234");

  const auto calls = reporter.Calls();
  ASSERT_EQ(reporter.Count(L"vbwErrorHandler"), 2);
  EXPECT_EQ(calls[0][0], L"vbwInitializeProtector");
  const auto& question = calls[1];
  ASSERT_EQ(question.size(), 9u);
  EXPECT_EQ(question[1], L"13");
  EXPECT_EQ(question[2], L"Type mismatch");
  EXPECT_EQ(question[3], L"Tamberlux");
  EXPECT_EQ(question[4], L"Sample");
  EXPECT_EQ(question[5], L"Steps");
  EXPECT_EQ(question[6], L"2") << "the failing step's number is the line";
  EXPECT_EQ(question[7], L"1");
  EXPECT_EQ(question[8], L"[1:Sample.Steps]");
  // The reporter is dropped after a retry answer: the second question creates
  // and initialises a new one.
  EXPECT_EQ(reporter.Count(L"vbwInitializeProtector"), 2);
  EXPECT_EQ(vbw::State().mStackCalls, 0);
}

TEST_F(ErrorTrap, IgnoreGoesOnWithTheNextStepAndExitReturnsThePartialResult) {
  reporter.Answer({vbw::vbwActionIgnore});
  EXPECT_EQ(Steps(L"x", 5), L"134");

  reporter.Answer({vbw::vbwActionExitProcedure});
  EXPECT_EQ(Steps(L"x", 5), L"1");
  EXPECT_EQ(vbw::State().mStackCalls, 0) << "leaving passes through the exit trace";

  reporter.Answer({0});
  EXPECT_EQ(Steps(L"x", 5), L"1") << "an unknown answer leaves the procedure too";
}

TEST_F(ErrorTrap, EndTellsTheReporterToExitTheThreadAndLeaves) {
  reporter.Answer({vbw::vbwActionEnd});
  EXPECT_EQ(Steps(L"x", 5), L"1");
  EXPECT_EQ(reporter.Methods(),
            (std::vector<std::wstring>{L"vbwInitializeProtector", L"vbwErrorHandler", L"vbwExitThread"}));
  EXPECT_FALSE(vbw::State().mErrorParams) << "the reporter is dropped after the thread's exit";
}

TEST_F(ErrorTrap, DumpReportsParametersLocalsModuleAndGlobalsThenAsksAgainWithMinusOne) {
  mCounter = 7;
  reporter.Answer({vbw::vbwActionDumpVariables, vbw::vbwActionIgnore});
  EXPECT_EQ(Steps(L"lbl", 1), L"134");

  const auto calls = reporter.Calls();
  std::vector<std::wstring> seen;
  for (const auto& c : calls) {
    std::wstring line = c[0];
    if (c[0] == L"vbwReportVariable" || c[0] == L"vbwReportObject") line += L" " + c[1] + L"=" + c[2] + L"," + c[3];
    if (c[0] == L"vbwReportToFile") line += L" " + c[1];
    seen.push_back(line);
  }
  const std::vector<std::wstring> expected = {
      L"vbwInitializeProtector",
      L"vbwErrorHandler",
      L"vbwOpenDumpFile",
      std::wstring(L"vbwReportToFile ") + vbw::kLocalBanner,
      L"vbwReportVariable label=lbl,0",
      L"vbwReportVariable failures=1,0",
      L"vbwReportVariable attempts=1,0",
      std::wstring(L"vbwReportToFile ") + vbw::kModuleBanner,
      L"vbwReportVariable mCounter=7,0",
      std::wstring(L"vbwReportToFile ") + vbw::kGlobalBanner,
      L"vbwReportVariable vbwProtector.vbwTraceProc=True,0",
      L"vbwReportVariable vbwProtector.vbwTraceParameters=False,0",
      L"vbwReportObject Tamberlux.App=Nothing,0",
      L"vbwReportObject Err=Object(13 Type mismatch),0",
      L"vbwReportObject Tamberlux.Screen=Nothing,0",
      L"vbwReportObject Tamberlux.Printer=Nothing,0",
      L"vbwCloseDumpFile",
      L"vbwErrorHandler",
  };
  EXPECT_EQ(seen, expected);
  const auto& first = calls[1];
  const auto& second = calls.back();
  EXPECT_EQ(second[1], L"-1");
  EXPECT_EQ(second[6], first[6]) << "same line";
  EXPECT_EQ(second[7], first[7]) << "same depth";
  EXPECT_EQ(second[8], first[8]) << "the stack is unchanged by the dump";
  // The banners are exact: 26 asterisks, two blanks in the local one.
  EXPECT_EQ(std::wstring(vbw::kLocalBanner).find(L"* LOCAL LEVEL VARIABLES  *\r\n"), 30u);
  EXPECT_EQ(std::wstring(vbw::kModuleBanner).substr(2, 28), L"**************************\r\n");
}

TEST_F(ErrorTrap, AlwaysIgnoredErrorIsSkippedSilentlyForTheSameModuleNumberAndLine) {
  reporter.Answer({vbw::vbwActionAlwaysIgnore}, vbw::vbwActionIgnore);
  FailOn(3, 91);
  EXPECT_EQ(reporter.Count(L"vbwErrorHandler"), 1);
  EXPECT_EQ(vbw::State().StrRememberErrors, vbw::hash(L"Sample", 91, 3));

  // Same module, number and line, even from another procedure: not asked.
  {
    Proc p(L"Sample.Other", ReportSampleModule);
    p.Run([&] { p(3, [] { vb::Raise(91); }); });
  }
  EXPECT_EQ(reporter.Count(L"vbwErrorHandler"), 1);
  EXPECT_FALSE(vbw::State().mErrorParams);

  FailOn(4, 91);   // another line
  FailOn(3, 92);   // another number
  EXPECT_EQ(reporter.Count(L"vbwErrorHandler"), 3);
  {
    Proc p(L"Elsewhere.FailOn", ReportSampleModule);  // another module
    p.Run([&] { p(3, [] { vb::Raise(91); }); });
  }
  EXPECT_EQ(reporter.Count(L"vbwErrorHandler"), 4);
}

TEST_F(ErrorTrap, ErrorKeyAndItsSearch) {
  EXPECT_EQ(vbw::hash(L"Main2", 4605, 12), std::wstring(L"\0Main2\x01" L"4605\x01" L"12\0", 15));
  EXPECT_TRUE(vbw::alwaysIgnore(vbw::hash(L"A", 1, 2) + vbw::hash(L"B", 3, 4), vbw::hash(L"B", 3, 4)));
  EXPECT_FALSE(vbw::alwaysIgnore(vbw::hash(L"A", 1, 2), vbw::hash(L"a", 1, 2)));
  EXPECT_FALSE(vbw::alwaysIgnore(vbw::hash(L"A", 1, 23), vbw::hash(L"A", 1, 2)));
}

TEST_F(ErrorTrap, MissingOrFailingReporterDoesNotLoopAndLeavesTheProcedure) {
  reporter.Unregister();
  EXPECT_EQ(Steps(L"x", 5), L"1");
  EXPECT_EQ(vbw::State().mStackCalls, 0);
  EXPECT_EQ(vbw::State().handlerDepth, 0);
  EXPECT_EQ(reporter.Calls().size(), 0u);
}

TEST_F(ErrorTrap, ReporterFailingItsQuestionLeavesTheProcedureAfterOneTry) {
  reporter.Fail(L"vbwErrorHandler", -1);
  EXPECT_EQ(Steps(L"x", 5), L"1");
  EXPECT_EQ(reporter.Count(L"vbwErrorHandler"), 1);
  EXPECT_FALSE(vbw::State().mErrorParams);

  // A dump whose forwarders fail still ends with the second question, and
  // the procedure is left.
  reporter.Fail(L"*", 0);
  reporter.Answer({vbw::vbwActionDumpVariables});
  reporter.Fail(L"vbwOpenDumpFile", -1);
  EXPECT_EQ(Steps(L"x", 5), L"1");
  const auto calls = reporter.Calls();
  ASSERT_FALSE(calls.empty());
  EXPECT_EQ(calls.back()[0], L"vbwErrorHandler");
  EXPECT_EQ(calls.back()[1], L"-1");
  EXPECT_EQ(vbw::State().handlerDepth, 0);
}

TEST_F(ErrorTrap, ResumeNextRegionSkipsFailuresAndKeepsTheirNumber) {
  std::wstring done;
  int32_t first = -1, second = -1;
  {
    Proc p(L"Sample.MustNotFail", ReportSampleModule);
    p.Run([&] {
      p.ResumeNext();
      p(1, [&] { vb::Raise(4605); });
      first = p.Err();
      p(2, [&] { done += L"2"; });
      second = p.Try(3, [&] { vb::Check(static_cast<HRESULT>(0x800A11FD)); });
      p(4, [&] { done += L"4"; });
    });
  }
  EXPECT_EQ(first, 4605);
  EXPECT_EQ(second, 4605) << "Word's automation error arrives as 4605";
  EXPECT_EQ(done, L"24");
  EXPECT_EQ(reporter.Calls().size(), 0u) << "ignored errors reach no reporter";
}

TEST(ErrorNumbers, AreTheOnesAVisualBasicCallerSees) {
  EXPECT_EQ(vb::NumberFromHResult(static_cast<HRESULT>(0x800A11FD)), 4605);
  EXPECT_EQ(vb::NumberFromHResult(static_cast<HRESULT>(0x800A000D)), 13);
  EXPECT_EQ(vb::NumberFromHResult(DISP_E_MEMBERNOTFOUND), 438);
  EXPECT_EQ(vb::NumberFromHResult(DISP_E_UNKNOWNNAME), 438);
  EXPECT_EQ(vb::NumberFromHResult(DISP_E_TYPEMISMATCH), 13);
  EXPECT_EQ(vb::NumberFromHResult(REGDB_E_CLASSNOTREG), 429);
  EXPECT_EQ(vb::NumberFromHResult(E_FAIL), static_cast<int32_t>(0x80004005));
  EXPECT_EQ(vb::NumberFromHResult(static_cast<HRESULT>(0x800706BA)), static_cast<int32_t>(0x800706BA));
}

TEST_F(ErrorTrap, SixtyFiveNestedProceduresKeepTheFirstSixtyFourAndComeBack) {
  struct Deep {
    static void Go(int level, int16_t& deepest, std::wstring& top) {
      Proc p(level == 65 ? L"Sample.Deepest" : L"Sample.Level", ReportSampleModule);
      if (level < 65) return Go(level + 1, deepest, top);
      deepest = vbw::State().mStackCalls;
      top = vbw::StackEntry(64);
    }
  };
  int16_t deepest = 0;
  std::wstring top;
  Deep::Go(1, deepest, top);
  EXPECT_EQ(deepest, 65);
  EXPECT_EQ(top, L"Sample.Level") << "the 65th entry is not stored";
  EXPECT_EQ(vbw::State().mStackCalls, 0);
  EXPECT_EQ(vbw::StackEntry(1), L"Sample.Level") << "stale entries stay";

  vbw::vbwProcOut(L"Sample.Nothing");
  EXPECT_EQ(vbw::State().mStackCalls, 0) << "an exit at depth 0 stays at 0";
  Nest(3);
  EXPECT_EQ(vbw::State().mStackCalls, 0);
}

TEST_F(ErrorTrap, DepthOverflowFailsThroughTheTrap) {
  vbw::State().mStackCalls = 32767;
  reporter.Answer({vbw::vbwActionIgnore});
  Nest(1);
  const auto calls = reporter.Calls();
  ASSERT_EQ(reporter.Count(L"vbwErrorHandler"), 1);
  EXPECT_EQ(calls[1][1], L"6");
  EXPECT_EQ(calls[1][4], L"vbwProtector");
  EXPECT_EQ(calls[1][5], L"vbwProcIn");
}

TEST_F(ErrorTrap, ParameterTextAsksTheReporterOnlyWhenTracingIsOn) {
  // A live reporter, as after a dump answer.
  CLSID clsid;
  ASSERT_EQ(CLSIDFromProgID(L"ZentrelloError.Main2", &clsid), S_OK);
  ComPtr<IDispatch> d;
  ASSERT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch, d.PutVoid()), S_OK);
  vbw::State().mErrorParams = LateObject(d);

  vbw::State().vbwTraceParameters = false;
  EXPECT_EQ(Steps(L"x", 0), L"1234");
  EXPECT_EQ(reporter.Count(L"vbwReportParameter"), 0);

  vbw::State().vbwTraceParameters = true;
  EXPECT_EQ(Steps(L"abc", 0), L"1234");
  const auto calls = reporter.Calls();
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_EQ(calls[0], (std::vector<std::wstring>{L"vbwReportParameter", L"label", L"abc"}));
  EXPECT_EQ(calls[1], (std::vector<std::wstring>{L"vbwReportParameter", L"failures", L"0"}));
}

}  // namespace
}  // namespace tamberlux
