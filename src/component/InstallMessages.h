// What the installation hook shows the user, the window message it waits
// for, and what it tells a caller that reports the installation rather than
// shows it (the `tamberlux install` command).
#pragma once

#include <windows.h>
#include <unknwn.h>

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

// What the last HookIntoWord of an object did. The template: not yet
// offered, Word told to quit for a missing library, added at once, waiting
// for message 1122, added after it, or refused again after it. The set-up
// macro: not run, run, run after a repair of Word's Data key, run at the
// second try without one, failing after the repair (the user was told to
// restart Word), or failing twice with no repair.
enum class Added : LONG { kNotYet, kLibrariesMissing, kAtOnce, kDeferred, kAfterDeferral, kRefusedAgain };
enum class Macro : LONG { kNotRun, kRan, kRanAfterRepair, kRanAtSecondTry, kFailedAfterRepair, kFailedTwice };
struct Outcome {
  Added added = Added::kNotYet;
  Macro macro = Macro::kNotRun;
  std::wstring missing;  // the file or library group the user was told to reinstall
};

// The outcome through COM: a second interface of the object, beside _Main2,
// which late-bound callers never see.
inline constexpr IID IID_IInstallOutcome = {0x396dd273, 0x7935, 0x4898, {0x9c, 0xef, 0x43, 0x91, 0xac, 0x5a, 0x44, 0x3d}};
struct IInstallOutcome : IUnknown {
  virtual HRESULT STDMETHODCALLTYPE LastInstall(LONG* added, LONG* macro, BSTR* missing) = 0;
};

}  // namespace tamberlux::InstallMessages
