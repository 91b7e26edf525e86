// The trace switch comes from "/trace" on the host's command line or from the
// per-user setting; the call stack is kept either way.
#include <gtest/gtest.h>

#include "TestSupport.h"

namespace tamberlux {
namespace {

TEST(TraceSwitch, FollowsTheCommandLineAndThePerUserSetting) {
  // The probe runs in its own process on the real user hive: the setting is put back afterwards.
  const std::wstring init = L"Software\\VB and VBA Program Settings\\Tamberlux\\Init";
  test::KeptUserKey kept(init);
  const std::wstring on = L"vbwTraceLine=1 mOldTraceProc=1 vbwTraceParameters=1 vbwTraceProc=1 vbwCallStack=1";
  const std::wstring off = L"vbwTraceLine=0 mOldTraceProc=0 vbwTraceParameters=0 vbwTraceProc=1 vbwCallStack=1";
  struct Case {
    const wchar_t* setting;  // null: no setting
    const wchar_t* args;
    const std::wstring& expected;
  } const cases[] = {
      {nullptr, L"", off},           {nullptr, L" /trace", on}, {nullptr, L" --x=a/tracer", on},  // anywhere
      {nullptr, L" /TRACE", off},    {L"1", L"", on},           {L"yes", L"", off},
  };
  for (const Case& c : cases) {
    RegDeleteTreeW(HKEY_CURRENT_USER, init.c_str());
    if (c.setting) test::SetText(init, L"vbwTrace", c.setting);
    EXPECT_EQ(test::RunAndCapture(L"\"" + test::BinDir() + L"TraceSwitchProbe.exe\"" + c.args), c.expected)
        << ToUtf8(c.args) << " setting " << (c.setting ? ToUtf8(c.setting) : "none");
  }
}

}  // namespace
}  // namespace tamberlux
