// The one door to the Windows registry: every registry call of the component
// and its tools is made here. Untraced and typed: a value is read whole with
// its type, written, enumerated and deleted; each call answers its Win32 code,
// and Failure() turns a code into a text naming the key, the value and the
// code. RegistryFunctions (registry/) is the traced form the component's
// procedures use on top of it; the error trap's start-up, which sits below
// the traced procedures, uses it directly.
#pragma once

#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "base/ComTypes.h"

namespace tamberlux::RegistryDoor {

// The longest key name (one part of a key path) and value name the registry takes.
constexpr DWORD kMaxKeyName = 255;
constexpr DWORD kMaxValueName = 16383;
// The error a door failure raises as (Visual Basic's "Path/File access error").
constexpr int32_t kRegistryError = 75;

struct Value {
  DWORD type = REG_NONE;
  std::vector<BYTE> data;
};

// How names and text data cross: wide, or in the ANSI code page (one data
// byte a character, as the platform's ANSI forms convert text types).
enum class Text { kWide, kAnsi };

// "the value NAME of ROOT\PATH: error CODE (what Windows says)" (the key alone without a name).
std::wstring Failure(HKEY root, const std::wstring& path, const std::wstring* name, LONG code);
// Raises kRegistryError with Failure()'s text unless `code` is ERROR_SUCCESS.
void Check(LONG code, HKEY root, const std::wstring& path, const std::wstring* name = nullptr);

// Opens or creates the key `path` below `parent` (an empty path: the parent itself).
LONG Open(HKEY parent, const std::wstring& path, REGSAM access, RegKey& key, Text text = Text::kWide);
LONG Create(HKEY parent, const std::wstring& path, REGSAM access, RegKey& key, bool* created = nullptr,
            Text text = Text::kWide);

// The value (the default value for an empty name) whole, however long, with its type.
LONG Query(HKEY key, const std::wstring& name, Value& out, Text text = Text::kWide);
// The same, the key opened and closed within the call (`extra` access such as KEY_WOW64_64KEY).
LONG Read(HKEY root, const std::wstring& path, const std::wstring& name, Value& out, REGSAM extra = 0);
LONG Set(HKEY key, const std::wstring& name, DWORD type, const void* data, DWORD size, Text text = Text::kWide);
// The value at `index` in the key's index order: its name and, whole, its data.
LONG ValueAt(HKEY key, DWORD index, std::wstring& name, Value& out, Text text = Text::kWide);
// The name of the sub-key at `index`.
LONG SubkeyAt(HKEY key, DWORD index, std::wstring& name);
LONG ValueCount(HKEY key, DWORD& count);
LONG Flush(HKEY key);

// Deletes the key `path` below `root` when it has no sub-keys (the platform
// refuses one that has), its values with it; the root is opened with full access.
LONG DeleteKey(HKEY root, const std::wstring& path, Text text = Text::kWide);
// Deletes the key with everything below it.
LONG DeleteTree(HKEY root, const std::wstring& path);
LONG DeleteValue(HKEY key, const std::wstring& name, Text text = Text::kWide);

// A value's data as a person reads it: a REG_SZ or REG_EXPAND_SZ without its
// trailing NULs, a four-byte REG_DWORD in decimal; nothing for anything else.
std::optional<std::wstring> AsText(const Value& v);

}  // namespace tamberlux::RegistryDoor
