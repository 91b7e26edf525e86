// The monitor: what the monitor add-in asks for as Word starts. When Word's
// resiliency lists name the add-in, the user is asked, in Word's title bar
// and in the re-enable dialog, what to do about it.
// Step numbers in this file start at 80000.
#include "component/Inputs.h"
#include "component/Main2.h"
#include "component/ReenableForm.h"
#include "errortrap/Procedure.h"
#include "registry/WordKeys.h"
#include "support/CommonLogger.h"
#include "support/CommonWordInteractionFunctions.h"
#include "support/CommonWordWindowFunctions.h"

namespace tamberlux {

using vbw::Var;

void Main2::CreateAddInMonitor(std::wstring& name, LateObject& word) {
  vbw::Proc p(L"Main2.CreateAddInMonitor", ReportModuleVariables, {Var(L"name", name), Var(L"word", word)}, this);
  std::wstring oldCaption, version;
  // A dialog that never answered leaves the add-in off this time: no restart.
  int32_t answer = ReenableForm::kDisableThisTime;
  p.Local(L"oldCaption", oldCaption);
  p.Local(L"answer", answer);
  p.Local(L"version", version);
  p.Run([&] {
    // The name finds the product's settings section and its entry in Word's
    // lists; an empty one would match every disabled add-in.
    if (!p.Completed(80101, Refusing([&] { Inputs::RequireProductName(name); }))) return;
    p(80102, [&] { CommonLogger::OpenLog(0, name, L"MonitorAddin", L"Valdomeren"); });
    p(80103, [&] { CommonWordInteractionFunctions::Initialize(word); });
    bool permanent = false;
    p(80104, [&] { permanent = permanentlyDisableAddin(name); });
    if (permanent) {
      // Respected until Word itself no longer lists the add-in (the user
      // re-enabled it in Word's own dialog).
      bool listed = true;
      p(80105, [&] { listed = !tamberluxDisabled(name, ToText(word.Get(L"Version"))).empty(); });
      if (!listed) p(80106, [&] { permanentlyDisableAddin(name, false); });
      return;
    }
    bool listed = false;
    // The version is kept: Word may be gone by the time the user answers.
    p(80117, [&] { version = ToText(word.Get(L"Version")); });
    p(80107, [&] { listed = !tamberluxDisabled(name, version).empty(); });
    if (!listed) return;
    p(80108, [&] { oldCaption = ToText(word.Get(L"Caption")); });
    const std::wstring question = L"Re-enable " + name + L" for " + oldCaption + L"?";
    p(80109, [&] { word.Put(L"Caption", Variant::Of(question)); });
    // The dialog belongs to the Word whose title bar now asks: another Word
    // may be running, and asking too.
    p(80110, [&] {
      ReenableForm form;
      answer = ToLong(form.Execute(name, CommonWordWindowFunctions::WordWindowShowing(question)));
    });
    if (answer == ReenableForm::kReenable) {
      p(80111, [&] { enableTamberlux(name, version); });
      // Word closed (or crashed) while the user was answering: the add-in is
      // re-enabled for Word's next start, and the monitor learns that there
      // is no Word left to restart.
      bool gone = false;
      p(80118, [&] { gone = wordExitedBecauseOfMissingLibrary(word); });
      if (gone) {
        p(80119, Refusing([&] {
          vb::Raise(vb::kRemoteServerUnavailable, L"Word has gone: " + name + L" is re-enabled for Word " + version +
                                                      L" and loads when Word starts again");
        }));
        return;
      }
      p(80112, [&] { word = RestartWord(name, word); });
      // The launch runs as a call of the public member: name and word by
      // reference, traced under its own name, the launch's own checks on the
      // name and its own error tail. Calling it through the object's COM
      // interface would only add the marshalling of the same two references.
      if (word) p(80113, [&] { StartRunTime(name, word, true); });
      return;  // the old Word is gone: its caption is not restored
    }
    if (answer == ReenableForm::kDisablePermanently) p(80114, [&] { permanentlyDisableAddin(name, true); });
    p(80115, [&] { word.Put(L"Caption", Variant::Of(oldCaption)); });
    p(80116, [&] { word.Put(L"Visible", Variant::Of(true)); });
  });
}

LateObject Main2::RestartWord(const std::wstring& productName, const LateObject& word) {
  LateObject result;
  vbw::Proc p(L"Main2.RestartWord", ReportModuleVariables, {Var(L"productName", productName), Var(L"word", word)},
              this);
  p.Run([&] {
    p(80201, [&] { word.Call(L"Quit", {}, {{L"SaveChanges", Variant::Of(false)}}); });
    p(80202, [&] { result = CreateWordApplication(); });
  });
  return result;
}

}  // namespace tamberlux
