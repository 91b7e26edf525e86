// The .reg text of registry keys ("Windows Registry Editor Version 5.00",
// UTF-16 with a byte-order mark): written so that every name and byte comes
// back exactly, and read back only when it can be read exactly. No registry
// access here: RegistryBackup walks and writes the keys.
#pragma once

#include <windows.h>

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "base/RegistryDoor.h"

namespace tamberlux::RegFile {

// What the registry takes: a key name of 255 characters, a value name of
// 16,383, a key path (below its root) of 32,767 (the most a counted string
// of the platform holds; a longer one wraps round to a shorter key).
constexpr size_t kMaxKeyName = RegistryDoor::kMaxKeyName;
constexpr size_t kMaxValueName = RegistryDoor::kMaxValueName;
constexpr size_t kMaxKeyPath = 32767;
// How many characters of an offending line a refusal quotes.
constexpr size_t kShownLine = 200;

struct Value {
  std::wstring name;
  DWORD type = REG_NONE;
  std::vector<BYTE> data;
  bool operator==(const Value&) const = default;
};
// A key, its path relative to HKEY_CURRENT_USER, and its values in index order.
struct Key {
  std::wstring path;
  std::vector<Value> values;
  bool operator==(const Key&) const = default;
};

// Why a key name cannot go in a key line (a CR, LF or NUL in it); empty when it can.
std::wstring KeyNameProblem(const std::wstring& name);

// The file's bytes for the keys under HKEY_CURRENT_USER: the byte-order mark,
// the header, a line marking it the product's backup, the keys and values,
// and a last comment line holding the length and SHA-256 of all before it.
// A value name holding a CR, LF or NUL is written with "\r", "\n" and "\0"
// escapes; text that would not come back from "..." goes as hex(1).
std::string Write(const std::vector<Key>& keys);

// A line of a .reg file: its number (from 1) and its text, continued hex
// lines joined.
struct Line {
  size_t number = 0;
  std::wstring text;
};
// A key line (its path relative to HKEY_CURRENT_USER) or a value line (its value).
struct Entry {
  Line line;
  bool isKey = false;
  std::wstring path;
  Value value;
};

// Reads a .reg file's bytes, the whole file checked, handing each key and
// value to `take` in file order (which may refuse it). Refused (vb::kInvalidCall,
// the reason and, where there is one, the first offending line's number and
// start) for anything it cannot read exactly: text neither UTF-16 with its
// byte-order mark nor ANSI, a NUL, no header, a last line without its line
// end, a product backup whose length or SHA-256 does not match, an unknown
// escape, a hex byte that is not two digits, a dangling comma, a continued
// hex line running into a comment, a key, a blank line or the end, a key
// outside HKEY_CURRENT_USER, a key path or value name longer than the
// registry takes.
void Read(const std::string& bytes, const std::function<void(const Entry&)>& take);

// Refuses at a line of the file: the reason, the line's number and the start of its text.
[[noreturn]] void RefuseLine(const std::wstring& why, const Line& line);

// The same key path or value name, as the registry compares them: regardless of case.
bool SameName(const std::wstring& a, const std::wstring& b);

// The value name as a "..." text with its escapes.
std::wstring Quoted(const std::wstring& text);

}  // namespace tamberlux::RegFile
