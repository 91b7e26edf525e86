#include "SettingsReport.h"

#include "Console.h"

namespace tamberlux {

using namespace console;
using InstallerSettings::Setting;

std::wstring SettingsText(const InstallerSettings::Settings& settings, const wchar_t* indent) {
  std::wstring out;
  for (const Setting* s : settings.All()) {
    const std::wstring source = InstallerSettings::SourceName(s->source);
    out += indent + Shown(s->Label()) + L": " + (s->stored.empty() ? L"\"\"" : Shown(s->stored)) + L" (" +
           source +
           (s->source == InstallerSettings::Source::Default ? L")"
            : s->Accepted()                                 ? L", accepted)"
                                                            : L", refused: " + s->refusal + L")") +
           L"\n";
  }
  return out;
}

std::wstring SettingsJson(const InstallerSettings::Settings& settings) {
  std::wstring out = L"[";
  for (const Setting* s : settings.All())
    out += (out.size() > 1 ? L", " : L"") + std::wstring(L"{\"name\": ") + Json(s->Label()) +
           L", \"stored\": " + Json(s->stored) + L", \"source\": " + Json(InstallerSettings::SourceName(s->source)) +
           L", \"accepted\": " + (s->Accepted() ? L"true" : L"false") + L", \"why\": " + JsonOrNull(s->refusal) + L"}";
  return out + L"]";
}

}  // namespace tamberlux
