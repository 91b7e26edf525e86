// The installation hook: the product's installer hands over the Word it has
// started; the libraries are made sure of, the template is copied into Word's
// trusted folder, added to Word's add-ins and its set-up macro run. When Word
// refuses the template at once, the work waits until Word's main window has
// handled message 1122, which the window hook reports.
// Step numbers in this file start at 70000.
#include "component/Inputs.h"
#include "component/InstallMessages.h"
#include "component/Main2.h"
#include "errortrap/Procedure.h"
#include "registry/RegistryRaw.h"
#include "registry/WordKeys.h"
#include "support/CommonLogger.h"
#include "support/CommonWordInteractionFunctions.h"
#include "support/CommonWordWindowFunctions.h"
#include "support/SleepReplacement.h"
#include "support/UtilityFunctions.h"

namespace tamberlux {

using vbw::Var;
namespace Word = CommonWordInteractionFunctions;

namespace {
using InstallMessages::kDeferredInstall;
}  // namespace

Main2::~Main2() {
  if (mSubclasser) {
    mSubclasser->AfterMessage = nullptr;
    mSubclasser->Detach();
  }
}

LateObject Main2::HookIntoWord(std::wstring& name, LateObject& word, std::vector<std::wstring>& dependencies,
                               std::vector<std::wstring>& dependenciesXPOrLater) {
  LateObject result;
  vbw::Proc p(L"Main2.HookIntoWord", ReportModuleVariables,
              {Var(L"name", name), Var(L"word", word), Var(L"dependencies", dependencies),
               Var(L"dependenciesXPOrLater", dependenciesXPOrLater)},
              this);
  std::wstring path;
  HWND hwnd = nullptr;
  p.Local(L"path", path);
  p.Local(L"hwnd", hwnd);
  p.Run([&] {
    // The name becomes a registry key and part of the template's paths; the
    // Word shows the notices and runs the macro. Neither refusal goes any
    // further: nothing is checked, downloaded or run.
    if (!p.Completed(70100, Refusing([&] { Inputs::RequireProductName(name); }))) return;
    if (!p.Completed(70114, Refusing([&] { Inputs::RequireUsableWord(word); }))) return;
    mRefusal.reset();
    mInstallOutcome = {};
    p(70101, [&] { CommonLogger::OpenLog(0, name, L"Tamberlux", L"Valdomeren"); });
    p(70102, [&] { Word::Initialize(word); });
    bool registered = true;
    p(70103, [&] { registered = EnsureDependenciesAreRegistered(name, dependencies, dependenciesXPOrLater); });
    if (!registered) {
      mInstallOutcome.added = InstallMessages::Added::kLibrariesMissing;
      p(70104, [&] { word.Call(L"Quit"); });
      return;
    }
    p(70105, [&] { path = UtilityFunctions::CopyTemplateIntoTrustedFolder(name); });
    p(70106, [&] { PreventToolbarCorruption(); });
    bool installed = false;
    p(70107, [&] { installed = addinInstalled(path, word); });
    if (installed) {
      mInstallOutcome.added = InstallMessages::Added::kAtOnce;
      p(70108, [&] { result = HookIntoWordImpl(name, path, word); });
      return;
    }
    // Deferred: tried again once Word's main window has handled 1122.
    bool inOutlook2000 = false;
    p(70109, [&] { hwnd = CommonWordWindowFunctions::ActiveDocumentHandle(inOutlook2000); });
    p(70110, [&] {
      mSubclasser = WindowHook::New();
      mSubclasser->AfterMessage = [this](int32_t uMsg, int32_t wParam, int32_t lParam, int32_t& retValue) {
        mSubclasser_AfterMessage(uMsg, wParam, lParam, retValue);
      };
    });
    p(70111, [&] { mSubclasser->Attach(hwnd); });
    p(70112, [&] {
      mPath = path;
      mWord = word;
      mName = name;
    });
    mInstallOutcome.added = InstallMessages::Added::kDeferred;
    p(70113, [&] { PostMessageW(hwnd, kDeferredInstall, 0, 0); });
  });
  return result;
}

void Main2::mSubclasser_AfterMessage(int32_t uMsg, int32_t wParam, int32_t lParam, int32_t& retValue) {
  vbw::Proc p(L"Main2.mSubclasser_AfterMessage", ReportModuleVariables,
              {Var(L"uMsg", uMsg), Var(L"wParam", wParam), Var(L"lParam", lParam), Var(L"retValue", retValue)}, this);
  p.Run([&] {
    if (uMsg != static_cast<int32_t>(kDeferredInstall)) return;
    bool installed = false;
    p(70201, [&] { installed = addinInstalled(mPath, mWord); });
    if (!installed) {
      mInstallOutcome.added = InstallMessages::Added::kRefusedAgain;
      p(70202, [&] { MessageBoxW(nullptr, InstallMessages::kStillCannotInstall, InstallMessages::kStillCannotInstallTitle, MB_OK); });
      return;
    }
    mInstallOutcome.added = InstallMessages::Added::kAfterDeferral;
    p(70203, [&] { mSubclasser->Detach(); });
    p(70204, [&] { HookIntoWordImpl(mName, mPath, mWord); });
    p(70205, [&] {
      mPath.clear();
      mWord = LateObject();
    });
  });
}

bool Main2::addinInstalled(const std::wstring& path, const LateObject& word) {
  bool result = false;
  vbw::Proc p(L"Main2.addinInstalled", ReportModuleVariables, {Var(L"path", path), Var(L"word", word)}, this);
  p.Run([&] {
    p.ResumeNext();
    result = p.Try(70301, [&] { word.Object(L"AddIns").Call(L"Add", {Variant::Of(path)}); }) == 0;
  });
  return result;
}

void Main2::PreventToolbarCorruption() {
  vbw::Proc p(L"Main2.PreventToolbarCorruption", ReportModuleVariables, {}, this);
  p.Run([&] {
    p(70401, [&] { CommonLogger::Log(L"PreventToolbarCorruption"); });
    p(70402, [&] { SleepReplacement::Wait(1, nullptr); });
  });
}

LateObject Main2::HookIntoWordImpl(const std::wstring& name, const std::wstring& path, const LateObject& word) {
  LateObject result;
  vbw::Proc p(L"Main2.HookIntoWordImpl", ReportModuleVariables,
              {Var(L"name", name), Var(L"path", path), Var(L"word", word)}, this);
  p.Run([&] {
    p(70501, [&] { CommonLogger::Log(L"Adding " + path); });
    p.ResumeNext();
    bool word2007OrLater = false;
    p(70503, [&] { word2007OrLater = Word::isWord2007OrLater(); });
    // Word 2007 and later run the add-in's "HookIntoWord", which answers an
    // object; earlier ones its "Initialize".
    const wchar_t* macro = word2007OrLater ? L"HookIntoWord" : L"Initialize";
    p(70504, [&] { CommonLogger::Log(word2007OrLater ? L"Calling HookIntoWord" : L"Running AutoExec"); });
    const auto run = [&] {
      Variant answer = word.Call(L"Run", {Variant::Of(macro), Variant::Of(word.Get())});
      if (word2007OrLater) result = LateObject::FromVariant(answer);
    };
    using InstallMessages::Macro;
    mInstallOutcome.macro = Macro::kRan;
    if (p.Try(70505, run) != 0) {
      // A failing macro means a corrupted data key: repaired once, run once more.
      std::wstring version;
      p(70506, [&] { version = ToText(word.Get(L"Version")); });
      // A Word that went cannot say its version: the repair is skipped, as an
      // ignored statement would be, rather than refused as a bad version.
      bool repaired = false;
      if (!version.empty()) {
        p(70507, [&] { DeleteCorruptedDataFolder(version); });
        // The user hears of a repair only when Word's Data key is really gone
        // (not kept because its backup could not be written).
        p(70511, [&] {
          repaired = WordKeys::WordVersionProblem(version).empty() &&
                     !RegistryRaw::ValueCount(HKEY_CURRENT_USER, WordKeys::DataKey(version));
        });
      }
      const bool ran = p.Try(70508, run) == 0;
      mInstallOutcome.macro = ran ? (repaired ? Macro::kRanAfterRepair : Macro::kRanAtSecondTry)
                                  : (repaired ? Macro::kFailedAfterRepair : Macro::kFailedTwice);
      if (!ran && repaired) {
        p(70509, [&] {
          MessageBoxW(nullptr, InstallMessages::RestartWord(name).c_str(), InstallMessages::kRestartWordTitle,
                      MB_OK | MB_ICONEXCLAMATION);
        });
      }
    }
    p(70510, [&] { CommonLogger::CloseLog(-1); });
  });
  return result;
}

}  // namespace tamberlux
