#include "support/SleepReplacement.h"

#include "base/ThreadValues.h"
#include "errortrap/Procedure.h"
#include "support/VBLanguageExtensions.h"

namespace tamberlux::SleepReplacement {

using vbw::Var;

namespace {
std::shared_ptr<MessageLoop>& mMessageLoop() {
  thread_local std::shared_ptr<MessageLoop>* loop = nullptr;
  return ThreadOwned(loop);
}
}  // namespace

std::shared_ptr<MessageLoop> CurrentLoop() { return mMessageLoop(); }

void ReportModuleVariables(const void*) {
  vbw::vbwReportToFile(vbw::kModuleBanner);
  vbw::ReportVar(L"mMessageLoop", std::wstring(mMessageLoop() ? L"MessageLoop" : L"Nothing"));
}

void Wait(int32_t timeInMs, HWND hwnd) {
  vbw::Proc p(L"SleepReplacement.Wait", ReportModuleVariables,
              {Var(L"timeInMs", timeInMs), Var(L"hwnd", hwnd)});
  int32_t id = 0;
  p.Local(L"id", id);
  p.Run([&] {
    p(101, [&] {
      // The wait in progress is further down this thread's stack; its timer
      // comes through these messages. A quit message ends a pump early, for
      // the thread's own loop; this wait still waits its turn.
      while (mMessageLoop()) PumpMessagesUntil([] { return !mMessageLoop(); }, INFINITE);
    });
    p(102, [&] { id = VBLanguageExtensions::RandomNumber(442, 6000); });
    p(103, [&] {
      if (!SetTimer(hwnd, static_cast<UINT_PTR>(id), static_cast<UINT>(timeInMs < 0 ? 0 : timeInMs), TimerExpired))
        vb::Raise(vb::kInvalidCall, L"SetTimer failed");
    });
    p(104, [&] {
      std::shared_ptr<MessageLoop> loop(new MessageLoop());  // not make_shared: see LateObject
      mMessageLoop() = loop;
      loop->EnterBlockingLoop();
    });
  });
}

void CALLBACK TimerExpired(HWND hwnd, UINT uint1, UINT_PTR nEventId, DWORD dwParam) {
  // The dump reads the parameters when it is written: each lives as long as the procedure.
  const auto message = static_cast<int32_t>(uint1), event = static_cast<int32_t>(nEventId),
             time = static_cast<int32_t>(dwParam);
  vbw::Proc p(L"SleepReplacement.TimerExpired", ReportModuleVariables,
              {Var(L"hwnd", hwnd), Var(L"uint1", message), Var(L"nEventId", event), Var(L"dwParam", time)});
  p.Run([&] {
    if (!mMessageLoop()) return;
    p(201, [&] { KillTimer(hwnd, nEventId); });
    p(202, [&] { mMessageLoop()->ExitBlockingLoop(); });
    p(203, [&] { mMessageLoop().reset(); });
  });
}

}  // namespace tamberlux::SleepReplacement
