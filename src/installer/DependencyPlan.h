// What the dependency installer would do on this machine, decided once for
// both the installation (Main2::EnsureDependenciesAreRegistered) and the
// `tamberlux check` report: for each group of libraries, whether it is
// present, and when it is not, whether this Windows needs it at all and
// which installer would run, with which arguments; the same for the
// product's own DLLs.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "installer/InfraGroups.h"

namespace tamberlux::DependencyPlan {

// The libraries are looked for in Windows' system folder (CSIDL_SYSTEM).
inline constexpr int32_t kCsidlSystem = 37;

// Every downloaded installer runs quietly.
inline constexpr wchar_t kInstallerArguments[] = L"/Q";

// The facts about Windows a decision may need; each is asked only when the
// group's rule needs it.
struct WindowsFacts {
  std::function<bool()> vistaOrHigher, xpOrHigher, nineXOrMe;
};
// The facts from WindowsVersion.
WindowsFacts CurrentWindows();

// What to do about a group that is not present.
struct Missing {
  bool needed = true;          // false: this Windows carries it itself
  std::wstring installerPath;  // on the download server, when needed
  std::wstring why;            // why it is not needed, or which Windows chose the installer
};
Missing ForMissingGroup(const InfraGroups::Group& group, const WindowsFacts& windows);

// The group of a label; the scripting runtime's for a label no group has.
const InfraGroups::Group& GroupOf(const std::wstring& library);

// The command line that runs a downloaded installer.
std::wstring CommandLine(const std::wstring& downloadedFile);

// Whether the product's DLLs for Windows XP or later are needed here.
bool XpListNeeded(const WindowsFacts& windows);

// A look that changes nothing, for a report.
enum class State { Present, Registrable, Missing };
const wchar_t* StateName(State s);  // "present", "registrable", "missing"

struct FileLook {
  std::wstring file, progId;
  State state = State::Missing;
};
struct GroupLook {
  const InfraGroups::Group* group = nullptr;
  std::vector<FileLook> files;
  State state = State::Present;  // the least present of its files
  bool blocking = false;         // missing and needed: the installation would stop here
  std::wstring note, installerPath;
};
// How a file is looked at: present (registered), registrable, or missing.
using LookAtFile = std::function<State(const std::wstring& path, const std::wstring& progId)>;
// Each group of InfraGroups::All() in `systemFolder`; `regExpCreatable` is
// asked only for a group that needs it and is otherwise present.
std::vector<GroupLook> LookAtGroups(const std::wstring& systemFolder, const LookAtFile& look,
                                    const std::function<bool()>& regExpCreatable, const WindowsFacts& windows);
// A program DLL of the product in its folder; `needed` false for the XP list
// before Windows XP.
GroupLook LookAtProgramDll(const std::wstring& folder, const std::wstring& file, bool needed, const LookAtFile& look);

}  // namespace tamberlux::DependencyPlan
