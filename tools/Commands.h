// The tamberlux commands; each answers its exit code (Console.h).
#pragma once

#include <string>
#include <vector>

namespace tamberlux {

int LaunchCommand(const std::wstring& name, bool startMacro);
int StatusCommand(const std::wstring& name, bool json);
int CheckCommand(const std::wstring& name, bool json, const std::vector<std::wstring>& deps,
                 const std::vector<std::wstring>& xpDeps);
int InstallDepsCommand(const std::wstring& name, std::vector<std::wstring> deps, std::vector<std::wstring> xpDeps);
int InstallCommand(const std::wstring& name, const std::vector<std::wstring>& deps,
                   const std::vector<std::wstring>& xpDeps);
int EnableCommand(const std::wstring& name, bool json);
int LogCommand(bool json);
int RepairCommand(const std::wstring& name, bool data, bool json);
int RestoreCommand(const std::wstring& file, bool json);

}  // namespace tamberlux
