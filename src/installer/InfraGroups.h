// The four groups of infrastructure libraries the add-in needs, in the order
// they are checked: the files in the Windows system folder, the ProgID each
// file provides (paired by index), whether a regular-expression object must
// also be creatable, and the installer that provides the group on the
// vendor's download server.
#pragma once

#include <string>
#include <vector>

#include "base/VbError.h"

namespace tamberlux::InfraGroups {

struct Group {
  const wchar_t* library;
  std::vector<const wchar_t*> fileNames;
  std::vector<const wchar_t*> progIds;
  bool testVBScript;
  // The installer's path on the download server; for the scripting runtime,
  // the one for every Windows but 98 and ME.
  const wchar_t* installerPath;
  // Windows Vista and later carry the group themselves: missing there, it is
  // not installed.
  bool windowsHasItFromVista = false;
  // The installer for Windows 98 and ME, when it is another one.
  const wchar_t* installerPath98Me = nullptr;
};

// The scripting runtime's installer for Windows 98 and ME.
inline constexpr wchar_t kScripting98MePath[] = L"/dependencies/scr98me.exe";

inline const std::vector<Group>& All() {
  static const std::vector<Group> groups{
      {L"infra.exe",
       {L"MsgHook.dll", L"ThreadFactoryLib_RUNTIME.dll", L"VXPLib.dll", L"DartSock.dll", L"DartWeb.dll"},
       {L"MsgHookSvr.MsgHook", L"ThreadFactoryLib.AsyncObject", L"VXPLib.VXPQuickHTML", L"Dart.DartStream",
        L"Dart.HTTP"},
       false,
       L"/dependencies/infra.exe"},
      {L"comctl32.exe", {L"comctl32.ocx", L"mscomctl.ocx"}, {L"Comctl.ImageListCtrl", L"MSComctlLib.ListViewCtrl"},
       false, L"/dependencies/comctl32.exe", true},
      {L"comct232.exe", {L"comct232.ocx"}, {L"ComCtl2.UpDown"}, false, L"/dependencies/comct232.exe"},
      {L"Scripting runtime", {L"scrrun.dll", L"vbscript.dll"}, {L"Scripting.Dictionary", L"vbscript.regexp"}, true,
       L"/dependencies/scr2000xp.exe", false, kScripting98MePath},
  };
  return groups;
}

// Where the user is sent to reinstall the product when one of its own DLLs is missing.
inline constexpr wchar_t kProductInstallerPath[] = L"/Zentrello.exe";

// The ProgID a program DLL must register: its name without the last three
// characters, then "Main2" (Example.dll gives Example.Main2). A shorter name
// is an invalid argument.
inline std::wstring ProgIdOfProgramDll(const std::wstring& fileName) {
  if (fileName.size() < 3) vb::Raise(vb::kInvalidCall, L"\"" + fileName + L"\" names no program DLL");
  return fileName.substr(0, fileName.size() - 3) + L"Main2";
}

}  // namespace tamberlux::InfraGroups
