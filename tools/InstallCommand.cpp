// tamberlux install NAME [--deps ...] [--xp-deps ...]: what the product's
// installer does. Starts Word, calls HookIntoWord through COM, dispatches
// messages until the installation has completed or a bound passes, and
// reports what happened. It watches only from outside the component: the
// object HookIntoWord answered, the message boxes shown on its thread, Word's
// data key, and its own hook on Word's main window, which sees message 1122
// when the installation was deferred.
#include <windows.h>
#include <oaidl.h>

#include <string>
#include <vector>

#include "Commands.h"
#include "Console.h"
#include "base/RegistryDoor.h"
#include "base/ComTypes.h"
#include "base/LateBound.h"
#include "base/VbError.h"
#include "component/InstallMessages.h"
#include "component/hook/WindowHook.h"
#include "registry/WordKeys.h"
#include "support/CommonWordInteractionFunctions.h"
#include "support/CommonWordWindowFunctions.h"
#include "support/MessageLoop.h"

namespace tamberlux {

using namespace console;

namespace {

using InstallMessages::kDeferredInstall;
constexpr DWORD kBoundMs = 120000;

// The message boxes shown on this thread while the object lives.
class SeenBoxes {
 public:
  SeenBoxes() : hook_(SetWindowsHookExW(WH_CBT, Cbt, nullptr, GetCurrentThreadId())) { boxes_ = {}; }
  struct Box {
    std::wstring title, text;
  };
  static const std::vector<Box>& All() { return boxes_; }
  static bool Has(const std::wstring& part) {
    for (const Box& b : boxes_)
      if (b.text.find(part) != std::wstring::npos) return true;
    return false;
  }

 private:
  static LRESULT CALLBACK Cbt(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HCBT_ACTIVATE) {
      const HWND window = reinterpret_cast<HWND>(wParam);
      wchar_t cls[16] = {}, title[256] = {}, text[2048] = {};
      GetClassNameW(window, cls, 16);
      if (std::wstring(cls) == L"#32770") {
        GetWindowTextW(window, title, 256);
        GetDlgItemTextW(window, 0xFFFF, text, 2048);
        boxes_.push_back({title, text});
      }
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
  }
  HookHandle hook_;
  static inline std::vector<Box> boxes_;
};

bool KeyExists(const std::wstring& path) {
  RegKey key;
  return RegistryDoor::Open(HKEY_CURRENT_USER, path, KEY_READ, key) == ERROR_SUCCESS;
}

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
  try {
    main2 = NewObject(L"Tamberlux.Main2", CLSCTX_INPROC_SERVER);
  } catch (const vb::Error& e) {
    return Fail(kNotRegistered, L"Tamberlux.Main2 could not be created (" + Hex(vb::HResultOf(e)) +
                                    L"): run regsvr32 on Tamberlux.dll first");
  }
  LateObject word;
  std::wstring version;
  HWND window = nullptr;
  try {
    word = NewObject(L"Word.Application");
    version = ToText(word.Get(L"Version"));
    CommonWordInteractionFunctions::Initialize(word);
    bool inOutlook2000 = false;
    window = CommonWordWindowFunctions::ActiveDocumentHandle(inOutlook2000);
  } catch (const vb::Error& e) {
    return Fail(kNoWord, L"Word could not be started: " + e.description);
  }

  // Our own watch on Word's main window. Word's thread posts what its
  // window handled in order, to our watch and to the component's hook alike:
  // once our watch hears of a barrier we posted to Word, everything Word
  // handled before it has reached this thread and been dispatched, the
  // component's deferred check included.
  const UINT barrier = RegisterWindowMessageW(L"Tamberlux.Install.Barrier");
  int deferrals = 0;
  bool barrierSeen = false;
  ComPtr<WindowHook> watch = WindowHook::New();
  watch->AfterMessage = [&](int32_t uMsg, int32_t, int32_t, int32_t&) {
    if (uMsg == static_cast<int32_t>(kDeferredInstall)) {
      ++deferrals;
    }
    if (uMsg == static_cast<int32_t>(barrier)) barrierSeen = true;
  };
  bool watching = false;
  try {
    if (window) watch->Attach(window);
    watching = window != nullptr;
  } catch (const vb::Error& e) {
    Print(L"tamberlux: cannot watch Word's window (" + e.description + L"); a deferral will not be seen\n", stderr);
  }

  const std::wstring dataKey = WordKeys::DataKey(version);
  const bool hadData = KeyExists(dataKey);
  SeenBoxes boxes;
  Bstr text(name);
  IDispatch* wordRef = word.Get();
  VARIANT wordArg;
  wordArg.vt = VT_BYREF | VT_DISPATCH;
  wordArg.ppdispVal = &wordRef;
  TextList depsList(deps), xpList(xpDeps);
  LateObject result;
  try {
    result = LateObject::FromVariant(main2.Call(L"HookIntoWord", {ByRef(text), wordArg, depsList.Ref(), xpList.Ref()}));
  } catch (const vb::Error& e) {
    return Fail(kFailed, L"HookIntoWord failed: " + e.description + L" (" + std::to_wstring(e.number) + L")");
  }

  if (SeenBoxes::Has(InstallMessages::kWordWillExit)) {
    const auto& box = SeenBoxes::All().back();
    return Fail(kFailed, L"libraries are missing (" + box.title + L"); Word was told to quit, nothing was added");
  }
  // Whether the component deferred: Word handles our barrier after the 1122
  // the component posted, if it posted one, and after the component's check.
  if (!result && watching) {
    PostMessageW(window, barrier, 0, 0);
    if (!PumpMessagesUntil([&] { return barrierSeen; }, kBoundMs))
      return Fail(kFailed, L"Word's window did not answer while the installation was waited for");
  }
  if (deferrals > 0) {
    if (SeenBoxes::Has(InstallMessages::kStillCannotInstall))
      return Fail(kFailed, L"Word refused the template again after message 1122: " + name + L" is not installed");
    Print(L"Word " + version + L" refused the template at first; " + name +
          L" was added after Word's window handled message 1122.\n");
  } else {
    Print(name + L" was added to Word " + version + L" at once" +
          (result ? std::wstring(L"; its set-up macro answered an object") : std::wstring()) + L".\n");
  }
  watch->Detach();
  if (SeenBoxes::Has(InstallMessages::RestartWord(name)))
    return Fail(kFailed, L"the set-up macro failed again after Word's data key was repaired: restart Word");
  if (hadData && !KeyExists(dataKey))
    Print(L"The set-up macro failed once; Word's data key was repaired and the macro ran again.\n");
  return kDone;
}

}  // namespace tamberlux
