// tamberlux repair NAME [--data] [--json]: what a launch does to put the
// add-in back, without starting Word, and with --data Word's Data key backed
// up and deleted; tamberlux restore FILE [--json]: a backup put back. Each
// prints what it changed.
#include <windows.h>

#include <algorithm>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "Commands.h"
#include "Console.h"
#include "base/RegistryDoor.h"
#include "base/VbError.h"
#include "component/Main2.h"
#include "registry/RegistryBackup.h"
#include "registry/RegistryFunctions.h"
#include "registry/RegistryRaw.h"
#include "registry/WordKeys.h"

namespace tamberlux {

using namespace console;
using namespace WordKeys;

namespace {

// What the repair may change, read raw.
struct Snapshot {
  std::vector<std::optional<std::vector<BYTE>>> loadBehavior;
  std::vector<std::wstring> disabledItems;
  std::optional<DWORD> startupItems;
  std::optional<std::vector<BYTE>> permanentlyDisable;
  bool data = false;
};

Snapshot Take(const std::wstring& name, const std::wstring& version) {
  Snapshot s;
  for (const ComAddin& a : kComAddins) {
    const auto v = RegistryRaw::Read(HKEY_CURRENT_USER, kComAddinsKey + std::wstring(a.progId), kLoadBehavior);
    s.loadBehavior.push_back(v ? std::optional(v->data) : std::nullopt);
  }
  if (!version.empty()) {
    s.disabledItems = RegistryRaw::ValueNames(HKEY_CURRENT_USER, ResiliencyKey(version) + kDisabledItems);
    s.startupItems = RegistryRaw::ValueCount(HKEY_CURRENT_USER, ResiliencyKey(version) + kStartupItems);
    s.data = RegistryRaw::ValueCount(HKEY_CURRENT_USER, DataKey(version)).has_value();
  }
  const auto flag = RegistryRaw::Read(HKEY_CURRENT_USER, ProductSection(name), kPermanentlyDisableAddin);
  if (flag) s.permanentlyDisable = flag->data;
  return s;
}

// LoadBehavior is a REG_DWORD: its bytes read as one.
std::wstring DwordText(const std::optional<std::vector<BYTE>>& v) {
  if (!v) return L"none";
  return RegistryDoor::AsText({REG_DWORD, *v}).value_or(L"(not a number)");
}

// PermanentlyDisableAddin is text: its bytes read as REG_SZ.
std::wstring TextOf(const std::optional<std::vector<BYTE>>& v) {
  if (!v) return L"not set";
  return L"\"" + Shown(*RegistryDoor::AsText({REG_SZ, *v})) + L"\"";
}

std::vector<std::wstring> Changes(const Snapshot& before, const Snapshot& after, const std::wstring& backup) {
  std::vector<std::wstring> c;
  for (size_t i = 0; i < before.loadBehavior.size(); ++i)
    if (before.loadBehavior[i] != after.loadBehavior[i])
      c.push_back(L"COM add-in " + std::wstring(kComAddins[i].progId) + L": LoadBehavior " +
                  DwordText(before.loadBehavior[i]) + L" -> " + DwordText(after.loadBehavior[i]));
  for (const std::wstring& v : before.disabledItems)
    if (std::find(after.disabledItems.begin(), after.disabledItems.end(), v) == after.disabledItems.end())
      c.push_back(L"removed the DisabledItems value " + Shown(v));
  if (before.startupItems && !after.startupItems)
    c.push_back(L"deleted the StartupItems key (" + std::to_wstring(*before.startupItems) + L" values)");
  if (before.permanentlyDisable != after.permanentlyDisable)
    c.push_back(L"PermanentlyDisableAddin " + TextOf(before.permanentlyDisable) + L" -> " +
                TextOf(after.permanentlyDisable));
  if (!backup.empty()) c.push_back(L"backed up Word's Data key to " + backup);
  if (before.data && !after.data) c.push_back(L"deleted Word's Data key");
  return c;
}

std::wstring JsonArray(const std::vector<std::wstring>& items) {
  std::wstring out = L"[";
  for (size_t i = 0; i < items.size(); ++i) out += (i ? L", " : L"") + Json(items[i]);
  return out + L"]";
}

void PrintChanges(const std::vector<std::wstring>& changes, const std::vector<std::wstring>& notes, const wchar_t* none) {
  if (changes.empty()) Print(std::wstring(L"  ") + none + L"\n");
  for (const auto& c : changes) Print(L"  " + c + L"\n");
  for (const auto& n : notes) Print(L"  (" + n + L")\n");
}

}  // namespace

int RepairCommand(const std::wstring& name, bool data, bool json) {
  if (const std::wstring problem = ProductNameProblem(name); !problem.empty()) return RefuseName(name, problem);
  std::wstring version =
      RegistryFunctions::ReadRegistryString(HKEY_CURRENT_USER, ProductSection(name), kWordVersion);
  std::vector<std::wstring> notes;
  if (!WordVersionProblem(version).empty()) {
    notes.push_back(version.empty() ? L"no recorded Word version: Word's lists and Data key were not touched"
                                    : L"the recorded Word version \"" + Shown(version) +
                                          L"\" is not a Word version: Word's lists and Data key were not touched");
    version.clear();
  }
  const Snapshot before = Take(name, version);
  const auto backupsBefore = RegistryBackup::Backups();
  Main2 main2;
  main2.EnableComAddins();
  if (!version.empty()) main2.enableTamberlux(name, version);
  if (before.permanentlyDisable && main2.permanentlyDisableAddin(name)) main2.permanentlyDisableAddin(name, false);
  if (data && !version.empty()) main2.DeleteCorruptedDataFolder(version);
  const auto backupsAfter = RegistryBackup::Backups();
  const std::wstring backup =
      !backupsAfter.empty() && backupsAfter != backupsBefore ? backupsAfter.back() : std::wstring();
  const Snapshot after = Take(name, version);
  const auto changes = Changes(before, after, backup);
  if (data && !version.empty() && after.data)
    notes.push_back(backup.empty() ? L"Word's Data key was kept: it could not be backed up"
                                   : L"Word's Data key has sub-keys: Windows keeps such a key");
  if (json) {
    Print(L"{\"product\": " + Json(name) + L", \"wordVersion\": " + JsonOrNull(version) + L", \"changes\": " +
          JsonArray(changes) + L", \"backup\": " + JsonOrNull(backup) + L", \"notes\": " + JsonArray(notes) + L"}\n");
  } else {
    Print(L"Repair of " + name + L":\n");
    PrintChanges(changes, notes, L"nothing needed repair");
  }
  return kDone;
}

int RestoreCommand(const std::wstring& file, bool json) {
  std::vector<std::wstring> changes;
  try {
    changes = RegistryBackup::Restore(file);
  } catch (const vb::Error& e) {
    // A file that is no backup, or names what a backup cannot hold, is the
    // caller's to fix: nothing was written. A write that failed part way is not.
    if (e.number == RegistryBackup::kNotWritten)
      return Fail(kFailed, L"restore stopped: " + Shown(e.description) + L" (what was written before it stays)");
    return Fail(kUsage, L"nothing restored: " + Shown(e.description));
  }
  if (json) {
    Print(L"{\"file\": " + Json(file) + L", \"changes\": " + JsonArray(changes) + L"}\n");
  } else {
    Print(L"Restored " + Shown(file) + L":\n");
    PrintChanges(changes, {}, L"the backup holds nothing");
  }
  return kDone;
}

}  // namespace tamberlux
