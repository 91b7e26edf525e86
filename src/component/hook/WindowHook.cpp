#include "component/hook/WindowHook.h"

#include <commctrl.h>

#include <string>

#include "base/OwnModule.h"
#include "base/VbError.h"
#include "component/hook/HookLibrary.h"
#include "component/hook/HookProtocol.h"

namespace tamberlux {

namespace {
constexpr wchar_t kSinkClass[] = L"Tamberlux.WindowHook.Sink";
using hook::kSendTimeoutMs;

bool SendToWindow(HWND window, UINT message, WPARAM wParam) {
  DWORD_PTR answer = 0;
  return SendMessageTimeoutW(window, message, wParam, 0, SMTO_NORMAL | SMTO_ABORTIFHUNG, kSendTimeoutMs, &answer) != 0;
}

// The bitness of the process `process` (the owner of the window to hook).
hook::Bitness WindowBitness(DWORD process) {
  Handle owner(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, process));
  if (!owner)
    vb::Raise(vb::kInvalidCall, L"Word's process could not be opened (" + std::to_wstring(GetLastError()) + L")");
  return hook::ProcessBitness(owner.Get());
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

  // The hook library runs in the window's process: it must have that
  // process's bitness. One of this process's own is placed from here; one of
  // another bitness by a rundll32 of that bitness.
  const hook::Bitness bitness = WindowBitness(process);
  const std::wstring library = hook::HookLibraryFor(bitness, hook::InstalledHookFolders());
  if (bitness == hook::OwnBitness())
    AttachHere(hwnd, thread, library);
  else
    AttachThroughProcess(hwnd, hook::Rundll32For(bitness), library);
}

void WindowHook::MakeSink() {
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
}

void WindowHook::AttachHere(HWND hwnd, DWORD thread, const std::wstring& libraryPath) {
  MakeSink();
  // The hook library subclasses the window in its own thread when it sees
  // the attach message; the hook is not needed afterwards.
  Module library(LoadLibraryW(libraryPath.c_str()));
  const auto proc = library ? reinterpret_cast<HOOKPROC>(
                                  reinterpret_cast<void*>(GetProcAddress(library.Get(), hook::kHookProcExport)))
                            : nullptr;
  if (!proc) {
    sink_.Reset();
    vb::Raise(vb::kFileNotFound, L"The window hook library " + libraryPath + L" could not be loaded");
  }
  HookHandle placed(SetWindowsHookExW(WH_CALLWNDPROC, proc, library.Get(), thread));
  const bool wasPlaced = static_cast<bool>(placed);
  const DWORD placeError = wasPlaced ? 0 : GetLastError();
  const bool sent = wasPlaced && SendToWindow(hwnd, RegisterWindowMessageW(hook::kAttachMessageName),
                                           reinterpret_cast<WPARAM>(sink_.Get()));
  placed.Reset();
  if (!sent) {
    sink_.Reset();
    vb::Raise(vb::kInvalidCall, wasPlaced ? std::wstring(L"The window did not answer the hook")
                                       : L"The window hook could not be placed (" + std::to_wstring(placeError) + L")");
  }
  window_ = hwnd;
  sameThread_ = false;
}

void WindowHook::AttachThroughProcess(HWND hwnd, const std::wstring& rundll32, const std::wstring& libraryPath) {
  Detach();
  MakeSink();
  std::wstring commandLine = L"\"" + rundll32 + L"\" \"" + libraryPath + L"\"," + hook::kPlaceHookEntry + L" " +
                             std::to_wstring(reinterpret_cast<ULONG_PTR>(hwnd)) + L" " +
                             std::to_wstring(reinterpret_cast<ULONG_PTR>(sink_.Get()));
  STARTUPINFOW si{};
  si.cb = sizeof(si);
  PROCESS_INFORMATION pi{};
  if (!CreateProcessW(rundll32.c_str(), commandLine.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr,
                      nullptr, &si, &pi)) {
    const DWORD error = GetLastError();
    sink_.Reset();
    vb::Raise(vb::kFileNotFound, rundll32 + L" could not be started to place the window hook library " + libraryPath +
                                 L" (" + std::to_wstring(error) + L")");
  }
  Handle helper(pi.hProcess), helperThread(pi.hThread);
  // The helper sends the window the attach message; this thread's sink may
  // receive posts meanwhile, which wait in the queue.
  DWORD exitCode = STILL_ACTIVE;
  if (WaitForSingleObject(helper.Get(), kSendTimeoutMs + 10000) != WAIT_OBJECT_0 ||
      !GetExitCodeProcess(helper.Get(), &exitCode) || exitCode != 0) {
    if (exitCode == STILL_ACTIVE) TerminateProcess(helper.Get(), 1);
    sink_.Reset();
    vb::Raise(vb::kInvalidCall, L"The window hook library " + libraryPath + L" was not placed by " + rundll32 +
                                    L" (exit code " + std::to_wstring(exitCode) + L")");
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
