// Small pieces of the language's runtime that the component needs by name.
#pragma once

#include <cstdint>

namespace tamberlux::VBLanguageExtensions {

// A whole number from Lower to Upper inclusive, drawn after seeding the
// generator from the current time.
int32_t RandomNumber(int32_t Lower, int32_t Upper);

}  // namespace tamberlux::VBLanguageExtensions
