// What the window hook and its hook library (TamberluxHook.dll, loaded into
// the thread that owns the hooked window) say to each other. Both sides are
// built from this one header.
//
// The hooking side creates a message-only "sink" window on its own thread,
// places the library's CallWndProc hook on the window's thread, and sends
// the window kAttachMessage (wParam: the sink). The hook, now running in the
// window's thread, subclasses the window there. After the window has handled
// each message, the subclass posts two messages to the sink, in this order:
//   kArgsMessage   wParam, lParam  the message's own wParam and lParam
//   kAfterMessage  wParam: uMsg, lParam: what the window procedure returned
// kDetachMessage (wParam: the sink), sent to the window, removes the subclass.
#pragma once

#include <windows.h>

namespace tamberlux::hook {

inline constexpr wchar_t kLibrary[] = L"TamberluxHook.dll";
inline constexpr char kHookProcExport[] = "TamberluxCallWndProc";
// The rundll32 entry that places the hook from a process of the window's
// bitness (see TamberluxHook.cpp).
inline constexpr wchar_t kPlaceHookEntry[] = L"TamberluxPlaceHook";
// How long the attach message is waited for, either side.
inline constexpr UINT kSendTimeoutMs = 10000;
inline constexpr wchar_t kAttachMessageName[] = L"Tamberlux.WindowHook.Attach";
inline constexpr wchar_t kDetachMessageName[] = L"Tamberlux.WindowHook.Detach";
inline constexpr UINT kArgsMessage = WM_APP + 0x2A1;
inline constexpr UINT kAfterMessage = WM_APP + 0x2A2;

}  // namespace tamberlux::hook
