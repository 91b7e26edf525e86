// Timing for the benchmarks: the best of several rounds, in nanoseconds.
#pragma once

#include <windows.h>

#include <algorithm>

namespace tamberlux::bench {

template <class F>
double BestNanoseconds(int rounds, long iterations, F&& f) {
  LARGE_INTEGER freq;
  QueryPerformanceFrequency(&freq);
  double best = 1e300;
  for (int r = 0; r < rounds; ++r) {
    LARGE_INTEGER a, b;
    QueryPerformanceCounter(&a);
    for (long i = 0; i < iterations; ++i) f();
    QueryPerformanceCounter(&b);
    best = std::min(best, (b.QuadPart - a.QuadPart) * 1e9 / freq.QuadPart / iterations);
  }
  return best;
}

}  // namespace tamberlux::bench
