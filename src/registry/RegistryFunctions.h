// The component's traced way to the registry: six procedures, each opening and
// closing its key within the call, over the one door (base/RegistryDoor).
// Text crosses in the ANSI code page, one character per data byte. The
// registry's own failures never reach the caller: each is skipped, naming the
// key, the value and the Win32 code in the trap's "ignored" trace (a missing
// key or value is no failure: it reads as the empty text).
#pragma once

#include <windows.h>
#include <oaidl.h>

#include <cstdint>
#include <string>

#include "base/ComTypes.h"
#include "base/Text.h"

namespace tamberlux::RegistryFunctions {

constexpr int32_t REG_SZ_TYPE = 1;
constexpr int32_t REG_BINARY_TYPE = 3;
constexpr int32_t REG_DWORD_TYPE = 4;
constexpr DWORD kBufferSize = 2048;

// The value's data without its last byte (the NUL of a REG_SZ); the empty
// text when the key or value is missing or the data does not fit 2048 bytes.
std::wstring ReadRegistryString(HKEY Group, const std::wstring& section, const std::wstring& key);
// As ReadRegistryString, but a REG_DWORD reads as a number of at least three
// digits ("001") and a REG_BINARY as upper-case hex pairs ("0AFF").
std::wstring ReadRegistry(HKEY Group, const std::wstring& section, const std::wstring& key);
// Type 4 stores a REG_DWORD; anything else stores REG_SZ, with a terminating
// NUL only for type 1. Creates the key path as needed.
void WriteRegistry(HKEY Group, const std::wstring& section, const std::wstring& key, int32_t ValType,
                   const VARIANT& value);
// A list's key held open for one walk of its values, opened as each read
// would open it; the reads of the walk pass it and skip their own open and
// close. Opens nothing for a section that the reads would refuse.
class WalkKey {
 public:
  WalkKey(HKEY Group, const std::wstring& section);
  HKEY Get() const { return key_.Get(); }

 private:
  RegKey key_;
};
// The name of the value at index Idx (empty past the end); its data in value.
std::wstring ReadRegistryStringGetAll(HKEY Group, const std::wstring& section, int32_t& Idx, std::wstring& value,
                                      const WalkKey* walk = nullptr);
// Deletes a key without sub-keys, with its values.
void DeleteSubkey(HKEY Group, const std::wstring& section);
void DeleteValue(HKEY Group, const std::wstring& section, const std::wstring& key);

using ::tamberlux::FromAnsi;
using ::tamberlux::ToAnsi;

}  // namespace tamberlux::RegistryFunctions
