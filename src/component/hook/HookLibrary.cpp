#include "component/hook/HookLibrary.h"

#include "base/ComTypes.h"
#include "base/OwnModule.h"
#include "base/RegistryDoor.h"
#include "base/VbError.h"
#include "component/hook/HookProtocol.h"

namespace tamberlux::hook {

namespace {
constexpr wchar_t kInstallFolder[] = L"Valdomeren\\Tamberlux\\";

using IsWow64Process2Function = BOOL(WINAPI*)(HANDLE, USHORT*, USHORT*);

bool Exists(const std::wstring& path) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// A value of Windows' own CurrentVersion key, read in the 64-bit view where
// there is one; empty when absent.
std::wstring ProgramFilesValue(const wchar_t* name) {
  RegistryDoor::Value v;
  if (RegistryDoor::Read(HKEY_LOCAL_MACHINE, L"Software\\Microsoft\\Windows\\CurrentVersion", name, v,
                         KEY_WOW64_64KEY) != ERROR_SUCCESS ||
      (v.type != REG_SZ && v.type != REG_EXPAND_SZ))
    return {};
  // A folder path: text up to its first NUL, shorter than MAX_PATH.
  std::wstring folder = RegistryDoor::AsText(v).value_or(L"");
  folder = folder.substr(0, folder.find(L'\0'));
  if (folder.size() >= MAX_PATH) return {};
  if (!folder.empty() && folder.back() != L'\\') folder += L'\\';
  return folder;
}

bool WindowsIs64Bit() {
  if constexpr (OwnBitness() == Bitness::k64) return true;
  BOOL wow64 = FALSE;
  return IsWow64Process(GetCurrentProcess(), &wow64) && wow64;
}
}  // namespace

Bitness ProcessBitness(HANDLE process) {
  const auto isWow64Process2 = reinterpret_cast<IsWow64Process2Function>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "IsWow64Process2")));
  if (isWow64Process2) {
    USHORT processMachine = 0, nativeMachine = 0;
    if (!isWow64Process2(process, &processMachine, &nativeMachine))
      vb::Raise(vb::kInvalidCall, L"The bitness of Word's process could not be told (" +
                                      std::to_wstring(GetLastError()) + L")");
    // Not under WOW64: the process has the machine's own bitness.
    const USHORT machine = processMachine == IMAGE_FILE_MACHINE_UNKNOWN ? nativeMachine : processMachine;
    return machine == IMAGE_FILE_MACHINE_I386 || machine == IMAGE_FILE_MACHINE_ARMNT ? Bitness::k32 : Bitness::k64;
  }
  BOOL wow64 = FALSE;
  if (!IsWow64Process(process, &wow64))
    vb::Raise(vb::kInvalidCall,
              L"The bitness of Word's process could not be told (" + std::to_wstring(GetLastError()) + L")");
  return wow64 || !WindowsIs64Bit() ? Bitness::k32 : Bitness::k64;
}

HookFolders InstalledHookFolders() {
  HookFolders folders;
  folders.own = OwnModuleFolder();
  if (WindowsIs64Bit()) {
    const std::wstring programFiles64 = ProgramFilesValue(L"ProgramFilesDir");
    const std::wstring programFiles32 = ProgramFilesValue(L"ProgramFilesDir (x86)");
    if (!programFiles64.empty()) folders.installed64 = programFiles64 + kInstallFolder;
    if (!programFiles32.empty()) folders.installed32 = programFiles32 + kInstallFolder;
  } else {
    const std::wstring programFiles = ProgramFilesValue(L"ProgramFilesDir");
    if (!programFiles.empty()) folders.installed32 = programFiles + kInstallFolder;
  }
  return folders;
}

std::wstring HookLibraryFor(Bitness target, const HookFolders& folders) {
  const std::wstring& folder =
      target == OwnBitness() ? folders.own : target == Bitness::k64 ? folders.installed64 : folders.installed32;
  const std::wstring path = folder.empty() ? std::wstring() : folder + kLibrary;
  const std::wstring bits = target == Bitness::k64 ? L"64" : L"32";
  if (path.empty())
    vb::Raise(vb::kFileNotFound, L"Word's window belongs to a " + bits + L"-bit process, and this Windows has no place for a " +
                                 bits + L"-bit window hook library");
  if (!Exists(path))
    vb::Raise(vb::kFileNotFound, L"Word's window belongs to a " + bits + L"-bit process, and the " + bits +
                                 L"-bit window hook library " + path + L" is not there");
  return path;
}

std::wstring Rundll32For(Bitness target) {
  wchar_t folder[MAX_PATH] = {};
  UINT n = 0;
  if (target == OwnBitness()) {
    n = GetSystemDirectoryW(folder, MAX_PATH);
  } else if (target == Bitness::k32) {
    n = GetSystemWow64DirectoryW(folder, MAX_PATH);
  } else {
    // A 32-bit process reaches the 64-bit system folder through its alias.
    n = GetWindowsDirectoryW(folder, MAX_PATH);
    if (n && n < MAX_PATH) return std::wstring(folder, n) + L"\\Sysnative\\rundll32.exe";
  }
  if (!n || n >= MAX_PATH) vb::Raise(vb::kFileNotFound, L"There is no rundll32.exe for a process of Word's bitness");
  return std::wstring(folder, n) + L"\\rundll32.exe";
}

}  // namespace tamberlux::hook
