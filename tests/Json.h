// A small JSON reader for checking the command's output: objects, arrays,
// strings, numbers, true, false and null. A parse error throws.
#pragma once

#include <map>
#include <memory>
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

  const JsonValue& operator[](const std::wstring& key) const {
    auto it = members.find(key);
    if (kind != kObject || it == members.end()) throw std::out_of_range("no member");
    return it->second;
  }
  const JsonValue& operator[](size_t i) const { return items.at(i); }
  bool IsNull() const { return kind == kNull; }
};

class JsonReader {
 public:
  static JsonValue Parse(const std::wstring& text) {
    JsonReader r(text);
    JsonValue v = r.Value();
    r.Space();
    if (r.at_ != text.size()) throw std::runtime_error("trailing text");
    return v;
  }

 private:
  explicit JsonReader(const std::wstring& text) : s_(text) {}
  void Space() {
    while (at_ < s_.size() && (s_[at_] == L' ' || s_[at_] == L'\n' || s_[at_] == L'\r' || s_[at_] == L'\t')) ++at_;
  }
  void Expect(wchar_t c) {
    Space();
    if (at_ >= s_.size() || s_[at_] != c) throw std::runtime_error("unexpected character");
    ++at_;
  }
  bool Word(const wchar_t* w) {
    const std::wstring word = w;
    if (s_.compare(at_, word.size(), word) != 0) return false;
    at_ += word.size();
    return true;
  }
  std::wstring String() {
    Expect(L'"');
    std::wstring out;
    while (at_ < s_.size() && s_[at_] != L'"') {
      wchar_t c = s_[at_++];
      if (c == L'\\') {
        if (at_ >= s_.size()) break;
        const wchar_t e = s_[at_++];
        if (e == L'n') c = L'\n';
        else if (e == L'r') c = L'\r';
        else if (e == L't') c = L'\t';
        else if (e == L'u') {
          c = static_cast<wchar_t>(std::stoi(s_.substr(at_, 4), nullptr, 16));
          at_ += 4;
        } else c = e;
      }
      out += c;
    }
    Expect(L'"');
    return out;
  }
  JsonValue Value() {
    Space();
    JsonValue v;
    if (at_ >= s_.size()) throw std::runtime_error("unexpected end");
    const wchar_t c = s_[at_];
    if (c == L'"') {
      v.kind = JsonValue::kString;
      v.text = String();
    } else if (c == L'{') {
      v.kind = JsonValue::kObject;
      ++at_;
      Space();
      if (s_[at_] == L'}') return ++at_, v;
      do {
        std::wstring key = String();
        Expect(L':');
        v.members[key] = Value();
        Space();
      } while (at_ < s_.size() && s_[at_] == L',' && ++at_);
      Expect(L'}');
    } else if (c == L'[') {
      v.kind = JsonValue::kArray;
      ++at_;
      Space();
      if (s_[at_] == L']') return ++at_, v;
      do {
        v.items.push_back(Value());
        Space();
      } while (at_ < s_.size() && s_[at_] == L',' && ++at_);
      Expect(L']');
    } else if (Word(L"true") || Word(L"false")) {
      v.kind = JsonValue::kBool;
      v.boolean = s_[at_ - 1] == L'e' && s_[at_ - 2] == L'u';
    } else if (Word(L"null")) {
      v.kind = JsonValue::kNull;
    } else {
      size_t used = 0;
      v.kind = JsonValue::kNumber;
      v.number = std::stod(s_.substr(at_), &used);
      at_ += used;
    }
    return v;
  }

  const std::wstring& s_;
  size_t at_ = 0;
};

}  // namespace tamberlux::test
