#include "component/hook/WindowHook.h"

#include <commctrl.h>

#include <string>

#include "base/VbError.h"
#include "component/hook/HookProtocol.h"

namespace tamberlux {

namespace {
constexpr int32_t kFileNotFound = 53;
constexpr wchar_t kSinkClass[] = L"Tamberlux.WindowHook.Sink";
constexpr UINT kSendTimeoutMs = 10000;

HMODULE OwnModule() {
  HMODULE module = nullptr;
  GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                     reinterpret_cast<LPCWSTR>(&OwnModule), &module);
  return module;
}

// The hook library lies beside the module that holds this code.
std::wstring HookLibraryPath() {
  wchar_t path[MAX_PATH] = {};
  const DWORD n = GetModuleFileNameW(OwnModule(), path, MAX_PATH);
  std::wstring dir(path, n);
  return dir.substr(0, dir.find_last_of(L"\\/") + 1) + hook::kLibrary;
}

bool SendToWindow(HWND window, UINT message, WPARAM wParam) {
  DWORD_PTR answer = 0;
  return SendMessageTimeoutW(window, message, wParam, 0, SMTO_NORMAL | SMTO_ABORTIFHUNG, kSendTimeoutMs, &answer) != 0;
}
}  // namespace

ComPtr<WindowHook> WindowHook::New() { return ComPtr<WindowHook>(new WindowHook(), false); }

void WindowHook::Attach(HWND hwnd) {
  Detach();
  DWORD process = 0;
  const DWORD thread = hwnd ? GetWindowThreadProcessId(hwnd, &process) : 0;
  if (!thread) vb::Raise(vb::kInvalidCall, L"There is no window to hook");

  if (thread == GetCurrentThreadId()) {
    if (!SetWindowSubclass(hwnd, SameThreadProc, reinterpret_cast<UINT_PTR>(this), 0))
      vb::Raise(vb::kInvalidCall, L"The window could not be subclassed");
    window_ = hwnd;
    sameThread_ = true;
    return;
  }

  // The sink: a message-only window of this thread that the hooked window's
  // thread posts to.
  static const ATOM sinkClass = [] {
    WNDCLASSW wc{};
    wc.lpfnWndProc = SinkProc;
    wc.hInstance = OwnModule();
    wc.lpszClassName = kSinkClass;
    return RegisterClassW(&wc);
  }();
  if (!sinkClass) vb::Raise(vb::kInvalidCall, L"The hook's window class could not be registered");
  sink_.Reset(CreateWindowExW(0, kSinkClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, OwnModule(), nullptr));
  if (!sink_) vb::Raise(vb::kInvalidCall, L"The hook's window could not be created");
  SetWindowLongPtrW(sink_.Get(), GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));

  // The hook library subclasses the window in its own thread when it sees
  // the attach message; the hook is not needed afterwards.
  const std::wstring libraryPath = HookLibraryPath();
  Module library(LoadLibraryW(libraryPath.c_str()));
  const auto proc = library ? reinterpret_cast<HOOKPROC>(
                                  reinterpret_cast<void*>(GetProcAddress(library.Get(), hook::kHookProcExport)))
                            : nullptr;
  if (!proc) {
    sink_.Reset();
    vb::Raise(kFileNotFound, L"The window hook library " + libraryPath + L" could not be loaded");
  }
  HHOOK placed = SetWindowsHookExW(WH_CALLWNDPROC, proc, library.Get(), thread);
  const DWORD placeError = placed ? 0 : GetLastError();
  const bool sent = placed && SendToWindow(hwnd, RegisterWindowMessageW(hook::kAttachMessageName),
                                           reinterpret_cast<WPARAM>(sink_.Get()));
  if (placed) UnhookWindowsHookEx(placed);
  if (!sent) {
    sink_.Reset();
    vb::Raise(vb::kInvalidCall, placed ? std::wstring(L"The window did not answer the hook")
                                       : L"The window hook could not be placed (" + std::to_wstring(placeError) + L")");
  }
  window_ = hwnd;
  sameThread_ = false;
}

void WindowHook::Detach() {
  const HWND window = std::exchange(window_, nullptr);
  if (!window) return;
  if (sameThread_) {
    RemoveWindowSubclass(window, SameThreadProc, reinterpret_cast<UINT_PTR>(this));
    return;
  }
  // A window that is gone or does not answer leaves a subclass whose posts
  // find no sink; it removes itself at the next message.
  if (IsWindow(window))
    SendToWindow(window, RegisterWindowMessageW(hook::kDetachMessageName), reinterpret_cast<WPARAM>(sink_.Get()));
  sink_.Reset();
}

void WindowHook::Raise(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) {
  if (!window_ || !AfterMessage) return;
  // The handler may detach or release this hook.
  ComPtr<WindowHook> keep(this);
  AfterMessageHandler handler = AfterMessage;
  auto retValue = static_cast<int32_t>(result);
  // Nothing thrown by the handler may reach the window's message processing.
  try {
    handler(static_cast<int32_t>(message), static_cast<int32_t>(wParam), static_cast<int32_t>(lParam), retValue);
    result = retValue;
  } catch (...) {
  }
}

LRESULT CALLBACK WindowHook::SameThreadProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR id,
                                            DWORD_PTR) {
  LRESULT result = DefSubclassProc(window, message, wParam, lParam);
  reinterpret_cast<WindowHook*>(id)->Raise(message, wParam, lParam, result);
  return result;
}

LRESULT CALLBACK WindowHook::SinkProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* self = reinterpret_cast<WindowHook*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  if (!self || (message != hook::kArgsMessage && message != hook::kAfterMessage))
    return DefWindowProcW(window, message, wParam, lParam);
  if (message == hook::kArgsMessage) {
    self->argsWParam_ = wParam;
    self->argsLParam_ = lParam;
  } else {
    LRESULT result = lParam;
    self->Raise(static_cast<UINT>(wParam), self->argsWParam_, self->argsLParam_, result);
  }
  return 0;
}

}  // namespace tamberlux
