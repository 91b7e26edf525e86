#include "support/CommonWordInteractionFunctions.h"

#include "base/ThreadValues.h"
#include "errortrap/Procedure.h"

namespace tamberlux::CommonWordInteractionFunctions {

using vbw::Var;

namespace {
LateObject& mWord() {
  thread_local LateObject* word = nullptr;
  return ThreadOwned(word);
}
}  // namespace

void ReportModuleVariables(const void*) {
  vbw::vbwReportToFile(vbw::kModuleBanner);
  vbw::ReportVar(L"mWord", mWord());
}

void Initialize(const LateObject& word) {
  vbw::Proc p(L"CommonWordInteractionFunctions.Initialize", ReportModuleVariables, {Var(L"word", word)});
  p.Run([&] {
    p(101, [&] {
      if (!word) vb::Raise(vb::kWordCannotBeNothing, L"word cannot be nothing");
    });
    p(102, [&] { mWord() = word; });
  });
}

void Terminate() {
  vbw::Proc p(L"CommonWordInteractionFunctions.Terminate", ReportModuleVariables);
  p.Run([&] { p(201, [&] { mWord() = LateObject(); }); });
}

LateObject Application() {
  vbw::Proc p(L"CommonWordInteractionFunctions.Application[Get]", ReportModuleVariables);
  return mWord();
}

LateObject Documents() {
  LateObject result;
  vbw::Proc p(L"CommonWordInteractionFunctions.Documents[Get]", ReportModuleVariables);
  p.Run([&] { p(401, [&] { result = mWord().Object(L"Documents"); }); });
  return result;
}

int16_t MajorVersion(const std::wstring& v) {
  size_t p = v.find(L'.');
  const size_t q = v.find(L',');
  // The later of the two separators wins; a comma alone counts too.
  if (q != std::wstring::npos && (p == std::wstring::npos || p < q)) p = q;
  std::wstring major = (p != std::wstring::npos && p > 0) ? v.substr(0, p) : v;
  Variant text = Variant::Of(major);
  Variant number;
  const HRESULT hr = VariantChangeType(&number, &text, 0, VT_I2);
  if (FAILED(hr)) vb::Raise(hr == DISP_E_OVERFLOW ? vb::kOverflow : vb::kTypeMismatch);
  return number.iVal;
}

int16_t WordVersion() {
  int16_t result = 0;
  vbw::Proc p(L"CommonWordInteractionFunctions.WordVersion[Get]", ReportModuleVariables);
  std::wstring v;
  p.Local(L"v", v);
  p.Run([&] {
    p(501, [&] { v = ToText(mWord().Get(L"Version")); });
    p(502, [&] { result = MajorVersion(v); });
  });
  return result;
}

bool isWord2002OrEarlier() {
  bool result = false;
  vbw::Proc p(L"CommonWordInteractionFunctions.isWord2002OrEarlier", ReportModuleVariables);
  p.Run([&] { p(601, [&] { result = WordVersion() <= 10; }); });
  return result;
}

bool isWord2007OrLater() {
  bool result = false;
  vbw::Proc p(L"CommonWordInteractionFunctions.isWord2007OrLater", ReportModuleVariables);
  p.Run([&] { p(701, [&] { result = WordVersion() >= 12; }); });
  return result;
}

bool GuaranteedVisibleMsgBox(const std::wstring& text, const std::wstring& title) {
  bool shown = false;
  vbw::Proc p(L"CommonWordInteractionFunctions.GuaranteedVisibleMsgBox", ReportModuleVariables,
              {Var(L"text", text), Var(L"title", title)});
  LateObject app;
  int32_t oldLeft = 0;
  p.Local(L"app", app);
  p.Local(L"oldLeft", oldLeft);
  p.Run([&] {
    p(801, [&] { app = Application(); });
    int32_t state = 0;
    p(802, [&] { state = ToLong(app.Get(L"WindowState")); });
    if (state == 1) {
      p(803, [&] { app.Put(L"Visible", Variant::Of(false)); });
    } else if (state == 0) {
      p(804, [&] { app.Put(L"Visible", Variant::Of(true)); });
      p(805, [&] { oldLeft = ToLong(app.Get(L"Left")); });
      p(806, [&] { app.Put(L"Left", Variant::Of(-10000)); });
    }
    p(807, [&] { shown = MessageBoxW(nullptr, text.c_str(), title.c_str(), MB_OK) != 0; });
    p(808, [&] { state = ToLong(app.Get(L"WindowState")); });
    if (state == 1) {
      p(809, [&] { app.Put(L"Visible", Variant::Of(true)); });
    } else if (state == 0) {
      p(810, [&] { app.Put(L"Left", Variant::Of(oldLeft)); });
    }
    p(811, [&] { app = LateObject(); });
  });
  return shown;
}

}  // namespace tamberlux::CommonWordInteractionFunctions
