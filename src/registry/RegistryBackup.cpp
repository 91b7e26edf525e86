#include "registry/RegistryBackup.h"

#include <algorithm>
#include <cstring>
#include <cwchar>

#include "base/ComTypes.h"
#include "base/VbError.h"
#include "errortrap/ErrorLog.h"

namespace tamberlux::RegistryBackup {

namespace {

constexpr wchar_t kHeader[] = L"Windows Registry Editor Version 5.00";
constexpr wchar_t kRoot[] = L"HKEY_CURRENT_USER";
constexpr wchar_t kPattern[] = L"Backup-*.reg";

struct Value {
  std::wstring name;
  DWORD type = REG_NONE;
  std::vector<BYTE> data;
};
struct Key {
  std::wstring path;
  std::vector<Value> values;
};

[[noreturn]] void Refuse(const std::wstring& why) { vb::Raise(vb::kInvalidCall, why); }

std::wstring Quoted(const std::wstring& text) {
  std::wstring out = L"\"";
  for (wchar_t c : text) {
    if (c == L'\\' || c == L'"') out += L'\\';
    out += c;
  }
  return out + L"\"";
}

std::wstring Hex(const std::vector<BYTE>& data) {
  std::wstring out;
  wchar_t pair[4];
  for (size_t i = 0; i < data.size(); ++i) {
    swprintf(pair, 4, L"%02x", data[i]);
    out += (i ? L"," : L"") + std::wstring(pair);
  }
  return out;
}

// A REG_SZ is written as text only when that gives back the same bytes: one
// terminating NUL and none inside.
bool PlainText(const Value& v) {
  if (v.type != REG_SZ || v.data.size() < 2 || v.data.size() % 2) return false;
  const auto* w = reinterpret_cast<const wchar_t*>(v.data.data());
  const size_t n = v.data.size() / 2;
  if (w[n - 1] != L'\0') return false;
  for (size_t i = 0; i + 1 < n; ++i)
    if (w[i] == L'\0' || w[i] == L'\r' || w[i] == L'\n') return false;
  return true;
}

std::wstring ValueLine(const Value& v) {
  std::wstring line = v.name.empty() ? L"@=" : Quoted(v.name) + L"=";
  if (PlainText(v)) return line + Quoted(reinterpret_cast<const wchar_t*>(v.data.data()));
  if (v.type == REG_DWORD && v.data.size() == 4) {
    DWORD d;
    std::memcpy(&d, v.data.data(), 4);
    wchar_t text[16];
    swprintf(text, 16, L"dword:%08lx", static_cast<unsigned long>(d));
    return line + text;
  }
  if (v.type == REG_BINARY) return line + L"hex:" + Hex(v.data);
  wchar_t type[16];
  swprintf(type, 16, L"hex(%lx):", static_cast<unsigned long>(v.type));
  return line + type + Hex(v.data);
}

// The key and every key below it, depth first, values in index order.
void Walk(const std::wstring& path, std::vector<Key>& keys) {
  RegKey key;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, KEY_READ, key.Put()) != ERROR_SUCCESS)
    Refuse(L"the key " + path + L" cannot be read");
  Key k{path, {}};
  for (DWORD i = 0;; ++i) {
    wchar_t name[16384];
    DWORD nameLength = 16384, size = 0;
    Value v;
    LONG rc = RegEnumValueW(key.Get(), i, name, &nameLength, nullptr, &v.type, nullptr, &size);
    if (rc == ERROR_NO_MORE_ITEMS) break;
    if (rc != ERROR_SUCCESS) Refuse(L"a value of " + path + L" cannot be read");
    v.name.assign(name, nameLength);
    v.data.resize(size);
    nameLength = 16384;
    if (RegEnumValueW(key.Get(), i, name, &nameLength, nullptr, &v.type, v.data.data(), &size) != ERROR_SUCCESS)
      Refuse(L"a value of " + path + L" cannot be read");
    v.data.resize(size);
    k.values.push_back(std::move(v));
  }
  keys.push_back(std::move(k));
  std::vector<std::wstring> subkeys;
  for (DWORD i = 0;; ++i) {
    wchar_t name[256];
    DWORD length = 256;
    if (RegEnumKeyExW(key.Get(), i, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
    subkeys.emplace_back(name, length);
  }
  for (const auto& sub : subkeys) Walk(path + L"\\" + sub, keys);
}

std::wstring Text(const std::vector<Key>& keys) {
  std::wstring out = std::wstring(kHeader) + L"\r\n";
  for (const Key& k : keys) {
    out += L"\r\n[" + std::wstring(kRoot) + L"\\" + k.path + L"]\r\n";
    for (const Value& v : k.values) out += ValueLine(v) + L"\r\n";
  }
  return out;
}

// Reads a quoted text at `at`; false when there is none.
bool ReadQuoted(const std::wstring& line, size_t& at, std::wstring& out) {
  if (at >= line.size() || line[at] != L'"') return false;
  for (++at; at < line.size(); ++at) {
    wchar_t c = line[at];
    if (c == L'"') return ++at, true;
    if (c == L'\\' && at + 1 < line.size()) c = line[++at];
    out += c;
  }
  return false;
}

std::vector<BYTE> ReadHex(const std::wstring& text, const std::wstring& where) {
  std::vector<BYTE> data;
  size_t at = 0;
  while (at < text.size()) {
    wchar_t* end = nullptr;
    const unsigned long b = std::wcstoul(text.c_str() + at, &end, 16);
    const size_t used = static_cast<size_t>(end - (text.c_str() + at));
    if (used == 0 || used > 2 || b > 255) Refuse(L"bad hexadecimal data in " + where);
    data.push_back(static_cast<BYTE>(b));
    at += used;
    if (at < text.size() && text[at++] != L',') Refuse(L"bad hexadecimal data in " + where);
  }
  return data;
}

Value ParseValue(const std::wstring& line, const std::wstring& where) {
  Value v;
  size_t at = 0;
  if (line[0] == L'@') {
    at = 1;
  } else if (!ReadQuoted(line, at, v.name)) {
    Refuse(L"a value line without a name in " + where);
  }
  if (at >= line.size() || line[at++] != L'=') Refuse(L"a value line without \"=\" in " + where);
  const std::wstring data = line.substr(at);
  if (!data.empty() && data[0] == L'"') {
    std::wstring text;
    size_t p = 0;
    if (!ReadQuoted(data, p, text) || p != data.size()) Refuse(L"an unterminated text in " + where);
    v.type = REG_SZ;
    const auto* b = reinterpret_cast<const BYTE*>(text.c_str());
    v.data.assign(b, b + (text.size() + 1) * sizeof(wchar_t));
  } else if (data.rfind(L"dword:", 0) == 0 && data.size() == 14) {
    const DWORD d = std::wcstoul(data.c_str() + 6, nullptr, 16);
    v.type = REG_DWORD;
    v.data.resize(4);
    std::memcpy(v.data.data(), &d, 4);
  } else if (data.rfind(L"hex:", 0) == 0) {
    v.type = REG_BINARY;
    v.data = ReadHex(data.substr(4), where);
  } else if (data.rfind(L"hex(", 0) == 0 && data.find(L"):") != std::wstring::npos) {
    const size_t close = data.find(L"):");
    v.type = std::wcstoul(data.substr(4, close - 4).c_str(), nullptr, 16);
    v.data = ReadHex(data.substr(close + 2), where);
  } else {
    Refuse(L"data of an unknown form in " + where);
  }
  return v;
}

std::vector<Key> Parse(const std::wstring& text) {
  std::vector<std::wstring> lines;
  size_t at = 0;
  while (at <= text.size()) {
    size_t end = text.find(L'\n', at);
    if (end == std::wstring::npos) end = text.size();
    std::wstring line = text.substr(at, end - at);
    if (!line.empty() && line.back() == L'\r') line.pop_back();
    // A line ending in a backslash goes on on the next (regedit wraps hex).
    if (!lines.empty() && !lines.back().empty() && lines.back().back() == L'\\' &&
        lines.back().find(L"=hex") != std::wstring::npos) {
      lines.back().pop_back();
      line.erase(0, line.find_first_not_of(L' '));
      lines.back() += line;
    } else {
      lines.push_back(line);
    }
    at = end + 1;
  }
  if (lines.empty() || lines[0] != kHeader) Refuse(L"not a registry backup (no \"" + std::wstring(kHeader) + L"\" line)");
  std::vector<Key> keys;
  const std::wstring prefix = L"[" + std::wstring(kRoot) + L"\\";
  for (size_t i = 1; i < lines.size(); ++i) {
    const std::wstring& line = lines[i];
    const std::wstring where = L"line " + std::to_wstring(i + 1);
    if (line.empty() || line[0] == L';') continue;
    if (line[0] == L'[') {
      if (line.rfind(prefix, 0) != 0 || line.back() != L']' || line.size() <= prefix.size() + 1)
        Refuse(L"only keys under HKEY_CURRENT_USER are restored (" + where + L")");
      keys.push_back({line.substr(prefix.size(), line.size() - prefix.size() - 1), {}});
      continue;
    }
    if (keys.empty()) Refuse(L"a value before any key (" + where + L")");
    keys.back().values.push_back(ParseValue(line, where));
  }
  return keys;
}

std::wstring Folder() {
  const std::wstring folder = vbw::ErrorLog::Folder();
  if (folder.empty()) Refuse(L"there is no local application data folder");
  return folder;
}

}  // namespace

std::optional<std::wstring> Export(const std::wstring& path) {
  RegKey key;
  if (path.empty() || path.find(L'\0') != std::wstring::npos ||
      RegOpenKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, KEY_READ, key.Put()) != ERROR_SUCCESS)
    return std::nullopt;
  std::vector<Key> keys;
  Walk(path, keys);
  return Text(keys);
}

std::vector<std::wstring> Backups() {
  const std::wstring folder = vbw::ErrorLog::Folder();
  std::vector<std::wstring> files;
  if (folder.empty()) return files;
  WIN32_FIND_DATAW found;
  HANDLE find = FindFirstFileW((folder + kPattern).c_str(), &found);
  if (find == INVALID_HANDLE_VALUE) return files;
  do files.push_back(folder + found.cFileName);
  while (FindNextFileW(find, &found));
  FindClose(find);
  std::sort(files.begin(), files.end());
  return files;
}

std::optional<std::wstring> Backup(const std::wstring& path, const std::wstring& label) {
  const auto text = Export(path);
  if (!text) return std::nullopt;
  // Named by the time in 100 ns steps, so names sort oldest first.
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  wchar_t stamp[32];
  swprintf(stamp, 32, L"%08lX%08lX", static_cast<unsigned long>(now.dwHighDateTime),
           static_cast<unsigned long>(now.dwLowDateTime));
  const std::wstring file = Folder() + L"Backup-" + stamp + L"-" + label + L".reg";
  const std::wstring partial = file + L".partial";
  {
    Handle out(CreateFileW(partial.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!out) Refuse(L"the backup " + file + L" cannot be written");
    const std::wstring content = L"\xFEFF" + *text;
    DWORD written = 0;
    const DWORD bytes = static_cast<DWORD>(content.size() * sizeof(wchar_t));
    if (!WriteFile(out.Get(), content.data(), bytes, &written, nullptr) || written != bytes ||
        !FlushFileBuffers(out.Get())) {
      out.Reset();
      DeleteFileW(partial.c_str());
      Refuse(L"the backup " + file + L" cannot be written");
    }
  }
  if (!MoveFileExW(partial.c_str(), file.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    DeleteFileW(partial.c_str());
    Refuse(L"the backup " + file + L" cannot be written");
  }
  auto all = Backups();
  for (size_t i = 0; i + kKept < all.size(); ++i) DeleteFileW(all[i].c_str());
  return file;
}

std::vector<std::wstring> Restore(const std::wstring& file) {
  Handle in(CreateFileW(file.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                        nullptr));
  if (!in) Refuse(L"the backup " + file + L" cannot be opened");
  std::string bytes;
  char buffer[65536];
  DWORD got = 0;
  while (ReadFile(in.Get(), buffer, sizeof(buffer), &got, nullptr) && got) bytes.append(buffer, got);
  if (bytes.size() < 2 || bytes.size() % 2 || static_cast<unsigned char>(bytes[0]) != 0xFF ||
      static_cast<unsigned char>(bytes[1]) != 0xFE)
    Refuse(L"not a registry backup (not UTF-16 text)");
  const std::wstring text(reinterpret_cast<const wchar_t*>(bytes.data()) + 1, bytes.size() / 2 - 1);
  const std::vector<Key> keys = Parse(text);

  std::vector<std::wstring> changes;
  for (const Key& k : keys) {
    RegKey key;
    DWORD disposition = 0;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, k.path.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, key.Put(),
                        &disposition) != ERROR_SUCCESS)
      Refuse(L"the key " + k.path + L" cannot be written");
    if (disposition == REG_CREATED_NEW_KEY) changes.push_back(L"created key HKEY_CURRENT_USER\\" + k.path);
    for (const Value& v : k.values) {
      // RegSetValueExW adds a terminator to text data that lacks one when the
      // character after the data is a NUL ("the caller forgot to count it"):
      // a non-NUL guard behind the data keeps the bytes exactly as saved.
      std::vector<BYTE> guarded = v.data;
      guarded.insert(guarded.end(), {0xFF, 0xFF});
      if (RegSetValueExW(key.Get(), v.name.empty() ? nullptr : v.name.c_str(), 0, v.type, guarded.data(),
                         static_cast<DWORD>(v.data.size())) != ERROR_SUCCESS)
        Refuse(L"the value " + v.name + L" of " + k.path + L" cannot be written");
      changes.push_back(L"wrote value " + (v.name.empty() ? std::wstring(L"(default)") : Quoted(v.name)) + L" of " +
                        k.path);
    }
  }
  return changes;
}

}  // namespace tamberlux::RegistryBackup
