// tamberlux check NAME [--json] [--deps A.dll,B.dll] [--xp-deps C.dll]: each
// library group and each program DLL the installer would need, as present,
// registrable (the file is there and can register itself) or missing, with
// the file and ProgID that failed. Downloads, registers and changes nothing.
#include <windows.h>

#include <string>
#include <vector>

#include "Commands.h"
#include "Console.h"
#include "component/Main2.h"
#include "SettingsReport.h"
#include "installer/InstallerSettings.h"
#include "installer/DependencyPlan.h"
#include "installer/ObjectFactory.h"
#include "support/GetSpecialFolder.h"
#include "support/UtilityFunctions.h"
#include "support/WindowsVersion.h"

namespace tamberlux {
namespace {

using namespace console;
using DependencyPlan::GroupLook;

std::wstring JsonLine(const std::wstring& label, const GroupLook& l, const std::wstring& url) {
  std::wstring out = L"{\"name\": " + Json(label) + L", \"state\": " + Json(DependencyPlan::StateName(l.state)) +
                     L", \"url\": " + JsonOrNull(url) + L", \"note\": " + JsonOrNull(l.note) + L", \"files\": [";
  for (size_t i = 0; i < l.files.size(); ++i)
    out += (i ? L", " : L"") + std::wstring(L"{\"file\": ") + Json(l.files[i].file) + L", \"progId\": " +
           Json(l.files[i].progId) + L", \"state\": " + Json(DependencyPlan::StateName(l.files[i].state)) + L"}";
  return out + L"]}";
}

}  // namespace

int CheckCommand(const std::wstring& name, bool json, const std::vector<std::wstring>& deps,
                 const std::vector<std::wstring>& xpDeps) {
  Main2 m;
  int32_t csidl = DependencyPlan::kCsidlSystem;
  const std::wstring system = GetSpecialFolder::fGetSpecialFolder(csidl);
  const std::wstring program = UtilityFunctions::SRC_PATH(name);
  const InstallerSettings::Settings settings = InstallerSettings::Read();
  // A refused server names no installer: nothing would be fetched from it.
  const std::wstring server = settings.address;
  const std::wstring windows = WindowsVersion::WindowsVersion();
  const DependencyPlan::WindowsFacts facts = DependencyPlan::CurrentWindows();
  // Looks only: a file that could register itself is not let do it.
  const DependencyPlan::LookAtFile look = [&m](const std::wstring& path, const std::wstring& progId) {
    using DependencyPlan::State;
    if (!m.fileExists(path)) return State::Missing;
    if (m.IsProgIDRegistered(progId)) return State::Present;
    return ObjectFactory::CanRegister(path) ? State::Registrable : State::Missing;
  };
  std::vector<std::pair<std::wstring, GroupLook>> lines;
  for (const GroupLook& g :
       DependencyPlan::LookAtGroups(system, look, [&m] { return m.CheckRegistration(L"", {}, {}, true); }, facts))
    lines.emplace_back(g.group->library, g);
  const bool xp = DependencyPlan::XpListNeeded(facts);
  for (const auto& file : deps)
    lines.emplace_back(L"program DLL", DependencyPlan::LookAtProgramDll(program, file, true, look));
  for (const auto& file : xpDeps)
    lines.emplace_back(L"program DLL (XP or later)", DependencyPlan::LookAtProgramDll(program, file, xp, look));
  bool ready = true;
  for (const auto& [label, l] : lines) ready = ready && !l.blocking;
  const auto url = [&](const GroupLook& l) {
    return server.empty() || l.installerPath.empty() ? std::wstring() : server + l.installerPath;
  };

  if (json) {
    std::wstring out = L"{\n  \"product\": " + Json(name) + L",\n  \"windows\": " + JsonOrNull(windows) +
                       L",\n  \"server\": " + JsonOrNull(server) + L",\n  \"settings\": " + SettingsJson(settings) +
                       L",\n  \"ready\": " +
                       (ready ? L"true" : L"false") + L",\n  \"checks\": [";
    for (size_t i = 0; i < lines.size(); ++i)
      out += (i ? L",\n    " : L"\n    ") + JsonLine(lines[i].first, lines[i].second, url(lines[i].second));
    Print(out + L"\n  ]\n}\n");
  } else {
    Print(Shown(name) + L" on " + (windows.empty() ? L"an unnamed Windows" : windows) + L", download server " +
          (server.empty() ? L"refused (nothing would be downloaded)" : server) + L"\n" + SettingsText(settings));
    for (const auto& [label, l] : lines) {
      Print(L"  " + label + L": " + DependencyPlan::StateName(l.state) + (l.note.empty() ? L"" : L" (" + l.note + L")") +
            L"\n");
      for (const auto& f : l.files)
        if (f.state != DependencyPlan::State::Present || l.files.size() > 1)
          Print(L"    " + f.file + L" / " + f.progId + L": " + DependencyPlan::StateName(f.state) + L"\n");
      if (l.state == DependencyPlan::State::Missing && !url(l).empty())
        Print(L"    installer: " + url(l) + L" " + DependencyPlan::kInstallerArguments + L"\n");
    }
    Print(ready ? L"everything is in place or can register itself\n" : L"something is missing\n");
  }
  return ready ? kDone : kFailed;
}

}  // namespace tamberlux
