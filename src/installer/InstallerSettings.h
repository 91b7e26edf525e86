// The dependency installer's machine-wide settings, read in one place: each
// value's type and whole data, where it came from (the policy key wins over
// the installer's key, which wins over the default), and whether it is
// accepted. A value that is present but refused is never replaced by the
// default: the installer then downloads and runs nothing.
//
// Accepted forms:
//   DownloadServer        REG_SZ, an http:// or https:// address with a host and
//                         an optional port and path; printable ASCII only (no
//                         blank, no control character, no NUL), no query, no
//                         fragment, no user information, at most
//                         kMaxServerLength characters. A final "/" is dropped.
//   RequirePins           REG_DWORD 0 or 1, or REG_SZ "0" or "1".
//   InstallerWaitSeconds  REG_DWORD, or REG_SZ of decimal digits, from
//                         kMinWaitSeconds to kMaxWaitSeconds.
//   Pins\<server path>    REG_SZ of exactly 64 hexadecimal digits (a SHA-256),
//                         either case.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace tamberlux::InstallerSettings {

constexpr size_t kMaxServerLength = 256;
constexpr DWORD kMinWaitSeconds = 1;
constexpr DWORD kMaxWaitSeconds = 86400;

enum class Source { Default, Machine, Policy };
const wchar_t* SourceName(Source source);  // "default", "machine", "policy"

struct Setting {
  std::wstring name;     // the value's name (a pin's is its server path)
  Source source = Source::Default;
  std::wstring stored;   // the value as stored, as text: a DWORD in decimal, other data described
  std::wstring refusal;  // why it is refused; empty when accepted
  bool pin = false;      // a value under the Pins key
  bool Accepted() const { return refusal.empty(); }
  // The value's name as a person finds it: a pin's under "Pins\".
  std::wstring Label() const { return (pin ? L"Pins\\" : L"") + name; }
};

struct Settings {
  Setting server, requirePins, wait;
  std::vector<Setting> pins;
  // What the accepted values say; empty, false and 0 where refused.
  std::wstring address;  // without a final "/"
  bool pinsRequired = false;
  DWORD waitSeconds = 0;

  // The three settings and each pin, in that order.
  std::vector<const Setting*> All() const;
  // The first refused setting, or null.
  const Setting* FirstRefused() const;
  // The accepted pin of a server path in lower case, or the empty text.
  std::wstring PinOf(const std::wstring& serverPath) const;
};

// Reads every setting afresh. Never fails: a value that cannot be read is refused.
Settings Read();

enum class Kind { Server, RequirePins, Wait, Pin };
// Why a value of this type and data is refused as a setting of this kind, or
// the empty text; `accepted` receives the accepted value's text (the address,
// "0" or "1", the seconds, the pin in lower case).
std::wstring Problem(Kind kind, DWORD type, const std::vector<BYTE>& data, std::wstring& accepted);

// Through the error trap: when a setting is refused, raises run-time error 5
// naming the value, where it came from and why. For a step that guards a
// download.
void RequireAccepted(const Settings& settings);

}  // namespace tamberlux::InstallerSettings
