#include "support/MessageLoop.h"

#include <windows.h>

#include <algorithm>

#include "errortrap/Procedure.h"

namespace tamberlux {

namespace {
void ReportModuleVariables(const void* self) {
  const auto* loop = static_cast<const MessageLoop*>(self);
  vbw::vbwReportToFile(vbw::kModuleBanner);
  if (!loop) return;
  vbw::ReportVar(L"mInBlockingLoop", loop->mInBlockingLoop);
  vbw::ReportVar(L"mFinishedBlocking", loop->mFinishedBlocking);
}
constexpr ULONGLONG kPollMs = 50;
}  // namespace

bool PumpMessagesUntil(const std::function<bool()>& done, DWORD timeoutMs) {
  const ULONGLONG deadline = timeoutMs == INFINITE ? ~0ULL : GetTickCount64() + timeoutMs;
  for (;;) {
    if (done()) return true;
    const ULONGLONG now = GetTickCount64();
    if (now >= deadline) return false;
    MsgWaitForMultipleObjectsEx(0, nullptr, static_cast<DWORD>(std::min(deadline - now, kPollMs)), QS_ALLINPUT,
                                MWMO_INPUTAVAILABLE);
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
      if (message.message == WM_QUIT) {
        PostQuitMessage(static_cast<int>(message.wParam));
        return done();
      }
      TranslateMessage(&message);
      DispatchMessageW(&message);
    }
  }
}

void MessageLoop::EnterBlockingLoop() {
  vbw::Proc p(L"MessageLoop.EnterBlockingLoop", ReportModuleVariables, {}, this);
  p.Run([&] {
    p(101, [&] {
      mInBlockingLoop = true;
      mFinishedBlocking = false;
    });
    p(102, [&] {
      MSG message;
      do {
        // 0 is the quit message; -1 a failure, after which nothing more can come.
        if (GetMessageW(&message, nullptr, 0, 0) <= 0) break;
        TranslateMessage(&message);
        DispatchMessageW(&message);
      } while (!mFinishedBlocking);
    });
    p(103, [&] { mInBlockingLoop = false; });
  });
}

}  // namespace tamberlux
