// Tamberlux.dll as its callers meet it: registered with regsvr32, created by
// ProgID, unloaded when no object is left, and called from VBScript.
#include <gtest/gtest.h>

#include "TestSupport.h"

namespace tamberlux {
namespace {

class ComServer : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(test::Regsvr32(L"/s"), 0u); }
  test::StartedTrap trap;
};

TEST_F(ComServer, CanUnloadFollowsLiveObjectsAndUnregisterRemovesTheClass) {
  const Module dll(LoadLibraryW((test::BinDir() + L"Tamberlux.dll").c_str()));
  ASSERT_TRUE(dll);
  auto canUnload = reinterpret_cast<HRESULT(WINAPI*)()>(reinterpret_cast<void*>(GetProcAddress(dll.Get(), "DllCanUnloadNow")));
  ASSERT_NE(canUnload, nullptr);
  {
    ComPtr<IDispatch> main2 = test::CreateMain2();
    ASSERT_TRUE(main2);
    EXPECT_EQ(canUnload(), S_FALSE);
  }
  EXPECT_EQ(canUnload(), S_OK) << "released: Quit ran in the terminator and nothing is left";

  CLSID clsid;
  ASSERT_EQ(test::Regsvr32(L"/u /s"), 0u);
  EXPECT_NE(CLSIDFromProgID(L"Tamberlux.Main2", &clsid), S_OK);
  ASSERT_EQ(test::Regsvr32(L"/s"), 0u);
  EXPECT_EQ(CLSIDFromProgID(L"Tamberlux.Main2", &clsid), S_OK);
}

TEST_F(ComServer, VBScriptCallsWithLiteralsAndVariables) {
  // The script runs in its own process on the real user hive: a version of
  // its own keeps it apart.
  const std::wstring version = L"77." + std::to_wstring(GetCurrentProcessId());
  const std::wstring base = L"Software\\Microsoft\\Office\\" + version;
  test::KeptUserKey kept(base);
  test::SetText(base + L"\\Word\\Data", L"x", L"y");
  const std::wstring output = test::RunVBScript(
      {L"On Error Resume Next", L"Set m = CreateObject(\"Tamberlux.Main2\")", L"WScript.Echo \"create \" & Err.Number",
       L"v = \"" + version + L"\"", L"m.DeleteCorruptedDataFolder v",
       L"WScript.Echo \"variable \" & Err.Number & \" \" & v", L"m.DeleteCorruptedDataFolder \"12.0x\"",
       L"WScript.Echo \"literal \" & Err.Number", L"m.Quit", L"WScript.Echo \"quit \" & Err.Number"});
  EXPECT_EQ(output, L"create 0\r\nvariable 0 " + version + L"\r\nliteral 0\r\nquit 0\r\n");
  EXPECT_FALSE(test::KeyExists(base + L"\\Word\\Data"));
}

}  // namespace
}  // namespace tamberlux
