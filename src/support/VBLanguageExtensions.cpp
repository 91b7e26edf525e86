#include "support/VBLanguageExtensions.h"

#include <windows.h>

#include <cmath>
#include <random>

#include "errortrap/Procedure.h"

namespace tamberlux::VBLanguageExtensions {

using vbw::Var;

int32_t RandomNumber(int32_t Lower, int32_t Upper) {
  int32_t result = 0;
  vbw::Proc p(L"VBLanguageExtensions.RandomNumber", vbw::BannerOnly, {Var(L"Lower", Lower), Var(L"Upper", Upper)});
  p.Run([&] {
    p(101, [&] {
      // Seeded from the clock on every call, in 100 ns steps.
      FILETIME now;
      GetSystemTimeAsFileTime(&now);
      thread_local std::mt19937_64 generator;
      generator.seed((static_cast<uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime);
      const double uniform = std::generate_canonical<double, 53>(generator);  // [0, 1)
      const double span = static_cast<double>(Upper) - static_cast<double>(Lower) + 1.0;
      const double drawn = std::floor(span * uniform) + static_cast<double>(Lower);
      if (drawn < INT32_MIN || drawn > INT32_MAX) vb::Raise(vb::kOverflow);
      // A draw just below 1 can round up to the bound above the range.
      result = static_cast<int32_t>(span > 0 && drawn > Upper ? Upper : drawn);
    });
  });
  return result;
}

}  // namespace tamberlux::VBLanguageExtensions
