// tamberlux log [--json]: the error log the component writes when its error
// reporter could not be had, and with tracing on the failures procedures
// skipped, oldest first (the rotated file, then the current). A line that is
// not a whole report is shown as damaged, escaped, and counted; whether a
// report could be written now is said first.
#include <windows.h>

#include <map>
#include <string>
#include <vector>

#include "Commands.h"
#include "Console.h"
#include "base/ComTypes.h"
#include "base/Text.h"
#include "errortrap/ErrorLog.h"

namespace tamberlux {

using namespace console;

namespace {

// One logged report: its texts and numbers, and its lists of texts.
struct Entry {
  std::map<std::wstring, std::wstring> field;
  std::map<std::wstring, std::vector<std::wstring>> list;
  std::wstring json;
};

// A line that is not a whole report: a writer cut short, bytes that are not
// UTF-8, anything else. Where it is, and its bytes.
struct Damaged {
  std::wstring file;
  size_t line = 0;
  std::string bytes;
};

// Reads the flat objects the log writes: strings, numbers, true and false,
// lists of strings. Anything else on the line, an escape JSON does not have
// (a "\u" without its four hexadecimal digits), a raw control character or a
// missing comma, quote or brace makes the line damaged.
class Reader {
 public:
  explicit Reader(const std::wstring& t) : t_(t) {}
  bool Line(Entry& e) {
    if (!Eat(L'{')) return false;
    if (!Eat(L'}')) {
      do {
        std::wstring key;
        if (!String(key) || !Eat(L':') || !Value(e, key)) return false;
      } while (Eat(L','));
      if (!Eat(L'}')) return false;
    }
    Skip();
    return i_ == t_.size();
  }

 private:
  void Skip() {
    while (i_ < t_.size() && (t_[i_] == L' ' || t_[i_] == L'\t' || t_[i_] == L'\r')) ++i_;
  }
  bool Eat(wchar_t c) {
    Skip();
    if (i_ < t_.size() && t_[i_] == c) return ++i_, true;
    return false;
  }
  bool Value(Entry& e, const std::wstring& key) {
    if (Eat(L'[')) {
      auto& items = e.list[key];
      if (Eat(L']')) return true;
      do {
        std::wstring item;
        if (!String(item)) return false;
        items.push_back(item);
      } while (Eat(L','));
      return Eat(L']');
    }
    Skip();
    if (i_ < t_.size() && t_[i_] == L'"') return String(e.field[key]);
    for (const std::wstring word : {L"true", L"false"})
      if (t_.compare(i_, word.size(), word) == 0) return i_ += word.size(), e.field[key] = word, true;
    const size_t start = i_;
    if (i_ < t_.size() && t_[i_] == L'-') ++i_;
    const size_t digits = i_;
    while (i_ < t_.size() && t_[i_] >= L'0' && t_[i_] <= L'9') ++i_;
    if (i_ == digits) return false;
    e.field[key] = t_.substr(start, i_ - start);
    return true;
  }
  bool String(std::wstring& out) {
    if (!Eat(L'"')) return false;
    while (i_ < t_.size()) {
      wchar_t c = t_[i_++];
      if (c == L'"') return true;
      if (c < 0x20) return false;
      if (c == L'\\') {
        if (i_ == t_.size()) return false;
        switch (c = t_[i_++]) {
          case L'"': case L'\\': case L'/': break;
          case L'b': c = L'\b'; break;
          case L'f': c = L'\f'; break;
          case L'n': c = L'\n'; break;
          case L'r': c = L'\r'; break;
          case L't': c = L'\t'; break;
          case L'u': {
            unsigned code = 0;
            for (int k = 0; k < 4; ++k, ++i_) {
              if (i_ == t_.size() || !iswxdigit(t_[i_]) || t_[i_] > 0x7F) return false;
              code = code * 16 + (iswdigit(t_[i_]) ? t_[i_] - L'0' : (t_[i_] | 0x20) - L'a' + 10);
            }
            c = static_cast<wchar_t>(code);
            break;
          }
          default: return false;
        }
      }
      out += c;
    }
    return false;
  }
  const std::wstring& t_;
  size_t i_ = 0;
};

// The file's bytes; empty when it is missing. Shared, as the component may
// be writing it. `problem` says why a file that is there could not be read.
std::string ReadAll(const std::wstring& path, std::wstring& problem) {
  Handle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                          OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  std::string bytes;
  if (const DWORD error = GetLastError(); !file) {
    if (const DWORD a = GetFileAttributesW(path.c_str()); a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY))
      problem = L"a folder, not a file";
    else if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND)
      problem = L"Windows error " + std::to_wstring(error);
    return bytes;
  }
  char buffer[65536];
  DWORD got = 0;
  while (ReadFile(file.Get(), buffer, sizeof(buffer), &got, nullptr) && got) bytes.append(buffer, got);
  return bytes;
}

// The line's text when it is UTF-8 throughout.
bool Utf8(const std::string& bytes, std::wstring& text) {
  const int n = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, bytes.data(), static_cast<int>(bytes.size()),
                                    nullptr, 0);
  if (n <= 0) return false;
  text.resize(n);
  MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, bytes.data(), static_cast<int>(bytes.size()), text.data(), n);
  return true;
}

struct Log {
  std::vector<Entry> entries;
  std::vector<Damaged> damaged;
  std::vector<bool> order;  // each line in turn: true for a report, false for a damaged line
  std::vector<std::wstring> unreadable;  // "errors.log (Windows error 32)"
};

// Both files, oldest first. Empty lines are skipped; a line that is not a
// whole report (with its time, procedure and number) is kept as damaged.
Log ReadLog(const std::wstring& path) {
  Log log;
  for (const std::wstring& file : {path + L".1", path}) {
    const std::wstring name = file.substr(file.rfind(L'\\') + 1);
    std::wstring problem;
    const std::string bytes = ReadAll(file, problem);
    if (!problem.empty()) log.unreadable.push_back(name + L" (" + problem + L")");
    size_t number = 0;
    for (size_t at = 0; at < bytes.size();) {
      size_t end = bytes.find('\n', at);
      if (end == std::string::npos) end = bytes.size();
      std::string line = bytes.substr(at, end - at);
      at = end + 1, ++number;
      if (!line.empty() && line.back() == '\r') line.pop_back();
      if (line.empty()) continue;
      Entry e;
      if (Utf8(line, e.json) && Reader(e.json).Line(e) && e.field.count(L"time") && e.field.count(L"procedure") &&
          e.field.count(L"number")) {
        log.entries.push_back(std::move(e));
        log.order.push_back(true);
      } else {
        log.damaged.push_back({name, number, std::move(line)});
        log.order.push_back(false);
      }
    }
  }
  return log;
}

constexpr size_t kShownBytes = 200;

// A damaged line's first bytes as text: printable ASCII as it is, every other
// byte as \xNN.
std::wstring EscapedBytes(const std::string& bytes) {
  std::wstring oneCharPerByte;
  for (size_t i = 0; i < bytes.size() && i < kShownBytes; ++i)
    oneCharPerByte += static_cast<wchar_t>(static_cast<unsigned char>(bytes[i]));
  return Escaped(oneCharPerByte, EscapeForm::kBytes);
}

std::wstring Counted(size_t n, const wchar_t* one, const wchar_t* many) {
  return std::to_wstring(n) + L" " + (n == 1 ? one : many);
}

std::wstring Joined(const std::vector<std::wstring>& items, const wchar_t* separator) {
  std::wstring out;
  for (size_t i = 0; i < items.size(); ++i) out += (i ? separator : L"") + Shown(items[i]);
  return out;
}

}  // namespace

int LogCommand(bool json) {
  const std::wstring path = vbw::ErrorLog::Path();
  const std::wstring problem = vbw::ErrorLog::WriteProblem();
  Log log = ReadLog(path);
  if (json) {
    std::wstring out = L"{\"path\": " + Json(path) + L", \"writable\": " + (problem.empty() ? L"true" : L"false") +
                       L", \"problem\": " + Json(problem) + L", \"entries\": [";
    for (size_t i = 0; i < log.entries.size(); ++i) out += (i ? L",\n  " : L"\n  ") + log.entries[i].json;
    out += L"],\n \"unreadable\": [";
    for (size_t i = 0; i < log.unreadable.size(); ++i) out += (i ? L", " : L"") + Json(log.unreadable[i]);
    out += L"],\n \"damaged\": [";
    for (size_t i = 0; i < log.damaged.size(); ++i) {
      const Damaged& d = log.damaged[i];
      out += (i ? L",\n  " : L"\n  ") + std::wstring(L"{\"file\": ") + Json(d.file) + L", \"line\": " +
             std::to_wstring(d.line) + L", \"bytes\": " + std::to_wstring(d.bytes.size()) + L", \"text\": " +
             Json(EscapedBytes(d.bytes)) + L"}";
    }
    Print(out + L"]}\n");
    return kDone;
  }
  if (!problem.empty())
    Print(L"The error log cannot be written: " + problem + L"; a report the error reporter cannot take is lost.\n");
  for (const std::wstring& file : log.unreadable)
    Print(L"The error log cannot be read: " + file + L"; its reports are not shown.\n");
  if (log.order.empty()) {
    Print(L"No errors logged (" + Shown(path) + L").\n");
    return kDone;
  }
  Print(Shown(path) + L": " + Counted(log.entries.size(), L"report", L"reports") +
        (log.damaged.empty() ? L"" : L" and " + Counted(log.damaged.size(), L"damaged line", L"damaged lines")) +
        L", oldest first\n");
  auto entry = log.entries.begin();
  auto damaged = log.damaged.cbegin();
  for (const bool report : log.order) {
    if (!report) {
      const Damaged& d = *damaged++;
      Print(L"\ndamaged line " + std::to_wstring(d.line) + L" of " + Shown(d.file) + L" (" +
            Counted(d.bytes.size(), L"byte", L"bytes") + L", not a whole report" +
            (d.bytes.size() > kShownBytes ? L"; its first 200 shown" : L"") + L"):\n  " + EscapedBytes(d.bytes) + L"\n");
      continue;
    }
    Entry& e = *entry++;
    const std::wstring where = L"\n" + Shown(e.field[L"time"]) + L"  process " + Shown(e.field[L"process"]) + L"  " +
                               Shown(e.field[L"project"]) + L"." + Shown(e.field[L"module"]) + L"." +
                               Shown(e.field[L"procedure"]) + L", line " + Shown(e.field[L"line"]);
    const std::wstring error = L"error " + Shown(e.field[L"number"]) + L": " + Shown(e.field[L"description"]);
    const std::wstring stack = L"\n  call stack: " + Joined(e.list[L"stack"], L" > ") + L"\n";
    // A failure its procedure skipped, traced: no reporter was asked.
    if (e.field[L"ignored"] == L"true") {
      Print(where + L"\n  ignored " + error + stack);
      continue;
    }
    Print(where + L"\n  " + error + L"\n  not reported: " + Shown(e.field[L"reporter"]) + stack +
          L"  parameters: " + Joined(e.list[L"parameters"], L", ") + L"\n");
    if (!e.list[L"dump"].empty()) Print(L"  dump: " + Joined(e.list[L"dump"], L", ") + L"\n");
  }
  return kDone;
}

}  // namespace tamberlux
