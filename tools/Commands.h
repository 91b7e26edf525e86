// The tamberlux commands; each answers its exit code (Console.h).
#pragma once

#include <string>

namespace tamberlux {

int LaunchCommand(const std::wstring& name, bool startMacro);
int StatusCommand(const std::wstring& name, bool json);
int EnableCommand(const std::wstring& name, bool json);

}  // namespace tamberlux
