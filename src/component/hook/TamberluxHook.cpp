// TamberluxHook.dll: the part of the window hook that runs in the thread of a
// window of another thread or process (Word's main window, as a rule). It
// holds no state of its own: each hooking side is one subclass of the window,
// identified by its sink window. See HookProtocol.h.
//
// It lives in someone else's process, so it carries nothing but its own code:
// no C or C++ runtime (no heap, no thread-start code, no exception tables),
// its own entry point, and imports from kernel32, user32 and comctl32 only.
#include <windows.h>
#include <commctrl.h>

#include "component/hook/HookProtocol.h"

namespace {

using namespace tamberlux::hook;

UINT AttachMessage() {
  static const UINT message = RegisterWindowMessageW(kAttachMessageName);
  return message;
}

UINT DetachMessage() {
  static const UINT message = RegisterWindowMessageW(kDetachMessageName);
  return message;
}

// A decimal number at text, after any blanks; text is left after its digits.
ULONG_PTR ReadDecimal(const char*& text) {
  while (*text == ' ' || *text == '\t') ++text;
  ULONG_PTR value = 0;
  for (; *text >= '0' && *text <= '9'; ++text) value = value * 10 + static_cast<ULONG_PTR>(*text - '0');
  return value;
}

LRESULT CALLBACK Subclass(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR id, DWORD_PTR) {
  const HWND sink = reinterpret_cast<HWND>(id);
  if (message == DetachMessage() && reinterpret_cast<HWND>(wParam) == sink) {
    RemoveWindowSubclass(window, Subclass, id);
    return 1;
  }
  if (message == WM_NCDESTROY) RemoveWindowSubclass(window, Subclass, id);
  const LRESULT result = DefSubclassProc(window, message, wParam, lParam);
  // A sink that has gone (its thread ended) takes the subclass with it.
  if (!PostMessageW(sink, kArgsMessage, wParam, lParam) ||
      !PostMessageW(sink, kAfterMessage, message, static_cast<LPARAM>(result))) {
    if (!IsWindow(sink)) RemoveWindowSubclass(window, Subclass, id);
  }
  return result;
}

}  // namespace

extern "C" LRESULT CALLBACK TamberluxCallWndProc(int code, WPARAM wParam, LPARAM lParam) {
  if (code == HC_ACTION) {
    const auto* sent = reinterpret_cast<const CWPSTRUCT*>(lParam);
    if (sent->message == AttachMessage() && sent->wParam) {
      // The subclass outlives the hook that brought this library here: keep
      // the library loaded for the life of the process.
      HMODULE self = nullptr;
      GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                         reinterpret_cast<LPCWSTR>(&Subclass), &self);
      SetWindowSubclass(sent->hwnd, Subclass, static_cast<UINT_PTR>(sent->wParam), 0);
    }
  }
  return CallNextHookEx(nullptr, code, wParam, lParam);
}

// Run by the rundll32.exe of a window's bitness when the hooking side has
// another bitness and so cannot load this library itself:
//   rundll32.exe <folder>\TamberluxHook.dll,TamberluxPlaceHook <window> <sink>
// (both handles in decimal). Places the hook on the window's thread, sends it
// the attach message and removes the hook, as the hooking side does for a
// library of its own bitness. Exit code 0: the window answered; 1: it did not;
// 2: the hook could not be placed; 3: the command line names no window.
extern "C" void CALLBACK TamberluxPlaceHook(HWND, HINSTANCE, LPSTR commandLine, int) {
  const char* rest = commandLine ? commandLine : "";
  const auto window = reinterpret_cast<HWND>(ReadDecimal(rest));
  const auto sink = reinterpret_cast<HWND>(ReadDecimal(rest));
  const DWORD thread = window && sink ? GetWindowThreadProcessId(window, nullptr) : 0;
  if (!thread) ExitProcess(3);
  HMODULE self = nullptr;
  GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                     reinterpret_cast<LPCWSTR>(&Subclass), &self);
  const HHOOK placed = SetWindowsHookExW(WH_CALLWNDPROC, TamberluxCallWndProc, self, thread);
  if (!placed) ExitProcess(2);
  DWORD_PTR answer = 0;
  const bool sent = SendMessageTimeoutW(window, AttachMessage(), reinterpret_cast<WPARAM>(sink), 0,
                                        SMTO_NORMAL | SMTO_ABORTIFHUNG, kSendTimeoutMs, &answer) != 0;
  UnhookWindowsHookEx(placed);
  ExitProcess(sent ? 0 : 1);
}

// The library's entry point (there is no runtime to call a DllMain of ours):
// it keeps no per-thread state, so it asks for no thread notifications.
extern "C" BOOL WINAPI TamberluxHookEntry(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) DisableThreadLibraryCalls(instance);
  return TRUE;
}
