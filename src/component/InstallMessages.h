// What the installation hook shows the user and the window message it waits
// for, in one place for the component that shows them and the `tamberlux
// install` command that reports on them.
#pragma once

#include <windows.h>

#include <string>

namespace tamberlux::InstallMessages {

// Posted to Word's main window when Word refused the template at once; the
// installation is tried again after the window has handled it.
inline constexpr UINT kDeferredInstall = WM_USER + 98;  // 1122

// Word refused the template again after the deferral (OK, no icon).
inline constexpr wchar_t kStillCannotInstall[] = L"Error: Still cannot install add-in";
inline constexpr wchar_t kStillCannotInstallTitle[] = L"Tamberlux";

// The set-up macro failed again after Word's Data key was repaired (OK with the exclamation icon).
inline std::wstring RestartWord(const std::wstring& name) {
  return name + L" has fixed a corrupted Word registry key. Please restart Word.";
}
inline constexpr wchar_t kRestartWordTitle[] = L"You need to restart Word";

// How every message that closes Word for a missing or unfinished library begins.
inline constexpr wchar_t kWordWillExit[] = L"Microsoft Word will now exit because ";

}  // namespace tamberlux::InstallMessages
