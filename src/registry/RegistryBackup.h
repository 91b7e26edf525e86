// A registry key, its values (types and data exactly) and its sub-keys, saved
// to and restored from a .reg file ("Windows Registry Editor Version 5.00",
// UTF-16 with a byte-order mark). Wide, untraced access below the component's
// procedures, as RegistryRaw. Only HKEY_CURRENT_USER is written or read back.
#pragma once

#include <windows.h>

#include <optional>
#include <string>
#include <vector>

namespace tamberlux::RegistryBackup {

constexpr size_t kKept = 5;

// The .reg text of the key under HKEY_CURRENT_USER; nothing when it is missing.
std::optional<std::wstring> Export(const std::wstring& path);

// Writes the key to a new backup file in the per-user folder (written whole
// or not at all) and keeps the newest kKept backups. The file's path; nothing
// when the key is missing. Throws a run-time error when it cannot be written.
std::optional<std::wstring> Backup(const std::wstring& path, const std::wstring& label);
// The per-user backups, oldest first.
std::vector<std::wstring> Backups();

// Puts a backup back: every key and value it holds is written. The file is
// read and checked whole before anything is written. Each change as a line
// ("created key ...", "wrote value ..."). Throws a run-time error (with the
// reason) for a file that is missing or not such a backup.
std::vector<std::wstring> Restore(const std::wstring& file);

}  // namespace tamberlux::RegistryBackup
