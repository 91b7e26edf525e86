// Tamberlux.dll as its callers meet it: registered with regsvr32, created by
// ProgID, unloaded when no object is left. (Scripts call it in LaunchTests;
// each argument shape is in Main2ObjectTests.)
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

}  // namespace
}  // namespace tamberlux
