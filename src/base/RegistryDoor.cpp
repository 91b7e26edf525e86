#include "base/RegistryDoor.h"

#include <cstring>

#include "base/Text.h"
#include "base/VbError.h"

namespace tamberlux::RegistryDoor {

namespace {

// A null name for the default value, as the platform takes it.
const wchar_t* Name(const std::wstring& name) { return name.empty() ? nullptr : name.c_str(); }
const char* Name(const std::string& name) { return name.empty() ? nullptr : name.c_str(); }

// What a first read of a value's data has room for.
constexpr DWORD kFirstRead = 2048;

// A name holding a NUL would reach the platform cut short and name another key or value.
bool Whole(const std::wstring& text) { return text.find(L'\0') == std::wstring::npos; }

std::wstring RootName(HKEY root) {
  if (root == HKEY_CLASSES_ROOT) return L"HKEY_CLASSES_ROOT";
  if (root == HKEY_CURRENT_USER) return L"HKEY_CURRENT_USER";
  if (root == HKEY_LOCAL_MACHINE) return L"HKEY_LOCAL_MACHINE";
  if (root == HKEY_USERS) return L"HKEY_USERS";
  return L"an open key";
}

// Reads a value's data in one call when it fits a first buffer the size of
// most values; a larger one is read again at the size the registry gave, and
// again if it grew in between. Each call is a round trip to the registry.
template <class Call>
LONG ReadGrowing(Value& out, Call call) {
  DWORD room = kFirstRead;
  LONG rc = ERROR_MORE_DATA;
  for (int tries = 0; tries < 4 && rc == ERROR_MORE_DATA; ++tries) {
    out.data.resize(room);
    DWORD size = room;
    rc = call(out.data.data(), &size);
    if (rc == ERROR_SUCCESS) out.data.resize(size);
    room = size > room ? size : room * 2;
  }
  return rc;
}

}  // namespace

std::wstring Failure(HKEY root, const std::wstring& path, const std::wstring* name, LONG code) {
  std::wstring key = RootName(root) + (path.empty() ? L"" : L"\\" + path);
  std::wstring what = name ? L"the value \"" + *name + L"\" of " + key : L"the key " + key;
  wchar_t* message = nullptr;
  FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                 static_cast<DWORD>(code), 0, reinterpret_cast<wchar_t*>(&message), 0, nullptr);
  std::wstring said = message ? message : L"";
  if (message) LocalFree(message);
  while (!said.empty() && (said.back() == L'\n' || said.back() == L'\r' || said.back() == L' ')) said.pop_back();
  return what + L": error " + std::to_wstring(code) + (said.empty() ? L"" : L" (" + said + L")");
}

void Check(LONG code, HKEY root, const std::wstring& path, const std::wstring* name) {
  if (code != ERROR_SUCCESS) vb::Raise(kRegistryError, Failure(root, path, name, code));
}

LONG Open(HKEY parent, const std::wstring& path, REGSAM access, RegKey& key, Text text) {
  key.Reset();
  if (!Whole(path)) return ERROR_FILE_NOT_FOUND;
  if (text == Text::kAnsi) return RegOpenKeyExA(parent, ToAnsi(path).c_str(), 0, access, key.Put());
  return RegOpenKeyExW(parent, path.c_str(), 0, access, key.Put());
}

LONG Create(HKEY parent, const std::wstring& path, REGSAM access, RegKey& key, bool* created, Text text) {
  key.Reset();
  if (!Whole(path)) return ERROR_INVALID_PARAMETER;
  DWORD disposition = 0;
  const LONG rc = text == Text::kAnsi ? RegCreateKeyExA(parent, ToAnsi(path).c_str(), 0, nullptr, 0, access, nullptr,
                                                        key.Put(), &disposition)
                                      : RegCreateKeyExW(parent, path.c_str(), 0, nullptr, 0, access, nullptr,
                                                        key.Put(), &disposition);
  if (created) *created = rc == ERROR_SUCCESS && disposition == REG_CREATED_NEW_KEY;
  return rc;
}

LONG Query(HKEY key, const std::wstring& name, Value& out, Text text) {
  if (!Whole(name)) return ERROR_FILE_NOT_FOUND;
  const std::string ansi = ToAnsi(name);
  const auto query = [&](BYTE* data, DWORD* size) {
    return text == Text::kAnsi ? RegQueryValueExA(key, Name(ansi), nullptr, &out.type, data, size)
                               : RegQueryValueExW(key, Name(name), nullptr, &out.type, data, size);
  };
  return ReadGrowing(out, query);
}

LONG Read(HKEY root, const std::wstring& path, const std::wstring& name, Value& out, REGSAM extra) {
  RegKey key;
  const LONG rc = Open(root, path, KEY_QUERY_VALUE | extra, key);
  return rc != ERROR_SUCCESS ? rc : Query(key.Get(), name, out);
}

LONG Set(HKEY key, const std::wstring& name, DWORD type, const void* data, DWORD size, Text text) {
  if (!Whole(name)) return ERROR_INVALID_PARAMETER;
  const auto* bytes = static_cast<const BYTE*>(data);
  if (text == Text::kAnsi) return RegSetValueExA(key, Name(ToAnsi(name)), 0, type, bytes, size);
  // RegSetValueExW adds a terminator to text data that lacks one when the
  // character after the data is a NUL ("the caller forgot to count it"):
  // a non-NUL guard behind the data keeps the bytes exactly as given.
  std::vector<BYTE> guarded(bytes, bytes + size);
  guarded.insert(guarded.end(), {0xFF, 0xFF});
  return RegSetValueExW(key, Name(name), 0, type, guarded.data(), size);
}

LONG ValueAt(HKEY key, DWORD index, std::wstring& name, Value& out, Text text) {
  if (text == Text::kAnsi) {
    std::string buffer(kMaxValueName + 1, '\0');
    DWORD length = 0;
    const LONG rc = ReadGrowing(out, [&](BYTE* data, DWORD* size) {
      length = kMaxValueName + 1;
      return RegEnumValueA(key, index, buffer.data(), &length, nullptr, &out.type, data, size);
    });
    if (rc == ERROR_SUCCESS) name = FromAnsi(buffer.data(), length);
    return rc;
  }
  std::wstring buffer(kMaxValueName + 1, L'\0');
  DWORD length = 0;
  const LONG rc = ReadGrowing(out, [&](BYTE* data, DWORD* size) {
    length = kMaxValueName + 1;
    return RegEnumValueW(key, index, buffer.data(), &length, nullptr, &out.type, data, size);
  });
  if (rc == ERROR_SUCCESS) name.assign(buffer.data(), length);
  return rc;
}

LONG SubkeyAt(HKEY key, DWORD index, std::wstring& name) {
  wchar_t buffer[kMaxKeyName + 1];
  DWORD length = kMaxKeyName + 1;
  const LONG rc = RegEnumKeyExW(key, index, buffer, &length, nullptr, nullptr, nullptr, nullptr);
  if (rc == ERROR_SUCCESS) name.assign(buffer, length);
  return rc;
}

LONG ValueCount(HKEY key, DWORD& count) {
  return RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &count, nullptr, nullptr,
                          nullptr, nullptr);
}

LONG Flush(HKEY key) { return RegFlushKey(key); }

LONG DeleteKey(HKEY root, const std::wstring& path, Text text) {
  if (path.empty() || !Whole(path)) return ERROR_INVALID_PARAMETER;
  RegKey all;
  LONG rc = Open(root, L"", KEY_ALL_ACCESS, all, text);
  if (rc != ERROR_SUCCESS) return rc;
  return text == Text::kAnsi ? RegDeleteKeyA(all.Get(), ToAnsi(path).c_str()) : RegDeleteKeyW(all.Get(), path.c_str());
}

LONG DeleteTree(HKEY root, const std::wstring& path) {
  if (path.empty() || !Whole(path)) return ERROR_INVALID_PARAMETER;
  return RegDeleteTreeW(root, path.c_str());
}

LONG DeleteValue(HKEY key, const std::wstring& name, Text text) {
  if (!Whole(name)) return ERROR_FILE_NOT_FOUND;
  return text == Text::kAnsi ? RegDeleteValueA(key, ToAnsi(name).c_str()) : RegDeleteValueW(key, name.c_str());
}

std::optional<std::wstring> AsText(const Value& v) {
  if (v.type == REG_DWORD && v.data.size() == 4) {
    DWORD d;
    std::memcpy(&d, v.data.data(), 4);
    return std::to_wstring(d);
  }
  if (v.type != REG_SZ && v.type != REG_EXPAND_SZ) return std::nullopt;
  std::wstring text(reinterpret_cast<const wchar_t*>(v.data.data()), v.data.size() / sizeof(wchar_t));
  while (!text.empty() && text.back() == L'\0') text.pop_back();
  return text;
}

}  // namespace tamberlux::RegistryDoor
