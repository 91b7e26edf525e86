#include "registry/RegistryBackup.h"

#include <algorithm>
#include <cstring>
#include <cwchar>

#include "base/ComTypes.h"
#include "base/Text.h"
#include "base/VbError.h"
#include "errortrap/ErrorLog.h"
#include "registry/WordKeys.h"

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

// --- Reading a backup back: every check before anything is written. ---

// A line of the file: its number (from 1), its text, and what makes its text
// unusable, if anything.
struct Line {
  size_t number = 0;
  std::wstring text;
  const wchar_t* problem = nullptr;
};

// Refuses the file at a line: the reason, the line's number and the start of its text.
[[noreturn]] void RefuseLine(const std::wstring& why, const Line& line) {
  std::wstring text = line.text.substr(0, kShownLine);
  if (line.text.size() > kShownLine) text += L"...";
  Refuse(why + L" (line " + std::to_wstring(line.number) + L"): " + text);
}

// The file's bytes. A file larger than a backup can be is refused before it is read.
std::string FileBytes(const std::wstring& file) {
  Handle in(CreateFileW(file.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                        nullptr));
  if (!in) {
    const DWORD error = GetLastError();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) Refuse(L"there is no file " + file);
    Refuse(L"the file " + file + L" cannot be opened (error " + std::to_wstring(error) + L")");
  }
  LARGE_INTEGER size{};
  if (GetFileType(in.Get()) != FILE_TYPE_DISK || !GetFileSizeEx(in.Get(), &size)) Refuse(file + L" is not a file");
  const std::wstring tooLarge = L"the file is larger than a backup can be (at most " +
                                std::to_wstring(kMaxFileBytes) + L" bytes)";
  if (static_cast<ULONGLONG>(size.QuadPart) > kMaxFileBytes) Refuse(tooLarge);
  // One byte more than the limit is asked for: a file that grew is still refused.
  std::string bytes(kMaxFileBytes + 1, '\0');
  size_t got = 0;
  for (DWORD n = 0; got < bytes.size(); got += n)
    if (!ReadFile(in.Get(), bytes.data() + got, static_cast<DWORD>(bytes.size() - got), &n, nullptr) || n == 0) break;
  if (got > kMaxFileBytes) Refuse(tooLarge);
  bytes.resize(got);
  return bytes;
}

// The file's lines, without their line ends: UTF-16 text after its byte-order
// mark, or else ANSI text converted with the ANSI code page. A line with a NUL
// or with bytes the code page does not take keeps its problem.
std::vector<Line> Lines(const std::string& bytes) {
  std::vector<Line> lines;
  const auto add = [&](std::wstring text, const wchar_t* problem) {
    if (!text.empty() && text.back() == L'\r') text.pop_back();
    if (!problem && text.find(L'\0') != std::wstring::npos) problem = L"a NUL character";
    lines.push_back({lines.size() + 1, std::move(text), problem});
  };
  if (bytes.size() >= 2 && bytes[0] == '\xFF' && bytes[1] == '\xFE') {
    if (bytes.size() % 2) Refuse(L"not a registry backup (UTF-16 text of an odd number of bytes)");
    std::wstring text(bytes.size() / 2 - 1, L'\0');
    std::memcpy(text.data(), bytes.data() + 2, bytes.size() - 2);
    for (size_t at = 0, end = 0; end != std::wstring::npos; at = end + 1) {
      end = text.find(L'\n', at);
      add(text.substr(at, end == std::wstring::npos ? end : end - at), nullptr);
    }
    return lines;
  }
  for (size_t at = 0, end = 0; end != std::string::npos; at = end + 1) {
    end = bytes.find('\n', at);
    const std::string piece = bytes.substr(at, end == std::string::npos ? end : end - at);
    std::wstring text(piece.size(), L'\0');
    const int n = piece.empty() ? 0
                                : MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, piece.data(),
                                                      static_cast<int>(piece.size()), text.data(),
                                                      static_cast<int>(text.size()));
    if (piece.find('\0') != std::string::npos)
      add(FromAnsi(piece.data(), piece.size()),
          L"a NUL byte: neither UTF-16 text with its byte-order mark nor ANSI text");
    else if (!piece.empty() && n == 0)
      add(FromAnsi(piece.data(), piece.size()), L"bytes that are not text in the ANSI code page");
    else
      add(text.substr(0, n), nullptr);
  }
  return lines;
}

// The same key path or value name, as the registry compares them: regardless of case.
bool Same(const std::wstring& a, const std::wstring& b) {
  return CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(), static_cast<int>(b.size()), TRUE) ==
         CSTR_EQUAL;
}
bool StartsWith(const std::wstring& text, const std::wstring& start) {
  return text.size() >= start.size() && Same(text.substr(0, start.size()), start);
}

// The key a key line names, relative to HKEY_CURRENT_USER, when a backup can
// hold it: Word's Data key for a version of Word's shape or a key below it,
// or the product's settings section (`section`). Refused otherwise.
std::wstring KeyPath(const Line& line, bool& section) {
  const std::wstring& t = line.text;
  const std::wstring root = std::wstring(kRoot) + L"\\";
  if (t.size() < 2 || t.back() != L']') RefuseLine(L"a key line without its closing \"]\"", line);
  if (!StartsWith(t.substr(1), root)) RefuseLine(L"a key outside HKEY_CURRENT_USER", line);
  const std::wstring path = t.substr(1 + root.size(), t.size() - 2 - root.size());
  for (size_t at = 0, end = 0; end != std::wstring::npos; at = end + 1) {
    end = path.find(L'\\', at);
    const std::wstring part = path.substr(at, end == std::wstring::npos ? end : end - at);
    if (part.empty() || part == L"." || part == L".." || part.size() > 255)
      RefuseLine(L"a key path with an empty, \".\", \"..\" or over-long part", line);
  }
  const std::wstring office = WordKeys::OfficeKey(L"");
  if (StartsWith(path, office)) {
    const size_t end = path.find(L'\\', office.size());
    const std::wstring version = path.substr(office.size(), end == std::wstring::npos ? end : end - office.size());
    const std::wstring data = WordKeys::DataKey(version);
    if (Same(path, data) || StartsWith(path, data + L"\\")) {
      const std::wstring problem = WordKeys::WordVersionProblem(version);
      if (!problem.empty()) RefuseLine(L"Word's Data key for a version that is not Word's (" + problem + L")", line);
      section = false;
      return path;
    }
  }
  const std::wstring software = WordKeys::ProductSection(L"");
  if (StartsWith(path, software) && path.find(L'\\', software.size()) == std::wstring::npos) {
    const std::wstring problem = WordKeys::ProductNameProblem(path.substr(software.size()));
    if (!problem.empty()) RefuseLine(L"a settings section the product cannot have (the name " + problem + L")", line);
    section = true;
    return path;
  }
  RefuseLine(L"a key other than Word's Data key and the product's settings section", line);
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

// The number of 1 to `most` hexadecimal digits; nothing for anything else.
std::optional<DWORD> HexNumber(const std::wstring& digits, size_t most) {
  if (digits.empty() || digits.size() > most) return std::nullopt;
  DWORD n = 0;
  for (wchar_t c : digits) {
    const int d = c >= L'0' && c <= L'9' ? c - L'0' : c >= L'a' && c <= L'f' ? c - L'a' + 10
                : c >= L'A' && c <= L'F' ? c - L'A' + 10 : -1;
    if (d < 0) return std::nullopt;
    n = n * 16 + static_cast<DWORD>(d);
  }
  return n;
}

std::vector<BYTE> ReadHex(const std::wstring& text, const Line& line) {
  std::vector<BYTE> data;
  for (size_t at = 0, end = 0; at < text.size(); at = end + 1) {
    end = text.find(L',', at);
    const auto b = HexNumber(text.substr(at, end == std::wstring::npos ? end : end - at), 2);
    if (!b) RefuseLine(L"bad hexadecimal data", line);
    data.push_back(static_cast<BYTE>(*b));
    if (end == std::wstring::npos) break;
  }
  return data;
}

Value ParseValue(const Line& line) {
  const std::wstring& t = line.text;
  Value v;
  size_t at = 0;
  if (t[0] == L'@') {
    at = 1;
  } else if (!ReadQuoted(t, at, v.name)) {
    RefuseLine(L"a value line without a name", line);
  }
  if (v.name.size() > 16383) RefuseLine(L"a value name longer than the registry takes", line);
  if (at >= t.size() || t[at++] != L'=') RefuseLine(L"a value line without \"=\"", line);
  const std::wstring data = t.substr(at);
  if (!data.empty() && data[0] == L'"') {
    std::wstring text;
    size_t p = 0;
    if (!ReadQuoted(data, p, text) || p != data.size()) RefuseLine(L"an unterminated text", line);
    v.type = REG_SZ;
    const auto* b = reinterpret_cast<const BYTE*>(text.c_str());
    v.data.assign(b, b + (text.size() + 1) * sizeof(wchar_t));
  } else if (data.rfind(L"dword:", 0) == 0) {
    const auto d = HexNumber(data.substr(6), 8);
    if (!d) RefuseLine(L"a dword that is not one to eight hexadecimal digits", line);
    v.type = REG_DWORD;
    v.data.resize(4);
    std::memcpy(v.data.data(), &*d, 4);
  } else if (data.rfind(L"hex:", 0) == 0) {
    v.type = REG_BINARY;
    v.data = ReadHex(data.substr(4), line);
  } else if (const size_t close = data.find(L"):"); data.rfind(L"hex(", 0) == 0 && close != std::wstring::npos) {
    const auto type = HexNumber(data.substr(4, close - 4), 8);
    if (!type) RefuseLine(L"a value type that is not hexadecimal", line);
    v.type = *type;
    v.data = ReadHex(data.substr(close + 2), line);
  } else {
    RefuseLine(L"data of an unknown form", line);
  }
  return v;
}

// Every key and value of the file, the whole file checked; refused at its
// first offending line.
std::vector<Key> Parse(const std::vector<Line>& physical) {
  // A hex value ending in a backslash goes on on the next line (regedit wraps hex).
  std::vector<Line> lines;
  for (const Line& line : physical) {
    Line* last = lines.empty() ? nullptr : &lines.back();
    if (last && !last->text.empty() && last->text.back() == L'\\' && last->text.find(L"=hex") != std::wstring::npos) {
      last->text.pop_back();
      last->text += line.text.substr(std::min(line.text.find_first_not_of(L' '), line.text.size()));
      if (!last->problem) last->problem = line.problem;
    } else {
      lines.push_back(line);
    }
  }
  std::vector<Key> keys;
  bool section = false;
  for (const Line& line : lines) {
    if (line.problem) RefuseLine(line.problem, line);
    if (line.number == 1) {
      if (line.text != kHeader) Refuse(L"not a registry backup (no \"" + std::wstring(kHeader) + L"\" line)");
      continue;
    }
    if (line.text.empty() || line.text[0] == L';') continue;
    if (line.text[0] == L'[') {
      keys.push_back({KeyPath(line, section), {}});
      continue;
    }
    if (keys.empty()) RefuseLine(L"a value before any key", line);
    Value v = ParseValue(line);
    if (section && std::none_of(std::begin(WordKeys::kProductValues), std::end(WordKeys::kProductValues),
                                [&](const wchar_t* name) { return Same(v.name, name); }))
      RefuseLine(L"a value the product's settings section does not hold", line);
    keys.back().values.push_back(std::move(v));
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
  FindHandle find(FindFirstFileW((folder + kPattern).c_str(), &found));
  if (!find) return files;
  do files.push_back(folder + found.cFileName);
  while (FindNextFileW(find.Get(), &found));
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
  const std::wstring content = L"\xFEFF" + *text;
  if (content.size() * sizeof(wchar_t) > kMaxFileBytes)
    Refuse(L"the backup of " + path + L" would be larger than a restore reads (" + std::to_wstring(kMaxFileBytes) +
           L" bytes)");
  {
    Handle out(CreateFileW(partial.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!out) Refuse(L"the backup " + file + L" cannot be written");
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
  const std::vector<Key> keys = Parse(Lines(FileBytes(file)));

  std::vector<std::wstring> changes;
  for (const Key& k : keys) {
    RegKey key;
    DWORD disposition = 0;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, k.path.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, key.Put(),
                        &disposition) != ERROR_SUCCESS)
      vb::Raise(kNotWritten, L"the key " + k.path + L" cannot be written");
    if (disposition == REG_CREATED_NEW_KEY) changes.push_back(L"created key HKEY_CURRENT_USER\\" + k.path);
    for (const Value& v : k.values) {
      // RegSetValueExW adds a terminator to text data that lacks one when the
      // character after the data is a NUL ("the caller forgot to count it"):
      // a non-NUL guard behind the data keeps the bytes exactly as saved.
      std::vector<BYTE> guarded = v.data;
      guarded.insert(guarded.end(), {0xFF, 0xFF});
      if (RegSetValueExW(key.Get(), v.name.empty() ? nullptr : v.name.c_str(), 0, v.type, guarded.data(),
                         static_cast<DWORD>(v.data.size())) != ERROR_SUCCESS)
        vb::Raise(kNotWritten, L"the value " + v.name + L" of " + k.path + L" cannot be written");
      changes.push_back(L"wrote value " + (v.name.empty() ? std::wstring(L"(default)") : Quoted(v.name)) + L" of " +
                        k.path);
    }
  }
  return changes;
}

}  // namespace tamberlux::RegistryBackup
