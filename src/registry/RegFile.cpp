#include "registry/RegFile.h"

#include <wincrypt.h>

#include <algorithm>
#include <cstring>
#include <cwchar>
#include <optional>

#include "base/Text.h"
#include "base/VbError.h"

namespace tamberlux::RegFile {

namespace {

constexpr wchar_t kHeader[] = L"Windows Registry Editor Version 5.00";
constexpr wchar_t kRoot[] = L"HKEY_CURRENT_USER";
// The product's backups say so on their second line, and end with their check.
constexpr wchar_t kMarker[] = L"; Tamberlux backup: its last line holds the length and SHA-256 of all before it";
constexpr wchar_t kCheck[] = L"; Tamberlux check: ";
constexpr size_t kSha256Bytes = 32;

[[noreturn]] void Refuse(const std::wstring& why) { vb::Raise(vb::kInvalidCall, why); }

// The SHA-256 of the bytes, as 64 lower-case hexadecimal digits (Windows' own
// provider); empty when the platform cannot compute it.
std::wstring Sha256(const std::string& bytes) {
  HCRYPTPROV provider = 0;
  if (!CryptAcquireContextW(&provider, nullptr, nullptr, PROV_RSA_AES, CRYPT_VERIFYCONTEXT)) return L"";
  std::wstring out;
  HCRYPTHASH hash = 0;
  if (CryptCreateHash(provider, CALG_SHA_256, 0, 0, &hash)) {
    BYTE digest[kSha256Bytes];
    DWORD size = sizeof digest;
    if (CryptHashData(hash, reinterpret_cast<const BYTE*>(bytes.data()), static_cast<DWORD>(bytes.size()), 0) &&
        CryptGetHashParam(hash, HP_HASHVAL, digest, &size, 0) && size == sizeof digest)
      for (BYTE b : digest) {
        wchar_t pair[3];
        swprintf(pair, 3, L"%02x", b);
        out += pair;
      }
    CryptDestroyHash(hash);
  }
  CryptReleaseContext(provider, 0);
  return out;
}

// The check line of the bytes before it, without its line end.
std::wstring CheckLine(const std::string& before) {
  const std::wstring sha = Sha256(before);
  if (sha.empty()) Refuse(L"the SHA-256 of a backup cannot be computed");
  return kCheck + std::to_wstring(before.size()) + L" bytes, SHA-256 " + sha;
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
// terminating NUL and no NUL, CR or LF inside.
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

std::string Utf16(const std::wstring& text) {
  return std::string(reinterpret_cast<const char*>(text.data()), text.size() * sizeof(wchar_t));
}

// --- Reading -----------------------------------------------------------------

// A physical line and what makes its text unusable, if anything.
struct Raw {
  Line line;
  const wchar_t* problem = nullptr;
};

// The file's lines, without their line ends: UTF-16 text after its byte-order
// mark, or else ANSI text converted with the ANSI code page. A line with a NUL
// or with bytes the code page does not take keeps its problem. The piece after
// the last line end is the last element (empty when the file ends with one).
std::vector<Raw> Lines(const std::string& bytes) {
  std::vector<Raw> lines;
  const auto add = [&](std::wstring text, const wchar_t* problem) {
    if (!text.empty() && text.back() == L'\r') text.pop_back();
    if (!problem && text.find(L'\0') != std::wstring::npos) problem = L"a NUL character";
    lines.push_back({{lines.size() + 1, std::move(text)}, problem});
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

// A product backup (marked on its second line, or holding a check line) is
// read only when its last line holds the length and SHA-256 of all before it.
void CheckWhole(const std::string& bytes, const std::vector<Raw>& lines) {
  const auto isCheck = [](const Raw& r) { return r.line.text.rfind(kCheck, 0) == 0; };
  const bool product = (lines.size() > 1 && lines[1].line.text == kMarker) || std::any_of(lines.begin(), lines.end(), isCheck);
  if (!product) return;
  const std::wstring damaged = L"a backup of the product's that was cut short or changed (its last line's check fails)";
  // The last element is the empty piece after the final line end.
  if (lines.size() < 3 || !isCheck(lines[lines.size() - 2]) || bytes[0] != '\xFF') Refuse(damaged);
  const std::wstring& last = lines[lines.size() - 2].line.text;
  const size_t lastBytes = (last.size() + 2) * sizeof(wchar_t);  // with its CR LF
  if (bytes.size() < lastBytes || bytes.compare(bytes.size() - 4, 4, std::string("\r\0\n\0", 4)) != 0)
    Refuse(damaged);
  const std::string before = bytes.substr(0, bytes.size() - lastBytes);
  if (last != CheckLine(before)) Refuse(damaged);
}

// Reads a quoted text at `at`, with its escapes; false when there is none or
// it does not end on the line. An unknown escape is refused.
bool ReadQuoted(const Line& line, size_t& at, std::wstring& out) {
  const std::wstring& t = line.text;
  if (at >= t.size() || t[at] != L'"') return false;
  for (++at; at < t.size(); ++at) {
    wchar_t c = t[at];
    if (c == L'"') return ++at, true;
    if (c == L'\\') {
      if (++at == t.size()) return false;
      switch (t[at]) {
        case L'\\': case L'"': c = t[at]; break;
        case L'r': c = L'\r'; break;
        case L'n': c = L'\n'; break;
        case L'0': c = L'\0'; break;
        default: RefuseLine(L"an unknown escape \"\\" + std::wstring(1, t[at]) + L"\" in a quoted text", line);
      }
    }
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

// Bytes of two hexadecimal digits each, a comma between two bytes; no text is no bytes.
std::vector<BYTE> ReadHex(const std::wstring& text, const Line& line) {
  std::vector<BYTE> data;
  for (size_t at = 0, end = 0; at < text.size(); at = end + 1) {
    end = text.find(L',', at);
    const std::wstring digits = text.substr(at, end == std::wstring::npos ? end : end - at);
    if (end == text.size() - 1) RefuseLine(L"a dangling comma in hexadecimal data", line);
    if (digits.size() == 1) RefuseLine(L"a hexadecimal byte of one digit", line);
    const auto b = digits.size() == 2 ? HexNumber(digits, 2) : std::nullopt;
    if (!b) RefuseLine(L"bad hexadecimal data", line);
    data.push_back(static_cast<BYTE>(*b));
    if (end == std::wstring::npos) break;
  }
  return data;
}

// Where a value line's data starts (after its name and "="); npos when the name cannot be read.
size_t DataStart(const Line& line, std::wstring* name) {
  size_t at = 0;
  std::wstring ignored;
  if (!line.text.empty() && line.text[0] == L'@') at = 1;
  else if (!ReadQuoted(line, at, name ? *name : ignored)) return std::wstring::npos;
  return at;
}

Value ParseValue(const Line& line) {
  const std::wstring& t = line.text;
  Value v;
  size_t at = DataStart(line, &v.name);
  if (at == std::wstring::npos) RefuseLine(L"a value line without a name", line);
  if (v.name.size() > kMaxValueName) RefuseLine(L"a value name longer than the registry takes", line);
  if (at >= t.size() || t[at++] != L'=') RefuseLine(L"a value line without \"=\"", line);
  const std::wstring data = t.substr(at);
  if (!data.empty() && data[0] == L'"') {
    std::wstring text;
    size_t p = at;
    if (!ReadQuoted(line, p, text) || p != t.size()) RefuseLine(L"an unterminated text", line);
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

// The path a key line names, relative to HKEY_CURRENT_USER.
std::wstring KeyPath(const Line& line) {
  const std::wstring& t = line.text;
  const std::wstring root = std::wstring(kRoot) + L"\\";
  if (t.size() < 2 || t.back() != L']') RefuseLine(L"a key line without its closing \"]\"", line);
  if (t.size() < 1 + root.size() || !SameName(t.substr(1, root.size()), root))
    RefuseLine(L"a key outside HKEY_CURRENT_USER", line);
  const std::wstring path = t.substr(1 + root.size(), t.size() - 2 - root.size());
  for (size_t at = 0, end = 0; end != std::wstring::npos; at = end + 1) {
    end = path.find(L'\\', at);
    const std::wstring part = path.substr(at, end == std::wstring::npos ? end : end - at);
    if (part.empty() || part == L"." || part == L".." || part.size() > kMaxKeyName)
      RefuseLine(L"a key path with an empty, \".\", \"..\" or over-long part", line);
  }
  if (path.size() > kMaxKeyPath)
    RefuseLine(L"a key path longer than the registry takes (" + std::to_wstring(kMaxKeyPath) + L" characters)", line);
  return path;
}

// A hex value's line that goes on on the next one (regedit wraps hex data with a last "\").
bool Continued(const Line& line) {
  const std::wstring& t = line.text;
  if (t.empty() || t[0] == L';' || t[0] == L'[' || t.back() != L'\\') return false;
  size_t at = 0;
  try {
    at = DataStart(line, nullptr);
  } catch (const vb::Error&) {
    return false;  // the value's own reading refuses it
  }
  return at != std::wstring::npos && t.compare(at, 4, L"=hex") == 0;
}

}  // namespace

bool SameName(const std::wstring& a, const std::wstring& b) {
  return CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(), static_cast<int>(b.size()), TRUE) ==
         CSTR_EQUAL;
}

[[noreturn]] void RefuseLine(const std::wstring& why, const Line& line) {
  std::wstring text = line.text.substr(0, kShownLine);
  if (line.text.size() > kShownLine) text += L"...";
  Refuse(why + L" (line " + std::to_wstring(line.number) + L"): " + text);
}

std::wstring Quoted(const std::wstring& text) {
  std::wstring out = L"\"";
  for (wchar_t c : text) {
    switch (c) {
      case L'\\': out += L"\\\\"; break;
      case L'"': out += L"\\\""; break;
      case L'\r': out += L"\\r"; break;
      case L'\n': out += L"\\n"; break;
      case L'\0': out += L"\\0"; break;
      default: out += c;
    }
  }
  return out + L"\"";
}

std::wstring KeyNameProblem(const std::wstring& name) {
  if (name.find_first_of(std::wstring(L"\r\n\0", 3)) != std::wstring::npos)
    return L"a key name holding a CR, LF or NUL, which a key line cannot hold";
  return L"";
}

std::string Write(const std::vector<Key>& keys) {
  std::wstring text = L"\xFEFF" + std::wstring(kHeader) + L"\r\n" + kMarker + L"\r\n";
  for (const Key& k : keys) {
    text += L"\r\n[" + std::wstring(kRoot) + L"\\" + k.path + L"]\r\n";
    for (const Value& v : k.values) text += ValueLine(v) + L"\r\n";
  }
  text += L"\r\n";
  const std::string before = Utf16(text);
  return before + Utf16(CheckLine(before) + L"\r\n");
}

void Read(const std::string& bytes, const std::function<void(const Entry&)>& take) {
  const std::vector<Raw> raw = Lines(bytes);
  if (raw[0].problem) RefuseLine(raw[0].problem, raw[0].line);
  if (raw[0].line.text != kHeader) Refuse(L"not a registry backup (no \"" + std::wstring(kHeader) + L"\" line)");
  if (!raw.back().line.text.empty()) RefuseLine(L"a last line without its line end", raw.back().line);
  CheckWhole(bytes, raw);
  // The last element is the empty piece after the final line end: not a line.
  for (size_t i = 1; i + 1 < raw.size(); ++i) {
    Line line = raw[i].line;
    const wchar_t* problem = raw[i].problem;
    while (!problem && Continued(line)) {
      const Raw& next = raw[++i];
      const size_t start = std::min(next.line.text.find_first_not_of(L' '), next.line.text.size());
      if (i + 1 == raw.size() || start == next.line.text.size() || next.line.text[start] == L';' ||
          next.line.text[start] == L'[')
        RefuseLine(L"a continued hex value that runs into a comment, a key, a blank line or the end of the file",
                   line);
      line.text.pop_back();
      line.text += next.line.text.substr(start);
      problem = next.problem;
    }
    if (problem) RefuseLine(problem, line);
    if (line.text.empty() || line.text[0] == L';') continue;
    Entry e{line};
    if (line.text[0] == L'[') {
      e.isKey = true;
      e.path = KeyPath(line);
    } else {
      e.value = ParseValue(line);
    }
    take(e);
  }
}

}  // namespace tamberlux::RegFile
