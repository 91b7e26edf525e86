// Whole-value reads and writes by key path, over RegistryDoor (base/): wide
// names, raw data, no trace. For the COM server's self-registration and for
// tools that show data exactly as stored; the component's own procedures use
// RegistryFunctions.
#pragma once

#include <windows.h>

#include <optional>
#include <string>
#include <vector>

namespace tamberlux::RegistryRaw {

struct Value {
  DWORD type = REG_NONE;
  std::vector<BYTE> data;
};

// The value as stored, whole however long it is; nothing when the key or
// value is missing or cannot be read.
std::optional<Value> Read(HKEY root, const std::wstring& path, const std::wstring& name);
// The same, telling a missing key or value (ERROR_FILE_NOT_FOUND) from one
// that is there but cannot be read (any other Win32 error code).
LONG Query(HKEY root, const std::wstring& path, const std::wstring& name, Value& out);
// Creates the key path as needed and writes a REG_SZ; a Win32 error code.
LONG WriteText(HKEY root, const std::wstring& path, const wchar_t* name, const std::wstring& text);
// Deletes a key with everything below it; a Win32 error code.
LONG DeleteTree(HKEY root, const std::wstring& path);
// How many values the key holds; nothing when it cannot be opened.
std::optional<DWORD> ValueCount(HKEY root, const std::wstring& path);
// The names of the key's values in index order; empty when it cannot be opened.
std::vector<std::wstring> ValueNames(HKEY root, const std::wstring& path);

}  // namespace tamberlux::RegistryRaw
