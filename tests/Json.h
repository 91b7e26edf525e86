// A small JSON reader for checking the command's output. A parse error throws.
#pragma once

#include <map>
#include <stdexcept>
#include <string>
#include <vector>

namespace tamberlux::test {

struct JsonValue {
  enum Kind { kNull, kBool, kNumber, kString, kArray, kObject } kind = kNull;
  bool boolean = false;
  double number = 0;
  std::wstring text;
  std::vector<JsonValue> items;
  std::map<std::wstring, JsonValue> members;

  const JsonValue& operator[](const std::wstring& key) const { return members.at(key); }
  const JsonValue& operator[](size_t i) const { return items.at(i); }
  bool IsNull() const { return kind == kNull; }

  static JsonValue Parse(const std::wstring& s) {
    size_t at = 0;
    JsonValue v = Read(s, at);
    if (s.find_first_not_of(L" \r\n\t", at) != std::wstring::npos) throw std::runtime_error("trailing text");
    return v;
  }

 private:
  static wchar_t Next(const std::wstring& s, size_t& at) {
    at = s.find_first_not_of(L" \r\n\t", at);
    if (at == std::wstring::npos) throw std::runtime_error("unexpected end");
    return s[at];
  }
  static std::wstring String(const std::wstring& s, size_t& at) {
    std::wstring out;
    for (++at; at < s.size() && s[at] != L'"'; ++at) {
      if (s[at] != L'\\') {
        out += s[at];
        continue;
      }
      const wchar_t e = s.at(++at);
      if (e == L'u') out += static_cast<wchar_t>(std::stoi(s.substr(at + 1, 4), nullptr, 16)), at += 4;
      else out += e == L'n' ? L'\n' : e == L'r' ? L'\r' : e == L't' ? L'\t' : e;
    }
    if (at++ >= s.size()) throw std::runtime_error("unterminated string");
    return out;
  }
  static JsonValue Read(const std::wstring& s, size_t& at) {
    JsonValue v;
    const wchar_t c = Next(s, at);
    if (c == L'"') {
      v.kind = kString;
      v.text = String(s, at);
    } else if (c == L'{' || c == L'[') {
      v.kind = c == L'{' ? kObject : kArray;
      const wchar_t close = c == L'{' ? L'}' : L']';
      ++at;
      if (Next(s, at) == close) return ++at, v;
      for (;;) {
        if (v.kind == kArray) {
          v.items.push_back(Read(s, at));
        } else {
          if (Next(s, at) != L'"') throw std::runtime_error("key expected");
          std::wstring key = String(s, at);
          if (Next(s, at) != L':') throw std::runtime_error("colon expected");
          v.members[key] = Read(s, ++at);
        }
        const wchar_t after = Next(s, at);
        ++at;
        if (after == close) return v;
        if (after != L',') throw std::runtime_error("comma expected");
      }
    } else if (s.compare(at, 4, L"true") == 0 || s.compare(at, 5, L"false") == 0) {
      v.kind = kBool;
      v.boolean = c == L't';
      at += v.boolean ? 4 : 5;
    } else if (s.compare(at, 4, L"null") == 0) {
      at += 4;
    } else {
      size_t used = 0;
      v.kind = kNumber;
      v.number = std::stod(s.substr(at), &used);
      at += used;
    }
    return v;
  }
};

}  // namespace tamberlux::test
