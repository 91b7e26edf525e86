#include "errortrap/ErrorLog.h"

#include <windows.h>
#include <shlobj.h>

#include <cwchar>

#include "base/ComTypes.h"
#include "base/Text.h"

namespace tamberlux::vbw::ErrorLog {

namespace {

std::wstring JsonArray(const std::vector<std::wstring>& items) {
  std::wstring out = L"[";
  for (size_t i = 0; i < items.size(); ++i) out += (i ? L", " : L"") + JsonString(items[i]);
  return out + L"]";
}

std::wstring Now() {
  SYSTEMTIME t;
  GetSystemTime(&t);
  wchar_t text[32];
  swprintf(text, 32, L"%04u-%02u-%02uT%02u:%02u:%02uZ", t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond);
  return text;
}

// The writers' lock, held from a successful wait to the end of its scope,
// whatever way the scope is left.
using HeldMutex = Unique<HANDLE, &ReleaseMutex>;

HeldMutex Hold(HANDLE mutex) {
  if (!mutex) return {};
  const DWORD got = WaitForSingleObject(mutex, kLockWaitMs);
  return HeldMutex(got == WAIT_OBJECT_0 || got == WAIT_ABANDONED ? mutex : nullptr);
}

// Whether the file is empty or its last byte ends a line; false when it
// cannot be read.
bool EndsALine(HANDLE file) {
  LARGE_INTEGER size{};
  if (!GetFileSizeEx(file, &size)) return false;
  if (size.QuadPart == 0) return true;
  LARGE_INTEGER last{};
  last.QuadPart = size.QuadPart - 1;
  char byte = 0;
  DWORD got = 0;
  return SetFilePointerEx(file, last, nullptr, FILE_BEGIN) && ReadFile(file, &byte, 1, &got, nullptr) && got == 1 &&
         byte == '\n';
}

std::wstring WindowsError(const wchar_t* what) {
  return std::wstring(what) + L" (Windows error " + std::to_wstring(GetLastError()) + L")";
}

}  // namespace

std::wstring Folder() {
  wchar_t base[MAX_PATH] = {};
  if (FAILED(SHGetFolderPathW(nullptr, CSIDL_LOCAL_APPDATA | CSIDL_FLAG_CREATE, nullptr, SHGFP_TYPE_CURRENT, base)))
    return {};
  std::wstring folder = std::wstring(base) + L"\\Valdomeren";
  CreateDirectoryW(folder.c_str(), nullptr);
  folder += L"\\Tamberlux";
  CreateDirectoryW(folder.c_str(), nullptr);
  return folder + L"\\";
}

std::wstring Path() {
  const std::wstring folder = Folder();
  return folder.empty() ? folder : folder + L"errors.log";
}

std::wstring ToJson(const Report& r) {
  return L"{\"time\": " + JsonString(Now()) + L", \"process\": " + std::to_wstring(GetCurrentProcessId()) +
         L", \"project\": " + JsonString(r.project) + L", \"module\": " + JsonString(r.module) +
         L", \"procedure\": " + JsonString(r.procedure) + L", \"number\": " + std::to_wstring(r.number) +
         L", \"description\": " + JsonString(r.description) + L", \"line\": " + std::to_wstring(r.line) +
         L", \"stack\": " + JsonArray(r.stack) + L", \"parameters\": " + JsonArray(r.parameters) +
         L", \"dump\": " + JsonArray(r.dump) + L", \"reporter\": " + JsonString(r.reporter) +
         (r.ignored ? L", \"ignored\": true}" : L"}");
}

void Write(const Report& report) noexcept {
  try {
    const std::wstring path = Path();
    if (path.empty()) return;
    std::string line = ToUtf8(ToJson(report)) + "\r\n";
    // Another process may write at the same moment: a named mutex per user
    // keeps rotation and append whole.
    const Handle lock(CreateMutexW(nullptr, FALSE, L"Local\\Tamberlux.errors.log"));
    const HeldMutex held = Hold(lock.Get());
    WIN32_FILE_ATTRIBUTE_DATA info;
    if (GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &info) &&
        ((uint64_t(info.nFileSizeHigh) << 32) | info.nFileSizeLow) + line.size() > kMaxBytes)
      MoveFileExW(path.c_str(), (path + L".1").c_str(), MOVEFILE_REPLACE_EXISTING);
    const Handle file(CreateFileW(path.c_str(), FILE_READ_DATA | FILE_APPEND_DATA,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return;
    // A line a writer that died left torn stays what it is; this report starts its own.
    if (!EndsALine(file.Get())) line.insert(0, "\r\n");
    DWORD written = 0;
    WriteFile(file.Get(), line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
  } catch (...) {
    // The log never fails the caller.
  }
}

std::wstring WriteProblem() {
  const std::wstring folder = Folder();
  if (folder.empty()) return L"there is no local application data folder";
  const std::wstring path = folder + L"errors.log";
  const DWORD attributes = GetFileAttributesW(path.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY))
    return L"its path is taken by a folder";
  if (attributes != INVALID_FILE_ATTRIBUTES) {
    const Handle file(CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    return file ? L"" : WindowsError(L"the file cannot be opened for writing");
  }
  // No log yet: a file of another name, gone when closed, tells whether the folder takes one.
  const Handle probe(CreateFileW((path + L".probe").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                 FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr));
  return probe || GetLastError() == ERROR_FILE_EXISTS ? L"" : WindowsError(L"its folder takes no new file");
}

}  // namespace tamberlux::vbw::ErrorLog
