#include "support/CommonLogger.h"

#include "base/Text.h"
#include "base/ThreadValues.h"
#include "errortrap/Procedure.h"

namespace tamberlux::CommonLogger {

using vbw::Var;

namespace {
std::wstring& mWebsiteAddress() {
  thread_local std::wstring* address = nullptr;
  return ThreadOwned(address);
}
}  // namespace

void ReportModuleVariables(const void*) {
  vbw::vbwReportToFile(vbw::kModuleBanner);
  vbw::ReportVar(L"mWebsiteAddress", mWebsiteAddress());
}

void OpenLog(int32_t level, const std::wstring& productName, const std::wstring& logPrefix,
             const std::wstring& companyName) {
  vbw::Proc p(L"CommonLogger.OpenLog", ReportModuleVariables,
              {Var(L"level", level), Var(L"productName", productName), Var(L"logPrefix", logPrefix),
               Var(L"companyName", companyName)});
  p.Run([&] {
    if (!mWebsiteAddress().empty()) return;
    p(101, [&] {
      mWebsiteAddress() = L"http://www." + LowerCase(productName) + L".com";
    });
  });
}

void Log(const std::wstring& str, int32_t level, bool outputTime, int32_t instanceId) {
  vbw::Proc p(L"CommonLogger.Log", ReportModuleVariables,
              {Var(L"str", str), Var(L"level", level), Var(L"outputTime", outputTime), Var(L"instanceId", instanceId)});
}

void CloseLog(int32_t instanceId) {
  vbw::Proc p(L"CommonLogger.CloseLog", ReportModuleVariables, {Var(L"instanceId", instanceId)});
}

}  // namespace tamberlux::CommonLogger
