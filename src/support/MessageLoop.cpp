#include "support/MessageLoop.h"

#include <windows.h>

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
}  // namespace

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
        if (GetMessageA(&message, nullptr, 0, 0) <= 0) break;
        TranslateMessage(&message);
        DispatchMessageA(&message);
      } while (!mFinishedBlocking);
    });
    p(103, [&] { mInBlockingLoop = false; });
  });
}

}  // namespace tamberlux
