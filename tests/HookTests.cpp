// The installation hook, end to end: the installer's call to HookIntoWord
// through COM against the stand-in Word (its own process, with its own
// "OpusApp" window), the deferral through message 1122 and the window hook,
// the macro and its one repair, the messages a user sees, and the wait that
// keeps messages flowing.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

#include "TestSupport.h"
#include "base/LateBound.h"
#include "component/Main2.h"
#include "support/SleepReplacement.h"
#include "support/VBLanguageExtensions.h"

namespace tamberlux {
namespace {

using test::ProductTemplate;

constexpr UINT kDeferredInstall = 1122;

size_t CountOf(const std::vector<std::wstring>& calls, const std::wstring& call) {
  return static_cast<size_t>(std::count(calls.begin(), calls.end(), call));
}

// The calls whose record starts with `prefix`, in order.
std::vector<std::wstring> Matching(const std::vector<std::wstring>& calls, const std::wstring& prefix) {
  std::vector<std::wstring> out;
  for (const auto& c : calls)
    if (c.compare(0, prefix.size(), prefix) == 0) out.push_back(c);
  return out;
}

// Dispatches this thread's messages until `done` holds or a generous bound
// passes; answers `done`.
bool PumpUntil(const std::function<bool()>& done) {
  const ULONGLONG bound = GetTickCount64() + 30000;
  while (!done() && GetTickCount64() < bound) {
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
    MSG m;
    while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&m);
      DispatchMessageW(&m);
    }
  }
  return done();
}

// Dispatches what is already queued.
[[maybe_unused]] void PumpPending() {
  MSG m;
  while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&m);
    DispatchMessageW(&m);
  }
}

// A SAFEARRAY of BSTR as a compiled caller passes a string array.
struct TextArray {
  explicit TextArray(const std::vector<std::wstring>& items) {
    SAFEARRAYBOUND bound{static_cast<ULONG>(items.size()), 0};
    sa = SafeArrayCreate(VT_BSTR, 1, &bound);
    for (LONG i = 0; i < static_cast<LONG>(items.size()); ++i) {
      Bstr b(items[i]);
      SafeArrayPutElement(sa, &i, b.Get());
    }
  }
  ~TextArray() { SafeArrayDestroy(sa); }
  VARIANT Ref() {
    VARIANT v;
    v.vt = VT_BYREF | VT_ARRAY | VT_BSTR;
    v.pparray = &sa;
    return v;
  }
  SAFEARRAY* sa;
};

class Hook : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(test::Regsvr32(L"/s"), 0u);
    ProductTemplate::Write(files.Source(L".dot"), "dot template");
    ProductTemplate::Write(files.Source(L".dotm"), "dotm template");
    main2 = test::CreateMain2();
    ASSERT_TRUE(main2);
  }
  void TearDown() override {
    EXPECT_EQ(reporter.Count(L"vbwErrorHandler"), 0) << "unexpected failures went to the trap";
  }

  // HookIntoWord as the installer calls it; the object it answered, or Nothing.
  LateObject HookIntoWord(const LateObject& app, const std::vector<std::wstring>& deps = {},
                          const wchar_t* name = L"Zentrello") {
    Bstr n(name);
    VARIANT nameArg;
    nameArg.vt = VT_BYREF | VT_BSTR;
    nameArg.pbstrVal = n.Ref();
    IDispatch* w = app.Get();
    VARIANT wordArg;
    wordArg.vt = VT_BYREF | VT_DISPATCH;
    wordArg.ppdispVal = &w;
    TextArray d(deps), xp({});
    Variant result;
    EXPECT_EQ(test::CallByName(main2.Get(), L"HookIntoWord", {nameArg, wordArg, d.Ref(), xp.Ref()}, &result), S_OK);
    return LateObject::FromVariant(result);
  }

  test::StartedTrap trap;
  test::ReporterStandIn reporter;
  test::PrivateUserHive hive;
  test::WordStandIn word;
  ProductTemplate files;
  ComPtr<IDispatch> main2;
};

TEST_F(Hook, ARefusedTemplateIsAddedAfterWordsOwnWindowHasHandledMessage1122) {
  word.Set(L"FailAddIns", 1u);
  word.Set(L"MacroResult", L"object");
  LateObject app = test::WordStandIn::Start();
  EXPECT_FALSE(HookIntoWord(app)) << "a deferred installation answers Nothing";
  const auto pid = word.Processes().at(0);
  EXPECT_EQ(CountOf(word.Calls(), L"Run\tHookIntoWord\tObject"), 0u) << "nothing more before the caller pumps";

  ASSERT_TRUE(PumpUntil([&] { return CountOf(word.Calls(pid), L"Run\tHookIntoWord\tObject") == 1; }));
  const auto sequence = Matching(word.Calls(pid), L"AddIns.Add");
  for (auto c : word.Calls(pid)) std::wcout << c << std::endl;
}

}  // namespace
}  // namespace tamberlux
