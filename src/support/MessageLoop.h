// A message loop that runs until it is told to stop: the heart of the wait
// that keeps window messages flowing.
#pragma once

#include <windows.h>

#include <functional>

namespace tamberlux {

// Dispatches this thread's messages until `done` holds or `timeoutMs` has
// passed (INFINITE: no deadline), testing `done` at least every 50 ms even
// when no message comes; answers whether it holds. Any number of these may
// run nested on one thread: one can be reached from a message another one
// dispatched. The quit message ends it early and is left in the queue for
// the loop that owns the thread.
bool PumpMessagesUntil(const std::function<bool()>& done, DWORD timeoutMs);

class MessageLoop {
 public:
  MessageLoop() = default;
  MessageLoop(const MessageLoop&) = delete;
  MessageLoop& operator=(const MessageLoop&) = delete;
  // A released loop is a finished one.
  ~MessageLoop() { ExitBlockingLoop(); }

  // Gets and dispatches this thread's messages until ExitBlockingLoop is
  // called from one of them, or the quit message arrives. It sleeps in
  // GetMessageA rather than testing a condition as PumpMessagesUntil does:
  // its end always comes from a message it dispatches (the wait's timer).
  void EnterBlockingLoop();
  void ExitBlockingLoop() { mFinishedBlocking = true; }

  bool mInBlockingLoop = false;
  bool mFinishedBlocking = false;
};

}  // namespace tamberlux
