// Prints the trap's switches after start-up, for a test that starts it with
// and without "/trace" on its command line.
#include <cstdio>

#include "errortrap/vbwProtector.h"

int main() {
  tamberlux::vbw::vbwInitializeProtector();
  const auto& s = tamberlux::vbw::State();
  std::printf("vbwTraceLine=%d mOldTraceProc=%d vbwTraceParameters=%d vbwTraceProc=%d vbwCallStack=%d",
              s.vbwTraceLine, s.mOldTraceProc, s.vbwTraceParameters, s.vbwTraceProc, s.vbwCallStack);
  return 0;
}
