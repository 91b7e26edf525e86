#include "installer/DependencyPlan.h"

#include "support/WindowsVersion.h"

namespace tamberlux::DependencyPlan {

WindowsFacts CurrentWindows() {
  return {WindowsVersion::IsWindowsVistaOrHigher, WindowsVersion::IsWindowsXPOrHigher, WindowsVersion::IsWindows98OrMe};
}

Missing ForMissingGroup(const InfraGroups::Group& group, const WindowsFacts& windows) {
  if (group.windowsHasItFromVista && windows.vistaOrHigher())
    return {false, {}, L"not needed on Windows Vista or later"};
  if (group.installerPath98Me && windows.nineXOrMe())
    return {true, group.installerPath98Me, L"the installer for Windows 98 and ME"};
  return {true, group.installerPath, {}};
}

const InfraGroups::Group& GroupOf(const std::wstring& library) {
  for (const auto& g : InfraGroups::All())
    if (library == g.library) return g;
  return InfraGroups::All().back();
}

std::wstring CommandLine(const std::wstring& downloadedFile) {
  // Quoted, so a cache path with blanks cannot start a program named by its
  // first word; an empty path still fails to start.
  return L"\"" + downloadedFile + L"\" " + kInstallerArguments;
}

bool XpListNeeded(const WindowsFacts& windows) { return windows.xpOrHigher(); }

const wchar_t* StateName(State s) {
  switch (s) {
    case State::Present: return L"present";
    case State::Registrable: return L"registrable";
    default: return L"missing";
  }
}

namespace {
State Least(State a, State b) { return a > b ? a : b; }
}  // namespace

std::vector<GroupLook> LookAtGroups(const std::wstring& systemFolder, const LookAtFile& look,
                                    const std::function<bool()>& regExpCreatable, const WindowsFacts& windows) {
  std::vector<GroupLook> groups;
  for (const auto& g : InfraGroups::All()) {
    GroupLook l;
    l.group = &g;
    for (size_t i = 0; i < g.fileNames.size(); ++i) {
      l.files.push_back({g.fileNames[i], g.progIds[i], look(systemFolder + g.fileNames[i], g.progIds[i])});
      l.state = Least(l.state, l.files.back().state);
    }
    if (g.testVBScript && l.state != State::Missing && !regExpCreatable()) {
      l.state = State::Missing;
      l.note = L"VBScript.RegExp cannot be created";
    }
    if (l.state == State::Missing) {
      const Missing m = ForMissingGroup(g, windows);
      l.blocking = m.needed;
      l.installerPath = m.installerPath;
      if (!m.needed || l.note.empty()) l.note = m.why;
    }
    groups.push_back(l);
  }
  return groups;
}

GroupLook LookAtProgramDll(const std::wstring& folder, const std::wstring& file, bool needed, const LookAtFile& look) {
  GroupLook l;
  const std::wstring progId = file.size() < 3 ? L"" : InfraGroups::ProgIdOfProgramDll(file);
  l.files.push_back({file, progId, look(folder + file, progId)});
  l.state = l.files[0].state;
  l.installerPath = InfraGroups::kProductInstallerPath;
  if (!needed) l.note = L"not needed before Windows XP";
  l.blocking = needed && l.state == State::Missing;
  return l;
}

}  // namespace tamberlux::DependencyPlan
