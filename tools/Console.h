// What every tamberlux command shares: its exit codes, UTF-8 output, and JSON text.
#pragma once

#include <windows.h>

#include <string>

namespace tamberlux::console {

enum ExitCode { kDone = 0, kUsage = 2, kNotRegistered = 3, kNoWord = 4, kFailed = 5 };

void Print(const std::wstring& text, FILE* to = stdout);
// Prints "tamberlux: message" on the error output and answers code.
int Fail(ExitCode code, const std::wstring& message);
std::wstring Hex(HRESULT hr);

// A JSON string literal; JsonOrNull gives null for the empty text.
std::wstring Json(const std::wstring& text);
std::wstring JsonOrNull(const std::wstring& text);
// Text for a terminal: control characters and NULs shown as escapes.
std::wstring Shown(const std::wstring& text);
// A product name the component would refuse: its message, and the usage code.
int RefuseName(const std::wstring& name, const std::wstring& problem);

}  // namespace tamberlux::console
