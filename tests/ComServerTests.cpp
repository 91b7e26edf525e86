// Tamberlux.dll as its callers meet it: registered with regsvr32, created by
// ProgID, called late-bound from C++ and from VBScript.
#include <gtest/gtest.h>


#include "TestSupport.h"
#include "base/ComTypes.h"

namespace tamberlux {
namespace {

std::wstring Dll() { return test::BinDir() + L"Tamberlux.dll"; }
using test::CallByName;
using test::Regsvr32;

class ComServer : public ::testing::Test {
 protected:
  void SetUp() override {
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    ASSERT_EQ(Regsvr32(L"/s"), 0u);
  }
  void TearDown() override { CoUninitialize(); }

  static ComPtr<IDispatch> Create() { return test::CreateMain2(); }
};

TEST_F(ComServer, RegisteredClassAnswersLateBoundCallsWithLiteralsAndVariables) {
  test::PrivateUserHive hive;
  test::SetText(L"Software\\Microsoft\\Office\\12.0\\Word\\Data", L"x", L"y");
  test::SetText(L"Software\\Microsoft\\Office\\11.0\\Word\\Data", L"x", L"y");
  ComPtr<IDispatch> main2 = Create();
  ASSERT_TRUE(main2);

  // A literal, as a typed BSTR.
  Variant literal = Variant::Of(L"12.0");
  EXPECT_EQ(CallByName(main2.Get(), L"DeleteCorruptedDataFolder", {literal}), S_OK);
  EXPECT_FALSE(test::KeyExists(L"Software\\Microsoft\\Office\\12.0\\Word\\Data"));

  // A script's variable: a by-reference variant.
  Variant variable = Variant::Of(L"11.0");
  VARIANT byRef;
  byRef.vt = VT_BYREF | VT_VARIANT;
  byRef.pvarVal = &variable;
  EXPECT_EQ(CallByName(main2.Get(), L"DeleteCorruptedDataFolder", {byRef}), S_OK);
  EXPECT_FALSE(test::KeyExists(L"Software\\Microsoft\\Office\\11.0\\Word\\Data"));
  EXPECT_EQ(std::wstring(variable.bstrVal), L"11.0") << "the caller's variable keeps its text";

  EXPECT_EQ(CallByName(main2.Get(), L"Quit", {}), S_OK);
  EXPECT_EQ(CallByName(main2.Get(), L"NoSuchMember", {}), DISP_E_UNKNOWNNAME);
}

TEST_F(ComServer, TypeLibraryDescribesTheFiveMembersInOrder) {
  ComPtr<IDispatch> main2 = Create();
  ComPtr<ITypeInfo> info;
  ASSERT_EQ(main2->GetTypeInfo(0, LOCALE_USER_DEFAULT, info.Put()), S_OK);
  ComPtr<ITypeLib> lib;
  UINT index = 0;
  ASSERT_EQ(info->GetContainingTypeLib(lib.Put(), &index), S_OK);
  Bstr libName, libDoc;
  ASSERT_EQ(lib->GetDocumentation(-1, libName.Put(), libDoc.Put(), nullptr, nullptr), S_OK);
  EXPECT_EQ(libName.Str(), L"Tamberlux");
  EXPECT_EQ(libDoc.Str(), L"Word AddIn");

  std::vector<std::wstring> members;
  TYPEATTR* attr = nullptr;
  ASSERT_EQ(info->GetTypeAttr(&attr), S_OK);
  for (WORD i = 0; i < attr->cFuncs; ++i) {
    FUNCDESC* f = nullptr;
    if (FAILED(info->GetFuncDesc(i, &f)) || !f) continue;
    Bstr name;
    info->GetDocumentation(f->memid, name.Put(), nullptr, nullptr, nullptr);
    if (f->memid >= 0x60030000) members.push_back(name.Str() + L"/" + std::to_wstring(f->cParams) + L"/" +
                                                  std::to_wstring(f->cParamsOpt));
    info->ReleaseFuncDesc(f);
  }
  info->ReleaseTypeAttr(attr);
  // Name / parameters / optional ones; HookIntoWord's result is the return
  // value, not a parameter, in the dispatch view.
  EXPECT_EQ(members, (std::vector<std::wstring>{L"CreateAddInMonitor/2/0", L"HookIntoWord/4/0",
                                                L"DeleteCorruptedDataFolder/1/0", L"StartRunTime/3/2",
                                                L"Quit/0/0"}));
}

TEST_F(ComServer, CanUnloadFollowsLiveObjectsAndUnregisterRemovesTheClass) {
  HMODULE dll = LoadLibraryW(Dll().c_str());
  ASSERT_NE(dll, nullptr);
  auto canUnload = reinterpret_cast<HRESULT(WINAPI*)()>(reinterpret_cast<void*>(GetProcAddress(dll, "DllCanUnloadNow")));
  ASSERT_NE(canUnload, nullptr);
  {
    ComPtr<IDispatch> main2 = Create();
    EXPECT_EQ(canUnload(), S_FALSE);
  }
  EXPECT_EQ(canUnload(), S_OK) << "released: Quit ran in the terminator and nothing is left";
  FreeLibrary(dll);

  ASSERT_EQ(Regsvr32(L"/u /s"), 0u);
  CLSID clsid;
  EXPECT_NE(CLSIDFromProgID(L"Tamberlux.Main2", &clsid), S_OK);
  ASSERT_EQ(Regsvr32(L"/s"), 0u);
  EXPECT_EQ(CLSIDFromProgID(L"Tamberlux.Main2", &clsid), S_OK);
}

TEST_F(ComServer, VBScriptCallsWithLiteralsAndVariables) {
  // The script runs in its own process on the real user hive: a version of
  // its own keeps it apart.
  const std::wstring version = L"77." + std::to_wstring(GetCurrentProcessId());
  const std::wstring base = L"Software\\Microsoft\\Office\\" + version;
  test::SetText(base + L"\\Word\\Data", L"x", L"y");
  const std::wstring output = test::RunVBScript(
      {L"On Error Resume Next", L"Set m = CreateObject(\"Tamberlux.Main2\")", L"WScript.Echo \"create \" & Err.Number",
       L"v = \"" + version + L"\"", L"m.DeleteCorruptedDataFolder v",
       L"WScript.Echo \"variable \" & Err.Number & \" \" & v", L"m.DeleteCorruptedDataFolder \"12.0x\"",
       L"WScript.Echo \"literal \" & Err.Number", L"m.Quit", L"WScript.Echo \"quit \" & Err.Number"});
  EXPECT_EQ(output, L"create 0\r\nvariable 0 " + version + L"\r\nliteral 0\r\nquit 0\r\n");
  EXPECT_FALSE(test::KeyExists(base + L"\\Word\\Data"));
  RegDeleteTreeW(HKEY_CURRENT_USER, base.c_str());
}

}  // namespace
}  // namespace tamberlux
