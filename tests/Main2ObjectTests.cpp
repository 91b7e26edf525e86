// Tamberlux.Main2 as a late-bound caller meets it: unloaded when no object is left, and its argument
// layout through IDispatch::Invoke. The error index must stay untouched on success and name the caller's
// own argument (its index in rgvarg) when one is refused. A script calls it here and in HookTests.
#include <gtest/gtest.h>

#include "TestSupport.h"
#include "base/ComObject.h"

namespace tamberlux::Main2ObjectTests {
namespace {

constexpr UINT kUntouched = 0xdeadbeef;

struct Outcome {
  HRESULT hr;
  UINT argErr;
  SCODE scode = 0;  // an exception's error, when the method itself refused
};

// A script's variable holding `value`: a by-reference variant.
VARIANT ByRefTo(Variant& value) { return ByRef(static_cast<VARIANT&>(value)); }

class Main2Object : public test::Main2Test {
 protected:

  DISPID Id(const wchar_t* method, const wchar_t* parameter = nullptr) {
    LPOLESTR names[] = {const_cast<LPOLESTR>(method), const_cast<LPOLESTR>(parameter)};
    DISPID ids[2] = {DISPID_UNKNOWN, DISPID_UNKNOWN};
    main2->GetIDsOfNames(IID_NULL, names, parameter ? 2 : 1, LOCALE_USER_DEFAULT, ids);
    return ids[parameter ? 1 : 0];
  }
  // Positional arguments in call order, then named ones by parameter DISPID.
  Outcome Invoke(const wchar_t* method, std::vector<VARIANT> positional,
                 std::vector<std::pair<DISPID, VARIANT>> named = {}) {
    std::vector<VARIANT> args;
    std::vector<DISPID> ids;
    for (const auto& [id, value] : named) ids.push_back(id), args.push_back(value);
    args.insert(args.end(), positional.rbegin(), positional.rend());
    DISPPARAMS dp{args.data(), ids.data(), static_cast<UINT>(args.size()), static_cast<UINT>(ids.size())};
    Variant result;
    EXCEPINFO excep{};
    Outcome out{E_UNEXPECTED, kUntouched};
    out.hr = main2->Invoke(Id(method), IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &dp, &result, &excep,
                           &out.argErr);
    out.scode = excep.scode;
    SysFreeString(excep.bstrSource);
    SysFreeString(excep.bstrDescription);
    SysFreeString(excep.bstrHelpFile);
    return out;
  }

  test::PrivateUserHive hive;
  test::WordStandIn word;
};

TEST_F(Main2Object, EachArgumentShapeIsTakenOrRefusedWithTheCallersIndex) {
  // The values outlive the table, which holds plain copies of them.
  Variant name = Variant::Of(L"Zentrello"), maybe = Variant::Of(L"maybe"), text = Variant::Of(L"text"),
          version = Variant::Of(L"12.0"), yes = Variant::Of(true), missing = Variant::Missing();
  const DISPID startZTL = Id(L"StartRunTime", L"startZTL");
  ASSERT_EQ(startZTL, 2) << "a parameter's DISPID is its position";
  struct Case {
    const char* what;
    const wchar_t* method;
    std::vector<VARIANT> positional;
    std::vector<std::pair<DISPID, VARIANT>> named;
    Outcome expected;
  } const cases[] = {
      {"too many", L"DeleteCorruptedDataFolder", {version, text}, {}, {DISP_E_BADPARAMCOUNT, kUntouched}},
      {"a missing required one", L"DeleteCorruptedDataFolder", {}, {}, {DISP_E_PARAMNOTOPTIONAL, kUntouched}},
      {"a missing required one among named ones", L"StartRunTime", {}, {{startZTL, yes}},
       {DISP_E_PARAMNOTOPTIONAL, kUntouched}},
      {"a bad named index", L"StartRunTime", {name}, {{startZTL, yes}, {7, yes}}, {DISP_E_PARAMNOTFOUND, 1}},
      {"startZTL a string", L"StartRunTime", {name, missing, maybe}, {}, {DISP_E_TYPEMISMATCH, 0}},
      {"startZTL a script's string", L"StartRunTime", {name, missing, ByRefTo(maybe)}, {}, {DISP_E_TYPEMISMATCH, 0}},
      {"named startZTL a string", L"StartRunTime", {name, missing}, {{startZTL, ByRefTo(maybe)}},
       {DISP_E_TYPEMISMATCH, 0}},
      {"all named, startZTL second: its index is the caller's", L"StartRunTime", {}, {{0, name}, {startZTL, maybe}},
       {DISP_E_TYPEMISMATCH, 1}},
      // `word` is a VARIANT* in the type library (Wine cannot read back a
      // by-reference object with a default): the method itself refuses a
      // non-object with error 13, and no index is reported.
      {"word a script's non-object", L"StartRunTime", {name, ByRefTo(text), yes}, {},
       {DISP_E_EXCEPTION, kUntouched, static_cast<SCODE>(0x800A000D)}},
  };
  for (const Case& c : cases) {
    const Outcome got = Invoke(c.method, c.positional, c.named);
    EXPECT_EQ(got.hr, c.expected.hr) << c.what;
    EXPECT_EQ(got.argErr, c.expected.argErr) << c.what;
    EXPECT_EQ(got.scode, c.expected.scode) << c.what;
  }
  EXPECT_TRUE(word.Processes().empty()) << "every call was refused before it did anything";
}

TEST_F(Main2Object, LiteralsScriptVariablesAndNamedArgumentsReachTheMethod) {
  for (const wchar_t* version : {L"11.0", L"13.0"})
    test::SetText(L"Software\\Microsoft\\Office\\" + std::wstring(version) + L"\\Word\\Data", L"x", L"y");
  Variant variable = Variant::Of(L"11.0");
  EXPECT_EQ(Invoke(L"DeleteCorruptedDataFolder", {ByRefTo(variable)}).argErr, kUntouched);
  EXPECT_EQ(std::wstring(variable.bstrVal), L"11.0") << "the caller's variable keeps its text";
  EXPECT_EQ(Invoke(L"DeleteCorruptedDataFolder", {}, {{Id(L"DeleteCorruptedDataFolder", L"version"),
                                                       Variant::Of(L"13.0")}}).hr, S_OK);
  for (const wchar_t* version : {L"11.0", L"13.0"})
    EXPECT_FALSE(test::KeyExists(L"Software\\Microsoft\\Office\\" + std::wstring(version) + L"\\Word\\Data"));

  // A launch with startZTL named: the macro is left out.
  Variant started;
  const Outcome launch = Invoke(L"StartRunTime", {Variant::Of(L"Zentrello"), ByRefTo(started)},
                                {{Id(L"StartRunTime", L"startZTL"), Variant::Of(false)}});
  EXPECT_EQ(launch.hr, S_OK);
  EXPECT_EQ(launch.argErr, kUntouched);
  EXPECT_EQ(started.vt, VT_DISPATCH) << "the started Word is written back into the caller's variable";
  EXPECT_FALSE(test::Contains(word.Calls(), L"Run\tSetStartedFromIcon"));
  EXPECT_TRUE(test::Contains(word.Calls(), L"Documents.Add\tVisible:=True"));
  EXPECT_EQ(Invoke(L"Quit", {}).hr, S_OK);
  LPOLESTR unknown = const_cast<LPOLESTR>(L"NoSuchMember");
  DISPID id;
  EXPECT_EQ(main2->GetIDsOfNames(IID_NULL, &unknown, 1, LOCALE_USER_DEFAULT, &id), DISP_E_UNKNOWNNAME);
}

// A script calls the launch and the monitor with a name no product may have: each call fails for it
// with the refusal's number and text, in its own process (its user was shown the refusal there).
TEST_F(Main2Object, AScriptLearnsEachRefusalWithItsNumberAndText) {
  const std::wstring said = L"WScript.Echo Err.Number & \" \" & Err.Description : Err.Clear";
  const std::wstring output = test::RunVBScript(
      {L"On Error Resume Next", L"Set m = CreateObject(\"Tamberlux.Main2\")", L"Set w = Nothing", L"n = \"Zen:trello\"",
       L"m.StartRunTime n", said, L"m.StartRunTime \"Zen|trello\", w, False", said, L"m.CreateAddInMonitor \"\", w",
       said, L"m.Quit", said});
  EXPECT_EQ(output, L"5 \"Zen:trello\" cannot be a product name\r\n5 \"Zen|trello\" cannot be a product name\r\n"
                    L"5 \"\" cannot be a product name\r\n0 \r\n");
  EXPECT_TRUE(word.Processes().empty());
}

// The monitor add-in's Word, in the caller's own process: it tells how many references are held
// on it and which members it was asked for.
class CountedWord final : public ComObject<IDispatch, IID_IDispatch> {
 public:
  ULONG Held() { return AddRef(), Release(); }
  std::vector<std::wstring> asked;

  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* n) override { return *n = 0, S_OK; }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR* names, UINT, LCID, DISPID* ids) override {
    asked.push_back(names[0]);
    *ids = 1;
    return asked.back() == L"Version" ? S_OK : DISP_E_UNKNOWNNAME;
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT* result, EXCEPINFO*,
                                   UINT*) override {
    if (result) result->vt = VT_BSTR, result->bstrVal = SysAllocString(L"12.0");
    return result ? S_OK : DISP_E_MEMBERNOTFOUND;
  }
};

// The component may be unloaded once no object is left, and the last one's terminator lets go of the
// Word the caller gave it, without closing it.
TEST_F(Main2Object, ReleasingTheLastObjectLetsGoOfTheCallersWordWithoutClosingItAndLetsTheDllUnload) {
  const Module dll(LoadLibraryW((test::BinDir() + L"Tamberlux.dll").c_str()));
  const auto canUnload = reinterpret_cast<HRESULT(WINAPI*)()>(
      reinterpret_cast<void*>(GetProcAddress(dll.Get(), "DllCanUnloadNow")));
  ASSERT_NE(canUnload, nullptr);
  const ComPtr<CountedWord> counted(new CountedWord(), false);
  {
    Variant name = Variant::Of(L"Zentrello"), word = Variant::Of(static_cast<IDispatch*>(counted.Get()));
    // Nothing on Word's lists: the monitor keeps the Word for the helpers, and returns.
    EXPECT_EQ(Invoke(L"CreateAddInMonitor", {ByRefTo(name), ByRefTo(word)}).hr, S_OK);
    EXPECT_EQ(counted->Held(), 3u) << "the test's, the variable's, and the helpers' while the object lives";
  }
  EXPECT_EQ(canUnload(), S_FALSE);
  main2 = nullptr;
  EXPECT_EQ(canUnload(), S_OK);
  EXPECT_EQ(counted->Held(), 1u) << "the terminator's Quit let go of it";
  EXPECT_EQ(counted->asked, std::vector<std::wstring>{L"Version"}) << "Word was not closed";
}

}  // namespace
}  // namespace tamberlux::Main2ObjectTests
