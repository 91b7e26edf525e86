// Which TamberluxHook.dll serves a window: a hook library runs inside the
// process that owns the window, so it must have that process's bitness (a
// 32-bit Word on 64-bit Windows needs the 32-bit library).
//
// The packages install each bitness in its own folder:
//   <Program Files>\Valdomeren\Tamberlux\        the 64-bit component and hook library (x64 package)
//   <Program Files (x86)>\Valdomeren\Tamberlux\  the 32-bit ones (either package; on 32-bit
//                                                Windows, <Program Files>)
// A development build has the library of its own bitness beside Tamberlux.dll.
#pragma once

#include <windows.h>

#include <string>

namespace tamberlux::hook {

enum class Bitness { k32 = 32, k64 = 64 };

// This process's bitness.
constexpr Bitness OwnBitness() { return sizeof(void*) == 8 ? Bitness::k64 : Bitness::k32; }

// The bitness of `process` (a handle with PROCESS_QUERY_LIMITED_INFORMATION):
// IsWow64Process2 where the system has it, else IsWow64Process. Raises when it
// cannot be told.
Bitness ProcessBitness(HANDLE process);

// Where the library of each bitness may lie, each folder ending in a backslash.
struct HookFolders {
  std::wstring own;          // beside the module of this code: the package's folder, or a development build
  std::wstring installed64;  // the x64 package's folder; empty on 32-bit Windows
  std::wstring installed32;  // the folder of the packages' 32-bit files
};
HookFolders InstalledHookFolders();

// The hook library for a window of a process of `target` bitness: beside this
// module for its own bitness, else in the package's folder of that bitness.
// Raises error 53 (File not found), naming the bitness and the path looked
// at, when there is no such file.
std::wstring HookLibraryFor(Bitness target, const HookFolders& folders);

// The rundll32.exe of `target` bitness, which places a hook library of that
// bitness for a process of another (see TamberluxPlaceHook).
std::wstring Rundll32For(Bitness target);

}  // namespace tamberlux::hook
