// The three logging calls. They keep no log: callers may log freely; the one
// lasting effect is the website address the first OpenLog records, reported
// with the module's variables in a dump.
#pragma once

#include <cstdint>
#include <string>

namespace tamberlux::CommonLogger {

void OpenLog(int32_t level, const std::wstring& productName, const std::wstring& logPrefix,
             const std::wstring& companyName);
void Log(const std::wstring& str, int32_t level = 0, bool outputTime = true, int32_t instanceId = 0);
void CloseLog(int32_t instanceId = 0);

void ReportModuleVariables(const void*);

}  // namespace tamberlux::CommonLogger
