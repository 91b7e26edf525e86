// tamberlux install NAME [--deps ...] [--xp-deps ...]: what the product's
// installer does. Starts Word, calls HookIntoWord through COM, dispatches
// messages until the installation has completed or a bound passes, and
// prints what the component says it did: the object HookIntoWord answered,
// and the outcome the object keeps of its last installation.
#include <windows.h>
#include <oaidl.h>

#include <string>
#include <vector>

#include "Commands.h"
#include "Console.h"
#include "base/ComTypes.h"
#include "base/LateBound.h"
#include "base/VbError.h"
#include "component/InstallMessages.h"
#include "support/MessageLoop.h"

namespace tamberlux {

using namespace console;

namespace {

using InstallMessages::Added;
using InstallMessages::Macro;
constexpr DWORD kBoundMs = 120000;

// A list of texts as a compiled caller passes it, by reference.
class TextList {
 public:
  explicit TextList(const std::vector<std::wstring>& items) {
    SAFEARRAYBOUND bound{static_cast<ULONG>(items.size()), 0};
    array_.Reset(SafeArrayCreate(VT_BSTR, 1, &bound));
    for (LONG i = 0; i < static_cast<LONG>(items.size()); ++i) {
      Bstr item(items[i]);
      vb::Check(SafeArrayPutElement(array_.Get(), &i, item.Get()));
    }
    held_ = array_.Get();
  }
  VARIANT Ref() {
    VARIANT v;
    v.vt = VT_BYREF | VT_ARRAY | VT_BSTR;
    v.pparray = &held_;
    return v;
  }

 private:
  SafeArray array_;
  SAFEARRAY* held_ = nullptr;
};

}  // namespace

int InstallCommand(const std::wstring& name, const std::vector<std::wstring>& deps,
                   const std::vector<std::wstring>& xpDeps) {
  LateObject main2;
  ComPtr<InstallMessages::IInstallOutcome> told;
  try {
    main2 = NewObject(L"Tamberlux.Main2", CLSCTX_INPROC_SERVER);
    vb::Check(main2.Get()->QueryInterface(InstallMessages::IID_IInstallOutcome, told.PutVoid()));
  } catch (const vb::Error& e) {
    return Fail(kNotRegistered, L"Tamberlux.Main2 could not be created (" + Hex(vb::HResultOf(e)) +
                                    L"): run regsvr32 on Tamberlux.dll first");
  }
  // What the object says its installation did, so far.
  InstallMessages::Outcome outcome;
  const auto ask = [&] {
    LONG added = 0, macro = 0;
    Bstr missing;
    vb::Check(told->LastInstall(&added, &macro, missing.Put()));
    outcome = {static_cast<Added>(added), static_cast<Macro>(macro), missing.Str()};
  };
  LateObject word;
  std::wstring version;
  try {
    word = NewObject(L"Word.Application");
    version = ToText(word.Get(L"Version"));
  } catch (const vb::Error& e) {
    return Fail(kNoWord, L"Word could not be started: " + e.description);
  }

  Bstr text(name);
  IDispatch* wordRef = word.Get();
  VARIANT wordArg;
  wordArg.vt = VT_BYREF | VT_DISPATCH;
  wordArg.ppdispVal = &wordRef;
  TextList depsList(deps), xpList(xpDeps);
  LateObject result;
  try {
    result = LateObject::FromVariant(main2.Call(L"HookIntoWord", {ByRef(text), wordArg, depsList.Ref(), xpList.Ref()}));
    ask();
    // A deferred installation ends on this thread, once Word's window has
    // handled message 1122 and the component's hook has heard of it.
    if (outcome.added == Added::kDeferred &&
        !PumpMessagesUntil(
            [&] {
              ask();
              return outcome.added != Added::kDeferred;
            },
            kBoundMs))
      return Fail(kFailed, L"Word's window did not answer while the installation was waited for");
  } catch (const vb::Error& e) {
    return Fail(kFailed, L"HookIntoWord failed: " + e.description + L" (" + std::to_wstring(e.number) + L")");
  }

  switch (outcome.added) {
    case Added::kLibrariesMissing:
      return Fail(kFailed, L"libraries are missing (" + Shown(outcome.missing) +
                               L"); Word was told to quit, nothing was added");
    case Added::kRefusedAgain:
      return Fail(kFailed, L"Word refused the template again after message 1122: " + name + L" is not installed");
    case Added::kAtOnce:
    case Added::kAfterDeferral:
      break;
    default:
      return Fail(kFailed, L"the template was not offered to Word (see the error reported)");
  }
  if (outcome.macro == Macro::kFailedAfterRepair)
    return Fail(kFailed, L"the set-up macro failed again after Word's data key was repaired: restart Word");
  if (outcome.macro == Macro::kFailedTwice)
    return Fail(kFailed, L"the set-up macro failed twice; Word's data key was not repaired");
  if (outcome.added == Added::kAfterDeferral)
    Print(L"Word " + version + L" refused the template at first; " + name +
          L" was added after Word's window handled message 1122.\n");
  else
    Print(name + L" was added to Word " + version + L" at once" +
          (result ? std::wstring(L"; its set-up macro answered an object") : std::wstring()) + L".\n");
  if (outcome.macro == Macro::kRanAfterRepair)
    Print(L"The set-up macro failed once; Word's data key was repaired and the macro ran again.\n");
  if (outcome.macro == Macro::kRanAtSecondTry) Print(L"The set-up macro failed once and ran when it was tried again.\n");
  return kDone;
}

}  // namespace tamberlux
