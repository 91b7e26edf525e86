#include "installer/InstallerSettings.h"

#include <cwchar>
#include <cwctype>

#include "base/Text.h"
#include "base/VbError.h"
#include "registry/RegistryRaw.h"
#include "registry/WordKeys.h"

namespace tamberlux::InstallerSettings {

namespace {

constexpr size_t kShownLength = 300;

// The text of REG_SZ data: one final NUL is the terminator; false when the
// data is not whole UTF-16 or holds a NUL before its end.
bool TextOf(DWORD type, const std::vector<BYTE>& data, std::wstring& text, std::wstring& why) {
  if (type != REG_SZ) return why = L"it is not text (REG_SZ)", false;
  if (data.size() % 2) return why = L"its data is not whole UTF-16 text", false;
  text.assign(reinterpret_cast<const wchar_t*>(data.data()), data.size() / 2);
  if (!text.empty() && text.back() == L'\0') text.pop_back();
  if (text.find(L'\0') != std::wstring::npos) return why = L"it holds a NUL character", false;
  return true;
}

bool Digits(const std::wstring& text, size_t from, size_t to) {
  if (to <= from) return false;
  for (size_t i = from; i < to; ++i)
    if (text[i] < L'0' || text[i] > L'9') return false;
  return true;
}

std::wstring ServerProblem(const std::wstring& text, std::wstring& accepted) {
  if (text.empty()) return L"it is empty";
  if (text.size() > kMaxServerLength)
    return L"it is longer than " + std::to_wstring(kMaxServerLength) + L" characters";
  for (wchar_t c : text)
    if (c <= L' ' || c >= 0x7F) return L"it holds a blank, a control character or a character outside ASCII";
  const std::wstring lower = LowerCase(text);
  const size_t schemeEnd = lower.starts_with(L"http://") ? 7 : lower.starts_with(L"https://") ? 8 : 0;
  if (!schemeEnd) return L"it is not an http:// or https:// address";
  if (text.find_first_of(L"?#") != std::wstring::npos) return L"it has a query or a fragment";
  if (text.find(L'\\') != std::wstring::npos) return L"it holds a backslash";
  const size_t pathStart = std::min(text.find(L'/', schemeEnd), text.size());
  const std::wstring authority = text.substr(schemeEnd, pathStart - schemeEnd);
  if (authority.find(L'@') != std::wstring::npos) return L"it holds user information (@)";
  // host, [IPv6 host], either with ":port".
  size_t hostEnd = authority.size();
  if (!authority.empty() && authority[0] == L'[') {
    const size_t close = authority.find(L']');
    if (close == std::wstring::npos || close == 1 ||
        authority.find_first_not_of(L"0123456789abcdefABCDEF:.", 1) != close)
      return L"its host is not a bracketed IPv6 address";
    hostEnd = close + 1;
    if (hostEnd < authority.size() && authority[hostEnd] != L':') return L"its host is followed by something else";
  } else {
    hostEnd = std::min(authority.find(L':'), authority.size());
    for (size_t i = 0; i < hostEnd; ++i)
      if (!std::iswalnum(authority[i]) && authority[i] != L'-' && authority[i] != L'.')
        return L"its host holds a character other than letters, digits, '-' and '.'";
  }
  if (hostEnd == 0) return L"it has no host";
  if (hostEnd < authority.size()) {
    const bool number = Digits(authority, hostEnd + 1, authority.size()) && authority.size() - hostEnd - 1 <= 5;
    if (!number || std::wcstoul(authority.c_str() + hostEnd + 1, nullptr, 10) - 1 > 65534)
      return L"its port is not a number from 1 to 65535";
  }
  accepted = text;
  while (accepted.size() > pathStart && accepted.back() == L'/') accepted.pop_back();
  return {};
}

// A REG_DWORD, or decimal digits as REG_SZ (at most ten of them).
bool NumberOf(DWORD type, const std::vector<BYTE>& data, DWORD& number) {
  if (type == REG_DWORD && data.size() == 4) {
    number = *reinterpret_cast<const DWORD*>(data.data());
    return true;
  }
  std::wstring text, why;
  if (type != REG_SZ || !TextOf(type, data, text, why) || !Digits(text, 0, text.size()) || text.size() > 10)
    return false;
  const unsigned long long n = std::wcstoull(text.c_str(), nullptr, 10);
  if (n > 0xFFFFFFFFull) return false;
  number = static_cast<DWORD>(n);
  return true;
}

// The stored value as text for a person: text as it is (cut when long), a
// number in decimal, anything else by its type and size.
std::wstring Stored(DWORD type, const std::vector<BYTE>& data) {
  if ((type == REG_SZ || type == REG_EXPAND_SZ) && data.size() % 2 == 0) {
    std::wstring text(reinterpret_cast<const wchar_t*>(data.data()), data.size() / 2);
    if (!text.empty() && text.back() == L'\0') text.pop_back();
    if (text.size() > kShownLength)
      return text.substr(0, kShownLength) + L"... (" + std::to_wstring(text.size()) + L" characters)";
    return text;
  }
  if (type == REG_DWORD && data.size() == 4) return std::to_wstring(*reinterpret_cast<const DWORD*>(data.data()));
  return L"(type " + std::to_wstring(type) + L", " + std::to_wstring(data.size()) + L" bytes)";
}

// One of the three settings: the policy's value when there is one, else the
// installer's, else the default.
Setting ReadOne(const wchar_t* name, Kind kind, const std::wstring& fallback, std::wstring& accepted) {
  Setting s{name, Source::Default, fallback, {}};
  accepted = fallback;
  for (const auto& [key, source] : {std::pair{WordKeys::kInstallerPolicyKey, Source::Policy},
                                    std::pair{WordKeys::kInstallerKey, Source::Machine}}) {
    RegistryRaw::Value v;
    const LONG rc = RegistryRaw::Query(HKEY_LOCAL_MACHINE, key, name, v);
    if (rc == ERROR_FILE_NOT_FOUND) continue;
    s.source = source;
    accepted.clear();
    if (rc != ERROR_SUCCESS) {
      s.stored.clear();
      s.refusal = L"it cannot be read (error " + std::to_wstring(rc) + L")";
    } else {
      s.stored = Stored(v.type, v.data);
      s.refusal = Problem(kind, v.type, v.data, accepted);
    }
    if (!s.Accepted()) accepted.clear();
    break;
  }
  return s;
}

}  // namespace

const wchar_t* SourceName(Source source) {
  return source == Source::Policy ? L"policy" : source == Source::Machine ? L"machine" : L"default";
}

std::wstring Problem(Kind kind, DWORD type, const std::vector<BYTE>& data, std::wstring& accepted) {
  accepted.clear();
  std::wstring text, why;
  DWORD number = 0;
  switch (kind) {
    case Kind::Server:
      if (!TextOf(type, data, text, why)) return why;
      return ServerProblem(text, accepted);
    case Kind::RequirePins:
      if (!NumberOf(type, data, number) || number > 1 || (type == REG_SZ && data.size() > 4))
        return L"it is neither 0 nor 1 (a DWORD, or the text \"0\" or \"1\")";
      accepted = std::to_wstring(number);
      return {};
    case Kind::Wait:
      if (!NumberOf(type, data, number) || number < kMinWaitSeconds || number > kMaxWaitSeconds)
        return L"it is not a number of seconds from " + std::to_wstring(kMinWaitSeconds) + L" to " +
               std::to_wstring(kMaxWaitSeconds);
      accepted = std::to_wstring(number);
      return {};
    case Kind::Pin:
      if (!TextOf(type, data, text, why)) return why;
      if (text.size() != 64 || text.find_first_not_of(L"0123456789abcdefABCDEF") != std::wstring::npos)
        return L"a pin is 64 hexadecimal digits (a SHA-256)";
      accepted = LowerCase(text);
      return {};
  }
  return L"it is of no known kind";
}

Settings Read() {
  Settings s;
  std::wstring accepted;
  s.server = ReadOne(WordKeys::kDownloadServer, Kind::Server, WordKeys::kDefaultDownloadServer, accepted);
  s.address = accepted;
  s.requirePins = ReadOne(WordKeys::kRequirePins, Kind::RequirePins, L"0", accepted);
  s.pinsRequired = accepted == L"1";
  s.wait = ReadOne(WordKeys::kInstallerWaitSeconds, Kind::Wait,
                   std::to_wstring(WordKeys::kDefaultInstallerWaitSeconds), accepted);
  s.waitSeconds = accepted.empty() ? 0 : std::wcstoul(accepted.c_str(), nullptr, 10);
  for (const std::wstring& path : RegistryRaw::ValueNames(HKEY_LOCAL_MACHINE, WordKeys::kPinsKey)) {
    Setting pin{path, Source::Machine, {}, {}, true};
    RegistryRaw::Value v;
    if (path.find(L'\0') != std::wstring::npos) {
      pin.refusal = L"its name holds a NUL character";
    } else if (const LONG rc = RegistryRaw::Query(HKEY_LOCAL_MACHINE, WordKeys::kPinsKey, path, v); rc != ERROR_SUCCESS) {
      pin.refusal = L"it cannot be read (error " + std::to_wstring(rc) + L")";
    } else {
      pin.stored = Stored(v.type, v.data);
      pin.refusal = Problem(Kind::Pin, v.type, v.data, accepted);
      if (pin.Accepted()) pin.stored = accepted;
    }
    s.pins.push_back(std::move(pin));
  }
  return s;
}

std::vector<const Setting*> Settings::All() const {
  std::vector<const Setting*> all{&server, &requirePins, &wait};
  for (const Setting& p : pins) all.push_back(&p);
  return all;
}

const Setting* Settings::FirstRefused() const {
  for (const Setting* s : All())
    if (!s->Accepted()) return s;
  return nullptr;
}

std::wstring Settings::PinOf(const std::wstring& serverPath) const {
  for (const Setting& p : pins)
    if (p.Accepted() && LowerCase(p.name) == LowerCase(serverPath)) return p.stored;
  return {};
}

void RequireAccepted(const Settings& settings) {
  const Setting* refused = settings.FirstRefused();
  if (!refused) return;
  vb::Raise(vb::kInvalidCall, L"The installer setting " + refused->Label() +
                                  L" (" + SourceName(refused->source) + L") is refused: " + refused->refusal +
                                  L"; nothing is downloaded or run");
}

}  // namespace tamberlux::InstallerSettings
