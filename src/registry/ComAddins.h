// The product's two COM add-ins for Word, in the order they are registered:
// the monitor first.
#pragma once

namespace tamberlux {

struct ComAddin {
  const wchar_t* progId;
  const wchar_t* friendlyName;
  const wchar_t* description;
};

inline constexpr ComAddin kComAddins[] = {
    {L"AddinMonitor.ZentrelloMonitor", L"ZentrelloMonitor", L"Zentrello monitor add-in"},
    {L"Kestrivane.ZentrelloAddinForWord", L"Zentrello", L"Zentrello add-in"},
};

// Where Word looks for a COM add-in's registration, under HKEY_CURRENT_USER.
inline constexpr wchar_t kComAddinsKey[] = L"SOFTWARE\\Microsoft\\Office\\Word\\Addins\\";

}  // namespace tamberlux
