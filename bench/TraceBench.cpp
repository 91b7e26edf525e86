// Cost of a procedure under the trap on its normal path (entry and exit
// traced, steps run) against the same work called plainly.
#include <cstdio>
#include <string>

#include "BenchClock.h"
#include "errortrap/Procedure.h"

namespace {
using namespace tamberlux;

volatile int sink;

__attribute__((noinline)) std::wstring Plain(const std::wstring& productName) {
  return L"Software\\" + productName;
}

__attribute__((noinline)) std::wstring Traced(const std::wstring& productName) {
  std::wstring result;
  vbw::Proc p(L"Bench.Traced", vbw::BannerOnly, {vbw::Var(L"productName", productName)});
  p.Run([&] { p(1, [&] { result = L"Software\\" + productName; }); });
  return result;
}
}  // namespace

int main() {
  vbw::vbwInitializeProtector();  // tracing of entry and exit on, as in the component
  const std::wstring name = L"Zentrello";
  const long n = 2000000;
  const double plain = bench::BestNanoseconds(5, n, [&] { sink = static_cast<int>(Plain(name).size()); });
  const double traced = bench::BestNanoseconds(5, n, [&] { sink = static_cast<int>(Traced(name).size()); });
  std::printf("plain call      %6.1f ns\n", plain);
  std::printf("traced call     %6.1f ns\n", traced);
  std::printf("ratio traced/plain %.2f (overhead %.1f ns)\n", traced / plain, traced - plain);
  return 0;
}
