// The trace switch comes from "/trace" on the host's command line or from the
// per-user setting; the call stack is kept either way.
#include <gtest/gtest.h>

#include "TestSupport.h"

namespace tamberlux {
namespace {

constexpr wchar_t kInit[] = L"Software\\VB and VBA Program Settings\\Tamberlux\\Init";
const std::wstring kOn = L"vbwTraceLine=1 mOldTraceProc=1 vbwTraceParameters=1 vbwTraceProc=1 vbwCallStack=1";
const std::wstring kOff = L"vbwTraceLine=0 mOldTraceProc=0 vbwTraceParameters=0 vbwTraceProc=1 vbwCallStack=1";

std::wstring Probe(const std::wstring& args) {
  return test::RunAndCapture(L"\"" + test::BinDir() + L"TraceSwitchProbe.exe\"" + args);
}

void SetTraceSetting(const wchar_t* value) {
  RegDeleteKeyW(HKEY_CURRENT_USER, kInit);
  if (!value) return;
  HKEY key;
  ASSERT_EQ(RegCreateKeyW(HKEY_CURRENT_USER, kInit, &key), ERROR_SUCCESS);
  RegSetValueExW(key, L"vbwTrace", 0, REG_SZ, reinterpret_cast<const BYTE*>(value),
                 static_cast<DWORD>((wcslen(value) + 1) * sizeof(wchar_t)));
  RegCloseKey(key);
}

TEST(TraceSwitch, FollowsTheCommandLineAndThePerUserSetting) {
  SetTraceSetting(nullptr);
  EXPECT_EQ(Probe(L""), kOff);
  EXPECT_EQ(Probe(L" /trace"), kOn);
  EXPECT_EQ(Probe(L" --x=a/tracer"), kOn) << "anywhere on the command line";
  EXPECT_EQ(Probe(L" /TRACE"), kOff) << "exact case";

  SetTraceSetting(L"1");
  EXPECT_EQ(Probe(L""), kOn);
  SetTraceSetting(L"yes");
  EXPECT_EQ(Probe(L""), kOff);
  SetTraceSetting(nullptr);
}

}  // namespace
}  // namespace tamberlux
