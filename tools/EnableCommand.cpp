// tamberlux enable NAME [--json]: what support staff do over the phone. Takes
// the add-in off Word's disabled lists for the recorded Word version and
// clears the permanent-disable flag, without a dialog, with the component's
// own procedures; prints what it changed.
#include <windows.h>

#include <string>
#include <vector>

#include "Commands.h"
#include "Console.h"
#include "component/Main2.h"
#include "registry/RegistryFunctions.h"
#include "registry/WordKeys.h"

namespace tamberlux {
namespace {

using namespace console;
namespace reg = RegistryFunctions;

// How many values a key holds, as the registry functions enumerate them.
int CountValues(const std::wstring& key) {
  int32_t index = 0;
  for (std::wstring data; !reg::ReadRegistryStringGetAll(HKEY_CURRENT_USER, key, index, data).empty();) ++index;
  return index;
}

struct Change {
  std::wstring version;
  std::vector<std::wstring> removed;  // the values that listed the add-in
  int startupItems = 0;               // entries of StartupItems taken away with them
  std::wstring flagBefore, flagAfter;
  bool stillListed = false;
};

}  // namespace

int EnableCommand(const std::wstring& name, bool json) {
  if (const std::wstring problem = WordKeys::ProductNameProblem(name); !problem.empty())
    return RefuseName(name, problem);
  Main2 main2;
  const std::wstring section = main2.productSection(name);
  Change c;
  c.version = reg::ReadRegistryString(HKEY_CURRENT_USER, section, WordKeys::kWordVersion);
  if (!c.version.empty()) {
    // A launch takes one entry off; Word may have listed the add-in more than once.
    const std::wstring startup = main2.resiliencyKey(c.version) + WordKeys::kStartupItems;
    for (std::wstring listed; c.removed.size() < 64 && !(listed = main2.tamberluxDisabled(name, c.version)).empty();) {
      c.removed.push_back(listed);
      c.startupItems += CountValues(startup);
      main2.enableTamberlux(name, c.version);
    }
    c.stillListed = !main2.tamberluxDisabled(name, c.version).empty();
  }
  c.flagBefore = reg::ReadRegistryString(HKEY_CURRENT_USER, section, WordKeys::kPermanentlyDisableAddin);
  if (main2.permanentlyDisableAddin(name)) main2.permanentlyDisableAddin(name, false);
  c.flagAfter = reg::ReadRegistryString(HKEY_CURRENT_USER, section, WordKeys::kPermanentlyDisableAddin);

  std::wstring removed;
  for (const auto& value : c.removed)
    removed += (removed.empty() ? L"" : json ? L", " : L" ") + (json ? Json(value) : Shown(value));
  if (json) {
    Print(L"{\n  \"product\": " + Json(name) + L",\n  \"wordVersion\": " + JsonOrNull(c.version) +
          L",\n  \"removedEntries\": [" + removed + L"],\n  \"startupItemsDeleted\": " +
          std::to_wstring(c.startupItems) + L",\n  \"permanentlyDisableAddin\": {\"before\": " +
          JsonOrNull(c.flagBefore) + L", \"after\": " + JsonOrNull(c.flagAfter) + L"},\n  \"stillDisabled\": " +
          (c.stillListed ? L"true" : L"false") + L"\n}\n");
  } else {
    Print(name + L" (HKEY_CURRENT_USER\\" + section + L")\n");
    if (c.version.empty())
      Print(L"  no recorded Word version: Word's disabled lists were not looked at\n");
    else if (c.removed.empty())
      Print(L"  Word " + c.version + L" does not list the add-in as disabled\n");
    else
      Print(L"  Word " + c.version + L": removed " + (c.removed.size() == 1 ? L"the entry " : L"the entries ") +
            removed + L" from DisabledItems" +
            (c.startupItems == 0 ? std::wstring()
                                 : L" and StartupItems with its " + std::to_wstring(c.startupItems) +
                                       (c.startupItems == 1 ? L" entry" : L" entries")) +
            L"\n");
    Print(c.flagBefore == c.flagAfter
              ? L"  PermanentlyDisableAddin: unchanged (" + (c.flagAfter.empty() ? L"not set" : Shown(c.flagAfter)) + L")\n"
              : L"  PermanentlyDisableAddin: " + Shown(c.flagBefore) + L" -> " + Shown(c.flagAfter) + L"\n");
  }
  if (c.stillListed) return Fail(kFailed, L"Word still lists " + name + L" as disabled");
  return kDone;
}

}  // namespace tamberlux
