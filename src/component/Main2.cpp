// Main2's own procedures: its dump section, Quit, and how it gets a Word.
// Step numbers in this file start at 10000.
#include "component/Main2.h"

#include "errortrap/Procedure.h"
#include "support/CommonLogger.h"
#include "support/CommonWordInteractionFunctions.h"
#include "support/CommonWordWindowFunctions.h"
#include "support/SleepReplacement.h"

namespace tamberlux {

using vbw::Var;

void Main2::ReportModuleVariables(const void* self) {
  const auto* m = static_cast<const Main2*>(self);
  vbw::vbwReportToFile(vbw::kModuleBanner);
  if (!m) return;
  vbw::ReportVar(L"mName", m->mName);
  vbw::ReportVar(L"mPath", m->mPath);
  Variant subclasser;
  subclasser.vt = VT_UNKNOWN;
  subclasser.punkVal = m->mSubclasser.Get();
  if (subclasser.punkVal) subclasser.punkVal->AddRef();
  vbw::vbwReportVariable(L"mSubclasser", subclasser, 0);
  vbw::ReportVar(L"mWord", m->mWord);
}

void Main2::Quit() {
  vbw::Proc p(L"Main2.Quit", ReportModuleVariables, {}, this);
  p.Run([&] { p(10101, [&] { CommonWordInteractionFunctions::Terminate(); }); });
}

LateObject Main2::WordApplication() {
  LateObject result;
  vbw::Proc p(L"Main2.WordApplication[Get]", ReportModuleVariables, {}, this);
  p.Run([&] {
    p(10201, [&] { CommonLogger::Log(L"WordApplication"); });
    p.ResumeNext();
    if (p.Try(10203, [&] { result = ActiveObject(L"Word.Application"); }) != 0) {
      p(10204, [&] { result = CreateWordApplication(); });
      if (result) return;
      // Word may have refused to start twice: another launch (the second
      // click of a double-click) is starting it this very moment. That Word,
      // once up, is the one to use, as a running one.
      p(10210, [&] { result = WordBeingStarted(); });
      if (!result) return;
    }
    bool visible = true;
    if (p.Try(10205, [&] { visible = ToBool(result.Get(L"Visible")); }) != 0 || visible) return;
    p(10206, [&] { NewObject(L"Shell.Application").Call(L"UndoMinimizeAll"); });
    p(10207, [&] { result.Put(L"Visible", Variant::Of(true)); });
    p(10208, [&] {
      if (ToLong(result.Get(L"WindowState")) == 2) result.Put(L"WindowState", Variant::Of(0));
    });
    p(10209, [&] { result.Call(L"Activate"); });
  });
  return result;
}

LateObject Main2::CreateWordApplication() {
  LateObject result;
  vbw::Proc p(L"Main2.CreateWordApplication", ReportModuleVariables, {}, this);
  p.Run([&] {
    p(10301, [&] { CommonLogger::Log(L"CreateWordApplication"); });
    p.ResumeNext();
    if (p.Try(10303, [&] { result = NewObject(L"Word.Application"); }) == 0)
      p(10304, [&] { result.Put(L"Visible", Variant::Of(true)); });
  });
  return result;
}

LateObject Main2::WordBeingStarted() {
  LateObject result;
  vbw::Proc p(L"Main2.WordBeingStarted", ReportModuleVariables, {}, this);
  p.Run([&] {
    p(10401, [&] { CommonLogger::Log(L"WordBeingStarted"); });
    p.ResumeNext();
    const ULONGLONG deadline = GetTickCount64() + kWordBeingStartedWaitMs;
    for (;;) {
      // A Word's main window is up: a Word is starting, or running unregistered.
      HWND window = nullptr;
      p(10402, [&] { window = CommonWordWindowFunctions::WordWindowShowing(L""); });
      if (!window) return;
      if (p.Try(10403, [&] { result = ActiveObject(L"Word.Application"); }) == 0 || GetTickCount64() >= deadline) return;
      p(10404, [&] { SleepReplacement::Wait(kWordBeingStartedPollMs); });
    }
  });
  return result;
}

}  // namespace tamberlux
