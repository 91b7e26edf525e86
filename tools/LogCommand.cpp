// tamberlux log [--json]: the error log the component writes when its error
// reporter could not be had, and with tracing on the failures procedures
// skipped, oldest first (the rotated file, then the current).
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

// Reads the flat objects the log writes: strings, numbers, lists of strings.
class Reader {
 public:
  explicit Reader(const std::wstring& t) : t_(t) {}
  bool Object(Entry& e) {
    if (!Eat(L'{')) return false;
    while (!Eat(L'}')) {
      std::wstring key;
      if (!String(key) || !Eat(L':')) return false;
      Skip();
      if (i_ < t_.size() && t_[i_] == L'[') {
        ++i_;
        auto& items = e.list[key];
        while (!Eat(L']')) {
          std::wstring item;
          if (!String(item)) return false;
          items.push_back(item);
          Eat(L',');
        }
      } else if (i_ < t_.size() && t_[i_] == L'"') {
        if (!String(e.field[key])) return false;
      } else {
        const size_t start = i_;
        while (i_ < t_.size() && (iswalnum(t_[i_]) || t_[i_] == L'-')) ++i_;  // a number, true or false
        if (start == i_) return false;
        e.field[key] = t_.substr(start, i_ - start);
      }
      Eat(L',');
    }
    return true;
  }

 private:
  void Skip() {
    while (i_ < t_.size() && iswspace(t_[i_])) ++i_;
  }
  bool Eat(wchar_t c) {
    Skip();
    if (i_ < t_.size() && t_[i_] == c) return ++i_, true;
    return false;
  }
  bool String(std::wstring& out) {
    if (!Eat(L'"')) return false;
    for (; i_ < t_.size(); ++i_) {
      wchar_t c = t_[i_];
      if (c == L'"') return ++i_, true;
      if (c == L'\\' && i_ + 1 < t_.size()) {
        c = t_[++i_];
        if (c == L'n') c = L'\n';
        else if (c == L'r') c = L'\r';
        else if (c == L't') c = L'\t';
        else if (c == L'u' && i_ + 4 < t_.size()) {
          c = static_cast<wchar_t>(std::stoul(t_.substr(i_ + 1, 4), nullptr, 16));
          i_ += 4;
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
// be writing it.
std::string ReadAll(const std::wstring& path) {
  Handle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                          OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  std::string bytes;
  if (!file) return bytes;
  char buffer[65536];
  DWORD got = 0;
  while (ReadFile(file.Get(), buffer, sizeof(buffer), &got, nullptr) && got) bytes.append(buffer, got);
  return bytes;
}

std::vector<Entry> ReadLog(const std::wstring& path) {
  std::vector<Entry> entries;
  for (const std::wstring& file : {path + L".1", path}) {
    const std::string bytes = ReadAll(file);
    for (size_t start = 0; start < bytes.size();) {
      size_t end = bytes.find('\n', start);
      if (end == std::string::npos) end = bytes.size();
      std::string line = bytes.substr(start, end - start);
      start = end + 1;
      if (!line.empty() && line.back() == '\r') line.pop_back();
      Entry e;
      e.json = FromUtf8(line);
      if (!e.json.empty() && Reader(e.json).Object(e)) entries.push_back(e);
    }
  }
  return entries;
}

std::wstring Joined(const std::vector<std::wstring>& items, const wchar_t* separator) {
  std::wstring out;
  for (size_t i = 0; i < items.size(); ++i) out += (i ? separator : L"") + Shown(items[i]);
  return out;
}

}  // namespace

std::vector<std::wstring> RefusalsSince(size_t count, const std::wstring& procedure) {
  std::vector<std::wstring> found;
  auto entries = ReadLog(vbw::ErrorLog::Path());
  for (size_t i = count; i < entries.size(); ++i) {
    auto& f = entries[i].field;
    if (f[L"procedure"] == procedure && f[L"number"] == L"5" && f[L"ignored"] != L"true" &&
        f[L"process"] == std::to_wstring(GetCurrentProcessId()))
      found.push_back(f[L"description"]);
  }
  return found;
}

size_t LoggedCount() { return ReadLog(vbw::ErrorLog::Path()).size(); }

int LogCommand(bool json) {
  const std::wstring path = vbw::ErrorLog::Path();
  auto entries = ReadLog(path);
  if (json) {
    std::wstring out = L"{\"path\": " + Json(path) + L", \"entries\": [";
    for (size_t i = 0; i < entries.size(); ++i) out += (i ? L",\n  " : L"\n  ") + entries[i].json;
    Print(out + L"]}\n");
    return kDone;
  }
  if (entries.empty()) {
    Print(L"No errors logged (" + Shown(path) + L").\n");
    return kDone;
  }
  Print(Shown(path) + L": " + std::to_wstring(entries.size()) + (entries.size() == 1 ? L" report" : L" reports") +
        L", oldest first\n");
  for (auto& e : entries) {
    const std::wstring where = L"\n" + Shown(e.field[L"time"]) + L"  process " + e.field[L"process"] + L"  " +
                               Shown(e.field[L"project"]) + L"." + Shown(e.field[L"module"]) + L"." +
                               Shown(e.field[L"procedure"]) + L", line " + e.field[L"line"];
    const std::wstring error = L"error " + e.field[L"number"] + L": " + Shown(e.field[L"description"]);
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
