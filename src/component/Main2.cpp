// Main2's own procedures: its dump section, Quit, and how it gets a Word.
#include "component/Main2.h"

#include "errortrap/Procedure.h"
#include "support/CommonLogger.h"
#include "support/CommonWordInteractionFunctions.h"

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
  p.Run([&] { p(2701, [&] { CommonWordInteractionFunctions::Terminate(); }); });
}

LateObject Main2::WordApplication() {
  LateObject result;
  vbw::Proc p(L"Main2.WordApplication[Get]", ReportModuleVariables, {}, this);
  p.Run([&] {
    p(2801, [&] { CommonLogger::Log(L"WordApplication"); });
    p.ResumeNext();
    if (p.Try(2803, [&] { result = ActiveObject(L"Word.Application"); }) != 0) {
      p(2804, [&] { result = CreateWordApplication(); });
      return;
    }
    bool visible = true;
    if (p.Try(2805, [&] { visible = ToBool(result.Get(L"Visible")); }) != 0 || visible) return;
    p(2806, [&] { NewObject(L"Shell.Application").Call(L"UndoMinimizeAll"); });
    p(2807, [&] { result.Put(L"Visible", Variant::Of(true)); });
    p(2808, [&] {
      if (ToLong(result.Get(L"WindowState")) == 2) result.Put(L"WindowState", Variant::Of(0));
    });
    p(2809, [&] { result.Call(L"Activate"); });
  });
  return result;
}

LateObject Main2::CreateWordApplication() {
  LateObject result;
  vbw::Proc p(L"Main2.CreateWordApplication", ReportModuleVariables, {}, this);
  p.Run([&] {
    p(2901, [&] { CommonLogger::Log(L"CreateWordApplication"); });
    p.ResumeNext();
    if (p.Try(2903, [&] { result = NewObject(L"Word.Application"); }) == 0)
      p(2904, [&] { result.Put(L"Visible", Variant::Of(true)); });
  });
  return result;
}

}  // namespace tamberlux
