// TamberluxHook.dll: the part of the window hook that runs in the thread of a
// window of another thread or process (Word's main window, as a rule). It
// holds no state of its own: each hooking side is one subclass of the window,
// identified by its sink window. See HookProtocol.h.
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
