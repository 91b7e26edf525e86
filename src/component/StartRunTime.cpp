// The launch from the desktop icon: a supported Word, the add-ins registered
// and enabled for it, Word running and visible, and a new visible document.
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
constexpr int32_t kWordCommandNotAvailable = 4605;

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
    // The name becomes a registry key and a file name: an unusable one ends the launch.
    bool usable = false;
    p(1301, [&] {
      Inputs::RequireProductName(name);
      usable = true;
    });
    if (!usable) return;
    bool supported = true;
    p(1302, [&] { supported = WordIsSupported(name); });
    if (!supported) {
      p(1303, [&] {
        MsgBox(L"You need Microsoft Word 2000 or later to run " + name + L".", MB_OK,
               name + L" requires Word 2000 or later");
      });
      return;
    }
    p(1304, [&] { EnableComAddins(); });
    p(1305, [&] { version = getWordVersion(name, word); });
    if (version.empty()) {
      p(1306, [&] { ForceCreateTamberluxToQuit(name); });
    } else {
      p(1307, [&] { enableTamberlux(name, version); });
    }
    if (!word) {
      p(1308, [&] { word = WordApplication(); });
      if (!word) {
        p(1309, [&] {
          MsgBox(name + L" could not start Word, possibly because it is corrupted. Please try starting Word by "
                        L"itself to resolve this problem.  If you still have problems with " +
                     name + L", repair or reinstall Word.",
                 MB_OK, name + L" could not start Word. Is it corrupted?");
        });
        return;
      }
      bool exited = false;
      p(1310, [&] { exited = wordExitedBecauseOfMissingLibrary(word); });
      if (exited) return;
    }
    if (version.empty()) {
      p(1311, [&] { enableTamberlux(name, ToText(word.Get(L"Version"))); });
      p(1312, [&] { permanentlyDisableAddin(name, false); });
      p(1313, [&] { setWordVersion(name, ToText(word.Get(L"Version"))); });
    }
    p(1314, [&] { CommonWordInteractionFunctions::Initialize(word); });
    p(1315, [&] { UtilityFunctions::CopyTemplateIntoTrustedFolder(name); });

    p.ResumeNext();
    if (startZTL) p(1316, [&] { word.Call(L"Run", {Variant::Of(L"SetStartedFromIcon")}); });
    if (p.Try(1317, [&] { AddVisibleDocument(word); }) != kWordCommandNotAvailable) return;
    // Word refused the document: leave it running, hidden, and use a new one.
    p(1318, [&] { word.Put(L"Visible", Variant::Of(false)); });
    p(1319, [&] { word = CreateWordApplication(); });
    p(1320, [&] { CommonWordInteractionFunctions::Initialize(word); });
    p(1321, [&] { AddVisibleDocument(word); });
  });
}

bool Main2::WordIsSupported(const std::wstring& productName) {
  bool result = true;
  vbw::Proc p(L"Main2.WordIsSupported", ReportModuleVariables, {Var(L"productName", productName)}, this);
  p.Run([&] {
    bool failed = false;
    p(1401, [&] { failed = failedWord2000CheckOnInstallation(productName); });
    if (!failed) return;
    p.ResumeNext();
    LateObject app;
    p(1402, [&] { app = WordApplication(); });
    if (app) {
      p(1403, [&] { reg::DeleteValue(HKEY_CURRENT_USER, productSection(productName), WordKeys::kFailedWord2000Check); });
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
      p(1501, [&] {
        result = reg::ReadRegistryString(HKEY_CURRENT_USER, productSection(productName), WordKeys::kWordVersion);
      });
    } else {
      p(1502, [&] { result = ToText(word.Get(L"Version")); });
    }
  });
  return result;
}

void Main2::setWordVersion(const std::wstring& productName, const std::wstring& version) {
  vbw::Proc p(L"Main2.setWordVersion", ReportModuleVariables,
              {Var(L"productName", productName), Var(L"version", version)}, this);
  p.Run([&] {
    p(1601, [&] {
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
    p(1701, [&] {
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
    p(1801, [&] {
      reg::WriteRegistry(HKEY_CURRENT_USER, productSection(productName), WordKeys::kPermanentlyDisableAddin,
                         reg::REG_SZ_TYPE, Variant::Of(value ? L"1" : L"0"));
    });
  });
}

void Main2::ForceCreateTamberluxToQuit(const std::wstring& name) {
  vbw::Proc p(L"Main2.ForceCreateTamberluxToQuit", ReportModuleVariables, {Var(L"name", name)}, this);
  p.Run([&] {
    bool disabled = true;
    p(1901, [&] { disabled = permanentlyDisableAddin(name); });
    if (!disabled) p(1902, [&] { permanentlyDisableAddin(name, true); });
  });
}

bool Main2::wordExitedBecauseOfMissingLibrary(const LateObject& word) {
  bool result = false;
  vbw::Proc p(L"Main2.wordExitedBecauseOfMissingLibrary", ReportModuleVariables, {Var(L"word", word)}, this);
  p.Run([&] { result = p.Try(2001, [&] { word.Get(L"Version"); }) != 0; });
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
    p(2101, [&] {
      if (testVBScript) {
        reason = L" needs to reboot your computer to finish installing.";
        reason2 = L"Please reboot your computer to fix this problem.";
        title = L"You need to reboot your computer";
      } else {
        reason = L" is missing one of the files that it needs to run: " + Filename + L".";
        reason2 = L"To fix this problem, please download and install it from:\r\n" + url;
        title = L"You need to reinstall " + Filename;
      }
    });
    p(2102, [&] { MsgBox(L"Microsoft Word will now exit because " + productName + reason + L"\r\n" + reason2, MB_OK, title); });
  });
}

}  // namespace tamberlux
