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
#include "installer/InfraGroups.h"
#include "installer/ObjectFactory.h"
#include "support/GetSpecialFolder.h"
#include "support/UtilityFunctions.h"
#include "support/WindowsVersion.h"

namespace tamberlux {
namespace {

using namespace console;

struct Item {
  std::wstring file, progId, state;  // state: "present", "registrable", "missing"
};
struct Line {
  std::wstring label, state, url, note;
  std::vector<Item> items;
};

Item Look(Main2& m, const std::wstring& folder, const std::wstring& file, const std::wstring& progId) {
  const std::wstring path = folder + file;
  if (!m.fileExists(path)) return {file, progId, L"missing"};
  if (m.IsProgIDRegistered(progId)) return {file, progId, L"present"};
  return {file, progId, ObjectFactory::CanRegister(path) ? L"registrable" : L"missing"};
}

// The worst state of the items: a group is only as present as its least present file.
std::wstring Worst(const std::vector<Item>& items) {
  std::wstring state = L"present";
  for (const Item& i : items) {
    if (i.state == L"missing") return L"missing";
    if (i.state == L"registrable") state = L"registrable";
  }
  return state;
}

std::wstring JsonLine(const Line& l) {
  std::wstring out = L"{\"name\": " + Json(l.label) + L", \"state\": " + Json(l.state) + L", \"url\": " +
                     JsonOrNull(l.url) + L", \"note\": " + JsonOrNull(l.note) + L", \"files\": [";
  for (size_t i = 0; i < l.items.size(); ++i)
    out += (i ? L", " : L"") + std::wstring(L"{\"file\": ") + Json(l.items[i].file) + L", \"progId\": " +
           Json(l.items[i].progId) + L", \"state\": " + Json(l.items[i].state) + L"}";
  return out + L"]}";
}

}  // namespace

int CheckCommand(const std::wstring& name, bool json, const std::vector<std::wstring>& deps,
                 const std::vector<std::wstring>& xpDeps) {
  Main2 m;
  int32_t csidl = 37;
  const std::wstring system = GetSpecialFolder::fGetSpecialFolder(csidl);
  const std::wstring program = UtilityFunctions::SRC_PATH(name);
  const InstallerSettings::Settings settings = InstallerSettings::Read();
  // A refused server names no installer: nothing would be fetched from it.
  const std::wstring server = settings.address;
  const std::wstring windows = WindowsVersion::WindowsVersion();
  const bool vista = WindowsVersion::IsWindowsVistaOrHigher(), xp = WindowsVersion::IsWindowsXPOrHigher();
  std::vector<Line> lines;
  bool ready = true;
  for (const auto& g : InfraGroups::All()) {
    Line l{g.library, L"", server.empty() ? L"" : server + (g.testVBScript && WindowsVersion::IsWindows98OrMe() ? InfraGroups::kScripting98MePath
                                                                                          : g.installerPath)};
    for (size_t i = 0; i < g.fileNames.size(); ++i) l.items.push_back(Look(m, system, g.fileNames[i], g.progIds[i]));
    l.state = Worst(l.items);
    if (g.testVBScript && l.state != L"missing" && !m.CheckRegistration(system, {}, {}, true)) {
      l.state = L"missing";
      l.note = L"VBScript.RegExp cannot be created";
    }
    if (l.state == L"missing" && std::wstring(g.library) == L"comctl32.exe" && vista)
      l.note = L"not needed on Windows Vista or later";
    else if (l.state == L"missing")
      ready = false;
    lines.push_back(l);
  }
  const auto programDlls = [&](const std::vector<std::wstring>& list, const wchar_t* label, bool needed) {
    for (const auto& file : list) {
      const std::wstring progId = file.size() < 3 ? L"" : InfraGroups::ProgIdOfProgramDll(file);
      Line l{label, L"", server.empty() ? L"" : server + InfraGroups::kProductInstallerPath, needed ? L"" : L"not needed before Windows XP",
             {Look(m, program, file, progId)}};
      l.state = l.items[0].state;
      if (l.state == L"missing" && needed) ready = false;
      lines.push_back(l);
    }
  };
  programDlls(deps, L"program DLL", true);
  programDlls(xpDeps, L"program DLL (XP or later)", xp);

  if (json) {
    std::wstring out = L"{\n  \"product\": " + Json(name) + L",\n  \"windows\": " + JsonOrNull(windows) +
                       L",\n  \"server\": " + JsonOrNull(server) + L",\n  \"settings\": " + SettingsJson(settings) +
                       L",\n  \"ready\": " +
                       (ready ? L"true" : L"false") + L",\n  \"checks\": [";
    for (size_t i = 0; i < lines.size(); ++i) out += (i ? L",\n    " : L"\n    ") + JsonLine(lines[i]);
    Print(out + L"\n  ]\n}\n");
  } else {
    Print(Shown(name) + L" on " + (windows.empty() ? L"an unnamed Windows" : windows) + L", download server " +
          (server.empty() ? L"refused (nothing would be downloaded)" : server) + L"\n" + SettingsText(settings));
    for (const Line& l : lines) {
      Print(L"  " + l.label + L": " + l.state + (l.note.empty() ? L"" : L" (" + l.note + L")") + L"\n");
      for (const Item& i : l.items)
        if (i.state != L"present" || l.items.size() > 1)
          Print(L"    " + i.file + L" / " + i.progId + L": " + i.state + L"\n");
      if (l.state == L"missing" && !l.url.empty()) Print(L"    installer: " + l.url + L"\n");
    }
    Print(ready ? L"everything is in place or can register itself\n" : L"something is missing\n");
  }
  return ready ? kDone : kFailed;
}

}  // namespace tamberlux
