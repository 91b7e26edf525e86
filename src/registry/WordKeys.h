// Word's and the product's registry keys and value names, in one place, and
// the layout of an entry in Word's resiliency lists. Paths are relative to
// HKEY_CURRENT_USER unless a comment says otherwise.
#pragma once

#include <windows.h>

#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/Text.h"

namespace tamberlux::WordKeys {

// The product's two COM add-ins for Word, in the order they are registered:
// the monitor first.
struct ComAddin {
  const wchar_t* progId;
  const wchar_t* friendlyName;
  const wchar_t* description;
};
inline constexpr ComAddin kComAddins[] = {
    {L"AddinMonitor.ZentrelloMonitor", L"ZentrelloMonitor", L"Zentrello monitor add-in"},
    {L"Kestrivane.ZentrelloAddinForWord", L"Zentrello", L"Zentrello add-in"},
};
// The monitor's name in a list entry, in lower case: an entry naming it is
// never the product's own.
inline constexpr wchar_t kMonitorEntryName[] = L"zentrellomonitor";

// Where Word looks for a COM add-in's registration, and the values there.
inline constexpr wchar_t kComAddinsKey[] = L"SOFTWARE\\Microsoft\\Office\\Word\\Addins\\";
inline constexpr wchar_t kFriendlyName[] = L"friendlyName";
inline constexpr wchar_t kDescription[] = L"description";
inline constexpr wchar_t kLoadBehavior[] = L"LoadBehavior";
inline constexpr wchar_t kCommandLineSafe[] = L"CommandLineSafe";

// Word's per-version keys.
inline std::wstring OfficeKey(const std::wstring& version) { return L"Software\\Microsoft\\Office\\" + version; }
inline std::wstring ResiliencyKey(const std::wstring& version) { return OfficeKey(version) + L"\\Word\\Resiliency\\"; }
inline std::wstring DataKey(const std::wstring& version) { return OfficeKey(version) + L"\\Word\\Data"; }
inline constexpr wchar_t kDisabledItems[] = L"DisabledItems";
inline constexpr wchar_t kStartupItems[] = L"StartupItems";

// The product's settings section and its values.
inline std::wstring ProductSection(const std::wstring& productName) { return L"Software\\" + productName; }
inline constexpr wchar_t kWordVersion[] = L"WordVersion";
inline constexpr wchar_t kPermanentlyDisableAddin[] = L"PermanentlyDisableAddin";
inline constexpr wchar_t kFailedWord2000Check[] = L"FailedWord2000Check";
// Every value the product's section holds.
inline constexpr const wchar_t* kProductValues[] = {kWordVersion, kPermanentlyDisableAddin, kFailedWord2000Check};

// An entry of DisabledItems or StartupItems as Word writes it: a type, the
// byte lengths of the UTF-16 path and friendly name (terminators included),
// then both.
struct ListEntry {
  uint32_t type = 1;
  std::wstring path;
  std::wstring friendlyName;
};

inline std::vector<BYTE> EncodeEntry(const ListEntry& e) {
  const auto pathBytes = static_cast<uint32_t>((e.path.size() + 1) * 2);
  const auto nameBytes = static_cast<uint32_t>((e.friendlyName.size() + 1) * 2);
  std::vector<BYTE> data(12 + pathBytes + nameBytes);
  std::memcpy(&data[0], &e.type, 4);
  std::memcpy(&data[4], &pathBytes, 4);
  std::memcpy(&data[8], &nameBytes, 4);
  std::memcpy(&data[12], e.path.c_str(), pathBytes);
  std::memcpy(&data[12 + pathBytes], e.friendlyName.c_str(), nameBytes);
  return data;
}

// Nothing when the data has another shape.
inline std::optional<ListEntry> DecodeEntry(const std::vector<BYTE>& data) {
  if (data.size() < 12) return std::nullopt;
  uint32_t type, pathBytes, nameBytes;
  std::memcpy(&type, &data[0], 4);
  std::memcpy(&pathBytes, &data[4], 4);
  std::memcpy(&nameBytes, &data[8], 4);
  if (pathBytes % 2 || nameBytes % 2 || 12ull + pathBytes + nameBytes > data.size()) return std::nullopt;
  auto text = [&](size_t offset, size_t bytes) {
    std::wstring t(bytes / 2, L'\0');
    std::memcpy(t.data(), &data[offset], bytes);
    while (!t.empty() && t.back() == L'\0') t.pop_back();
    return t;
  };
  return ListEntry{type, text(12, pathBytes), text(12 + pathBytes, nameBytes)};
}

// Whether a list entry's data, as the registry functions read it (one
// character per byte), names the product's add-in and not its monitor;
// lowerName is the product name through LowerCase.
inline bool NamesProduct(const std::wstring& lowerName, std::wstring data) {
  // UTF-16 text of ASCII characters becomes plain text once its NULs go.
  std::erase(data, L'\0');
  return data.find(lowerName) != std::wstring::npos && data.find(kMonitorEntryName) == std::wstring::npos;
}

// The dependency installer's machine-wide settings, under HKEY_LOCAL_MACHINE
// (written by the product's installer, so a user-level program cannot
// redirect downloads or loosen the checks). A value of the same name under
// the policy key wins over the installer's. What each accepts is decided in
// installer/InstallerSettings.
inline constexpr wchar_t kUacPolicyKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\System";
inline constexpr wchar_t kEnableLUA[] = L"EnableLUA";
inline constexpr wchar_t kInstallerKey[] = L"Software\\Valdomeren\\Zentrello\\Installer";
inline constexpr wchar_t kInstallerPolicyKey[] = L"Software\\Policies\\Valdomeren\\Zentrello\\Installer";
// The vendor's download server: an http:// or https:// address.
inline constexpr wchar_t kDownloadServer[] = L"DownloadServer";
inline constexpr wchar_t kDefaultDownloadServer[] = L"http://www.zentrello.com";
// 1: a download without a pin is refused.
inline constexpr wchar_t kRequirePins[] = L"RequirePins";
// Seconds an installer is waited for.
inline constexpr wchar_t kInstallerWaitSeconds[] = L"InstallerWaitSeconds";
inline constexpr DWORD kDefaultInstallerWaitSeconds = 900;
// Values named by server path ("/dependencies/infra.exe"), each the file's
// SHA-256 in hex.
inline constexpr wchar_t kPinsKey[] = L"Software\\Valdomeren\\Zentrello\\Installer\\Pins";

// --- Text that becomes a key path or a file name. ---
// Both answer the empty text when the text is usable, otherwise why not.

// Word's version shape: ASCII digits, one full stop, ASCII digits ("12.0").
// Anything else would make "Software\Microsoft\Office\" + version name some
// other key: an empty text or separators the version-independent Office key,
// an embedded NUL a key cut short.
inline std::wstring WordVersionProblem(const std::wstring& version) {
  const size_t dot = version.find(L'.');
  auto digits = [&](size_t from, size_t to) {
    if (to <= from || to - from > 9) return false;
    for (size_t i = from; i < to; ++i)
      if (version[i] < L'0' || version[i] > L'9') return false;
    return true;
  };
  if (dot == std::wstring::npos || !digits(0, dot) || !digits(dot + 1, version.size()))
    return L"a Word version is digits, a full stop and digits";
  return {};
}

// The product name is one registry key name ("Software\" + name) and part of
// file names: not empty, no separator, NUL or control character, not only
// blanks and full stops, and the same text after the round trip through the
// ANSI code page that the registry and file functions take (a best-fit
// look-alike such as a full-width backslash would become a real one).
inline std::wstring ProductNameProblem(const std::wstring& name) {
  if (name.empty()) return L"it is empty";
  if (name.size() > 100) return L"it is longer than 100 characters";
  for (wchar_t c : name) {
    if (c < 32 || c == 127) return L"it holds a NUL or a control character";
    if (std::wstring_view(L"\\/:*?\"<>|").find(c) != std::wstring_view::npos) return L"it holds a separator";
  }
  if (name.find_first_not_of(L" .") == std::wstring::npos) return L"it is only blanks and full stops";
  if (!SurvivesAnsi(name)) return L"it does not survive the ANSI code page unchanged";
  return {};
}

// --- Office's policies, which override the user's own state; the same paths
// under HKEY_CURRENT_USER and HKEY_LOCAL_MACHINE (the machine's wins). ---
inline std::wstring PolicyWordKey(const std::wstring& version) {
  return L"Software\\Policies\\Microsoft\\Office\\" + version + L"\\Word";
}
// Per add-in, a value named by its ProgID: "0" always disabled, "1" always
// enabled, "2" the user's choice.
inline constexpr wchar_t kPolicyAddinList[] = L"\\Resiliency\\AddinList";
// Per add-in, a value named by its ProgID: 1, Word never disables it.
inline constexpr wchar_t kPolicyDoNotDisableAddinList[] = L"\\Resiliency\\DoNotDisableAddinList";
inline constexpr wchar_t kPolicySecurity[] = L"\\Security";
inline constexpr wchar_t kDisableAllAddins[] = L"DisableAllAddins";  // 1: no add-in loads
inline constexpr wchar_t kRequireAddinSig[] = L"RequireAddinSig";    // 1: only signed add-ins load

}  // namespace tamberlux::WordKeys
