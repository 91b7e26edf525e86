// The launch from the desktop icon: a supported Word, the add-ins registered
// and enabled for it, Word running and visible, and a new visible document.
// Step numbers in this file start at 20000.
#include "component/InstallMessages.h"
#include "component/Main2.h"
#include "component/Inputs.h"
#include "errortrap/Procedure.h"
#include "registry/RegistryFunctions.h"
#include "registry/WordKeys.h"
#include "support/CommonWordInteractionFunctions.h"
#include "support/UtilityFunctions.h"

namespace tamberlux {

using vbw::Var;
namespace reg = RegistryFunctions;

namespace {

void MsgBox(const std::wstring& text, UINT buttons, const std::wstring& title) {
  MessageBoxW(nullptr, text.c_str(), title.c_str(), buttons);
}

void AddVisibleDocument(const LateObject& word) {
  word.Object(L"Documents").Call(L"Add", {}, {{L"Visible", Variant::Of(true)}});
}
}  // namespace

void Main2::StartRunTime(std::wstring& name, LateObject& word, bool startZTL) {
  vbw::Proc p(L"Main2.StartRunTime", ReportModuleVariables,
              {Var(L"name", name), Var(L"word", word), Var(L"startZTL", startZTL)}, this);
  std::wstring version;
  p.Local(L"version", version);
  p.Run([&] {
    // The name becomes a registry key and a file name: an unusable one ends
    // the launch, and the launcher learns why.
    if (!p.Completed(20101, Refusing([&] { Inputs::RequireProductName(name); }))) return;
    bool supported = true;
    p(20102, [&] { supported = WordIsSupported(name); });
    if (!supported) {
      p(20103, [&] {
        MsgBox(L"You need Microsoft Word 2000 or later to run " + name + L".", MB_OK,
               name + L" requires Word 2000 or later");
      });
      return;
    }
    p(20104, [&] { EnableComAddins(); });
    p(20105, [&] { version = getWordVersion(name, word); });
    if (version.empty()) {
      p(20106, [&] { ForceCreateTamberluxToQuit(name); });
    } else {
      p(20107, [&] { enableTamberlux(name, version); });
    }
    if (!word) {
      p(20108, [&] { word = WordApplication(); });
      if (!word) {
        p(20109, [&] {
          MsgBox(name + L" could not start Word, possibly because it is corrupted. Please try starting Word by "
                        L"itself to resolve this problem.  If you still have problems with " +
                     name + L", repair or reinstall Word.",
                 MB_OK, name + L" could not start Word. Is it corrupted?");
        });
        return;
      }
      bool exited = false;
      p(20110, [&] { exited = wordExitedBecauseOfMissingLibrary(word); });
      if (exited) return;
    }
    if (version.empty()) {
      p(20111, [&] { enableTamberlux(name, ToText(word.Get(L"Version"))); });
      p(20112, [&] { permanentlyDisableAddin(name, false); });
      p(20113, [&] { setWordVersion(name, ToText(word.Get(L"Version"))); });
    }
    p(20114, [&] { CommonWordInteractionFunctions::Initialize(word); });
    p(20115, [&] { UtilityFunctions::CopyTemplateIntoTrustedFolder(name); });

    p.ResumeNext();
    if (startZTL) p(20116, [&] { word.Call(L"Run", {Variant::Of(L"SetStartedFromIcon")}); });
    if (p.Try(20117, [&] { AddVisibleDocument(word); }) != vb::kWordCommandNotAvailable) return;
    // Word refused the document: leave it running, hidden, and use a new one.
    p(20118, [&] { word.Put(L"Visible", Variant::Of(false)); });
    p(20119, [&] { word = CreateWordApplication(); });
    p(20120, [&] { CommonWordInteractionFunctions::Initialize(word); });
    p(20121, [&] { AddVisibleDocument(word); });
  });
}

bool Main2::WordIsSupported(const std::wstring& productName) {
  bool result = true;
  vbw::Proc p(L"Main2.WordIsSupported", ReportModuleVariables, {Var(L"productName", productName)}, this);
  p.Run([&] {
    bool failed = false;
    p(20201, [&] { failed = failedWord2000CheckOnInstallation(productName); });
    if (!failed) return;
    p.ResumeNext();
    LateObject app;
    p(20202, [&] { app = WordApplication(); });
    if (app) {
      p(20203, [&] { reg::DeleteValue(HKEY_CURRENT_USER, productSection(productName), WordKeys::kFailedWord2000Check); });
    } else {
      result = false;
    }
  });
  return result;
}

std::wstring Main2::getWordVersion(const std::wstring& productName, const LateObject& word) {
  std::wstring result;
  vbw::Proc p(L"Main2.getWordVersion", ReportModuleVariables, {Var(L"productName", productName), Var(L"word", word)},
              this);
  p.Run([&] {
    if (!word) {
      p(20301, [&] {
        result = reg::ReadRegistryString(HKEY_CURRENT_USER, productSection(productName), WordKeys::kWordVersion);
      });
    } else {
      p(20302, [&] { result = ToText(word.Get(L"Version")); });
    }
  });
  return result;
}

void Main2::setWordVersion(const std::wstring& productName, const std::wstring& version) {
  vbw::Proc p(L"Main2.setWordVersion", ReportModuleVariables,
              {Var(L"productName", productName), Var(L"version", version)}, this);
  p.Run([&] {
    p(20401, [&] {
      reg::WriteRegistry(HKEY_CURRENT_USER, productSection(productName), WordKeys::kWordVersion, reg::REG_SZ_TYPE,
                         Variant::Of(version));
    });
  });
}

bool Main2::permanentlyDisableAddin(const std::wstring& productName) {
  bool result = false;
  vbw::Proc p(L"Main2.permanentlyDisableAddin[Get]", ReportModuleVariables, {Var(L"productName", productName)},
              this);
  p.Run([&] {
    p(20501, [&] {
      result = reg::ReadRegistryString(HKEY_CURRENT_USER, productSection(productName), WordKeys::kPermanentlyDisableAddin) ==
               L"1";
    });
  });
  return result;
}

void Main2::permanentlyDisableAddin(const std::wstring& productName, bool value) {
  vbw::Proc p(L"Main2.permanentlyDisableAddin[Let]", ReportModuleVariables,
              {Var(L"productName", productName), Var(L"value", value)}, this);
  p.Run([&] {
    p(20601, [&] {
      reg::WriteRegistry(HKEY_CURRENT_USER, productSection(productName), WordKeys::kPermanentlyDisableAddin,
                         reg::REG_SZ_TYPE, Variant::Of(value ? L"1" : L"0"));
    });
  });
}

void Main2::ForceCreateTamberluxToQuit(const std::wstring& name) {
  vbw::Proc p(L"Main2.ForceCreateTamberluxToQuit", ReportModuleVariables, {Var(L"name", name)}, this);
  p.Run([&] {
    bool disabled = true;
    p(20701, [&] { disabled = permanentlyDisableAddin(name); });
    if (!disabled) p(20702, [&] { permanentlyDisableAddin(name, true); });
  });
}

bool Main2::wordExitedBecauseOfMissingLibrary(const LateObject& word) {
  bool result = false;
  vbw::Proc p(L"Main2.wordExitedBecauseOfMissingLibrary", ReportModuleVariables, {Var(L"word", word)}, this);
  p.Run([&] { result = p.Try(20801, [&] { word.Get(L"Version"); }) != 0; });
  return result;
}

void Main2::WarnUserOfCrash(const std::wstring& productName, const std::wstring& Filename, const std::wstring& url,
                            bool testVBScript) {
  vbw::Proc p(L"Main2.WarnUserOfCrash", ReportModuleVariables,
              {Var(L"productName", productName), Var(L"Filename", Filename), Var(L"url", url),
               Var(L"testVBScript", testVBScript)},
              this);
  std::wstring reason, reason2, title;
  p.Local(L"reason", reason);
  p.Local(L"reason2", reason2);
  p.Local(L"title", title);
  p.Run([&] {
    p(20901, [&] {
      if (testVBScript) {
        reason = L" needs to reboot your computer to finish installing.";
        reason2 = L"Please reboot your computer to fix this problem.";
        title = L"You need to reboot your computer";
      } else {
        reason = L" is missing one of the files that it needs to run: " + Filename + L".";
        reason2 = L"To fix this problem, please download and install it from:\r\n" + url;
        title = L"You need to reinstall " + Filename;
      }
      mInstallOutcome.missing = Filename;
    });
    p(20902, [&] { MsgBox(InstallMessages::kWordWillExit + productName + reason + L"\r\n" + reason2, MB_OK, title); });
  });
}

}  // namespace tamberlux
