// A wait that keeps the thread's window messages flowing: a timer and a
// message loop that the timer ends. One wait at a time per thread; a wait
// started during another waits for it to finish first.
#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>

#include "support/MessageLoop.h"

namespace tamberlux::SleepReplacement {

void Wait(int32_t timeInMs, HWND hwnd = nullptr);
// The timer's callback: ends the wait in progress.
void CALLBACK TimerExpired(HWND hwnd, UINT uint1, UINT_PTR nEventId, DWORD dwParam);
// The loop of the wait in progress on this thread, or none.
std::shared_ptr<MessageLoop> CurrentLoop();
void ReportModuleVariables(const void*);

}  // namespace tamberlux::SleepReplacement
