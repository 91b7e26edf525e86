// A registry key, its values (types and data exactly) and its sub-keys, saved
// to and restored from a .reg file (RegFile). Wide, untraced access below the component's
// procedures, as RegistryRaw. Only HKEY_CURRENT_USER is written or read back,
// and a restore writes only what a backup can hold.
#pragma once

#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tamberlux::RegistryBackup {

constexpr size_t kKept = 5;
// The largest backup file: a restore refuses a larger file before reading it,
// and a backup that would be larger is not written.
constexpr size_t kMaxFileBytes = 4 * 1024 * 1024;
// The error a restore raises when a key or value cannot be written (Visual
// Basic's "Path/File access error"); a refused file raises vb::kInvalidCall.
constexpr int32_t kNotWritten = 75;

// Writes the key to a new backup file in the per-user folder (written whole
// or not at all, RegFile's text), reads it back and compares it with the key,
// and keeps the newest kKept backups. The file's path; nothing when the key
// is missing. Raises a run-time error, and leaves no file, when the key
// cannot be read whole, the file cannot be written, or it does not read back
// as the key: a caller deletes the key only after a backup came back.
std::optional<std::wstring> Backup(const std::wstring& path, const std::wstring& label);
// Raises vb::kInvalidCall (the reason) unless the file, read as a restore
// reads it, holds exactly the key under HKEY_CURRENT_USER and everything below it.
void Verify(const std::wstring& file, const std::wstring& path);
// The per-user backups, oldest first.
std::vector<std::wstring> Backups();

// Puts a backup back: every key and value it holds is written. The file is
// read and checked whole before anything is written; it is refused (error
// vb::kInvalidCall with the reason and, where there is one, the first
// offending line's number and text, unescaped) when it is missing, larger
// than kMaxFileBytes, cannot be read exactly (RegFile::Read), or names
// anything a backup cannot hold. A backup holds only, under
// HKEY_CURRENT_USER (key paths compared regardless of case):
// - Word's Data key for a version of Word's shape, and keys below it, with
//   any values;
// - the product's settings section for a name the product would take, without
//   sub-keys, holding only the product's own values (WordKeys::kProductValues).
// One file may hold both. Each change as a line ("created key ...", "wrote
// value ..."). A key or value that cannot be written raises kNotWritten.
std::vector<std::wstring> Restore(const std::wstring& file);

}  // namespace tamberlux::RegistryBackup
