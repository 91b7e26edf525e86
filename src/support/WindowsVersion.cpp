#include "support/WindowsVersion.h"

#include "base/Text.h"
#include "errortrap/Procedure.h"

namespace tamberlux::WindowsVersion {

using vbw::Var;

void ReportVar(const wchar_t* name, const VersionRecord& v) {
  const std::wstring n = name;
  const auto number = [](DWORD d) { return Variant::Of(static_cast<double>(d)); };
  vbw::vbwReportVariable(n + L".dwOSVersionInfoSize", number(v.dwOSVersionInfoSize), 0);
  vbw::vbwReportVariable(n + L".dwMajorVersion", number(v.dwMajorVersion), 0);
  vbw::vbwReportVariable(n + L".dwMinorVersion", number(v.dwMinorVersion), 0);
  vbw::vbwReportVariable(n + L".dwBuildNumber", number(v.dwBuildNumber), 0);
  vbw::vbwReportVariable(n + L".dwPlatformId", number(v.dwPlatformId), 0);
  vbw::vbwReportVariable(n + L".szCSDVersion", Variant::Of(FromAnsi(v.szCSDVersion, strnlen(v.szCSDVersion, 128))), 0);
}

// A record has no single value: parameter texts show it empty.
Variant ValueOf(const VersionRecord&) { return Variant(); }

namespace {
std::wstring NameOf(const VersionRecord& info) {
  switch (info.dwPlatformId) {
    case 0:
      return L"Windows Unknown";
    case 1:
      switch (info.dwMinorVersion) {
        case 0: return L"Windows 95";
        case 10: return L"Windows 98";
        case 90: return L"Windows ME";
        default: return L"";
      }
    case 2:
      switch (info.dwMajorVersion) {
        case 4: return L"Windows NT";
        case 5:
          switch (info.dwMinorVersion) {
            case 0: return L"Windows 2000";
            case 1: return L"Windows XP";
            case 2: return L"Windows 2003 Server";
            default: return L"";
          }
        case 6: return L"Windows Vista";
        default: return L"";
      }
    default:
      return L"";
  }
}

bool OneOf(const std::wstring& name, std::initializer_list<const wchar_t*> names) {
  for (const wchar_t* n : names)
    if (name == n) return true;
  return false;
}

// Each question is a procedure of its own, with a step number of its own.
template <class Question>
bool Ask(const wchar_t* procedure, int step, Question question) {
  bool result = false;
  vbw::Proc p(procedure, vbw::BannerOnly);
  p.Run([&] { p(step, [&] { result = question(WindowsVersion()); }); });
  return result;
}
}  // namespace

std::wstring WindowsVersion() {
  std::wstring result;
  vbw::Proc p(L"WindowsVersion.WindowsVersion", vbw::BannerOnly);
  VersionRecord info{};
  std::wstring txt;
  p.Local(L"info", info);
  p.Local(L"txt", txt);
  p.Run([&] {
    p(101, [&] { info.dwOSVersionInfoSize = sizeof(OSVERSIONINFOA); });
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    p(102, [&] { GetVersionExA(&info); });
#pragma GCC diagnostic pop
    p(103, [&] { txt = NameOf(info); });
    result = txt;
  });
  return result;
}

bool IsWindowsVistaOrHigher() {
  return Ask(L"WindowsVersion.IsWindowsVistaOrHigher", 201, [](const std::wstring& name) {
    return !OneOf(name, {L"Windows 95", L"Windows 98", L"Windows ME", L"Windows NT", L"Windows 2000", L"Windows XP"});
  });
}

bool IsWindowsXPOrHigher() {
  return Ask(L"WindowsVersion.IsWindowsXPOrHigher", 301, [](const std::wstring& name) {
    return !OneOf(name, {L"Windows 95", L"Windows 98", L"Windows ME", L"Windows NT", L"Windows 2000"});
  });
}

bool IsWindows98OrMe() {
  return Ask(L"WindowsVersion.IsWindows98OrMe", 401,
             [](const std::wstring& name) { return OneOf(name, {L"Windows 98", L"Windows ME"}); });
}

}  // namespace tamberlux::WindowsVersion
