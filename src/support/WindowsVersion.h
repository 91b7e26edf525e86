// Which Windows release the component runs on, asked of Windows each time.
#pragma once

#include <windows.h>

#include <string>

#include "base/ComTypes.h"

namespace tamberlux::WindowsVersion {

// The version record as GetVersionExA fills it; a dump lists it field by field.
struct VersionRecord : OSVERSIONINFOA {};
void ReportVar(const wchar_t* name, const VersionRecord& v);
Variant ValueOf(const VersionRecord& v);

// "Windows 95", "Windows 98", "Windows ME", "Windows NT", "Windows 2000",
// "Windows XP", "Windows 2003 Server", "Windows Vista" (every 6.x),
// "Windows Unknown", or the empty text for a release it has no name for.
std::wstring WindowsVersion();
bool IsWindowsVistaOrHigher();
bool IsWindowsXPOrHigher();
bool IsWindows98OrMe();

}  // namespace tamberlux::WindowsVersion
