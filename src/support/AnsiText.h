// Text handed to ANSI platform functions: converted to the system ANSI code
// page and back.
#pragma once

#include <string>

namespace tamberlux {

std::string ToAnsi(const std::wstring& text);
// One character per byte, so a byte count stays a character count.
std::wstring FromAnsi(const char* bytes, size_t count);

}  // namespace tamberlux
