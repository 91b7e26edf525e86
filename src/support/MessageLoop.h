// A message loop that runs until it is told to stop: the heart of the wait
// that keeps window messages flowing.
#pragma once

namespace tamberlux {

class MessageLoop {
 public:
  MessageLoop() = default;
  MessageLoop(const MessageLoop&) = delete;
  MessageLoop& operator=(const MessageLoop&) = delete;
  // A released loop is a finished one.
  ~MessageLoop() { ExitBlockingLoop(); }

  // Gets and dispatches this thread's messages until ExitBlockingLoop is
  // called from one of them, or the quit message arrives.
  void EnterBlockingLoop();
  void ExitBlockingLoop() { mFinishedBlocking = true; }

  bool mInBlockingLoop = false;
  bool mFinishedBlocking = false;
};

}  // namespace tamberlux
