// The dependency installer's machine-wide settings as `check` and `status`
// show them: each value, where it came from, and whether it is accepted or
// refused and why, with control characters escaped.
#pragma once

#include <string>

#include "installer/InstallerSettings.h"

namespace tamberlux {

// "  DownloadServer: http://… (machine, accepted)" lines, each ending in "\n".
std::wstring SettingsText(const InstallerSettings::Settings& settings, const wchar_t* indent = L"  ");
// A JSON array with an object per setting: name, stored, source, accepted, why.
std::wstring SettingsJson(const InstallerSettings::Settings& settings);

}  // namespace tamberlux
