// tamberlux status NAME [--json]: what decides whether the add-in loads, read
// with the component's own registry and detection code; changes nothing.
#include <windows.h>
#include <oaidl.h>

#include <string>
#include <vector>

#include "Commands.h"
#include "Console.h"
#include "SettingsReport.h"
#include <algorithm>
#include <cstring>
#include <optional>

#include "base/RegistryDoor.h"
#include "base/Text.h"
#include "base/VbError.h"
#include "errortrap/ErrorLog.h"
#include "registry/LoadVerdict.h"
#include "registry/RegistryFunctions.h"
#include "registry/RegistryRaw.h"
#include "registry/WordKeys.h"
#include "support/CommonWordInteractionFunctions.h"
#include "support/UtilityFunctions.h"

namespace tamberlux {
namespace {

using namespace console;
namespace reg = RegistryFunctions;
using namespace WordKeys;

struct ShownEntry {
  std::wstring valueName;
  std::optional<DWORD> type;
  std::wstring path, friendlyName;
  bool product = false;
};

struct Copy {
  std::wstring file, source, path, state;
  bool sourceExists = false;
  bool used = false;
};

using LoadVerdict::Policy;

struct Status {
  std::wstring product, section, wordVersion, resiliencyKey;
  struct Addin {
    std::wstring progId, friendlyName;
    std::optional<int32_t> loadBehavior;
  };
  std::vector<Addin> addins;
  std::vector<ShownEntry> disabledItems, startupItems;
  // How many values each list key really holds: more than were read when the
  // walk stopped early (at a value of 2,048 bytes or more, or one without a name).
  std::optional<DWORD> disabledCount, startupCount;
  std::wstring permanentlyDisableAddin, failedWord2000Check;
  std::wstring templateSource;
  std::vector<Copy> copies;
  std::optional<Policy> addinList, doNotDisable, disableAllAddins, requireAddinSig;
  // Whether the add-in loads at Word's next start (nothing: cannot be told), and why.
  std::optional<bool> willLoad;
  std::wstring why;
  // The dependency installer's machine-wide settings.
  InstallerSettings::Settings installer;
};

// A policy value as text (a number for a DWORD), from the machine or else the user.
std::optional<Policy> ReadPolicy(const std::wstring& path, const std::wstring& name) {
  for (const auto& [root, hive] : {std::pair{HKEY_LOCAL_MACHINE, L"HKEY_LOCAL_MACHINE"},
                                   std::pair{HKEY_CURRENT_USER, L"HKEY_CURRENT_USER"}}) {
    RegistryDoor::Value v;
    if (RegistryDoor::Read(root, path, name, v) != ERROR_SUCCESS) continue;
    return Policy{RegistryDoor::AsText(v).value_or(L"(type " + std::to_wstring(v.type) + L")"), hive};
  }
  return std::nullopt;
}

bool Is(const std::optional<Policy>& p, const wchar_t* value) { return p && p->value == value; }

// What Word will do with the main add-in at its next start, as the component's rules decide it.
void Decide(Status& s) {
  LoadVerdict::Facts f;
  f.loadBehavior = s.addins[1].loadBehavior;
  f.listed = std::any_of(s.disabledItems.begin(), s.disabledItems.end(), [](auto& e) { return e.product; }) ||
             std::any_of(s.startupItems.begin(), s.startupItems.end(), [](auto& e) { return e.product; });
  f.versionKnown = !s.resiliencyKey.empty();
  f.permanentlyDisableAddin = s.permanentlyDisableAddin;
  f.addinList = s.addinList;
  f.doNotDisable = s.doNotDisable;
  f.disableAllAddins = s.disableAllAddins;
  f.requireAddinSig = s.requireAddinSig;
  const LoadVerdict::Verdict v = LoadVerdict::Decide(f);
  s.willLoad = v.willLoad;
  s.why = v.why;
}

// Each value of a resiliency list, as the component's detection sees it.
std::vector<ShownEntry> ReadList(const std::wstring& product, const std::wstring& key) {
  const std::wstring lower = LowerCase(product);
  std::vector<ShownEntry> entries;
  for (int32_t index = 0;; ++index) {
    std::wstring data;
    int32_t i = index;
    const std::wstring valueName = reg::ReadRegistryStringGetAll(HKEY_CURRENT_USER, key, i, data);
    if (valueName.empty()) break;
    ShownEntry entry;
    entry.valueName = valueName;
    entry.product = NamesProduct(lower, data);
    const auto raw = RegistryRaw::Read(HKEY_CURRENT_USER, key, valueName);
    if (const auto decoded = raw ? DecodeEntry(raw->data) : std::nullopt) {
      entry.type = decoded->type;
      entry.path = decoded->path;
      entry.friendlyName = decoded->friendlyName;
    }
    entries.push_back(entry);
  }
  return entries;
}

Status ReadStatus(const std::wstring& name) {
  Status s;
  s.product = name;
  s.section = ProductSection(name);
  s.wordVersion = reg::ReadRegistryString(HKEY_CURRENT_USER, s.section, kWordVersion);
  for (const ComAddin& addin : kComAddins) {
    const std::wstring key = kComAddinsKey + std::wstring(addin.progId);
    Status::Addin a{addin.progId, reg::ReadRegistryString(HKEY_CURRENT_USER, key, kFriendlyName), std::nullopt};
    const std::wstring behavior = reg::ReadRegistry(HKEY_CURRENT_USER, key, kLoadBehavior);
    if (!behavior.empty()) a.loadBehavior = _wtoi(behavior.c_str());
    s.addins.push_back(a);
  }
  // A recorded text that is no Word version names no list of Word's.
  if (WordVersionProblem(s.wordVersion).empty()) {
    s.resiliencyKey = ResiliencyKey(s.wordVersion);
    s.disabledItems = ReadList(name, s.resiliencyKey + kDisabledItems);
    s.startupItems = ReadList(name, s.resiliencyKey + kStartupItems);
    s.disabledCount = RegistryRaw::ValueCount(HKEY_CURRENT_USER, s.resiliencyKey + kDisabledItems);
    s.startupCount = RegistryRaw::ValueCount(HKEY_CURRENT_USER, s.resiliencyKey + kStartupItems);
    const std::wstring policies = PolicyWordKey(s.wordVersion);
    const std::wstring progId = kComAddins[1].progId;
    s.addinList = ReadPolicy(policies + kPolicyAddinList, progId);
    s.doNotDisable = ReadPolicy(policies + kPolicyDoNotDisableAddinList, progId);
    s.disableAllAddins = ReadPolicy(policies + kPolicySecurity, kDisableAllAddins);
    s.requireAddinSig = ReadPolicy(policies + kPolicySecurity, kRequireAddinSig);
  }
  s.permanentlyDisableAddin = reg::ReadRegistryString(HKEY_CURRENT_USER, s.section, kPermanentlyDisableAddin);
  s.failedWord2000Check = reg::ReadRegistryString(HKEY_CURRENT_USER, s.section, kFailedWord2000Check);

  // The copy a launch makes depends on Word's release; the recorded version
  // tells which one, and both are shown.
  s.templateSource = UtilityFunctions::SRC_PATH(name);
  // A recorded version that is no version text tells nothing: neither copy is marked.
  enum { kUnknown, kDot, kDotm } uses = kDotm;
  try {
    if (!s.wordVersion.empty()) uses = CommonWordInteractionFunctions::MajorVersion(s.wordVersion) >= 12 ? kDotm : kDot;
  } catch (const vb::Error&) {
    uses = kUnknown;
  }
  for (const wchar_t* extension : {L".dot", L".dotm"}) {
    Copy c;
    c.file = name + extension;
    c.source = s.templateSource + c.file;
    c.sourceExists = UtilityFunctions::fileExists(c.source);
    c.path = UtilityFunctions::TrustedTemplatePath(c.file);
    c.used = uses == (std::wstring(extension) == L".dotm" ? kDotm : kDot);
    c.state = !UtilityFunctions::fileExists(c.path)                 ? L"missing"
              : UtilityFunctions::NeedToCopy(name, c.path) ? L"different time"
                                                           : L"same time";
    s.copies.push_back(c);
  }
  Decide(s);
  s.installer = InstallerSettings::Read();
  return s;
}

// The values a list key holds, when the walk read fewer of them.
std::optional<DWORD> Unread(const std::vector<ShownEntry>& entries, const std::optional<DWORD>& count) {
  if (count && *count > entries.size()) return *count;
  return std::nullopt;
}

std::wstring JsonList(const std::vector<ShownEntry>& entries) {
  std::wstring out = L"[";
  for (size_t i = 0; i < entries.size(); ++i) {
    const ShownEntry& e = entries[i];
    out += (i ? L", " : L"") + std::wstring(L"{\"value\": ") + Json(e.valueName) + L", \"type\": " +
           (e.type ? std::to_wstring(*e.type) : L"null") + L", \"path\": " + JsonOrNull(e.path) +
           L", \"friendlyName\": " + JsonOrNull(e.friendlyName) + L", \"product\": " +
           (e.product ? L"true" : L"false") + L"}";
  }
  return out + L"]";
}

std::wstring JsonPolicy(const std::optional<Policy>& p) {
  return p ? L"{\"value\": " + Json(p->value) + L", \"hive\": " + Json(p->hive) + L"}" : L"null";
}

void PrintJson(const Status& s) {
  const std::wstring logProblem = vbw::ErrorLog::WriteProblem();
  std::wstring out = L"{\n  \"product\": " + Json(s.product) + L",\n  \"section\": " + Json(s.section) +
                     L",\n  \"errorLog\": {\"path\": " + Json(vbw::ErrorLog::Path()) + L", \"writable\": " +
                     (logProblem.empty() ? L"true" : L"false") + L", \"problem\": " + Json(logProblem) + L"}" +
                     L",\n  \"wordVersion\": " + JsonOrNull(s.wordVersion) + L",\n  \"comAddins\": [";
  for (size_t i = 0; i < s.addins.size(); ++i)
    out += (i ? L", " : L"") + std::wstring(L"{\"progId\": ") + Json(s.addins[i].progId) + L", \"friendlyName\": " +
           JsonOrNull(s.addins[i].friendlyName) + L", \"loadBehavior\": " +
           (s.addins[i].loadBehavior ? std::to_wstring(*s.addins[i].loadBehavior) : L"null") + L"}";
  out += L"],\n  \"resiliencyKey\": " + JsonOrNull(s.resiliencyKey) + L",\n  \"disabledItems\": " +
         JsonList(s.disabledItems) + L",\n  \"disabledItemsValues\": " +
         (s.disabledCount ? std::to_wstring(*s.disabledCount) : L"null") + L",\n  \"startupItems\": " +
         JsonList(s.startupItems) + L",\n  \"startupItemsValues\": " +
         (s.startupCount ? std::to_wstring(*s.startupCount) : L"null") +
         L",\n  \"permanentlyDisableAddin\": " + JsonOrNull(s.permanentlyDisableAddin) +
         L",\n  \"failedWord2000Check\": " + JsonOrNull(s.failedWord2000Check) + L",\n  \"template\": {\"source\": " +
         Json(s.templateSource) + L", \"copies\": [";
  for (size_t i = 0; i < s.copies.size(); ++i)
    out += (i ? L", " : L"") + std::wstring(L"{\"file\": ") + Json(s.copies[i].file) + L", \"source\": " +
           Json(s.copies[i].source) + L", \"sourceExists\": " +
           (s.copies[i].sourceExists ? L"true" : L"false") + L", \"path\": " +
           Json(s.copies[i].path) + L", \"state\": " + Json(s.copies[i].state) + L", \"used\": " +
           (s.copies[i].used ? L"true" : L"false") + L"}";
  out += L"]},\n  \"policies\": {\"addinList\": " + JsonPolicy(s.addinList) + L", \"doNotDisableAddinList\": " +
         JsonPolicy(s.doNotDisable) + L", \"disableAllAddins\": " + JsonPolicy(s.disableAllAddins) +
         L", \"requireAddinSig\": " + JsonPolicy(s.requireAddinSig) + L"},\n  \"willLoad\": " +
         (s.willLoad ? (*s.willLoad ? L"true" : L"false") : L"null") + L",\n  \"why\": " + Json(s.why) +
         L",\n  \"installerSettings\": " + SettingsJson(s.installer);
  Print(out + L"\n}\n");
}

std::wstring Or(const std::wstring& text, const wchar_t* none) { return text.empty() ? none : text; }

void PrintList(const wchar_t* title, const std::vector<ShownEntry>& entries, const std::optional<DWORD>& count) {
  Print(std::wstring(L"  ") + title + L": " + (entries.empty() ? L"none" : std::to_wstring(entries.size())) + L"\n");
  if (const auto all = Unread(entries, count))
    Print(L"    (incomplete: the walk stopped after " + std::to_wstring(entries.size()) + L" of the key's " +
          std::to_wstring(*all) +
          L" values, at one of 2,048 bytes or more or without a name; the values behind it are not examined)\n");
  for (const ShownEntry& e : entries)
    Print(L"    " + Shown(e.valueName) + L"  type " + (e.type ? std::to_wstring(*e.type) : L"?") + L"  " +
          Or(Shown(e.path), L"(undecoded)") + L"  \"" + Shown(e.friendlyName) + L"\"" +
          (e.product ? L"  <- the add-in" : L"") + L"\n");
}

void PrintText(const Status& s) {
  Print(Shown(s.product) + L" (HKEY_CURRENT_USER\\" + Shown(s.section) + L")\n");
  if (const std::wstring problem = vbw::ErrorLog::WriteProblem(); !problem.empty())
    Print(L"  error log: cannot be written (" + problem + L"): " + Shown(vbw::ErrorLog::Path()) + L"\n");
  Print(L"  recorded Word version: " + Or(Shown(s.wordVersion), L"none (the next launch is a first launch)") +
        (!s.wordVersion.empty() && s.resiliencyKey.empty() ? L" (not a Word version)" : L"") + L"\n");
  for (const auto& a : s.addins)
    Print(L"  COM add-in " + a.progId + L": " +
          (a.loadBehavior ? L"LoadBehavior " + std::to_wstring(*a.loadBehavior) +
                                (*a.loadBehavior == 3 ? L" (loads at start-up)" : L" (does not load at start-up)")
                          : std::wstring(L"not registered")) +
          L"\n");
  if (s.resiliencyKey.empty()) {
    Print(L"  Word's disabled and startup items: not known without a recorded version\n");
  } else {
    PrintList(L"DisabledItems", s.disabledItems, s.disabledCount);
    PrintList(L"StartupItems", s.startupItems, s.startupCount);
  }
  Print(L"  PermanentlyDisableAddin: " + Or(Shown(s.permanentlyDisableAddin), L"not set") +
        (s.permanentlyDisableAddin == L"1" ? L" (the add-in stays off)" : L"") + L"\n");
  Print(L"  FailedWord2000Check: " + Or(Shown(s.failedWord2000Check), L"not set") +
        (s.failedWord2000Check == L"1" ? L" (the next launch checks for Word 2000 or later)" : L"") + L"\n");
  Print(L"  template source: " + Shown(s.templateSource) + L"\n");
  for (const Copy& c : s.copies)
    Print(L"  template copy " + Shown(c.file) + L": " + c.state + (c.used ? L" (used by this Word)" : L"") +
          (c.sourceExists ? L"" : L"; no source file") + L"\n");
  if (!s.resiliencyKey.empty()) {
    auto line = [](const wchar_t* what, const std::optional<Policy>& p, const wchar_t* meaning) {
      Print(std::wstring(L"  policy ") + what + L": " +
            (p ? Shown(p->value) + L" in " + p->hive + meaning : std::wstring(L"not set")) + L"\n");
    };
    const wchar_t* listMeaning = Is(s.addinList, L"0")   ? L" (always disabled)"
                                 : Is(s.addinList, L"1") ? L" (always enabled)"
                                 : Is(s.addinList, L"2") ? L" (the user's choice)"
                                                         : L"";
    line(L"AddinList", s.addinList, listMeaning);
    line(L"DoNotDisableAddinList", s.doNotDisable, Is(s.doNotDisable, L"1") ? L" (Word never disables it)" : L"");
    line(L"DisableAllAddins", s.disableAllAddins, Is(s.disableAllAddins, L"1") ? L" (no add-in loads)" : L"");
    line(L"RequireAddinSig", s.requireAddinSig, Is(s.requireAddinSig, L"1") ? L" (only signed add-ins load)" : L"");
  }
  Print(L"  dependency installer settings (HKEY_LOCAL_MACHINE):\n" + SettingsText(s.installer, L"    "));
  Print(std::wstring(L"At Word's next start the add-in ") +
        (s.willLoad ? (*s.willLoad ? L"will load: " : L"will not load: ") : L"may or may not load: ") + s.why + L".\n");
}

}  // namespace

int StatusCommand(const std::wstring& name, bool json) {
  if (const std::wstring problem = ProductNameProblem(name); !problem.empty()) return RefuseName(name, problem);
  const Status s = ReadStatus(name);
  json ? PrintJson(s) : PrintText(s);
  return kDone;
}

}  // namespace tamberlux
