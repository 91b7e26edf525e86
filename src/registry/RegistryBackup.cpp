#include "registry/RegistryBackup.h"

#include <algorithm>
#include <cstring>
#include <cwchar>
#include <utility>

#include "base/ComTypes.h"
#include "base/RegistryDoor.h"
#include "base/Text.h"
#include "base/VbError.h"
#include "errortrap/ErrorLog.h"
#include "registry/RegFile.h"
#include "registry/WordKeys.h"

namespace tamberlux::RegistryBackup {

namespace {

constexpr wchar_t kPattern[] = L"Backup-*.reg";

using RegFile::Key;
using RegFile::Line;
using RegFile::RefuseLine;
using RegFile::Value;

[[noreturn]] void Refuse(const std::wstring& why) { vb::Raise(vb::kInvalidCall, why); }

bool Same(const std::wstring& a, const std::wstring& b) { return RegFile::SameName(a, b); }
bool StartsWith(const std::wstring& text, const std::wstring& start) {
  return text.size() >= start.size() && Same(text.substr(0, start.size()), start);
}

// The values of an open key in index order.
std::vector<Value> Values(HKEY key, const std::wstring& path) {
  std::vector<Value> values;
  for (DWORD i = 0;; ++i) {
    Value v;
    RegistryDoor::Value data;
    const LONG rc = RegistryDoor::ValueAt(key, i, v.name, data);
    if (rc == ERROR_NO_MORE_ITEMS) break;
    if (rc != ERROR_SUCCESS) Refuse(L"a value of " + path + L" cannot be read (error " + std::to_wstring(rc) + L")");
    v.type = data.type;
    v.data = std::move(data.data);
    values.push_back(std::move(v));
  }
  return values;
}

// The key and every key below it, depth first (a key before its sub-keys, in
// index order), values in index order. Without recursion, each key opened
// from its parent's handle: any depth and any path length the registry holds.
// Nothing when the key is missing.
std::optional<std::vector<Key>> Walk(const std::wstring& path) {
  struct Open {
    RegKey key;
    std::wstring path;
    DWORD next = 0;
  };
  std::vector<Key> keys;
  std::vector<Open> open;
  const auto enter = [&](HKEY parent, const std::wstring& sub, std::wstring full) {
    Open o{{}, std::move(full), 0};
    if (const LONG rc = RegistryDoor::Open(parent, sub, KEY_READ, o.key); rc != ERROR_SUCCESS) {
      if (rc == ERROR_FILE_NOT_FOUND && open.empty()) return false;
      Refuse(L"the key " + o.path + L" cannot be read (error " + std::to_wstring(rc) + L")");
    }
    keys.push_back({o.path, Values(o.key.Get(), o.path)});
    open.push_back(std::move(o));
    return true;
  };
  if (path.empty() || path.find(L'\0') != std::wstring::npos || !enter(HKEY_CURRENT_USER, path, path))
    return std::nullopt;
  while (!open.empty()) {
    Open& top = open.back();
    std::wstring sub;
    const LONG rc = RegistryDoor::SubkeyAt(top.key.Get(), top.next++, sub);
    if (rc == ERROR_NO_MORE_ITEMS) {
      open.pop_back();
      continue;
    }
    if (rc != ERROR_SUCCESS)
      Refuse(L"a sub-key of " + top.path + L" cannot be read (error " + std::to_wstring(rc) + L")");
    const std::wstring full = top.path + L"\\" + sub;
    if (const std::wstring problem = RegFile::KeyNameProblem(sub); !problem.empty())
      Refuse(L"the key " + full + L" cannot be backed up: " + problem);
    enter(top.key.Get(), sub, full);
  }
  return keys;
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

// The key a key line names, relative to HKEY_CURRENT_USER, when a backup can
// hold it: Word's Data key for a version of Word's shape or a key below it,
// or the product's settings section (`section`). Refused otherwise.
std::wstring KeyPath(const Line& line, const std::wstring& path, bool& section) {
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

// Every key and value of a .reg file's bytes, the whole file checked;
// refused at its first offending line.
std::vector<Key> Parse(const std::string& bytes) {
  std::vector<Key> keys;
  bool section = false;
  RegFile::Read(bytes, [&](const RegFile::Entry& e) {
    if (e.isKey) return keys.push_back({KeyPath(e.line, e.path, section), {}});
    if (keys.empty()) RefuseLine(L"a value before any key", e.line);
    if (e.value.name.find(L'\0') != std::wstring::npos) RefuseLine(L"a value name holding a NUL, which Windows does not write", e.line);
    if (section && std::none_of(std::begin(WordKeys::kProductValues), std::end(WordKeys::kProductValues),
                                [&](const wchar_t* name) { return Same(e.value.name, name); }))
      RefuseLine(L"a value the product's settings section does not hold", e.line);
    keys.back().values.push_back(e.value);
  });
  return keys;
}

std::wstring Folder() {
  const std::wstring folder = vbw::ErrorLog::Folder();
  if (folder.empty()) Refuse(L"there is no local application data folder");
  return folder;
}

// The file's bytes written whole or not at all: to a ".partial" file first, then renamed.
void WriteWhole(const std::wstring& file, const std::string& bytes) {
  const std::wstring partial = file + L".partial";
  const std::wstring failed = L"the backup " + file + L" cannot be written";
  {
    Handle out(CreateFileW(partial.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!out) Refuse(failed);
    DWORD written = 0;
    if (!WriteFile(out.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) ||
        written != bytes.size() || !FlushFileBuffers(out.Get())) {
      out.Reset();
      DeleteFileW(partial.c_str());
      Refuse(failed);
    }
  }
  if (!MoveFileExW(partial.c_str(), file.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    DeleteFileW(partial.c_str());
    Refuse(failed);
  }
}

}  // namespace

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
  const auto keys = Walk(path);
  if (!keys) return std::nullopt;
  const std::string bytes = RegFile::Write(*keys);
  if (bytes.size() > kMaxFileBytes)
    Refuse(L"the backup of " + path + L" would be larger than a restore reads (" + std::to_wstring(kMaxFileBytes) +
           L" bytes)");
  // Named by the time in 100 ns steps, so names sort oldest first.
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  wchar_t stamp[32];
  swprintf(stamp, 32, L"%08lX%08lX", static_cast<unsigned long>(now.dwHighDateTime),
           static_cast<unsigned long>(now.dwLowDateTime));
  const std::wstring file = Folder() + L"Backup-" + stamp + L"-" + label + L".reg";
  WriteWhole(file, bytes);
  try {
    Verify(file, path);
  } catch (const vb::Error&) {
    DeleteFileW(file.c_str());
    throw;
  }
  auto all = Backups();
  for (size_t i = 0; i + kKept < all.size(); ++i) DeleteFileW(all[i].c_str());
  return file;
}

void Verify(const std::wstring& file, const std::wstring& path) {
  std::wstring why;
  try {
    const std::vector<Key> saved = Parse(FileBytes(file));
    if (saved != Walk(path)) why = L"it does not hold what the key holds now";
  } catch (const vb::Error& e) {
    why = e.description;
  }
  if (!why.empty()) Refuse(L"the backup of " + path + L" does not read back as the key: " + why);
}

std::vector<std::wstring> Restore(const std::wstring& file) {
  const std::vector<Key> keys = Parse(FileBytes(file));

  std::vector<std::wstring> changes;
  for (const Key& k : keys) {
    RegKey key;
    bool created = false;
    if (const LONG rc = RegistryDoor::Create(HKEY_CURRENT_USER, k.path, KEY_WRITE, key, &created))
      vb::Raise(kNotWritten, RegistryDoor::Failure(HKEY_CURRENT_USER, k.path, nullptr, rc));
    if (created) changes.push_back(L"created key HKEY_CURRENT_USER\\" + k.path);
    for (const Value& v : k.values) {
      // The door keeps the bytes exactly as saved (no terminator added to text data).
      if (const LONG rc = RegistryDoor::Set(key.Get(), v.name, v.type, v.data.data(), static_cast<DWORD>(v.data.size())))
        vb::Raise(kNotWritten, RegistryDoor::Failure(HKEY_CURRENT_USER, k.path, &v.name, rc));
      changes.push_back(L"wrote value " + (v.name.empty() ? std::wstring(L"(default)") : RegFile::Quoted(v.name)) + L" of " +
                        k.path);
    }
  }
  return changes;
}

}  // namespace tamberlux::RegistryBackup
