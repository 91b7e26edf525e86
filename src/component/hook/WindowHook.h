// WindowHook: raises AfterMessage after a window has handled each message it
// received. A window of the calling thread is subclassed directly; a window
// of another thread or process (Word's main window, as the installer meets
// it) is subclassed in its own thread by TamberluxHook.dll, which a message
// hook places there, and each handled message is posted back to a sink
// window of the calling thread. Either way the event is raised on the calling
// thread, while it dispatches messages.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>

#include "base/ComObject.h"
#include "base/ComTypes.h"

namespace tamberlux {

class WindowHook final : public ComObject<IUnknown> {
 public:
  // retValue is what the window procedure returned. For a window of the
  // calling thread a changed retValue is what the window answers; for
  // another thread's window the answer has already been given.
  using AfterMessageHandler = std::function<void(int32_t uMsg, int32_t wParam, int32_t lParam, int32_t& retValue)>;

  static ComPtr<WindowHook> New();

  // Hooks `hwnd`, replacing any window hooked before; raises when the window
  // cannot be hooked.
  // A window of another thread or process is hooked by the TamberluxHook.dll
  // of its process's bitness (see HookLibrary.h).
  void Attach(HWND hwnd);
  // Hooks `hwnd`, a window of another thread or process, by running the
  // hook library `libraryPath` in `rundll32` (a rundll32.exe of the window's
  // bitness), as Attach does for a window of another bitness; raises when the
  // window was not hooked.
  void AttachThroughProcess(HWND hwnd, const std::wstring& rundll32, const std::wstring& libraryPath);
  // Unhooks; nothing is raised afterwards. Harmless when not attached.
  void Detach();
  bool Attached() const { return window_ != nullptr; }

  AfterMessageHandler AfterMessage;

 private:
  WindowHook() = default;
  ~WindowHook() override { Detach(); }

  void MakeSink();
  void AttachHere(HWND hwnd, DWORD thread, const std::wstring& libraryPath);
  static LRESULT CALLBACK SameThreadProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR id,
                                         DWORD_PTR);
  static LRESULT CALLBACK SinkProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  void Raise(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result);

  HWND window_ = nullptr;
  bool sameThread_ = false;
  Unique<HWND, &DestroyWindow> sink_;
  WPARAM argsWParam_ = 0;
  LPARAM argsLParam_ = 0;
};

}  // namespace tamberlux
